#pragma once

// A release server on 127.0.0.1 for the update tests: manifests and release notes at the paths
// the program asks for, built from one valid manifest that each case bends.

#include "recordinghttpserver.h"
#include "updateconfig.h"
#include "updateflows.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>

Q_DECLARE_METATYPE(ScriptedReply)

namespace UpdateFixture {

inline const QString ManifestPath = QStringLiteral("/notes/stable/latest.json");
inline const QString NotesPath = QStringLiteral("/notes/1.1.0/release-notes.md");

// A well-formed build entry; `overrides` replace fields, a null value removes the field.
inline QJsonObject artifact(const QString &version, const QJsonObject &overrides = {})
{
    QJsonObject object {
        { "version", version },
        { "released_at", "2026-11-30T12:00:00Z" },
        { "url", QStringLiteral("https://downloads.example.org/notes/%1/setup").arg(version) },
        { "size", 48123456 },
        { "sha256", QString(64, QLatin1Char('a')) },
    };
    for (auto it = overrides.begin(); it != overrides.end(); ++it) {
        if (it.value().isNull())
            object.remove(it.key());
        else
            object.insert(it.key(), it.value());
    }
    return object;
}

inline QByteArray manifest(const QJsonObject &artifacts, const QJsonObject &rootOverrides = {})
{
    QJsonObject root { { "schema", 1 }, { "app", "notes" }, { "channel", "stable" },
        { "artifacts", artifacts } };
    for (auto it = rootOverrides.begin(); it != rootOverrides.end(); ++it) {
        if (it.value().isNull())
            root.remove(it.key());
        else
            root.insert(it.key(), it.value());
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

inline ScriptedReply json(const QByteArray &body, int status = 200)
{
    return ScriptedReply::raw(status, body, "application/json");
}

inline ScriptedReply markdown(const QByteArray &body, int status = 200)
{
    return ScriptedReply::raw(status, body, "text/markdown; charset=utf-8");
}

inline BrevUpdate::UpdateConfig config(
    const RecordingHttpServer &server, const QString &currentVersion = QStringLiteral("1.1.0"))
{
    BrevUpdate::UpdateConfig config;
    config.appId = QStringLiteral("notes");
    config.manifestBaseUrl = server.url(QStringLiteral("/notes/stable/")).toString();
    config.currentVersion = currentVersion;
    return config;
}

// What the interactive flows report, one line per callback.
struct CallbackLog
{
    QStringList lines;
    BrevUpdate::UpdateCallbacks callbacks()
    {
        BrevUpdate::UpdateCallbacks callbacks;
        callbacks.message = [this](const QString &text) { lines << "message: " + text; };
        callbacks.finished = [this] { lines << "finished"; };
        callbacks.timedMessage = [this](const QString &text, int ms) {
            lines << QStringLiteral("timed %1: %2").arg(ms).arg(text);
        };
        return callbacks;
    }
};

} // namespace UpdateFixture
