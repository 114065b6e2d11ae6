#include "tokenservice.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QSaveFile>
#include <QtDebug>

#include <sodium.h>

namespace {

constexpr auto b64Options = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    randombytes_buf(bytes.data(), static_cast<size_t>(bytes.size()));
    return bytes;
}

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size()
        && sodium_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

} // namespace

bool TokenService::loadOrCreateSecret(const QString &path, QString *error)
{
    constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(path);
    if (file.exists()) {
        if (QFileInfo(path).permissions()
            & ~(ownerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser)) {
            qWarning().noquote() << "Secret file" << path
                                 << "was readable by others; restricting it";
            file.setPermissions(ownerOnly);
        }
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        m_secret = QByteArray::fromBase64(file.readAll().trimmed());
        if (m_secret.size() < 32) {
            *error = QStringLiteral("Secret file %1 is damaged; remove it to make a new one "
                                    "(this signs everybody out)")
                         .arg(path);
            return false;
        }
        return true;
    }
    m_secret = randomBytes(32);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot create %1: %2").arg(path, out.errorString());
        return false;
    }
    // Restrict before the secret is written so it is never readable by others.
    out.setPermissions(ownerOnly);
    out.write(m_secret.toBase64());
    if (!out.commit()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, out.errorString());
        return false;
    }
    QFile::setPermissions(path, ownerOnly);
    return true;
}

QByteArray TokenService::sign(const QByteArray &data) const
{
    return QMessageAuthenticationCode::hash(data, m_secret, QCryptographicHash::Sha256);
}

QString TokenService::issueAccessToken(const QString &userId, const QString &sessionId,
    const QString &email, const QString &groupId, const QString &role, int lifetimeSeconds) const
{
    QJsonObject brv { { QStringLiteral("role"), role } };
    if (!groupId.isEmpty())
        brv.insert(QStringLiteral("group_id"), groupId);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QJsonObject header { { QStringLiteral("alg"), QStringLiteral("HS256") },
        { QStringLiteral("typ"), QStringLiteral("JWT") } };
    const QJsonObject payload { { QStringLiteral("sub"), userId },
        { QStringLiteral("sid"), sessionId }, { QStringLiteral("email"), email },
        { QStringLiteral("iat"), now }, { QStringLiteral("exp"), now + lifetimeSeconds },
        { QStringLiteral("custom"), QJsonObject { { QStringLiteral("brv"), brv } } } };
    const QByteArray signingInput
        = QJsonDocument(header).toJson(QJsonDocument::Compact).toBase64(b64Options) + '.'
        + QJsonDocument(payload).toJson(QJsonDocument::Compact).toBase64(b64Options);
    return QString::fromLatin1(signingInput + '.' + sign(signingInput).toBase64(b64Options));
}

std::optional<TokenService::Claims> TokenService::verifyAccessToken(const QString &token) const
{
    if (token.size() > 8192 || m_secret.isEmpty())
        return std::nullopt;
    const QList<QByteArray> parts = token.toLatin1().split('.');
    if (parts.size() != 3)
        return std::nullopt;
    const QByteArray signingInput = parts[0] + '.' + parts[1];
    const auto sig = QByteArray::fromBase64Encoding(parts[2], QByteArray::Base64UrlEncoding);
    if (!sig || !sameBytes(*sig, sign(signingInput)))
        return std::nullopt;
    const auto header = QByteArray::fromBase64Encoding(parts[0], QByteArray::Base64UrlEncoding);
    const auto payload = QByteArray::fromBase64Encoding(parts[1], QByteArray::Base64UrlEncoding);
    if (!header || !payload)
        return std::nullopt;
    if (QJsonDocument::fromJson(*header).object().value(QStringLiteral("alg")).toString()
        != QLatin1String("HS256"))
        return std::nullopt;
    const QJsonObject claims = QJsonDocument::fromJson(*payload).object();
    Claims c;
    c.userId = claims.value(QStringLiteral("sub")).toString();
    c.sessionId = claims.value(QStringLiteral("sid")).toString();
    c.expiresAt = static_cast<qint64>(claims.value(QStringLiteral("exp")).toDouble());
    if (c.userId.isEmpty() || c.sessionId.isEmpty()
        || c.expiresAt <= QDateTime::currentSecsSinceEpoch())
        return std::nullopt;
    return c;
}

QString TokenService::newRefreshToken()
{
    return randomToken(32);
}

QString TokenService::randomToken(int bytes)
{
    return QString::fromLatin1(randomBytes(bytes).toBase64(b64Options));
}

QString TokenService::hashRefreshToken(const QString &token)
{
    // Refresh tokens carry 256 random bits, so a plain digest is enough to keep the stored
    // value useless to someone who reads the database.
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toLatin1(), QCryptographicHash::Sha256).toHex());
}

QString TokenService::csrfTokenFor(const QString &cookieValue) const
{
    return QString::fromLatin1(sign("login-csrf:" + cookieValue.toLatin1()).toBase64(b64Options));
}

bool TokenService::checkCsrfToken(const QString &cookieValue, const QString &formToken) const
{
    if (cookieValue.size() < 20 || formToken.isEmpty())
        return false;
    return sameBytes(csrfTokenFor(cookieValue).toLatin1(), formToken.toLatin1());
}
