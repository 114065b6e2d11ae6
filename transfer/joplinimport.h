#pragma once

#include "importers.h"

#include <QDateTime>
#include <QHash>
#include <QString>

// One item file of a Joplin export (".md" member): its first line is the title (absent when
// the file starts with its metadata), then the content, then "key: value" lines from "id: ".
struct JoplinItem
{
    enum Type { Note = 1, Folder = 2, Resource = 4 };

    QString id;
    QString title;
    QString parentId;
    int type = 0;
    int markupLanguage = 1; // 2 = HTML
    QDateTime created; // what the user saw (user_created_time), else when it was stored
    QDateTime updated;
    QDateTime deleted; // valid = in the trash
    QString mime;
    QString fileExtension;
    QString content;
    QHash<QString, QString> metadata;
};

JoplinItem parseJoplinItem(const QString &text);
// Empty → invalid; ISO 8601 with or without milliseconds (UTC when no zone is given); else a
// count of milliseconds since the epoch above 0.
QDateTime parseJoplinTime(const QString &text);

// Imports a ".jex" archive: folders become notebooks (flattened), notes become notes with their
// resources as attachments. The archive is read as a stream; resource bytes go to a staging
// directory, never into memory whole.
ImportResult importJoplin(
    const ImportTarget &target, const QString &path, const ImportProgress &progress = {});
