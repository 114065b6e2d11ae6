#pragma once

#include "importers.h"

// Imports a ".nsx" export (a ZIP of JSON members and "file_<md5>" attachment members):
// notebooks, notes with their HTML converted, attachments, and the notes of its trash into
// the trash. Read in process as a stream; attachment bytes are staged on disk.
ImportResult importNoteStation(
    const ImportTarget &target, const QString &path, const ImportProgress &progress = {});

// The note's HTML with every inline image that refers to one of `refs` (ref="…" → attachment
// id) pointing at its attachment; the placeholder source such images carry is removed.
QString resolveNoteStationImages(const QString &html, const QHash<QString, QString> &refs);
