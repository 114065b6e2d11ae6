#include "accountroutes.h"

#include "servercontext.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtDebug>

#include <sodium.h>

namespace {

constexpr qint64 invitationLifetimeMs = 7LL * 24 * 3600 * 1000;

// Ten characters from an alphabet without look-alikes (no 0/O, 1/I/L).
QString newInviteCode()
{
    static const char alphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
    QString code;
    for (int i = 0; i < 10; ++i)
        code += QLatin1Char(alphabet[randombytes_uniform(sizeof(alphabet) - 1)]);
    return code;
}

bool isInviteCode(const QString &code)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9]{4,32}$"));
    return re.match(code).hasMatch();
}

} // namespace

HttpReply AccountRoutes::handle(const HttpRequest &request, const QStringList &rest)
{
    HttpReply reply;
    const auto user = m_context.authenticate(request, &reply);
    if (!user)
        return reply;
    const QByteArray &m = request.method;
    const QString first = rest.value(0);
    const QString second = rest.value(1);
    if (first == QLatin1String("profile") && rest.size() == 1) {
        if (m == "GET")
            return profile(*user);
        if (m == "DELETE")
            return deleteAccount(*user);
    } else if (first == QLatin1String("group")) {
        if (rest.size() == 1 && m == "GET")
            return group(*user);
        if (rest.size() == 2 && second == QLatin1String("invite") && m == "POST")
            return invite(request, *user);
        if (rest.size() == 2 && second == QLatin1String("leave") && m == "POST")
            return leave(*user);
        if (rest.size() == 3 && second == QLatin1String("join") && m == "POST")
            return join(*user, rest[2]);
        if (rest.size() == 3 && second == QLatin1String("members") && m == "DELETE")
            return removeMember(*user, rest[2]);
        if (rest.size() == 3 && second == QLatin1String("invitations") && m == "DELETE")
            return revokeInvitation(*user, rest[2]);
    } else if (first == QLatin1String("devices")) {
        if (rest.size() == 1 && m == "GET")
            return devices(*user);
        if (rest.size() == 2 && m == "DELETE")
            return removeDevice(*user, second);
    }
    return HttpReply::error(404, QStringLiteral("Not found"));
}

HttpReply AccountRoutes::profile(const AuthUser &user)
{
    auto q = m_context.db().run(QStringLiteral("SELECT email, display_name, created_at, "
                                               "deletion_requested_at FROM users WHERE id = ?"),
        { user.userId });
    if (!q || !q->next())
        return HttpReply::error(404, QStringLiteral("Account not found"));
    QJsonObject groupSummary;
    auto g = m_context.db().run(
        QStringLiteral("SELECT g.id, g.name, m.role, (SELECT COUNT(*) FROM group_members x "
                       "WHERE x.group_id = g.id) FROM group_members m JOIN user_groups g ON "
                       "g.id = m.group_id WHERE m.user_id = ?"),
        { user.userId });
    if (g && g->next()) {
        groupSummary = QJsonObject { { QStringLiteral("id"), g->value(0).toString() },
            { QStringLiteral("name"), g->value(1).toString() },
            { QStringLiteral("role"), g->value(2).toString() },
            { QStringLiteral("member_count"), g->value(3).toInt() } };
    }
    return HttpReply::json(200,
        QJsonObject { { QStringLiteral("id"), user.userId },
            { QStringLiteral("email"), q->value(0).toString() },
            { QStringLiteral("display_name"), q->value(1).toString() },
            { QStringLiteral("avatar_url"), QString() },
            { QStringLiteral("language"), QStringLiteral("en") },
            { QStringLiteral("timezone"), QStringLiteral("UTC") },
            { QStringLiteral("status"),
                q->value(3).isNull() ? QStringLiteral("active")
                                     : QStringLiteral("pending_deletion") },
            { QStringLiteral("created_at"), isoFromMs(q->value(2).toLongLong()) },
            { QStringLiteral("group"), groupSummary } });
}

HttpReply AccountRoutes::deleteAccount(const AuthUser &user)
{
    const QString groupId = m_context.groupOf(user.userId);
    if (!groupId.isEmpty() && m_context.roleOf(user.userId) == QLatin1String("owner")) {
        const int members = m_context.db()
                                .scalar(QStringLiteral("SELECT COUNT(*) FROM group_members "
                                                       "WHERE group_id = ?"),
                                    { groupId })
                                .toInt();
        if (members > 1)
            return HttpReply::error(409,
                QStringLiteral("Transfer ownership or remove all members "
                               "before deleting your account."));
    }
    // The data stays for 30 days; signing in again before then cancels the deletion.
    m_context.db().run(QStringLiteral("UPDATE users SET deletion_requested_at = ? WHERE id = ?"),
        { nowMs(), user.userId });
    m_context.revokeUserSessions(user.userId);
    return HttpReply::json(
        200, QJsonObject { { QStringLiteral("status"), QStringLiteral("pending_deletion") } });
}

HttpReply AccountRoutes::group(const AuthUser &user)
{
    const QString groupId = m_context.groupOf(user.userId);
    if (groupId.isEmpty())
        return HttpReply::error(404, QStringLiteral("You are not in a group"));
    ServerDatabase &db = m_context.db();
    auto g = db.run(
        QStringLiteral("SELECT name, max_seats FROM user_groups WHERE id = ?"), { groupId });
    if (!g || !g->next())
        return HttpReply::error(404, QStringLiteral("You are not in a group"));
    QJsonObject result { { QStringLiteral("id"), groupId },
        { QStringLiteral("name"), g->value(0).toString() },
        { QStringLiteral("max_seats"), g->value(1).toInt() } };
    QJsonArray members;
    auto m = db.run(QStringLiteral("SELECT m.user_id, u.display_name, u.email, m.role, m.joined_at "
                                   "FROM group_members m JOIN users u ON u.id = m.user_id WHERE "
                                   "m.group_id = ? ORDER BY m.joined_at"),
        { groupId });
    while (m && m->next()) {
        members.append(QJsonObject { { QStringLiteral("account_id"), m->value(0).toString() },
            { QStringLiteral("auth_user_id"), m->value(0).toString() },
            { QStringLiteral("display_name"), m->value(1).toString() },
            { QStringLiteral("email"), m->value(2).toString() },
            { QStringLiteral("role"), m->value(3).toString() },
            { QStringLiteral("joined_at"), isoFromMs(m->value(4).toLongLong()) } });
    }
    result.insert(QStringLiteral("members"), members);
    QJsonArray pending;
    // Codes are for the owner's eyes; members only see who is invited.
    const bool owner = m_context.roleOf(user.userId) == QLatin1String("owner");
    auto i = db.run(QStringLiteral("SELECT id FROM invitations WHERE group_id = ? AND status = "
                                   "'pending' AND expires_at > ? ORDER BY created_at"),
        { groupId, nowMs() });
    QStringList ids;
    while (i && i->next())
        ids << i->value(0).toString();
    for (const QString &id : ids) {
        QJsonObject inv = invitationJson(id);
        if (!owner)
            inv.remove(QStringLiteral("invite_code"));
        pending.append(inv);
    }
    result.insert(QStringLiteral("pending_invitations"), pending);
    return HttpReply::json(200, result);
}

QJsonObject AccountRoutes::invitationJson(const QString &invitationId)
{
    auto q = m_context.db().run(QStringLiteral("SELECT invited_email, invite_code, status, "
                                               "expires_at FROM invitations WHERE id = ?"),
        { invitationId });
    if (!q || !q->next())
        return {};
    return QJsonObject { { QStringLiteral("id"), invitationId },
        { QStringLiteral("invited_email"), q->value(0).toString() },
        { QStringLiteral("invite_code"), q->value(1).toString() },
        { QStringLiteral("status"), q->value(2).toString() },
        { QStringLiteral("expires_at"), isoFromMs(q->value(3).toLongLong()) } };
}

HttpReply AccountRoutes::invite(const HttpRequest &request, const AuthUser &user)
{
    HttpReply reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    const QString email = body->value(QStringLiteral("email")).toString().trimmed().toLower();
    if (!email.isEmpty() && (email.size() > 254 || !email.contains(QLatin1Char('@'))))
        return HttpReply::error(400, QStringLiteral("Invalid e-mail address"));
    ServerDatabase &db = m_context.db();
    QString groupId = m_context.groupOf(user.userId);
    const qint64 now = nowMs();
    if (groupId.isEmpty()) {
        // Inviting someone is how a group comes to be; its creator owns it.
        groupId = newUuid();
        QString owner = db.scalar(QStringLiteral("SELECT display_name FROM users WHERE id = ?"),
                              { user.userId })
                            .toString();
        if (owner.isEmpty())
            owner = user.email;
        db.run(QStringLiteral("INSERT INTO user_groups (id, name, max_seats, created_at) VALUES "
                              "(?, ?, ?, ?)"),
            { groupId, QStringLiteral("%1's group").arg(owner), m_context.config().maxGroupSeats,
                now });
        db.run(QStringLiteral("INSERT INTO group_members (user_id, group_id, role, joined_at) "
                              "VALUES (?, ?, 'owner', ?)"),
            { user.userId, groupId, now });
    } else if (m_context.roleOf(user.userId) != QLatin1String("owner")) {
        return HttpReply::error(403, QStringLiteral("Only the group owner can invite"));
    }
    const QString id = newUuid();
    const QString code = newInviteCode();
    if (!db.run(
            QStringLiteral("INSERT INTO invitations (id, group_id, invited_email, invite_code, "
                           "status, created_at, expires_at) VALUES (?, ?, ?, ?, 'pending', ?, ?)"),
            { id, groupId, email, code, now, now + invitationLifetimeMs }))
        return HttpReply::error(503, QStringLiteral("Could not create the invitation"));
    if (!email.isEmpty())
        // This server sends no mail: the operator or the owner passes the code on.
        qInfo().noquote() << "Invitation for" << email << "created; invite code" << code;
    return HttpReply::json(201, invitationJson(id));
}

HttpReply AccountRoutes::join(const AuthUser &user, const QString &code)
{
    if (!isInviteCode(code))
        return HttpReply::error(404, QStringLiteral("Invalid or expired invite code"));
    if (!m_context.groupOf(user.userId).isEmpty())
        return HttpReply::error(409, QStringLiteral("Leave your current group first"));
    ServerDatabase &db = m_context.db();
    auto q = db.run(QStringLiteral("SELECT id, group_id, invited_email FROM invitations WHERE "
                                   "invite_code = ? AND status = 'pending' AND expires_at > ?"),
        { code.toUpper(), nowMs() });
    if (!q || !q->next())
        return HttpReply::error(404, QStringLiteral("Invalid or expired invite code"));
    const QString invitationId = q->value(0).toString();
    const QString groupId = q->value(1).toString();
    const QString invited = q->value(2).toString();
    if (!invited.isEmpty() && invited != user.email.toLower())
        return HttpReply::error(403, QStringLiteral("This invitation is for another address"));
    const int members = db.scalar(QStringLiteral("SELECT COUNT(*) FROM group_members WHERE "
                                                 "group_id = ?"),
                              { groupId })
                            .toInt();
    const int seats
        = db.scalar(QStringLiteral("SELECT max_seats FROM user_groups WHERE id = ?"), { groupId })
              .toInt();
    if (members >= seats)
        return HttpReply::error(409, QStringLiteral("The group has no free seats"));
    db.run(QStringLiteral("INSERT INTO group_members (user_id, group_id, role, joined_at) VALUES "
                          "(?, ?, 'member', ?)"),
        { user.userId, groupId, nowMs() });
    db.run(QStringLiteral("UPDATE invitations SET status = 'accepted' WHERE id = ?"),
        { invitationId });
    return group(user);
}

HttpReply AccountRoutes::leave(const AuthUser &user)
{
    const QString groupId = m_context.groupOf(user.userId);
    if (groupId.isEmpty())
        return HttpReply::error(404, QStringLiteral("You are not in a group"));
    ServerDatabase &db = m_context.db();
    if (m_context.roleOf(user.userId) == QLatin1String("owner")) {
        const int members = db.scalar(QStringLiteral("SELECT COUNT(*) FROM group_members WHERE "
                                                     "group_id = ?"),
                                  { groupId })
                                .toInt();
        if (members > 1)
            return HttpReply::error(409, QStringLiteral("Remove the other members first"));
        db.run(QStringLiteral("DELETE FROM invitations WHERE group_id = ?"), { groupId });
        db.run(QStringLiteral("DELETE FROM user_groups WHERE id = ?"), { groupId });
    }
    m_context.dropGroupShares(user.userId);
    db.run(QStringLiteral("DELETE FROM group_members WHERE user_id = ?"), { user.userId });
    return HttpReply::noContent();
}

HttpReply AccountRoutes::removeMember(const AuthUser &user, const QString &memberId)
{
    if (!isUuid(memberId))
        return HttpReply::error(400, QStringLiteral("Invalid account id"));
    const QString groupId = m_context.groupOf(user.userId);
    if (groupId.isEmpty() || m_context.roleOf(user.userId) != QLatin1String("owner"))
        return HttpReply::error(403, QStringLiteral("Only the group owner can remove members"));
    const QString id = memberId.toLower();
    if (id == user.userId || m_context.groupOf(id) != groupId)
        return HttpReply::error(404, QStringLiteral("Member not found"));
    m_context.dropGroupShares(id);
    m_context.db().run(QStringLiteral("DELETE FROM group_members WHERE user_id = ?"), { id });
    return HttpReply::noContent();
}

HttpReply AccountRoutes::revokeInvitation(const AuthUser &user, const QString &invitationId)
{
    if (!isUuid(invitationId))
        return HttpReply::error(400, QStringLiteral("Invalid invitation id"));
    const QString groupId = m_context.groupOf(user.userId);
    if (groupId.isEmpty() || m_context.roleOf(user.userId) != QLatin1String("owner"))
        return HttpReply::error(403, QStringLiteral("Only the group owner can revoke invitations"));
    auto q = m_context.db().run(QStringLiteral("UPDATE invitations SET status = 'revoked' WHERE "
                                               "id = ? AND group_id = ? AND status = 'pending'"),
        { invitationId.toLower(), groupId });
    if (!q || q->numRowsAffected() == 0)
        return HttpReply::error(404, QStringLiteral("Invitation not found"));
    return HttpReply::noContent();
}

HttpReply AccountRoutes::devices(const AuthUser &user)
{
    auto q = m_context.db().run(
        QStringLiteral("SELECT d.id, d.device_name, d.platform, d.app_id, d.app_version, "
                       "d.last_sync_at, d.device_fingerprint, d.created_at FROM devices d JOIN "
                       "sessions s ON s.id = d.id WHERE d.user_id = ? AND s.revoked = 0 ORDER "
                       "BY d.last_sync_at DESC"),
        { user.userId });
    QJsonArray list;
    while (q && q->next()) {
        list.append(QJsonObject { { QStringLiteral("id"), q->value(0).toString() },
            { QStringLiteral("device_name"), q->value(1).toString() },
            { QStringLiteral("platform"), q->value(2).toString() },
            { QStringLiteral("app_id"), q->value(3).toString() },
            { QStringLiteral("app_version"), q->value(4).toString() },
            { QStringLiteral("last_sync_at"), isoFromMs(q->value(5).toLongLong()) },
            { QStringLiteral("device_fingerprint"), q->value(6).toString() },
            { QStringLiteral("created_at"), isoFromMs(q->value(7).toLongLong()) } });
    }
    return HttpReply::json(200, QJsonObject { { QStringLiteral("devices"), list } });
}

HttpReply AccountRoutes::removeDevice(const AuthUser &user, const QString &deviceId)
{
    if (!isUuid(deviceId))
        return HttpReply::error(400, QStringLiteral("Invalid device id"));
    const QString id = deviceId.toLower();
    auto q = m_context.db().run(
        QStringLiteral("DELETE FROM devices WHERE id = ? AND user_id = ?"), { id, user.userId });
    if (!q || q->numRowsAffected() == 0)
        return HttpReply::error(404, QStringLiteral("Device not found"));
    // A device is a signed-in copy of the program: removing it signs that copy out.
    m_context.revokeSession(id);
    return HttpReply::noContent();
}
