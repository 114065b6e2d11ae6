#include "boundedget.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace BrevUpdate {

void boundedGet(QNetworkAccessManager *manager, const QUrl &url, const QString &appId,
    int timeoutMs, qint64 maxBytes, QObject *context, std::function<void(const FetchResult &)> done)
{
    QNetworkRequest request(url);
    request.setHeader(
        QNetworkRequest::UserAgentHeader, QStringLiteral("BrevUpdateQt/0.1 (%1)").arg(appId));
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = manager->get(request);

    struct Limits
    {
        bool timedOut = false;
        bool tooLarge = false;
    };
    auto limits = std::make_shared<Limits>();

    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, limits] {
        limits->timedOut = true;
        reply->abort();
    });
    deadline->start(timeoutMs);

    auto checkSize = [reply, limits, maxBytes](qint64 received) {
        if (received > maxBytes && !limits->tooLarge) {
            limits->tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, checkSize] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            checkSize(length.toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
        [checkSize](qint64 received, qint64) { checkSize(received); });

    QPointer<QObject> guard(context);
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, limits, guard, done = std::move(done)] {
            reply->deleteLater();
            FetchResult result;
            result.error = reply->error();
            result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            result.errorText = reply->errorString();
            result.timedOut = limits->timedOut;
            result.tooLarge = limits->tooLarge;
            result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
            if (result.ok())
                result.body = reply->readAll();
            if (guard)
                done(result);
        });
}

} // namespace BrevUpdate
