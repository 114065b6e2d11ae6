#pragma once

#include "authtypes.h"
#include "tokenstore.h"

#include <QMutex>
#include <QObject>

#include <functional>
#include <memory>

namespace BrevAccount {

// Holds the access and refresh tokens, persists them in a TokenStore and folds concurrent
// refresh requests into one.
class TokenManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TokenManager)

public:
    using TokensContinuation = std::function<void(const QString &access, const QString &refresh)>;
    using FailureContinuation = std::function<void(bool rejected)>;
    using RefreshFunction
        = std::function<void(const QString &refreshToken, TokensContinuation, FailureContinuation)>;
    using RefreshContinuation = std::function<void(RefreshResult)>;

    static constexpr qint64 RefreshMarginSeconds = 30;

    explicit TokenManager(std::unique_ptr<TokenStore> store, QObject *parent = nullptr);
    ~TokenManager() override;

    void load();
    // The access token while it is more than 30 seconds from expiry, otherwise empty.
    QString accessToken() const;
    QString refreshToken() const;
    bool needsRefresh() const;
    void setTokens(const QString &access, const QString &refresh);
    // Forgets both tokens; a refresh still running when this happens is dropped on arrival.
    void clear();
    void setRefreshFunction(RefreshFunction function);
    void refresh(RefreshContinuation continuation);
    bool isRefreshing() const;

    TokenStore *store() const { return m_store.get(); }

private:
    void finishRefresh(RefreshResult result);

    std::unique_ptr<TokenStore> m_store;
    QString m_accessToken;
    QString m_refreshToken;
    RefreshFunction m_refreshFunction;
    mutable QMutex m_mutex;
    bool m_refreshing = false;
    // Bumped whenever the tokens are replaced or cleared from outside a refresh, so that a
    // refresh answer for an older session is recognised as stale.
    quint64 m_generation = 0;
    QList<RefreshContinuation> m_waiting;
};

} // namespace BrevAccount
