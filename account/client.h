#pragma once

#include "authtypes.h"
#include "clientconfig.h"

#include <QObject>

#include <memory>

namespace BrevAccount {

class AccountClient;
class ApiClient;
class AuthClient;
class TokenManager;
class TokenStore;

// Builds and owns the account-client objects: the token manager, the three API clients that
// share it, the sign-in client and the account-service client.
class Client final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Client)

public:
    // Uses the platform's credential store (createTokenStore).
    explicit Client(const ClientConfig &config, QObject *parent = nullptr);
    Client(
        const ClientConfig &config, std::unique_ptr<TokenStore> store, QObject *parent = nullptr);

    // Restores the stored sign-in; may emit authStateChanged.
    void initialize();
    bool isAuthenticated() const;
    AuthState authState() const;
    const ClientConfig &config() const { return m_config; }

    ApiClient *authApi() const { return m_authApi; }
    ApiClient *accountApi() const { return m_accountApi; }
    ApiClient *syncApi() const { return m_syncApi; }
    TokenManager *tokenManager() const { return m_tokens; }
    AuthClient *authClient() const { return m_authClient; }
    AccountClient *accountClient() const { return m_accountClient; }

signals:
    void authStateChanged(BrevAccount::AuthState state);

private:
    ClientConfig m_config;
    TokenManager *m_tokens;
    ApiClient *m_authApi;
    ApiClient *m_accountApi;
    ApiClient *m_syncApi;
    AuthClient *m_authClient;
    AccountClient *m_accountClient;
};

} // namespace BrevAccount
