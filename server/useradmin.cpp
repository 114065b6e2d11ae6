#include "useradmin.h"

#include "httpexchange.h"
#include "passwordhasher.h"
#include "servercontext.h"

QString UserAdmin::addUser(
    const QString &rawEmail, const QString &password, const QString &displayName)
{
    const QString email = rawEmail.trimmed().toLower();
    if (email.size() < 3 || email.size() > 254 || !email.contains(QLatin1Char('@'))
        || email.contains(QLatin1Char(' ')))
        return QStringLiteral("\"%1\" is not an e-mail address").arg(rawEmail);
    if (password.size() < 8)
        return QStringLiteral("The password must be at least 8 characters");
    if (!m_context.db()
             .scalar(QStringLiteral("SELECT id FROM users WHERE email = ?"), { email })
             .isNull())
        return QStringLiteral("A user with the address %1 exists already").arg(email);
    const QString hash = PasswordHasher::hash(password, m_context.config().cheapPasswordHashing);
    if (hash.isEmpty())
        return QStringLiteral("Could not hash the password (out of memory?)");
    if (!m_context.db().run(QStringLiteral("INSERT INTO users (id, email, display_name, "
                                           "password_hash, disabled, created_at) VALUES (?, ?, ?, "
                                           "?, 0, ?)"),
            { newUuid(), email, displayName, hash, nowMs() }))
        return QStringLiteral("Could not store the user");
    return {};
}

QList<UserAdmin::UserRow> UserAdmin::listUsers()
{
    QList<UserRow> rows;
    auto q = m_context.db().run(QStringLiteral("SELECT id, email, display_name, disabled, "
                                               "created_at FROM users ORDER BY email"));
    while (q && q->next())
        rows.append(UserRow { q->value(0).toString(), q->value(1).toString(),
            q->value(2).toString(), q->value(3).toInt() != 0, q->value(4).toLongLong() });
    return rows;
}

bool UserAdmin::setDisabled(const QString &email, bool disabled)
{
    const QString id = m_context.db()
                           .scalar(QStringLiteral("SELECT id FROM users WHERE email = ?"),
                               { email.trimmed().toLower() })
                           .toString();
    if (id.isEmpty())
        return false;
    m_context.db().run(
        QStringLiteral("UPDATE users SET disabled = ? WHERE id = ?"), { disabled ? 1 : 0, id });
    if (disabled)
        m_context.revokeUserSessions(id);
    return true;
}
