#include "notewriter.h"

#include "database.h"
#include "notebookrepository.h"
#include "noterepository.h"

#include <QDateTime>
#include <QDebug>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

QString NoteWriter::newNoteBody()
{
    return QStringLiteral("[{\"insert\":\"\\n\"}]");
}

NoteWriter::NoteWriter(
    Database *database, NoteRepository *notes, NotebookRepository *notebooks, QObject *parent)
    : QObject(parent), m_database(database), m_notes(notes), m_notebooks(notebooks)
{ }

bool NoteWriter::inSavepoint(const std::function<bool()> &work)
{
    if (m_transactionDepth == 0)
        return inTransaction(work);
    QSqlQuery control(m_database->connection());
    if (!control.exec(QStringLiteral("SAVEPOINT note_writer_part"))) {
        qWarning().noquote() << "NoteWriter: can't open a savepoint:" << control.lastError().text();
        return false;
    }
    ++m_transactionDepth;
    const bool ok = work();
    --m_transactionDepth;
    if (!ok)
        control.exec(QStringLiteral("ROLLBACK TO note_writer_part"));
    control.exec(QStringLiteral("RELEASE note_writer_part"));
    return ok;
}

bool NoteWriter::inTransaction(const std::function<bool()> &work)
{
    if (m_transactionDepth > 0) {
        ++m_transactionDepth;
        const bool ok = work();
        --m_transactionDepth;
        return ok;
    }
    QSqlDatabase db = m_database->connection();
    m_lastError = WriteError();
    if (!db.transaction()) {
        m_lastError = WriteError::fromSql(db.lastError());
        qWarning().noquote() << "NoteWriter: can't begin a transaction:" << db.lastError().text();
        return false;
    }
    ++m_transactionDepth;
    m_notes->beginBatch();
    m_notebooks->beginBatch();
    bool ok = work();
    if (ok && !db.commit()) {
        m_lastError = WriteError::fromSql(db.lastError());
        qWarning().noquote() << "NoteWriter: commit failed:" << db.lastError().text();
        ok = false;
    }
    if (!ok)
        db.rollback();
    --m_transactionDepth;
    // Views re-read on these signals, so they go out only once the data is final.
    m_notebooks->endBatch(ok);
    m_notes->endBatch(ok);
    return ok;
}

bool NoteWriter::inBulkTransaction(
    const std::function<bool()> &work, NoteRepository::BulkCache cache)
{
    if (m_transactionDepth > 0)
        return inTransaction(work);
    return inTransaction([&] {
        // Without the bulk path the same work is only slower, unless the trigger could not be
        // put back: then nothing may be inserted.
        const bool bulk = m_notes->beginBulkInsert(cache);
        if (!bulk && m_notes->bulkInsertFailed())
            return false;
        const bool ok = work();
        const bool ended = !bulk || m_notes->endBulkInsert();
        return ok && ended;
    });
}

std::optional<Note> NoteWriter::createNote(const QString &notebookId, const QString &body)
{
    Note note;
    note.id = newId();
    note.notebookId = notebookId;
    note.body = body.isEmpty() ? newNoteBody() : body;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    note.createdAt = now;
    note.updatedAt = now;
    note.modifiedAt = now;
    m_lastError = WriteError();
    if (!m_notes->insert(note)) {
        m_lastError = m_notes->lastWriteError();
        return std::nullopt;
    }
    return note;
}

bool NoteWriter::insertNotes(const QList<Note> &notes)
{
    const auto work = [&] { return m_notes->insertMany(notes); };
    // The bulk path changes the schema twice, which only pays off over many notes.
    constexpr int BulkFrom = 64;
    const bool ok = notes.size() >= BulkFrom ? inBulkTransaction(work) : inTransaction(work);
    if (!ok && !m_lastError.failed())
        m_lastError = m_notes->lastWriteError();
    return ok;
}

bool NoteWriter::isReadOnlyShare(const Note &note)
{
    return !note.ownerId.isEmpty() && note.permission != QLatin1String("edit");
}

std::optional<Note> NoteWriter::bodyChange(const Note &note, const QString &body)
{
    m_lastError = WriteError();
    if (body == note.body)
        return std::nullopt;
    if (isReadOnlyShare(note)) {
        qWarning() << "NoteWriter::saveBody refused: the note is shared read-only";
        return std::nullopt;
    }
    Note changed = note;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    changed.body = body;
    changed.updatedAt = now;
    changed.modifiedAt = now;
    changed.version = note.version + 1;
    changed.syncStatus = SyncStatus::Pending;
    return changed;
}

bool NoteWriter::saveBodyInBackground(
    const Note &note, const QString &body, std::function<void(bool, const Note &)> done)
{
    const std::optional<Note> changed = bodyChange(note, body);
    if (!changed)
        return false;
    m_notes->updateInBackground(
        *changed, [self = QPointer<NoteWriter>(this), changed = *changed, done](bool saved) {
            if (self)
                self->m_lastError = saved ? WriteError() : self->m_notes->lastWriteError();
            done(saved, changed);
        });
    return true;
}

bool NoteWriter::saveBody(Note &note, const QString &body)
{
    const std::optional<Note> change = bodyChange(note, body);
    if (!change)
        return false;
    const Note &changed = *change;
    if (!m_notes->update(changed)) {
        m_lastError = m_notes->lastWriteError();
        return false;
    }
    note = changed;
    return true;
}

bool NoteWriter::saveBody(const QString &noteId, const QString &body)
{
    std::optional<Note> note = m_notes->noteById(noteId);
    m_lastError = WriteError();
    return note && saveBody(*note, body);
}

bool NoteWriter::moveNote(const QString &noteId, const QString &notebookId)
{
    const std::optional<Note> note = m_notes->noteById(noteId);
    if (!note || note->notebookId == notebookId)
        return false;
    if (isReadOnlyShare(*note)) {
        qWarning() << "NoteWriter::moveNote refused: the note is shared read-only";
        return false;
    }
    if (!notebookId.isEmpty() && !m_notebooks->notebookById(notebookId))
        return false;
    return m_notes->moveToNotebook(noteId, notebookId);
}

bool NoteWriter::trashNote(const QString &noteId)
{
    const std::optional<Note> note = m_notes->noteById(noteId);
    if (note && isReadOnlyShare(*note)) {
        qWarning() << "NoteWriter::trashNote refused: the note is shared read-only";
        return false;
    }
    return m_notes->softDelete(noteId);
}

bool NoteWriter::restoreNote(const QString &noteId)
{
    return m_notes->restore(noteId);
}

bool NoteWriter::purgeNote(const QString &noteId)
{
    return m_notes->purge(noteId);
}

int NoteWriter::emptyTrash()
{
    int purged = 0;
    const bool ok = inTransaction([&] {
        for (const Note &note : m_notes->trashedNotes()) {
            if (!m_notes->purge(note.id))
                return false;
            ++purged;
        }
        return true;
    });
    return ok ? purged : -1;
}

std::optional<Notebook> NoteWriter::createNotebook(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    Notebook notebook;
    notebook.id = newId();
    notebook.name = trimmed;
    notebook.createdAt = QDateTime::currentDateTimeUtc();
    notebook.updatedAt = notebook.createdAt;
    if (!m_notebooks->insert(notebook))
        return std::nullopt;
    return notebook;
}

bool NoteWriter::renameNotebook(const QString &notebookId, const QString &name)
{
    std::optional<Notebook> notebook = m_notebooks->notebookById(notebookId);
    const QString trimmed = name.trimmed();
    if (!notebook || trimmed.isEmpty() || trimmed == notebook->name)
        return false;
    notebook->name = trimmed;
    notebook->updatedAt = QDateTime::currentDateTimeUtc();
    notebook->version += 1;
    notebook->syncStatus = SyncStatus::Pending;
    return m_notebooks->update(*notebook);
}

bool NoteWriter::deleteNotebook(const QString &notebookId)
{
    if (notebookId.isEmpty() || !m_notebooks->notebookById(notebookId))
        return false;
    return inTransaction([&] {
        QList<Note> members = m_notes->notesInNotebook(notebookId);
        // Trashed notes too: restored later, they would otherwise point at a deleted notebook.
        for (const Note &note : m_notes->trashedNotes()) {
            if (note.notebookId == notebookId)
                members.append(note);
        }
        for (const Note &note : members) {
            if (!m_notes->moveToNotebook(note.id, QString())) {
                qWarning().noquote() << "NoteWriter::deleteNotebook: can't move note" << note.id
                                     << "out of notebook" << notebookId << "- notebook kept";
                return false;
            }
        }
        return m_notebooks->softDelete(notebookId);
    });
}

bool NoteWriter::insertRestoredNote(const Note &note)
{
    return m_notes->insert(note);
}

bool NoteWriter::replaceWithRestoredNote(const Note &note)
{
    return m_notes->noteById(note.id) && m_notes->update(note);
}

bool NoteWriter::insertRestoredNotebook(const Notebook &notebook)
{
    return m_notebooks->insert(notebook);
}

bool NoteWriter::replaceWithRestoredNotebook(const Notebook &notebook)
{
    return m_notebooks->notebookById(notebook.id) && m_notebooks->update(notebook);
}

bool NoteWriter::storePulledNote(const Note &note, const std::optional<Note> &local)
{
    Note stored = note;
    stored.syncStatus = SyncStatus::Synced;
    stored.opVersion = 0;
    stored.isSample = false;
    if (!local)
        return m_notes->insert(stored);
    if (!m_notes->update(stored))
        return false;
    if (stored.deletedAt && !local->deletedAt)
        m_notes->announceDeleted(stored.id);
    return true;
}

bool NoteWriter::storePulledNotebook(const Notebook &notebook)
{
    std::optional<Notebook> local = m_notebooks->notebookById(notebook.id);
    if (!local) {
        Notebook stored = notebook;
        stored.syncStatus = SyncStatus::Synced;
        return m_notebooks->insert(stored);
    }
    local->name = notebook.name;
    local->isDefault = notebook.isDefault;
    local->isShared = notebook.isShared;
    local->createdAt = notebook.createdAt;
    local->updatedAt = notebook.updatedAt;
    local->version = notebook.version;
    local->syncStatus = SyncStatus::Synced;
    return m_notebooks->update(*local);
}

bool NoteWriter::markNoteSynced(const Note &sent, int version)
{
    return m_notes->markSyncedIfUnchanged(sent, version);
}

bool NoteWriter::markNotebookSynced(const Notebook &sent, int version)
{
    std::optional<Notebook> stored = m_notebooks->notebookById(sent.id);
    if (!stored || stored->name != sent.name || stored->version != sent.version
        || stored->deletedAt.has_value() != sent.deletedAt.has_value())
        return false;
    stored->syncStatus = SyncStatus::Synced;
    stored->version = version;
    return m_notebooks->update(*stored);
}

int NoteWriter::markAllPending()
{
    int marked = 0;
    const bool ok = inTransaction([&] {
        marked = m_notes->markAllPending();
        m_notebooks->markAllPending();
        return true;
    });
    return ok ? marked : -1;
}
