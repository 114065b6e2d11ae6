#include "client.h"

#include "accountclient.h"
#include "apiclient.h"
#include "authclient.h"
#include "tokenmanager.h"
#include "tokenstore.h"

#include <QUrl>

namespace BrevAccount {

Client::Client(const ClientConfig &config, QObject *parent)
    : Client(config, createTokenStore(config.appIdentifier), parent)
{ }

Client::Client(const ClientConfig &config, std::unique_ptr<TokenStore> store, QObject *parent)
    : QObject(parent), m_config(config), m_tokens(new TokenManager(std::move(store), this))
{
    const QString platform = platformNameFor(config.platformName);
    auto makeApi = [&](const QUrl &baseUrl) {
        auto *api = new ApiClient(m_tokens, this);
        api->setBaseUrl(baseUrl);
        api->setClientInfo(config.appIdentifier, config.appVersion, platform);
        return api;
    };
    m_authApi = makeApi(
        QUrl(QStringLiteral("%1/api/v1/realms/%2").arg(config.authBaseUrl, config.realmSlug)));
    m_accountApi = makeApi(QUrl(config.accountApiUrl));
    m_syncApi = makeApi(QUrl());

    m_authClient = new AuthClient(
        config.authBaseUrl, config.realmSlug, config.clientId, m_authApi, m_tokens, this);
    connect(m_authClient, &AuthClient::stateChanged, this, &Client::authStateChanged);
    // A session the services refuse ends here, once, instead of every caller retrying with it.
    for (ApiClient *api : { m_authApi, m_accountApi, m_syncApi })
        connect(api, &ApiClient::authenticationRequired, m_authClient,
            &AuthClient::handleAuthenticationRequired);

    m_accountClient = new AccountClient(m_accountApi, this);
}

void Client::initialize()
{
    m_authClient->initialize();
}

bool Client::isAuthenticated() const
{
    return m_authClient->isAuthenticated();
}

AuthState Client::authState() const
{
    return m_authClient->state();
}

} // namespace BrevAccount
