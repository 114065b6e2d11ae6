#include "testdatabase.h"

#include "notebookrepository.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList namesOf(const QList<Notebook> &notebooks)
{
    QStringList names;
    for (const Notebook &notebook : notebooks)
        names.append(notebook.name);
    return names;
}

} // namespace

class TestNotebookRepository : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyFieldSurvivesInsertAndUpdate();
    void allNotebooksOrderAndTrash();
    void softDeleteAnnouncesAndMarksPending();
    void markAllPendingCountsLiveNotebooks();
    void failedInsertIsLogged();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NotebookRepository> m_notebooks;
};

void TestNotebookRepository::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notebooks = std::make_unique<NotebookRepository>(m_db->database());
}

void TestNotebookRepository::cleanup()
{
    m_notebooks.reset();
    m_db.reset();
}

void TestNotebookRepository::everyFieldSurvivesInsertAndUpdate()
{
    const QDateTime created(QDate(2023, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    Notebook notebook = TestDatabase::makeNotebook("Recipes");
    notebook.createdAt = created;
    notebook.updatedAt = created;
    notebook.isShared = true;
    notebook.ownerId = "owner-1";
    notebook.version = 4;
    notebook.syncStatus = SyncStatus::Synced;
    QSignalSpy changed(m_notebooks.get(), &NotebookRepository::notebooksChanged);
    QVERIFY(m_notebooks->insert(notebook));
    QCOMPARE(changed.count(), 1);

    Notebook read = *m_notebooks->notebookById(notebook.id);
    QCOMPARE(read.name, notebook.name);
    QCOMPARE(read.isDefault, false);
    QCOMPARE(read.isShared, true);
    QCOMPARE(read.ownerId, notebook.ownerId);
    QCOMPARE(read.createdAt, created);
    QCOMPARE(read.updatedAt, created);
    QVERIFY(!read.deletedAt);
    QCOMPARE(read.version, 4);
    QCOMPARE(read.syncStatus, SyncStatus::Synced);

    read.name = "Cooking";
    read.createdAt = created.addDays(3);
    read.updatedAt = created.addDays(1);
    read.ownerId.clear();
    read.syncStatus = SyncStatus::Conflict;
    QVERIFY(m_notebooks->update(read));
    QCOMPARE(changed.count(), 2);
    const Notebook updated = *m_notebooks->notebookById(notebook.id);
    QCOMPARE(updated.name, QString("Cooking"));
    QCOMPARE(updated.createdAt, created);
    QCOMPARE(updated.updatedAt, created.addDays(1));
    QVERIFY(updated.ownerId.isEmpty());
    QCOMPARE(m_db->scalar("SELECT owner_id IS NULL FROM notebooks"), 1);
    QCOMPARE(updated.syncStatus, SyncStatus::Conflict);
    QVERIFY(!m_notebooks->notebookById("missing"));
}

void TestNotebookRepository::allNotebooksOrderAndTrash()
{
    for (const char *name : { "banana", "Zebra", "apple", "Äpfel", "Mango", "binned" }) {
        Notebook notebook = TestDatabase::makeNotebook(QString::fromUtf8(name));
        if (notebook.name == "binned")
            notebook.deletedAt = QDateTime::currentDateTimeUtc();
        QVERIFY(m_notebooks->insert(notebook));
    }
    Notebook legacy = TestDatabase::makeNotebook("zz legacy default");
    legacy.isDefault = true;
    QVERIFY(m_notebooks->insert(legacy));

    // Byte order: upper case before lower case, non-ASCII last; a default notebook first.
    QCOMPARE(namesOf(m_notebooks->allNotebooks()),
        (QStringList { "zz legacy default", "Mango", "Zebra", "apple", "banana", "Äpfel" }));
}

void TestNotebookRepository::softDeleteAnnouncesAndMarksPending()
{
    Notebook notebook = TestDatabase::makeNotebook("Work");
    notebook.syncStatus = SyncStatus::Synced;
    QVERIFY(m_notebooks->insert(notebook));
    QSignalSpy changed(m_notebooks.get(), &NotebookRepository::notebooksChanged);
    QVERIFY(m_notebooks->softDelete(notebook.id));
    QCOMPARE(changed.count(), 1);
    const Notebook trashed = *m_notebooks->notebookById(notebook.id);
    QVERIFY(trashed.deletedAt);
    QCOMPARE(trashed.syncStatus, SyncStatus::Pending);
    QVERIFY(m_notebooks->allNotebooks().isEmpty());
}

void TestNotebookRepository::markAllPendingCountsLiveNotebooks()
{
    Notebook synced = TestDatabase::makeNotebook("A");
    synced.syncStatus = SyncStatus::Synced;
    Notebook trashed = TestDatabase::makeNotebook("B");
    trashed.syncStatus = SyncStatus::Synced;
    trashed.deletedAt = QDateTime::currentDateTimeUtc();
    QVERIFY(m_notebooks->insert(synced));
    QVERIFY(m_notebooks->insert(trashed));
    QVERIFY(m_notebooks->insert(TestDatabase::makeNotebook("C")));
    QSignalSpy changed(m_notebooks.get(), &NotebookRepository::notebooksChanged);
    QCOMPARE(m_notebooks->markAllPending(), 1);
    QCOMPARE(m_notebooks->markAllPending(), 0);
    QCOMPARE(changed.count(), 0);
}

void TestNotebookRepository::failedInsertIsLogged()
{
    const Notebook notebook = TestDatabase::makeNotebook("Once");
    QVERIFY(m_notebooks->insert(notebook));
    QSignalSpy changed(m_notebooks.get(), &NotebookRepository::notebooksChanged);
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^NotebookRepository::insert failed: .*UNIQUE"));
    QVERIFY(!m_notebooks->insert(notebook));
    QCOMPARE(changed.count(), 0);
}

QTEST_GUILESS_MAIN(TestNotebookRepository)
#include "tst_notebookrepository.moc"
