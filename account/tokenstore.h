#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace BrevAccount {

inline constexpr char AccessTokenKey[] = "brevaro_access_token";
inline constexpr char RefreshTokenKey[] = "brevaro_refresh_token";

// Where the sign-in tokens are kept between runs. Implementations never log token values.
class TokenStore
{
public:
    virtual ~TokenStore() = default;

    // Absent when nothing is stored (a read failure counts as nothing stored).
    virtual std::optional<QString> load(const QString &key) = 0;
    virtual bool save(const QString &key, const QString &value) = 0;
    virtual bool remove(const QString &key) = 0;
    virtual bool clear();
};

// The platform's credential store: the Credential Manager on Windows; on other systems the
// desktop's Secret Service, or an owner-only file in `fallbackDirectory` when none answers.
// Logs once per process which store is used.
std::unique_ptr<TokenStore> createTokenStore(
    const QString &applicationId, const QString &fallbackDirectory = QString());

// The per-user directory of the owner-only token file.
QString defaultTokenDirectory();

} // namespace BrevAccount
