#include "authtypes.h"

#include "jsonfields.h"

#include <QJsonValue>

namespace BrevAccount {

using namespace JsonFields;

User User::fromJson(const QJsonObject &json)
{
    User user;
    user.id = text(json, "id");
    user.email = text(json, "email");
    user.displayName = text(json, "display_name");
    user.username = text(json, "username");
    user.avatarUrl = text(json, "avatar_url");
    user.createdAt = time(json, "created_at");
    return user;
}

Session Session::fromJson(const QJsonObject &json)
{
    Session session;
    session.id = text(json, "id");
    session.userAgent = text(json, "user_agent");
    session.ipAddress = text(json, "ip_address");
    session.createdAt = time(json, "created_at");
    session.lastActiveAt = time(json, "last_active_at");
    session.isCurrent = json.value(QLatin1String("is_current")).toBool();
    return session;
}

} // namespace BrevAccount
