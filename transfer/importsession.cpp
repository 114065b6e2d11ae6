#include "importsession.h"

#include "archiveinput.h"
#include "attachmentrepository.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QUuid>

namespace {

constexpr int ProgressIntervalMs = 50;
constexpr int ProblemsShown = 5;
constexpr int BatchNotes = 500;
constexpr qint64 BatchMs = 100;

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("Import", text, nullptr, n);
}

} // namespace

ImportSession::ImportSession(const ImportTarget &target, const ImportProgress &progress)
    : m_target(target), m_progress(progress)
{
    m_timer.start();
    if (!m_target.writer || !m_target.notes || !m_target.notebooks || !m_target.attachments)
        return;
    const QString attachments = m_target.attachments->directory();
    QDir().mkpath(attachments);
    m_staging = std::make_unique<QTemporaryDir>(
        QDir(attachments).filePath(QStringLiteral("../.import-XXXXXX")));
    // Views refresh once, when the import ends, not after every one of thousands of notes.
    m_target.notes->beginBatch();
    m_target.notebooks->beginBatch();
}

ImportSession::~ImportSession()
{
    if (!m_staging)
        return;
    m_target.notebooks->endBatch(true);
    m_target.notes->endBatch(true);
}

bool ImportSession::isReady() const
{
    return m_staging && m_staging->isValid();
}

void ImportSession::report(int current, int total, const QString &text)
{
    if (!m_progress)
        return;
    // The start of a step (current 0) and its end always show; steps between at most every
    // ProgressIntervalMs, as each report may repaint a window.
    const bool edge = current == 0 || (total > 0 && current >= total);
    if (m_reported && !edge && m_timer.elapsed() < ProgressIntervalMs)
        return;
    m_reported = true;
    m_timer.restart();
    m_progress(current, total, text);
}

QString ImportSession::stageMember(ArchiveInput &input, QString *error)
{
    // Staged files are numbered: a member's own name never becomes a path.
    const QString path = m_staging->filePath(QString::number(++m_staged));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file.errorString();
        return QString();
    }
    const ArchiveInput::Read read = input.copyTo(&file);
    if (read != ArchiveInput::Read::Ok || !file.flush()) {
        *error = read == ArchiveInput::Read::WriteFailed ? file.errorString() : input.errorString();
        file.remove();
        return QString();
    }
    return path;
}

bool ImportSession::storeNotebooks(const QList<Notebook> &notebooks)
{
    if (notebooks.isEmpty())
        return true;
    return m_target.writer->inTransaction([&] {
        for (const Notebook &notebook : notebooks) {
            if (!m_target.writer->insertRestoredNotebook(notebook))
                return false;
        }
        return true;
    });
}

bool ImportSession::storeNote(const PreparedNote &prepared, QStringList &placed)
{
    AttachmentRepository *store = m_target.attachments;
    QStringList written;
    const bool stored = m_target.writer->inSavepoint([&] {
        if (!m_target.writer->insertNotes({ prepared.note }))
            return false;
        QDir().mkpath(store->directory());
        for (const StagedAttachment &attachment : prepared.attachments) {
            const QString destination = store->filePath(attachment.record.id);
            if (destination.isEmpty() || !QFile::copy(attachment.stagedPath, destination)) {
                qWarning().noquote()
                    << "import: can't place the attachment" << attachment.record.filename;
                return false;
            }
            written.append(destination);
            if (!store->insert(attachment.record))
                return false;
        }
        return true;
    });
    if (!stored) {
        for (const QString &path : std::as_const(written))
            QFile::remove(path);
        return false;
    }
    placed += written;
    return true;
}

void ImportSession::storeNotes(
    int count, const std::function<std::optional<PreparedNote>(int)> &prepare, ImportResult &result)
{
    int next = 0;
    while (next < count) {
        const int first = next;
        QElapsedTimer clock;
        clock.start();
        int imported = 0;
        int attachments = 0;
        QStringList placed;
        QString lastTitle;
        const bool committed = m_target.writer->inTransaction([&] {
            // A batch ends after a tenth of a second, so the window keeps repainting.
            while (next < count
                && (next == first || (next - first < BatchNotes && clock.elapsed() < BatchMs))) {
                const std::optional<PreparedNote> prepared = prepare(next++);
                if (!prepared)
                    continue;
                lastTitle = prepared->title;
                if (storeNote(*prepared, placed)) {
                    ++imported;
                    attachments += int(prepared->attachments.size());
                } else {
                    ++result.errors;
                    addProblem(tr("The note \"%1\" could not be saved.").arg(prepared->title));
                }
            }
            return true;
        });
        if (committed) {
            result.imported += imported;
            result.attachmentCount += attachments;
        } else {
            for (const QString &path : std::as_const(placed))
                QFile::remove(path);
            result.errors += imported;
            addProblem(tr("%n notes could not be saved.", imported));
        }
        report(next, count,
            tr("Importing: %1").arg(lastTitle.isEmpty() ? tr("(untitled)") : lastTitle));
    }
}

void ImportSession::addProblem(const QString &text)
{
    qWarning().noquote() << "import:" << text;
    m_problems.append(text);
}

void ImportSession::finish(ImportResult &result) const
{
    if (m_problems.isEmpty())
        return;
    QStringList lines = m_problems.mid(0, ProblemsShown);
    if (m_problems.size() > ProblemsShown)
        lines.append(tr("…and %n more.", int(m_problems.size() - ProblemsShown)));
    const QString text = lines.join(QLatin1Char('\n'));
    result.errorMessage
        = result.errorMessage.isEmpty() ? text : result.errorMessage + QLatin1Char('\n') + text;
}

ImportResult importFailure(const QString &message)
{
    ImportResult result;
    result.errors = 1;
    result.errorMessage = message;
    return result;
}

QString cleanAttachmentName(const QString &name, const QString &fallback)
{
    const qsizetype slash
        = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    QString cleaned = name.mid(slash + 1).trimmed();
    static const QString forbidden = QStringLiteral("<>:\"|?*");
    for (QChar &c : cleaned) {
        if (c.unicode() < 0x20 || c.category() == QChar::Other_Control || forbidden.contains(c))
            c = QLatin1Char('_');
    }
    if (cleaned.isEmpty() || cleaned == QLatin1String(".") || cleaned == QLatin1String(".."))
        return fallback;
    return cleaned.left(255);
}

QString newRecordId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}
