#include "authclient.h"

#include "apiclient.h"
#include "jwt.h"
#include "tokenmanager.h"
#include "webauthhandler.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QUrlQuery>
#include <QtDebug>

namespace BrevAccount {

namespace {

// 4xx means the server refused the refresh token; except that 408 and 429 only say the server
// is busy, so the session may well still be valid.
bool isRejection(int status)
{
    return status >= 400 && status <= 499 && status != 408 && status != 429;
}

// An access token must be a JWT carrying an expiry, or every later request would find it
// stale and refresh forever.
bool isUsableAccessToken(const QString &token)
{
    return jwtExpiry(token) != 0;
}

} // namespace

AuthClient::AuthClient(const QString &authBaseUrl, const QString &realmSlug,
    const QString &clientId, ApiClient *authApi, TokenManager *tokens, QObject *parent)
    : QObject(parent),
      m_authBaseUrl(authBaseUrl),
      m_realmSlug(realmSlug),
      m_clientId(clientId),
      m_authApi(authApi),
      m_tokens(tokens),
      m_urlOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); }),
      m_loginPort(WebAuthHandler::DefaultPort)
{
    setupRefreshCallback();
}

void AuthClient::setUrlOpener(UrlOpener opener)
{
    m_urlOpener = std::move(opener);
}

void AuthClient::setupRefreshCallback()
{
    QPointer<ApiClient> api(m_authApi);
    m_tokens->setRefreshFunction(
        [api](const QString &refreshToken, TokenManager::TokensContinuation onTokens,
            TokenManager::FailureContinuation onFailure) {
            if (!api) {
                onFailure(false);
                return;
            }
            QJsonObject body;
            body.insert(QStringLiteral("refresh_token"), refreshToken);
            api->postPublic(QStringLiteral("/auth/token/refresh"), body,
                [refreshToken, onTokens, onFailure](bool ok, int status, const QJsonObject &reply) {
                    if (!ok) {
                        onFailure(isRejection(status));
                        return;
                    }
                    const QString access = reply.value(QLatin1String("access_token")).toString();
                    const QString refresh = reply.value(QLatin1String("refresh_token")).toString();
                    if (access.isEmpty() || !isUsableAccessToken(access)) {
                        qWarning() << "AuthClient: token refresh answered" << status
                                   << "without a usable access token";
                        onFailure(false);
                        return;
                    }
                    // A server that does not rotate refresh tokens sends none back.
                    onTokens(access, refresh.isEmpty() ? refreshToken : refresh);
                });
        });
}

void AuthClient::setState(AuthState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void AuthClient::initialize()
{
    m_tokens->load();
    if (!m_tokens->accessToken().isEmpty()) {
        setState(Authenticated);
        return;
    }
    if (m_tokens->refreshToken().isEmpty()) {
        setState(Unauthenticated);
        return;
    }
    QPointer<AuthClient> self(this);
    m_tokens->refresh([self](RefreshResult result) {
        if (!self)
            return;
        if (result == RefreshResult::Rejected) {
            self->m_tokens->clear();
            self->setState(Unauthenticated);
        } else {
            // Offline at start: stay signed in; the next request refreshes again.
            self->setState(Authenticated);
        }
    });
}

void AuthClient::refreshToken(std::function<void(bool)> callback)
{
    QPointer<AuthClient> self(this);
    m_tokens->refresh([self, callback](RefreshResult result) {
        if (self && result == RefreshResult::Rejected)
            self->signOutLocally();
        if (callback)
            callback(result == RefreshResult::Success);
    });
}

void AuthClient::signOutLocally()
{
    m_tokens->clear();
    m_user = User();
    setState(Unauthenticated);
}

void AuthClient::handleAuthenticationRequired()
{
    if (m_state == Unauthenticated)
        return;
    qWarning() << "AuthClient: the stored session was refused; signing out";
    signOutLocally();
}

void AuthClient::logout()
{
    // The token is read before it is cleared; the request must neither refresh nor retry, or
    // it could bring back the session being ended.
    m_authApi->postWithoutRefresh(
        QStringLiteral("/auth/logout"), {}, [](bool, int, const QJsonObject &) {});
    signOutLocally();
    emit logoutCompleted();
}

QUrl AuthClient::loginUrl(const QString &redirectUri) const
{
    const QString text = QStringLiteral("%1/%2/account/login?client_id=%3&redirect_uri=%4")
                             .arg(m_authBaseUrl, m_realmSlug, m_clientId,
                                 QString::fromLatin1(QUrl::toPercentEncoding(redirectUri)));
    return QUrl(text, QUrl::StrictMode);
}

void AuthClient::login()
{
    // A second sign-in replaces an abandoned one instead of leaving two listeners.
    if (m_handler)
        m_handler->deleteLater();
    auto *handler = new WebAuthHandler(this, m_loginPort);
    m_handler = handler;
    const QString redirectUri = handler->start();
    if (redirectUri.isEmpty()) {
        handler->deleteLater();
        emit loginFailed(tr("Failed to start local auth server"));
        return;
    }
    connect(handler, &WebAuthHandler::callbackReceived, this, [this, handler](const QUrl &url) {
        handler->deleteLater();
        handleAuthCallback(url);
    });
    if (!m_urlOpener(loginUrl(redirectUri))) {
        handler->deleteLater();
        emit loginFailed(tr("Could not open the web browser"));
    }
}

void AuthClient::handleAuthCallback(const QUrl &url)
{
    // Parameters are read by the URL rules: repeated names take the first value and
    // percent-encoded characters are decoded.
    const QUrlQuery fragment(url.fragment(QUrl::FullyEncoded));
    QString access = fragment.queryItemValue(QStringLiteral("access_token"), QUrl::FullyDecoded);
    QString refresh = fragment.queryItemValue(QStringLiteral("refresh_token"), QUrl::FullyDecoded);
    if (access.isEmpty()) {
        const QUrlQuery query(url.query(QUrl::FullyEncoded));
        access = query.queryItemValue(QStringLiteral("access_token"), QUrl::FullyDecoded);
        refresh = query.queryItemValue(QStringLiteral("refresh_token"), QUrl::FullyDecoded);
    }
    if (access.isEmpty() || refresh.isEmpty()) {
        qWarning() << "AuthClient: sign-in callback without tokens";
        emit loginFailed(tr("No tokens received"));
        return;
    }
    if (!isUsableAccessToken(access)) {
        qWarning() << "AuthClient: sign-in callback carries an access token that is not a JWT";
        emit loginFailed(tr("Invalid tokens received"));
        return;
    }
    m_tokens->setTokens(access, refresh);
    setState(Authenticated);
    emit loginSucceeded();
}

void AuthClient::fetchCurrentUser(std::function<void(const User &)> callback)
{
    QPointer<AuthClient> self(this);
    m_authApi->get(
        QStringLiteral("/users/me"), [self, callback](bool ok, int, const QJsonObject &json) {
            if (!self)
                return;
            if (ok && !json.isEmpty()) // an empty success must not wipe the known user
                self->m_user = User::fromJson(json);
            if (callback)
                callback(self->m_user);
        });
}

void AuthClient::updateProfile(
    const QString &displayName, std::function<void(const User &)> callback)
{
    QJsonObject body;
    body.insert(QStringLiteral("display_name"), displayName);
    QPointer<AuthClient> self(this);
    m_authApi->patch(
        QStringLiteral("/users/me"), body, [self, callback](bool ok, int, const QJsonObject &json) {
            if (!self)
                return;
            if (ok && !json.isEmpty()) // an empty success must not wipe the known user
                self->m_user = User::fromJson(json);
            if (callback)
                callback(self->m_user);
        });
}

void AuthClient::changePassword(
    const QString &currentPassword, const QString &newPassword, std::function<void(bool)> callback)
{
    QJsonObject body;
    body.insert(QStringLiteral("current_password"), currentPassword);
    body.insert(QStringLiteral("new_password"), newPassword);
    m_authApi->post(
        QStringLiteral("/users/me/password"), body, [callback](bool ok, int, const QJsonObject &) {
            if (callback)
                callback(ok);
        });
}

void AuthClient::listSessions(std::function<void(const QList<Session> &)> callback)
{
    m_authApi->get(
        QStringLiteral("/users/me/sessions"), [callback](bool ok, int, const QJsonObject &json) {
            QList<Session> sessions;
            if (ok) {
                const QJsonArray array = json.value(QLatin1String("sessions")).toArray();
                for (const QJsonValue &value : array) {
                    if (value.isObject())
                        sessions.append(Session::fromJson(value.toObject()));
                }
            }
            if (callback)
                callback(sessions);
        });
}

void AuthClient::revokeSession(const QString &sessionId)
{
    m_authApi->deleteResource(QStringLiteral("/users/me/sessions/%1").arg(sessionId),
        [](bool, int, const QJsonObject &) {});
}

} // namespace BrevAccount
