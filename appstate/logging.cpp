#include "logging.h"

#include <QByteArray>

#include <cstdio>
#include <cstring>

namespace Logging {

namespace {

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "info";
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line
        = formatLine(type, context.category, message, QDateTime::currentDateTime()).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fputc('\n', stderr);
    // Lines must reach a pipe (a test, a terminal log) even if the process dies right after.
    std::fflush(stderr);
}

} // namespace

void install()
{
    qInstallMessageHandler(handler);
}

QString formatLine(
    QtMsgType type, const char *category, const QString &message, const QDateTime &when)
{
    QString line = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    line += QLatin1Char(' ');
    line += QLatin1String(levelName(type));
    line += QStringLiteral(": ");
    if (category && *category && std::strcmp(category, "default") != 0) {
        line += QLatin1String(category);
        line += QStringLiteral(": ");
    }
    line += message;
    return line;
}

} // namespace Logging
