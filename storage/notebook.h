#pragma once

#include "note.h"

#include <QDateTime>
#include <QString>

#include <optional>

struct Notebook
{
    QString id;
    QString name;
    bool isDefault = false; // legacy flag; the schema migration removes such notebooks
    bool isShared = false;
    QString ownerId;
    QDateTime createdAt;
    QDateTime updatedAt;
    std::optional<QDateTime> deletedAt; // set = in the trash
    int version = 1;
    SyncStatus syncStatus = SyncStatus::Pending;
};
