#pragma once

#include "tokenstore.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

// Sign-in tokens kept in memory: tests never reach the user's keyring or configuration folder,
// and can look at what was stored.
class MemoryTokenStore final : public BrevAccount::TokenStore
{
public:
    MemoryTokenStore() : m_values(&m_own) { }
    explicit MemoryTokenStore(QMap<QString, QString> *values) : m_values(values) { }
    std::optional<QString> load(const QString &key) override
    {
        if (!m_values->contains(key))
            return std::nullopt;
        return m_values->value(key);
    }
    bool save(const QString &key, const QString &value) override
    {
        m_values->insert(key, value);
        return true;
    }
    bool remove(const QString &key) override
    {
        m_values->remove(key);
        return true;
    }

private:
    QMap<QString, QString> m_own;
    QMap<QString, QString> *m_values;
};

// A JWT whose "exp" lies `secondsFromNow` ahead; `claims` are merged into its payload.
inline QString makeJwt(qint64 secondsFromNow, QJsonObject claims = {})
{
    claims.insert(QStringLiteral("exp"), QDateTime::currentSecsSinceEpoch() + secondsFromNow);
    const auto part = [](const QByteArray &data) {
        return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    return QString::fromLatin1(part(R"({"alg":"HS256","typ":"JWT"})") + '.'
        + part(QJsonDocument(claims).toJson(QJsonDocument::Compact)) + ".signature");
}

inline const QString accessKey = QString::fromLatin1(BrevAccount::AccessTokenKey);
inline const QString refreshKey = QString::fromLatin1(BrevAccount::RefreshTokenKey);
