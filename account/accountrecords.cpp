#include "accountrecords.h"

#include "jsonfields.h"

#include <QJsonArray>
#include <QJsonValue>

namespace BrevAccount {

namespace {

using namespace JsonFields;

// Elements that are not objects are skipped rather than read as empty records.
template<typename Record>
QList<Record> records(const QJsonObject &json, const char *key)
{
    QList<Record> list;
    const QJsonArray array = json.value(QLatin1String(key)).toArray();
    for (const QJsonValue &value : array) {
        if (value.isObject())
            list.append(Record::fromJson(value.toObject()));
    }
    return list;
}

} // namespace

GroupSummary GroupSummary::fromJson(const QJsonObject &json)
{
    return { text(json, "id"), text(json, "name"), text(json, "role"),
        number(json, "member_count") };
}

Profile Profile::fromJson(const QJsonObject &json)
{
    Profile profile;
    profile.id = text(json, "id");
    profile.email = text(json, "email");
    profile.displayName = text(json, "display_name");
    profile.avatarUrl = text(json, "avatar_url");
    profile.language = text(json, "language");
    profile.timezone = text(json, "timezone");
    profile.status = text(json, "status");
    profile.createdAt = time(json, "created_at");
    profile.group = GroupSummary::fromJson(json.value(QLatin1String("group")).toObject());
    return profile;
}

GroupMember GroupMember::fromJson(const QJsonObject &json)
{
    return { text(json, "account_id"), text(json, "auth_user_id"), text(json, "display_name"),
        text(json, "email"), text(json, "role"), time(json, "joined_at") };
}

GroupInvitation GroupInvitation::fromJson(const QJsonObject &json)
{
    return { text(json, "id"), text(json, "invited_email"), text(json, "invite_code"),
        text(json, "status"), time(json, "expires_at") };
}

Group Group::fromJson(const QJsonObject &json)
{
    Group group;
    group.id = text(json, "id");
    group.name = text(json, "name");
    group.maxSeats = number(json, "max_seats");
    group.members = records<GroupMember>(json, "members");
    group.pendingInvitations = records<GroupInvitation>(json, "pending_invitations");
    return group;
}

Device Device::fromJson(const QJsonObject &json)
{
    Device device;
    device.id = text(json, "id");
    device.deviceName = text(json, "device_name");
    device.platform = text(json, "platform");
    device.appId = text(json, "app_id");
    device.appVersion = text(json, "app_version");
    device.lastSyncAt = time(json, "last_sync_at");
    device.deviceFingerprint = text(json, "device_fingerprint");
    device.createdAt = time(json, "created_at");
    return device;
}

QList<Device> devicesFromJson(const QJsonObject &json)
{
    return records<Device>(json, "devices");
}

} // namespace BrevAccount
