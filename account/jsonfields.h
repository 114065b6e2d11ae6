#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1String>
#include <QString>

// Field readers for the services' JSON records: a missing field or one of the wrong type reads
// as empty, zero or an invalid time, never as an error.
namespace BrevAccount::JsonFields {

inline QString text(const QJsonObject &json, const char *key)
{
    return json.value(QLatin1String(key)).toString();
}

inline QDateTime time(const QJsonObject &json, const char *key)
{
    return QDateTime::fromString(text(json, key), Qt::ISODateWithMs);
}

inline int number(const QJsonObject &json, const char *key)
{
    return json.value(QLatin1String(key)).toInt();
}

} // namespace BrevAccount::JsonFields
