#include "preferencesrepository.h"

#include "database.h"
#include "sqlutil.h"

#include <QSqlQuery>

PreferencesRepository::PreferencesRepository(Database *database, QObject *parent)
    : QObject(parent), m_database(database)
{ }

std::optional<QString> PreferencesRepository::value(const QString &key) const
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, QStringLiteral("SELECT value FROM preferences WHERE key = ?"), { key })
        || !query.next())
        return std::nullopt;
    return SqlUtil::nonNull(query.value(0).toString());
}

QString PreferencesRepository::stringValue(const QString &key, const QString &defaultValue) const
{
    return value(key).value_or(defaultValue);
}

bool PreferencesRepository::boolValue(const QString &key, bool defaultValue) const
{
    const std::optional<QString> text = value(key);
    if (!text)
        return defaultValue;
    return *text == QLatin1String("1") || *text == QLatin1String("true")
        || *text == QLatin1String("yes");
}

int PreferencesRepository::intValue(const QString &key, int defaultValue) const
{
    const std::optional<QString> text = value(key);
    if (!text)
        return defaultValue;
    bool ok = false;
    const int n = text->toInt(&ok, 10);
    return ok ? n : defaultValue;
}

bool PreferencesRepository::setValue(const QString &key, const QString &value)
{
    const std::optional<QString> current = this->value(key);
    if (current && *current == value)
        return true;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("INSERT INTO preferences (key, value) VALUES (?, ?) ON "
                           "CONFLICT(key) DO UPDATE SET value = excluded.value"),
            { key, value }))
        return false;
    emit changed(key);
    return true;
}

bool PreferencesRepository::setBool(const QString &key, bool on)
{
    return setValue(key, on ? QStringLiteral("1") : QStringLiteral("0"));
}

bool PreferencesRepository::setInt(const QString &key, int n)
{
    return setValue(key, QString::number(n));
}

bool PreferencesRepository::remove(const QString &key)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, QStringLiteral("DELETE FROM preferences WHERE key = ?"), { key }))
        return false;
    emit changed(key);
    return true;
}
