#include "testdatabase.h"

#include "noterepository.h"
#include "snapshotrepository.h"

#include <QUuid>
#include <QtTest>

class TestSnapshotRepository : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newestVersionFirst();
    void sameVersionReplacesEarlierSnapshot();
    void snapshotOfMissingNoteIsRefused();

private:
    Snapshot makeSnapshot(int version, const QString &body = "[]") const;

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NoteRepository> m_notes;
    std::unique_ptr<SnapshotRepository> m_snapshots;
    Note m_note;
};

void TestSnapshotRepository::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notes = std::make_unique<NoteRepository>(m_db->database());
    m_snapshots = std::make_unique<SnapshotRepository>(m_db->database());
    m_note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(m_note));
}

void TestSnapshotRepository::cleanup()
{
    m_snapshots.reset();
    m_notes.reset();
    m_db.reset();
}

Snapshot TestSnapshotRepository::makeSnapshot(int version, const QString &body) const
{
    Snapshot snapshot;
    snapshot.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    snapshot.noteId = m_note.id;
    snapshot.version = version;
    snapshot.body = body;
    snapshot.createdAt = QDateTime(QDate(2024, 2, 29), QTime(12, 0, 0, 7), Qt::UTC);
    return snapshot;
}

void TestSnapshotRepository::newestVersionFirst()
{
    for (int version : { 3, 7, 5 })
        QVERIFY(m_snapshots->insert(makeSnapshot(version)));
    QList<int> versions;
    for (const Snapshot &snapshot : m_snapshots->snapshotsForNote(m_note.id))
        versions.append(snapshot.version);
    QCOMPARE(versions, (QList<int> { 7, 5, 3 }));
    QVERIFY(m_snapshots->snapshotsForNote("other").isEmpty());
}

void TestSnapshotRepository::sameVersionReplacesEarlierSnapshot()
{
    const Snapshot first = makeSnapshot(2, "first");
    Snapshot second = makeSnapshot(2, "second");
    second.createdAt = first.createdAt.addSecs(30);
    QVERIFY(m_snapshots->insert(first));
    QVERIFY(m_snapshots->insert(second));

    const QList<Snapshot> all = m_snapshots->snapshotsForNote(m_note.id);
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first().id, second.id);
    QCOMPARE(all.first().body, QString("second"));
    QCOMPARE(all.first().createdAt, second.createdAt);
    QVERIFY(!m_snapshots->snapshotById(first.id));
    QCOMPARE(m_snapshots->snapshotById(second.id)->version, 2);
}

void TestSnapshotRepository::snapshotOfMissingNoteIsRefused()
{
    Snapshot orphan = makeSnapshot(1);
    orphan.noteId = "no-such-note";
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^SnapshotRepository::insert failed: .*FOREIGN KEY"));
    QVERIFY(!m_snapshots->insert(orphan));
}

QTEST_GUILESS_MAIN(TestSnapshotRepository)
#include "tst_snapshotrepository.moc"
