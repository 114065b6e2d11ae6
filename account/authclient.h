#pragma once

#include "authtypes.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

namespace BrevAccount {

class ApiClient;
class TokenManager;
class WebAuthHandler;

// Owns the sign-in state: restores it from the stored tokens, signs in through the browser,
// refreshes and signs out, and serves the authentication service's user calls.
class AuthClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AuthClient)
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY stateChanged)

public:
    using UrlOpener = std::function<bool(const QUrl &)>;

    AuthClient(const QString &authBaseUrl, const QString &realmSlug, const QString &clientId,
        ApiClient *authApi, TokenManager *tokens, QObject *parent = nullptr);

    void initialize();
    void refreshToken(std::function<void(bool)> callback);
    void logout();
    void login();
    // Signs out locally after the services refused the stored session.
    void handleAuthenticationRequired();

    void fetchCurrentUser(std::function<void(const User &)> callback);
    void updateProfile(const QString &displayName, std::function<void(const User &)> callback);
    void changePassword(const QString &currentPassword, const QString &newPassword,
        std::function<void(bool)> callback);
    void listSessions(std::function<void(const QList<Session> &)> callback);
    void revokeSession(const QString &sessionId);

    AuthState state() const { return m_state; }
    bool isAuthenticated() const { return m_state == Authenticated; }
    User currentUser() const { return m_user; }
    QUrl loginUrl(const QString &redirectUri) const;

    // Opens the login page; the desktop's browser unless replaced (tests play the browser).
    void setUrlOpener(UrlOpener opener);
    void setLoginPort(quint16 port) { m_loginPort = port; }

signals:
    void stateChanged(BrevAccount::AuthState state);
    void loginSucceeded();
    void loginFailed(const QString &error);
    void logoutCompleted();

private:
    void setupRefreshCallback();
    void setState(AuthState state);
    void handleAuthCallback(const QUrl &url);
    void signOutLocally();

    QString m_authBaseUrl;
    QString m_realmSlug;
    QString m_clientId;
    ApiClient *m_authApi; // not owned
    TokenManager *m_tokens; // not owned
    AuthState m_state = Unknown;
    User m_user;
    UrlOpener m_urlOpener;
    quint16 m_loginPort;
    QPointer<WebAuthHandler> m_handler;
};

} // namespace BrevAccount
