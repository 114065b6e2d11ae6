#pragma once

#include "attachment.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class Database;

// Attachment rows plus one file per attachment, named by its id, in the attachments directory.
// Ids come from notes, sync and imports: only well-formed ids ever reach the file system.
class AttachmentRepository final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AttachmentRepository)

public:
    // `directory` holds the files; it is made when the first file is saved.
    AttachmentRepository(Database *database, const QString &directory, QObject *parent = nullptr);

    QString directory() const { return m_directory; }

    // 36 characters of lower-case hex digits with hyphens at the UUID positions.
    static bool isValidId(const QString &id);

    // Empty for an id that is not well formed.
    QString filePath(const QString &id) const;
    std::optional<Attachment> attachmentById(const QString &id) const;
    // Oldest first.
    QList<Attachment> attachmentsForNote(const QString &noteId) const;
    QList<Attachment> pendingAttachments() const;
    // Every row, oldest first (backup).
    QList<Attachment> allAttachments() const;
    bool insert(const Attachment &attachment);
    bool markSynced(const QString &id);

    // Replaces the file as a whole: a failed write leaves the earlier content in place.
    bool saveFile(const QString &id, const QByteArray &bytes);
    // Empty when the file is missing or unreadable.
    QByteArray readFile(const QString &id) const;
    // Removes the row, then the file (a missing one is fine); a failed row delete keeps both.
    bool deleteById(const QString &id);
    // Deletes every attachment listed for the note and, after a purge has already removed the
    // rows, the files of `purgedIds` (connect NoteRepository::notePurged here). True only when
    // every deletion succeeded.
    bool deleteForNote(const QString &noteId, const QStringList &purgedIds = {});

signals:
    void attachmentsChanged();

private:
    QList<Attachment> queryAttachments(const QString &sql, const QVariantList &values) const;

    Database *m_database; // not owned
    QString m_directory;
};
