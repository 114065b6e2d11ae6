#pragma once

#include "accountrecords.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace BrevAccount {

// One person a note or notebook is shared with, as the notes service lists them.
struct ShareMember
{
    QString id;
    QString sharedWithAccountId;
    QString sharedWithEmail;
    QString sharedWithDisplayName;
    QString permission;
    // ISO 8601 local time; empty when the service sent no positive time.
    QString createdAt;

    static ShareMember fromJson(const QJsonObject &json);
};

// What the share dialog talks to: sharing one kind of item (notes or notebooks) with group
// members. Every call ends in exactly one callback.
class SharingBackend : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SharingBackend)

public:
    using MembersCallback = std::function<void(const QList<ShareMember> &members)>;
    using ShareCallback = std::function<void(bool ok, const QString &error)>;
    using RemoveCallback = std::function<void(bool ok)>;

    explicit SharingBackend(QObject *parent = nullptr) : QObject(parent) { }

    virtual void listMembers(const QString &entityId, MembersCallback callback) = 0;
    // Also changes the permission of someone the item is already shared with.
    virtual void shareWith(const QString &entityId, const QString &targetId,
        const QString &permission, ShareCallback callback)
        = 0;
    virtual void removeShare(
        const QString &entityId, const QString &targetId, RemoveCallback callback)
        = 0;
    // The identifier a group member is shared with under.
    virtual QString shareTargetId(const GroupMember &member) const { return member.accountId; }
};

} // namespace BrevAccount
