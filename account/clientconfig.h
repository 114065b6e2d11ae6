#pragma once

#include <QString>

namespace BrevAccount {

// What the account client needs to know about the services and about this application.
struct ClientConfig
{
    QString authBaseUrl; // AUTH_BASE_URL
    QString realmSlug; // AUTH_REALM_SLUG
    QString accountApiUrl; // ACCOUNT_API_URL
    QString clientId; // AUTH_CLIENT_ID
    QString appIdentifier; // reverse-domain identifier, also names the stored credentials
    QString appDisplayName;
    QString appVersion;
    QString platformName; // empty: derived from the operating system
    QString accountPortalUrl; // ACCOUNT_PORTAL_URL
};

} // namespace BrevAccount
