#pragma once

#include <QGuiApplication>

// The rich-text engine needs a GUI application; one is made on the first input and kept.
// Warnings about malformed input are expected by the thousand, so the log stays quiet.
inline void ensureFuzzApplication()
{
    static QGuiApplication *application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        static int argc = 1;
        static char name[] = "fuzz";
        static char *argv[] = { name, nullptr };
        return new QGuiApplication(argc, argv);
    }();
    Q_UNUSED(application);
}
