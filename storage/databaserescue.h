#pragma once

#include <QDateTime>
#include <QString>

class NoteWriter;
class SnapshotRepository;

// What can be done with a database file that fails to open or to pass its check: move it out
// of the way without touching its content, and read back what SQLite can still recover.
namespace DatabaseRescue {

// The dated name a damaged file is moved to, beside it ("….damaged-20261208-170102.db"); a
// counter is added when that name is taken.
QString setAsidePath(const QString &databasePath, const QDateTime &when);
// Renames the file, with its "-wal" and "-shm" companions (the WAL holds committed changes),
// to setAsidePath. Never deletes or writes anything. The new path, or empty when the file
// could not be moved (then nothing was moved).
QString setAside(const QString &databasePath);

struct Recovered
{
    int notes = 0;
    int notebooks = 0;
    int snapshots = 0;
    // Rows that were recovered but could not be taken in (no valid id, or already there).
    int skipped = 0;
};

// Runs the sqlite3 tool's ".recover" (or, where that tool cannot, ".dump") on a copy of
// `damagedPath`, so the file itself is never opened for writing, and loads what it read into a
// new database at `outputPath`. False, with the reason, when the tool is missing or could not
// read the file.
bool recoverToFile(const QString &damagedPath, const QString &outputPath, QString *error);
// Takes the notes, notebooks and snapshots of a recovered database into the collection through
// the writer, keeping their ids, times, versions and sync states; rows that are not sound
// (missing or malformed id, duplicate) are skipped. notes is -1 when the file cannot be read.
Recovered importRecovered(
    const QString &recoveredPath, NoteWriter *writer, SnapshotRepository *snapshots);

} // namespace DatabaseRescue
