#include "credentialmanagertokenstore.h"

#ifdef Q_OS_WIN

#include <wincred.h>
#include <windows.h>

namespace BrevAccount {

CredentialManagerTokenStore::CredentialManagerTokenStore(const QString &applicationId)
    : m_applicationId(applicationId)
{ }

QString CredentialManagerTokenStore::targetName(const QString &key) const
{
    return QStringLiteral("Brevaro/%1/%2").arg(m_applicationId, key);
}

std::optional<QString> CredentialManagerTokenStore::load(const QString &key)
{
    const std::wstring target = targetName(key).toStdWString();
    PCREDENTIALW credential = nullptr;
    if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &credential))
        return std::nullopt;
    const QString value
        = QString::fromUtf8(reinterpret_cast<const char *>(credential->CredentialBlob),
            static_cast<qsizetype>(credential->CredentialBlobSize));
    CredFree(credential);
    return value;
}

bool CredentialManagerTokenStore::save(const QString &key, const QString &value)
{
    // Both buffers must outlive the CredWriteW call.
    const std::wstring target = targetName(key).toStdWString();
    QByteArray blob = value.toUtf8();
    CREDENTIALW credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<LPWSTR>(target.c_str());
    credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
    credential.CredentialBlob = reinterpret_cast<LPBYTE>(blob.data());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    return CredWriteW(&credential, 0);
}

bool CredentialManagerTokenStore::remove(const QString &key)
{
    const std::wstring target = targetName(key).toStdWString();
    return CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
}

} // namespace BrevAccount

#endif
