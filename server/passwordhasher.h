#pragma once

#include <QString>

// Argon2id through libsodium. The encoded hash carries its own cost, so cheap test hashes and
// full-cost production hashes verify the same way.
namespace PasswordHasher {
bool initialize();
QString hash(const QString &password, bool cheap = false);
bool verify(const QString &password, const QString &encodedHash);
} // namespace PasswordHasher
