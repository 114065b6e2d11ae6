#include "deltaformat.h"
#include "htmlrenderer.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const std::optional<QJsonArray> ops = Delta::parseArray(input))
        renderHtml(*ops);
    return 0;
}
