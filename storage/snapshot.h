#pragma once

#include <QDateTime>
#include <QString>

// A note's body as it was at one version; one per (note, version).
struct Snapshot
{
    QString id;
    QString noteId;
    int version = 0;
    QString body; // delta JSON
    QDateTime createdAt;
};
