#include "syncfixture.h"
#include "syncwire.h"

#include <QFile>
#include <QRegularExpression>

using namespace BrevAccount;

class TestSyncEngine : public QObject
{
    Q_OBJECT

private slots:
    void burstOfEditsRunsOneCycle();
    void syncDuringCycleRunsExactlyOneMore();
    void pushOutcomes_data();
    void pushOutcomes();
    void editWhilePushingStaysPending();
    void notebookPush_data();
    void notebookPush();
    void pulledNotes_data();
    void pulledNotes();
    void notebookList_data();
    void notebookList();
    void pullTimestamps();
    void attachmentUpload_data();
    void attachmentUpload();
    void attachmentDownloadsRetriedUntilTheyArrive();
    void forceFullResyncPushesEverything();
    void twoDevicesThroughOneServer();
};

namespace {

// Just enough of the notes service to sync two devices: it keeps the newest version of each
// note, refuses a push that is not newer than what it has, and pulls by its own change clock.
struct NotesServerState
{
    QHash<QString, QJsonObject> notes;
    qint64 clock = 1000;

    void serveOn(RecordingHttpServer &server)
    {
        server.setResponder(
            "POST", SyncFixture::path("/sync/push"), [this](const RecordedRequest &r) {
                QJsonArray results;
                for (const QJsonValue &value : r.json()["changes"].toArray()) {
                    const QString id = value["entity_id"].toString();
                    const int version = value["version"].toInt();
                    if (notes.contains(id) && version <= notes[id]["version"].toInt()) {
                        results.append(QJsonObject { { "entity_id", id }, { "status", "conflict" },
                            { "message", "server has a newer version" } });
                        continue;
                    }
                    QJsonObject note = value["data"].toObject();
                    note.insert("id", id);
                    note.insert("version", version);
                    note.insert("changed", ++clock);
                    notes.insert(id, note);
                    results.append(QJsonObject {
                        { "entity_id", id }, { "status", "ok" }, { "version", version } });
                }
                return ScriptedReply::json(200, { { "results", results } });
            });
        server.setResponder(
            "GET", SyncFixture::path("/sync/pull"), [this](const RecordedRequest &r) {
                const qint64 since = r.query.queryItemValue("since").toLongLong();
                QJsonArray changes;
                for (const QJsonObject &note : std::as_const(notes)) {
                    if (note["changed"].toInteger() > since)
                        changes.append(note);
                }
                return ScriptedReply::json(200, { { "changes", changes }, { "timestamp", clock } });
            });
    }
};

} // namespace

void TestSyncEngine::burstOfEditsRunsOneCycle()
{
    SyncFixture f;
    f.serveEmpty();
    QSignalSpy states(&f.engine, &SyncEngine::stateChanged);
    const std::optional<Note> note = f.writer.createNote(QString());
    QVERIFY(note);
    for (const char *text : { "one", "two", "three" }) {
        QVERIFY(f.writer.saveBody(note->id, SyncFixture::body(text)));
        f.engine.scheduleSync();
    }
    QCOMPARE(f.engine.state(), SyncEngine::Pending);
    QTRY_COMPARE(f.completed.size(), 1);
    QTest::qWait(3 * f.engine.debounceInterval());
    QCOMPARE(f.completed.size(), 1);
    QCOMPARE(f.server().count(SyncFixture::path("/sync/push")), 1);
    QCOMPARE(f.server().count(SyncFixture::path("/sync/pull")), 1);
    const QJsonArray changes
        = f.server().requests(SyncFixture::path("/sync/push")).first().json()["changes"].toArray();
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes[0]["version"].toInt(), 4);
    QCOMPARE(changes[0]["data"]["body"].toString(), SyncFixture::body("three"));
    QCOMPARE(f.notes.noteById(note->id)->syncStatus, SyncStatus::Synced);
    QCOMPARE(f.engine.state(), SyncEngine::Idle);
    QCOMPARE(states.first().first().toInt(), int(SyncEngine::Pending));
}

void TestSyncEngine::syncDuringCycleRunsExactlyOneMore()
{
    SyncFixture f;
    f.serveEmpty();
    f.server().enqueueReply("GET", SyncFixture::path("/sync/pull"),
        ScriptedReply::held(200, { { "changes", QJsonArray() }, { "timestamp", 5 } }));
    f.engine.sync();
    QTRY_COMPARE(f.server().heldCount(), 1);
    QCOMPARE(f.engine.state(), SyncEngine::Syncing);
    for (int i = 0; i < 3; ++i)
        f.engine.sync();
    QCOMPARE(f.server().count(SyncFixture::path("/sync/pull")), 1);
    f.server().releaseHeld();
    QTRY_COMPARE(f.completed.size(), 2);
    QTest::qWait(200);
    QCOMPARE(f.completed.size(), 2);
    QCOMPARE(f.server().count(SyncFixture::path("/sync/pull")), 2);
    QCOMPARE(f.engine.state(), SyncEngine::Idle);
}

void TestSyncEngine::pushOutcomes_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("pulled");
    QTest::addColumn<SyncStatus>("status");

    const auto results = [](const QJsonObject &result) {
        return QJsonObject { { "results", QJsonArray { result } } };
    };
    // The note's id is filled in by the test.
    QTest::addRow("accepted") << ScriptedReply::json(
        200, results({ { "entity_id", "ID" }, { "status", "ok" }, { "version", 9 } }))
                              << int(SyncEngine::Idle) << "" << true << SyncStatus::Synced;
    QTest::addRow("accepted without a version keeps the local one")
        << ScriptedReply::json(200, results({ { "entity_id", "ID" }, { "status", "ok" } }))
        << int(SyncEngine::Idle) << "" << true << SyncStatus::Synced;
    QTest::addRow("conflict stays pending") << ScriptedReply::json(
        200, results({ { "entity_id", "ID" }, { "status", "conflict" }, { "message", "stale" } }))
                                            << int(SyncEngine::Pending) << "" << true
                                            << SyncStatus::Pending;
    QTest::addRow("unknown status stays pending")
        << ScriptedReply::json(200, results({ { "entity_id", "ID" }, { "status", "maybe" } }))
        << int(SyncEngine::Pending) << "" << true << SyncStatus::Pending;
    QTest::addRow("no results list")
        << ScriptedReply::json(200, { { "results", "yes" } }) << int(SyncEngine::Pending) << ""
        << true << SyncStatus::Pending;
    QTest::addRow("413 still pulls")
        << ScriptedReply::json(413, {}) << int(SyncEngine::Error) << "Note push failed (HTTP 413)"
        << true << SyncStatus::Pending;
    QTest::addRow("400 still pulls")
        << ScriptedReply::json(400, {}) << int(SyncEngine::Error) << "Note push failed (HTTP 400)"
        << true << SyncStatus::Pending;
    QTest::addRow("429 ends the cycle")
        << ScriptedReply::json(429, {}) << int(SyncEngine::Error) << "Note push failed (HTTP 429)"
        << false << SyncStatus::Pending;
    QTest::addRow("500 ends the cycle")
        << ScriptedReply::json(500, {}) << int(SyncEngine::Error) << "Note push failed (HTTP 500)"
        << false << SyncStatus::Pending;
    QTest::addRow("401 and the sign-in refused")
        << ScriptedReply::json(401, {}) << int(SyncEngine::Error) << "Note push failed (HTTP 401)"
        << false << SyncStatus::Pending;
    QTest::addRow("no answer times out")
        << ScriptedReply::never() << int(SyncEngine::Error) << "Note push failed (HTTP 0)" << false
        << SyncStatus::Pending;
}

void TestSyncEngine::pushOutcomes()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(int, state);
    QFETCH(QString, error);
    QFETCH(bool, pulled);
    QFETCH(SyncStatus, status);

    SyncFixture f;
    f.serveEmpty();
    f.account.answerRefresh(ScriptedReply::json(401, { { "error", "invalid_grant" } }));
    QSignalSpy failures(&f.engine, &SyncEngine::syncFailed);
    const std::optional<Note> note = f.writer.createNote(QString(), SyncFixture::body("mine"));
    QVERIFY(note);
    reply.body.replace("\"ID\"", "\"" + note->id.toLatin1() + "\"");
    f.server().enqueueReply("POST", SyncFixture::path("/sync/push"), reply);
    // Something from another device, which must arrive whenever the pull runs.
    Note remote = TestDatabase::makeNote(SyncFixture::body("theirs"));
    f.server().setReply("GET", SyncFixture::path("/sync/pull"),
        ScriptedReply::json(200,
            { { "changes",
                  QJsonArray { QJsonObject { { "id", remote.id }, { "body", remote.body },
                      { "notebook_id", QUuid::createUuid().toString(QUuid::WithoutBraces) },
                      { "version", 2 }, { "updated_at", 1700000000000.0 } } } },
                { "timestamp", 77 } }));

    QCOMPARE(f.runCycle(), error.isEmpty());
    QCOMPARE(int(f.engine.state()), state);
    QCOMPARE(f.engine.lastError(), error);
    if (!error.isEmpty())
        QCOMPARE(f.failed.last().first().toString(), error);
    if (reply.status == 401)
        QCOMPARE(failures.first().first().toString(), "Authentication required");
    QCOMPARE(f.notes.noteById(note->id)->syncStatus, status);
    QCOMPARE(f.notes.noteById(remote.id).has_value(), pulled);
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastSyncKey), pulled ? "77" : "");
    if (status == SyncStatus::Synced) {
        const int expected = reply.body.contains("\"version\"") ? 9 : note->version;
        QCOMPARE(f.notes.noteById(note->id)->version, expected);
    }

    // Whatever went wrong, the next sync is a new cycle that can succeed.
    QVERIFY(f.runCycle() || !error.isEmpty());
    if (!error.isEmpty()) {
        f.failed.clear();
        QVERIFY(f.runCycle());
        QCOMPARE(f.notes.noteById(note->id)->syncStatus, SyncStatus::Synced);
        QCOMPARE(f.engine.state(), SyncEngine::Idle);
    }
}

void TestSyncEngine::editWhilePushingStaysPending()
{
    SyncFixture f;
    f.serveEmpty();
    const std::optional<Note> note = f.writer.createNote(QString(), SyncFixture::body("first"));
    QVERIFY(note);
    f.server().setResponder("POST", SyncFixture::path("/sync/push"), [](const RecordedRequest &r) {
        ScriptedReply reply = SyncFixture::acceptAll(r);
        reply.mode = ScriptedReply::Mode::Hold;
        return reply;
    });
    f.engine.sync();
    QTRY_COMPARE(f.server().heldCount(), 1);
    QVERIFY(f.writer.saveBody(note->id, SyncFixture::body("second")));
    f.server().releaseHeld();
    QTRY_COMPARE(f.completed.size(), 1);
    const Note stored = *f.notes.noteById(note->id);
    QCOMPARE(stored.syncStatus, SyncStatus::Pending);
    QCOMPARE(stored.body, SyncFixture::body("second"));
    QCOMPARE(stored.version, note->version + 1);
    QCOMPARE(f.engine.state(), SyncEngine::Pending);
}

void TestSyncEngine::notebookPush_data()
{
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QList<ScriptedReply>>("replies");
    QTest::addColumn<QStringList>("requests"); // "METHOD path-with-ID"
    QTest::addColumn<SyncStatus>("status");
    QTest::addColumn<int>("version");

    using L = QList<ScriptedReply>;
    QTest::addRow("PUT accepted") << false << L { ScriptedReply::json(200, { { "version", 7 } }) }
                                  << QStringList { "PUT /notebooks/ID" } << SyncStatus::Synced << 7;
    QTest::addRow("PUT 404 then POST")
        << false << L { ScriptedReply::json(404, {}), ScriptedReply::json(201, {}) }
        << QStringList { "PUT /notebooks/ID", "POST /notebooks" } << SyncStatus::Synced << 1;
    QTest::addRow("PUT 404 then POST refused")
        << false << L { ScriptedReply::json(404, {}), ScriptedReply::json(500, {}) }
        << QStringList { "PUT /notebooks/ID", "POST /notebooks" } << SyncStatus::Pending << 2;
    QTest::addRow("PUT 409 leaves it to the list")
        << false << L { ScriptedReply::json(409, {}) } << QStringList { "PUT /notebooks/ID" }
        << SyncStatus::Synced << 2;
    QTest::addRow("PUT 500 stays pending")
        << false << L { ScriptedReply::json(500, {}) } << QStringList { "PUT /notebooks/ID" }
        << SyncStatus::Pending << 2;
    QTest::addRow("trashed is deleted")
        << true << L { ScriptedReply::raw(204, {}, {}) } << QStringList { "DELETE /notebooks/ID" }
        << SyncStatus::Synced << 2;
    QTest::addRow("DELETE 404 counts as done")
        << true << L { ScriptedReply::json(404, {}) } << QStringList { "DELETE /notebooks/ID" }
        << SyncStatus::Synced << 2;
    QTest::addRow("DELETE 503 stays pending")
        << true << L { ScriptedReply::json(503, {}) } << QStringList { "DELETE /notebooks/ID" }
        << SyncStatus::Pending << 2;
}

void TestSyncEngine::notebookPush()
{
    QFETCH(bool, deleted);
    QFETCH(QList<ScriptedReply>, replies);
    QFETCH(QStringList, requests);
    QFETCH(SyncStatus, status);
    QFETCH(int, version);

    SyncFixture f;
    f.serveEmpty();
    Notebook notebook = TestDatabase::makeNotebook("Work");
    notebook.version = 2;
    QVERIFY(f.notebooks.insert(notebook));
    if (deleted)
        QVERIFY(f.notebooks.softDelete(notebook.id));
    const QString item = SyncFixture::path("/notebooks/" + notebook.id);
    for (const ScriptedReply &reply : replies) {
        const bool post = replies.size() > 1 && &reply == &replies.last();
        f.server().enqueueReply(deleted ? "DELETE" : (post ? "POST" : "PUT"),
            post ? SyncFixture::path("/notebooks") : item, reply);
    }
    QVERIFY(f.runCycle());

    QStringList seen;
    for (const RecordedRequest &request : f.server().requests()) {
        if (request.path.startsWith(SyncFixture::path("/notebooks")) && request.method != "GET")
            seen << QString::fromLatin1(request.method) + " "
                    + request.path.mid(8).replace(notebook.id, "ID");
    }
    QCOMPARE(seen, requests);
    for (const RecordedRequest &request : f.server().requests()) {
        if (request.method == "PUT")
            QCOMPARE(request.json(), (QJsonObject { { "name", "Work" }, { "version", 2 } }));
        if (request.method == "POST" && request.path.endsWith("/notebooks"))
            QCOMPARE(request.json(), (QJsonObject { { "id", notebook.id }, { "name", "Work" } }));
    }
    const Notebook stored = *f.notebooks.notebookById(notebook.id);
    QCOMPARE(stored.syncStatus, status);
    QCOMPARE(stored.version, version);
}

void TestSyncEngine::pulledNotes_data()
{
    QTest::addColumn<SyncStatus>("localStatus");
    QTest::addColumn<QJsonArray>("changes"); // "ID" stands for the local note's id
    QTest::addColumn<QString>("body"); // the local note's body afterwards
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("snapshots");
    QTest::addColumn<bool>("trashed");
    QTest::addColumn<QString>("updatedAt"); // ISO, or "" to leave unchecked
    QTest::addColumn<QString>("log"); // a warning that must appear, or ""

    const QString local = SyncFixture::body("local");
    const QString server = SyncFixture::body("server");
    const auto change = [&](QJsonObject extra) {
        QJsonObject object { { "id", "ID" }, { "body", server }, { "version", 3 },
            { "created_at", 1700000000000.0 }, { "updated_at", 1700000000000.0 },
            { "modified_at", 1700000000000.0 } };
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            if (it.value() == "DROP")
                object.remove(it.key());
            else
                object.insert(it.key(), it.value());
        }
        return object;
    };
    const QString drop = "DROP";

    QTest::addRow("same version replaces a synced note")
        << SyncStatus::Synced << QJsonArray { change({}) } << server << 3 << 0 << false
        << "2023-11-14T22:13:20.000Z"
        << "";
    QTest::addRow("lower version leaves the local note")
        << SyncStatus::Synced << QJsonArray { change({ { "version", 2 } }) } << local << 3 << 0
        << false << ""
        << "";
    QTest::addRow("newer version over unsynced edits keeps them as a snapshot")
        << SyncStatus::Pending << QJsonArray { change({ { "version", 4 } }) } << server << 4 << 1
        << false << ""
        << "note conflict";
    QTest::addRow("missing body leaves the local note")
        << SyncStatus::Synced << QJsonArray { change({ { "body", drop }, { "version", 9 } }) }
        << local << 3 << 0 << false << ""
        << "without a body";
    QTest::addRow("body that is not delta JSON is kept as text")
        << SyncStatus::Synced << QJsonArray { change({ { "body", "plain <b>words" } }) }
        << SyncWire::plainTextBody("plain <b>words") << 3 << 1 << false << ""
        << "not delta JSON";
    QTest::addRow("version as text counts as 0")
        << SyncStatus::Synced << QJsonArray { change({ { "version", "12" } }) } << local << 3 << 0
        << false << ""
        << "unusable version";
    QTest::addRow("change without id or not an object")
        << SyncStatus::Synced << QJsonArray { change({ { "id", 5 } }), "note", QJsonValue() }
        << local << 3 << 0 << false << ""
        << "without an id";
    QTest::addRow("ISO time with offset")
        << SyncStatus::Synced
        << QJsonArray { change({ { "updated_at", "2024-03-01T10:00:00.250+02:00" } }) } << server
        << 3 << 0 << false << "2024-03-01T08:00:00.250Z"
        << "";
    QTest::addRow("ISO time without offset or milliseconds is UTC")
        << SyncStatus::Synced << QJsonArray { change({ { "updated_at", "2024-03-01T10:00:00" } }) }
        << server << 3 << 0 << false << "2024-03-01T10:00:00.000Z"
        << "";
    QTest::addRow("unreadable time falls back to another")
        << SyncStatus::Synced
        << QJsonArray { change({ { "updated_at", "yesterday" }, { "modified_at", 1e300 } }) }
        << server << 3 << 0 << false << "2023-11-14T22:13:20.000Z"
        << "unreadable times";
    QTest::addRow("deleted note goes to the trash")
        << SyncStatus::Synced << QJsonArray { change({ { "deleted_at", 1700000001000.0 } }) }
        << server << 3 << 0 << true << ""
        << "";
    QTest::addRow("unreadable deletion time still trashes")
        << SyncStatus::Synced << QJsonArray { change({ { "deleted_at", QJsonArray() } }) } << server
        << 3 << 0 << true << ""
        << "unreadable deleted_at";
    QTest::addRow("null deletion time is not deleted")
        << SyncStatus::Synced << QJsonArray { change({ { "deleted_at", QJsonValue() } }) } << server
        << 3 << 0 << false << ""
        << "";
    QTest::addRow("duplicated id: the later one wins")
        << SyncStatus::Synced
        << QJsonArray { change({ { "version", 5 } }),
               change({ { "version", 6 }, { "body", SyncFixture::body("later") } }) }
        << SyncFixture::body("later") << 6 << 0 << false << ""
        << "listed twice";
}

void TestSyncEngine::pulledNotes()
{
    QFETCH(SyncStatus, localStatus);
    QFETCH(QJsonArray, changes);
    QFETCH(QString, body);
    QFETCH(int, version);
    QFETCH(int, snapshots);
    QFETCH(bool, trashed);
    QFETCH(QString, updatedAt);
    QFETCH(QString, log);

    SyncFixture f;
    f.serveEmpty();
    Note note = f.syncedNote("local", 3);
    note.syncStatus = localStatus;
    QVERIFY(f.notes.update(note));
    QByteArray reply = QJsonDocument(QJsonObject { { "changes", changes }, { "timestamp", 10 } })
                           .toJson(QJsonDocument::Compact);
    reply.replace("\"ID\"", "\"" + note.id.toLatin1() + "\"");
    f.server().setReply(
        "GET", SyncFixture::path("/sync/pull"), ScriptedReply::raw(200, reply, "application/json"));
    // Pending notes are pushed first; the server says someone else's version is newer.
    const ScriptedReply conflict = ScriptedReply::json(200,
        { { "results",
            QJsonArray { QJsonObject { { "entity_id", note.id }, { "status", "conflict" } } } } });
    f.server().setResponder("POST", SyncFixture::path("/sync/push"),
        [conflict](const RecordedRequest &) { return conflict; });
    if (!log.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(log)));
    QSignalSpy written(&f.notes, &NoteRepository::notesChanged);
    QSignalSpy deleted(&f.notes, &NoteRepository::noteDeleted);
    QVERIFY(f.runCycle());

    const Note stored = *f.notes.noteById(note.id);
    // Windows showing the note close on this signal, as for a delete made here.
    QCOMPARE(deleted.size(), trashed ? 1 : 0);
    QCOMPARE(stored.body, body);
    QCOMPARE(stored.version, version);
    QCOMPARE(stored.deletedAt.has_value(), trashed);
    if (!updatedAt.isEmpty())
        QCOMPARE(stored.updatedAt.toString(Qt::ISODateWithMs), updatedAt);
    const QList<Snapshot> kept = f.snapshots.snapshotsForNote(note.id);
    QCOMPARE(kept.size(), snapshots);
    if (snapshots > 0)
        QCOMPARE(kept.first().body, SyncFixture::body("local"));
    if (body != SyncFixture::body("local")) {
        QCOMPARE(stored.syncStatus, SyncStatus::Synced);
        QCOMPARE(written.size(), 1); // one summary signal for the whole pull
    }
    QCOMPARE(f.notes.allNoteIds().size() + f.notes.trashedCount(), 1);
}

void TestSyncEngine::notebookList_data()
{
    QTest::addColumn<QString>("local"); // "synced", "pending" or "" for none
    QTest::addColumn<QJsonObject>("listed"); // "ID" stands for the notebook's id
    QTest::addColumn<QString>("name"); // afterwards; "" = no such notebook

    const QJsonObject renamed { { "id", "ID" }, { "name", "Server" }, { "version", 5 },
        { "is_shared", "yes" }, { "created_at", 1.0 }, { "updated_at", 2.0 } };
    QTest::addRow("synced notebook takes the server's name") << "synced" << renamed << "Server";
    QTest::addRow("pending notebook keeps its name") << "pending" << renamed << "Local";
    QTest::addRow("new notebook is added") << "" << renamed << "Server";
    QTest::addRow("id that is not a UUID is refused")
        << "" << QJsonObject { { "id", "../../x" }, { "name", "Bad" } } << "";
    QTest::addRow("nameless notebook is refused")
        << "synced" << QJsonObject { { "id", "ID" }, { "name", 3 } } << "Local";
}

void TestSyncEngine::notebookList()
{
    QFETCH(QString, local);
    QFETCH(QJsonObject, listed);
    QFETCH(QString, name);

    SyncFixture f;
    f.serveEmpty();
    Notebook notebook = TestDatabase::makeNotebook("Local");
    notebook.syncStatus = local == "synced" ? SyncStatus::Synced : SyncStatus::Pending;
    if (!local.isEmpty())
        QVERIFY(f.notebooks.insert(notebook));
    // The pending one's upload fails, so it is still pending when the list arrives.
    f.server().setReply(
        "PUT", SyncFixture::path("/notebooks/" + notebook.id), ScriptedReply::json(500, {}));
    if (listed["id"] == "ID")
        listed["id"] = notebook.id;
    f.server().setReply("GET", SyncFixture::path("/notebooks"),
        ScriptedReply::json(200, { { "notebooks", QJsonArray { listed } } }));
    QVERIFY(f.runCycle());
    const std::optional<Notebook> stored = f.notebooks.notebookById(notebook.id);
    QCOMPARE(stored ? stored->name : QString(), name);
    if (name == "Server") {
        QCOMPARE(stored->version, 5);
        QCOMPARE(stored->isShared, false);
        QCOMPARE(stored->syncStatus, SyncStatus::Synced);
    }
    QCOMPARE(f.notebooks.allNotebooks().size(), name.isEmpty() ? 0 : 1);
}

void TestSyncEngine::pullTimestamps()
{
    SyncFixture f;
    f.serveEmpty(1000);
    QVERIFY(f.runCycle());
    for (const char *route : { "/sync/pull", "/attachments" }) {
        const RecordedRequest first = f.server().requests(SyncFixture::path(route)).first();
        QVERIFY2(!first.query.hasQueryItem("since"), route);
    }
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastSyncKey), "1000");
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastAttachmentSyncKey), "1000");

    // A clock that went back is followed (asking again costs nothing, skipping would).
    f.serveEmpty(400);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("went backwards"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("went backwards"));
    QVERIFY(f.runCycle());
    QCOMPARE(
        f.server().requests(SyncFixture::path("/sync/pull")).last().query.queryItemValue("since"),
        "1000");
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastSyncKey), "400");

    // Garbage in the reply or in the stored value: nothing stored, everything asked for.
    f.server().setReply("GET", SyncFixture::path("/sync/pull"),
        ScriptedReply::json(200, { { "changes", "none" }, { "timestamp", "soon" } }));
    QVERIFY(f.runCycle());
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastSyncKey), "400");
    f.preferences.setValue(SyncEngine::LastSyncKey, "12abc");
    QVERIFY(f.runCycle());
    QVERIFY(
        !f.server().requests(SyncFixture::path("/sync/pull")).last().query.hasQueryItem("since"));
}

void TestSyncEngine::attachmentUpload_data()
{
    QTest::addColumn<QList<ScriptedReply>>("replies");
    QTest::addColumn<bool>("fileMissing");
    QTest::addColumn<int>("posts");
    QTest::addColumn<SyncStatus>("status");

    using L = QList<ScriptedReply>;
    QTest::addRow("accepted") << L { ScriptedReply::json(201, {}) } << false << 1
                              << SyncStatus::Synced;
    QTest::addRow("413 is never retried")
        << L { ScriptedReply::json(413, {}) } << false << 1 << SyncStatus::Synced;
    QTest::addRow("500 stays pending")
        << L { ScriptedReply::json(500, {}) } << false << 1 << SyncStatus::Pending;
    QTest::addRow("429 stays pending")
        << L { ScriptedReply::json(429, {}) } << false << 1 << SyncStatus::Pending;
    QTest::addRow("408 stays pending")
        << L { ScriptedReply::json(408, {}) } << false << 1 << SyncStatus::Pending;
    QTest::addRow("401 retried once after a refresh, then accepted")
        << L { ScriptedReply::json(401, {}), ScriptedReply::json(201, {}) } << false << 2
        << SyncStatus::Synced;
    QTest::addRow("401 twice stays pending")
        << L { ScriptedReply::json(401, {}), ScriptedReply::json(401, {}) } << false << 2
        << SyncStatus::Pending;
    QTest::addRow("file missing is given up") << L {} << true << 0 << SyncStatus::Synced;
}

void TestSyncEngine::attachmentUpload()
{
    QFETCH(QList<ScriptedReply>, replies);
    QFETCH(bool, fileMissing);
    QFETCH(int, posts);
    QFETCH(SyncStatus, status);

    SyncFixture f;
    f.serveEmpty();
    f.account.answerRefresh(AccountFixture::tokens(makeJwt(3600), "refresh-2"));
    const Note note = f.syncedNote("with a file", 1);
    Attachment attachment;
    attachment.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    attachment.noteId = note.id;
    attachment.filename = "report \"final\".pdf";
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(f.attachments.insert(attachment));
    if (!fileMissing)
        QVERIFY(f.attachments.saveFile(attachment.id, "%PDF-1.4 bytes"));
    for (const ScriptedReply &reply : replies)
        f.server().enqueueReply("POST", SyncFixture::path("/attachments"), reply);
    f.server().setReply("POST", SyncFixture::path("/attachments"), ScriptedReply::json(599, {}));

    QVERIFY(f.runCycle());
    const QList<RecordedRequest> sent = f.server().requests(SyncFixture::path("/attachments"));
    int postCount = 0;
    for (const RecordedRequest &request : sent) {
        if (request.method != "POST")
            continue;
        ++postCount;
        const QByteArray &body = request.body;
        const qsizetype noteAt = body.indexOf("name=\"note_id\"");
        const qsizetype idAt = body.indexOf("name=\"id\"");
        const qsizetype fileAt = body.indexOf("name=\"file\"; filename=\"report _final_.pdf\"");
        QVERIFY(noteAt >= 0 && noteAt < idAt && idAt < fileAt);
        QVERIFY(body.contains(note.id.toLatin1()));
        QVERIFY(body.contains("application/octet-stream"));
        QVERIFY(body.contains("%PDF-1.4 bytes"));
    }
    QCOMPARE(postCount, posts);
    QCOMPARE(f.attachments.attachmentById(attachment.id)->syncStatus, status);
    QCOMPARE(
        f.engine.state(), status == SyncStatus::Pending ? SyncEngine::Pending : SyncEngine::Idle);
}

void TestSyncEngine::attachmentDownloadsRetriedUntilTheyArrive()
{
    SyncFixture f;
    f.serveEmpty();
    const Note note = f.syncedNote("has a picture", 1);
    const QString good = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QJsonArray listed {
        QJsonObject { { "id", good }, { "note_id", note.id }, { "filename", "../../pic.png" },
            { "mime_type", "image/png" }, { "size_bytes", 3 },
            { "created_at", "2024-01-01T00:00:00Z" } },
        QJsonObject { { "id", "../../escape" }, { "note_id", note.id } },
        QJsonObject { { "id", good.toUpper() }, { "note_id", note.id } },
        QJsonObject { { "id", QUuid::createUuid().toString(QUuid::WithoutBraces) } },
        QJsonValue(42),
    };
    f.server().setReply("GET", SyncFixture::path("/attachments"),
        ScriptedReply::json(200, { { "attachments", listed }, { "timestamp", 5000 } }));
    f.server().enqueueReply(
        "GET", SyncFixture::path("/attachments/" + good), ScriptedReply::json(500, {}));
    f.server().setReply("GET", SyncFixture::path("/attachments/" + good),
        ScriptedReply::raw(200, "PNG", "image/png"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refusing attachment id.*escape"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refusing attachment id"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("without a note"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("attachment download failed"));

    QVERIFY(f.runCycle());
    QVERIFY(!f.attachments.attachmentById(good));
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastAttachmentSyncKey), "");

    QSignalSpy changed(&f.engine, &SyncEngine::attachmentsChanged);
    QVERIFY(f.runCycle());
    QVERIFY(
        !f.server().requests(SyncFixture::path("/attachments")).last().query.hasQueryItem("since"));
    const std::optional<Attachment> stored = f.attachments.attachmentById(good);
    QVERIFY(stored);
    QCOMPARE(stored->filename, "pic.png");
    QCOMPARE(stored->syncStatus, SyncStatus::Synced);
    QCOMPARE(f.attachments.readFile(good), "PNG");
    QCOMPARE(changed.size(), 1);
    QCOMPARE(f.preferences.stringValue(SyncEngine::LastAttachmentSyncKey), "5000");
    QCOMPARE(QDir(f.attachments.directory()).entryList(QDir::Files), QStringList { good });
    QCOMPARE(QDir(f.db.dataPath()).entryList({ "*escape*" }, QDir::AllEntries), QStringList());

    // Present with its file: not fetched again.
    const int gets = f.server().count(SyncFixture::path("/attachments/" + good));
    QVERIFY(f.runCycle());
    QCOMPARE(f.server().count(SyncFixture::path("/attachments/" + good)), gets);
}

void TestSyncEngine::forceFullResyncPushesEverything()
{
    SyncFixture f;
    f.serveEmpty();
    QVERIFY(f.runCycle());
    QVERIFY(!f.preferences.stringValue(SyncEngine::LastSyncKey).isEmpty());
    f.syncedNote("a", 2);
    f.syncedNote("b", 3);
    const Note trashed = f.syncedNote("c", 1);
    QVERIFY(f.notes.softDelete(trashed.id));
    QVERIFY(f.notes.markSynced(trashed.id, 1));
    Notebook notebook = TestDatabase::makeNotebook("Kept");
    notebook.syncStatus = SyncStatus::Synced;
    QVERIFY(f.notebooks.insert(notebook));
    f.server().setReply(
        "PUT", SyncFixture::path("/notebooks/" + notebook.id), ScriptedReply::json(200, {}));

    f.engine.startAutoSync(60000);
    QTRY_COMPARE(f.completed.size(), 2);
    QCOMPARE(f.engine.forceFullResync(), 2);
    QVERIFY(f.engine.isAutoSyncActive());
    // The user's period stays.
    QCOMPARE(f.engine.autoSyncInterval(), 60000);
    QTRY_COMPARE(f.completed.size(), 3);
    const QList<RecordedRequest> pushes = f.server().requests(SyncFixture::path("/sync/push"));
    QCOMPARE(pushes.size(), 1);
    QCOMPARE(pushes.last().json()["changes"].toArray().size(), 2);
    QVERIFY(
        !f.server().requests(SyncFixture::path("/sync/pull")).last().query.hasQueryItem("since"));
    QCOMPARE(f.server().count(SyncFixture::path("/notebooks/" + notebook.id)), 1);
    QVERIFY(f.notes.pendingNotes().isEmpty());
    f.engine.stopAutoSync();
    QVERIFY(!f.engine.isAutoSyncActive());
}

void TestSyncEngine::twoDevicesThroughOneServer()
{
    SyncFixture laptop;
    SyncFixture desktop;
    laptop.serveEmpty();
    NotesServerState service;
    service.serveOn(laptop.server());
    desktop.account.client->syncApi()->setBaseUrl(laptop.server().url("/sync/v1"));

    const std::optional<Note> note
        = laptop.writer.createNote(QString(), SyncFixture::body("draft"));
    QVERIFY(note);
    QVERIFY(laptop.writer.saveBody(note->id, SyncFixture::body("written on the laptop")));
    QVERIFY(laptop.runCycle());
    QVERIFY(desktop.runCycle());
    std::optional<Note> arrived = desktop.notes.noteById(note->id);
    QVERIFY(arrived);
    QCOMPARE(arrived->body, SyncFixture::body("written on the laptop"));
    QCOMPARE(arrived->syncStatus, SyncStatus::Synced);

    // Both edit the same version; the laptop's edit reaches the server first.
    QVERIFY(laptop.writer.saveBody(note->id, SyncFixture::body("laptop wins")));
    QVERIFY(desktop.writer.saveBody(note->id, SyncFixture::body("desktop words")));
    QVERIFY(laptop.runCycle());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("note conflict .* server has a newer"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("note conflict .* snapshot"));
    QVERIFY(desktop.runCycle());
    arrived = desktop.notes.noteById(note->id);
    QCOMPARE(arrived->body, SyncFixture::body("laptop wins"));
    QCOMPARE(arrived->syncStatus, SyncStatus::Synced);
    const QList<Snapshot> kept = desktop.snapshots.snapshotsForNote(note->id);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.first().body, SyncFixture::body("desktop words"));
    QCOMPARE(desktop.engine.state(), SyncEngine::Idle);

    // Nothing new: neither side writes anything.
    QSignalSpy changed(&desktop.notes, &NoteRepository::notesChanged);
    QVERIFY(desktop.runCycle());
    QCOMPARE(changed.size(), 0);
}

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_syncengine.moc"
