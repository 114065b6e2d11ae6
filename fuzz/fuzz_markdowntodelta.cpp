#include "converters.h"
#include "fuzzapplication.h"

#include <QByteArray>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureFuzzApplication();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    looksLikeMarkdown(text);
    if (markdownToDelta(text).isEmpty())
        abort();
    return 0;
}
