#pragma once

#include <QString>

namespace BrevUpdate {

// What a check asks about: which product and channel, where its manifests live and which
// version is running.
struct UpdateConfig
{
    QString appId;
    QString channel = QStringLiteral("stable");
    QString manifestBaseUrl; // ends in "/notes/stable/"
    QString currentVersion;
};

} // namespace BrevUpdate
