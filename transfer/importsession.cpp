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
#include <QMutex>
#include <QThread>
#include <QUuid>
#include <QWaitCondition>

#include <algorithm>
#include <deque>
#include <vector>

namespace {

constexpr int ProgressIntervalMs = 50;
constexpr int ProblemsShown = 5;
constexpr int BatchNotes = 500;
constexpr qint64 BatchMs = 60;

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("Import", text, nullptr, n);
}

// Runs `prepare` for 0 … count − 1 on worker threads, index i on worker i % workers, each
// worker at most Window notes ahead of the one who takes the results, in index order.
class PreparedAhead final
{
public:
    PreparedAhead(int count, const ImportSession::Prepare &prepare, int workers)
    {
        for (int w = 0; w < workers; ++w)
            m_lanes.push_back(std::make_unique<Lane>());
        for (int w = 0; w < workers; ++w) {
            Lane *lane = m_lanes[size_t(w)].get();
            lane->thread.reset(QThread::create([lane, w, workers, count, &prepare] {
                for (int i = w; i < count; i += workers) {
                    std::optional<PreparedNote> prepared = prepare(i);
                    QMutexLocker lock(&lane->mutex);
                    while (!lane->stop && lane->ready.size() >= Window)
                        lane->changed.wait(&lane->mutex);
                    if (lane->stop)
                        return;
                    lane->ready.push_back(std::move(prepared));
                    lane->changed.wakeAll();
                }
            }));
            lane->thread->start();
            // A thread that could not be made never fills its lane: taking from it would wait
            // for ever.
            m_started = m_started && (lane->thread->isRunning() || lane->thread->isFinished());
        }
    }

    bool started() const { return m_started; }

    ~PreparedAhead()
    {
        for (const auto &lane : m_lanes) {
            QMutexLocker lock(&lane->mutex);
            lane->stop = true;
            lane->changed.wakeAll();
        }
        for (const auto &lane : m_lanes)
            lane->thread->wait();
    }

    std::optional<PreparedNote> take(int index)
    {
        Lane &lane = *m_lanes[size_t(index) % m_lanes.size()];
        QMutexLocker lock(&lane.mutex);
        while (lane.ready.empty())
            lane.changed.wait(&lane.mutex);
        std::optional<PreparedNote> prepared = std::move(lane.ready.front());
        lane.ready.pop_front();
        lane.changed.wakeAll();
        return prepared;
    }

private:
    static constexpr size_t Window = 16;

    struct Lane
    {
        QMutex mutex;
        QWaitCondition changed;
        std::deque<std::optional<PreparedNote>> ready;
        bool stop = false;
        std::unique_ptr<QThread> thread;
    };
    std::vector<std::unique_ptr<Lane>> m_lanes;
    bool m_started = true;
};

// This thread writes; the others convert.
int preparingWorkers()
{
    return std::clamp(QThread::idealThreadCount() - 1, 1, 3);
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
    m_stagedSizes.insert(path, file.size());
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

bool ImportSession::placeAttachments(const PreparedNote &prepared, QList<Placed> &placed)
{
    if (prepared.attachments.isEmpty())
        return true;
    AttachmentRepository *store = m_target.attachments;
    QDir().mkpath(store->directory());
    for (const StagedAttachment &attachment : prepared.attachments) {
        const QString destination = store->filePath(attachment.record.id);
        // The first note to take a staging file gets it moved, which costs nothing on the same
        // disk; notes after it that show the same file get copies.
        const QString takenTo = m_placedFiles.value(attachment.stagedPath);
        const bool move = takenTo.isEmpty();
        const bool ok = !destination.isEmpty()
            && (move ? QFile::rename(attachment.stagedPath, destination)
                     : QFile::copy(takenTo, destination));
        if (!ok) {
            qWarning().noquote() << "import: can't place the attachment"
                                 << attachment.record.filename;
            return false;
        }
        placed.append({ attachment.stagedPath, destination, move });
        if (move)
            m_placedFiles.insert(attachment.stagedPath, destination);
        if (!store->insert(attachment.record))
            return false;
    }
    return true;
}

void ImportSession::unplace(const QList<Placed> &placed, qsizetype from)
{
    // Newest first, so a copy goes before the file it was copied from moves back.
    for (qsizetype i = placed.size() - 1; i >= from; --i) {
        const Placed &file = placed.at(i);
        if (!file.moved) {
            QFile::remove(file.destination);
            continue;
        }
        if (!QFile::rename(file.destination, file.stagedPath))
            QFile::remove(file.destination);
        m_placedFiles.remove(file.stagedPath);
    }
}

bool ImportSession::storeBatch(const QList<PreparedNote> &batch, QList<Placed> &placed)
{
    QList<Note> notes;
    notes.reserve(batch.size());
    for (const PreparedNote &prepared : batch)
        notes.append(prepared.note);
    if (!m_target.writer->insertNotes(notes))
        return false;
    for (const PreparedNote &prepared : batch) {
        if (!placeAttachments(prepared, placed))
            return false;
    }
    return true;
}

bool ImportSession::storeNote(const PreparedNote &prepared, QList<Placed> &placed)
{
    const qsizetype mark = placed.size();
    const bool stored = m_target.writer->inSavepoint([&] {
        return m_target.writer->insertNotes({ prepared.note })
            && placeAttachments(prepared, placed);
    });
    if (!stored) {
        unplace(placed, mark);
        placed.resize(mark);
    }
    return stored;
}

void ImportSession::storeNotes(
    int count, const Prepare &prepare, ImportResult &result, Preparation preparation)
{
    std::unique_ptr<PreparedAhead> ahead;
    if (preparation == Preparation::OnWorkers && count > 1)
        ahead = std::make_unique<PreparedAhead>(count, prepare, preparingWorkers());
    if (ahead && !ahead->started()) {
        qWarning() << "import: no worker threads; notes are converted between the writes";
        ahead.reset();
    }
    int next = 0;
    while (next < count) {
        // A batch is what is prepared in a tenth of a second at most, so the window repaints
        // between batches.
        QElapsedTimer clock;
        clock.start();
        QList<PreparedNote> batch;
        while (next < count && batch.size() < BatchNotes && clock.elapsed() < BatchMs) {
            const int index = next++;
            std::optional<PreparedNote> prepared = ahead ? ahead->take(index) : prepare(index);
            if (prepared)
                batch.append(std::move(*prepared));
        }
        if (batch.isEmpty())
            continue;

        QList<Placed> placed;
        int attachments = 0;
        for (const PreparedNote &prepared : std::as_const(batch))
            attachments += int(prepared.attachments.size());
        // All notes of the batch without a savepoint each: a savepoint makes the full-text
        // indexes write out what they hold, which costs more than the notes.
        if (m_target.writer->inTransaction([&] { return storeBatch(batch, placed); })) {
            result.imported += int(batch.size());
            result.attachmentCount += attachments;
        } else {
            // Some note of it failed: the batch again, one note at a time, each on its own.
            unplace(placed);
            placed.clear();
            int imported = 0;
            attachments = 0;
            const bool committed = m_target.writer->inTransaction([&] {
                for (const PreparedNote &prepared : std::as_const(batch)) {
                    if (storeNote(prepared, placed)) {
                        ++imported;
                        attachments += int(prepared.attachments.size());
                    } else {
                        ++result.errors;
                        addProblem(tr("The note \"%1\" could not be saved.").arg(prepared.title));
                    }
                }
                return true;
            });
            if (committed) {
                result.imported += imported;
                result.attachmentCount += attachments;
            } else {
                unplace(placed);
                result.errors += imported;
                addProblem(tr("%n notes could not be saved.", imported));
            }
        }
        const QString lastTitle = batch.last().title;
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
