#include "joplinimport.h"

#include "archiveinput.h"
#include "converters.h"
#include "deltaformat.h"
#include "importsession.h"

#include <QCoreApplication>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace {

// One item is one note: nothing a person writes comes near this, and the converters' time
// grows with the text.
constexpr qint64 MaxItemBytes = 32LL * 1024 * 1024;
constexpr int MaxMembers = 300000;

const QString NoteLinkPrefix = QStringLiteral("brevaro-notes://note/");

QString tr(const char *text)
{
    return QCoreApplication::translate("JoplinImport", text);
}

bool isJoplinId(QStringView text)
{
    if (text.size() != 32)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

// Drops a first content line that repeats the title, as "# Title" or "# Title - more".
QString withoutTitleLine(const QString &content, const QString &title)
{
    if (title.isEmpty())
        return content;
    const qsizetype lineEnd = content.indexOf(QLatin1Char('\n'));
    const QString firstLine = (lineEnd < 0 ? content : content.left(lineEnd)).trimmed();
    bool drop = firstLine == title;
    if (!drop && firstLine.startsWith(QLatin1String("# "))) {
        const QString heading = firstLine.mid(2).trimmed();
        drop = heading == title || heading.startsWith(title + QLatin1Char(' '))
            || heading.startsWith(title + QStringLiteral(" \u2013"))
            || heading.startsWith(title + QLatin1String(" -"));
    }
    if (!drop)
        return content;
    return lineEnd < 0 ? QString() : content.mid(lineEnd + 1).trimmed();
}

// Staged resource files by Joplin id, then by the extension of their member name.
using ResourceFiles = QHash<QString, QHash<QString, QString>>;

QString resourceFile(const ResourceFiles &files, const JoplinItem &resource)
{
    const auto found = files.constFind(resource.id);
    if (found == files.constEnd())
        return QString();
    const QHash<QString, QString> &byExtension = *found;
    for (const QString &extension : { resource.fileExtension, QString(), QStringLiteral("bin") }) {
        const auto path = byExtension.constFind(extension);
        if (path != byExtension.constEnd())
            return *path;
    }
    // Renamed on the way: any member of that id.
    QStringList extensions = byExtension.keys();
    std::sort(extensions.begin(), extensions.end());
    return byExtension.value(extensions.value(0));
}

// What one note's text becomes: links to resources point at the new attachments (and those
// that are not images become attachment embeds), links to other notes at the imported notes.
QString rewriteLinks(QString text, bool html, const QHash<QString, QString> &attachmentIds,
    const QHash<QString, QString> &noteIds)
{
    if (!html && !attachmentIds.isEmpty()) {
        // "[name](:/id)" shows a file as a link; here an attachment is an embed of its own.
        thread_local const QRegularExpression fileLink(
            QStringLiteral("(?<!!)\\[([^\\]\\n]*)\\]\\(:/([a-f0-9]{32})\\)"));
        QString rewritten;
        qsizetype last = 0;
        auto matches = fileLink.globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            if (!attachmentIds.contains(match.captured(2)))
                continue;
            rewritten += QStringView(text).mid(last, match.capturedStart() - last);
            rewritten += QLatin1Char('!') + match.captured();
            last = match.capturedEnd();
        }
        if (last > 0) {
            rewritten += QStringView(text).mid(last);
            text = rewritten;
        }
    }
    thread_local const QRegularExpression reference(QStringLiteral(":/([a-f0-9]{32})"));
    QString result;
    result.reserve(text.size());
    qsizetype last = 0;
    auto matches = reference.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString id = match.captured(1);
        QString replacement;
        if (const auto attachment = attachmentIds.constFind(id); attachment != attachmentIds.end())
            replacement = QString(Delta::AttachmentPrefix) + *attachment;
        else if (const auto note = noteIds.constFind(id); note != noteIds.end())
            replacement = NoteLinkPrefix + *note;
        else
            continue;
        result += QStringView(text).mid(last, match.capturedStart() - last);
        result += replacement;
        last = match.capturedEnd();
    }
    result += QStringView(text).mid(last);
    return result;
}

QDateTime preferred(const QHash<QString, QString> &metadata, const char *userKey, const char *key)
{
    const QDateTime user = parseJoplinTime(metadata.value(QLatin1String(userKey)));
    return user.isValid() ? user : parseJoplinTime(metadata.value(QLatin1String(key)));
}

} // namespace

QDateTime parseJoplinTime(const QString &text)
{
    const QString value = text.trimmed();
    if (value.isEmpty())
        return QDateTime();
    QDateTime time = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(value, Qt::ISODate);
    if (time.isValid()) {
        if (time.timeSpec() == Qt::LocalTime)
            time.setTimeSpec(Qt::UTC);
        return time.toUTC();
    }
    bool ok = false;
    const qint64 milliseconds = value.toLongLong(&ok);
    // Up to the year 9999: beyond it a date has no ISO form to store.
    if (ok && milliseconds > 0 && milliseconds < 253402300800000LL)
        return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
    return QDateTime();
}

JoplinItem parseJoplinItem(const QString &raw)
{
    QString text = raw;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    JoplinItem item;
    qsizetype metadataStart = text.lastIndexOf(QLatin1String("\n\nid: "));
    if (metadataStart >= 0)
        metadataStart += 2;
    else if (text.startsWith(QLatin1String("id: ")))
        metadataStart = 0;
    if (metadataStart < 0) {
        item.content = text.trimmed();
        return item;
    }

    // Line by line: an empty value ("key: ") must not take the next line as its value.
    const QStringView block = QStringView(text).mid(metadataStart);
    for (const QStringView line : block.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QStringView key = line.left(colon);
        const bool isKey = std::all_of(key.begin(), key.end(),
            [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); });
        if (isKey)
            item.metadata.insert(key.toString(), line.mid(colon + 1).trimmed().toString());
    }

    // The title is the file's first line, unless the file starts with its metadata.
    if (metadataStart > 0) {
        const QString head = text.left(metadataStart);
        const qsizetype lineEnd = head.indexOf(QLatin1Char('\n'));
        item.title = (lineEnd < 0 ? head : head.left(lineEnd)).trimmed();
        QString content = lineEnd < 0 ? QString() : head.mid(lineEnd + 1);
        qsizetype start = 0;
        while (start < content.size() && content.at(start) == QLatin1Char('\n'))
            ++start;
        qsizetype end = content.size();
        while (end > start && content.at(end - 1).isSpace())
            --end;
        item.content = withoutTitleLine(content.mid(start, end - start), item.title);
    }

    const QHash<QString, QString> &meta = item.metadata;
    item.id = meta.value(QStringLiteral("id"));
    item.parentId = meta.value(QStringLiteral("parent_id"));
    item.type = meta.value(QStringLiteral("type_")).toInt();
    bool ok = false;
    const int markup = meta.value(QStringLiteral("markup_language")).toInt(&ok);
    item.markupLanguage = ok ? markup : 1;
    item.created = preferred(meta, "user_created_time", "created_time");
    item.updated = preferred(meta, "user_updated_time", "updated_time");
    item.deleted = parseJoplinTime(meta.value(QStringLiteral("deleted_time")));
    item.mime = meta.value(QStringLiteral("mime"));
    item.fileExtension = meta.value(QStringLiteral("file_extension"));
    return item;
}

ImportResult importJoplin(
    const ImportTarget &target, const QString &path, const ImportProgress &progress)
{
    ImportSession session(target, progress);
    session.report(0, 0, tr("Reading archive..."));
    if (!session.isReady())
        return importFailure(tr("Failed to create temp directory"));

    ArchiveInput input(path, ArchiveInput::Format::Tar);
    if (!input.open()) {
        if (detectImportFormat(path) == ImportFormat::NoteStation)
            return importFailure(
                tr("This file is a NoteStation export (.nsx), not a Joplin export (.jex)."));
        return importFailure(tr("Failed to read archive: %1").arg(input.errorString()));
    }

    ImportResult result;
    QList<JoplinItem> notes;
    QMap<QString, JoplinItem> folders; // in ascending order of their ids
    QHash<QString, JoplinItem> resources;
    ResourceFiles resourceFiles;
    QSet<QString> nonEmptyFiles;
    int items = 0;
    ArchiveInput::Member member;
    for (;;) {
        const ArchiveInput::Next next = input.next(member);
        if (next == ArchiveInput::Next::End)
            break;
        if (next == ArchiveInput::Next::Failed)
            return importFailure(tr("The archive is damaged: %1").arg(input.errorString()));
        if (input.memberCount() > MaxMembers)
            return importFailure(
                tr("The archive has too many members (more than %1).").arg(MaxMembers));
        session.report(input.memberCount(), 0, tr("Reading archive..."));
        if (!member.isRegularFile || member.isEncrypted)
            continue;
        QString name = member.name;
        if (name.startsWith(QLatin1String("./")))
            name.remove(0, 2);

        if (!name.contains(QLatin1Char('/')) && name.endsWith(QLatin1String(".md"))) {
            QByteArray bytes;
            const ArchiveInput::Read read = input.readAll(bytes, MaxItemBytes);
            if (read == ArchiveInput::Read::TooLarge) {
                ++result.errors;
                session.addProblem(tr("%1 is larger than %2 MB and was not imported.")
                                       .arg(name)
                                       .arg(MaxItemBytes >> 20));
                continue;
            }
            if (read != ArchiveInput::Read::Ok)
                return importFailure(tr("The archive is damaged: %1").arg(input.errorString()));
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString text = decoder.decode(bytes);
            if (decoder.hasError()) {
                ++result.errors;
                session.addProblem(tr("%1 is not UTF-8 text and was not imported.").arg(name));
                continue;
            }
            JoplinItem item = parseJoplinItem(text);
            if (item.id.isEmpty())
                continue;
            ++items;
            switch (item.type) {
            case JoplinItem::Note:
                notes.append(std::move(item));
                break;
            case JoplinItem::Folder:
                item.content.clear();
                folders.insert(item.id, std::move(item));
                break;
            case JoplinItem::Resource:
                item.content.clear();
                resources.insert(item.id, std::move(item));
                break;
            default:
                break;
            }
            continue;
        }

        static const QLatin1String ResourcesDir("resources/");
        if (!name.startsWith(ResourcesDir))
            continue;
        const QString fileName = name.mid(ResourcesDir.size());
        const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
        const QString id = dot < 0 ? fileName : fileName.left(dot);
        if (!isJoplinId(id))
            continue;
        QString error;
        const QString staged = session.stageMember(input, &error);
        if (staged.isEmpty())
            return importFailure(tr("Can't unpack %1: %2").arg(name, error));
        resourceFiles[id].insert(dot < 0 ? QString() : fileName.mid(dot + 1), staged);
        if (session.stagedSize(staged) > 0)
            nonEmptyFiles.insert(staged);
    }
    if (items == 0 && result.errors == 0)
        return importFailure(tr("Failed to read archive or archive is empty"));

    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<Notebook> notebooks;
    QHash<QString, QString> notebookIds;
    for (const JoplinItem &folder : std::as_const(folders)) {
        Notebook notebook;
        notebook.id = newRecordId();
        notebook.name = folder.title.isEmpty() ? tr("Imported Folder") : folder.title;
        notebook.createdAt = folder.created.isValid() ? folder.created : now;
        notebook.updatedAt = folder.updated.isValid() ? folder.updated : notebook.createdAt;
        notebooks.append(notebook);
        notebookIds.insert(folder.id, notebook.id);
    }
    if (!session.storeNotebooks(notebooks))
        return importFailure(tr("The notebooks could not be saved. Nothing was imported."));

    QHash<QString, QString> noteIds;
    for (const JoplinItem &note : std::as_const(notes))
        noteIds.insert(note.id, newRecordId());

    const int total = int(notes.size());
    session.report(0, total, tr("Importing %1 notes...").arg(total));
    // Notes convert on worker threads while this one writes: everything below only reads what
    // it shares.
    session.storeNotes(
        total,
        [&](int i) -> std::optional<PreparedNote> {
            thread_local const QRegularExpression reference(QStringLiteral(":/([a-f0-9]{32})"));
            const JoplinItem &item = notes.at(i);

            Note note;
            note.id = noteIds.value(item.id);
            note.notebookId = notebookIds.value(item.parentId);

            QList<StagedAttachment> attachments;
            QHash<QString, QString> attachmentIds;
            auto matches = reference.globalMatch(item.content);
            while (matches.hasNext()) {
                const QString resourceId = matches.next().captured(1);
                const auto found = resources.constFind(resourceId);
                if (attachmentIds.contains(resourceId) || found == resources.constEnd())
                    continue;
                const JoplinItem &resource = *found;
                const QString staged = resourceFile(resourceFiles, resource);
                if (!nonEmptyFiles.contains(staged))
                    continue;
                StagedAttachment attachment;
                attachment.stagedPath = staged;
                Attachment &record = attachment.record;
                record.id = newRecordId();
                record.noteId = note.id;
                const QString fallback = resource.fileExtension.isEmpty()
                    ? resource.id
                    : resource.id + QLatin1Char('.') + resource.fileExtension;
                record.filename = cleanAttachmentName(
                    resource.title.isEmpty() ? fallback : resource.title, fallback);
                record.mimeType = resource.mime.isEmpty()
                    ? QStringLiteral("application/octet-stream")
                    : resource.mime;
                record.sizeBytes = session.stagedSize(staged);
                record.createdAt = resource.created.isValid() ? resource.created : now;
                attachmentIds.insert(resourceId, record.id);
                attachments.append(attachment);
            }

            const bool html = item.markupLanguage == 2;
            const QString content = rewriteLinks(item.content, html, attachmentIds, noteIds);
            QString text = content;
            if (!item.title.isEmpty()) {
                text = html
                    ? QStringLiteral("<h1>%1</h1>\n%2").arg(item.title.toHtmlEscaped(), content)
                    : QStringLiteral("# %1\n\n%2").arg(item.title, content);
            }
            note.body = Delta::toText(html ? htmlToDelta(text) : markdownToDelta(text));
            note.createdAt = item.created.isValid() ? item.created : now;
            note.updatedAt = item.updated.isValid() ? item.updated : note.createdAt;
            note.modifiedAt = note.updatedAt;
            if (item.deleted.isValid())
                note.deletedAt = item.deleted;

            return PreparedNote { note, attachments, item.title };
        },
        result, ImportSession::Preparation::OnWorkers);
    session.finish(result);
    return result;
}
