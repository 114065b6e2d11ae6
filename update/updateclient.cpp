#include "updateclient.h"

#include "boundedget.h"
#include "updatelog.h"
#include "version.h"

#include <QNetworkAccessManager>

namespace BrevUpdate {

Q_LOGGING_CATEGORY(lcUpdate, "brevupdate.client")

QUrl manifestUrl(const UpdateConfig &config)
{
    QUrl url(config.manifestBaseUrl);
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("latest.json"));
    return url;
}

Client::Client(UpdateConfig config, QObject *parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_network(new QNetworkAccessManager(this)),
      m_platformKey(currentPlatformKey())
{ }

void Client::checkForUpdate()
{
    if (m_inFlight) {
        qCDebug(lcUpdate) << "check already in flight, ignoring";
        return;
    }
    const QUrl base(m_config.manifestBaseUrl);
    if (!base.isValid() || base.isEmpty()) {
        emit checkFailed(QStringLiteral("manifestBaseUrl is not valid"));
        return;
    }
    if (m_config.currentVersion.isEmpty()) {
        emit checkFailed(QStringLiteral("currentVersion is empty"));
        return;
    }
    m_inFlight = true;
    boundedGet(m_network, manifestUrl(m_config), m_config.appId, m_timeoutMs, MaxManifestBytes,
        this, [this](const FetchResult &result) {
            m_inFlight = false;
            if (result.timedOut) {
                emit checkFailed(
                    QStringLiteral("network error: no answer within %1 ms").arg(m_timeoutMs));
            } else if (result.tooLarge) {
                emit checkFailed(
                    QStringLiteral("manifest invalid: manifest is larger than %1 bytes")
                        .arg(MaxManifestBytes));
            } else if (result.notFound()) {
                qCInfo(lcUpdate) << "manifest 404, treating as up-to-date";
                emit upToDate();
            } else if (!result.ok()) {
                emit checkFailed(QStringLiteral("network error: %1").arg(result.errorText));
            } else {
                handleManifest(result.body);
            }
        });
}

void Client::handleManifest(const QByteArray &body)
{
    const ManifestResult parsed = parseManifest(body);
    if (!parsed.valid) {
        emit checkFailed(QStringLiteral("manifest invalid: %1").arg(parsed.error));
        return;
    }
    if (m_platformKey.isEmpty()) {
        qCWarning(lcUpdate) << "unknown platform, skipping update check";
        emit upToDate();
        return;
    }
    const auto artifact = parsed.manifest.artifacts.constFind(m_platformKey);
    if (artifact == parsed.manifest.artifacts.constEnd()) {
        qCInfo(lcUpdate) << "platform" << m_platformKey << "not shipped in current manifest";
        emit upToDate();
        return;
    }
    const Version current = Version::parse(m_config.currentVersion);
    if (!(current < Version::parse(artifact->version))) {
        emit upToDate();
        return;
    }
    if (artifact->minUpgradableFrom.isEmpty()
        || !(current < Version::parse(artifact->minUpgradableFrom))) {
        emit updateAvailable(*artifact);
        return;
    }
    emit checkFailed(QStringLiteral("current version %1 is older than min_upgradable_from %2; "
                                    "please upgrade to an intermediate release first")
                         .arg(m_config.currentVersion, artifact->minUpgradableFrom));
}

} // namespace BrevUpdate
