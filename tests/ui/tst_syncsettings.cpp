#include "appstate.h"
#include "backupcommands.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "noterepository.h"
#include "notesservice.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "settingsdialog.h"
#include "statusbar.h"
#include "synccloudicon.h"
#include "syncengine.h"
#include "testaccount.h"
#include "testdatadir.h"
#include "thememanager.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The sync commands, the sync glyph and banner, and the preferences window, driven offscreen
// against a recording notes server on 127.0.0.1.
class tst_SyncSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void syncCommandsFollowTheServer_data();
    void syncCommandsFollowTheServer();
    void settingsControlsWriteTheirKeys_data();
    void settingsControlsWriteTheirKeys();
    void restoreToAccountSyncsAroundIt_data();
    void restoreToAccountSyncsAroundIt();

private:
    bool makeState(const QString &syncUrl, bool signedIn);

    std::unique_ptr<TestDataDir> m_dataDir;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<RecordingHttpServer> m_server;
    QMap<QString, QString> m_stored;
    std::unique_ptr<AppState> m_state;
};

void tst_SyncSettings::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("Brevaro");
    QCoreApplication::setApplicationName("Notes");
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void tst_SyncSettings::init()
{
    m_dataDir = std::make_unique<TestDataDir>();
    QVERIFY(m_dataDir->isValid());
    m_settingsDir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir->path());
    m_server = std::make_unique<RecordingHttpServer>();
    QVERIFY(m_server->listen());
    serveEmptyNotesService(*m_server, "/notes");
    m_server->setReply("GET", "/account/group", ScriptedReply::json(200, {}));
    m_stored.clear();
}

void tst_SyncSettings::cleanup()
{
    m_state.reset();
    m_server.reset();
    m_settingsDir.reset();
    m_dataDir.reset();
}

bool tst_SyncSettings::makeState(const QString &syncUrl, bool signedIn)
{
    if (signedIn) {
        m_stored.insert(accessKey, makeJwt(3600));
        m_stored.insert(refreshKey, "r-1");
    }
    ServiceConfig config = ServiceConfig::fromEnvironment();
    config.authBaseUrl = m_server->url().toString();
    config.accountApiUrl = m_server->url("/account").toString();
    config.syncApiUrl = syncUrl;
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>(&m_stored));
    m_state->setServiceConfig(config);
    if (!m_state->initialize())
        return false;
    m_state->syncEngine()->setDebounceInterval(20);
    return m_state->isSignedIn() == signedIn;
}

void tst_SyncSettings::syncCommandsFollowTheServer_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("iconState");
    QTest::addColumn<QString>("toolTip");

    QTest::addRow("signed out") << false << true << int(SyncCloudIcon::NotSignedIn)
                                << "Not signed in";
    QTest::addRow("server answers") << true << true << int(SyncCloudIcon::Synced) << "Synced";
    QTest::addRow("no connection") << true << false << int(SyncCloudIcon::Offline) << "Offline";
}

void tst_SyncSettings::syncCommandsFollowTheServer()
{
    QFETCH(bool, signedIn);
    QFETCH(bool, reachable);
    QFETCH(int, iconState);
    QFETCH(QString, toolTip);

    QString syncUrl = m_server->url("/notes").toString();
    if (!reachable) {
        // A port that was free a moment ago: connections are refused, no HTTP answer at all.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        syncUrl = QString("http://127.0.0.1:%1/notes").arg(probe.serverPort());
    }
    QVERIFY(makeState(syncUrl, signedIn));
    MainWindow window(m_state.get());
    window.show();
    QAction *syncNow = window.action("syncNowAction");
    QAction *forceResync = window.action("forceFullResyncAction");
    QVERIFY(syncNow && forceResync);
    QCOMPARE(syncNow->text(), QString("Sync Now"));
    QCOMPARE(syncNow->shortcut(), QKeySequence("Ctrl+Alt+R"));
    QCOMPARE(forceResync->text(), QString("Force Full Resync…"));
    QCOMPARE(syncNow->isEnabled(), signedIn);
    QCOMPARE(forceResync->isEnabled(), signedIn);

    SyncEngine *engine = m_state->syncEngine();
    SyncCloudIcon *icon = window.noteStatusBar()->syncIcon();
    QTRY_VERIFY(!engine->isCycleRunning()
        && (!signedIn || !reachable || m_state->notes()->pendingNotes().isEmpty()));
    QTRY_COMPARE(int(icon->iconState()), iconState);
    QCOMPARE(icon->toolTip(), toolTip);
    QCOMPARE(window.offlineBanner()->isVisible(), !reachable);

    if (!reachable) {
        // The banner follows its preference, and no note was lost to the failed cycle.
        m_state->preferences()->setBool("show_offline_notification", false);
        QVERIFY(!window.offlineBanner()->isVisible());
        m_state->preferences()->setBool("show_offline_notification", true);
        QVERIFY(window.offlineBanner()->isVisible());
        // An edit while offline tries again, fails the same way, and stays pending.
        QSignalSpy failures(engine, &SyncEngine::syncFailed);
        const std::optional<Note> note = m_state->writer()->createNote(QString());
        QVERIFY(note);
        QTRY_VERIFY(failures.size() >= 1 && !engine->isCycleRunning());
        QCOMPARE(m_state->notes()->noteById(note->id)->syncStatus, SyncStatus::Pending);
        QVERIFY(window.offlineBanner()->isVisible());
        return;
    }

    if (!signedIn) {
        ModalScript answers({ answerBox(QMessageBox::Yes) });
        syncNow->trigger();
        forceResync->trigger();
        QTest::qWait(100);
        QCOMPARE(answers.done(), 0);
        QVERIFY(m_server->requests("/notes/sync/pull").isEmpty());
        return;
    }

    // The welcome notes went out with the sign-in's cycles; nothing is pending now.
    QTRY_VERIFY(!engine->isCycleRunning() && m_state->notes()->pendingNotes().isEmpty());
    m_server->clearRequests();
    syncNow->trigger();
    QTRY_VERIFY(m_server->count("/notes/sync/pull") == 1 && !engine->isCycleRunning());
    QCOMPARE(m_server->count("/notes/sync/push"), 0);

    m_server->clearRequests();
    ModalScript answers({ answerBox(QMessageBox::Yes) });
    forceResync->trigger();
    QCOMPARE(answers.done(), 1);
    const int notes = int(m_state->notes()->allNotes().size());
    QVERIFY(notes > 0);
    QCOMPARE(window.noteStatusBar()->currentMessage(),
        QString("Marked %1 note(s) for re-sync.").arg(notes));
    // Everything goes out again in one push, and the pull starts from the beginning.
    QTRY_VERIFY(m_server->count("/notes/sync/push") == 1 && !engine->isCycleRunning()
        && m_state->notes()->pendingNotes().isEmpty());
    QCOMPARE(
        m_server->requests("/notes/sync/push").first().json()["changes"].toArray().size(), notes);
    QVERIFY(!m_server->requests("/notes/sync/pull").first().query.hasQueryItem("since"));
    QTRY_COMPARE(icon->toolTip(), QString("Synced"));

    // A cycle that takes long shows its step beside the busy bar until it ends.
    StatusBar *status = window.noteStatusBar();
    QVERIFY(!status->progressLabel()->isVisible() && !status->busyBar()->isVisible());
    m_server->enqueueReply("GET", "/notes/sync/pull",
        ScriptedReply::held(200, { { "changes", QJsonArray() }, { "timestamp", 2000 } }));
    syncNow->trigger();
    QTRY_COMPARE(m_server->heldCount(), 1);
    QCOMPARE(icon->iconState(), SyncCloudIcon::Syncing);
    QCOMPARE(icon->toolTip(), QString("Downloading notes"));
    QTRY_VERIFY(status->progressLabel()->isVisible() && status->busyBar()->isVisible());
    QCOMPARE(status->progressLabel()->text(), QString("Downloading notes"));
    QCOMPARE(m_server->releaseHeld(), 1);
    QTRY_VERIFY(!status->progressLabel()->isVisible() && !status->busyBar()->isVisible());
    QTRY_COMPARE(icon->toolTip(), QString("Synced"));
}

void tst_SyncSettings::settingsControlsWriteTheirKeys_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");

    QTest::addRow("untouched") << "" << QVariant() << ""
                               << "";
    QTest::addRow("theme") << "themeCombo" << QVariant(2) << "theme_mode"
                           << "dark";
    QTest::addRow("font size") << "fontSizeCombo" << QVariant(3) << "fontScale"
                               << "130";
    QTest::addRow("steno mode") << "stenoModeBox" << QVariant(true) << "steno_mode"
                                << "1";
    QTest::addRow("close to tray") << "closeToTrayBox" << QVariant(true) << "close_to_tray"
                                   << "1";
    QTest::addRow("start minimized") << "startMinimizedBox" << QVariant(true) << "start_minimized"
                                     << "1";
    QTest::addRow("automatic sync") << "autoSyncBox" << QVariant(false) << "auto_sync"
                                    << "0";
    QTest::addRow("interval") << "intervalSpin" << QVariant(45) << "sync_interval_minutes"
                              << "45";
    // The digit that would pass 120 is refused.
    QTest::addRow("interval beyond range")
        << "intervalSpin" << QVariant(500) << "sync_interval_minutes"
        << "50";
    QTest::addRow("offline banner")
        << "offlineBannerBox" << QVariant(false) << "show_offline_notification"
        << "0";
}

void tst_SyncSettings::settingsControlsWriteTheirKeys()
{
    QFETCH(QString, control);
    QFETCH(QVariant, input);
    QFETCH(QString, key);
    QFETCH(QString, stored);

    QVERIFY(makeState(m_server->url("/notes").toString(), false));
    PreferencesRepository *preferences = m_state->preferences();
    QSignalSpy writes(preferences, &PreferencesRepository::changed);
    QPointer<SettingsDialog> dialog = new SettingsDialog(m_state.get());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->categoryList()->count(), 5);

    // Signed out: nothing to sync with, and the button says why.
    auto *syncButton = dialog->findChild<QPushButton *>("syncNowButton");
    QVERIFY(syncButton);
    QVERIFY(!syncButton->isEnabled());
    QCOMPARE(syncButton->toolTip(), QString("Sign in to your Brevaro account to sync."));
    QCOMPARE(dialog->findChild<QLabel *>("syncStatusLabel")->text(), QString("Not signed in"));

    if (!control.isEmpty()) {
        QWidget *widget = dialog->findChild<QWidget *>(control);
        QVERIFY2(widget, qPrintable(control));
        for (int page = 0; page < dialog->pages()->count(); ++page) {
            if (dialog->pages()->widget(page)->isAncestorOf(widget))
                dialog->categoryList()->setCurrentRow(page);
        }
        QVERIFY(widget->isVisible());
        if (auto *box = qobject_cast<QCheckBox *>(widget)) {
            QVERIFY(box->isChecked() != input.toBool());
            if (box->isEnabled())
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
            else
                box->setChecked(input.toBool()); // disabled while signed out
        } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
            combo->setCurrentIndex(input.toInt());
            if (key == "fontScale") {
                // A scale that is no preset shows "Default"; picking it sets 100.
                QVERIFY(m_state->themeManager());
                m_state->themeManager()->setFontScale(120);
                dialog->close();
                QTRY_VERIFY(!dialog);
                dialog = new SettingsDialog(m_state.get());
                dialog->show();
                combo = dialog->findChild<QComboBox *>(control);
                QCOMPARE(combo->currentText(), QString("Default"));
                emit combo->activated(combo->currentIndex());
                QCOMPARE(preferences->stringValue(key), QString("100"));
                m_state->themeManager()->setFontScale(input.toInt() == 3 ? 130 : 100);
            }
        } else if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
            spin->selectAll();
            QTest::keyClicks(spin, input.toString());
            QCOMPARE(spin->value(), stored.toInt());
        }
        QCOMPARE(preferences->stringValue(key), stored);
        QVERIFY(!writes.isEmpty());
        for (const QList<QVariant> &write : std::as_const(writes))
            QCOMPARE(write.at(0).toString(), key);
    }
    const qsizetype before = writes.size();
    dialog->close();
    QTRY_VERIFY(!dialog);
    // Closing writes nothing; untouched, the dialog wrote nothing at all.
    QCOMPARE(writes.size(), before);
    if (control.isEmpty())
        QCOMPARE(writes.size(), 0);
}

void tst_SyncSettings::restoreToAccountSyncsAroundIt_data()
{
    QTest::addColumn<int>("failingPull"); // the pull answered 500: 1 before, 2 after the restore
    QTest::addColumn<bool>("broken");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text"); // a pattern
    QTest::addColumn<bool>("restored");

    QTest::addRow("both syncs succeed") << 0 << false << "Restore Complete"
                                        << "^Restored [1-9]\\d* items and synced them" << true;
    QTest::addRow("sync before fails: nothing changes") << 1 << false << "Restore Aborted"
                                                        << "nothing was changed" << false;
    QTest::addRow("sync after fails: uploads later") << 2 << false << "Restore Complete"
                                                     << "finish uploading" << true;
    QTest::addRow("unreadable archive is no success") << 0 << true << "Restore Failed"
                                                      << "^Errors: 1" << false;
}

void tst_SyncSettings::restoreToAccountSyncsAroundIt()
{
    QFETCH(int, failingPull);
    QFETCH(bool, broken);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, restored);

    QVERIFY(makeState(m_server->url("/notes").toString(), true));
    const auto body
        = [](const QString &words) { return QString("[{\"insert\":\"%1\\n\"}]").arg(words); };
    std::optional<Note> note = m_state->writer()->createNote(QString(), body("in the backup"));
    QVERIFY(note);
    const QString archive = m_dataDir->path() + "/backup.zip";
    QVERIFY(!BackupCommands::backupTo(m_state.get(), nullptr, archive).isEmpty());
    if (broken)
        QVERIFY(QFile::resize(archive, 100));
    QVERIFY(m_state->writer()->saveBody(note->id, body("changed after")));

    int pulls = 0;
    m_server->setResponder("GET", "/notes/sync/pull", [&](const RecordedRequest &) {
        if (++pulls == failingPull)
            return ScriptedReply::json(500, {});
        return ScriptedReply::json(200, { { "changes", QJsonArray() }, { "timestamp", 1000 } });
    });
    QString shownTitle;
    QString shownText;
    ModalScript script({ answerBox(QMessageBox::Ok, &shownTitle, &shownText) });
    if (failingPull > 0 || broken)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("."));
    BackupCommands::restoreToAccount(m_state.get(), nullptr, archive);
    QTRY_COMPARE_WITH_TIMEOUT(script.done(), 1, 10000);
    QCOMPARE(shownTitle, title);
    QVERIFY2(shownText.contains(QRegularExpression(text)), qPrintable(shownText));
    QCOMPARE(m_state->notes()->noteById(note->id)->body,
        restored ? body("in the backup") : body("changed after"));
    if (failingPull == 0 && !broken) {
        // The second sync sent the backup's words, at a version above the server's.
        QString pushedBody;
        const QJsonArray changes
            = m_server->requests("/notes/sync/push").last().json()["changes"].toArray();
        for (const QJsonValue &change : changes) {
            if (change["entity_id"].toString() == note->id)
                pushedBody = change["data"]["body"].toString();
        }
        QCOMPARE(pushedBody, body("in the backup"));
    }
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_SyncSettings)
#include "tst_syncsettings.moc"
