#pragma once

#include "accountrecords.h"

#include <QObject>

#include <functional>

namespace BrevAccount {

class ApiClient;

// The account service's calls (profile, group, devices, account deletion). A failed call
// delivers an empty record or list, or false.
class AccountClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountClient)

public:
    explicit AccountClient(ApiClient *accountApi, QObject *parent = nullptr);

    void getProfile(std::function<void(const Profile &)> callback);
    void getGroup(std::function<void(const Group &)> callback);
    void getDevices(std::function<void(const QList<Device> &)> callback);
    void inviteByEmail(const QString &email, std::function<void(const GroupInvitation &)> callback);
    void generateInviteCode(std::function<void(const GroupInvitation &)> callback);
    void joinGroup(const QString &code, std::function<void(bool)> callback);
    void leaveGroup();
    void removeMember(const QString &accountId);
    void revokeInvitation(const QString &invitationId);
    void removeDevice(const QString &deviceId);
    void deleteAccount(std::function<void(bool)> callback);

signals:
    // Fresh details of the signed-in user's profile or group arrived.
    void accountDetailsChanged();

private:
    ApiClient *m_api; // not owned
};

} // namespace BrevAccount
