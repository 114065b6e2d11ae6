#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;

namespace BrevUpdate {

// How one download from the release server ended.
struct FetchResult
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int httpStatus = 0; // 0: no HTTP answer
    QString errorText;
    QByteArray body;
    QByteArray contentType;
    bool timedOut = false;
    bool tooLarge = false;

    bool ok() const { return error == QNetworkReply::NoError && !timedOut && !tooLarge; }
    bool notFound() const
    {
        return error == QNetworkReply::ContentNotFoundError || httpStatus == 404;
    }
};

// One GET with this library's user agent ("BrevUpdateQt/0.1 (appId)") and redirects followed
// unless they go from HTTPS to HTTP. The whole exchange must end within `timeoutMs` and bring
// at most `maxBytes`, so a stalled, dripping or endless server cannot hold a check open or fill
// memory. `done` runs exactly once, unless `context` is destroyed first.
void boundedGet(QNetworkAccessManager *manager, const QUrl &url, const QString &appId,
    int timeoutMs, qint64 maxBytes, QObject *context,
    std::function<void(const FetchResult &)> done);

} // namespace BrevUpdate
