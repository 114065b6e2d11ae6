#include "converters.h"
#include "fuzzapplication.h"

#include <QByteArray>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureFuzzApplication();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    looksLikeHtml(text);
    if (htmlToDelta(text).isEmpty())
        abort();
    return 0;
}
