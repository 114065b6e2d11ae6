#pragma once

#include "clientconfig.h"
#include "updateconfig.h"

#include <QString>
#include <QUrl>

// Where the network services live and how this program introduces itself to them. The
// addresses come from the environment, falling back to the production deployment.
struct ServiceConfig
{
    QString authBaseUrl;
    QString realmSlug;
    QString accountApiUrl;
    QString clientId;
    QString appIdentifier; // reverse-domain name of the application
    QString displayName;
    QString appVersion;
    QString platformName;
    QString accountPortalUrl;
    QString syncApiUrl;
    QString downloadBaseUrl; // release manifests and notes
    QString feedbackBaseUrl;
    QString productWebsite; // shown in the about box

    static ServiceConfig fromEnvironment();
};

// What the account client is told: the fields it shares with this configuration.
BrevAccount::ClientConfig accountClientConfig(const ServiceConfig &config);

// What the update check and release notes are told: product "notes" on the "stable" channel,
// manifests below the download server's "/notes/stable/", the running version.
BrevUpdate::UpdateConfig updateClientConfig(const ServiceConfig &config);

// The feedback page for this product: the base address with its path ending in "/", tagged
// with the application key.
QUrl feedbackPageUrl(const QString &baseUrl);

namespace ServiceDefaults {
inline constexpr char AuthBaseUrl[] = "https://auth.brevaro.app";
inline constexpr char AccountApiUrl[] = "https://account.brevaro.app/api";
inline constexpr char SyncApiUrl[] = "https://notes.brevaro.app/api";
inline constexpr char RealmSlug[] = "brevaro";
inline constexpr char ClientId[] = "7c1e4b9a2f6d48e0b35a9c8d1f2e6a40";
inline constexpr char AccountPortalUrl[] = "https://account.brevaro.app";
inline constexpr char DownloadBaseUrl[] = "https://downloads.brevaro.app";
inline constexpr char FeedbackBaseUrl[] = "https://brevaro.app/feedback";
inline constexpr char ProductWebsite[] = "https://brevaro.app";
inline constexpr char AppIdentifier[] = "app.brevaro.notes";
inline constexpr char DisplayName[] = "Brevaro Notes";
} // namespace ServiceDefaults
