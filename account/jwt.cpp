#include "jwt.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>
#include <QtDebug>

namespace BrevAccount {

std::optional<QJsonObject> jwtClaims(const QString &token)
{
    const QStringList parts = token.split(QLatin1Char('.'));
    if (parts.size() < 2)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(parts.at(1).toLatin1(),
        QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

qint64 jwtExpiry(const QString &token)
{
    const auto claims = jwtClaims(token);
    if (!claims)
        return 0;
    const QJsonValue exp = claims->value(QLatin1String("exp"));
    // Seconds since the epoch fit in a double exactly; anything else is not a usable expiry.
    if (!exp.isDouble() || exp.toDouble() <= 0 || exp.toDouble() > 1e13)
        return 0;
    return static_cast<qint64>(exp.toDouble());
}

QString jwtBrevaroClaim(const QString &token, const QString &name)
{
    const auto claims = jwtClaims(token);
    if (!claims)
        return {};
    return claims->value(QLatin1String("custom"))
        .toObject()
        .value(QLatin1String("brv"))
        .toObject()
        .value(name)
        .toString();
}

} // namespace BrevAccount
