#pragma once

#include <QHash>
#include <QString>

// Slows down password guessing: after a few free failures per account and per address, every
// further failure doubles a waiting time during which sign-in attempts are refused unchecked.
class LoginThrottle final
{
public:
    static constexpr int freeAccountFailures = 5;
    static constexpr int freeAddressFailures = 20;
    static constexpr qint64 maxLockMs = 15 * 60 * 1000;

    // Milliseconds to wait before the next attempt; 0 when allowed now.
    qint64 waitMs(const QString &account, const QString &address, qint64 now) const;
    void recordFailure(const QString &account, const QString &address, qint64 now);
    void recordSuccess(const QString &account);

private:
    struct Entry
    {
        int failures = 0;
        qint64 lastFailure = 0;
        qint64 lockedUntil = 0;
    };
    void bump(QHash<QString, Entry> &table, const QString &key, int freeFailures, qint64 now);
    void prune(QHash<QString, Entry> &table, qint64 now);

    QHash<QString, Entry> m_accounts;
    QHash<QString, Entry> m_addresses;
};
