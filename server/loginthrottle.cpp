#include "loginthrottle.h"

#include <algorithm>

namespace {
// Failures older than this are forgotten.
constexpr qint64 forgetAfterMs = 15 * 60 * 1000;
} // namespace

qint64 LoginThrottle::waitMs(const QString &account, const QString &address, qint64 now) const
{
    qint64 until = 0;
    const auto a = m_accounts.constFind(account);
    if (a != m_accounts.constEnd())
        until = a->lockedUntil;
    const auto b = m_addresses.constFind(address);
    if (b != m_addresses.constEnd())
        until = std::max(until, b->lockedUntil);
    return until > now ? until - now : 0;
}

void LoginThrottle::recordFailure(const QString &account, const QString &address, qint64 now)
{
    bump(m_accounts, account, freeAccountFailures, now);
    bump(m_addresses, address, freeAddressFailures, now);
}

void LoginThrottle::recordSuccess(const QString &account)
{
    m_accounts.remove(account);
}

void LoginThrottle::bump(
    QHash<QString, Entry> &table, const QString &key, int freeFailures, qint64 now)
{
    if (table.size() > 100000)
        prune(table, now);
    Entry &e = table[key];
    if (now - e.lastFailure > forgetAfterMs)
        e.failures = 0;
    ++e.failures;
    e.lastFailure = now;
    if (e.failures >= freeFailures) {
        const int doublings = std::min(e.failures - freeFailures, 20);
        e.lockedUntil = now + std::min<qint64>(2000LL << doublings, maxLockMs);
    }
}

void LoginThrottle::prune(QHash<QString, Entry> &table, qint64 now)
{
    for (auto it = table.begin(); it != table.end();) {
        if (it->lockedUntil < now && now - it->lastFailure > forgetAfterMs)
            it = table.erase(it);
        else
            ++it;
    }
}
