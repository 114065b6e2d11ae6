#include "passwordhasher.h"

#include <sodium.h>

namespace PasswordHasher {

bool initialize()
{
    return sodium_init() >= 0;
}

QString hash(const QString &password, bool cheap)
{
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES] = {};
    const unsigned long long ops
        = cheap ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const size_t mem = cheap ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str_alg(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()),
            ops, mem, crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return {};
    return QString::fromLatin1(out);
}

bool verify(const QString &password, const QString &encodedHash)
{
    const QByteArray stored = encodedHash.toLatin1();
    if (stored.isEmpty() || stored.size() >= crypto_pwhash_STRBYTES)
        return false;
    const QByteArray utf8 = password.toUtf8();
    return crypto_pwhash_str_verify(
               stored.constData(), utf8.constData(), static_cast<unsigned long long>(utf8.size()))
        == 0;
}

} // namespace PasswordHasher
