#pragma once

#include "manifest.h"
#include "updateconfig.h"

#include <QObject>

class QNetworkAccessManager;

namespace BrevUpdate {

// Asks the download server whether a newer build exists for this platform. Each check ends in
// exactly one of the three signals; it downloads nothing else and installs nothing.
class Client final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Client)

public:
    static constexpr int DefaultTimeoutMs = 30000;

    explicit Client(UpdateConfig config, QObject *parent = nullptr);

    const UpdateConfig &config() const { return m_config; }
    // The running platform's key by default; empty means no build is ever offered.
    void setPlatformKey(const QString &key) { m_platformKey = key; }
    QString platformKey() const { return m_platformKey; }
    // The longest the whole manifest exchange may take before it counts as failed.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    bool isChecking() const { return m_inFlight; }
    // Ignored (logged) while a check is in flight.
    void checkForUpdate();

signals:
    void updateAvailable(const BrevUpdate::Artifact &artifact);
    void upToDate();
    void checkFailed(const QString &reason);

private:
    void handleManifest(const QByteArray &body);

    UpdateConfig m_config;
    QNetworkAccessManager *m_network;
    QString m_platformKey;
    int m_timeoutMs = DefaultTimeoutMs;
    bool m_inFlight = false;
};

// The manifest address for a configuration: the base URL's path with one "/" ensured, then
// "latest.json".
QUrl manifestUrl(const UpdateConfig &config);

} // namespace BrevUpdate
