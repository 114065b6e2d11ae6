#include "converters.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstdlib>

// The rich-text engine needs a GUI application; one is made on the first input and kept.
static void ensureApplication()
{
    static QGuiApplication *application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz";
        static char *argv[] = { name, nullptr };
        return new QGuiApplication(argc, argv);
    }();
    Q_UNUSED(application);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    looksLikeHtml(text);
    if (htmlToDelta(text).isEmpty())
        abort();
    return 0;
}
