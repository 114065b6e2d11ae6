#include "manifest.h"
#include "releasenotesview.h"
#include "updateclient.h"
#include "updatedialog.h"
#include "updatefixture.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace UpdateFixture;
using BrevUpdate::Client;

class tst_UpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void checkOutcome_data();
    void checkOutcome();
    void platformKey_data();
    void platformKey();
    void secondCheckWhileInFlightSendsNothing();
    void interactiveCheckReports_data();
    void interactiveCheckReports();
};

// Outcome "available:<version>", "up to date" or "failed:<reason>"; a reason ending in "*" is a
// prefix (the network layer's own text follows).
void tst_UpdateCheck::checkOutcome_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("outcome");

    const QString linuxKey = QStringLiteral("linux-x64");
    auto one = [](const QJsonObject &a) { return json(manifest({ { "linux-x64", a } })); };
    auto bent = [&](const QJsonObject &overrides) { return one(artifact("1.2.0", overrides)); };
    const QString invalid = "failed:manifest invalid: artifact linux-x64 failed validation";

    QTest::addRow("same release written short")
        << one(artifact("1.1")) << "1.1.0" << linuxKey << "up to date";
    QTest::addRow("newer patch") << one(artifact("1.1.1")) << "1.1.0" << linuxKey
                                 << "available:1.1.1";
    QTest::addRow("minor compared as a number")
        << one(artifact("1.10.0")) << "1.9.9" << linuxKey << "available:1.10.0";
    QTest::addRow("no manifest yet (404)")
        << json("missing", 404) << "1.1.0" << linuxKey << "up to date";
    QTest::addRow("server error") << json("{}", 500) << "1.1.0" << linuxKey
                                  << "failed:network error: *";
    QTest::addRow("not JSON") << json("<html>oops</html>") << "1.1.0" << linuxKey
                              << "failed:manifest invalid: JSON parse error: *";
    QTest::addRow("root is an array")
        << json("[1,2]") << "1.1.0" << linuxKey
        << "failed:manifest invalid: manifest root is not a JSON object";
    QTest::addRow("schema 2")
        << json(manifest({ { "linux-x64", artifact("9.0") } }, { { "schema", 2 } })) << "1.1.0"
        << linuxKey << "failed:manifest invalid: unsupported manifest schema: 2 (expected 1)";
    QTest::addRow("app is a number")
        << json(manifest({ { "linux-x64", artifact("9.0") } }, { { "app", 7 } })) << "1.1.0"
        << linuxKey << "failed:manifest invalid: missing or non-string field: app";
    QTest::addRow("empty channel")
        << json(manifest({ { "linux-x64", artifact("9.0") } }, { { "channel", "" } })) << "1.1.0"
        << linuxKey << "failed:manifest invalid: manifest failed validation";
    QTest::addRow("artifacts is a list")
        << json(manifest({}, { { "artifacts", QJsonArray() } })) << "1.1.0" << linuxKey
        << "failed:manifest invalid: missing or non-object field: artifacts";
    QTest::addRow("no artifacts") << json(manifest({})) << "1.1.0" << linuxKey
                                  << "failed:manifest invalid: manifest failed validation";
    QTest::addRow("artifact is a string")
        << json(manifest({ { "linux-x64", "9.0" } })) << "1.1.0" << linuxKey
        << "failed:manifest invalid: artifact linux-x64 is not an object";
    QTest::addRow("version missing")
        << bent({ { "version", QJsonValue() } }) << "1.1.0" << linuxKey
        << "failed:manifest invalid: missing or non-string field: version";
    QTest::addRow("sha256 of 63 characters")
        << bent({ { "sha256", QString(63, 'a') } }) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("sha256 not hex")
        << bent({ { "sha256", QString(64, 'z') } }) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("pre-release version")
        << one(artifact("1.2.3-beta")) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("leading zero") << one(artifact("01.2")) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("empty version part") << one(artifact("1..2")) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("negative size") << bent({ { "size", -5 } }) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("absurd size") << bent({ { "size", 1e300 } }) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("size as text") << bent({ { "size", "48123456" } }) << "1.1.0" << linuxKey
                                  << invalid;
    QTest::addRow("date not a date")
        << bent({ { "released_at", "yesterday" } }) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("download is a local file")
        << bent({ { "url", "file:///usr/bin/xterm" } }) << "1.1.0" << linuxKey << invalid;
    QTest::addRow("notes url not a web page")
        << bent({ { "release_notes_url", "javascript:alert(1)" } }) << "1.1.0" << linuxKey
        << invalid;
    QTest::addRow("broken build for another platform")
        << json(manifest({ { "linux-x64", artifact("1.2.0") },
               { "windows-x64", artifact("1.2.0", { { "size", 0 } }) } }))
        << "1.1.0" << linuxKey << "failed:manifest invalid: artifact windows-x64 failed validation";
    QTest::addRow("needs an intermediate release")
        << one(artifact("2.0.0", { { "min_upgradable_from", "1.2.0" } })) << "1.1.0" << linuxKey
        << "failed:current version 1.1.0 is older than min_upgradable_from 1.2.0; please upgrade "
           "to an intermediate release first";
    QTest::addRow("minimum met") << one(artifact("2.0.0", { { "min_upgradable_from", "1.1" } }))
                                 << "1.1.0" << linuxKey << "available:2.0.0";
    QTest::addRow("only a Windows build") << json(manifest({ { "windows-x64", artifact("9.0") } }))
                                          << "1.1.0" << linuxKey << "up to date";
    QTest::addRow("Linux picks its own build") << json(
        manifest({ { "windows-x64", artifact("9.0") }, { "linux-x64", artifact("1.3.0") } }))
                                               << "1.1.0" << linuxKey << "available:1.3.0";
    QTest::addRow("Windows picks its own build") << json(
        manifest({ { "windows-x64", artifact("9.0") }, { "linux-x64", artifact("1.3.0") } }))
                                                 << "1.1.0"
                                                 << "windows-x64"
                                                 << "available:9.0";
    QTest::addRow("no build for this platform") << one(artifact("9.0")) << "1.1.0"
                                                << ""
                                                << "up to date";
    QTest::addRow("manifest over 1 MB")
        << json(QByteArray(1024 * 1024 + 10, ' ') + manifest({ { "linux-x64", artifact("9.0") } }))
        << "1.1.0" << linuxKey << "failed:manifest invalid: manifest is larger than 1048576 bytes";
    ScriptedReply announcedHuge = json("{");
    announcedHuge.declaredLength = 50 * 1024 * 1024;
    QTest::addRow("announces 50 MB")
        << announcedHuge << "1.1.0" << linuxKey
        << "failed:manifest invalid: manifest is larger than 1048576 bytes";
    ScriptedReply endless = json("{\"schema\":1,");
    endless.declaredLength = 4000;
    QTest::addRow("body never ends")
        << endless << "1.1.0" << linuxKey << "failed:network error: no answer within 500 ms";
}

void tst_UpdateCheck::checkOutcome()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(QString, current);
    QFETCH(QString, platform);
    QFETCH(QString, outcome);

    RecordingHttpServer server;
    QVERIFY(server.listen());
    server.setReply("GET", ManifestPath, reply);
    Client client(config(server, current));
    client.setPlatformKey(platform);
    client.setTimeout(500);
    QSignalSpy available(&client, &Client::updateAvailable);
    QSignalSpy upToDate(&client, &Client::upToDate);
    QSignalSpy failed(&client, &Client::checkFailed);

    client.checkForUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(available.size() + upToDate.size() + failed.size(), 1, 5000);
    QTest::qWait(20); // no second signal follows
    QCOMPARE(available.size() + upToDate.size() + failed.size(), 1);
    QVERIFY(!client.isChecking());

    QCOMPARE(server.count(ManifestPath), 1);
    QCOMPARE(
        server.requests(ManifestPath).first().header("user-agent"), "BrevUpdateQt/0.1 (notes)");

    if (outcome.startsWith("available:")) {
        QCOMPARE(available.size(), 1);
        const auto artifact = available.first().first().value<BrevUpdate::Artifact>();
        QCOMPARE(artifact.version, outcome.mid(10));
        QVERIFY(artifact.url.toString().endsWith(artifact.version + "/setup"));
    } else if (outcome == "up to date") {
        QCOMPARE(upToDate.size(), 1);
    } else {
        QCOMPARE(failed.size(), 1);
        const QString reason = failed.first().first().toString();
        const QString expected = outcome.mid(7);
        if (expected.endsWith('*'))
            QVERIFY2(reason.startsWith(expected.chopped(1)), qPrintable(reason));
        else
            QCOMPARE(reason, expected);
    }
}

void tst_UpdateCheck::platformKey_data()
{
    QTest::addColumn<QString>("os");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("key");
    QTest::addRow("Linux on x86-64 is not offered the Windows installer") << "linux"
                                                                          << "x86_64"
                                                                          << "linux-x64";
    QTest::addRow("Windows on x86-64") << "winnt"
                                       << "x86_64"
                                       << "windows-x64";
    QTest::addRow("Linux on ARM gets nothing") << "linux"
                                               << "arm64"
                                               << "";
    QTest::addRow("other systems get nothing") << "darwin"
                                               << "x86_64"
                                               << "";
}

void tst_UpdateCheck::platformKey()
{
    QFETCH(QString, os);
    QFETCH(QString, cpu);
    QFETCH(QString, key);
    QCOMPARE(BrevUpdate::platformKeyFor(os, cpu), key);
}

void tst_UpdateCheck::secondCheckWhileInFlightSendsNothing()
{
    RecordingHttpServer server;
    QVERIFY(server.listen());
    server.setReply("GET", ManifestPath, ScriptedReply::held(404, {}));
    Client client(config(server));
    QSignalSpy upToDate(&client, &Client::upToDate);

    client.checkForUpdate();
    QTRY_COMPARE(server.heldCount(), 1);
    client.checkForUpdate();
    QTest::qWait(50);
    QCOMPARE(server.count(ManifestPath), 1);
    server.releaseHeld();
    QTRY_COMPARE(upToDate.size(), 1);
    QTest::qWait(20);
    QCOMPARE(upToDate.size(), 1);

    // Once answered, the next check goes out again.
    client.checkForUpdate();
    QTRY_COMPARE(server.heldCount(), 1);
    QCOMPARE(server.count(ManifestPath), 2);
}

void tst_UpdateCheck::interactiveCheckReports_data()
{
    QTest::addColumn<QByteArray>("manifestBody");
    QTest::addColumn<ScriptedReply>("notes");
    QTest::addColumn<bool>("closeWindowFirst");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("dialogNotes"); // empty: no dialog; "-": dialog without notes
    QTest::addColumn<bool>("later");

    const QString key = BrevUpdate::currentPlatformKey();
    const QString checking = "message: Checking for updates…";
    const QJsonObject withNotes { { "release_notes_url", "/notes/1.3.0/release-notes.md" } };
    QTest::addRow("up to date") << manifest({ { key, artifact("1.1.0") } }) << ScriptedReply()
                                << false
                                << QStringList { checking, "finished",
                                       "timed 5000: Brevaro Notes is up to date (version 1.1.0)" }
                                << QString() << false;
    QTest::addRow("newer build") << manifest({ { key, artifact("1.3.0") } }) << ScriptedReply()
                                 << false << QStringList { checking, "finished" } << "-" << true;
    QTest::addRow("mandatory build has no Later")
        << manifest({ { key, artifact("1.3.0", { { "mandatory", true } }) } }) << ScriptedReply()
        << false << QStringList { checking, "finished" } << "-" << false;
    QTest::addRow("newer build with notes")
        << manifest({ { key, artifact("1.3.0", withNotes) } })
        << markdown("# Faster search\n\nFinds more.") << false
        << QStringList { checking, "finished" } << "Faster search" << true;
    QTest::addRow("notes page is an HTML error page")
        << manifest({ { key, artifact("1.3.0", withNotes) } })
        << ScriptedReply::raw(
               200, "<!DOCTYPE html><html><body>Sign in to Wi-Fi</body></html>", "text/html")
        << false << QStringList { checking, "finished" }
        << "Release notes are not available for this version." << true;
    QTest::addRow("window closed before the answer")
        << manifest({ { key, artifact("1.3.0") } }) << ScriptedReply() << true
        << QStringList { checking, "finished" } << QString() << false;
}

void tst_UpdateCheck::interactiveCheckReports()
{
    QFETCH(QByteArray, manifestBody);
    QFETCH(ScriptedReply, notes);
    QFETCH(bool, closeWindowFirst);
    QFETCH(QStringList, log);
    QFETCH(QString, dialogNotes);
    QFETCH(bool, later);
    if (BrevUpdate::currentPlatformKey().isEmpty())
        QSKIP("no builds are published for this platform");

    RecordingHttpServer server;
    QVERIFY(server.listen());
    // Relative notes addresses are not web addresses; the manifest names them in full.
    manifestBody.replace("\"/notes/1.3.0", "\"" + server.url("/notes/1.3.0").toEncoded());
    ScriptedReply held = json(manifestBody);
    held.mode = ScriptedReply::Mode::Hold;
    server.setReply("GET", ManifestPath, held);
    server.setReply("GET", "/notes/1.3.0/release-notes.md", notes);
    auto window = std::make_unique<QWidget>();
    CallbackLog calls;

    BrevUpdate::runUpdateCheck(config(server), "Brevaro Notes", window.get(), calls.callbacks());
    QTRY_COMPARE(server.heldCount(), 1);
    if (closeWindowFirst)
        window.reset();
    QCOMPARE(server.releaseHeld(), 1);
    QTRY_COMPARE(calls.lines.size(), log.size());
    QCOMPARE(calls.lines, log);

    QWidget *dialogParent = window ? window.get() : nullptr;
    if (dialogNotes.isEmpty()) {
        QTest::qWait(50);
        for (QWidget *widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<BrevUpdate::UpdateDialog *>(widget));
        if (dialogParent)
            QVERIFY(!dialogParent->findChild<BrevUpdate::UpdateDialog *>());
        return;
    }
    BrevUpdate::UpdateDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = dialogParent->findChild<BrevUpdate::UpdateDialog *>()));
    QCOMPARE(dialog->windowTitle(), "Update available");
    QCOMPARE(dialog->findChild<QLabel *>("updateVersions")->text(),
        "You have version 1.1.0. The latest version is 1.3.0.");
    QCOMPARE(dialog->laterButton() != nullptr, later);
    QVERIFY(dialog->downloadButton()->isDefault());
    if (dialogNotes == "-") {
        QVERIFY(!dialog->notesView());
    } else {
        QVERIFY(dialog->notesView());
        QTRY_VERIFY2(dialog->notesView()->toPlainText().contains(dialogNotes),
            qPrintable(dialog->notesView()->toPlainText()));
        QCOMPARE(server.requests("/notes/1.3.0/release-notes.md").first().header("user-agent"),
            "BrevUpdateQt/0.1 (update-dialog)");
    }
}

QTEST_MAIN(tst_UpdateCheck)
#include "tst_updatecheck.moc"
