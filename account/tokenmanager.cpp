#include "tokenmanager.h"

#include "jwt.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QPointer>
#include <QtDebug>

namespace BrevAccount {

namespace {

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool isFresh(const QString &token)
{
    const qint64 exp = jwtExpiry(token);
    return exp != 0 && nowSeconds() < exp - TokenManager::RefreshMarginSeconds;
}

} // namespace

TokenManager::TokenManager(std::unique_ptr<TokenStore> store, QObject *parent)
    : QObject(parent), m_store(std::move(store))
{ }

TokenManager::~TokenManager() = default;

void TokenManager::load()
{
    m_accessToken = m_store->load(QLatin1String(AccessTokenKey)).value_or(QString());
    m_refreshToken = m_store->load(QLatin1String(RefreshTokenKey)).value_or(QString());
    if (!m_accessToken.isEmpty() && jwtExpiry(m_accessToken) == 0)
        qWarning()
            << "TokenManager: the stored access token is not a usable JWT; it counts as expired";
}

QString TokenManager::accessToken() const
{
    return !m_accessToken.isEmpty() && isFresh(m_accessToken) ? m_accessToken : QString();
}

QString TokenManager::refreshToken() const
{
    return m_refreshToken;
}

bool TokenManager::needsRefresh() const
{
    if (m_accessToken.isEmpty())
        return !m_refreshToken.isEmpty();
    return !isFresh(m_accessToken) && !m_refreshToken.isEmpty();
}

void TokenManager::setTokens(const QString &access, const QString &refresh)
{
    {
        QMutexLocker locker(&m_mutex);
        ++m_generation;
    }
    m_accessToken = access;
    m_refreshToken = refresh;
    if (!m_store->save(QLatin1String(AccessTokenKey), access)
        || !m_store->save(QLatin1String(RefreshTokenKey), refresh))
        qWarning() << "TokenManager: the tokens could not be stored; sign-in lasts until exit";
}

void TokenManager::clear()
{
    {
        QMutexLocker locker(&m_mutex);
        ++m_generation;
    }
    m_accessToken.clear();
    m_refreshToken.clear();
    if (!m_store->clear())
        qWarning() << "TokenManager: the stored tokens could not be removed";
}

void TokenManager::setRefreshFunction(RefreshFunction function)
{
    m_refreshFunction = std::move(function);
}

bool TokenManager::isRefreshing() const
{
    QMutexLocker locker(&m_mutex);
    return m_refreshing;
}

void TokenManager::refresh(RefreshContinuation continuation)
{
    QMutexLocker locker(&m_mutex);
    if (continuation)
        m_waiting.append(std::move(continuation));
    if (m_refreshing)
        return;
    if (m_refreshToken.isEmpty() || !m_refreshFunction) {
        const auto waiting = std::exchange(m_waiting, {});
        locker.unlock();
        for (const auto &waiter : waiting)
            waiter(RefreshResult::Rejected);
        return;
    }
    m_refreshing = true;
    const quint64 generation = m_generation;
    const QString token = m_refreshToken;
    locker.unlock();

    // The continuations may run after this manager is gone (the reply outlives it at exit).
    QPointer<TokenManager> self(this);
    m_refreshFunction(
        token,
        [self, generation](const QString &access, const QString &refresh) {
            if (!self)
                return;
            bool stale;
            {
                QMutexLocker locker(&self->m_mutex);
                stale = generation != self->m_generation;
            }
            if (stale) {
                // Signed out (or signed in afresh) while this refresh was on its way: its
                // tokens belong to a session that no longer exists.
                qInfo() << "TokenManager: dropped a refresh answer for an ended session";
                self->finishRefresh(self->m_accessToken.isEmpty() ? RefreshResult::Rejected
                                                                  : RefreshResult::Success);
                return;
            }
            self->m_accessToken = access;
            self->m_refreshToken = refresh;
            if (!self->m_store->save(QLatin1String(AccessTokenKey), access)
                || !self->m_store->save(QLatin1String(RefreshTokenKey), refresh))
                qWarning() << "TokenManager: the refreshed tokens could not be stored";
            self->finishRefresh(RefreshResult::Success);
        },
        [self, generation](bool rejected) {
            if (!self)
                return;
            bool stale;
            {
                QMutexLocker locker(&self->m_mutex);
                stale = generation != self->m_generation;
            }
            if (stale && !self->m_accessToken.isEmpty()) {
                self->finishRefresh(RefreshResult::Success);
                return;
            }
            self->finishRefresh(
                rejected || stale ? RefreshResult::Rejected : RefreshResult::TransientFailure);
        });
}

void TokenManager::finishRefresh(RefreshResult result)
{
    QMutexLocker locker(&m_mutex);
    m_refreshing = false;
    const auto waiting = std::exchange(m_waiting, {});
    locker.unlock();
    for (const auto &waiter : waiting)
        waiter(result);
}

} // namespace BrevAccount
