#pragma once

#include "note.h"
#include "notebook.h"
#include "noterepository.h"
#include "writeerror.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class Database;
class NoteRepository;
class NotebookRepository;

// The one place where notes and notebooks are changed on this device: windows, screens and
// dialogs, and later sync, restore and the importers, write through it so the rules of a local
// change (times, version, sync status) and the transactions of multi-note changes live here.
// Listeners learn what changed from the repositories' signals (NoteRepository::notesWritten
// names the notes).
class NoteWriter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteWriter)

public:
    // The body of every new note: one empty line.
    static QString newNoteBody();
    // A note somebody else shares with this user without edit permission: its body, notebook
    // and trash state are the owner's to change, so the local-change calls below refuse it.
    static bool isReadOnlyShare(const Note &note);

    NoteWriter(Database *database, NoteRepository *notes, NotebookRepository *notebooks,
        QObject *parent = nullptr);

    // Inserts a new note (fresh id, created/updated/modified now) with `body`, or the new-note
    // body when it is empty. The stored note, or nullopt when the insert failed.
    std::optional<Note> createNote(const QString &notebookId, const QString &body = QString());
    // Inserts prepared notes (samples, imports) as they are, in one transaction: all or none.
    bool insertNotes(const QList<Note> &notes);
    // A local content change: the new body, updated/modified now, version + 1, sync pending.
    // `note` is the stored record and is updated to what was written. False when the body is
    // unchanged or the update failed.
    bool saveBody(Note &note, const QString &body);
    // saveBody on the stored note; false when it does not exist.
    bool saveBody(const QString &noteId, const QString &body);
    // Bodies from this size on are saved by saveBodyInBackground off the GUI thread.
    static constexpr qsizetype BackgroundSaveFrom = 256 * 1024;
    // saveBody for a large body: the write runs on the database's background writer and
    // `done` gets the outcome and the note as stored (lastError() tells why it failed). False,
    // with `done` never called, when there is nothing to save (as saveBody).
    bool saveBodyInBackground(const Note &note, const QString &body,
        std::function<void(bool saved, const Note &stored)> done);
    // Why the last createNote, saveBody or transaction failed; None after one that succeeded
    // or had nothing to write. A false from saveBody with no error means "nothing to save".
    WriteError lastError() const { return m_lastError; }
    // `notebookId` must name an existing notebook, or be "" for no notebook. False when the
    // note is missing or already there.
    bool moveNote(const QString &noteId, const QString &notebookId);
    bool trashNote(const QString &noteId);
    bool restoreNote(const QString &noteId);
    bool purgeNote(const QString &noteId);
    // Purges every note still in the trash, in one transaction. The number purged, or -1 when
    // the transaction failed and nothing was purged.
    int emptyTrash();

    // A new notebook named `name` (trimmed); nullopt when the name is blank or the insert failed.
    std::optional<Notebook> createNotebook(const QString &name);
    // Renames with version + 1 and sync pending. False when the notebook is missing, the name
    // is blank or unchanged, or the update failed.
    bool renameNotebook(const QString &notebookId, const QString &name);
    // Moves every note of the notebook (trashed ones too) to no notebook and soft-deletes it, in
    // one transaction: either all of that happens or nothing does.
    bool deleteNotebook(const QString &notebookId);

    // Records brought back from a backup, written exactly as given (times, version, trash
    // state, sync status): restore decides those fields, not the rules of a local edit.
    bool insertRestoredNote(const Note &note);
    bool replaceWithRestoredNote(const Note &note);
    bool insertRestoredNotebook(const Notebook &notebook);
    bool replaceWithRestoredNotebook(const Notebook &notebook);

    // Sync. Server copies are stored as they arrive: sync status synced, op version 0, no
    // sample flag. `note` replaces `local`, the stored note of its id the caller has just read,
    // or is inserted when there is none. A note the server moved to the trash is announced as
    // deleted, so open windows of it close as they do for a local delete.
    bool storePulledNote(const Note &note, const std::optional<Note> &local);
    // The notebook list's copy: inserted when new, else replaces name, flags, times and version
    // of the stored notebook (its owner and deletion time stay local).
    bool storePulledNotebook(const Notebook &notebook);
    // The server accepted `sent` as `version`. Marked synced only while the stored note is still
    // the state that was sent: an edit made while the request was under way stays pending.
    bool markNoteSynced(const Note &sent, int version);
    bool markNotebookSynced(const Notebook &sent, int version);
    // Marks every note and notebook not in the trash pending, in one transaction; the number of
    // notes marked, or -1 when nothing was marked.
    int markAllPending();

    // Runs `work` in one transaction with the repositories' signals held until it commits; a
    // false from `work` or a failed commit rolls everything back. Nested calls join the
    // outermost transaction.
    bool inTransaction(const std::function<bool()> &work);
    // As inTransaction, for writing thousands of notes at once (a restore, a first pull): new
    // notes go through NoteRepository's bulk insert, with the page cache `cache`. Inside an
    // open transaction it is inTransaction.
    bool inBulkTransaction(const std::function<bool()> &work,
        NoteRepository::BulkCache cache = NoteRepository::BulkCache::Usual);
    // As inTransaction, but inside an open transaction a false from `work` undoes only what
    // `work` wrote (a savepoint), and the caller's transaction goes on.
    bool inSavepoint(const std::function<bool()> &work);

private:
    // The note with `body` saved into it, or nullopt when there is nothing to save.
    std::optional<Note> bodyChange(const Note &note, const QString &body);
    Database *m_database; // not owned
    NoteRepository *m_notes; // not owned
    NotebookRepository *m_notebooks; // not owned
    int m_transactionDepth = 0;
    WriteError m_lastError;
};
