#include "storagetime.h"

QString toStorageTime(const QDateTime &time)
{
    if (!time.isValid())
        return QStringLiteral("");
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime fromStorageTime(const QString &text)
{
    if (text.isEmpty())
        return QDateTime();
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}
