#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

// Helpers shared by the repositories; not part of the library's interface.
namespace SqlUtil {

// Qt binds a null QString as SQL NULL, which NOT NULL columns reject.
inline QString nonNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

inline QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// Prepares `sql`, binds `values` in order and runs it. Statement texts are always constants;
// anything from outside arrives through the bound values.
inline bool run(QSqlQuery &query, const QString &sql, const QVariantList &values = {})
{
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return false;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec();
}

} // namespace SqlUtil
