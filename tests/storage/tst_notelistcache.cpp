#include "testdatabase.h"

#include "notebookrepository.h"
#include "notelistcache.h"
#include "noterepository.h"
#include "notewriter.h"
#include "searchlistloader.h"

#include <QSignalSpy>
#include <QtTest>

class TestNoteListCache : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void mergedListMatchesAFreshRead_data();
    void mergedListMatchesAFreshRead();
    void searchShowsFirstPageThenTheRest_data();
    void searchShowsFirstPageThenTheRest();

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

void TestNoteListCache::searchShowsFirstPageThenTheRest_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("taken");
    QTest::addRow("nothing happens") << "" << true;
    QTest::addRow("a note is written") << "write" << false;
    QTest::addRow("the search is changed") << "other search" << false;
}

void TestNoteListCache::searchShowsFirstPageThenTheRest()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, taken);
    // Ranks differ: the word more often in shorter notes ranks higher.
    const QDateTime t0 = QDateTime::currentDateTimeUtc();
    const int total = NoteListCache::FirstPage * 2 + 5;
    m_notes->beginBatch();
    for (int i = 0; i < total; ++i) {
        const QString body = QStringLiteral("kettle ").repeated(1 + i % 7)
            + QStringLiteral("filler ").repeated(i % 11);
        QVERIFY(m_notes->insert(TestDatabase::makeNote(body, QString(), t0.addSecs(i))));
    }
    QVERIFY(m_notes->insert(TestDatabase::makeNote(QStringLiteral("teapot"))));
    m_notes->endBatch(true);
    const QList<NoteListEntry> ranked = m_notes->searchListEntries(QStringLiteral("kettle"));
    QCOMPARE(ranked.size(), total);

    NoteListCache cache(m_notes.get());
    QVERIFY(cache.refresh(QString(), QStringLiteral("kettle"), false));
    QVERIFY(!cache.isComplete());
    QCOMPARE(cache.entries(), ranked.mid(0, NoteListCache::FirstPage));

    SearchListLoader loader(m_db->database());
    QSignalSpy loaded(&loader, &SearchListLoader::loaded);
    loader.load(QStringLiteral("kettle"), cache.serial());
    QVERIFY(loaded.wait());
    const auto all = loaded.first().at(2).value<QList<NoteListEntry>>();
    QCOMPARE(all, ranked);

    if (meanwhile == QLatin1String("write"))
        QVERIFY(m_notes->update(m_notes->notesByIds({ ranked.last().id }).first()));
    else if (meanwhile == QLatin1String("other search"))
        cache.refresh(QString(), QStringLiteral("teapot"), false);
    const QList<NoteListEntry> shown = cache.entries();
    QCOMPARE(
        cache.completeSearch(QStringLiteral("kettle"), loaded.first().at(1).toULongLong(), all),
        taken);
    QCOMPARE(cache.entries(), taken ? ranked : shown);
}

QTEST_GUILESS_MAIN(TestNoteListCache)
#include "tst_notelistcache.moc"
