#include "serviceconfig.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace {

// Unset and empty both mean "use the default"; qEnvironmentVariable decodes UTF-8 on Unix and
// reads the wide environment on Windows.
QString environmentOr(const char *name, const char *fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

} // namespace

ServiceConfig ServiceConfig::fromEnvironment()
{
    ServiceConfig config;
    config.authBaseUrl = environmentOr("AUTH_BASE_URL", ServiceDefaults::AuthBaseUrl);
    config.realmSlug = environmentOr("AUTH_REALM_SLUG", ServiceDefaults::RealmSlug);
    config.accountApiUrl = environmentOr("ACCOUNT_API_URL", ServiceDefaults::AccountApiUrl);
    config.clientId = environmentOr("AUTH_CLIENT_ID", ServiceDefaults::ClientId);
    config.appIdentifier = QString::fromLatin1(ServiceDefaults::AppIdentifier);
    config.displayName = QString::fromLatin1(ServiceDefaults::DisplayName);
    config.appVersion = QCoreApplication::applicationVersion();
    config.accountPortalUrl
        = environmentOr("ACCOUNT_PORTAL_URL", ServiceDefaults::AccountPortalUrl);
    config.syncApiUrl = environmentOr("SYNC_API_URL", ServiceDefaults::SyncApiUrl);
    config.downloadBaseUrl = environmentOr("UPDATE_BASE_URL", ServiceDefaults::DownloadBaseUrl);
    config.feedbackBaseUrl = QString::fromLatin1(ServiceDefaults::FeedbackBaseUrl);
    config.productWebsite = QString::fromLatin1(ServiceDefaults::ProductWebsite);
    return config;
}

BrevAccount::ClientConfig accountClientConfig(const ServiceConfig &config)
{
    BrevAccount::ClientConfig client;
    client.authBaseUrl = config.authBaseUrl;
    client.realmSlug = config.realmSlug;
    client.accountApiUrl = config.accountApiUrl;
    client.clientId = config.clientId;
    client.appIdentifier = config.appIdentifier;
    client.appDisplayName = config.displayName;
    client.appVersion = config.appVersion;
    client.platformName = config.platformName;
    client.accountPortalUrl = config.accountPortalUrl;
    return client;
}

QUrl feedbackPageUrl(const QString &baseUrl)
{
    QUrl url(baseUrl);
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path);
    url.setQuery(QStringLiteral("tags=notes"));
    return url;
}

BrevUpdate::UpdateConfig updateClientConfig(const ServiceConfig &config)
{
    BrevUpdate::UpdateConfig update;
    update.appId = QStringLiteral("notes");
    update.channel = QStringLiteral("stable");
    QUrl base(config.downloadBaseUrl);
    QString path = base.path();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    base.setPath(path + QStringLiteral("/notes/stable/"));
    update.manifestBaseUrl = base.toString();
    update.currentVersion = config.appVersion;
    return update;
}
