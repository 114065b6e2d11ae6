#include "servercontext.h"

#include "httpexchange.h"
#include "passwordhasher.h"

#include <QDir>

namespace {
// Avoids a database write on every request just to move the "last active" time.
constexpr qint64 activityResolutionMs = 60 * 1000;
} // namespace

QString accessName(Access access)
{
    switch (access) {
    case Access::Owner:
        return QStringLiteral("owner");
    case Access::Edit:
        return QStringLiteral("edit");
    case Access::View:
        return QStringLiteral("view");
    case Access::None:
        break;
    }
    return {};
}

bool ServerContext::open(QString *error)
{
    if (!PasswordHasher::initialize()) {
        *error = QStringLiteral("libsodium could not be initialised");
        return false;
    }
    if (!QDir().mkpath(m_config.dataDir)) {
        *error = QStringLiteral("Cannot create data directory %1").arg(m_config.dataDir);
        return false;
    }
    if (!m_tokens.loadOrCreateSecret(
            QDir(m_config.dataDir).filePath(QStringLiteral("jwt_secret")), error))
        return false;
    if (!m_db.open(m_config)) {
        *error = m_db.errorString();
        return false;
    }
    return true;
}

std::optional<AuthUser> ServerContext::authenticate(const HttpRequest &request, HttpReply *reply)
{
    const QByteArray header = request.header("Authorization");
    if (!header.startsWith("Bearer ")) {
        *reply = HttpReply::error(401, QStringLiteral("Authentication required"));
        return std::nullopt;
    }
    const auto claims = m_tokens.verifyAccessToken(QString::fromLatin1(header.mid(7).trimmed()));
    if (!claims) {
        *reply = HttpReply::error(401, QStringLiteral("Invalid or expired token"));
        return std::nullopt;
    }
    auto q = m_db.run(
        QStringLiteral("SELECT u.email, s.last_active_at FROM sessions s JOIN users u ON "
                       "u.id = s.user_id WHERE s.id = ? AND s.user_id = ? AND s.revoked = 0 "
                       "AND u.disabled = 0"),
        { claims->sessionId, claims->userId });
    if (!q || !q->next()) {
        *reply = HttpReply::error(401, QStringLiteral("Session ended"));
        return std::nullopt;
    }
    AuthUser user { claims->userId, claims->sessionId, q->value(0).toString() };
    const qint64 now = nowMs();
    if (now - q->value(1).toLongLong() > activityResolutionMs)
        m_db.run(QStringLiteral("UPDATE sessions SET last_active_at = ? WHERE id = ?"),
            { now, user.sessionId });
    return user;
}

TokenPair ServerContext::issue(const QString &userId, const QString &sessionId)
{
    const QString email
        = m_db.scalar(QStringLiteral("SELECT email FROM users WHERE id = ?"), { userId })
              .toString();
    TokenPair pair;
    pair.accessToken = m_tokens.issueAccessToken(
        userId, sessionId, email, groupOf(userId), roleOf(userId), m_config.accessTokenSeconds);
    pair.refreshToken = TokenService::newRefreshToken();
    m_db.run(QStringLiteral("INSERT INTO refresh_tokens (token_hash, session_id, used, created_at) "
                            "VALUES (?, ?, 0, ?)"),
        { TokenService::hashRefreshToken(pair.refreshToken), sessionId, nowMs() });
    return pair;
}

std::optional<TokenPair> ServerContext::startSession(
    const QString &userId, const QString &userAgent, const QString &ipAddress)
{
    const QString sessionId = newUuid();
    const qint64 now = nowMs();
    if (!m_db.run(
            QStringLiteral("INSERT INTO sessions (id, user_id, user_agent, ip_address, "
                           "created_at, last_active_at, revoked) VALUES (?, ?, ?, ?, ?, ?, 0)"),
            { sessionId, userId, userAgent.left(512), ipAddress, now, now }))
        return std::nullopt;
    return issue(userId, sessionId);
}

std::optional<TokenPair> ServerContext::refresh(const QString &refreshToken)
{
    if (refreshToken.isEmpty() || refreshToken.size() > 200)
        return std::nullopt;
    const QString hash = TokenService::hashRefreshToken(refreshToken);
    auto q
        = m_db.run(QStringLiteral("SELECT t.session_id, t.used, s.user_id, s.revoked, u.disabled "
                                  "FROM refresh_tokens t JOIN sessions s ON s.id = t.session_id "
                                  "JOIN users u ON u.id = s.user_id WHERE t.token_hash = ?"),
            { hash });
    if (!q || !q->next())
        return std::nullopt;
    const QString sessionId = q->value(0).toString();
    const bool used = q->value(1).toInt() != 0;
    const QString userId = q->value(2).toString();
    if (used) {
        qWarning().noquote() << "Refresh token reused; ending session" << sessionId;
        revokeSession(sessionId);
        return std::nullopt;
    }
    if (q->value(3).toInt() != 0 || q->value(4).toInt() != 0)
        return std::nullopt;
    // Only the request that flips "used" wins; a concurrent second use counts as reuse.
    auto mark = m_db.run(
        QStringLiteral("UPDATE refresh_tokens SET used = 1 WHERE token_hash = ? AND used = 0"),
        { hash });
    if (!mark || mark->numRowsAffected() != 1) {
        revokeSession(sessionId);
        return std::nullopt;
    }
    m_db.run(QStringLiteral("UPDATE sessions SET last_active_at = ? WHERE id = ?"),
        { nowMs(), sessionId });
    return issue(userId, sessionId);
}

void ServerContext::revokeSession(const QString &sessionId)
{
    m_db.run(QStringLiteral("UPDATE sessions SET revoked = 1 WHERE id = ?"), { sessionId });
    m_db.run(QStringLiteral("DELETE FROM refresh_tokens WHERE session_id = ? AND used = 0"),
        { sessionId });
}

void ServerContext::revokeUserSessions(const QString &userId, const QString &exceptSessionId)
{
    auto q = m_db.run(
        QStringLiteral("SELECT id FROM sessions WHERE user_id = ? AND revoked = 0"), { userId });
    QStringList ids;
    while (q && q->next())
        ids << q->value(0).toString();
    for (const QString &id : ids) {
        if (id != exceptSessionId)
            revokeSession(id);
    }
}

QString ServerContext::groupOf(const QString &userId)
{
    return m_db
        .scalar(QStringLiteral("SELECT group_id FROM group_members WHERE user_id = ?"), { userId })
        .toString();
}

QString ServerContext::roleOf(const QString &userId)
{
    return m_db
        .scalar(QStringLiteral("SELECT role FROM group_members WHERE user_id = ?"), { userId })
        .toString();
}

Access ServerContext::noteAccess(const QString &userId, const QString &noteId, QString *ownerId)
{
    auto q = m_db.run(
        QStringLiteral("SELECT owner_id, notebook_id FROM notes WHERE id = ?"), { noteId });
    if (!q || !q->next())
        return Access::None;
    const QString owner = q->value(0).toString();
    const QString notebookId = q->value(1).toString();
    if (ownerId)
        *ownerId = owner;
    if (owner == userId)
        return Access::Owner;
    auto s = m_db.run(QStringLiteral("SELECT permission FROM shares WHERE shared_with = ? AND "
                                     "owner_id = ? AND ((kind = 'note' AND entity_id = ?) OR "
                                     "(kind = 'notebook' AND entity_id = ?))"),
        { userId, owner, noteId, notebookId });
    Access best = Access::None;
    while (s && s->next()) {
        const Access a
            = s->value(0).toString() == QLatin1String("edit") ? Access::Edit : Access::View;
        best = std::max(best, a);
    }
    return best;
}

Access ServerContext::notebookAccess(
    const QString &userId, const QString &notebookId, QString *ownerId)
{
    auto q = m_db.run(QStringLiteral("SELECT owner_id FROM notebooks WHERE id = ? AND "
                                     "deleted_at IS NULL"),
        { notebookId });
    if (!q || !q->next())
        return Access::None;
    const QString owner = q->value(0).toString();
    if (ownerId)
        *ownerId = owner;
    if (owner == userId)
        return Access::Owner;
    const QString perm
        = m_db.scalar(QStringLiteral("SELECT permission FROM shares WHERE kind = "
                                     "'notebook' AND entity_id = ? AND shared_with = ?"),
                  { notebookId, userId })
              .toString();
    if (perm.isEmpty())
        return Access::None;
    return perm == QLatin1String("edit") ? Access::Edit : Access::View;
}

void ServerContext::dropGroupShares(const QString &userId)
{
    removeShares(QStringLiteral("owner_id = ? OR shared_with = ?"), { userId, userId });
}

int ServerContext::removeShares(const QString &condition, const QVariantList &args)
{
    struct Removed
    {
        QString kind, entityId, ownerId, recipient;
    };
    QList<Removed> removed;
    auto q = m_db.run(
        QStringLiteral("SELECT kind, entity_id, owner_id, shared_with FROM shares WHERE ")
            + condition,
        args);
    while (q && q->next())
        removed.append({ q->value(0).toString(), q->value(1).toString(), q->value(2).toString(),
            q->value(3).toString() });
    if (removed.isEmpty())
        return 0;
    m_db.run(QStringLiteral("DELETE FROM shares WHERE ") + condition, args);
    const qint64 now = nowMs();
    for (const Removed &r : removed) {
        QStringList noteIds;
        if (r.kind == QLatin1String("note")) {
            noteIds << r.entityId;
        } else {
            auto notes = m_db.run(
                QStringLiteral("SELECT id FROM notes WHERE notebook_id = ? AND owner_id = ?"),
                { r.entityId, r.ownerId });
            while (notes && notes->next())
                noteIds << notes->value(0).toString();
        }
        // Remembered so the next pull of the former recipient can take the note away.
        for (const QString &noteId : noteIds)
            m_db.run(QStringLiteral("INSERT INTO share_revocations (user_id, note_id, revoked_at) "
                                    "VALUES (?, ?, ?) ON CONFLICT (user_id, note_id) DO UPDATE "
                                    "SET revoked_at = excluded.revoked_at"),
                { r.recipient, noteId, now });
        if (r.kind == QLatin1String("note"))
            touchNote(r.entityId);
        else
            touchNotebookNotes(r.entityId);
    }
    return int(removed.size());
}

void ServerContext::touchNote(const QString &noteId)
{
    m_db.run(QStringLiteral("UPDATE notes SET changed_at = ? WHERE id = ?"), { nowMs(), noteId });
}

void ServerContext::touchNotebookNotes(const QString &notebookId)
{
    const qint64 now = nowMs();
    m_db.run(QStringLiteral("UPDATE notes SET changed_at = ? WHERE notebook_id = ?"),
        { now, notebookId });
    m_db.run(
        QStringLiteral("UPDATE notebooks SET changed_at = ? WHERE id = ?"), { now, notebookId });
}
