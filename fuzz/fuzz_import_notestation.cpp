// NoteStation exports: each input is a ".nsx" archive imported into one scratch data directory.
#include "fuzzapplication.h"
#include "fuzzimportstore.h"
#include "notestationimport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureFuzzApplication();
    static FuzzImportStore store;
    store.check(
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), importNoteStation);
    return 0;
}
