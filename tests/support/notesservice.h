#pragma once

#include "recordinghttpserver.h"

#include <QJsonArray>
#include <QJsonObject>

// Scripts `server` as a notes service under `base` with nothing new to send, accepting every
// pushed note at the version it was sent with.
inline void serveEmptyNotesService(
    RecordingHttpServer &server, const QString &base, qint64 timestamp = 1000)
{
    server.setReply("GET", base + QStringLiteral("/sync/pull"),
        ScriptedReply::json(200,
            { { QStringLiteral("changes"), QJsonArray() },
                { QStringLiteral("timestamp"), timestamp } }));
    server.setReply("GET", base + QStringLiteral("/notebooks"),
        ScriptedReply::json(200, { { QStringLiteral("notebooks"), QJsonArray() } }));
    server.setReply("GET", base + QStringLiteral("/attachments"),
        ScriptedReply::json(200,
            { { QStringLiteral("attachments"), QJsonArray() },
                { QStringLiteral("timestamp"), timestamp } }));
    server.setResponder(
        "POST", base + QStringLiteral("/sync/push"), [](const RecordedRequest &request) {
            QJsonArray results;
            const QJsonArray changes = request.json().value(QStringLiteral("changes")).toArray();
            for (const QJsonValue &change : changes) {
                results.append(QJsonObject {
                    { QStringLiteral("entity_id"), change[QStringLiteral("entity_id")] },
                    { QStringLiteral("status"), QStringLiteral("ok") },
                    { QStringLiteral("version"), change[QStringLiteral("version")] } });
            }
            return ScriptedReply::json(200, { { QStringLiteral("results"), results } });
        });
}
