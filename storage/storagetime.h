#pragma once

#include <QDateTime>
#include <QString>

// Every stored time is UTC ISO 8601 text with milliseconds and a trailing "Z", so the text sorts
// like the time it stands for.
QString toStorageTime(const QDateTime &time);
// Invalid when the text is empty or does not parse.
QDateTime fromStorageTime(const QString &text);
