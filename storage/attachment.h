#pragma once

#include "note.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

struct Attachment
{
    QString id; // also the name of its file in the attachments directory
    QString noteId;
    QString filename; // display name, no directory part
    QString mimeType;
    qint64 sizeBytes = 0;
    QDateTime createdAt;
    SyncStatus syncStatus = SyncStatus::Pending;
};
