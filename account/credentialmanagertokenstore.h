#pragma once

#include "tokenstore.h"

#ifdef Q_OS_WIN

namespace BrevAccount {

// Generic credentials named "Brevaro/<application id>/<key>", value as UTF-8 bytes.
class CredentialManagerTokenStore final : public TokenStore
{
public:
    explicit CredentialManagerTokenStore(const QString &applicationId);

    std::optional<QString> load(const QString &key) override;
    bool save(const QString &key, const QString &value) override;
    bool remove(const QString &key) override;

private:
    QString targetName(const QString &key) const;

    QString m_applicationId;
};

} // namespace BrevAccount

#endif
