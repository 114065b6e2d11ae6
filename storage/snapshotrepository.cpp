#include "snapshotrepository.h"

#include "database.h"
#include "sqlutil.h"
#include "storagetime.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

Snapshot snapshotFromRow(const QSqlQuery &query)
{
    Snapshot snapshot;
    snapshot.id = query.value(QStringLiteral("id")).toString();
    snapshot.noteId = query.value(QStringLiteral("note_id")).toString();
    snapshot.version = query.value(QStringLiteral("version")).toInt();
    snapshot.body = query.value(QStringLiteral("body")).toString();
    snapshot.createdAt = fromStorageTime(query.value(QStringLiteral("created_at")).toString());
    return snapshot;
}

} // namespace

SnapshotRepository::SnapshotRepository(Database *database, QObject *parent)
    : QObject(parent), m_database(database)
{ }

QList<Snapshot> SnapshotRepository::snapshotsForNote(const QString &noteId) const
{
    QList<Snapshot> snapshots;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("SELECT * FROM note_snapshots WHERE note_id=? ORDER BY version DESC"),
            { noteId }))
        return snapshots;
    while (query.next())
        snapshots.append(snapshotFromRow(query));
    return snapshots;
}

std::optional<Snapshot> SnapshotRepository::snapshotById(const QString &id) const
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, QStringLiteral("SELECT * FROM note_snapshots WHERE id=?"), { id })
        || !query.next())
        return std::nullopt;
    return snapshotFromRow(query);
}

bool SnapshotRepository::insert(const Snapshot &snapshot)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("INSERT OR REPLACE INTO note_snapshots (id, note_id, "
                           "version, body, created_at) VALUES (?, ?, ?, ?, ?)"),
            { snapshot.id, snapshot.noteId, snapshot.version, SqlUtil::nonNull(snapshot.body),
                toStorageTime(snapshot.createdAt) })) {
        qWarning().noquote() << "SnapshotRepository::insert failed:" << query.lastError().text();
        return false;
    }
    return true;
}

bool SnapshotRepository::takeSnapshot(const Note &note, const QString &body)
{
    Snapshot snapshot;
    snapshot.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    snapshot.noteId = note.id;
    snapshot.version = note.version;
    snapshot.body = body;
    snapshot.createdAt = QDateTime::currentDateTimeUtc();
    return insert(snapshot);
}
