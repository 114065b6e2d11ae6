#pragma once

#include "accountfixture.h"
#include "attachmentrepository.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "snapshotrepository.h"
#include "syncengine.h"
#include "testdatabase.h"

#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>

// A signed-in SyncEngine over a fresh database, talking to a recording server that plays the
// notes service under "/sync/v1". serveEmpty() scripts a server with nothing new that accepts
// every pushed note at the version it was sent with.
struct SyncFixture
{
    TestDatabase db;
    NoteRepository notes { db.database() };
    NotebookRepository notebooks { db.database() };
    AttachmentRepository attachments { db.database(), db.dataPath() + "/attachments" };
    SnapshotRepository snapshots { db.database() };
    PreferencesRepository preferences { db.database() };
    NoteWriter writer { db.database(), &notes, &notebooks };
    AccountFixture account;
    SyncEngine engine { account.client->syncApi(), &writer, &notes, &notebooks, &attachments,
        &snapshots, &preferences };
    QSignalSpy completed { &engine, &SyncEngine::syncCompleted };
    QSignalSpy failed { &engine, &SyncEngine::syncFailed };

    SyncFixture()
    {
        account.signIn(makeJwt(3600), "refresh-1");
        engine.setDebounceInterval(50);
    }

    static QString path(const QString &route) { return "/sync/v1" + route; }
    RecordingHttpServer &server() { return account.server; }

    void serveEmpty(qint64 timestamp = 1000)
    {
        server().setReply("GET", path("/sync/pull"),
            ScriptedReply::json(200, { { "changes", QJsonArray() }, { "timestamp", timestamp } }));
        server().setReply(
            "GET", path("/notebooks"), ScriptedReply::json(200, { { "notebooks", QJsonArray() } }));
        server().setReply("GET", path("/attachments"),
            ScriptedReply::json(
                200, { { "attachments", QJsonArray() }, { "timestamp", timestamp } }));
        server().setResponder("POST", path("/sync/push"), &acceptAll);
    }

    static ScriptedReply acceptAll(const RecordedRequest &request)
    {
        QJsonArray results;
        for (const QJsonValue &change : request.json().value("changes").toArray()) {
            results.append(QJsonObject { { "entity_id", change["entity_id"] }, { "status", "ok" },
                { "version", change["version"] } });
        }
        return ScriptedReply::json(200, { { "results", results } });
    }

    // Runs one cycle to its end; true when it completed without error.
    bool runCycle()
    {
        const qsizetype before = completed.size() + failed.size();
        engine.sync();
        return QTest::qWaitFor([&] { return completed.size() + failed.size() > before; }, 5000)
            && failed.size() == 0;
    }

    // A note stored as synced at `version`, as if it came from an earlier sync.
    Note syncedNote(const QString &text, int version)
    {
        Note note = TestDatabase::makeNote(body(text));
        note.version = version;
        note.syncStatus = SyncStatus::Synced;
        notes.insert(note);
        return note;
    }

    static QString body(const QString &text)
    {
        return QString::fromUtf8(QJsonDocument(
            QJsonArray { QJsonObject { { "insert",
                text + "\n" } } }).toJson(QJsonDocument::Compact));
    }
};
