#include "tokenstore.h"

#include "credentialmanagertokenstore.h"
#include "filetokenstore.h"
#include "secretservicetokenstore.h"

#include <QDir>
#include <QStandardPaths>
#include <QtDebug>

namespace BrevAccount {

bool TokenStore::clear()
{
    const bool accessRemoved = remove(QLatin1String(AccessTokenKey));
    const bool refreshRemoved = remove(QLatin1String(RefreshTokenKey));
    return accessRemoved && refreshRemoved;
}

QString defaultTokenDirectory()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("credentials"));
}

namespace {

void logStoreOnce(const char *description)
{
    static bool logged = false;
    if (logged)
        return;
    logged = true;
    qInfo().noquote() << "Sign-in tokens are kept in" << QLatin1String(description);
}

} // namespace

std::unique_ptr<TokenStore> createTokenStore(
    const QString &applicationId, const QString &fallbackDirectory)
{
#ifdef Q_OS_WIN
    Q_UNUSED(fallbackDirectory)
    logStoreOnce("the Windows Credential Manager");
    return std::make_unique<CredentialManagerTokenStore>(applicationId);
#else
    if (SecretServiceTokenStore::isAvailable()) {
        logStoreOnce("the desktop's Secret Service");
        return std::make_unique<SecretServiceTokenStore>(applicationId);
    }
    const QString directory
        = fallbackDirectory.isEmpty() ? defaultTokenDirectory() : fallbackDirectory;
    logStoreOnce("an owner-only file (no Secret Service answered)");
    qInfo().noquote() << "Token file directory:" << QDir::toNativeSeparators(directory);
    return std::make_unique<FileTokenStore>(directory);
#endif
}

} // namespace BrevAccount
