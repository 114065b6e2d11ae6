#include "testdatabase.h"

#include "notebookrepository.h"
#include "notelistcache.h"
#include "noterepository.h"
#include "notewriter.h"

#include <QtTest>

class TestNoteListCache : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void mergedListMatchesAFreshRead_data();
    void mergedListMatchesAFreshRead();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NoteRepository> m_notes;
    std::unique_ptr<NotebookRepository> m_notebooks;
    std::unique_ptr<NoteWriter> m_writer;
};

void TestNoteListCache::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notes = std::make_unique<NoteRepository>(m_db->database());
    m_notebooks = std::make_unique<NotebookRepository>(m_db->database());
    m_writer = std::make_unique<NoteWriter>(m_db->database(), m_notes.get(), m_notebooks.get());
}

void TestNoteListCache::cleanup()
{
    m_writer.reset();
    m_notebooks.reset();
    m_notes.reset();
    m_db.reset();
}

void TestNoteListCache::mergedListMatchesAFreshRead_data()
{
    QTest::addColumn<bool>("inNotebook");
    QTest::addColumn<bool>("reversed");
    QTest::addColumn<QString>("change");
    for (const bool inNotebook : { false, true }) {
        for (const bool reversed : { false, true }) {
            const QString view = QString(inNotebook ? "notebook" : "all notes")
                + (reversed ? ", oldest first" : "");
            for (const char *change : { "oldest edited", "note added", "note trashed",
                     "note moved out", "note moved in" })
                QTest::addRow("%s: %s", qPrintable(view), change)
                    << inNotebook << reversed << QString(change);
        }
    }
}

void TestNoteListCache::mergedListMatchesAFreshRead()
{
    QFETCH(bool, inNotebook);
    QFETCH(bool, reversed);
    QFETCH(QString, change);

    const QString book = m_writer->createNotebook("Work")->id;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-1);
    QStringList ids;
    for (int i = 0; i < 6; ++i) {
        const Note note
            = TestDatabase::makeNote(QString(), i % 2 ? book : QString(), start.addSecs(60 * i));
        QVERIFY(m_notes->insert(note));
        ids.append(note.id);
    }
    const QString notebookId = inNotebook ? book : QString();
    NoteListCache cache(m_notes.get());
    QVERIFY(cache.refresh(notebookId, QString(), reversed));
    QVERIFY(!cache.refresh(notebookId, QString(), reversed));

    if (change == "oldest edited")
        QVERIFY(m_writer->saveBody(ids.at(1), "[{\"insert\":\"edited\\n\"}]"));
    else if (change == "note added")
        QVERIFY(m_writer->createNote(notebookId));
    else if (change == "note trashed")
        QVERIFY(m_writer->trashNote(ids.at(3)));
    else if (change == "note moved out")
        QVERIFY(m_writer->moveNote(ids.at(5), QString()));
    else
        QVERIFY(m_writer->moveNote(ids.at(0), book));

    QVERIFY(cache.refresh(notebookId, QString(), reversed));
    NoteListCache fresh(m_notes.get());
    fresh.refresh(notebookId, QString(), reversed);
    QStringList merged;
    QStringList expected;
    for (const NoteListEntry &entry : cache.entries())
        merged.append(entry.id);
    for (const NoteListEntry &entry : fresh.entries())
        expected.append(entry.id);
    QCOMPARE(merged, expected);
}

QTEST_GUILESS_MAIN(TestNoteListCache)
#include "tst_notelistcache.moc"
