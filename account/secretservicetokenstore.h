#pragma once

#include "tokenstore.h"

#ifndef Q_OS_WIN

namespace BrevAccount {

// Items in the desktop's Secret Service (through libsecret), labelled "Brevaro Notes" and
// found by two attributes: the application identifier and the key.
class SecretServiceTokenStore final : public TokenStore
{
public:
    explicit SecretServiceTokenStore(const QString &applicationId);

    // True when a Secret Service answers on the session bus and has a default collection to
    // store into.
    static bool isAvailable();

    std::optional<QString> load(const QString &key) override;
    bool save(const QString &key, const QString &value) override;
    bool remove(const QString &key) override;

private:
    QByteArray m_applicationId;
};

} // namespace BrevAccount

#endif
