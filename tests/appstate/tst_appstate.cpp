#include "appstate.h"
#include "attachmentrepository.h"
#include "authclient.h"
#include "client.h"
#include "noterepository.h"
#include "notesservice.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "recordinghttpserver.h"
#include "samplecontent.h"
#include "samplenotes.h"
#include "syncengine.h"
#include "testaccount.h"
#include "testdatadir.h"
#include "versionnumber.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QWidget>

#include <memory>

// Stands in for the note window of the window library: announces its closing by note id.
class FakeNoteWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit FakeNoteWindow(const QString &noteId) : m_noteId(noteId)
    {
        setAttribute(Qt::WA_DeleteOnClose);
    }
    QString noteId() const { return m_noteId; }
    // As the program's factory makes its windows: closing one drops it from the state.
    static QWidget *openFor(AppState *state, const QString &noteId)
    {
        auto *window = new FakeNoteWindow(noteId);
        QObject::connect(window, &FakeNoteWindow::windowClosed, state, &AppState::noteWindowClosed);
        return window;
    }

signals:
    void windowClosed(const QString &noteId);

protected:
    void closeEvent(QCloseEvent *event) override
    {
        emit windowClosed(m_noteId);
        QWidget::closeEvent(event);
    }

private:
    QString m_noteId;
};

class tst_AppState : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingSameNoteEmitsAndWritesNothing();
    void restartRestoresCurrentSelectionSilently();
    void welcomeNotesAreSeededOnce();
    void newNoteWithoutNoteWindowsIsStillSaved();
    void noteWindowIsReusedWhileOpen();
    void restoreNoteWindowsSkipsEmptyParts_data();
    void restoreNoteWindowsSkipsEmptyParts();
    void destroyingStateClosesNoteWindows();
    void purgingNoteRemovesAttachmentFiles();
    void stateKeepsItsDataInTheGivenDirectory();
    void versionComparison_data();
    void versionComparison();
    void canShareFollowsGroupAndSignIn_data();
    void canShareFollowsGroupAndSignIn();
    void automaticSyncFollowsPreferences_data();
    void automaticSyncFollowsPreferences();

private:
    std::unique_ptr<AppState> makeState();

    std::unique_ptr<TestDataDir> m_dataDir;
    QStringList m_factoryCalls;
};

void tst_AppState::init()
{
    m_dataDir = std::make_unique<TestDataDir>();
    QVERIFY(m_dataDir->isValid());
    m_factoryCalls.clear();
}

void tst_AppState::cleanup()
{
    m_dataDir.reset();
}

std::unique_ptr<AppState> tst_AppState::makeState()
{
    auto state = std::make_unique<AppState>();
    state->setTokenStore(std::make_unique<MemoryTokenStore>());
    if (!state->initialize())
        return nullptr;
    return state;
}

void tst_AppState::settingSameNoteEmitsAndWritesNothing()
{
    auto state = makeState();
    QVERIFY(state);
    state->setCurrentNoteId("note-1");
    state->setCurrentNotebookId("book-1");

    QSignalSpy noteSpy(state.get(), &AppState::currentNoteChanged);
    QSignalSpy notebookSpy(state.get(), &AppState::currentNotebookChanged);
    QSignalSpy writeSpy(state->preferences(), &PreferencesRepository::changed);
    state->setCurrentNoteId("note-1");
    state->setCurrentNotebookId("book-1");
    QCOMPARE(noteSpy.count(), 0);
    QCOMPARE(notebookSpy.count(), 0);
    QCOMPARE(writeSpy.count(), 0);

    state->setCurrentNoteId("note-2");
    QCOMPARE(noteSpy.count(), 1);
    QCOMPARE(noteSpy.at(0).at(0).toString(), "note-2");
    QCOMPARE(state->preferences()->stringValue("lastNoteId"), "note-2");
}

void tst_AppState::restartRestoresCurrentSelectionSilently()
{
    {
        auto state = makeState();
        QVERIFY(state);
        state->setCurrentNotebookId("book-7");
        state->setCurrentNoteId("note-7");
    }
    auto state = std::make_unique<AppState>();
    state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QSignalSpy noteSpy(state.get(), &AppState::currentNoteChanged);
    QSignalSpy notebookSpy(state.get(), &AppState::currentNotebookChanged);
    QSignalSpy readySpy(state.get(), &AppState::databaseReady);
    QVERIFY(state->initialize());
    QCOMPARE(state->currentNotebookId(), "book-7");
    QCOMPARE(state->currentNoteId(), "note-7");
    QCOMPARE(noteSpy.count(), 0);
    QCOMPARE(notebookSpy.count(), 0);
    QCOMPARE(readySpy.count(), 1);
}

void tst_AppState::welcomeNotesAreSeededOnce()
{
    QStringList ids;
    {
        auto state = makeState();
        QVERIFY(state);
        const QList<Note> notes = state->notes()->allNotes();
        QCOMPARE(notes.size(), welcomeNoteSources().size());
        for (const Note &note : notes) {
            QVERIFY(note.isSample);
            QCOMPARE(note.syncStatus, SyncStatus::Synced);
            QCOMPARE(note.id.size(), 36);
            ids.append(note.id);
        }
        // Newest first: the last welcome note has the largest offset.
        QCOMPARE(notes.first().body, welcomeNoteSources().last().deltaJson);
        QVERIFY(state->preferences()->boolValue("has_seen_welcome"));
        for (const QString &id : ids)
            QVERIFY(state->notes()->purge(id));
    }
    auto state = makeState();
    QVERIFY(state);
    QVERIFY(state->notes()->allNotes().isEmpty());
}

void tst_AppState::newNoteWithoutNoteWindowsIsStillSaved()
{
    auto state = makeState();
    QVERIFY(state);
    state->setCurrentNotebookId("book-1");
    QSignalSpy changedSpy(state.get(), &AppState::notesChanged);

    QCOMPARE(state->createNoteInWindow(), nullptr);

    QCOMPARE(changedSpy.count(), 1);
    const QList<Note> inBook = state->notes()->notesInNotebook("book-1");
    QCOMPARE(inBook.size(), 1);
    QCOMPARE(inBook.first().body, QStringLiteral("[{\"insert\":\"\\n\"}]"));
    QVERIFY(!inBook.first().isSample);
    QCOMPARE(inBook.first().createdAt, inBook.first().updatedAt);
    QVERIFY(state->openNoteWindowIds().isEmpty());
}

void tst_AppState::noteWindowIsReusedWhileOpen()
{
    auto state = makeState();
    QVERIFY(state);
    state->setNoteWindowFactory([this](AppState *state, const QString &noteId) -> QWidget * {
        m_factoryCalls.append(noteId);
        return FakeNoteWindow::openFor(state, noteId);
    });

    QWidget *first = state->createNoteInWindow();
    QVERIFY(first);
    const QString id = static_cast<FakeNoteWindow *>(first)->noteId();
    QVERIFY(state->notes()->noteById(id).has_value());
    QVERIFY(first->isVisible());

    QCOMPARE(state->openNoteWindow(id), first);
    QCOMPARE(m_factoryCalls, QStringList { id });
    QCOMPARE(state->openNoteWindowIds(), QStringList { id });

    QVERIFY(first->close());
    QVERIFY(state->openNoteWindowIds().isEmpty());

    QWidget *third = state->openNoteWindow(id);
    QVERIFY(third);
    QCOMPARE(m_factoryCalls.size(), 2);
    // A window deleted without announcing it is forgotten too.
    delete third;
    QVERIFY(state->openNoteWindowIds().isEmpty());
}

void tst_AppState::restoreNoteWindowsSkipsEmptyParts_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<bool>("removed");
    QTest::addRow("two ids") << "a,b" << QStringList { "a", "b" } << true;
    QTest::addRow("empty entry between ids") << "a,,b" << QStringList { "a", "b" } << true;
    QTest::addRow("leading and trailing commas") << ",a," << QStringList { "a" } << true;
    QTest::addRow("only commas") << ",," << QStringList {} << true;
    QTest::addRow("empty value left alone") << "" << QStringList {} << false;
}

void tst_AppState::restoreNoteWindowsSkipsEmptyParts()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, opened);
    QFETCH(bool, removed);

    auto state = makeState();
    QVERIFY(state);
    state->setNoteWindowFactory([this](AppState *state, const QString &noteId) -> QWidget * {
        m_factoryCalls.append(noteId);
        return FakeNoteWindow::openFor(state, noteId);
    });
    QVERIFY(state->preferences()->setValue("restore_note_windows", stored));

    state->restoreNoteWindows();

    QCOMPARE(m_factoryCalls, opened);
    QCOMPARE(!state->preferences()->value("restore_note_windows").has_value(), removed);
}

void tst_AppState::destroyingStateClosesNoteWindows()
{
    auto state = makeState();
    QVERIFY(state);
    state->setNoteWindowFactory([](AppState *state, const QString &noteId) {
        return FakeNoteWindow::openFor(state, noteId);
    });
    QPointer<QWidget> window = state->openNoteWindow("some-note");
    QVERIFY(window);
    QVERIFY(window->isVisible());
    state.reset();
    // Closed (and, as it deletes itself on close, gone once deferred deletions run).
    QTRY_VERIFY(window.isNull());
}

void tst_AppState::stateKeepsItsDataInTheGivenDirectory()
{
    QTemporaryDir own;
    QVERIFY(own.isValid());
    const QString attachmentId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        AppState state(own.path());
        QVERIFY(state.initialize());
        QCOMPARE(state.dataDirectory(), own.path());
        QVERIFY(state.attachments()->saveFile(attachmentId, "bytes"));
    }
    QVERIFY(QFileInfo::exists(own.filePath("attachments/" + attachmentId)));
    const QStringList databases { "brevaro_notes_*.db" };
    QCOMPARE(QDir(own.path()).entryList(databases, QDir::Files).size(), 1);
    // NOTES_DATA_DIR points elsewhere and stays untouched.
    QVERIFY(QDir(m_dataDir->path()).entryList(databases, QDir::Files).isEmpty());

    // Reopened over the same directory, the welcome notes are not seeded twice.
    AppState again(own.path());
    QVERIFY(again.initialize());
    QCOMPARE(again.notes()->allNotes().size(), welcomeNoteSources().size());
}

void tst_AppState::purgingNoteRemovesAttachmentFiles()
{
    auto state = makeState();
    QVERIFY(state);
    Note note;
    note.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    note.body = "[{\"insert\":\"\\n\"}]";
    note.createdAt = note.updatedAt = note.modifiedAt = QDateTime::currentDateTimeUtc();
    QVERIFY(state->notes()->insert(note));

    Attachment attachment;
    attachment.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    attachment.noteId = note.id;
    attachment.filename = "photo.png";
    attachment.mimeType = "image/png";
    attachment.sizeBytes = 3;
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(state->attachments()->saveFile(attachment.id, "png"));
    QVERIFY(state->attachments()->insert(attachment));
    const QString file = state->attachments()->filePath(attachment.id);
    QVERIFY(QFileInfo::exists(file));

    QVERIFY(state->notes()->purge(note.id));
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(!state->attachments()->attachmentById(attachment.id).has_value());
}

void tst_AppState::versionComparison_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("olderThanCurrent");
    QTest::addRow("empty") << "" << true;
    QTest::addRow("not a number") << "abc" << true;
    QTest::addRow("previous patch") << "1.0.9" << true;
    QTest::addRow("same") << "1.1.0" << false;
    QTest::addRow("same, two parts") << "1.1" << false;
    QTest::addRow("newer minor") << "1.2" << false;
    QTest::addRow("newer major only") << "2" << false;
    QTest::addRow("four parts count as 0.0.0") << "1.1.0.1" << true;
    QTest::addRow("empty middle part") << "1..0" << true;
    QTest::addRow("trailing dot") << "1.1." << true;
    QTest::addRow("minor compared numerically") << "1.10.0" << false;
    QTest::addRow("suffix is malformed") << "1.1.0-beta" << true;
}

void tst_AppState::versionComparison()
{
    QFETCH(QString, stored);
    QFETCH(bool, olderThanCurrent);
    const VersionNumber current = VersionNumber::parse("1.1.0");
    QCOMPARE(VersionNumber::parse(stored) < current, olderThanCurrent);
}

void tst_AppState::canShareFollowsGroupAndSignIn_data()
{
    QTest::addColumn<QString>("groupId");
    QTest::addColumn<int>("members");
    QTest::addColumn<bool>("answerAfterSignOut");
    QTest::addColumn<bool>("expected");

    QTest::addRow("group with another member") << "g-1" << 2 << false << true;
    QTest::addRow("alone in the group") << "g-1" << 1 << false << false;
    QTest::addRow("no group claim") << "" << 3 << false << false;
    QTest::addRow("group answer after sign-out") << "g-1" << 2 << true << false;
}

void tst_AppState::canShareFollowsGroupAndSignIn()
{
    QFETCH(QString, groupId);
    QFETCH(int, members);
    QFETCH(bool, answerAfterSignOut);
    QFETCH(bool, expected);

    RecordingHttpServer server;
    QVERIFY(server.listen());
    QJsonArray memberList;
    for (int i = 0; i < members; ++i)
        memberList.append(QJsonObject { { "account_id", QString("a-%1").arg(i) } });
    const QJsonObject group { { "id", "g-1" }, { "members", memberList } };
    server.setReply("GET", "/account/group",
        answerAfterSignOut ? ScriptedReply::held(200, group) : ScriptedReply::json(200, group));
    server.setReply("POST", "/api/v1/realms/brevaro/auth/logout", ScriptedReply::json(200, {}));

    QJsonObject claims;
    if (!groupId.isEmpty())
        claims.insert("custom", QJsonObject { { "brv", QJsonObject { { "group_id", groupId } } } });
    QMap<QString, QString> stored { { accessKey, makeJwt(3600, claims) }, { refreshKey, "r-1" } };
    ServiceConfig config = ServiceConfig::fromEnvironment();
    config.authBaseUrl = server.url().toString();
    config.accountApiUrl = server.url("/account").toString();
    config.syncApiUrl = server.url("/sync").toString();

    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>(&stored));
    state.setServiceConfig(config);
    QSignalSpy canShareSpy(&state, &AppState::canShareChanged);
    QVERIFY(state.initialize());
    QVERIFY(state.isSignedIn());

    if (groupId.isEmpty()) {
        QCOMPARE(server.count("/account/group"), 0);
    } else if (answerAfterSignOut) {
        QTRY_COMPARE(server.heldCount(), 1);
        state.accountClient()->authClient()->logout();
        QCOMPARE(server.releaseHeld(), 1);
        QTRY_COMPARE(server.count("/api/v1/realms/brevaro/auth/logout"), 1);
    } else {
        QTRY_COMPARE(canShareSpy.count(), expected ? 1 : 0);
        QTRY_COMPARE(server.count("/account/group"), 1);
    }
    // Gives a late group answer the chance to arrive; it must change nothing.
    QTest::qWait(200);
    QCOMPARE(state.canShare(), expected);
    QCOMPARE(canShareSpy.count(), expected ? 1 : 0);

    if (expected) {
        // Signing out takes sharing away, announced once.
        state.accountClient()->authClient()->logout();
        QCOMPARE(state.canShare(), false);
        QCOMPARE(canShareSpy.count(), 2);
        QCOMPARE(canShareSpy.last().at(0).toBool(), false);
        QVERIFY(stored.isEmpty());
    }
}

void tst_AppState::automaticSyncFollowsPreferences_data()
{
    QTest::addColumn<QString>("autoSync");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<int>("expectedIntervalMs");

    QTest::addRow("on, 7 minutes") << "1"
                                   << "7" << 7 * 60000;
    QTest::addRow("on, interval out of range") << "yes"
                                               << "500" << 120 * 60000;
    QTest::addRow("off") << "0"
                         << "7" << 0;
}

void tst_AppState::automaticSyncFollowsPreferences()
{
    QFETCH(QString, autoSync);
    QFETCH(QString, interval);
    QFETCH(int, expectedIntervalMs);
    const bool on = expectedIntervalMs > 0;

    RecordingHttpServer server;
    QVERIFY(server.listen());
    serveEmptyNotesService(server, "/notes");
    ServiceConfig config = ServiceConfig::fromEnvironment();
    config.authBaseUrl = server.url().toString();
    config.accountApiUrl = server.url("/account").toString();
    config.syncApiUrl = server.url("/notes").toString();

    // The choice is made while signed out, as in the settings, and holds from the next sign-in.
    {
        AppState signedOut;
        signedOut.setTokenStore(std::make_unique<MemoryTokenStore>());
        signedOut.setServiceConfig(config);
        QVERIFY(signedOut.initialize());
        signedOut.preferences()->setValue("auto_sync", autoSync);
        signedOut.preferences()->setValue("sync_interval_minutes", interval);
    }
    server.clearRequests();

    QMap<QString, QString> stored { { accessKey, makeJwt(3600) }, { refreshKey, "r-1" } };
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>(&stored));
    state.setServiceConfig(config);
    QVERIFY(state.initialize());
    QVERIFY(state.isSignedIn());
    SyncEngine *engine = state.syncEngine();
    QVERIFY(engine);
    engine->setDebounceInterval(20);
    QCOMPARE(engine->isAutoSyncActive(), on);
    if (on) {
        QCOMPARE(engine->autoSyncInterval(), expectedIntervalMs);
        // Signing in syncs at once; the welcome notes go with it or with the cycle after.
        QTRY_VERIFY(server.count("/notes/sync/pull") >= 1 && !engine->isCycleRunning()
            && state.notes()->pendingNotes().isEmpty());
        QTest::qWait(50);
        QTRY_VERIFY(!engine->isCycleRunning());
    }
    server.clearRequests();

    const std::optional<Note> note = state.writer()->createNote(QString());
    QVERIFY(note);
    if (on) {
        QTRY_COMPARE(server.count("/notes/sync/push"), 1);
        const QJsonArray changes
            = server.requests("/notes/sync/push").first().json()["changes"].toArray();
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.first()["entity_id"].toString(), note->id);
        QTRY_COMPARE(engine->state(), SyncEngine::Idle);
        // What the pull wrote back schedules nothing further.
        QTest::qWait(100);
        QCOMPARE(server.count("/notes/sync/push"), 1);
        return;
    }
    // Nothing automatic: not the sign-in, not the edit after the debounce.
    QTest::qWait(150);
    QStringList syncRequests;
    for (const RecordedRequest &request : server.requests()) {
        if (request.path.startsWith("/notes/"))
            syncRequests.append(request.path);
    }
    QVERIFY2(syncRequests.isEmpty(), qPrintable(syncRequests.join(' ')));
    QCOMPARE(engine->state(), SyncEngine::Pending);
    // Sync Now still works and takes everything pending along.
    engine->sync();
    QTRY_COMPARE(server.count("/notes/sync/push"), 1);
    QTRY_COMPARE(engine->state(), SyncEngine::Idle);
    QVERIFY(state.notes()->pendingNotes().isEmpty());
}

QTEST_MAIN(tst_AppState)
#include "tst_appstate.moc"
