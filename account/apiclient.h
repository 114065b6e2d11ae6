#pragma once

#include "authtypes.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <QUrlQuery>

class QHttpMultiPart;
class QNetworkReply;

namespace BrevAccount {

class TokenManager;

// The HTTP/JSON transport to the authentication, account and sync services: builds the URL
// from the base URL and a path, adds the client headers and the bearer token, refreshes the
// token when it is stale or refused once, and ends every call in exactly one callback.
class ApiClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApiClient)

public:
    static constexpr int DefaultTimeoutMs = 30000;
    // Binary transfers may take long; they only fail when nothing moved for this long.
    static constexpr int DefaultBinaryIdleTimeoutMs = 60000;
    static constexpr qint64 DefaultMaxJsonReplyBytes = 64 * 1024 * 1024;

    explicit ApiClient(TokenManager *tokens, QObject *parent = nullptr);

    void setBaseUrl(const QUrl &url);
    QUrl baseUrl() const { return m_baseUrl; }
    void setClientInfo(const QString &appId, const QString &appVersion, const QString &platform);
    QString platformName() const { return m_platform; }
    void setTimeouts(int requestMs, int binaryIdleMs);
    void setMaxJsonReplyBytes(qint64 bytes);
    QUrl buildUrl(const QString &path, const QUrlQuery &query = QUrlQuery()) const;

    void get(const QString &path, ResponseCallback callback, const QUrlQuery &query = QUrlQuery());
    void post(const QString &path, const QJsonObject &json, ResponseCallback callback);
    void put(const QString &path, const QJsonObject &json, ResponseCallback callback);
    void patch(const QString &path, const QJsonObject &json, ResponseCallback callback);
    void deleteResource(const QString &path, ResponseCallback callback);
    // No bearer token, no refresh, no retry: the token refresh itself goes this way.
    void postPublic(const QString &path, const QJsonObject &json, ResponseCallback callback);
    // Sends the current access token as it is, without refresh or retry (sign-out).
    void postWithoutRefresh(
        const QString &path, const QJsonObject &json, ResponseCallback callback);

    void getBinary(
        const QString &path, BinaryCallback callback, const QUrlQuery &query = QUrlQuery());
    // Takes ownership of `multipart`.
    void postMultipart(const QString &path, QHttpMultiPart *multipart, ResponseCallback callback);
    // Builds the body with `build` for each attempt, so a 401 is retried once after a token
    // refresh as JSON calls are. `build` may return nullptr (the call then fails with status 0).
    using MultipartBuilder = std::function<QHttpMultiPart *()>;
    void postMultipart(const QString &path, MultipartBuilder build, ResponseCallback callback);

    void sendRequest(const QString &method, const QString &path, const QJsonObject &body,
        ResponseCallback callback, const QUrlQuery &query, bool authenticated);

signals:
    void authenticationRequired();
    void networkError(const QString &message);

private:
    void withFreshToken(const QString &method, const QString &path,
        std::function<void(const QString &token)> send, std::function<void(int status)> fail);
    void executeRequest(const QString &method, const QUrl &url, const QByteArray &body,
        const QString &token, ResponseCallback callback, bool retryOn401);
    void executeBinary(
        const QUrl &url, const QString &token, BinaryCallback callback, bool retryOn401);
    void executeMultipart(const QUrl &url, const MultipartBuilder &build, const QString &token,
        ResponseCallback callback, bool retryOn401);
    // Ends a JSON call: on a 401 (when allowed) one refresh, then `resend` with the new token; a
    // refused refresh signs out; no HTTP answer is status 0.
    void finishJsonReply(QNetworkReply *reply, bool retryOn401, const ResponseCallback &callback,
        const std::function<void(const QString &token)> &resend);
    void finishJsonReply(int status, const QJsonObject &json, const QString &networkFailure,
        bool retryOn401, const ResponseCallback &callback,
        const std::function<void(const QString &token)> &resend);
    void addClientHeaders(QNetworkRequest &request, const QString &token) const;
    void watchReply(QNetworkReply *reply, bool binary) const;
    bool endedByWatch(QNetworkReply *reply);

    QNetworkAccessManager *m_network;
    TokenManager *m_tokens; // not owned
    QUrl m_baseUrl;
    QString m_appId;
    QString m_appVersion;
    QString m_platform;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_binaryIdleTimeoutMs = DefaultBinaryIdleTimeoutMs;
    qint64 m_maxJsonReplyBytes = DefaultMaxJsonReplyBytes;
};

// The platform name sent to the services: the configured one, or one derived from the kernel.
QString platformNameFor(const QString &configured);

} // namespace BrevAccount
