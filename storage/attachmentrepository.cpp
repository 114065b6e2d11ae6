#include "attachmentrepository.h"

#include "database.h"
#include "sqlutil.h"
#include "storagetime.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace {

Attachment attachmentFromRow(const QSqlQuery &query)
{
    Attachment attachment;
    attachment.id = query.value(QStringLiteral("id")).toString();
    attachment.noteId = query.value(QStringLiteral("note_id")).toString();
    attachment.filename = query.value(QStringLiteral("filename")).toString();
    attachment.mimeType = query.value(QStringLiteral("mime_type")).toString();
    attachment.sizeBytes = query.value(QStringLiteral("size_bytes")).toLongLong();
    attachment.createdAt = fromStorageTime(query.value(QStringLiteral("created_at")).toString());
    attachment.syncStatus
        = syncStatusFromText(query.value(QStringLiteral("sync_status")).toString());
    return attachment;
}

} // namespace

AttachmentRepository::AttachmentRepository(
    Database *database, const QString &directory, QObject *parent)
    : QObject(parent), m_database(database), m_directory(directory)
{ }

bool AttachmentRepository::isValidId(const QString &id)
{
    static const QRegularExpression pattern(
        QStringLiteral("\\A[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\z"));
    // \z rather than $, which would also accept a trailing line break.
    return pattern.match(id).hasMatch();
}

QString AttachmentRepository::filePath(const QString &id) const
{
    if (!isValidId(id))
        return QString();
    return m_directory + QLatin1Char('/') + id;
}

QList<Attachment> AttachmentRepository::queryAttachments(
    const QString &sql, const QVariantList &values) const
{
    QList<Attachment> attachments;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, sql, values))
        return attachments;
    while (query.next())
        attachments.append(attachmentFromRow(query));
    return attachments;
}

std::optional<Attachment> AttachmentRepository::attachmentById(const QString &id) const
{
    const QList<Attachment> found
        = queryAttachments(QStringLiteral("SELECT * FROM attachments WHERE id = ?"), { id });
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QList<Attachment> AttachmentRepository::attachmentsForNote(const QString &noteId) const
{
    return queryAttachments(
        QStringLiteral("SELECT * FROM attachments WHERE note_id = ? ORDER BY created_at ASC"),
        { noteId });
}

QList<Attachment> AttachmentRepository::allAttachments() const
{
    return queryAttachments(
        QStringLiteral("SELECT * FROM attachments ORDER BY created_at ASC"), {});
}

QList<Attachment> AttachmentRepository::pendingAttachments() const
{
    return queryAttachments(QStringLiteral("SELECT * FROM attachments WHERE sync_status = "
                                           "'pending' ORDER BY created_at ASC"),
        {});
}

bool AttachmentRepository::insert(const Attachment &attachment)
{
    // A row whose id cannot name a file would point at content that can never exist.
    if (!isValidId(attachment.id)) {
        qWarning().noquote() << "AttachmentRepository::insert failed: invalid attachment id"
                             << attachment.id;
        return false;
    }
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("INSERT INTO attachments (id, note_id, filename, mime_type, "
                           "size_bytes, created_at, sync_status) VALUES (?, ?, ?, ?, "
                           "?, ?, ?)"),
            { attachment.id, attachment.noteId, SqlUtil::nonNull(attachment.filename),
                SqlUtil::nonNull(attachment.mimeType), attachment.sizeBytes,
                toStorageTime(attachment.createdAt), syncStatusText(attachment.syncStatus) })) {
        qWarning().noquote() << "AttachmentRepository::insert failed:" << query.lastError().text();
        return false;
    }
    emit attachmentsChanged();
    return true;
}

bool AttachmentRepository::markSynced(const QString &id)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE attachments SET sync_status = 'synced' WHERE id = ?"), { id })) {
        qWarning().noquote() << "AttachmentRepository::markSynced failed:"
                             << query.lastError().text();
        return false;
    }
    return true;
}

bool AttachmentRepository::saveFile(const QString &id, const QByteArray &bytes)
{
    const QString path = filePath(id);
    if (path.isEmpty()) {
        qWarning().noquote() << "AttachmentRepository::saveFile invalid id:" << id;
        return false;
    }
    if (!QDir().mkpath(m_directory)) {
        qWarning().noquote() << "AttachmentRepository::saveFile can't create directory:"
                             << m_directory;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "AttachmentRepository::saveFile open failed:" << file.errorString();
        return false;
    }
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        qWarning().noquote() << QStringLiteral("AttachmentRepository::saveFile short write: %1/%2")
                                    .arg(written)
                                    .arg(bytes.size());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qWarning().noquote() << "AttachmentRepository::saveFile commit failed:"
                             << file.errorString();
        return false;
    }
    return true;
}

QByteArray AttachmentRepository::readFile(const QString &id) const
{
    const QString path = filePath(id);
    if (path.isEmpty())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool AttachmentRepository::deleteById(const QString &id)
{
    // The row goes first: when it cannot be deleted the attachment stays whole, rather than a
    // row pointing at content that is already gone. A file left behind only costs space.
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, QStringLiteral("DELETE FROM attachments WHERE id = ?"), { id })) {
        qWarning().noquote() << "AttachmentRepository::deleteById failed:"
                             << query.lastError().text();
        return false;
    }
    // A malformed id may still name a row (from an older or foreign database); only its file
    // is out of reach.
    const QString path = filePath(id);
    if (!path.isEmpty() && QFile::exists(path) && !QFile::remove(path))
        qWarning().noquote() << "AttachmentRepository::deleteById could not remove file:" << path;
    emit attachmentsChanged();
    return true;
}

bool AttachmentRepository::deleteForNote(const QString &noteId, const QStringList &purgedIds)
{
    QStringList ids;
    for (const Attachment &attachment : attachmentsForNote(noteId))
        ids.append(attachment.id);
    for (const QString &id : purgedIds) {
        if (!ids.contains(id))
            ids.append(id);
    }
    bool allDeleted = true;
    for (const QString &id : ids)
        allDeleted = deleteById(id) && allDeleted;
    return allDeleted;
}
