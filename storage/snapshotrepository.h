#pragma once

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

private:
    Database *m_database; // not owned
};
