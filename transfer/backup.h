#pragma once

#include "importers.h"

#include <QString>

#include <functional>

// Backup of the whole collection to one ZIP archive and restore from it, read and written in
// process and streamed entry by entry: attachments never sit whole in memory.
//
// Archive layout: "manifest.json", "notebooks/<id>.json", "notes/<id>.json",
// "attachments/<id>" (raw file), and "attachments.json" (the attachment records; archives
// made before it existed restore without it).

// Asked between entries and between chunks of an attachment; true stops the backup.
using CancelRequested = std::function<bool()>;

// Writes the archive to `destination` through a temporary file beside it that only replaces
// the destination once complete: a failure or cancel leaves any earlier file untouched.
// `imported` is the number of notes written (trashed ones included).
ImportResult createBackup(const QString &destination, const ImportTarget &source,
    const ImportProgress &progress = {}, const CancelRequested &cancelRequested = {});

// Reads and checks the whole archive before writing anything; the notes and notebooks are then
// written in one transaction, so a refused or failed restore changes nothing. Without
// `overwrite` records that exist are skipped; with it the backup wins, with versions raised so
// the next sync pushes it. Attachment files already present are never replaced.
ImportResult restoreBackup(const QString &path, const ImportTarget &target, bool overwrite,
    const ImportProgress &progress = {});
