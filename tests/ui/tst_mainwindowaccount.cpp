#include "accountscreen.h"
#include "appstate.h"
#include "authclient.h"
#include "client.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "noteheaderbar.h"
#include "noterepository.h"
#include "notesservice.h"
#include "notewriter.h"
#include "recordinghttpserver.h"
#include "sharemembersdialog.h"
#include "statusbar.h"
#include "synccloudicon.h"
#include "testaccount.h"
#include "testdatadir.h"
#include "tokenmanager.h"
#include "welcomescreen.h"

#include <QAction>
#include <QJsonArray>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrlQuery>

#include <memory>

namespace {

const QString AuthPrefix = QStringLiteral("/api/v1/realms/brevaro");

QString authPath(const char *path)
{
    return AuthPrefix + QLatin1String(path);
}

QJsonObject object(std::initializer_list<QPair<QString, QJsonValue>> members)
{
    return QJsonObject(members);
}

} // namespace

// The main window's account entries, welcome page and status bar, driven against a recording
// server on 127.0.0.1 with the tokens kept in memory.
class tst_MainWindowAccount : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startShowsStoredSignIn_data();
    void startShowsStoredSignIn();
    void signOutEndsTheSession_data();
    void signOutEndsTheSession();
    void refusedSessionSignsOut_data();
    void refusedSessionSignsOut();
    void signInThroughTheBrowser_data();
    void signInThroughTheBrowser();
    void shareButtonOpensTheDialogForOwnNotes_data();
    void shareButtonOpensTheDialogForOwnNotes();

private:
    std::unique_ptr<MainWindow> makeWindow();
    void checkSignedIn(MainWindow &window, bool signedIn);

    std::unique_ptr<TestDataDir> m_dataDir;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<RecordingHttpServer> m_server;
    QMap<QString, QString> m_stored;
    std::unique_ptr<AppState> m_state;
};

void tst_MainWindowAccount::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Notes"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void tst_MainWindowAccount::init()
{
    m_dataDir = std::make_unique<TestDataDir>();
    QVERIFY(m_dataDir->isValid());
    m_settingsDir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir->path());
    m_server = std::make_unique<RecordingHttpServer>();
    QVERIFY(m_server->listen());
    m_server->setReply("POST", authPath("/auth/logout"), ScriptedReply::json(200, {}));
    m_server->setReply("GET", authPath("/users/me"),
        ScriptedReply::json(
            200, object({ { "display_name", "Ada Lovelace" }, { "email", "ada@example.org" } })));
    m_server->setReply("GET", authPath("/users/me/sessions"),
        ScriptedReply::json(200, object({ { "sessions", QJsonArray() } })));
    m_server->setReply("GET", "/account/group", ScriptedReply::json(200, {}));
    m_server->setReply("GET", "/account/devices",
        ScriptedReply::json(200, object({ { "devices", QJsonArray() } })));
    m_stored.clear();
}

void tst_MainWindowAccount::cleanup()
{
    m_state.reset();
    m_server.reset();
    m_settingsDir.reset();
    m_dataDir.reset();
}

std::unique_ptr<MainWindow> tst_MainWindowAccount::makeWindow()
{
    ServiceConfig config = ServiceConfig::fromEnvironment();
    config.authBaseUrl = m_server->url().toString();
    config.accountApiUrl = m_server->url("/account").toString();
    config.syncApiUrl = m_server->url("/sync").toString();
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>(&m_stored));
    m_state->setServiceConfig(config);
    if (!m_state->initialize())
        return nullptr;
    // An empty collection: the right pane then shows the welcome page exactly while signed out.
    for (const Note &note : m_state->notes()->allNotes())
        m_state->notes()->purge(note.id);
    auto window = std::make_unique<MainWindow>(m_state.get());
    window->show();
    return window;
}

void tst_MainWindowAccount::checkSignedIn(MainWindow &window, bool signedIn)
{
    QCOMPARE(window.action("signInAction")->isVisible(), !signedIn);
    QCOMPARE(window.action("manageAccountAction")->isVisible(), signedIn);
    QCOMPARE(window.action("signOutAction")->isVisible(), signedIn);
    SyncCloudIcon *icon = window.noteStatusBar()->syncIcon();
    // Signed in, the glyph shows the sync state (tested with the sync commands); a cycle just
    // started keeps its glyph a moment longer.
    QTRY_COMPARE(icon->iconState() == SyncCloudIcon::NotSignedIn, !signedIn);
    QCOMPARE(icon->toolTip() == QStringLiteral("Not signed in"), !signedIn);
    QCOMPARE(window.pages()->currentWidget(),
        signedIn ? window.editorPage() : static_cast<QWidget *>(window.welcomePage()));
}

void tst_MainWindowAccount::startShowsStoredSignIn_data()
{
    QTest::addColumn<QString>("access");
    QTest::addColumn<QString>("refresh");
    QTest::addColumn<int>("refreshStatus");
    QTest::addColumn<bool>("signedIn");

    // In a group with someone else: sharing is offered as well.
    const QJsonObject inGroup { { "custom",
        QJsonObject { { "brv", QJsonObject { { "group_id", "g-1" } } } } } };
    QTest::addRow("valid tokens stored") << makeJwt(3600, inGroup) << "r-1" << 0 << true;
    QTest::addRow("nothing stored") << ""
                                    << "" << 0 << false;
    QTest::addRow("stale token, refresh refused") << makeJwt(10) << "r-1" << 401 << false;
    QTest::addRow("stale token, server busy") << makeJwt(10) << "r-1" << 503 << true;
}

void tst_MainWindowAccount::startShowsStoredSignIn()
{
    QFETCH(QString, access);
    QFETCH(QString, refresh);
    QFETCH(int, refreshStatus);
    QFETCH(bool, signedIn);
    if (!access.isEmpty())
        m_stored.insert(accessKey, access);
    if (!refresh.isEmpty())
        m_stored.insert(refreshKey, refresh);
    if (refreshStatus)
        m_server->setReply("POST", authPath("/auth/token/refresh"),
            ScriptedReply::json(refreshStatus, object({ { "error", "nope" } })));

    const QJsonArray twoMembers { QJsonObject { { "account_id", "a-1" } },
        QJsonObject { { "account_id", "a-2" } } };
    m_server->setReply("GET", "/account/group",
        ScriptedReply::json(200, object({ { "id", "g-1" }, { "members", twoMembers } })));

    auto window = makeWindow();
    QVERIFY(window);
    QTRY_VERIFY(m_state->accountClient()->authState() != BrevAccount::Unknown);
    checkSignedIn(*window, signedIn);
    const bool sharing = refreshStatus == 0 && signedIn;
    QTRY_COMPARE(window->action("sharedWithMeAction")->isVisible(), sharing);
    QCOMPARE(window->action("sharedByMeAction")->isVisible(), sharing);
    // A refused refresh forgets the tokens; a busy server keeps them for the next try.
    QCOMPARE(m_stored.isEmpty(), !signedIn);

    if (!signedIn) {
        window->action("manageAccountAction")->trigger();
        QVERIFY(!window->accountScreen());
        return;
    }
    // Once the server answers again, the next call refreshes the stale token and goes through.
    // A refresh the start made may still be on its way back with the busy answer; the account
    // screen's calls would wait for it and fail with it.
    QTRY_VERIFY(!m_state->accountClient()->tokenManager()->isRefreshing());
    m_server->setReply("POST", authPath("/auth/token/refresh"),
        ScriptedReply::json(200, object({ { "access_token", makeJwt(3600) } })));
    window->action("manageAccountAction")->trigger();
    QPointer<BrevAccount::AccountScreen> screen = window->accountScreen();
    QVERIFY(screen);
    QVERIFY(screen->isVisible());
    QCOMPARE(screen->windowTitle(), "Brevaro Account");
    QTRY_COMPARE(m_server->count(authPath("/users/me")), 1);
    QTRY_COMPARE(m_server->count("/account/group"), sharing ? 2 : 1);
    // A second request raises the open window instead of stacking another one.
    window->action("manageAccountAction")->trigger();
    QCOMPARE(window->accountScreen(), screen.data());
}

void tst_MainWindowAccount::signOutEndsTheSession_data()
{
    QTest::addColumn<bool>("fromAccountWindow");
    QTest::addRow("File menu") << false;
    QTest::addRow("account window button") << true;
}

void tst_MainWindowAccount::signOutEndsTheSession()
{
    QFETCH(bool, fromAccountWindow);
    const QString access = makeJwt(3600);
    m_stored = { { accessKey, access }, { refreshKey, "r-1" } };
    auto window = makeWindow();
    QVERIFY(window);
    checkSignedIn(*window, true);
    window->action("manageAccountAction")->trigger();
    QPointer<BrevAccount::AccountScreen> screen = window->accountScreen();
    QVERIFY(screen);

    if (fromAccountWindow)
        QTest::mouseClick(screen->findChild<QPushButton *>("signOutButton"), Qt::LeftButton);
    else
        window->action("signOutAction")->trigger();

    QVERIFY(m_stored.isEmpty());
    checkSignedIn(*window, false);
    // The window of the ended session goes away with it.
    QTRY_VERIFY(!screen);
    // The user asked for it: no explanation in the status bar.
    QVERIFY(window->noteStatusBar()->currentMessage().isEmpty());
    QTRY_COMPARE(m_server->count(authPath("/auth/logout")), 1);
    QCOMPARE(m_server->requests(authPath("/auth/logout")).first().header("authorization"),
        "Bearer " + access.toLatin1());
}

void tst_MainWindowAccount::refusedSessionSignsOut_data()
{
    QTest::addColumn<int>("refreshStatus");
    QTest::addColumn<bool>("signedOut");
    QTest::addRow("refresh refused") << 401 << true;
    QTest::addRow("refresh failed, server busy") << 503 << false;
}

void tst_MainWindowAccount::refusedSessionSignsOut()
{
    QFETCH(int, refreshStatus);
    QFETCH(bool, signedOut);
    m_stored = { { accessKey, makeJwt(3600) }, { refreshKey, "r-1" } };
    // Every call of the account window is answered 401; the refresh decides what follows.
    for (const QString &path : { authPath("/users/me"), authPath("/users/me/sessions"),
             QStringLiteral("/account/group"), QStringLiteral("/account/devices") })
        m_server->setReply("GET", path, ScriptedReply::json(401, {}));
    m_server->setReply(
        "POST", authPath("/auth/token/refresh"), ScriptedReply::json(refreshStatus, {}));
    auto window = makeWindow();
    QVERIFY(window);
    window->action("manageAccountAction")->trigger();
    QPointer<BrevAccount::AccountScreen> screen = window->accountScreen();
    QVERIFY(screen);

    QTRY_VERIFY(m_server->count(authPath("/auth/token/refresh")) >= 1);
    if (signedOut) {
        QTRY_VERIFY(!m_state->isSignedIn());
        checkSignedIn(*window, false);
        QVERIFY(m_stored.isEmpty());
        QTRY_VERIFY(!screen);
        QVERIFY(window->noteStatusBar()->currentMessage().startsWith("Signed out:"));
        // All four refused calls asked for one refresh together.
        QCOMPARE(m_server->count(authPath("/auth/token/refresh")), 1);
    } else {
        QTRY_COMPARE(m_server->count(authPath("/users/me")), 1);
        QTest::qWait(100);
        checkSignedIn(*window, true);
        QCOMPARE(m_stored.size(), 2);
        QVERIFY(screen);
    }
}

void tst_MainWindowAccount::signInThroughTheBrowser_data()
{
    QTest::addColumn<bool>("withTokens");
    QTest::addRow("tokens in the query") << true;
    QTest::addRow("error redirect without tokens") << false;
}

void tst_MainWindowAccount::signInThroughTheBrowser()
{
    QFETCH(bool, withTokens);
    auto window = makeWindow();
    QVERIFY(window);
    checkSignedIn(*window, false);

    // Plays the browser: the login page at once redirects to the application's listener.
    const QString access = makeJwt(3600);
    QNetworkAccessManager browser;
    QUrl openedLogin;
    BrevAccount::AuthClient *auth = m_state->accountClient()->authClient();
    auth->setLoginPort(0);
    auth->setUrlOpener([&](const QUrl &loginUrl) {
        openedLogin = loginUrl;
        QUrl callback(QUrlQuery(loginUrl).queryItemValue("redirect_uri", QUrl::FullyDecoded));
        callback.setHost("127.0.0.1");
        QUrlQuery query;
        if (withTokens) {
            query.addQueryItem("access_token", access);
            query.addQueryItem("refresh_token", "r-browser");
        } else {
            query.addQueryItem("error", "access_denied");
        }
        callback.setQuery(query);
        QNetworkReply *reply = browser.get(QNetworkRequest(callback));
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        return true;
    });

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QTest::mouseClick(window->welcomePage()->signInButton(), Qt::LeftButton);
    QCOMPARE(openedLogin.path(), "/brevaro/account/login");
    QVERIFY(window->welcomePage()->accountText().contains("web browser"));

    if (withTokens) {
        QTRY_VERIFY(m_state->isSignedIn());
        checkSignedIn(*window, true);
        QCOMPARE(m_stored.value(accessKey), access);
        QCOMPARE(m_stored.value(refreshKey), "r-browser");
        QCOMPARE(answerer.shown(), 0);
    } else {
        QTRY_COMPARE(answerer.shown(), 1);
        QCOMPARE(answerer.title(), "Sign In Failed");
        QCOMPARE(answerer.text(), "No tokens received");
        checkSignedIn(*window, false);
        QVERIFY(m_stored.isEmpty());
    }
    QVERIFY(!window->welcomePage()->accountText().contains("web browser"));
}

void tst_MainWindowAccount::shareButtonOpensTheDialogForOwnNotes_data()
{
    QTest::addColumn<QString>("ownerId");
    QTest::addColumn<QString>("permission");
    QTest::addColumn<bool>("opens");
    QTest::addRow("own note") << ""
                              << "" << true;
    QTest::addRow("note shared with the user to edit") << "acc-9"
                                                       << "edit" << false;
}

void tst_MainWindowAccount::shareButtonOpensTheDialogForOwnNotes()
{
    QFETCH(QString, ownerId);
    QFETCH(QString, permission);
    QFETCH(bool, opens);
    m_stored.insert(accessKey,
        makeJwt(3600,
            { { "custom", QJsonObject { { "brv", QJsonObject { { "group_id", "g-1" } } } } } }));
    m_stored.insert(refreshKey, "r-1");
    const QJsonArray twoMembers { QJsonObject { { "account_id", "a-1" } },
        QJsonObject { { "account_id", "a-2" }, { "display_name", "Bob Stone" } } };
    m_server->setReply("GET", "/account/group",
        ScriptedReply::json(200, object({ { "id", "g-1" }, { "members", twoMembers } })));
    m_server->setReply(
        "GET", "/account/profile", ScriptedReply::json(200, object({ { "id", "a-1" } })));
    serveEmptyNotesService(*m_server, "/sync");

    auto window = makeWindow();
    QVERIFY(window);
    QTRY_VERIFY(m_state->canShare());
    std::optional<Note> note = m_state->writer()->createNote(
        QString(), QStringLiteral("[{\"insert\":\"Groceries\\n\"}]"));
    QVERIFY(note);
    note->ownerId = ownerId;
    note->permission = permission;
    note->isShared = !ownerId.isEmpty();
    note->syncStatus = SyncStatus::Synced;
    QVERIFY(m_state->notes()->update(*note));
    const QString listPath = "/sync/shares/notes/" + note->id;
    m_server->setReply(
        "GET", listPath, ScriptedReply::json(200, object({ { "shares", QJsonArray() } })));
    window->openNote(note->id);

    QToolButton *share = window->headerBar()->shareButton();
    QVERIFY(share->isVisibleTo(window.get()));
    QVERIFY(share->isEnabled());
    MessageBoxAnswerer ok(QMessageBox::Ok);
    QTest::mouseClick(share, Qt::LeftButton);
    auto *dialog = window->findChild<BrevAccount::ShareMembersDialog *>();
    QCOMPARE(dialog != nullptr, opens);
    if (!opens) {
        QTRY_COMPARE(ok.shown(), 1);
        QCOMPARE(ok.text(), "Only the owner can share this note.");
        QCOMPARE(m_server->count(listPath), 0);
        return;
    }
    QCOMPARE(dialog->windowTitle(), "Share Note");
    QCOMPARE(dialog->findChild<QLabel *>("headingLabel")->text(), "Sharing: Groceries");
    QTRY_COMPARE(m_server->count(listPath), 1);
    // Bob is offered; the signed-in user is not.
    QTRY_COMPARE(dialog->findChildren<QWidget *>("candidateRow").size(), 1);

    // Signing out hides the entry again.
    m_state->accountClient()->authClient()->logout();
    QTRY_VERIFY(!share->isVisibleTo(window.get()));
}

QTEST_MAIN(tst_MainWindowAccount)
#include "tst_mainwindowaccount.moc"
