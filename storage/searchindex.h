#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

// Writes of notes_text_fts, the index of what a note reads as (searchtext.h). The table and
// the triggers that drop stale rows come with the migrations.
namespace SearchIndex {

// Indexes the note `noteId` under the text of `body`, replacing what was indexed for it.
bool write(QSqlDatabase db, const QString &noteId, const QString &body);

// Indexes notes that have no row, in rowid order after `afterRowid`, until `deadline` has
// passed (a few notes at least), each slice in one savepoint; moves `afterRowid` on. The
// number indexed, 0 when no note is left without a row, or -1 on a failure (what the slice
// did is rolled back; earlier slices stay).
int fillMissingSlice(QSqlDatabase db, qint64 &afterRowid, const QDeadlineTimer &deadline);

// Indexes notes just inserted, given as (note id, body) pairs, all in one statement: each
// statement makes the index write out what it holds. A note that can't go in that way (a stale
// row of its rowid) is indexed as write() does. False when some note could not be indexed.
bool writeNew(QSqlDatabase db, const QList<QPair<QString, QString>> &notes);

// True when some note has no row: a cheap count, for the check at every start.
bool hasMissing(QSqlDatabase db);
// How many notes have no row (from the same counts), or -1.
int missingCount(QSqlDatabase db);

} // namespace SearchIndex
