#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace Logging {

// Routes every Qt log message to stderr as one plain line: local time, level, text.
void install();

// "2026-12-07 21:40:01.123 info: Opening database at: /path"; the category is named only when it
// is not the default one.
QString formatLine(
    QtMsgType type, const char *category, const QString &message, const QDateTime &when);

} // namespace Logging
