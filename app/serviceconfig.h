#pragma once

#include <QString>

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

    static ServiceConfig fromEnvironment();
};

namespace ServiceDefaults {
inline constexpr char AuthBaseUrl[] = "https://auth.brevaro.app";
inline constexpr char AccountApiUrl[] = "https://account.brevaro.app/api";
inline constexpr char SyncApiUrl[] = "https://notes.brevaro.app/api";
inline constexpr char RealmSlug[] = "brevaro";
inline constexpr char ClientId[] = "7c1e4b9a2f6d48e0b35a9c8d1f2e6a40";
inline constexpr char AccountPortalUrl[] = "https://account.brevaro.app";
inline constexpr char DownloadBaseUrl[] = "https://downloads.brevaro.app";
inline constexpr char AppIdentifier[] = "app.brevaro.notes";
inline constexpr char DisplayName[] = "Brevaro Notes";
} // namespace ServiceDefaults
