#include "noterepository.h"

#include "backgroundwriter.h"
#include "database.h"
#include "schema.h"
#include "searchindex.h"
#include "searchquery.h"
#include "searchtext.h"
#include "sqlutil.h"
#include "storagetime.h"

#include <QDebug>
#include <QHash>
#include <QPointer>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <utility>

using SqlUtil::nonNull;
using SqlUtil::textOrNull;

namespace {

// SQLite limits the number of bound values per statement; stay well below the smallest limit.
constexpr int kIdsPerStatement = 500;
// Enough for every write between two refreshes of a view; older readers re-read everything.
constexpr int kJournalSize = 512;
// Page cache of a bulk insert with a large cache, in KiB (negative: SQLite's unit for KiB).
constexpr int BulkCacheKiB = -32768;

// The body sits third in a note row and is often longer than a page, so reading any column
// after it walks the body's overflow pages. Lists read these indexes instead.
const char *const kListIndexes[] = {
    "CREATE INDEX IF NOT EXISTS idx_notes_list ON notes(deleted_at, updated_at, id, notebook_id, "
    "modified_at, version, sync_status, is_shared)",
    "CREATE INDEX IF NOT EXISTS idx_notes_notebook_list ON notes(notebook_id, deleted_at, "
    "updated_at, id, modified_at, version, sync_status, is_shared)",
};

const char kSearchTable[] = "notes_text_fts";

const char kInsertNotes[]
    = "INSERT INTO notes (id, notebook_id, body, created_at, updated_at, modified_at, deleted_at, "
      "version, op_version, sync_status, is_sample, owner_id, is_shared, permission) VALUES ";
const char kNoteRow[] = "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The bound values of a kNoteRow, or of an update (which has no id or creation time up front
// and names the note last).
QVariantList noteValues(const Note &note, bool isInsert)
{
    QVariantList values;
    if (isInsert)
        values << note.id;
    values << nonNull(note.notebookId) << nonNull(note.body);
    if (isInsert)
        values << toStorageTime(note.createdAt);
    values << toStorageTime(note.updatedAt) << toStorageTime(note.modifiedAt)
           << (note.deletedAt ? QVariant(toStorageTime(*note.deletedAt)) : QVariant())
           << note.version << note.opVersion << syncStatusText(note.syncStatus)
           << (note.isSample ? 1 : 0) << textOrNull(note.ownerId) << (note.isShared ? 1 : 0)
           << textOrNull(note.permission);
    if (!isInsert)
        values << note.id;
    return values;
}
const char kUpdateNote[] = "UPDATE notes SET notebook_id=?, body=?, updated_at=?, modified_at=?, "
                           "deleted_at=?, version=?, op_version=?, sync_status=?, is_sample=?, "
                           "owner_id=?, is_shared=?, permission=? WHERE id=?";

const char kListColumns[] = "id, notebook_id, updated_at, modified_at, version, sync_status, "
                            "is_shared";

Note noteFromRow(const QSqlQuery &query)
{
    Note note;
    note.id = query.value(QStringLiteral("id")).toString();
    note.notebookId = nonNull(query.value(QStringLiteral("notebook_id")).toString());
    note.body = query.value(QStringLiteral("body")).toString();
    note.createdAt = fromStorageTime(query.value(QStringLiteral("created_at")).toString());
    note.updatedAt = fromStorageTime(query.value(QStringLiteral("updated_at")).toString());
    note.modifiedAt = fromStorageTime(query.value(QStringLiteral("modified_at")).toString());
    const QString deletedAt = query.value(QStringLiteral("deleted_at")).toString();
    if (!deletedAt.isEmpty())
        note.deletedAt = fromStorageTime(deletedAt);
    note.version = query.value(QStringLiteral("version")).toInt();
    note.opVersion = query.value(QStringLiteral("op_version")).toInt();
    note.syncStatus = syncStatusFromText(query.value(QStringLiteral("sync_status")).toString());
    note.isSample = query.value(QStringLiteral("is_sample")).toBool();
    note.ownerId = query.value(QStringLiteral("owner_id")).toString();
    note.isShared = query.value(QStringLiteral("is_shared")).toBool();
    note.permission = query.value(QStringLiteral("permission")).toString();
    return note;
}

// Every full-text search: `columns` (unqualified) of the notes not in the trash that match,
// best match first, or, when only exclusions were typed, of all notes but the excluded ones in
// list order. The typed text reaches FTS5 only as built by searchQueryFromInput.
std::pair<QString, QString> searchStatement(const char *columns, const SearchQuery &query)
{
    QStringList qualified;
    for (const QString &column : QString::fromLatin1(columns).split(QLatin1Char(',')))
        qualified.append(QStringLiteral("n.") + column.trimmed());
    const QString selected = qualified.join(QStringLiteral(", "));
    if (!query.match.isEmpty()) {
        return { QStringLiteral("SELECT %1 FROM %2 f JOIN notes n ON n.rowid = f.rowid WHERE "
                                "%2 MATCH ? AND n.deleted_at IS NULL ORDER BY f.rank")
                     .arg(selected, QLatin1String(kSearchTable)),
            query.match };
    }
    return { QStringLiteral("SELECT %1 FROM notes n WHERE n.deleted_at IS NULL AND n.rowid NOT IN "
                            "(SELECT rowid FROM %2 WHERE %2 MATCH ?) ORDER BY n.updated_at DESC")
                 .arg(selected, QLatin1String(kSearchTable)),
        query.excluded };
}

QList<NoteListEntry> listEntriesOn(
    const QSqlDatabase &db, const QString &sql, const QVariantList &values)
{
    QList<NoteListEntry> entries;
    QSqlQuery query(db);
    if (!SqlUtil::run(query, sql, values))
        return entries;
    while (query.next()) {
        NoteListEntry entry;
        entry.id = query.value(0).toString();
        entry.notebookId = nonNull(query.value(1).toString());
        entry.updatedAt = query.value(2).toString();
        entry.modifiedAt = query.value(3).toString();
        entry.version = query.value(4).toInt();
        entry.syncStatus = syncStatusFromText(query.value(5).toString());
        entry.isShared = query.value(6).toInt() != 0;
        entries.append(entry);
    }
    return entries;
}

QString nowText()
{
    return toStorageTime(QDateTime::currentDateTimeUtc());
}

} // namespace

// Prepared once for a bulk insert, after the trigger is gone, so they are compiled without it.
struct NoteRepository::BulkStatements
{
    explicit BulkStatements(const QSqlDatabase &db)
        : insertNote(db), updateNote(db), indexBody(db), rowidOf(db), dropText(db), insertText(db)
    { }

    bool prepare()
    {
        const std::pair<QSqlQuery *, QString> statements[] = {
            { &insertNote, QLatin1String(kInsertNotes) + QLatin1String(kNoteRow) },
            { &updateNote, QLatin1String(kUpdateNote) },
            { &indexBody, QStringLiteral("INSERT INTO notes_fts(rowid, body) VALUES (?, ?)") },
            { &rowidOf, QStringLiteral("SELECT rowid FROM notes WHERE id = ?") },
            { &dropText, QStringLiteral("DELETE FROM notes_text_fts WHERE rowid = ?") },
            { &insertText,
                QStringLiteral("INSERT INTO notes_text_fts(rowid, title, body) VALUES (?, ?, ?)") },
        };
        for (const auto &[query, sql] : statements) {
            query->setForwardOnly(true);
            if (!query->prepare(sql)) {
                error = query->lastError();
                return false;
            }
        }
        return true;
    }

    QSqlQuery insertNote;
    QSqlQuery updateNote;
    QSqlQuery indexBody;
    QSqlQuery rowidOf;
    QSqlQuery dropText;
    QSqlQuery insertText;
    QSqlError error;
    int cacheSize = -2000; // SQLite's default
};

NoteRepository::NoteRepository(Database *database, QObject *parent)
    : QObject(parent), m_database(database)
{
    QSqlQuery query(m_database->connection());
    for (const char *statement : kListIndexes) {
        // Without them lists are slower, not wrong.
        if (!query.exec(QString::fromLatin1(statement)))
            qWarning().noquote() << "NoteRepository: list index not created:"
                                 << query.lastError().text();
    }
    // Connected first, so it runs before any listener asks what changed.
    connect(this, &NoteRepository::notesChanged, this, [this] {
        if (!m_recorded)
            recordBulkChange();
        m_recorded = false;
    });
}

NoteRepository::~NoteRepository() = default;

void NoteRepository::recordChange(const QString &id)
{
    ++m_serial;
    m_journal.append(qMakePair(m_serial, id));
    if (m_journal.size() > kJournalSize)
        m_journal.remove(0, m_journal.size() - kJournalSize);
    m_recorded = true;
}

void NoteRepository::recordBulkChange()
{
    ++m_serial;
    m_bulkSerial = m_serial;
    m_journal.clear();
}

void NoteRepository::announceWrite(const QString &id)
{
    recordChange(id);
    if (m_batchDepth > 0) {
        if (!m_held.writtenSet.contains(id)) {
            m_held.writtenSet.insert(id);
            m_held.written.append(id);
        }
        return;
    }
    emit notesWritten({ id });
    emit notesChanged();
}

void NoteRepository::beginBatch()
{
    ++m_batchDepth;
}

void NoteRepository::endBatch(bool announce)
{
    Q_ASSERT(m_batchDepth > 0);
    if (m_batchDepth <= 0 || --m_batchDepth > 0)
        return;
    const HeldSignals held = std::exchange(m_held, HeldSignals());
    if (!announce || held.written.isEmpty()) {
        // Rolled back: nothing a view shows has changed, but the journal cannot tell which of
        // its recorded ids are real, so readers re-read.
        if (!held.written.isEmpty())
            recordBulkChange();
        m_recorded = false;
        return;
    }
    for (const QString &id : held.deleted)
        emit noteDeleted(id);
    for (const auto &purged : held.purged)
        emit notePurged(purged.first, purged.second);
    emit notesWritten(held.written);
    emit notesChanged();
}

std::optional<QStringList> NoteRepository::changedNoteIdsSince(quint64 serial) const
{
    if (serial > m_serial || serial < m_bulkSerial)
        return std::nullopt;
    if (serial == m_serial)
        return QStringList();
    if (m_journal.isEmpty() || m_journal.first().first > serial + 1)
        return std::nullopt;
    QStringList ids;
    for (auto it = m_journal.crbegin(); it != m_journal.crend() && it->first > serial; ++it) {
        if (!ids.contains(it->second))
            ids.append(it->second);
    }
    return ids;
}

QList<NoteListEntry> NoteRepository::queryListEntries(
    const QString &sql, const QVariantList &values) const
{
    return listEntriesOn(m_database->connection(), sql, values);
}

QList<NoteListEntry> NoteRepository::listEntries() const
{
    return queryListEntries(QStringLiteral("SELECT %1 FROM notes WHERE "
                                           "deleted_at IS NULL ORDER BY updated_at DESC")
                                .arg(QLatin1String(kListColumns)),
        {});
}

QList<NoteListEntry> NoteRepository::listEntriesInNotebook(const QString &notebookId) const
{
    return queryListEntries(
        QStringLiteral("SELECT %1 FROM notes WHERE "
                       "notebook_id=? AND deleted_at IS NULL ORDER BY updated_at DESC")
            .arg(QLatin1String(kListColumns)),
        { nonNull(notebookId) });
}

QList<NoteListEntry> NoteRepository::searchListEntries(const QString &text, int limit) const
{
    if (searchQueryFromInput(text).isEmpty()) {
        QList<NoteListEntry> entries = listEntries();
        if (limit >= 0 && entries.size() > limit)
            entries.resize(limit);
        return entries;
    }
    return searchListEntriesOn(m_database->connection(), text, limit);
}

QList<NoteListEntry> NoteRepository::searchListEntriesOn(
    const QSqlDatabase &db, const QString &text, int limit)
{
    const SearchQuery query = searchQueryFromInput(text);
    if (query.isEmpty())
        return {};
    auto [sql, expression] = searchStatement(kListColumns, query);
    QVariantList values { expression };
    if (limit >= 0) {
        // FTS5 still scores every hit, but only the first rows are joined and read.
        sql += QStringLiteral(" LIMIT ?");
        values.append(limit);
    }
    return listEntriesOn(db, sql, values);
}

NoteRepository::SearchPage NoteRepository::searchFirstPage(
    const QString &text, int limit, int rankedUpTo) const
{
    SearchPage page;
    const SearchQuery query = searchQueryFromInput(text);
    if (query.match.isEmpty()) {
        // Nothing to score: all notes, or all but the excluded ones, in list order.
        page.entries = searchListEntries(text, limit);
        page.complete = page.entries.size() < limit;
        return page;
    }
    QSqlDatabase db = m_database->connection();
    // One walk of the index, newest rows first, stopping one past the limit: it counts the
    // matches and, when they are many, names the newest of them. A common word's list of
    // matches is read once instead of once to count and again to pick.
    QStringList newest;
    {
        QSqlQuery rows(db);
        rows.setForwardOnly(true);
        if (!SqlUtil::run(rows,
                QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ? ORDER BY rowid DESC LIMIT ?")
                    .arg(QLatin1String(kSearchTable)),
                { query.match, rankedUpTo + 1 }))
            return page;
        while (rows.next())
            newest.append(QString::number(rows.value(0).toLongLong()));
    }
    if (newest.size() <= rankedUpTo) {
        page.entries = searchListEntriesOn(db, text, limit);
        page.complete = page.entries.size() < limit;
        return page;
    }

    page.ranked = false;
    page.complete = false;
    // Row ids are SQLite's own integers, written into the statement as numbers; a chunk
    // more is read only when notes in the trash leave the page short.
    for (qsizetype from = 0; from < newest.size() && page.entries.size() < limit; from += limit) {
        page.entries += listEntriesOn(db,
            QStringLiteral("SELECT id, notebook_id, updated_at, modified_at, version, "
                           "sync_status, is_shared FROM notes WHERE rowid IN (%1) AND "
                           "deleted_at IS NULL ORDER BY rowid DESC")
                .arg(newest.mid(from, limit).join(QLatin1Char(','))),
            {});
    }
    page.entries.resize(qMin<qsizetype>(page.entries.size(), limit));
    std::stable_sort(page.entries.begin(), page.entries.end(),
        [](const NoteListEntry &a, const NoteListEntry &b) { return a.updatedAt > b.updatedAt; });
    return page;
}

QList<NoteListEntry> NoteRepository::listEntriesByIds(const QStringList &ids) const
{
    QList<NoteListEntry> entries;
    for (qsizetype start = 0; start < ids.size(); start += kIdsPerStatement) {
        const QStringList chunk = ids.mid(start, kIdsPerStatement);
        QVariantList values(chunk.cbegin(), chunk.cend());
        const QString placeholders = QStringLiteral("?,").repeated(int(chunk.size())).chopped(1);
        entries += queryListEntries(
            QStringLiteral("SELECT %1 FROM notes WHERE id IN (%2) AND deleted_at IS NULL")
                .arg(QLatin1String(kListColumns), placeholders),
            values);
    }
    return entries;
}

QHash<QString, QString> NoteRepository::plainTextsByIds(const QStringList &ids) const
{
    QHash<QString, QString> texts;
    for (qsizetype start = 0; start < ids.size(); start += kIdsPerStatement) {
        const QStringList chunk = ids.mid(start, kIdsPerStatement);
        QVariantList values(chunk.cbegin(), chunk.cend());
        const QString placeholders = QStringLiteral("?,").repeated(int(chunk.size())).chopped(1);
        QSqlQuery query(m_database->connection());
        // As a blob the body comes as stored, in UTF-8, which the reader takes as it is:
        // as text the driver would convert it to UTF-16 and the reader back again.
        if (!SqlUtil::run(query,
                QStringLiteral("SELECT id, CAST(body AS BLOB) FROM notes WHERE id IN (%1)")
                    .arg(placeholders),
                values))
            continue;
        while (query.next())
            texts.insert(query.value(0).toString(), bodyPlainText(query.value(1).toByteArray()));
    }
    return texts;
}

QList<Note> NoteRepository::queryNotes(const QString &sql, const QVariantList &values) const
{
    QList<Note> notes;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, sql, values))
        return notes;
    while (query.next())
        notes.append(noteFromRow(query));
    return notes;
}

QStringList NoteRepository::queryIds(const QString &sql, const QVariantList &values) const
{
    QStringList ids;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, sql, values))
        return ids;
    while (query.next())
        ids.append(query.value(0).toString());
    return ids;
}

QList<Note> NoteRepository::allNotes() const
{
    return queryNotes(
        QStringLiteral("SELECT * FROM notes WHERE deleted_at IS NULL ORDER BY updated_at DESC"));
}

QList<Note> NoteRepository::notesInNotebook(const QString &notebookId) const
{
    return queryNotes(QStringLiteral("SELECT * FROM notes WHERE notebook_id=? AND deleted_at IS "
                                     "NULL ORDER BY updated_at DESC"),
        { nonNull(notebookId) });
}

QList<Note> NoteRepository::trashedNotes() const
{
    return queryNotes(QStringLiteral(
        "SELECT * FROM notes WHERE deleted_at IS NOT NULL ORDER BY deleted_at DESC"));
}

QList<Note> NoteRepository::pendingNotes() const
{
    return queryNotes(QStringLiteral("SELECT * FROM notes WHERE sync_status = 'pending'"));
}

bool NoteRepository::hasPendingNotes() const
{
    QSqlQuery query(m_database->connection());
    return SqlUtil::run(
               query, QStringLiteral("SELECT 1 FROM notes WHERE sync_status = 'pending' LIMIT 1"))
        && query.next();
}

QList<Note> NoteRepository::sharedWithMe() const
{
    return queryNotes(QStringLiteral("SELECT * FROM notes WHERE owner_id IS NOT NULL AND owner_id "
                                     "!= '' AND deleted_at IS NULL ORDER BY updated_at DESC"));
}

QList<Note> NoteRepository::sharedByMe() const
{
    return queryNotes(
        QStringLiteral("SELECT * FROM notes WHERE is_shared = 1 AND (owner_id IS NULL OR owner_id "
                       "= '') AND deleted_at IS NULL ORDER BY updated_at DESC"));
}

QList<Note> NoteRepository::search(const QString &text) const
{
    const SearchQuery query = searchQueryFromInput(text);
    if (query.isEmpty())
        return allNotes();
    const auto [sql, expression] = searchStatement("*", query);
    return queryNotes(sql, { expression });
}

QStringList NoteRepository::allNoteIds() const
{
    return queryIds(
        QStringLiteral("SELECT id FROM notes WHERE deleted_at IS NULL ORDER BY updated_at DESC"));
}

QStringList NoteRepository::noteIdsInNotebook(const QString &notebookId) const
{
    return queryIds(QStringLiteral("SELECT id FROM notes WHERE notebook_id=? AND deleted_at IS "
                                   "NULL ORDER BY updated_at DESC"),
        { nonNull(notebookId) });
}

QList<NoteStamp> NoteRepository::allNoteStamps() const
{
    QList<NoteStamp> stamps;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("SELECT id, updated_at, modified_at, version, owner_id, permission "
                           "FROM notes WHERE deleted_at IS NULL ORDER BY updated_at DESC")))
        return stamps;
    while (query.next()) {
        NoteStamp stamp;
        stamp.id = query.value(0).toString();
        stamp.updatedAt = query.value(1).toString();
        stamp.modifiedAt = query.value(2).toString();
        stamp.version = query.value(3).toInt();
        stamp.ownerId = query.value(4).toString();
        stamp.permission = query.value(5).toString();
        stamps.append(stamp);
    }
    return stamps;
}

QList<Note> NoteRepository::notesByIds(const QStringList &ids) const
{
    QHash<QString, Note> found;
    for (qsizetype start = 0; start < ids.size(); start += kIdsPerStatement) {
        const QStringList chunk = ids.mid(start, kIdsPerStatement);
        QStringList placeholders;
        QVariantList values;
        for (const QString &id : chunk) {
            placeholders.append(QStringLiteral("?"));
            values.append(id);
        }
        const QString sql = QStringLiteral("SELECT * FROM notes WHERE id IN (%1)")
                                .arg(placeholders.join(QLatin1Char(',')));
        for (const Note &note : queryNotes(sql, values))
            found.insert(note.id, note);
    }
    QList<Note> notes;
    notes.reserve(found.size());
    for (const QString &id : ids) {
        if (const auto it = found.constFind(id); it != found.constEnd())
            notes.append(it.value());
    }
    return notes;
}

std::optional<Note> NoteRepository::noteById(const QString &id) const
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, QStringLiteral("SELECT * FROM notes WHERE id = ?"), { id })
        || !query.next())
        return std::nullopt;
    return noteFromRow(query);
}

namespace {

// A note's row and its search text, committed together on `db`; a savepoint, so this also
// works inside a caller's transaction.
WriteError writeNoteOn(QSqlDatabase db, const QString &sql, const QVariantList &values,
    const Note &note, bool isInsert)
{
    QSqlQuery control(db);
    const bool inSavepoint = control.exec(QStringLiteral("SAVEPOINT note_write"));
    QSqlQuery query(db);
    const auto fail = [&](const QSqlError &error) {
        qWarning().noquote() << (isInsert ? "NoteRepository::insert failed:"
                                          : "NoteRepository::update failed:")
                             << error.text();
        query.finish();
        if (inSavepoint) {
            control.exec(QStringLiteral("ROLLBACK TO note_write"));
            control.exec(QStringLiteral("RELEASE note_write"));
        }
        return WriteError::fromSql(error);
    };
    if (!SqlUtil::run(query, sql, values))
        return fail(query.lastError());
    query.finish();
    // A note is never lost to its index: if indexing fails the note is saved all the same and
    // indexed at the next start.
    if (!SearchIndex::write(db, note.id, nonNull(note.body)))
        qWarning().noquote() << "NoteRepository: search text not indexed:" << note.id;
    // Outside a caller's transaction the release is the commit, and in WAL mode that is where a
    // full disk shows: a failed release is a failed write, not a saved note.
    if (inSavepoint && !control.exec(QStringLiteral("RELEASE note_write")))
        return fail(control.lastError());
    return WriteError();
}

} // namespace

bool NoteRepository::writeNote(const QString &sql, const Note &note, bool isInsert)
{
    const QVariantList values = noteValues(note, isInsert);
    if (m_bulk)
        return writeNoteInBulk(values, note, isInsert);
    m_lastWriteError = writeNoteOn(m_database->connection(), sql, values, note, isInsert);
    if (m_lastWriteError.failed())
        return false;
    announceWrite(note.id);
    return true;
}

bool NoteRepository::insert(const Note &note)
{
    return writeNote(QLatin1String(kInsertNotes) + QLatin1String(kNoteRow), note, true);
}

bool NoteRepository::insertMany(const QList<Note> &notes)
{
    // During a bulk insert the notes_fts trigger is gone and each row is indexed by hand.
    if (m_bulk) {
        for (const Note &note : notes) {
            if (!insert(note))
                return false;
        }
        return true;
    }
    // Many rows per statement, as each statement opens a statement journal, and with it both
    // full-text indexes write out what they hold. 64 rows of 14 values stay below every limit
    // of bound values SQLite has had.
    constexpr qsizetype RowsPerStatement = 64;
    QSqlDatabase db = m_database->connection();
    QSqlQuery query(db);
    qsizetype preparedRows = 0;
    for (qsizetype first = 0; first < notes.size(); first += RowsPerStatement) {
        const qsizetype rows = std::min(RowsPerStatement, notes.size() - first);
        if (rows != preparedRows) {
            QStringList values;
            for (qsizetype i = 0; i < rows; ++i)
                values << QLatin1String(kNoteRow);
            if (!query.prepare(QLatin1String(kInsertNotes) + values.join(QLatin1String(", ")))) {
                m_lastWriteError = WriteError::fromSql(query.lastError());
                qWarning().noquote()
                    << "NoteRepository::insert failed:" << query.lastError().text();
                return false;
            }
            preparedRows = rows;
        }
        QList<QPair<QString, QString>> indexed;
        int position = 0;
        for (qsizetype i = first; i < first + rows; ++i) {
            const Note &note = notes.at(i);
            for (const QVariant &value : noteValues(note, true))
                query.bindValue(position++, value);
            indexed.append({ note.id, nonNull(note.body) });
        }
        if (!query.exec()) {
            m_lastWriteError = WriteError::fromSql(query.lastError());
            qWarning().noquote() << "NoteRepository::insert failed:" << query.lastError().text();
            return false;
        }
        // As for a single note: a note is never lost to its index.
        if (!SearchIndex::writeNew(db, indexed))
            qWarning().noquote() << "NoteRepository: search text not indexed for some of"
                                 << indexed.size() << "notes";
        for (const auto &[id, body] : std::as_const(indexed))
            announceWrite(id);
    }
    m_lastWriteError = WriteError();
    return true;
}

bool NoteRepository::update(const Note &note)
{
    return writeNote(QLatin1String(kUpdateNote), note, false);
}

void NoteRepository::updateInBackground(const Note &note, std::function<void(bool)> done)
{
    BackgroundWriter *writer = m_database->backgroundWriter();
    if (!writer || m_bulk || m_batchDepth > 0) {
        done(update(note));
        return;
    }
    writer->start(
        [values = noteValues(note, false), note](QSqlDatabase db) {
            return writeNoteOn(db, QLatin1String(kUpdateNote), values, note, false);
        },
        [self = QPointer<NoteRepository>(this), id = note.id, done](const WriteError &error) {
            if (self) {
                self->m_lastWriteError = error;
                if (!error.failed())
                    self->announceWrite(id);
            }
            done(!error.failed());
        });
}

bool NoteRepository::beginBulkInsert(BulkCache cache)
{
    if (m_bulk)
        return true;
    m_bulkFailed = false;
    QSqlDatabase db = m_database->connection();
    QSqlQuery control(db);
    if (!control.exec(QStringLiteral("DROP TRIGGER IF EXISTS notes_ai"))) {
        qWarning().noquote() << "NoteRepository: bulk insert not started:"
                             << control.lastError().text();
        return false;
    }
    auto statements = std::make_unique<BulkStatements>(db);
    if (!statements->prepare()) {
        qWarning().noquote() << "NoteRepository: bulk insert not started:"
                             << statements->error.text();
        // Inserts without the trigger and without the bulk path would leave notes unindexed.
        if (!control.exec(QString::fromLatin1(notesInsertTriggerStatement())))
            m_bulkFailed = true;
        return false;
    }
    if (control.exec(QStringLiteral("PRAGMA cache_size")) && control.next())
        statements->cacheSize = control.value(0).toInt();
    control.finish();
    if (cache == BulkCache::Large)
        control.exec(QStringLiteral("PRAGMA cache_size = %1").arg(BulkCacheKiB));
    m_bulk = std::move(statements);
    return true;
}

bool NoteRepository::endBulkInsert()
{
    if (!m_bulk)
        return !m_bulkFailed;
    const int cacheSize = m_bulk->cacheSize;
    // No statement of this connection may be pending when the schema changes.
    m_bulk.reset();
    QSqlQuery control(m_database->connection());
    control.exec(QStringLiteral("PRAGMA cache_size = %1").arg(cacheSize));
    if (!control.exec(QString::fromLatin1(notesInsertTriggerStatement()))) {
        qWarning().noquote() << "NoteRepository: insert trigger not restored:"
                             << control.lastError().text();
        m_bulkFailed = true;
    }
    return !m_bulkFailed;
}

bool NoteRepository::writeNoteInBulk(const QVariantList &values, const Note &note, bool isInsert)
{
    // Every statement here is atomic on its own and the caller's transaction holds them all,
    // so no savepoint (which would flush FTS5 as a statement journal does).
    QSqlQuery &write = isInsert ? m_bulk->insertNote : m_bulk->updateNote;
    for (int i = 0; i < values.size(); ++i)
        write.bindValue(i, values.at(i));
    const bool written = write.exec();
    const QSqlError writeError = write.lastError();
    const QVariant insertedRowid = write.lastInsertId();
    write.finish();
    if (!written) {
        m_lastWriteError = WriteError::fromSql(writeError);
        qWarning().noquote() << (isInsert ? "NoteRepository::insert failed:"
                                          : "NoteRepository::update failed:")
                             << writeError.text();
        return false;
    }
    const QString body = nonNull(note.body);
    qint64 rowid = insertedRowid.toLongLong();
    if (isInsert) {
        // What the dropped trigger would have written. Without it the note's row would sit
        // beside an index that does not know it, so the whole transaction has to go.
        QSqlQuery &index = m_bulk->indexBody;
        index.bindValue(0, rowid);
        index.bindValue(1, body);
        const bool indexed = index.exec();
        index.finish();
        if (!indexed) {
            m_bulkFailed = true;
            m_lastWriteError = WriteError::fromSql(index.lastError());
            qWarning().noquote() << "NoteRepository::insert failed:" << index.lastError().text();
            return false;
        }
    } else {
        QSqlQuery &find = m_bulk->rowidOf;
        find.bindValue(0, note.id);
        rowid = find.exec() && find.next() ? find.value(0).toLongLong() : -1;
        find.finish();
    }
    // As outside a bulk insert, a note whose plain text is not indexed is saved all the same
    // and indexed at the next start.
    bool textIndexed = rowid >= 0;
    if (textIndexed) {
        const SearchableText text = searchableText(body);
        m_bulk->dropText.bindValue(0, rowid);
        m_bulk->insertText.bindValue(0, rowid);
        m_bulk->insertText.bindValue(1, text.title);
        m_bulk->insertText.bindValue(2, text.body);
        textIndexed = m_bulk->dropText.exec() && m_bulk->insertText.exec();
        m_bulk->dropText.finish();
        m_bulk->insertText.finish();
    }
    if (!textIndexed)
        qWarning().noquote() << "NoteRepository: search text not indexed:" << note.id;
    m_lastWriteError = WriteError();
    announceWrite(note.id);
    return true;
}

// Trashing, restoring and moving are changes like an edit: each takes a new version, because
// the notes server accepts only versions above the one it holds.
bool NoteRepository::softDelete(const QString &id)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notes SET deleted_at=?, sync_status='pending', "
                           "version=version+1 WHERE id=?"),
            { nowText(), id }))
        return false;
    announceDeleted(id);
    announceWrite(id);
    return true;
}

void NoteRepository::announceDeleted(const QString &id)
{
    if (m_batchDepth > 0)
        m_held.deleted.append(id);
    else
        emit noteDeleted(id);
}

bool NoteRepository::restore(const QString &id)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notes SET deleted_at=NULL, sync_status='pending', "
                           "version=version+1 WHERE id=?"),
            { id }))
        return false;
    announceWrite(id);
    return true;
}

bool NoteRepository::purge(const QString &id)
{
    QSqlDatabase db = m_database->connection();
    QSqlQuery query(db);
    // A savepoint rather than BEGIN, so a purge also works inside a caller's transaction.
    if (!query.exec(QStringLiteral("SAVEPOINT note_purge"))) {
        qWarning().noquote() << "NoteRepository::purge failed:" << query.lastError().text();
        return false;
    }

    QStringList attachmentIds;
    bool ok = SqlUtil::run(
        query, QStringLiteral("SELECT id FROM attachments WHERE note_id = ?"), { id });
    while (ok && query.next())
        attachmentIds.append(query.value(0).toString());

    // Every table whose rows must name an existing note, then the note itself.
    static const char *const statements[] = {
        "DELETE FROM note_snapshots WHERE note_id=?",
        "DELETE FROM attachments WHERE note_id=?",
        "DELETE FROM note_task_settings WHERE note_id=?",
        "DELETE FROM tasks WHERE note_id=?",
        "DELETE FROM note_operations WHERE note_id=?",
        "DELETE FROM notes WHERE id=?",
    };
    for (const char *statement : statements) {
        if (!ok)
            break;
        ok = SqlUtil::run(query, QString::fromLatin1(statement), { id });
    }

    if (!ok) {
        const QString error = query.lastError().text();
        query.finish();
        QSqlQuery undo(db);
        undo.exec(QStringLiteral("ROLLBACK TO note_purge"));
        undo.exec(QStringLiteral("RELEASE note_purge"));
        qWarning().noquote() << "NoteRepository::purge failed:" << error;
        return false;
    }
    query.finish();
    if (!query.exec(QStringLiteral("RELEASE note_purge"))) {
        const QString error = query.lastError().text();
        QSqlQuery undo(db);
        undo.exec(QStringLiteral("ROLLBACK TO note_purge"));
        undo.exec(QStringLiteral("RELEASE note_purge"));
        qWarning().noquote() << "NoteRepository::purge failed:" << error;
        return false;
    }
    if (m_batchDepth > 0)
        m_held.purged.append(qMakePair(id, attachmentIds));
    else
        emit notePurged(id, attachmentIds);
    announceWrite(id);
    return true;
}

bool NoteRepository::moveToNotebook(const QString &noteId, const QString &notebookId)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notes SET notebook_id=?, modified_at=?, "
                           "sync_status='pending', version=version+1 WHERE id=?"),
            { nonNull(notebookId), nowText(), noteId }))
        return false;
    announceWrite(noteId);
    return true;
}

bool NoteRepository::markSynced(const QString &id, int version)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notes SET sync_status='synced', version=? WHERE id=?"),
            { version, id }))
        return false;
    // Announced by the caller, if at all; the change is still one a list must see.
    recordChange(id);
    m_recorded = false;
    return true;
}

bool NoteRepository::markSyncedIfUnchanged(const Note &sent, int version)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notes SET sync_status='synced', version=? WHERE id=? AND "
                           "version=? AND body=? AND notebook_id=? AND (deleted_at IS NULL) = ?"),
            { version, sent.id, sent.version, SqlUtil::nonNull(sent.body),
                SqlUtil::nonNull(sent.notebookId), sent.deletedAt ? 0 : 1 })
        || query.numRowsAffected() != 1)
        return false;
    recordChange(sent.id);
    m_recorded = false;
    return true;
}

int NoteRepository::markAllPending()
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notes SET sync_status='pending' WHERE deleted_at IS "
                           "NULL AND sync_status != 'pending'")))
        return 0;
    recordBulkChange();
    return query.numRowsAffected();
}

int NoteRepository::trashedCount() const
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(
            query, QStringLiteral("SELECT COUNT(*) FROM notes WHERE deleted_at IS NOT NULL"))
        || !query.next())
        return 0;
    return query.value(0).toInt();
}

QMap<QString, int> NoteRepository::noteCountsByNotebook() const
{
    QMap<QString, int> counts;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            // "+" keeps deleted_at from choosing the index, so the count streams through the
            // notebook list index in notebook order instead of sorting every note.
            QStringLiteral("SELECT notebook_id, COUNT(*) AS c FROM notes WHERE "
                           "+deleted_at IS NULL GROUP BY notebook_id")))
        return counts;
    int total = 0;
    while (query.next()) {
        const int count = query.value(1).toInt();
        counts.insert(nonNull(query.value(0).toString()), count);
        total += count;
    }
    // The empty key stands for "all notes", replacing the count of notes in no notebook.
    counts.insert(QStringLiteral(""), total);
    return counts;
}

bool NoteRepository::includeInTodos(const QString &noteId) const
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("SELECT include_in_todos FROM note_task_settings WHERE note_id = ?"),
            { noteId })
        || !query.next())
        return true;
    return query.value(0).toInt() != 0;
}

QSet<QString> NoteRepository::noteIdsExcludedFromTodos() const
{
    const QStringList ids = queryIds(
        QStringLiteral("SELECT note_id FROM note_task_settings WHERE include_in_todos = 0"));
    return QSet<QString>(ids.cbegin(), ids.cend());
}

bool NoteRepository::setIncludeInTodos(const QString &noteId, bool include)
{
    QSqlQuery query(m_database->connection());
    return SqlUtil::run(query,
        QStringLiteral("INSERT INTO note_task_settings (note_id, include_in_todos) "
                       "VALUES (?, ?) ON CONFLICT(note_id) DO UPDATE SET "
                       "include_in_todos = excluded.include_in_todos"),
        { noteId, include ? 1 : 0 });
}
