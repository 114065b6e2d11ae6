#pragma once

#include "importresult.h"

#include <QString>

#include <functional>
#include <optional>

class AttachmentRepository;
class NoteRepository;
class NoteWriter;
class NotebookRepository;

enum class ImportFormat {
    Joplin = 0, // ".jex"
    NoteStation = 1, // ".nsx"
};

// (current, total, text); a total of 0 or less means the amount of work is not known yet.
using ImportProgress = std::function<void(int current, int total, const QString &text)>;
// What an importer reads and fills: notes and notebooks are written through `writer`.
struct ImportTarget
{
    NoteWriter *writer = nullptr; // not owned, nor are the others
    NoteRepository *notes = nullptr;
    NotebookRepository *notebooks = nullptr;
    AttachmentRepository *attachments = nullptr;
};

using Importer = std::function<ImportResult(
    const ImportTarget &target, const QString &path, const ImportProgress &progress)>;

// The importer that reads `format` (importJoplin, importNoteStation).
Importer importerFor(ImportFormat format);
// The format of an export by its first bytes (a tar archive is a Joplin export, a ZIP a
// NoteStation one), whatever its name; nullopt when it is neither or can't be read.
std::optional<ImportFormat> detectImportFormat(const QString &path);
