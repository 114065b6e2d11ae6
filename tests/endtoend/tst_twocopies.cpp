#include "apiclient.h"
#include "attachmentrepository.h"
#include "authclient.h"
#include "client.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "serverharness.h"
#include "snapshotrepository.h"
#include "syncengine.h"
#include "testaccount.h"
#include "testdatabase.h"
#include "tokenmanager.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUuid>

namespace {

QString body(const QString &text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray { QJsonObject { { "insert", text + "\n" } } })
                                 .toJson(QJsonDocument::Compact));
}

// One installed copy of the program: its own database, attachments, token store and the
// account and sync clients it builds at start, pointed at the test's server.
struct Copy
{
    TestDatabase db;
    NoteRepository notes { db.database() };
    NotebookRepository notebooks { db.database() };
    AttachmentRepository attachments { db.database(), db.dataPath() + "/attachments" };
    SnapshotRepository snapshots { db.database() };
    PreferencesRepository preferences { db.database() };
    NoteWriter writer { db.database(), &notes, &notebooks };
    QMap<QString, QString> stored;
    std::unique_ptr<BrevAccount::Client> client;
    std::unique_ptr<SyncEngine> engine;

    explicit Copy(ServerHarness &h)
    {
        BrevAccount::ClientConfig config;
        config.authBaseUrl = h.url(QString()).toString(QUrl::StripTrailingSlash);
        config.realmSlug = "brevaro";
        config.accountApiUrl = h.url(h.accountApi()).toString();
        config.clientId = "0123456789abcdef0123456789abcdef";
        config.appIdentifier = "app.brevaro.notes.test";
        config.appDisplayName = "Brevaro Notes";
        config.appVersion = "1.1.0";
        client = std::make_unique<BrevAccount::Client>(
            config, std::make_unique<MemoryTokenStore>(&stored));
        client->syncApi()->setBaseUrl(h.url(h.syncApi()));
        engine = std::make_unique<SyncEngine>(
            client->syncApi(), &writer, &notes, &notebooks, &attachments, &snapshots, &preferences);
    }

    // The sign-in a user makes: the program opens the server's page, the "browser" fills it in.
    bool signIn(ServerHarness &h, const QString &email, const QString &password)
    {
        BrevAccount::AuthClient *auth = client->authClient();
        QSignalSpy succeeded(auth, &BrevAccount::AuthClient::loginSucceeded);
        auth->setUrlOpener([&h, email, password](const QUrl &url) {
            QTimer::singleShot(0, [&h, url, email, password] {
                QVERIFY(h.completeBrowserSignIn(url, email, password));
            });
            return true;
        });
        auth->login();
        return succeeded.wait(10000) && !stored.value(refreshKey).isEmpty();
    }

    bool runCycle()
    {
        QSignalSpy completed(engine.get(), &SyncEngine::syncCompleted);
        QSignalSpy failed(engine.get(), &SyncEngine::syncFailed);
        engine->sync();
        return QTest::qWaitFor([&] { return completed.size() + failed.size() > 0; }, 15000)
            && failed.isEmpty();
    }
};

} // namespace

class TestTwoCopies : public QObject
{
    Q_OBJECT

private slots:
    void notesNotebooksAndAttachmentsTravel();
};

// Two copies signed in to one account, each through the program's own sign-in against the real
// server, exchange everything a user makes and keep both sides' words when they edit at once.
void TestTwoCopies::notesNotebooksAndAttachmentsTravel()
{
    ServerHarness h;
    QVERIFY2(h.start(), qPrintable(h.errorString()));
    h.addUser("alice@example.org", "alice secret");
    Copy laptop(h);
    Copy desktop(h);
    QVERIFY(laptop.signIn(h, "alice@example.org", "alice secret"));
    QVERIFY(desktop.signIn(h, "alice@example.org", "alice secret"));

    const std::optional<Notebook> trips = laptop.writer.createNotebook("Trips");
    QVERIFY(trips);
    const std::optional<Note> packing = laptop.writer.createNote(trips->id, body("Packing list"));
    QVERIFY(packing);
    Attachment photo;
    photo.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    photo.noteId = packing->id;
    photo.filename = "beach.png";
    photo.mimeType = "image/png";
    const QByteArray bytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(70000, '\x5a');
    photo.sizeBytes = bytes.size();
    photo.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(laptop.attachments.insert(photo));
    QVERIFY(laptop.attachments.saveFile(photo.id, bytes));
    QVERIFY(laptop.runCycle());
    QVERIFY(laptop.notes.pendingNotes().isEmpty());
    QVERIFY(laptop.attachments.pendingAttachments().isEmpty());

    QVERIFY(desktop.runCycle());
    const std::optional<Notebook> arrivedBook = desktop.notebooks.notebookById(trips->id);
    QVERIFY(arrivedBook);
    QCOMPARE(arrivedBook->name, QString("Trips"));
    std::optional<Note> arrived = desktop.notes.noteById(packing->id);
    QVERIFY(arrived);
    QCOMPARE(arrived->body, body("Packing list"));
    QCOMPARE(arrived->notebookId, trips->id);
    QCOMPARE(desktop.attachments.readFile(photo.id), bytes);
    QCOMPARE(desktop.attachments.attachmentById(photo.id)->filename, QString("beach.png"));

    // An edit and a new note from the desktop reach the laptop.
    QVERIFY(desktop.writer.saveBody(packing->id, body("Packing list, rain jacket")));
    const std::optional<Note> second = desktop.writer.createNote(QString(), body("Call the hotel"));
    QVERIFY(second);
    QVERIFY(desktop.runCycle());
    QVERIFY(laptop.runCycle());
    QCOMPARE(laptop.notes.noteById(packing->id)->body, body("Packing list, rain jacket"));
    QCOMPARE(laptop.notes.noteById(second->id)->body, body("Call the hotel"));

    // A note trashed on the laptop leaves the desktop's list the way a local delete does; a
    // note moved there moves here too.
    QVERIFY(laptop.writer.trashNote(second->id));
    QVERIFY(laptop.writer.moveNote(packing->id, QString()));
    QVERIFY(laptop.runCycle());
    QVERIFY(laptop.notes.pendingNotes().isEmpty());
    QSignalSpy deleted(&desktop.notes, &NoteRepository::noteDeleted);
    QVERIFY(desktop.runCycle());
    QCOMPARE(deleted.size(), 1);
    QVERIFY(desktop.notes.noteById(second->id)->deletedAt);
    QCOMPARE(desktop.notes.noteById(packing->id)->notebookId, QString());
    QVERIFY(desktop.writer.restoreNote(second->id));
    QVERIFY(desktop.runCycle());
    QVERIFY(laptop.runCycle());
    QVERIFY(!laptop.notes.noteById(second->id)->deletedAt);

    // Both edit the same version; the laptop's edit reaches the server first, the desktop's
    // words stay in the note's history.
    QVERIFY(laptop.writer.saveBody(packing->id, body("laptop words")));
    QVERIFY(desktop.writer.saveBody(packing->id, body("desktop words")));
    QVERIFY(laptop.runCycle());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("note conflict"));
    QVERIFY(desktop.runCycle());
    QCOMPARE(desktop.notes.noteById(packing->id)->body, body("laptop words"));
    const QList<Snapshot> kept = desktop.snapshots.snapshotsForNote(packing->id);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.first().body, body("desktop words"));

    // An access token that has run out is renewed through the server's refresh route and the
    // sync goes on without asking the user to sign in again.
    desktop.stored.insert(accessKey, makeJwt(-60));
    desktop.client->tokenManager()->load();
    QVERIFY(laptop.writer.saveBody(packing->id, body("after the refresh")));
    QVERIFY(laptop.runCycle());
    QVERIFY(desktop.runCycle());
    QCOMPARE(desktop.notes.noteById(packing->id)->body, body("after the refresh"));
    QVERIFY(desktop.stored.value(accessKey) != makeJwt(-60));
    QCOMPARE(ServerHarness::jwtPayload(desktop.stored.value(accessKey)).isEmpty(), false);
}

QTEST_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
