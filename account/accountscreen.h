#pragma once

#include "accountrecords.h"
#include "authtypes.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace BrevAccount {

class Client;

// The account window: profile, group, devices, sessions and account deletion of the signed-in
// user. A top-level window that deletes itself on close.
class AccountScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountScreen)

public:
    explicit AccountScreen(Client *client, QWidget *parent = nullptr);

    void refreshAll();
    void refreshProfile();
    void refreshGroup();
    void refreshDevices();
    void refreshSessions();
    void showCategory(int index);

signals:
    void logoutRequested();

private:
    QWidget *createProfileTab();
    QWidget *createGroupTab();
    QWidget *createDevicesTab();
    QWidget *createSecurityTab();
    QWidget *createPrivacyTab();

    void showGroup(const Group &group);
    void showDevices(const QList<Device> &devices);
    void showSessions(const QList<Session> &sessions);
    void showSuccess(const QString &message);
    void showError(const QString &message);
    bool isGroupOwner() const;

    void editDisplayName();
    void changePassword();
    void joinGroup();
    void inviteByEmail();
    void generateInviteCode();
    void leaveGroup();
    void deleteAccount();

    Client *m_client; // not owned
    QListWidget *m_categories;
    QStackedWidget *m_pages;
    QLabel *m_status;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_emailLabel = nullptr;
    QVBoxLayout *m_groupBody = nullptr;
    QVBoxLayout *m_devicesBody = nullptr;
    QVBoxLayout *m_sessionsBody = nullptr;
    QString m_displayName;
    int m_statusGeneration = 0;
};

// "Active now", "%1m ago", "%1h ago", "%1d ago" or the date, for device and session times.
QString sessionTimeText(const QDateTime &time, const QDateTime &now);

} // namespace BrevAccount
