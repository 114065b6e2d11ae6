#include "testdatabase.h"

#include "notebookrepository.h"
#include "notelistcache.h"
#include "noterepository.h"
#include "notewriter.h"
#include "searchlistloader.h"
#include "testbodies.h"

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
    void firstPageOfASearch_data();
    void firstPageOfASearch();

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

void TestNoteListCache::firstPageOfASearch_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("trashNewest");
    QTest::addColumn<bool>("ranked");
    QTest::addColumn<bool>("complete");
    // 40 notes, at most 20 matches scored for a first page of 8; "kettle" is in every note,
    // "teapot" in every fourth, "saucer" in three.
    QTest::addRow("word in most notes") << "kettle" << 0 << false << false;
    QTest::addRow("prefix of a word in most notes") << "ket" << 0 << false << false;
    QTest::addRow("newest matches trashed") << "kettle" << 3 << false << false;
    QTest::addRow("word in a few notes") << "teapot" << 0 << true << false;
    QTest::addRow("rare word beside a common one") << "kettle teapot" << 0 << true << false;
    QTest::addRow("word in fewer notes than a page") << "saucer" << 0 << true << true;
    QTest::addRow("no match") << "samovar" << 0 << true << true;
}

void TestNoteListCache::firstPageOfASearch()
{
    QFETCH(QString, text);
    QFETCH(int, trashNewest);
    QFETCH(bool, ranked);
    QFETCH(bool, complete);
    constexpr int count = 40;
    constexpr int rankedUpTo = 20;
    constexpr int limit = 8;

    // Edit times run across the order of adding, so "added last" and "edited last" differ.
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addDays(-1);
    QStringList added;
    m_notes->beginBatch();
    for (int i = 0; i < count; ++i) {
        QString text = QStringLiteral("Note %1\n").arg(i)
            + QStringLiteral("kettle ").repeated(1 + i % 5)
            + QStringLiteral("filler ").repeated(i % 7);
        if (i % 4 == 0)
            text += QStringLiteral(" teapot");
        if (i == 5 || i == 17 || i == 33)
            text += QStringLiteral(" saucer");
        const Note note
            = TestDatabase::makeNote(bodyOf(text), QString(), t0.addSecs(60 * ((i * 7) % count)));
        QVERIFY(m_notes->insert(note));
        added.append(note.id);
    }
    m_notes->endBatch(true);
    for (int i = 0; i < trashNewest; ++i)
        QVERIFY(m_notes->softDelete(added.at(count - 1 - i)));

    QStringList rankedIds;
    for (const Note &note : m_notes->search(text))
        rankedIds.append(note.id);

    const NoteRepository::SearchPage page = m_notes->searchFirstPage(text, limit, rankedUpTo);
    QStringList pageIds;
    for (const NoteListEntry &entry : page.entries)
        pageIds.append(entry.id);
    QCOMPARE(page.ranked, ranked);
    QCOMPARE(page.complete, complete);
    if (ranked) {
        QCOMPARE(pageIds, rankedIds.mid(0, limit));
    } else {
        // The matching notes added last that are not in the trash, newest edit first.
        QList<Note> expected;
        for (int i = count - 1 - trashNewest; expected.size() < limit; --i)
            expected.append(*m_notes->noteById(added.at(i)));
        std::stable_sort(expected.begin(), expected.end(),
            [](const Note &a, const Note &b) { return a.updatedAt > b.updatedAt; });
        QStringList expectedIds;
        for (const Note &note : expected)
            expectedIds.append(note.id);
        QCOMPARE(pageIds, expectedIds);
    }

    // The list that replaces the page is the ranked one.
    SearchListLoader loader(m_db->database());
    QSignalSpy loaded(&loader, &SearchListLoader::loaded);
    loader.load(text, 1);
    QVERIFY(loaded.wait());
    QStringList allIds;
    for (const NoteListEntry &entry : loaded.first().at(2).value<QList<NoteListEntry>>())
        allIds.append(entry.id);
    QCOMPARE(allIds, rankedIds);
    QCOMPARE(allIds.size() > limit, !complete);
}

QTEST_GUILESS_MAIN(TestNoteListCache)
#include "tst_notelistcache.moc"
