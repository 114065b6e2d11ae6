#include "importers.h"

Importer importerFor(ImportFormat format)
{
    switch (format) {
    case ImportFormat::Joplin:
    case ImportFormat::NoteStation:
        break; // no reader for either archive format has been written yet
    }
    return {};
}
