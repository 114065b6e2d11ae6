// Joplin exports: the first byte picks what is fuzzed (a whole archive or one item file), the
// rest is the input. Checks what must hold for any input: a failed import changes nothing and
// nothing is written outside the data directory.
#include "fuzzapplication.h"
#include "fuzzimportstore.h"
#include "joplinimport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureFuzzApplication();
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] % 2 == 1) {
        const JoplinItem item = parseJoplinItem(QString::fromUtf8(input));
        fuzzRequire(item.content.size() <= input.size() + 1, "content larger than its file");
        return 0;
    }
    static FuzzImportStore store;
    store.check(input, importJoplin);
    return 0;
}
