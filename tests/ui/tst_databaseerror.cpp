#include "appstate.h"
#include "database.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "noteeditor.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "notewriter.h"
#include "paths.h"
#include "recoveryfile.h"
#include "startupprompts.h"
#include "statusbar.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A database that fails its check at start: the user is told where it is, the file is never
// changed, and a new collection can take what SQLite still recovers from it.
class tst_DatabaseError : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void damagedDatabaseIsKeptAndRecovered_data();
    void damagedDatabaseIsKeptAndRecovered();
    void largeFileIsCheckedOnceTheWindowIsUp_data();
    void largeFileIsCheckedOnceTheWindowIsUp();

private:
    QTemporaryDir m_settingsDir;
};

namespace {

// A collection of 300 notes at `path`, checkpointed into the file; the number of pages.
int makeCollection(const QString &path, QHash<QString, QString> *bodies)
{
    Database database;
    if (!database.open(path) || !database.migrate())
        return 0;
    NoteRepository notes(&database);
    for (int i = 0; i < 300; ++i) {
        const Note note = TestDatabase::makeNote(
            bodyOf(QStringLiteral("Note %1 ").arg(i) + QStringLiteral("words ").repeated(40)));
        if (!notes.insert(note))
            return 0;
        bodies->insert(note.id, note.body);
    }
    QSqlQuery query(database.connection());
    if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"))
        || !query.exec(QStringLiteral("PRAGMA page_count")) || !query.next())
        return 0;
    return query.value(0).toInt();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void tst_DatabaseError::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
}

void tst_DatabaseError::damagedDatabaseIsKeptAndRecovered_data()
{
    // Where the three overwritten pages start, in percent of the file; 0 is the header page.
    QTest::addColumn<int>("damagedAt");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("leastRecovered"); // of 300 notes; -1: no new collection

    QTest::addRow("index pages overwritten, recover") << 10 << int(QMessageBox::Yes) << 250;
    QTest::addRow("note pages overwritten, recover") << 60 << int(QMessageBox::Yes) << 200;
    QTest::addRow("pages overwritten, start empty") << 60 << int(QMessageBox::No) << 0;
    QTest::addRow("pages overwritten, quit") << 10 << int(QMessageBox::Close) << -1;
    QTest::addRow("header overwritten, recover") << 0 << int(QMessageBox::Yes) << 0;
}

void tst_DatabaseError::damagedDatabaseIsKeptAndRecovered()
{
    QFETCH(int, damagedAt);
    QFETCH(int, answer);
    QFETCH(int, leastRecovered);

    TestDataDir dataDir;
    const QString path = databasePath(dataDir.path());
    QHash<QString, QString> bodies;
    const int pages = makeCollection(path, &bodies);
    QVERIFY(pages > 40);
    QVERIFY(overwritePages(path, qMax(1, pages * damagedAt / 100), 3));
    QFile damagedFile(path);
    QVERIFY(damagedFile.open(QIODevice::ReadOnly));
    const QByteArray damaged = damagedFile.readAll();
    damagedFile.close();

    AppState state(dataDir.path());
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(!state.initialize());
    QCOMPARE(state.databaseFailure().kind, AppState::DatabaseFailure::Kind::Damaged);

    QString title;
    QString text;
    ModalScript script({ answerBox(QMessageBox::StandardButton(answer), &title, &text) });
    QString report;
    const bool open = StartupPrompts::resolveDatabaseFailure(
        &state,
        [](const AppState::DatabaseFailure &failure) {
            return StartupPrompts::askDatabaseError(failure, nullptr);
        },
        &report);
    QCOMPARE(script.done(), 1);
    QCOMPARE(title, QStringLiteral("Database Error"));
    QVERIFY2(text.contains(path), qPrintable(text));
    QCOMPARE(open, leastRecovered >= 0);

    // Whatever was chosen, the damaged bytes still exist, unchanged, under one name.
    const QStringList kept
        = QDir(dataDir.path()).entryList({ QStringLiteral("*.damaged-*.db") }, QDir::Files);
    const QString keptPath = open ? dataDir.filePath(kept.value(0)) : path;
    QCOMPARE(kept.size(), open ? 1 : 0);
    QVERIFY2(report.contains(open ? keptPath : path), qPrintable(report));
    QFile keptFile(keptPath);
    QVERIFY(keptFile.open(QIODevice::ReadOnly));
    QVERIFY(keptFile.readAll() == damaged);
    if (!open)
        return;

    // The new collection is sound, and every note it took back is the note as it was.
    QCOMPARE(Database::checkFile(path), Database::Health::Ok);
    int recovered = 0;
    for (const Note &note : state.notes()->allNotes()) {
        if (!bodies.contains(note.id))
            continue; // a welcome note of the new collection
        QCOMPARE(note.body, bodies.value(note.id));
        ++recovered;
    }
    QVERIFY2(recovered >= leastRecovered, qPrintable(QString::number(recovered)));
    qInfo("%d of 300 notes recovered", recovered);
    if (answer == QMessageBox::No)
        QCOMPARE(recovered, 0);
}

void tst_DatabaseError::largeFileIsCheckedOnceTheWindowIsUp_data()
{
    QTest::addColumn<int>("damagedAt"); // percent of the file; -1: sound
    QTest::addRow("sound file: nothing is shown") << -1;
    QTest::addRow("note pages overwritten: the error after the window") << 60;
}

// Above the size threshold (lowered here) the file opens without its check, the window comes
// up, and the check runs beside it. A damaged file then takes no more writes: what is typed
// stays on screen and in the recovery file, and the start-up question handles the file.
void tst_DatabaseError::largeFileIsCheckedOnceTheWindowIsUp()
{
    QFETCH(int, damagedAt);
    TestDataDir dataDir;
    const QString path = databasePath(dataDir.path());
    QHash<QString, QString> bodies;
    const int pages = makeCollection(path, &bodies);
    QVERIFY(pages > 40);
    if (damagedAt >= 0)
        QVERIFY(overwritePages(path, pages * damagedAt / 100, 3));

    auto state = std::make_unique<AppState>(dataDir.path());
    state->setTokenStore(std::make_unique<MemoryTokenStore>());
    state->setDeferredCheckThreshold(1);
    QVERIFY(state->initialize());
    QVERIFY(state->isDeferredCheckPending());
    const std::optional<Note> note = state->writer()->createNote(QString());
    QVERIFY(note);

    auto window = std::make_unique<MainWindow>(state.get());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->noteList()->selectNote(note->id);
    QCOMPARE(window->editor()->noteId(), note->id);

    QSignalSpy checked(state.get(), &AppState::databaseChecked);
    QSignalSpy failed(state.get(), &AppState::databaseCheckFailed);
    state->startDeferredCheck();
    QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 20000);
    QCOMPARE(checked.at(0).at(0).toBool(), damagedAt < 0);
    QCOMPARE(failed.count(), damagedAt < 0 ? 0 : 1);

    const QByteArray fileBefore = fileBytes(path);
    const QByteArray walBefore = fileBytes(path + QStringLiteral("-wal"));
    QTest::keyClicks(window->editor(), QStringLiteral("Typed after the check"));
    const QString typed = window->editor()->content();
    if (damagedAt < 0) {
        QTRY_VERIFY(state->notes()->noteById(note->id)->body == typed);
        return;
    }

    const AppState::DatabaseFailure failure = state->databaseFailure();
    QCOMPARE(failure.kind, AppState::DatabaseFailure::Kind::Damaged);
    QCOMPARE(failure.path, path);
    QVERIFY(failure.foundInUse);
    QVERIFY(StartupPrompts::databaseErrorText(failure).contains(path));
    QTRY_COMPARE(window->noteStatusBar()->saveState(), StatusBar::NotSaved);
    QCOMPARE(window->editor()->content(), typed);
    QVERIFY(fileBytes(path) == fileBefore);
    QVERIFY(fileBytes(path + QStringLiteral("-wal")) == walBefore);

    // Leaving keeps the text beside the file; the next opening checks the file first and asks.
    window->close();
    window.reset();
    state.reset();
    // Closed without a checkpoint: the file and its log are still as the check found them.
    QVERIFY(fileBytes(path) == fileBefore);
    QVERIFY(fileBytes(path + QStringLiteral("-wal")) == walBefore);
    AppState again(dataDir.path());
    again.setTokenStore(std::make_unique<MemoryTokenStore>());
    again.setDeferredCheckThreshold(-1);
    QVERIFY(!again.initialize());
    QCOMPARE(again.databaseFailure().kind, AppState::DatabaseFailure::Kind::Damaged);
    const QList<RecoveryFile::Entry> kept = again.recoveryFile()->entries();
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.first().body, typed);

    ModalScript script({ answerBox(QMessageBox::No) });
    QString report;
    QVERIFY(StartupPrompts::resolveDatabaseFailure(
        &again,
        [](const AppState::DatabaseFailure &shown) {
            return StartupPrompts::askDatabaseError(shown, nullptr);
        },
        &report));
    QCOMPARE(script.done(), 1);
    QCOMPARE(Database::checkFile(path), Database::Health::Ok);
}

QTEST_MAIN(tst_DatabaseError)
#include "tst_databaseerror.moc"
