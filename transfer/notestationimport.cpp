#include "notestationimport.h"

#include "archiveinput.h"
#include "converters.h"
#include "deltaformat.h"
#include "importsession.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// A note's JSON holds its HTML with images inline as base64; past this it is not a note.
constexpr qint64 MaxJsonBytes = 32LL * 1024 * 1024;
constexpr int MaxMembers = 300000;

const QString ConfigName = QStringLiteral("config.json");
// The parent of every note in the trash ends in this.
const QString TrashSuffix = QStringLiteral("_#00000000");

QString tr(const char *text)
{
    return QCoreApplication::translate("NoteStationImport", text);
}

// Seconds since the epoch: a number, a decimal string, else 0.
qint64 seconds(const QJsonValue &value)
{
    if (value.isDouble())
        return qint64(value.toDouble());
    if (value.isString())
        return value.toString().trimmed().toLongLong();
    return value.toVariant().toLongLong();
}

QDateTime timeOf(const QJsonObject &object, const QString &key, const QDateTime &fallback)
{
    const qint64 value = seconds(object.value(key));
    // Up to the year 9999: beyond it a date has no ISO form to store.
    if (value < 1 || value >= 253402300800LL)
        return fallback;
    return QDateTime::fromSecsSinceEpoch(value, Qt::UTC);
}

QString text(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17);
    return QString();
}

QString mimeTypeOf(const QString &type, const QString &extension)
{
    // Older exports give the MIME type itself; newer ones a kind and an extension.
    if (type.contains(QLatin1Char('/')))
        return type;
    if (type == QLatin1String("image")) {
        const QString subtype = extension.isEmpty() ? QStringLiteral("png") : extension.toLower();
        // "jpg" is the extension; the type is "image/jpeg".
        return QStringLiteral("image/%1")
            .arg(subtype == QLatin1String("jpg") ? QStringLiteral("jpeg") : subtype);
    }
    return QStringLiteral("application/octet-stream");
}

std::optional<QJsonObject> jsonObject(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QList<QJsonObject> attachmentObjects(const QJsonValue &value)
{
    QList<QJsonObject> objects;
    QJsonArray values;
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            values.append(it.value());
    } else if (value.isArray()) {
        values = value.toArray();
    }
    for (const QJsonValue &item : std::as_const(values)) {
        if (item.isObject())
            objects.append(item.toObject());
    }
    return objects;
}

} // namespace

QString resolveNoteStationImages(const QString &html, const QHash<QString, QString> &refs)
{
    if (refs.isEmpty())
        return html;
    static const QRegularExpression image(
        QStringLiteral("<img\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression refAttribute(QStringLiteral("\\sref=\"([^\"]*)\""));
    static const QRegularExpression srcAttribute(
        QStringLiteral("\\ssrc\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QString result;
    result.reserve(html.size());
    qsizetype last = 0;
    auto tags = image.globalMatch(html);
    while (tags.hasNext()) {
        const QRegularExpressionMatch tag = tags.next();
        QString element = tag.captured();
        const QRegularExpressionMatch ref = refAttribute.match(element);
        const auto attachment = ref.hasMatch() ? refs.constFind(ref.captured(1)) : refs.constEnd();
        if (attachment == refs.constEnd())
            continue;
        // Readers keep the first of two src attributes: the placeholder has to go, or the
        // image never shows.
        element.replace(ref.capturedStart(), ref.capturedLength(),
            QStringLiteral(" src=\"%1%2\"").arg(Delta::AttachmentPrefix, *attachment));
        const qsizetype placed = ref.capturedStart();
        QString cleaned;
        qsizetype from = 0;
        auto sources = srcAttribute.globalMatch(element);
        while (sources.hasNext()) {
            const QRegularExpressionMatch source = sources.next();
            if (source.capturedStart() == placed)
                continue;
            cleaned += QStringView(element).mid(from, source.capturedStart() - from);
            from = source.capturedEnd();
        }
        cleaned += QStringView(element).mid(from);
        result += QStringView(html).mid(last, tag.capturedStart() - last);
        result += cleaned;
        last = tag.capturedEnd();
    }
    result += QStringView(html).mid(last);
    return result;
}

ImportResult importNoteStation(
    const ImportTarget &target, const QString &path, const ImportProgress &progress)
{
    ImportSession session(target, progress);
    session.report(0, 0, tr("Extracting archive..."));
    if (!session.isReady())
        return importFailure(tr("Failed to create temp directory"));

    ArchiveInput input(path, ArchiveInput::Format::Zip);
    if (!input.open()) {
        if (detectImportFormat(path) == ImportFormat::Joplin)
            return importFailure(
                tr("This file is a Joplin export (.jex), not a NoteStation export (.nsx)."));
        return importFailure(tr("Failed to extract archive: %1").arg(input.errorString()));
    }

    ImportResult result;
    QHash<QString, QByteArray> members; // JSON members by name
    QSet<QString> oversized;
    QHash<QString, QString> files; // staged attachment files by md5
    ArchiveInput::Member member;
    for (;;) {
        const ArchiveInput::Next next = input.next(member);
        if (next == ArchiveInput::Next::End)
            break;
        if (next == ArchiveInput::Next::Failed)
            return importFailure(tr("Failed to extract archive: %1").arg(input.errorString()));
        if (input.memberCount() > MaxMembers)
            return importFailure(
                tr("The archive has too many members (more than %1).").arg(MaxMembers));
        session.report(input.memberCount(), 0, tr("Extracting archive..."));
        if (!member.isRegularFile || member.isEncrypted || member.name.contains(QLatin1Char('/')))
            continue;
        if (member.name.startsWith(QLatin1String("file_thumb")))
            continue;
        if (member.name.startsWith(QLatin1String("file_"))) {
            QString error;
            const QString staged = session.stageMember(input, &error);
            if (staged.isEmpty())
                return importFailure(tr("Failed to extract archive: %1").arg(error));
            files.insert(member.name.mid(5), staged);
            continue;
        }
        QByteArray bytes;
        const ArchiveInput::Read read = input.readAll(bytes, MaxJsonBytes);
        if (read == ArchiveInput::Read::TooLarge) {
            oversized.insert(member.name);
            continue;
        }
        if (read != ArchiveInput::Read::Ok)
            return importFailure(tr("Failed to extract archive: %1").arg(input.errorString()));
        members.insert(member.name, bytes);
    }

    if (members.value(ConfigName).isEmpty())
        return importFailure(tr("No config.json found in archive"));
    const std::optional<QJsonObject> config = jsonObject(members.take(ConfigName));
    if (!config)
        return importFailure(tr("config.json is not a NoteStation export description."));
    const QJsonArray notebookEntries = config->value(QStringLiteral("notebook")).toArray();
    const QJsonArray noteEntries = config->value(QStringLiteral("note")).toArray();

    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<Notebook> notebooks;
    QHash<QString, QString> notebookIds;
    for (const QJsonValue &entry : notebookEntries) {
        const QString name = entry.toString();
        const std::optional<QJsonObject> object = jsonObject(members.value(name));
        if (name.isEmpty() || notebookIds.contains(name) || !object)
            continue; // missing or unreadable notebooks are passed over; their notes stay
        Notebook notebook;
        notebook.id = newRecordId();
        notebook.name = text(*object, QStringLiteral("title")).trimmed();
        if (notebook.name.isEmpty())
            notebook.name = tr("Imported Notebook");
        notebook.createdAt = timeOf(*object, QStringLiteral("ctime"), now);
        notebook.updatedAt = timeOf(*object, QStringLiteral("mtime"), notebook.createdAt);
        notebooks.append(notebook);
        notebookIds.insert(name, notebook.id);
    }
    if (!session.storeNotebooks(notebooks))
        return importFailure(tr("The notebooks could not be saved. Nothing was imported."));

    const int total = int(noteEntries.size());
    session.report(0, total, tr("Importing %1 notes...").arg(total));
    session.storeNotes(
        total,
        [&](int i) -> std::optional<PreparedNote> {
            const QString name = noteEntries.at(i).toString();
            if (oversized.contains(name)) {
                ++result.errors;
                session.addProblem(tr("The note %1 is larger than %2 MB and was not imported.")
                                       .arg(name)
                                       .arg(MaxJsonBytes >> 20));
                return std::nullopt;
            }
            const QByteArray bytes = members.take(name);
            if (bytes.isEmpty()) {
                ++result.errors;
                session.addProblem(tr("The note %1 is missing from the archive.").arg(name));
                return std::nullopt;
            }
            const std::optional<QJsonObject> object = jsonObject(bytes);
            if (!object) {
                ++result.errors;
                session.addProblem(tr("The note %1 is not readable.").arg(name));
                return std::nullopt;
            }
            const QString title = text(*object, QStringLiteral("title"));

            Note note;
            note.id = newRecordId();
            const QString parent = text(*object, QStringLiteral("parent_id"));
            note.notebookId = notebookIds.value(parent);

            QList<StagedAttachment> attachments;
            QHash<QString, QString> refs;
            QHash<QString, QString> byMd5;
            for (const QJsonObject &entry :
                attachmentObjects(object->value(QStringLiteral("attachment")))) {
                const QString md5 = text(entry, QStringLiteral("md5"));
                const QString ref = text(entry, QStringLiteral("ref"));
                if (md5.isEmpty())
                    continue;
                // One file, one attachment, even when several objects describe it.
                QString attachmentId = byMd5.value(md5);
                if (attachmentId.isEmpty()) {
                    const QString staged = files.value(md5);
                    if (staged.isEmpty() || session.stagedSize(staged) <= 0)
                        continue;
                    const QString extension = text(entry, QStringLiteral("ext"));
                    StagedAttachment attachment;
                    attachment.stagedPath = staged;
                    Attachment &record = attachment.record;
                    record.id = newRecordId();
                    record.noteId = note.id;
                    const QString fallback = extension.isEmpty()
                        ? QStringLiteral("attachment")
                        : QStringLiteral("attachment.%1").arg(extension);
                    const QString fileName = text(entry, QStringLiteral("name"));
                    record.filename
                        = cleanAttachmentName(fileName.isEmpty() ? fallback : fileName, fallback);
                    record.mimeType = mimeTypeOf(text(entry, QStringLiteral("type")), extension);
                    record.sizeBytes = session.stagedSize(staged);
                    record.createdAt = now;
                    attachments.append(attachment);
                    attachmentId = record.id;
                    byMd5.insert(md5, attachmentId);
                }
                if (!ref.isEmpty())
                    refs.insert(ref, attachmentId);
            }

            QString html = resolveNoteStationImages(text(*object, QStringLiteral("content")), refs);
            // Files the HTML does not place inline (documents, most of all) would otherwise be
            // stored but never shown: they follow the text.
            for (const StagedAttachment &attachment : std::as_const(attachments)) {
                if (!html.contains(attachment.record.id))
                    html += QStringLiteral("<p><img src=\"%1%2\"></p>")
                                .arg(Delta::AttachmentPrefix, attachment.record.id);
            }
            if (!title.isEmpty())
                html = QStringLiteral("<h1>%1</h1>\n%2").arg(title.toHtmlEscaped(), html);
            note.body = Delta::toText(htmlToDelta(html));
            note.createdAt = timeOf(*object, QStringLiteral("ctime"), now);
            note.updatedAt = timeOf(*object, QStringLiteral("mtime"), note.createdAt);
            note.modifiedAt = note.updatedAt;
            if (parent.endsWith(TrashSuffix))
                note.deletedAt = note.modifiedAt;

            return PreparedNote { note, attachments, title };
        },
        result);
    session.finish(result);
    return result;
}
