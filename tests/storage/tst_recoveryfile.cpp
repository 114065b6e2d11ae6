#include "recoveryfile.h"
#include "testdatadir.h"

#include <QDir>
#include <QFile>
#include <QtTest>

// The file that holds unsaved note texts must never cost a text: one it cannot read is moved
// aside rather than replaced, and keeping goes on in a fresh one.
class TestRecoveryFile : public QObject
{
    Q_OBJECT

private slots:
    void fileItCannotReadIsSetAsideNotReplaced_data();
    void fileItCannotReadIsSetAsideNotReplaced();
    void keepingReplacesOnlyTheSameNote();
};

void TestRecoveryFile::fileItCannotReadIsSetAsideNotReplaced_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addRow("cut short") << QByteArray(R"({"version":1,"notes":[{"noteId":"a","bo)");
    QTest::addRow("written by a newer version") << QByteArray(R"({"version":2,"notes":[]})");
    QTest::addRow("not an object") << QByteArray(R"([{"noteId":"a","body":"x"}])");
    QTest::addRow("notes not a list") << QByteArray(R"({"version":1,"notes":{"a":"x"}})");
}

void TestRecoveryFile::fileItCannotReadIsSetAsideNotReplaced()
{
    QFETCH(QByteArray, content);
    TestDataDir dir;
    RecoveryFile file(RecoveryFile::pathIn(dir.path()));
    QFile raw(file.path());
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write(content);
    raw.close();

    QVERIFY(file.entries().isEmpty());
    // Removing cannot rewrite what it cannot read.
    QVERIFY(!file.remove("0b5c7a3e-0000-4000-8000-000000000002"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QCOMPARE(raw.readAll(), content);
    raw.close();

    RecoveryFile::Entry entry;
    entry.noteId = "0b5c7a3e-0000-4000-8000-000000000001";
    entry.body = R"([{"insert":"Unsaved\n"}])";
    QVERIFY(file.keep(entry));
    QCOMPARE(file.entries().size(), 1);
    QCOMPARE(file.entries().first().body, entry.body);
    const QStringList aside
        = QDir(dir.path()).entryList({ "unsaved_notes.json.unreadable-*" }, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile moved(dir.filePath(aside.first()));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), content);
}

void TestRecoveryFile::keepingReplacesOnlyTheSameNote()
{
    TestDataDir dir;
    RecoveryFile file(RecoveryFile::pathIn(dir.path()));
    RecoveryFile::Entry first { "id-1", "book", R"([{"insert":"One\n"}])", 3, {} };
    RecoveryFile::Entry second { "id-2", "", R"([{"insert":"Two\n"}])", 1, {} };
    QVERIFY(file.keep(first));
    QVERIFY(file.keep(second));
    first.body = R"([{"insert":"One, later\n"}])";
    QVERIFY(file.keep(first));

    const QList<RecoveryFile::Entry> kept = RecoveryFile(file.path()).entries();
    QCOMPARE(kept.size(), 2);
    QCOMPARE(kept.at(0).noteId, "id-2");
    QCOMPARE(kept.at(1).body, first.body);
    QCOMPARE(kept.at(1).notebookId, "book");
    QCOMPARE(kept.at(1).baseVersion, 3);
    QVERIFY(kept.at(1).keptAt.isValid());
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);

    QVERIFY(file.remove("id-1"));
    QVERIFY(file.remove("id-2"));
    QVERIFY(!file.exists());
}

QTEST_GUILESS_MAIN(TestRecoveryFile)
#include "tst_recoveryfile.moc"
