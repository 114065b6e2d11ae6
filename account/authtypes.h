#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>

namespace BrevAccount {
Q_NAMESPACE

// Sign-in state. The value 2 is reserved and never produced.
enum AuthState { Unknown = 0, Unauthenticated = 1, Authenticated = 3 };
Q_ENUM_NS(AuthState)

enum class RefreshResult {
    Success = 0,
    Rejected = 1, // the refresh token was refused, or there is none
    TransientFailure = 2 // no answer or a server-side error: the session may still be valid
};
Q_ENUM_NS(RefreshResult)

// Every network call ends in exactly one call of its callback; ok means status 200..299 and
// status 0 means there was no HTTP answer.
using ResponseCallback = std::function<void(bool ok, int status, const QJsonObject &body)>;
using BinaryCallback = std::function<void(bool ok, int status, const QByteArray &data)>;

struct User
{
    QString id;
    QString email;
    QString displayName;
    QString username;
    QString avatarUrl;
    QDateTime createdAt;

    static User fromJson(const QJsonObject &json);
};

struct Session
{
    QString id;
    QString userAgent;
    QString ipAddress;
    QDateTime createdAt;
    QDateTime lastActiveAt;
    bool isCurrent = false;

    static Session fromJson(const QJsonObject &json);
};

} // namespace BrevAccount
