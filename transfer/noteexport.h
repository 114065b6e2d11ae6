#pragma once

#include "note.h"

#include <QString>

class AttachmentRepository;

// The order is stored by callers as an integer (the export dialog hands out 0, 1, 2).
enum class ExportFormat {
    Markdown = 0,
    Html = 1,
    Pdf = 2,
    PlainText = 3,
};

struct ExportResult
{
    bool ok = false;
    QString path; // the written file
    QString error; // empty unless writing failed
};

// ".md", ".html", ".pdf" or ".txt" (anything that is not one of the first three).
QString exportFileExtension(ExportFormat format);
// An int from a dialog or a setting; values out of range give PlainText.
ExportFormat exportFormatFromInt(int value);

// An empty body gives "", a body that is not a delta document is returned unchanged; otherwise
// Markdown, HTML (for Html and Pdf) or plain text.
QString renderNote(const QString &content, ExportFormat format);

// A name that is safe as the last component of a path on every desktop system: no path
// separators or characters Windows refuses, no control or bidirectional-override characters,
// no leading dots, no trailing dots or spaces, not a reserved device name, at most 50 UTF-16
// units cut between characters. "note" when nothing is left.
QString sanitizeFileName(const QString &name);
// The note's title (or "note-" and the first 8 characters of its id), sanitised, plus the
// format's extension.
QString suggestedFileName(const Note &note, ExportFormat format);
// The suggested name inside `directory`; never outside it whatever the title holds.
QString suggestedExportPath(const QString &directory, const Note &note, ExportFormat format);

// Writes the note; an existing file at `path` is replaced only when the new one is complete.
// `attachments` (optional) lets a PDF show the note's images.
ExportResult exportNote(const Note &note, const QString &path, ExportFormat format,
    const AttachmentRepository *attachments = nullptr);
