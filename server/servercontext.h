#pragma once

#include "loginthrottle.h"
#include "serverconfig.h"
#include "serverdatabase.h"
#include "tokenservice.h"

#include <QString>

#include <optional>

struct HttpRequest;
struct HttpReply;

// Who a request acts for, once its bearer token has been checked.
struct AuthUser
{
    QString userId;
    QString sessionId;
    QString email;
};

struct TokenPair
{
    QString accessToken;
    QString refreshToken;
};

// What a user may do with a note or notebook: nothing, read, write, or everything (owner).
enum class Access { None, View, Edit, Owner };

// State shared by every route: configuration, storage, token signing and the sign-in throttle.
class ServerContext final
{
public:
    explicit ServerContext(ServerConfig config) : m_config(std::move(config)) { }
    ServerContext(const ServerContext &) = delete;
    ServerContext &operator=(const ServerContext &) = delete;

    bool open(QString *error);

    const ServerConfig &config() const { return m_config; }
    ServerDatabase &db() { return m_db; }
    TokenService &tokens() { return m_tokens; }
    LoginThrottle &throttle() { return m_throttle; }

    // Checks the bearer token and that its session and user are still live; on failure fills
    // |reply| with a 401.
    std::optional<AuthUser> authenticate(const HttpRequest &request, HttpReply *reply);

    std::optional<TokenPair> startSession(
        const QString &userId, const QString &userAgent, const QString &ipAddress);
    // Rotates a refresh token. A token that was already used revokes its whole session: someone
    // holds a copy.
    std::optional<TokenPair> refresh(const QString &refreshToken);
    void revokeSession(const QString &sessionId);
    void revokeUserSessions(const QString &userId, const QString &exceptSessionId = {});

    QString groupOf(const QString &userId);
    QString roleOf(const QString &userId);

    Access noteAccess(const QString &userId, const QString &noteId, QString *ownerId = nullptr);
    Access notebookAccess(
        const QString &userId, const QString &notebookId, QString *ownerId = nullptr);
    // Drops every share between |userId| and the rest of its group (leaving or removal).
    void dropGroupShares(const QString &userId);
    // Deletes the shares matching a fixed SQL condition and records, per former recipient, the
    // notes they lost. Returns the number of shares removed.
    int removeShares(const QString &condition, const QVariantList &args);
    // Makes notes reappear in incremental pulls after their sharing changed.
    void touchNote(const QString &noteId);
    void touchNotebookNotes(const QString &notebookId);

private:
    TokenPair issue(const QString &userId, const QString &sessionId);

    ServerConfig m_config;
    ServerDatabase m_db;
    TokenService m_tokens;
    LoginThrottle m_throttle;
};

QString accessName(Access access);
