#pragma once

#include "note.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class Database;

// What tells one stored state of a note from another without reading its body: views that
// derive something from bodies re-read only the notes whose stamp changed.
struct NoteStamp
{
    QString id;
    QString updatedAt; // as stored
    QString modifiedAt; // as stored
    int version = 0;
    QString ownerId;
    QString permission;

    bool operator==(const NoteStamp &other) const
    {
        return id == other.id && updatedAt == other.updatedAt && modifiedAt == other.modifiedAt
            && version == other.version && ownerId == other.ownerId
            && permission == other.permission;
    }
    bool operator!=(const NoteStamp &other) const { return !(*this == other); }
};

class NoteRepository final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteRepository)

public:
    explicit NoteRepository(Database *database, QObject *parent = nullptr);

    QList<Note> allNotes() const;
    QList<Note> notesInNotebook(const QString &notebookId) const;
    QList<Note> trashedNotes() const;
    // Trashed notes included: their deletion still has to reach the server.
    QList<Note> pendingNotes() const;
    QList<Note> sharedWithMe() const;
    QList<Note> sharedByMe() const;
    // FTS5 query with the last term as a prefix; invalid syntax gives an empty list, blank text
    // gives allNotes().
    QList<Note> search(const QString &text) const;

    // For large lists: the ids in list order (updated_at, newest first) without reading any
    // body, and the full records of the few rows a view shows. notesByIds keeps the order of
    // `ids` and skips ids that do not exist.
    QStringList allNoteIds() const;
    QStringList noteIdsInNotebook(const QString &notebookId) const;
    QList<Note> notesByIds(const QStringList &ids) const;
    // Stamps of the notes of allNotes(), in the same order.
    QList<NoteStamp> allNoteStamps() const;

    std::optional<Note> noteById(const QString &id) const;
    bool insert(const Note &note);
    bool update(const Note &note);
    bool softDelete(const QString &id);
    bool restore(const QString &id);
    // Removes the note with its snapshots, attachment rows, to-do setting, tasks and operations
    // in one transaction; attachment files are left to whoever listens to notePurged.
    bool purge(const QString &id);
    // Keeps updated_at so the note holds its place in time-sorted lists.
    bool moveToNotebook(const QString &noteId, const QString &notebookId);
    bool markSynced(const QString &id, int version);
    int markAllPending();
    // Key "" holds the count of all notes not in the trash.
    QMap<QString, int> noteCountsByNotebook() const;

    bool includeInTodos(const QString &noteId) const;
    bool setIncludeInTodos(const QString &noteId, bool include);
    // The notes whose include-in-to-dos setting is off, in one statement.
    QSet<QString> noteIdsExcludedFromTodos() const;

signals:
    void notesChanged();
    void noteDeleted(const QString &id);
    // attachmentIds names the attachment rows removed with the note: their files are the
    // listener's to delete (AttachmentRepository::deleteForNote takes both arguments).
    void notePurged(const QString &id, const QStringList &attachmentIds);

private:
    QList<Note> queryNotes(const QString &sql, const QVariantList &values = {}) const;
    QStringList queryIds(const QString &sql, const QVariantList &values = {}) const;
    bool writeNote(const QString &sql, const Note &note, bool isInsert);

    Database *m_database; // not owned
};
