#include "accountclient.h"

#include "apiclient.h"

#include <QPointer>
#include <QtDebug>

namespace BrevAccount {

namespace {

const ResponseCallback ignoreReply = [](bool, int, const QJsonObject &) {};

} // namespace

AccountClient::AccountClient(ApiClient *accountApi, QObject *parent)
    : QObject(parent), m_api(accountApi)
{ }

void AccountClient::getProfile(std::function<void(const Profile &)> callback)
{
    QPointer<AccountClient> self(this);
    m_api->get(QStringLiteral("/profile"), [self, callback](bool ok, int, const QJsonObject &json) {
        if (ok && self)
            emit self->accountDetailsChanged();
        if (callback)
            callback(ok ? Profile::fromJson(json) : Profile());
    });
}

void AccountClient::getGroup(std::function<void(const Group &)> callback)
{
    m_api->get(QStringLiteral("/group"), [callback](bool ok, int, const QJsonObject &json) {
        if (callback)
            callback(ok ? Group::fromJson(json) : Group());
    });
}

void AccountClient::getDevices(std::function<void(const QList<Device> &)> callback)
{
    m_api->get(QStringLiteral("/devices"), [callback](bool ok, int, const QJsonObject &json) {
        if (callback)
            callback(ok ? devicesFromJson(json) : QList<Device>());
    });
}

void AccountClient::inviteByEmail(
    const QString &email, std::function<void(const GroupInvitation &)> callback)
{
    QJsonObject body;
    body.insert(QStringLiteral("email"), email);
    m_api->post(
        QStringLiteral("/group/invite"), body, [callback](bool ok, int, const QJsonObject &json) {
            if (callback)
                callback(ok ? GroupInvitation::fromJson(json) : GroupInvitation());
        });
}

void AccountClient::generateInviteCode(std::function<void(const GroupInvitation &)> callback)
{
    m_api->post(
        QStringLiteral("/group/invite"), {}, [callback](bool ok, int, const QJsonObject &json) {
            if (callback)
                callback(ok ? GroupInvitation::fromJson(json) : GroupInvitation());
        });
}

void AccountClient::joinGroup(const QString &code, std::function<void(bool)> callback)
{
    // The code becomes one path segment; typed text must not reach another resource.
    if (code.contains(QLatin1Char('/')) || code == QLatin1String("..")
        || code == QLatin1String(".")) {
        qWarning() << "AccountClient: invite code is not a single path segment";
        if (callback)
            callback(false);
        return;
    }
    QPointer<AccountClient> self(this);
    m_api->post(QStringLiteral("/group/join/%1").arg(code), {},
        [self, callback](bool ok, int, const QJsonObject &) {
            if (ok && self)
                emit self->accountDetailsChanged();
            if (callback)
                callback(ok);
        });
}

void AccountClient::leaveGroup()
{
    QPointer<AccountClient> self(this);
    m_api->post(QStringLiteral("/group/leave"), {}, [self](bool ok, int, const QJsonObject &) {
        if (ok && self)
            emit self->accountDetailsChanged();
    });
}

void AccountClient::removeMember(const QString &accountId)
{
    m_api->deleteResource(QStringLiteral("/group/members/%1").arg(accountId), ignoreReply);
}

void AccountClient::revokeInvitation(const QString &invitationId)
{
    m_api->deleteResource(QStringLiteral("/group/invitations/%1").arg(invitationId), ignoreReply);
}

void AccountClient::removeDevice(const QString &deviceId)
{
    m_api->deleteResource(QStringLiteral("/devices/%1").arg(deviceId), ignoreReply);
}

void AccountClient::deleteAccount(std::function<void(bool)> callback)
{
    m_api->deleteResource(
        QStringLiteral("/profile"), [callback](bool ok, int, const QJsonObject &) {
            if (callback)
                callback(ok);
        });
}

} // namespace BrevAccount
