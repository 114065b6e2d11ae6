#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// Signs and checks the HS256 access tokens and makes the random refresh tokens. The signing
// secret lives in the data directory, readable by the owner only.
class TokenService final
{
public:
    struct Claims
    {
        QString userId;
        QString sessionId;
        qint64 expiresAt = 0;
    };

    bool loadOrCreateSecret(const QString &path, QString *error);
    void setSecretForTesting(const QByteArray &secret) { m_secret = secret; }

    // The user's group and role in it travel in the claims (empty when in no group), so a
    // client can tell whether sharing is open to the user without asking first.
    QString issueAccessToken(const QString &userId, const QString &sessionId, const QString &email,
        const QString &groupId, const QString &role, int lifetimeSeconds) const;
    // Checks signature, algorithm and expiry; session liveness is the caller's check.
    std::optional<Claims> verifyAccessToken(const QString &token) const;

    static QString newRefreshToken();
    static QString hashRefreshToken(const QString &token);
    static QString randomToken(int bytes);

    // Binds a form token to the browser's cookie so another site cannot forge the login post.
    QString csrfTokenFor(const QString &cookieValue) const;
    bool checkCsrfToken(const QString &cookieValue, const QString &formToken) const;

private:
    QByteArray sign(const QByteArray &data) const;

    QByteArray m_secret;
};
