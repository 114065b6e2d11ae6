#include "notesharingservice.h"

#include "apiclient.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QtDebug>

using BrevAccount::ShareMember;

namespace {

// Ids end up as path segments; one that could name another resource is never sent.
bool isPathSegment(const QString &id)
{
    return !id.isEmpty() && id != QLatin1String(".") && id != QLatin1String("..")
        && !id.contains(QLatin1Char('/')) && !id.contains(QLatin1Char('\\'))
        && !id.contains(QLatin1Char('?')) && !id.contains(QLatin1Char('#'));
}

// A reply that names an item must name the one asked about; anything else is not ours to show.
bool namesOtherEntity(const QJsonObject &reply, const QString &entityId)
{
    for (const char *key : { "entity_id", "note_id", "notebook_id" }) {
        const QJsonValue value = reply.value(QLatin1String(key));
        if (value.isString() && value.toString().compare(entityId, Qt::CaseInsensitive) != 0)
            return true;
    }
    return false;
}

QString shareFailedText(int status)
{
    return QCoreApplication::translate("NoteSharingService", "Share failed (HTTP %1)").arg(status);
}

} // namespace

NoteSharingService::NoteSharingService(BrevAccount::ApiClient *syncApi, Kind kind, QObject *parent)
    : SharingBackend(parent), m_api(syncApi), m_kind(kind)
{ }

QString NoteSharingService::sharePath(const QString &entityId) const
{
    return m_kind == Kind::Notes ? QStringLiteral("/shares/notes/%1").arg(entityId)
                                 : QStringLiteral("/notebooks/%1/share").arg(entityId);
}

QString NoteSharingService::listPath(const QString &entityId) const
{
    return m_kind == Kind::Notes ? QStringLiteral("/shares/notes/%1").arg(entityId)
                                 : QStringLiteral("/notebooks/%1/shares").arg(entityId);
}

QString NoteSharingService::removePath(const QString &entityId, const QString &targetId) const
{
    return m_kind == Kind::Notes
        ? QStringLiteral("/shares/notes/%1/%2").arg(entityId, targetId)
        : QStringLiteral("/notebooks/%1/shares/%2").arg(entityId, targetId);
}

void NoteSharingService::listMembers(const QString &entityId, MembersCallback callback)
{
    if (!isPathSegment(entityId)) {
        qWarning() << "NoteSharingService: refusing to list shares of an invalid id";
        if (callback)
            callback({});
        return;
    }
    m_api->get(listPath(entityId), [entityId, callback](bool ok, int, const QJsonObject &json) {
        QList<ShareMember> members;
        const QJsonValue shares = json.value(QLatin1String("shares"));
        if (ok && namesOtherEntity(json, entityId)) {
            qWarning() << "NoteSharingService: share list answered for another item; ignored";
        } else if (ok && !shares.isArray()) {
            qWarning() << "NoteSharingService: share list without a \"shares\" array";
        } else if (ok) {
            const QJsonArray array = shares.toArray();
            for (const QJsonValue &value : array) {
                if (value.isObject())
                    members.append(ShareMember::fromJson(value.toObject()));
            }
        }
        if (callback)
            callback(members);
    });
}

void NoteSharingService::shareWith(const QString &entityId, const QString &targetId,
    const QString &permission, ShareCallback callback)
{
    if (!isPathSegment(entityId) || targetId.isEmpty()) {
        if (callback)
            callback(false, shareFailedText(0));
        return;
    }
    const QString sent
        = permission == QLatin1String("view") ? QStringLiteral("view") : QStringLiteral("edit");
    const QJsonObject body { { QStringLiteral("account_id"), targetId },
        { QStringLiteral("auth_user_id"), targetId }, { QStringLiteral("permission"), sent } };
    m_api->post(sharePath(entityId), body,
        [entityId, targetId, callback](bool ok, int status, const QJsonObject &json) {
            if (ok) {
                const QString echoed
                    = json.value(QLatin1String("shared_with_account_id")).toString();
                // A success that names another item or person did not do what was asked.
                if (namesOtherEntity(json, entityId)
                    || (!echoed.isEmpty() && echoed.compare(targetId, Qt::CaseInsensitive) != 0)) {
                    qWarning() << "NoteSharingService: share reply for another item or person";
                    if (callback)
                        callback(false, shareFailedText(status));
                    return;
                }
                if (callback)
                    callback(true, QString());
                return;
            }
            QString error = json.value(QLatin1String("error")).toString();
            if (error.isEmpty())
                error = shareFailedText(status);
            if (callback)
                callback(false, error);
        });
}

void NoteSharingService::removeShare(
    const QString &entityId, const QString &targetId, RemoveCallback callback)
{
    if (!isPathSegment(entityId) || !isPathSegment(targetId)) {
        qWarning() << "NoteSharingService: refusing to remove a share with an invalid id";
        if (callback)
            callback(false);
        return;
    }
    m_api->deleteResource(
        removePath(entityId, targetId), [callback](bool ok, int, const QJsonObject &) {
            if (callback)
                callback(ok);
        });
}

QString NoteSharingService::shareTargetId(const BrevAccount::GroupMember &member) const
{
    return member.authUserId.isEmpty() ? member.accountId : member.authUserId;
}
