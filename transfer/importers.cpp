#include "importers.h"

#include "joplinimport.h"
#include "notestationimport.h"

#include <QFile>

Importer importerFor(ImportFormat format)
{
    switch (format) {
    case ImportFormat::Joplin:
        return importJoplin;
    case ImportFormat::NoteStation:
        return importNoteStation;
    }
    return {};
}

std::optional<ImportFormat> detectImportFormat(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(512);
    // A ZIP starts with a local header, or with the end record when it is empty.
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return ImportFormat::NoteStation;
    // POSIX and GNU tar both put their magic at offset 257 of the first header.
    if (head.size() == 512 && head.mid(257, 5) == "ustar")
        return ImportFormat::Joplin;
    return std::nullopt;
}
