#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace BrevAccount {

struct GroupSummary
{
    QString id;
    QString name;
    QString role;
    int memberCount = 0;

    static GroupSummary fromJson(const QJsonObject &json);
};

struct Profile
{
    QString id;
    QString email;
    QString displayName;
    QString avatarUrl;
    QString language;
    QString timezone;
    QString status;
    QDateTime createdAt;
    GroupSummary group;

    static Profile fromJson(const QJsonObject &json);
};

struct GroupMember
{
    QString accountId;
    QString authUserId;
    QString displayName;
    QString email;
    QString role;
    QDateTime joinedAt;

    static GroupMember fromJson(const QJsonObject &json);
};

struct GroupInvitation
{
    QString id;
    QString invitedEmail;
    QString inviteCode;
    QString status;
    QDateTime expiresAt;

    static GroupInvitation fromJson(const QJsonObject &json);
};

struct Group
{
    QString id;
    QString name;
    int maxSeats = 0;
    QList<GroupMember> members;
    QList<GroupInvitation> pendingInvitations;

    static Group fromJson(const QJsonObject &json);
};

struct Device
{
    QString id;
    QString deviceName;
    QString platform;
    QString appId;
    QString appVersion;
    QDateTime lastSyncAt;
    QString deviceFingerprint;
    QDateTime createdAt;

    static Device fromJson(const QJsonObject &json);
};

} // namespace BrevAccount

namespace BrevAccount {
// The array under "devices" of a device-list reply.
QList<Device> devicesFromJson(const QJsonObject &json);
} // namespace BrevAccount
