#include "sharingbackend.h"

#include "jsonfields.h"

#include <QDateTime>

namespace BrevAccount {

ShareMember ShareMember::fromJson(const QJsonObject &json)
{
    using JsonFields::text;
    ShareMember member;
    member.id = text(json, "id");
    member.sharedWithAccountId = text(json, "shared_with_account_id");
    member.sharedWithEmail = text(json, "shared_with_email");
    member.sharedWithDisplayName = text(json, "shared_with_display_name");
    member.permission = text(json, "permission");
    const qint64 createdMs = json.value(QLatin1String("created_at")).toInteger();
    if (createdMs > 0)
        member.createdAt
            = QDateTime::fromMSecsSinceEpoch(createdMs).toLocalTime().toString(Qt::ISODateWithMs);
    return member;
}

} // namespace BrevAccount
