#include "shareroutes.h"

#include "servercontext.h"

#include <QJsonArray>

namespace {
const QString noteKind = QStringLiteral("note");
const QString notebookKind = QStringLiteral("notebook");
} // namespace

std::optional<HttpReply> ShareRoutes::handle(const HttpRequest &request, const QStringList &rest)
{
    QString kind;
    QString id;
    QString target;
    bool isShareCall = false; // the notebook POST path differs from its GET path
    const QByteArray &m = request.method;
    if (rest.value(0) == QLatin1String("shares") && rest.value(1) == QLatin1String("notes")
        && (rest.size() == 3 || rest.size() == 4)) {
        kind = noteKind;
        id = rest[2];
        target = rest.value(3);
        isShareCall = rest.size() == 3 && m == "POST";
    } else if (rest.value(0) == QLatin1String("notebooks") && rest.size() >= 3 && rest.size() <= 4
        && (rest[2] == QLatin1String("shares")
            || (rest[2] == QLatin1String("share") && rest.size() == 3))) {
        kind = notebookKind;
        id = rest[1];
        target = rest.value(3);
        isShareCall = rest[2] == QLatin1String("share");
        if (isShareCall && m != "POST")
            return HttpReply::error(405, QStringLiteral("Method not allowed"));
        if (!isShareCall && m == "POST")
            return HttpReply::error(405, QStringLiteral("Method not allowed"));
    } else {
        return std::nullopt;
    }
    HttpReply reply;
    const auto user = m_context.authenticate(request, &reply);
    if (!user)
        return reply;
    if (!isUuid(id) || (!target.isEmpty() && !isUuid(target)))
        return HttpReply::error(400, QStringLiteral("Invalid id"));
    id = id.toLower();
    target = target.toLower();
    if (isShareCall)
        return share(request, *user, kind, id);
    if (target.isEmpty() && m == "GET")
        return list(*user, kind, id);
    if (!target.isEmpty() && m == "DELETE")
        return remove(*user, kind, id, target);
    return HttpReply::error(405, QStringLiteral("Method not allowed"));
}

std::optional<QString> ShareRoutes::ownerFor(
    const QString &userId, const QString &kind, const QString &id, HttpReply *reply)
{
    QString owner;
    const Access access = kind == noteKind ? m_context.noteAccess(userId, id, &owner)
                                           : m_context.notebookAccess(userId, id, &owner);
    if (access == Access::None) {
        *reply = HttpReply::error(404,
            kind == noteKind ? QStringLiteral("Note not found")
                             : QStringLiteral("Notebook not found"));
        return std::nullopt;
    }
    if (access != Access::Owner) {
        *reply = HttpReply::error(403, QStringLiteral("Only the owner can change sharing"));
        return std::nullopt;
    }
    return owner;
}

void ShareRoutes::touch(const QString &kind, const QString &id)
{
    if (kind == noteKind)
        m_context.touchNote(id);
    else
        m_context.touchNotebookNotes(id);
}

HttpReply ShareRoutes::share(
    const HttpRequest &request, const AuthUser &user, const QString &kind, const QString &id)
{
    HttpReply reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    if (!ownerFor(user.userId, kind, id, &reply))
        return reply;
    QString target = body->value(QStringLiteral("auth_user_id")).toString().toLower();
    if (target.isEmpty())
        target = body->value(QStringLiteral("account_id")).toString().toLower();
    if (!isUuid(target))
        return HttpReply::error(400, QStringLiteral("Invalid account id"));
    if (target == user.userId)
        return HttpReply::error(400, QStringLiteral("You already own this"));
    const QString group = m_context.groupOf(user.userId);
    if (group.isEmpty() || m_context.groupOf(target) != group)
        return HttpReply::error(
            403, QStringLiteral("You can only share with members of your group"));
    const QString permission
        = body->value(QStringLiteral("permission")).toString() == QLatin1String("view")
        ? QStringLiteral("view")
        : QStringLiteral("edit");
    const qint64 now = nowMs();
    const QString shareId = newUuid();
    if (!m_context.db().run(QStringLiteral("INSERT INTO shares (id, kind, entity_id, owner_id, "
                                           "shared_with, permission, created_at) VALUES (?, ?, ?, "
                                           "?, ?, ?, ?) ON CONFLICT (kind, entity_id, shared_with) "
                                           "DO UPDATE SET permission = excluded.permission"),
            { shareId, kind, id, user.userId, target, permission, now }))
        return HttpReply::error(503, QStringLiteral("Could not store the share"));
    touch(kind, id);
    return HttpReply::json(201,
        QJsonObject { { QStringLiteral("shared_with_account_id"), target },
            { QStringLiteral("permission"), permission } });
}

HttpReply ShareRoutes::list(const AuthUser &user, const QString &kind, const QString &id)
{
    HttpReply reply;
    if (!ownerFor(user.userId, kind, id, &reply))
        return reply;
    auto q = m_context.db().run(
        QStringLiteral("SELECT s.id, s.shared_with, u.email, u.display_name, s.permission, "
                       "s.created_at FROM shares s LEFT JOIN users u ON u.id = s.shared_with "
                       "WHERE s.kind = ? AND s.entity_id = ? ORDER BY s.created_at"),
        { kind, id });
    QJsonArray shares;
    while (q && q->next()) {
        shares.append(QJsonObject { { QStringLiteral("id"), q->value(0).toString() },
            { QStringLiteral("shared_with_account_id"), q->value(1).toString() },
            { QStringLiteral("shared_with_email"), q->value(2).toString() },
            { QStringLiteral("shared_with_display_name"), q->value(3).toString() },
            { QStringLiteral("permission"), q->value(4).toString() },
            { QStringLiteral("created_at"), q->value(5).toLongLong() } });
    }
    return HttpReply::json(200, QJsonObject { { QStringLiteral("shares"), shares } });
}

HttpReply ShareRoutes::remove(
    const AuthUser &user, const QString &kind, const QString &id, const QString &target)
{
    // Someone a note was shared with may drop it from their own list.
    if (target != user.userId) {
        HttpReply reply;
        if (!ownerFor(user.userId, kind, id, &reply))
            return reply;
    }
    const int removed = m_context.removeShares(
        QStringLiteral("kind = ? AND entity_id = ? AND shared_with = ?"), { kind, id, target });
    if (removed == 0)
        return HttpReply::error(404, QStringLiteral("Not shared with this person"));
    return HttpReply::noContent();
}
