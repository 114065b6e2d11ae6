#include "releasenotesfetcher.h"

#include "boundedget.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QStringDecoder>

namespace BrevUpdate {

QUrl releaseNotesUrl(const UpdateConfig &config)
{
    QUrl url(config.manifestBaseUrl);
    QString path = url.path();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    path = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    url.setPath(path + config.currentVersion + QStringLiteral("/release-notes.md"));
    return url;
}

QUrl localizedNotesUrl(const QUrl &primary, const QString &localeName)
{
    // "C" and "POSIX" name no language; only a two-letter code followed by the end or "_" does.
    const QString language = localeName.left(2);
    const bool isLanguage = language.size() == 2 && language.at(0).isLower()
        && language.at(1).isLower() && language.at(0).unicode() < 128
        && language.at(1).unicode() < 128
        && (localeName.size() == 2 || localeName.at(2) == QLatin1Char('_'));
    if (!isLanguage || language == QLatin1String("en"))
        return {};
    QUrl url(primary);
    QString path = url.path();
    if (path.endsWith(QLatin1String(".md"))) {
        path.insert(path.size() - 3, QLatin1Char('.') + language);
        url.setPath(path);
    }
    return url;
}

ReleaseNotesFetcher::ReleaseNotesFetcher(const UpdateConfig &config, QObject *parent)
    : ReleaseNotesFetcher(releaseNotesUrl(config), config.appId, parent)
{ }

ReleaseNotesFetcher::ReleaseNotesFetcher(const QUrl &url, const QString &appId, QObject *parent)
    : QObject(parent), m_appId(appId), m_network(new QNetworkAccessManager(this)), m_primaryUrl(url)
{
    setLocaleName(QLocale::system().name());
}

void ReleaseNotesFetcher::setLocaleName(const QString &name)
{
    m_localizedUrl = localizedNotesUrl(m_primaryUrl, name);
}

void ReleaseNotesFetcher::fetch()
{
    if (m_localizedUrl.isEmpty() || m_localizedUrl == m_primaryUrl) {
        fetchPrimary();
        return;
    }
    boundedGet(m_network, m_localizedUrl, m_appId, m_timeoutMs, MaxNotesBytes, this,
        [this](const FetchResult &result) {
            const QString notes = notesFrom(result);
            if (notes.isEmpty())
                fetchPrimary();
            else
                emit notesReady(notes);
        });
}

void ReleaseNotesFetcher::fetchPrimary()
{
    boundedGet(m_network, m_primaryUrl, m_appId, m_timeoutMs, MaxNotesBytes, this,
        [this](const FetchResult &result) {
            const QString notes = notesFrom(result);
            if (notes.isEmpty())
                emit notesUnavailable();
            else
                emit notesReady(notes);
        });
}

QString ReleaseNotesFetcher::notesFrom(const FetchResult &result)
{
    if (!result.ok())
        return {};
    if (result.contentType.trimmed().toLower().startsWith("text/html"))
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = QString(decoder(result.body)).trimmed();
    if (decoder.hasError() || text.contains(QChar(0)))
        return {};
    const QString start = text.left(64).toLower();
    if (start.startsWith(QLatin1String("<!doctype html"))
        || start.startsWith(QLatin1String("<html")))
        return {};
    return text;
}

} // namespace BrevUpdate
