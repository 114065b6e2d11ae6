#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Shared by notes, notebooks and attachments.
enum class SyncStatus {
    Pending = 0,
    Synced = 1,
    Conflict = 2,
};

// "pending", "synced" or "conflict"; any other value is written as "pending".
QString syncStatusText(SyncStatus status);
// Exact, case-sensitive: "synced" and "conflict" are recognised, everything else is Pending.
SyncStatus syncStatusFromText(const QString &text);

struct Note
{
    QString id;
    QString notebookId; // empty = in no notebook
    QString body; // delta JSON
    QDateTime createdAt;
    QDateTime updatedAt; // last content change; lists sort by it
    QDateTime modifiedAt; // last local change of any kind
    std::optional<QDateTime> deletedAt; // set = in the trash
    int version = 1;
    int opVersion = 0;
    SyncStatus syncStatus = SyncStatus::Pending;
    bool isSample = false;
    QString ownerId; // set = shared with the user by someone else
    bool isShared = false;
    QString permission;
};
