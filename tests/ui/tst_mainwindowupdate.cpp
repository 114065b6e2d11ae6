#include "appstate.h"
#include "mainwindow.h"
#include "manifest.h"
#include "recordinghttpserver.h"
#include "serviceconfig.h"
#include "statusbar.h"
#include "testaccount.h"
#include "testdatadir.h"
#include "updatedialog.h"
#include "whatsnewdialog.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Help > "Check for Updates..." and "What's New..." in the main window, against a release server
// on 127.0.0.1 that publishes a newer Linux build and an even newer Windows one.
class tst_MainWindowUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void helpMenuReportsReleases_data();
    void helpMenuReportsReleases();
};

void tst_MainWindowUpdate::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Notes"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void tst_MainWindowUpdate::helpMenuReportsReleases_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("thisPlatformVersion"); // empty: no build for this platform
    QTest::addColumn<bool>("currentNotes");
    QTest::addColumn<QString>("statusMessage");
    QTest::addColumn<QString>("dialog"); // what opens: its versions line or title

    QTest::addRow("newer build for this platform")
        << "checkUpdatesAction"
        << "1.3.0" << false << QString() << "You have version 1.1.0. The latest version is 1.3.0.";
    QTest::addRow("only another platform has a newer build")
        << "checkUpdatesAction" << QString() << false
        << "Brevaro Notes is up to date (version 1.1.0)" << QString();
    QTest::addRow("notes of this version")
        << "whatsNewAction"
        << "1.1.0" << true << QString() << "What's New in Brevaro Notes 1.1.0";
    QTest::addRow("no notes anywhere")
        << "whatsNewAction"
        << "1.1.0" << false << "No release notes available for Brevaro Notes 1.1.0" << QString();
}

void tst_MainWindowUpdate::helpMenuReportsReleases()
{
    QFETCH(QString, action);
    QFETCH(QString, thisPlatformVersion);
    QFETCH(bool, currentNotes);
    QFETCH(QString, statusMessage);
    QFETCH(QString, dialog);
    const QString key = BrevUpdate::currentPlatformKey();
    if (key.isEmpty())
        QSKIP("no builds are published for this platform");

    TestDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    RecordingHttpServer server;
    QVERIFY(server.listen());
    const QByteArray build = R"({"version":"%1","released_at":"2026-11-30T12:00:00Z",
        "url":"https://downloads.example.org/%1","size":1000,"sha256":"%2"})";
    auto entry = [&](const QByteArray &version) {
        return QByteArray(build).replace("%1", version).replace("%2", QByteArray(64, 'e'));
    };
    QByteArray artifacts = "\"other-platform\":" + entry("9.0.0");
    if (key != "windows-x64")
        artifacts = "\"windows-x64\":" + entry("9.0.0");
    if (!thisPlatformVersion.isEmpty())
        artifacts += ",\"" + key.toUtf8() + "\":" + entry(thisPlatformVersion.toUtf8());
    server.setReply("GET", "/downloads/notes/stable/latest.json",
        ScriptedReply::raw(200,
            R"({"schema":1,"app":"notes","channel":"stable","artifacts":{)" + artifacts + "}}",
            "application/json"));
    if (currentNotes)
        server.setReply("GET", "/downloads/notes/1.1.0/release-notes.md",
            ScriptedReply::raw(200, "# Tables\n\nSortable.", "text/markdown"));

    ServiceConfig config = ServiceConfig::fromEnvironment();
    config.downloadBaseUrl = server.url("/downloads").toString();
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    state.setServiceConfig(config);
    QVERIFY(state.initialize());
    MainWindow window(&state);
    window.show();

    window.action(action)->trigger();
    StatusBar *bar = window.noteStatusBar();
    if (dialog.isEmpty()) {
        QTRY_COMPARE(bar->currentMessage(), statusMessage);
        QVERIFY(!bar->progressLabel()->isVisible());
        QVERIFY(!window.findChild<BrevUpdate::UpdateDialog *>());
        QVERIFY(!window.findChild<BrevUpdate::WhatsNewDialog *>());
        return;
    }
    QWidget *opened = nullptr;
    QTRY_VERIFY((opened = window.findChild<BrevUpdate::UpdateDialog *>())
        || (opened = window.findChild<BrevUpdate::WhatsNewDialog *>()));
    QVERIFY(opened->isVisible());
    QVERIFY(!bar->progressLabel()->isVisible());
    if (auto *update = qobject_cast<BrevUpdate::UpdateDialog *>(opened))
        QCOMPARE(update->findChild<QLabel *>("updateVersions")->text(), dialog);
    else
        QCOMPARE(opened->windowTitle(), dialog);
    opened->close();
}

QTEST_MAIN(tst_MainWindowUpdate)
#include "tst_mainwindowupdate.moc"
