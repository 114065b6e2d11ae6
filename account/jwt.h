#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace BrevAccount {

// The claims of a JSON Web Token: its second dot-separated part, base64url-decoded and parsed
// as a JSON object. The signature is not checked; the server does that.
std::optional<QJsonObject> jwtClaims(const QString &token);

// The "exp" claim in seconds since the epoch, 0 when the token is malformed or has none.
qint64 jwtExpiry(const QString &token);

// The string at custom.brv.<name> of the claims, empty when any step is missing.
QString jwtBrevaroClaim(const QString &token, const QString &name);

} // namespace BrevAccount
