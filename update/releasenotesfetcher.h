#pragma once

#include "updateconfig.h"

#include <QObject>
#include <QUrl>

class QNetworkAccessManager;

namespace BrevUpdate {

struct FetchResult;

// Downloads the Markdown release notes of one version, preferring a translation for the
// system language. Each fetch ends in exactly one of the two signals.
class ReleaseNotesFetcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReleaseNotesFetcher)

public:
    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr qint64 MaxNotesBytes = 1024 * 1024;

    // The notes of the configured current version, next to the manifest's channel folder.
    explicit ReleaseNotesFetcher(const UpdateConfig &config, QObject *parent = nullptr);
    // The notes at `url` (an artifact's release-notes address).
    ReleaseNotesFetcher(const QUrl &url, const QString &appId, QObject *parent = nullptr);

    // The system locale's name ("de_DE") by default; decides which translation is tried first.
    void setLocaleName(const QString &name);
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    QUrl primaryUrl() const { return m_primaryUrl; }
    QUrl localizedUrl() const { return m_localizedUrl; }

    void fetch();

signals:
    void notesReady(const QString &markdown);
    void notesUnavailable();

private:
    void fetchPrimary();
    // The trimmed Markdown of a reply, or empty when it is missing, blank, not UTF-8 text or an
    // HTML page (an error page or a portal's login form served with status 200).
    static QString notesFrom(const FetchResult &result);

    QString m_appId;
    QNetworkAccessManager *m_network;
    QUrl m_primaryUrl;
    QUrl m_localizedUrl;
    int m_timeoutMs = DefaultTimeoutMs;
};

// /notes/stable/ with version 1.1.0 becomes /notes/1.1.0/release-notes.md on the same server.
QUrl releaseNotesUrl(const UpdateConfig &config);
// The translated notes for `localeName` ("de_DE" gives release-notes.de.md); empty for English
// or no language.
QUrl localizedNotesUrl(const QUrl &primary, const QString &localeName);

} // namespace BrevUpdate
