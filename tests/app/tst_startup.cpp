#include "database.h"
#include "noterepository.h"
#include "paths.h"
#include "preferencesrepository.h"
#include "recordinghttpserver.h"
#include "testarchive.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

// Runs the built program as real processes, each with its own temporary folder (so the
// single-instance socket never meets a copy the user is running) and data directory.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void secondCopyHandsOverAndExits();
    void unopenableDatabaseExitsWithOne();
    void damagedDatabaseIsNamedAndLeftAsItIs();
    void backupAndRestoreRunWithoutWindow();
    void importRunsWithoutWindow_data();
    void importRunsWithoutWindow();
    void releaseNotesAfterUpgradeAndUpdateCheck_data();
    void releaseNotesAfterUpgradeAndUpdateCheck();

private:
    QProcessEnvironment environment(const QString &dataDir) const;
    int runToEnd(const QStringList &arguments, const QString &dataDir, QByteArray *output);

    std::unique_ptr<QTemporaryDir> m_tempDir;
    std::unique_ptr<TestDataDir> m_dataDir;
};

void tst_Startup::init()
{
    m_tempDir = std::make_unique<QTemporaryDir>();
    m_dataDir = std::make_unique<TestDataDir>();
    QVERIFY(m_tempDir->isValid());
    QVERIFY(m_dataDir->isValid());
}

void tst_Startup::cleanup()
{
    m_dataDir.reset();
    m_tempDir.reset();
}

QProcessEnvironment tst_Startup::environment(const QString &dataDir) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", m_tempDir->path());
    env.insert("NOTES_DATA_DIR", dataDir);
    // The release check and notes go to a closed local port, never to the real server.
    env.insert("UPDATE_BASE_URL", "http://127.0.0.1:9");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", m_tempDir->path());
    // The sign-in tokens, too, stay in the test's folder: no session bus, so no user keyring.
    env.insert("XDG_CONFIG_HOME", m_tempDir->filePath("config"));
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    return env;
}

int tst_Startup::runToEnd(const QStringList &arguments, const QString &dataDir, QByteArray *output)
{
    QProcess process;
    process.setProcessEnvironment(environment(dataDir));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(BREVARO_NOTES_EXECUTABLE, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void tst_Startup::secondCopyHandsOverAndExits()
{
    QProcess first;
    first.setProcessEnvironment(environment(m_dataDir->path()));
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(BREVARO_NOTES_EXECUTABLE, {});
    QVERIFY(first.waitForStarted());
    QByteArray firstLog;
    auto readFirst = [&] {
        firstLog += first.readAll();
        return firstLog;
    };
    QTRY_VERIFY_WITH_TIMEOUT(readFirst().contains("Main window first painted"), 20000);

    const struct
    {
        QStringList arguments;
        QByteArray expected;
        QByteArray then; // what the first copy did with it
    } handOvers[] = {
        { { "--new-note" }, "received message: new-note", "Opened a note window for note" },
        // No such note: no empty window, the main window comes forward instead.
        { { "--note", "0b5c7a3e-0000-4000-8000-000000000001" },
            "received message: note:0b5c7a3e-0000-4000-8000-000000000001",
            "NoteWindow: no note with id 0b5c7a3e-0000-4000-8000-000000000001" },
        { {}, "received message: focus", "" },
    };
    for (const auto &handOver : handOvers) {
        QByteArray secondLog;
        QCOMPARE(runToEnd(handOver.arguments, m_dataDir->path(), &secondLog), 0);
        QVERIFY2(secondLog.contains("to the running instance"), secondLog.constData());
        // The second copy never touches the database.
        QVERIFY2(!secondLog.contains("Opening database"), secondLog.constData());
        QTRY_VERIFY2_WITH_TIMEOUT(
            readFirst().contains(handOver.expected), firstLog.constData(), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(readFirst().contains(handOver.then), firstLog.constData(), 10000);
    }

    first.terminate();
    if (!first.waitForFinished(5000)) {
        first.kill();
        first.waitForFinished();
    }

    // "new-note" reached the first copy's database: three welcome notes and the new one.
    Database database;
    QVERIFY(database.open(databasePath()));
    QVERIFY(database.migrate());
    NoteRepository notes(&database);
    const QList<Note> all = notes.allNotes();
    QCOMPARE(all.size(), 4);
    QCOMPARE(std::count_if(all.cbegin(), all.cend(), [](const Note &n) { return !n.isSample; }), 1);
}

void tst_Startup::unopenableDatabaseExitsWithOne()
{
    QFile blocker(m_dataDir->filePath("not-a-directory"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("x");
    blocker.close();
    const QString dataDir = blocker.fileName() + "/notes";

    QByteArray log;
    QCOMPARE(runToEnd({}, dataDir, &log), 1);
    QVERIFY2(log.contains("Failed to initialize the database."), log.constData());
    QVERIFY2(log.contains(dataDir.toUtf8()), log.constData());
    QVERIFY2(!log.contains("Main window first painted"), log.constData());
}

void tst_Startup::damagedDatabaseIsNamedAndLeftAsItIs()
{
    const QString path = databasePath(m_dataDir->path());
    {
        Database database;
        QVERIFY(database.open(path));
        QVERIFY(database.migrate());
        NoteRepository notes(&database);
        for (int i = 0; i < 50; ++i)
            QVERIFY(notes.insert(
                TestDatabase::makeNote(bodyOf(QString("Note %1 ").arg(i).repeated(60)))));
    }
    QVERIFY(overwritePages(path, 3, 2));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray damaged = file.readAll();
    file.close();

    // Offscreen nobody can answer the question, so the program says where the file is and
    // stops without touching it.
    QByteArray log;
    QCOMPARE(runToEnd({}, m_dataDir->path(), &log), 1);
    QVERIFY2(log.contains("Database Error"), log.constData());
    QVERIFY2(log.contains(path.toUtf8()), log.constData());
    QVERIFY2(!log.contains("Main window first painted"), log.constData());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == damaged);
}

void tst_Startup::backupAndRestoreRunWithoutWindow()
{
    {
        Database database;
        QVERIFY(database.open(databasePath(m_dataDir->path())));
        QVERIFY(database.migrate());
        NoteRepository notes(&database);
        QVERIFY(notes.insert(TestDatabase::makeNote("[{\"insert\":\"First\\n\"}]")));
        QVERIFY(notes.insert(TestDatabase::makeNote("[{\"insert\":\"Second\\n\"}]")));
    }
    const QString zipPath = m_tempDir->filePath("backup.zip");
    const QString otherDir = m_tempDir->filePath("other-data");

    QByteArray log;
    QCOMPARE(runToEnd({ "--backup", zipPath }, m_dataDir->path(), &log), 0);
    QVERIFY2(log.contains("Backup saved: 2 notes"), log.constData());
    QVERIFY2(!log.contains("Main window first painted"), log.constData());
    QCOMPARE(runToEnd({ "--restore", zipPath }, otherDir, &log), 0);
    QVERIFY2(log.contains("Imported: 2\nSkipped: 0\nErrors: 0"), log.constData());
    QCOMPARE(runToEnd({ "--restore", zipPath }, otherDir, &log), 0);
    QVERIFY2(log.contains("Imported: 0\nSkipped: 2\nErrors: 0"), log.constData());

    QFile notZip(m_tempDir->filePath("notes.zip"));
    QVERIFY(notZip.open(QIODevice::WriteOnly));
    notZip.write("not an archive");
    notZip.close();
    QCOMPARE(runToEnd({ "--restore", notZip.fileName() }, otherDir, &log), 1);
    QVERIFY2(log.contains("Restore failed: Failed to extract backup"), log.constData());
    QCOMPARE(runToEnd({ "--backup" }, otherDir, &log), 2);
    QVERIFY2(log.contains("--backup needs the path of a ZIP file."), log.constData());

    // With the program running on the same data, the command refuses and writes nothing.
    QProcess first;
    first.setProcessEnvironment(environment(m_dataDir->path()));
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(BREVARO_NOTES_EXECUTABLE, {});
    QVERIFY(first.waitForStarted());
    QByteArray firstLog;
    QTRY_VERIFY_WITH_TIMEOUT(
        (firstLog += first.readAll()).contains("Main window first painted"), 20000);
    const QString refusedPath = m_tempDir->filePath("refused.zip");
    QCOMPARE(runToEnd({ "--backup", refusedPath }, m_dataDir->path(), &log), 1);
    QVERIFY2(log.contains("Brevaro Notes is running."), log.constData());
    QVERIFY(!QFile::exists(refusedPath));
    QCOMPARE(
        runToEnd({ "--import", testSamplePath("joplin-small.jex") }, m_dataDir->path(), &log), 1);
    QVERIFY2(log.contains("Brevaro Notes is running."), log.constData());
    first.terminate();
    if (!first.waitForFinished(5000)) {
        first.kill();
        first.waitForFinished();
    }
}

void tst_Startup::importRunsWithoutWindow_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<int>("notes");
    QFile sample(testSamplePath("joplin-small.jex"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray jex = sample.readAll();
    // The file's name says nothing: the content decides which importer reads it.
    QTest::addRow("joplin export named .zip")
        << jex << 0 << "Imported: 34 notes\nAttachments: 9" << 34;
    QTest::addRow("damaged export")
        << jex.left(jex.size() / 2) << 1 << "Import failed: The archive is damaged" << 0;
    QTest::addRow("not an export")
        << QByteArray("plain text") << 1 << "is neither a Joplin export" << 0;
}

void tst_Startup::importRunsWithoutWindow()
{
    QFETCH(QByteArray, content);
    QFETCH(int, exitCode);
    QFETCH(QString, printed);
    QFETCH(int, notes);
    const QString path = m_tempDir->filePath("export.zip");
    QVERIFY(writeTestFile(path, content));
    QByteArray log;
    QCOMPARE(runToEnd({ "--import", path }, m_dataDir->path(), &log), exitCode);
    QVERIFY2(log.contains(printed.toUtf8()), log.constData());
    QVERIFY2(!log.contains("Main window first painted"), log.constData());
    if (exitCode == 0)
        QVERIFY2(log.contains("[34/34] Importing: "), log.constData());
    Database database;
    QVERIFY(database.open(databasePath(m_dataDir->path())));
    QCOMPARE(NoteRepository(&database).allNotes().size(), notes);
}

void tst_Startup::releaseNotesAfterUpgradeAndUpdateCheck_data()
{
    QTest::addColumn<QString>("stored"); // null: never stored (first start)
    QTest::addColumn<bool>("notesShown");
    QTest::addColumn<QString>("storedAfter");
    QTest::addRow("first start") << QString() << true << "1.1.0";
    QTest::addRow("already seen a newer release's notes") << "1.2" << false << "1.2";
}

// The program itself against a release server on 127.0.0.1: the notes of the running version
// once per upgrade, then one update check that offers the Linux build, not the Windows one.
void tst_Startup::releaseNotesAfterUpgradeAndUpdateCheck()
{
    QFETCH(QString, stored);
    QFETCH(bool, notesShown);
    QFETCH(QString, storedAfter);
    {
        Database database;
        QVERIFY(database.open(databasePath(m_dataDir->path())));
        QVERIFY(database.migrate());
        PreferencesRepository preferences(&database);
        if (!stored.isNull())
            QVERIFY(preferences.setValue("last_whats_new_version", stored));
    }
    RecordingHttpServer server;
    QVERIFY(server.listen());
    const QByteArray build = R"({"version":"%1","released_at":"2026-11-30T12:00:00Z",
        "url":"https://downloads.example.org/%1","size":1000,"sha256":"%2"})";
    const QByteArray hash(64, 'c');
    server.setReply("GET", "/downloads/notes/stable/latest.json",
        ScriptedReply::raw(200,
            R"({"schema":1,"app":"notes","channel":"stable","artifacts":{"windows-x64":)"
                + QByteArray(build).replace("%1", "9.0.0").replace("%2", hash) + R"(,"linux-x64":)"
                + QByteArray(build).replace("%1", "1.3.0").replace("%2", hash) + "}}",
            "application/json"));
    server.setReply("GET", "/downloads/notes/1.1.0/release-notes.md",
        ScriptedReply::raw(200, "# Tables", "text/markdown"));

    QProcess program;
    QProcessEnvironment env = environment(m_dataDir->path());
    env.insert("UPDATE_BASE_URL", server.url("/downloads").toString());
    env.insert("LANG", "en_US.UTF-8");
    env.insert("QT_LOGGING_RULES", "brevupdate.client.info=true");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(BREVARO_NOTES_EXECUTABLE, {});
    QVERIFY(program.waitForStarted());
    QByteArray log;
    QTRY_VERIFY2_WITH_TIMEOUT(
        (log += program.readAll()).contains("update available:"), log.constData(), 20000);
    QVERIFY2(log.contains("update available: 1.3.0"), log.constData());
    QCOMPARE(server.count("/downloads/notes/stable/latest.json"), 1);
    QCOMPARE(server.count("/downloads/notes/1.1.0/release-notes.md"), notesShown ? 1 : 0);
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished();
    }

    Database database;
    QVERIFY(database.open(databasePath(m_dataDir->path())));
    PreferencesRepository preferences(&database);
    QCOMPARE(preferences.stringValue("last_whats_new_version"), storedAfter);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
