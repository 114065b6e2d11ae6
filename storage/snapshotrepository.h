#pragma once

#include "note.h"
#include "snapshot.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class Database;

class SnapshotRepository final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SnapshotRepository)

public:
    explicit SnapshotRepository(Database *database, QObject *parent = nullptr);

    // Newest version first.
    QList<Snapshot> snapshotsForNote(const QString &noteId) const;
    std::optional<Snapshot> snapshotById(const QString &id) const;
    // Replaces an earlier snapshot of the same note and version.
    bool insert(const Snapshot &snapshot);
    // Keeps `body` as the note's snapshot at its current version, with a new id and the
    // current time; the same steps for every window and for the version history.
    bool takeSnapshot(const Note &note, const QString &body);

private:
    Database *m_database; // not owned
};
