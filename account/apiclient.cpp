#include "apiclient.h"

#include "tokenmanager.h"

#include <QCoreApplication>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSysInfo>
#include <QThreadPool>
#include <QTimer>
#include <QtDebug>

namespace BrevAccount {

namespace {

// Set on a reply that this client aborted itself, so its handler can tell why it ended.
constexpr char EndReasonProperty[] = "brevaroEndReason";
// The verb, kept on the request for log lines.
constexpr auto MethodAttribute = QNetworkRequest::User;

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString describe(const QNetworkReply *reply)
{
    return QStringLiteral("%1 %2").arg(
        QString::fromLatin1(reply->request().attribute(MethodAttribute).toByteArray()),
        reply->url().path());
}

// Replies from this size on are parsed on a pool thread: a first pull of thousands of notes is
// megabytes of JSON, which would hold the window for tens of milliseconds.
constexpr qsizetype ThreadedParseBytes = 1 << 20;

QJsonObject parseBody(const QByteArray &data, const QString &what, int status)
{
    if (data.isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qWarning().noquote() << "ApiClient: reply to" << what << "is not a JSON object, status"
                             << status;
        return {};
    }
    return document.object();
}

} // namespace

QString platformNameFor(const QString &configured)
{
    if (!configured.isEmpty())
        return configured;
    const QString kernel = QSysInfo::kernelType().toLower();
    if (kernel == QLatin1String("darwin"))
        return QStringLiteral("macos");
    if (kernel == QLatin1String("winnt"))
        return QStringLiteral("windows");
    return kernel;
}

ApiClient::ApiClient(TokenManager *tokens, QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)), m_tokens(tokens)
{ }

void ApiClient::setBaseUrl(const QUrl &url)
{
    m_baseUrl = url;
}

void ApiClient::setClientInfo(
    const QString &appId, const QString &appVersion, const QString &platform)
{
    m_appId = appId;
    m_appVersion = appVersion;
    m_platform = platformNameFor(platform);
}

void ApiClient::setTimeouts(int requestMs, int binaryIdleMs)
{
    m_timeoutMs = requestMs;
    m_binaryIdleTimeoutMs = binaryIdleMs;
}

void ApiClient::setMaxJsonReplyBytes(qint64 bytes)
{
    m_maxJsonReplyBytes = bytes;
}

QUrl ApiClient::buildUrl(const QString &path, const QUrlQuery &query) const
{
    QUrl url = m_baseUrl;
    url.setPath(m_baseUrl.path(QUrl::FullyDecoded) + path, QUrl::DecodedMode);
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

void ApiClient::get(const QString &path, ResponseCallback callback, const QUrlQuery &query)
{
    sendRequest(QStringLiteral("GET"), path, {}, std::move(callback), query, true);
}

void ApiClient::post(const QString &path, const QJsonObject &json, ResponseCallback callback)
{
    sendRequest(QStringLiteral("POST"), path, json, std::move(callback), {}, true);
}

void ApiClient::put(const QString &path, const QJsonObject &json, ResponseCallback callback)
{
    sendRequest(QStringLiteral("PUT"), path, json, std::move(callback), {}, true);
}

void ApiClient::patch(const QString &path, const QJsonObject &json, ResponseCallback callback)
{
    sendRequest(QStringLiteral("PATCH"), path, json, std::move(callback), {}, true);
}

void ApiClient::deleteResource(const QString &path, ResponseCallback callback)
{
    sendRequest(QStringLiteral("DELETE"), path, {}, std::move(callback), {}, true);
}

void ApiClient::postPublic(const QString &path, const QJsonObject &json, ResponseCallback callback)
{
    sendRequest(QStringLiteral("POST"), path, json, std::move(callback), {}, false);
}

void ApiClient::postWithoutRefresh(
    const QString &path, const QJsonObject &json, ResponseCallback callback)
{
    const QByteArray body
        = json.isEmpty() ? QByteArray() : QJsonDocument(json).toJson(QJsonDocument::Compact);
    executeRequest(QStringLiteral("POST"), buildUrl(path), body,
        m_tokens ? m_tokens->accessToken() : QString(), std::move(callback), false);
}

void ApiClient::sendRequest(const QString &method, const QString &path, const QJsonObject &body,
    ResponseCallback callback, const QUrlQuery &query, bool authenticated)
{
    static const QStringList verbs = { QStringLiteral("GET"), QStringLiteral("POST"),
        QStringLiteral("PUT"), QStringLiteral("PATCH"), QStringLiteral("DELETE") };
    if (!verbs.contains(method)) {
        qWarning().noquote() << "ApiClient: unsupported method" << method;
        callback(false, 0, {});
        return;
    }
    const QUrl url = buildUrl(path, query);
    const QByteArray data
        = body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    if (!authenticated) {
        executeRequest(method, url, data, QString(), std::move(callback), false);
        return;
    }
    auto shared = std::make_shared<ResponseCallback>(std::move(callback));
    withFreshToken(
        method, url.path(),
        [this, method, url, data, shared](const QString &token) {
            executeRequest(method, url, data, token, std::move(*shared), true);
        },
        [shared](int status) { (*shared)(false, status, {}); });
}

void ApiClient::withFreshToken(const QString &method, const QString &path,
    std::function<void(const QString &)> send, std::function<void(int)> fail)
{
    if (!m_tokens || !m_tokens->needsRefresh()) {
        send(m_tokens ? m_tokens->accessToken() : QString());
        return;
    }
    qDebug().noquote() << "ApiClient: token needs refresh before" << method << path;
    QPointer<ApiClient> self(this);
    m_tokens->refresh([self, method, path, send, fail](RefreshResult result) {
        if (!self) {
            fail(0);
            return;
        }
        switch (result) {
        case RefreshResult::Success:
            send(self->m_tokens->accessToken());
            break;
        case RefreshResult::Rejected:
            qWarning().noquote() << "ApiClient: token refresh"
                                 << "rejected"
                                 << "for" << method << path;
            emit self->authenticationRequired();
            fail(401);
            break;
        case RefreshResult::TransientFailure:
            qWarning().noquote() << "ApiClient: token refresh"
                                 << "failed (transient)"
                                 << "for" << method << path;
            fail(0);
            break;
        }
    });
}

void ApiClient::addClientHeaders(QNetworkRequest &request, const QString &token) const
{
    if (!m_appId.isEmpty())
        request.setRawHeader("X-App-Id", m_appId.toUtf8());
    if (!m_appVersion.isEmpty())
        request.setRawHeader("X-App-Version", m_appVersion.toUtf8());
    if (!m_platform.isEmpty())
        request.setRawHeader("X-Platform", m_platform.toUtf8());
    if (!token.isEmpty())
        request.setRawHeader("Authorization", QStringLiteral("Bearer %1").arg(token).toUtf8());
}

void ApiClient::watchReply(QNetworkReply *reply, bool binary) const
{
    // A server that accepts the connection and never answers must not hang the caller: JSON
    // calls get a fixed deadline, binary transfers fail only when nothing moved for a while.
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setInterval(binary ? m_binaryIdleTimeoutMs : m_timeoutMs);
    QObject::connect(timer, &QTimer::timeout, reply, [reply] {
        reply->setProperty(EndReasonProperty, QStringLiteral("timeout"));
        reply->abort();
    });
    timer->start();
    if (binary) {
        auto restart = [timer](qint64, qint64) { timer->start(); };
        QObject::connect(reply, &QNetworkReply::downloadProgress, timer, restart);
        QObject::connect(reply, &QNetworkReply::uploadProgress, timer, restart);
        return;
    }
    const qint64 limit = m_maxJsonReplyBytes;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
        [reply, limit](qint64 received, qint64 total) {
            if (received > limit || total > limit) {
                reply->setProperty(EndReasonProperty, QStringLiteral("too large"));
                reply->abort();
            }
        });
}

bool ApiClient::endedByWatch(QNetworkReply *reply)
{
    const QString reason = reply->property(EndReasonProperty).toString();
    if (reason.isEmpty())
        return false;
    const QString message = reason == QLatin1String("timeout")
        ? QStringLiteral("The server did not answer in time")
        : QStringLiteral("The server's reply was too large");
    qWarning().noquote() << "ApiClient:" << describe(reply) << "ended:" << message;
    emit networkError(message);
    return true;
}

void ApiClient::executeRequest(const QString &method, const QUrl &url, const QByteArray &body,
    const QString &token, ResponseCallback callback, bool retryOn401)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Accept", "application/json");
    addClientHeaders(request, token);
    // Remembered for log lines; QNetworkReply does not keep the verb of standard operations.
    request.setAttribute(MethodAttribute, method.toLatin1());

    QNetworkReply *reply = nullptr;
    if (method == QLatin1String("GET"))
        reply = m_network->get(request);
    else if (method == QLatin1String("POST"))
        reply = m_network->post(request, body);
    else if (method == QLatin1String("PUT"))
        reply = m_network->put(request, body);
    else if (method == QLatin1String("PATCH"))
        reply = m_network->sendCustomRequest(request, "PATCH", body);
    else if (method == QLatin1String("DELETE"))
        reply = m_network->deleteResource(request);
    if (!reply) {
        callback(false, 0, {});
        return;
    }
    watchReply(reply, false);
    connect(reply, &QNetworkReply::finished, this,
        [this, reply, method, url, body, callback = std::move(callback), retryOn401] {
            finishJsonReply(reply, retryOn401, callback,
                [this, method, url, body, callback](const QString &token) {
                    executeRequest(method, url, body, token, callback, false);
                });
        });
}

void ApiClient::finishJsonReply(QNetworkReply *reply, bool retryOn401,
    const ResponseCallback &callback, const std::function<void(const QString &token)> &resend)
{
    reply->deleteLater();
    if (endedByWatch(reply)) {
        callback(false, 0, {});
        return;
    }
    const int status = httpStatus(reply);
    const QByteArray data = reply->readAll();
    const QString what = describe(reply);
    const QString networkFailure = reply->error() != QNetworkReply::NoError && status == 0
        ? reply->errorString()
        : QString();
    if (data.size() < ThreadedParseBytes) {
        finishJsonReply(
            status, parseBody(data, what, status), networkFailure, retryOn401, callback, resend);
        return;
    }
    // The answer goes on from the GUI thread, and only while this client still exists (as a
    // reply of a destroyed client never finishes).
    QPointer<ApiClient> self(this);
    QThreadPool::globalInstance()->start(
        [self, data, what, status, networkFailure, retryOn401, callback, resend] {
            const QJsonObject json = parseBody(data, what, status);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, json, status, networkFailure, retryOn401, callback, resend] {
                    if (self)
                        self->finishJsonReply(
                            status, json, networkFailure, retryOn401, callback, resend);
                },
                Qt::QueuedConnection);
        });
}

void ApiClient::finishJsonReply(int status, const QJsonObject &json, const QString &networkFailure,
    bool retryOn401, const ResponseCallback &callback,
    const std::function<void(const QString &token)> &resend)
{
    if (status == 401 && retryOn401 && m_tokens) {
        QPointer<ApiClient> self(this);
        m_tokens->refresh([self, callback, resend](RefreshResult result) {
            if (!self) {
                callback(false, 0, {});
                return;
            }
            if (result == RefreshResult::Success) {
                resend(self->m_tokens->accessToken());
            } else if (result == RefreshResult::Rejected) {
                emit self->authenticationRequired();
                callback(false, 401, {});
            } else {
                callback(false, 0, {});
            }
        });
        return;
    }
    if (!networkFailure.isEmpty()) {
        emit networkError(networkFailure);
        callback(false, 0, {});
        return;
    }
    callback(isSuccess(status), status, json);
}

void ApiClient::getBinary(const QString &path, BinaryCallback callback, const QUrlQuery &query)
{
    const QUrl url = buildUrl(path, query);
    auto shared = std::make_shared<BinaryCallback>(std::move(callback));
    withFreshToken(
        QStringLiteral("GET"), url.path(),
        [this, url, shared](
            const QString &token) { executeBinary(url, token, std::move(*shared), true); },
        [shared](int status) { (*shared)(false, status, {}); });
}

void ApiClient::executeBinary(
    const QUrl &url, const QString &token, BinaryCallback callback, bool retryOn401)
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "*/*");
    addClientHeaders(request, token);
    request.setAttribute(MethodAttribute, QByteArray("GET"));
    QNetworkReply *reply = m_network->get(request);
    if (!reply) {
        callback(false, 0, {});
        return;
    }
    watchReply(reply, true);
    connect(reply, &QNetworkReply::finished, this,
        [this, reply, url, callback = std::move(callback), retryOn401] {
            reply->deleteLater();
            if (endedByWatch(reply)) {
                callback(false, 0, {});
                return;
            }
            const int status = httpStatus(reply);
            if (status == 401 && retryOn401 && m_tokens) {
                QPointer<ApiClient> self(this);
                m_tokens->refresh([self, url, callback](RefreshResult result) {
                    if (!self) {
                        callback(false, 0, {});
                        return;
                    }
                    if (result == RefreshResult::Success) {
                        self->executeBinary(url, self->m_tokens->accessToken(), callback, false);
                    } else if (result == RefreshResult::Rejected) {
                        emit self->authenticationRequired();
                        callback(false, 401, {});
                    } else {
                        callback(false, 0, {});
                    }
                });
                return;
            }
            if (reply->error() != QNetworkReply::NoError && status == 0) {
                emit networkError(reply->errorString());
                callback(false, 0, {});
                return;
            }
            callback(isSuccess(status), status, reply->readAll());
        });
}

void ApiClient::postMultipart(
    const QString &path, QHttpMultiPart *multipart, ResponseCallback callback)
{
    if (!multipart) {
        callback(false, 0, {});
        return;
    }
    const QUrl url = buildUrl(path);
    auto shared = std::make_shared<ResponseCallback>(std::move(callback));
    QPointer<QHttpMultiPart> part(multipart);
    withFreshToken(
        QStringLiteral("POST"), url.path(),
        [this, url, part, shared](const QString &token) {
            if (!part) {
                (*shared)(false, 0, {});
                return;
            }
            QNetworkRequest request(url);
            addClientHeaders(request, token);
            request.setAttribute(MethodAttribute, QByteArray("POST"));
            QNetworkReply *reply = m_network->post(request, part.data());
            if (!reply) {
                part->deleteLater();
                (*shared)(false, 0, {});
                return;
            }
            part->setParent(reply);
            watchReply(reply, true);
            connect(reply, &QNetworkReply::finished, this, [this, reply, shared] {
                reply->deleteLater();
                if (reply->property(EndReasonProperty).isValid()) {
                    qWarning().noquote() << "ApiClient:" << describe(reply) << "timed out";
                    (*shared)(false, 0, {});
                    return;
                }
                const int status = httpStatus(reply);
                const QJsonObject json = parseBody(reply->readAll(), describe(reply), status);
                if (reply->error() == QNetworkReply::NoError || status != 0)
                    (*shared)(isSuccess(status), status, json);
                else
                    (*shared)(false, 0, {});
            });
        },
        [part, shared](int status) {
            if (part)
                part->deleteLater();
            (*shared)(false, status, {});
        });
}

void ApiClient::postMultipart(
    const QString &path, MultipartBuilder build, ResponseCallback callback)
{
    const QUrl url = buildUrl(path);
    auto shared = std::make_shared<ResponseCallback>(std::move(callback));
    withFreshToken(
        QStringLiteral("POST"), url.path(),
        [this, url, build, shared](const QString &token) {
            executeMultipart(url, build, token, std::move(*shared), true);
        },
        [shared](int status) { (*shared)(false, status, {}); });
}

void ApiClient::executeMultipart(const QUrl &url, const MultipartBuilder &build,
    const QString &token, ResponseCallback callback, bool retryOn401)
{
    QHttpMultiPart *multipart = build ? build() : nullptr;
    if (!multipart) {
        callback(false, 0, {});
        return;
    }
    QNetworkRequest request(url);
    addClientHeaders(request, token);
    request.setAttribute(MethodAttribute, QByteArray("POST"));
    QNetworkReply *reply = m_network->post(request, multipart);
    if (!reply) {
        delete multipart;
        callback(false, 0, {});
        return;
    }
    multipart->setParent(reply);
    watchReply(reply, true);
    connect(reply, &QNetworkReply::finished, this,
        [this, reply, url, build, callback = std::move(callback), retryOn401] {
            finishJsonReply(
                reply, retryOn401, callback, [this, url, build, callback](const QString &token) {
                    executeMultipart(url, build, token, callback, false);
                });
        });
}

} // namespace BrevAccount
