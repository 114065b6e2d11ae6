#include "noteexport.h"

#include "deltadocument.h"
#include "deltaformat.h"
#include "htmlrenderer.h"
#include "markdownrenderer.h"
#include "notetext.h"
#include "plaintextrenderer.h"
#include "printdocument.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextBoundaryFinder>
#include <QTextDocument>

namespace {

constexpr qsizetype MaximumNameLength = 50;

bool isDroppedCharacter(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control: // includes tab, line feed, DEL and the C1 controls
    case QChar::Other_Format: // bidirectional overrides could disguise the extension
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// Cut at a grapheme boundary so no surrogate pair or combining sequence is split.
QString cutToLength(const QString &text, qsizetype maximum)
{
    if (text.size() <= maximum)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(maximum);
    if (!finder.isAtBoundary())
        finder.toPreviousBoundary();
    const qsizetype end = qMax<qsizetype>(finder.position(), 0);
    return text.left(end);
}

// Hidden files, "." and "..", and the trailing dots and spaces Windows silently drops.
QString stripEnds(QString text)
{
    qsizetype start = 0;
    while (start < text.size() && (text.at(start) == u'.' || text.at(start).isSpace()))
        ++start;
    qsizetype end = text.size();
    while (end > start && (text.at(end - 1) == u'.' || text.at(end - 1).isSpace()))
        --end;
    return text.mid(start, end - start);
}

bool isReservedDeviceName(const QString &name)
{
    QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList fixed = { QStringLiteral("CON"), QStringLiteral("PRN"),
        QStringLiteral("AUX"), QStringLiteral("NUL"), QStringLiteral("CONIN$"),
        QStringLiteral("CONOUT$"), QStringLiteral("CLOCK$") };
    if (fixed.contains(stem))
        return true;
    if (stem.size() == 4
        && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))) {
        const QChar digit = stem.at(3);
        return (digit >= u'0' && digit <= u'9') || digit == QChar(0x00B9) || digit == QChar(0x00B2)
            || digit == QChar(0x00B3);
    }
    return false;
}

ExportResult failure(const QString &path, const QString &reason)
{
    qWarning().noquote() << "exportNote: can't write" << path << '-' << reason;
    ExportResult result;
    result.path = path;
    result.error = QStringLiteral("Failed to write file: %1").arg(reason);
    return result;
}

ExportResult writePdf(
    const Note &note, const QString &path, const AttachmentRepository *attachments)
{
    // Laid out like the editor shows it, so lists, check boxes and code keep their look; a body
    // that is not a delta document is shown as plain text rather than interpreted as markup.
    DeltaDocument source;
    source.setContent(note.body);
    std::unique_ptr<QTextDocument> document
        = preparePrintDocument(*source.document(), attachmentLookupFor(attachments));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failure(path, file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        writer.setTitle(noteTitle(note.body));
        writer.setCreator(QStringLiteral("Brevaro Notes"));
        document->print(&writer);
    }
    if (!file.commit())
        return failure(path, file.errorString());
    ExportResult result;
    result.ok = true;
    result.path = path;
    return result;
}

} // namespace

QString exportFileExtension(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Markdown:
        return QStringLiteral(".md");
    case ExportFormat::Html:
        return QStringLiteral(".html");
    case ExportFormat::Pdf:
        return QStringLiteral(".pdf");
    case ExportFormat::PlainText:
        break;
    }
    return QStringLiteral(".txt");
}

ExportFormat exportFormatFromInt(int value)
{
    switch (value) {
    case 0:
        return ExportFormat::Markdown;
    case 1:
        return ExportFormat::Html;
    case 2:
        return ExportFormat::Pdf;
    default:
        return ExportFormat::PlainText;
    }
}

QString renderNote(const QString &content, ExportFormat format)
{
    if (content.isEmpty())
        return QString();
    const std::optional<QJsonArray> ops = Delta::parseArray(content);
    if (!ops)
        return content;
    switch (format) {
    case ExportFormat::Markdown:
        return renderMarkdown(*ops);
    case ExportFormat::Html:
    case ExportFormat::Pdf:
        return renderHtml(*ops);
    case ExportFormat::PlainText:
        break;
    }
    return renderPlainText(*ops);
}

QString sanitizeFileName(const QString &name)
{
    static const QRegularExpression forbidden(QStringLiteral("[<>:\"/\\\\|?*]"));
    QString cleaned;
    cleaned.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            const char32_t codePoint = QChar::surrogateToUcs4(c, name.at(i + 1));
            const QChar::Category category = QChar::category(codePoint);
            if (category != QChar::Other_Format && category != QChar::Other_Control)
                cleaned.append(name.mid(i, 2));
            ++i;
            continue;
        }
        if (c.isSurrogate() || isDroppedCharacter(c))
            continue; // a lone surrogate has no UTF-8 form
        cleaned.append(c);
    }
    cleaned.remove(forbidden);

    QString result = stripEnds(cutToLength(stripEnds(cleaned.trimmed()), MaximumNameLength));
    if (isReservedDeviceName(result))
        result = stripEnds(cutToLength(QLatin1Char('_') + result, MaximumNameLength));
    if (result.isEmpty())
        result = QStringLiteral("note");
    return result;
}

QString suggestedFileName(const Note &note, ExportFormat format)
{
    QString base = noteTitle(note.body);
    if (base.isEmpty())
        base = QStringLiteral("note-%1").arg(note.id.left(8));
    return sanitizeFileName(base) + exportFileExtension(format);
}

QString suggestedExportPath(const QString &directory, const Note &note, ExportFormat format)
{
    return QDir(directory).filePath(suggestedFileName(note, format));
}

ExportResult exportNote(const Note &note, const QString &path, ExportFormat format,
    const AttachmentRepository *attachments)
{
    if (path.isEmpty())
        return failure(path, QStringLiteral("No file name given"));
    if (format == ExportFormat::Pdf)
        return writePdf(note, path, attachments);

    const QString text = renderNote(note.body, format);
    // Written beside the target and renamed over it, so a failed export never leaves a
    // truncated file where an earlier one was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return failure(path, file.errorString());
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failure(path, reason);
    }
    if (!file.commit())
        return failure(path, file.errorString());
    ExportResult result;
    result.ok = true;
    result.path = path;
    return result;
}
