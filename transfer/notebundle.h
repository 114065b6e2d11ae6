#pragma once

#include "noteexport.h"

class AttachmentRepository;

// Packs an exported note file and the note's attachment files into "<name>.zip" beside it
// (the file at the top, attachments under "attachments/" by their sanitised display names).
// A note without attachments gets no bundle: the result is the exported file itself. Uses the
// external `zip` program, waiting up to 60 s.
ExportResult writeNoteBundle(
    const Note &note, const QString &exportedPath, const AttachmentRepository &attachments);
