#pragma once

#include "note.h"
#include "writeerror.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
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

// A note as a list shows it, without its body: titles and previews are derived only for the
// rows on screen, from bodies fetched by id. Read from a covering index, so a list of 100,000
// notes never touches the note rows themselves.
struct NoteListEntry
{
    QString id;
    QString notebookId;
    QString updatedAt; // as stored; ISO text sorts like the time it names
    QString modifiedAt; // as stored
    int version = 0;
    SyncStatus syncStatus = SyncStatus::Pending;
    bool isShared = false;

    // Every write of a body moves the version or one of the times, so an unchanged state means
    // an unchanged body.
    bool sameBodyState(const NoteListEntry &other) const
    {
        return version == other.version && updatedAt == other.updatedAt
            && modifiedAt == other.modifiedAt && id == other.id;
    }
    bool operator==(const NoteListEntry &other) const
    {
        return sameBodyState(other) && notebookId == other.notebookId
            && syncStatus == other.syncStatus && isShared == other.isShared;
    }
    bool operator!=(const NoteListEntry &other) const { return !(*this == other); }
};

class NoteRepository final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteRepository)

public:
    explicit NoteRepository(Database *database, QObject *parent = nullptr);
    ~NoteRepository() override;

    QList<Note> allNotes() const;
    QList<Note> notesInNotebook(const QString &notebookId) const;
    QList<Note> trashedNotes() const;
    // Trashed notes included: their deletion still has to reach the server.
    QList<Note> pendingNotes() const;
    bool hasPendingNotes() const;
    QList<Note> sharedWithMe() const;
    QList<Note> sharedByMe() const;
    // Notes matching what the user typed (searchQueryFromInput), best first; text with nothing
    // to search for gives allNotes(), and exclusions alone all notes but the excluded ones.
    QList<Note> search(const QString &text) const;

    // For large lists: the ids in list order (updated_at, newest first) without reading any
    // body, and the full records of the few rows a view shows. notesByIds keeps the order of
    // `ids` and skips ids that do not exist.
    QStringList allNoteIds() const;
    QStringList noteIdsInNotebook(const QString &notebookId) const;
    QList<Note> notesByIds(const QStringList &ids) const;
    // Stamps of the notes of allNotes(), in the same order.
    QList<NoteStamp> allNoteStamps() const;

    // The list entries of allNotes(), notesInNotebook() and search(), in the same orders, and
    // of the given ids (existing notes not in the trash, in no particular order).
    QList<NoteListEntry> listEntries() const;
    QList<NoteListEntry> listEntriesInNotebook(const QString &notebookId) const;
    // With a `limit`, only the first that many, for a screenful shown before the rest is read.
    QList<NoteListEntry> searchListEntries(const QString &text, int limit = -1) const;
    // searchListEntries on a connection of the caller's thread, for reading a long result
    // away from the window; nothing when no words were typed.
    static QList<NoteListEntry> searchListEntriesOn(
        const QSqlDatabase &db, const QString &text, int limit = -1);
    // What a search shows before its whole list is read (searchListEntriesOn, on a thread).
    // Scoring a match costs FTS5 a pass over every note that matches, so only a search with at
    // most `rankedUpTo` matches gets the top of its ranked list; beyond that the page holds the
    // matching notes last added to the collection (highest row id, which FTS5 reads without
    // scoring), newest edit first, as the unsearched list would show them.
    struct SearchPage
    {
        QList<NoteListEntry> entries;
        bool ranked = true; // the entries are the start of searchListEntries(text)
        bool complete = true; // the entries are all of searchListEntries(text)
    };
    static constexpr int RankedUpTo = 1000;
    SearchPage searchFirstPage(const QString &text, int limit, int rankedUpTo = RankedUpTo) const;
    QList<NoteListEntry> listEntriesByIds(const QStringList &ids) const;
    // The plain text of each body (bodyPlainText) by note id; ids that do not exist are left
    // out.
    QHash<QString, QString> plainTextsByIds(const QStringList &ids) const;

    // Every write through this repository moves the serial on. changedNoteIdsSince names the
    // notes written after `serial`, or nothing when that cannot be told (a change of many notes
    // at once, a change announced from outside, or one too long ago): then re-read everything.
    quint64 changeSerial() const { return m_serial; }
    std::optional<QStringList> changedNoteIdsSince(quint64 serial) const;

    // While a batch is open, writes hold back their signals; endBatch(true) sends them, with one
    // notesChanged and one notesWritten naming every note, and endBatch(false) drops them (the
    // writes were rolled back). Batches nest; only the outermost one announces.
    void beginBatch();
    void endBatch(bool announce);

    // Bulk writing (a restore, a first pull), only inside an open transaction: the insert
    // trigger of notes_fts is dropped and inserts write both full-text rows themselves with
    // statements prepared once. With the trigger every INSERT opens a statement journal, at
    // which FTS5 flushes its pending terms to disk: thousands of notes took seconds. Dropping
    // the trigger is part of the transaction, so a rollback or a crash puts it back.
    // endBulkInsert recreates it; a false from it, or a failed full-text write in between
    // (bulkInsertFailed), means the transaction must be rolled back.
    // A large cache (32 MiB) holds the transaction's pages instead of spilling them to the WAL
    // and reading them back, for about a tenth less CPU, but the commit then writes them all in
    // one stretch: for work that keeps a window painting, the usual cache is better.
    enum class BulkCache { Usual, Large };
    bool beginBulkInsert(BulkCache cache = BulkCache::Usual);
    bool endBulkInsert();
    bool bulkInsertFailed() const { return m_bulkFailed; }

    std::optional<Note> noteById(const QString &id) const;
    bool insert(const Note &note);
    // Inserts new notes inside the caller's transaction, which must be open (NoteWriter runs
    // it): many rows per statement and no savepoint per note, since every savepoint makes both
    // full-text indexes write out what they hold. False at the first failure; the caller rolls
    // back.
    bool insertMany(const QList<Note> &notes);
    bool update(const Note &note);
    // update() on the database's background writer: `done` gets the outcome on this thread
    // (lastWriteError() tells why it failed). Every later statement of this repository waits
    // for the write; inside a batch or a bulk insert this is update().
    void updateInBackground(const Note &note, std::function<void(bool saved)> done);
    // Why the last insert or update failed (None after one that succeeded).
    WriteError lastWriteError() const { return m_lastWriteError; }
    bool softDelete(const QString &id);
    bool restore(const QString &id);
    // Removes the note with its snapshots, attachment rows, to-do setting, tasks and operations
    // in one transaction; attachment files are left to whoever listens to notePurged.
    bool purge(const QString &id);
    // Keeps updated_at so the note holds its place in time-sorted lists.
    bool moveToNotebook(const QString &noteId, const QString &notebookId);
    bool markSynced(const QString &id, int version);
    // markSynced only while the stored note still has `sent`'s version, body, notebook and
    // trash state, in one statement; false when it has changed (or the update failed).
    bool markSyncedIfUnchanged(const Note &sent, int version);
    int markAllPending();
    int trashedCount() const;
    // Key "" holds the count of all notes not in the trash.
    QMap<QString, int> noteCountsByNotebook() const;

    bool includeInTodos(const QString &noteId) const;
    bool setIncludeInTodos(const QString &noteId, bool include);
    // The notes whose include-in-to-dos setting is off, in one statement.
    QSet<QString> noteIdsExcludedFromTodos() const;

    // Sends noteDeleted (held while a batch runs) for a note that update() moved to the trash.
    void announceDeleted(const QString &id);

signals:
    void notesChanged();
    // Sent just before notesChanged by every write above, naming the notes it wrote, so a view
    // of one note can tell whether it has to re-read.
    void notesWritten(const QStringList &ids);
    void noteDeleted(const QString &id);
    // attachmentIds names the attachment rows removed with the note: their files are the
    // listener's to delete (AttachmentRepository::deleteForNote takes both arguments).
    void notePurged(const QString &id, const QStringList &attachmentIds);

private:
    QList<Note> queryNotes(const QString &sql, const QVariantList &values = {}) const;
    QStringList queryIds(const QString &sql, const QVariantList &values = {}) const;
    bool writeNote(const QString &sql, const Note &note, bool isInsert);
    bool writeNoteInBulk(const QVariantList &values, const Note &note, bool isInsert);
    QList<NoteListEntry> queryListEntries(const QString &sql, const QVariantList &values) const;
    void recordChange(const QString &id);
    void recordBulkChange();
    // Records the write and sends notesWritten and notesChanged, or holds them for the batch.
    void announceWrite(const QString &id);

    struct HeldSignals
    {
        QStringList written;
        QSet<QString> writtenSet; // the same ids, for the duplicate check of a large batch
        QStringList deleted;
        QList<QPair<QString, QStringList>> purged;
    };

    Database *m_database; // not owned
    quint64 m_serial = 0;
    quint64 m_bulkSerial = 0;
    // (serial, note id) of the latest writes, oldest first; bounded.
    QList<QPair<quint64, QString>> m_journal;
    // Set by a write just before it announces itself, so an announcement without one is seen.
    bool m_recorded = false;
    int m_batchDepth = 0;
    HeldSignals m_held;
    WriteError m_lastWriteError;
    struct BulkStatements;
    std::unique_ptr<BulkStatements> m_bulk;
    bool m_bulkFailed = false;
};
