#pragma once

#include "tokenstore.h"

#include <QJsonObject>

namespace BrevAccount {

// Keeps the tokens in one JSON file readable by its owner only (file 0600 in a 0700
// directory), replaced atomically on every write. The fallback where no Secret Service runs.
class FileTokenStore final : public TokenStore
{
public:
    explicit FileTokenStore(const QString &directory);

    std::optional<QString> load(const QString &key) override;
    bool save(const QString &key, const QString &value) override;
    bool remove(const QString &key) override;

    QString filePath() const;

private:
    QJsonObject readAll() const;
    bool writeAll(const QJsonObject &values) const;
    bool ensureDirectory() const;

    QString m_directory;
};

} // namespace BrevAccount
