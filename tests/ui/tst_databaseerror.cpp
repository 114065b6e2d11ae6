#include "appstate.h"
#include "database.h"
#include "modalanswers.h"
#include "noterepository.h"
#include "paths.h"
#include "startupprompts.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMessageBox>
#include <QSqlQuery>
#include <QTest>

#include <memory>

// A database that fails its check at start: the user is told where it is, the file is never
// changed, and a new collection can take what SQLite still recovers from it.
class tst_DatabaseError : public QObject
{
    Q_OBJECT

private slots:
    void damagedDatabaseIsKeptAndRecovered_data();
    void damagedDatabaseIsKeptAndRecovered();
};

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
    int pages = 0;
    {
        Database database;
        QVERIFY(database.open(path));
        QVERIFY(database.migrate());
        NoteRepository notes(&database);
        for (int i = 0; i < 300; ++i) {
            const Note note = TestDatabase::makeNote(
                bodyOf(QStringLiteral("Note %1 ").arg(i) + QStringLiteral("words ").repeated(40)));
            QVERIFY(notes.insert(note));
            bodies.insert(note.id, note.body);
        }
        QSqlQuery query(database.connection());
        QVERIFY(query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
        QVERIFY(query.exec(QStringLiteral("PRAGMA page_count")) && query.next());
        pages = query.value(0).toInt();
    }
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

QTEST_MAIN(tst_DatabaseError)
#include "tst_databaseerror.moc"
