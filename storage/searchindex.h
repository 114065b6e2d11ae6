#pragma once

#include <QSqlDatabase>
#include <QString>

#include <functional>

// Writes of notes_text_fts, the index of what a note reads as (searchtext.h). The table and
// the triggers that drop stale rows come with migration 3.
namespace SearchIndex {

// Indexes the note `noteId` under the text of `body`, replacing what was indexed for it.
bool write(QSqlDatabase db, const QString &noteId, const QString &body);

// Indexes every note that has no row, 500 notes per savepoint; `progress` (may be empty)
// hears (done, total) after each. The number indexed, or -1 on a
// failure (the notes indexed so far stay indexed).
int fillMissing(QSqlDatabase db, const std::function<void(int, int)> &progress = {});

// True when some note has no row: a cheap count, for the check at every start.
bool hasMissing(QSqlDatabase db);

} // namespace SearchIndex
