#include "testdatabase.h"

#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"

#include <QSignalSpy>
#include <QtTest>

class TestNoteWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveBodyIsOneLocalChange();
    void sharedNotesChangeOnlyWithEditPermission_data();
    void sharedNotesChangeOnlyWithEditPermission();
    void deleteNotebookMovesNotesAllOrNothing_data();
    void deleteNotebookMovesNotesAllOrNothing();
    void bulkWritesKeepBothIndexesWhole_data();
    void bulkWritesKeepBothIndexesWhole();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NoteRepository> m_notes;
    std::unique_ptr<NotebookRepository> m_notebooks;
    std::unique_ptr<NoteWriter> m_writer;
};

void TestNoteWriter::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notes = std::make_unique<NoteRepository>(m_db->database());
    m_notebooks = std::make_unique<NotebookRepository>(m_db->database());
    m_writer = std::make_unique<NoteWriter>(m_db->database(), m_notes.get(), m_notebooks.get());
}

void TestNoteWriter::cleanup()
{
    m_writer.reset();
    m_notebooks.reset();
    m_notes.reset();
    m_db.reset();
}

void TestNoteWriter::saveBodyIsOneLocalChange()
{
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    Note note = TestDatabase::makeNote(QString(), QString(), old);
    note.version = 7;
    note.syncStatus = SyncStatus::Synced;
    QVERIFY(m_notes->insert(note));
    QSignalSpy written(m_notes.get(), &NoteRepository::notesWritten);

    const QString body = QStringLiteral("[{\"insert\":\"Groceries\\n\"}]");
    QVERIFY(m_writer->saveBody(note, body));
    const Note stored = *m_notes->noteById(note.id);
    QCOMPARE(stored.body, body);
    QCOMPARE(stored.version, 8);
    QCOMPARE(stored.syncStatus, SyncStatus::Pending);
    QVERIFY(stored.updatedAt > old);
    QCOMPARE(stored.modifiedAt, stored.updatedAt);
    QCOMPARE(stored.createdAt, old);
    QCOMPARE(note.version, stored.version);
    QCOMPARE(written.count(), 1);
    QCOMPARE(written.at(0).at(0).toStringList(), QStringList { note.id });

    // The same body again is no change: no version, no signal.
    QVERIFY(!m_writer->saveBody(note.id, body));
    QCOMPARE(m_notes->noteById(note.id)->version, 8);
    QCOMPARE(written.count(), 1);
}

void TestNoteWriter::sharedNotesChangeOnlyWithEditPermission_data()
{
    QTest::addColumn<QString>("ownerId");
    QTest::addColumn<QString>("permission");
    QTest::addColumn<bool>("changeable");
    QTest::addRow("own note") << QString() << QString() << true;
    QTest::addRow("shared with edit permission") << "owner-1"
                                                 << "edit" << true;
    QTest::addRow("shared with view permission") << "owner-1"
                                                 << "view" << false;
    QTest::addRow("shared with unknown permission") << "owner-1"
                                                    << "read" << false;
    QTest::addRow("shared without permission") << "owner-1" << QString() << false;
}

void TestNoteWriter::sharedNotesChangeOnlyWithEditPermission()
{
    QFETCH(QString, ownerId);
    QFETCH(QString, permission);
    QFETCH(bool, changeable);
    const Notebook notebook = TestDatabase::makeNotebook(QStringLiteral("Mine"));
    QVERIFY(m_notebooks->insert(notebook));
    Note note = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"Owner's text\\n\"}]"));
    note.ownerId = ownerId;
    note.permission = permission;
    note.isShared = !ownerId.isEmpty();
    QVERIFY(m_notes->insert(note));

    const QString edited = QStringLiteral("[{\"insert\":\"Edited\\n\"}]");
    QCOMPARE(m_writer->saveBody(note.id, edited), changeable);
    QCOMPARE(m_writer->moveNote(note.id, notebook.id), changeable);
    QCOMPARE(m_writer->trashNote(note.id), changeable);

    const Note stored = *m_notes->noteById(note.id);
    QCOMPARE(stored.body == edited, changeable);
    QCOMPARE(stored.notebookId == notebook.id, changeable);
    QCOMPARE(stored.deletedAt.has_value(), changeable);
}

void TestNoteWriter::deleteNotebookMovesNotesAllOrNothing_data()
{
    // A trigger refuses one step of the delete, as a full disk or a locked row would.
    QTest::addColumn<QString>("refused");
    QTest::addRow("nothing refused") << QString();
    QTest::addRow("second note refused") << "second";
    QTest::addRow("trashed note refused") << "trashed";
    QTest::addRow("notebook delete refused") << "notebook";
}

void TestNoteWriter::deleteNotebookMovesNotesAllOrNothing()
{
    QFETCH(QString, refused);

    const Notebook doomed = TestDatabase::makeNotebook("Old projects");
    QVERIFY(m_notebooks->insert(doomed));
    QHash<QString, Note> notes;
    for (const char *name : { "first", "second", "trashed" }) {
        const Note note = TestDatabase::makeNote(
            QStringLiteral("[{\"insert\":\"%1\\n\"}]").arg(name), doomed.id);
        QVERIFY(m_notes->insert(note));
        notes.insert(name, note);
    }
    QVERIFY(m_notes->softDelete(notes["trashed"].id));

    if (refused == "notebook") {
        QVERIFY(m_db->exec("CREATE TEMP TRIGGER refuse BEFORE UPDATE OF deleted_at ON notebooks "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    } else if (!refused.isEmpty()) {
        QVERIFY(m_db->exec(QStringLiteral("CREATE TEMP TRIGGER refuse BEFORE UPDATE OF notebook_id "
                                          "ON notes WHEN OLD.id = '%1' BEGIN SELECT RAISE(ABORT, "
                                          "'refused'); END")
                               .arg(notes[refused].id)));
    }
    QSignalSpy written(m_notes.get(), &NoteRepository::notesWritten);
    QSignalSpy notesChanged(m_notes.get(), &NoteRepository::notesChanged);
    QSignalSpy notebooksChanged(m_notebooks.get(), &NotebookRepository::notebooksChanged);

    const bool deleted = m_writer->deleteNotebook(doomed.id);
    QCOMPARE(deleted, refused.isEmpty());
    for (const Note &note : notes)
        QCOMPARE(m_notes->noteById(note.id)->notebookId, deleted ? QString() : doomed.id);
    QCOMPARE(m_notebooks->notebookById(doomed.id)->deletedAt.has_value(), deleted);
    // One announcement naming every moved note once it is committed, none when rolled back.
    QCOMPARE(notesChanged.count(), deleted ? 1 : 0);
    QCOMPARE(notebooksChanged.count(), deleted ? 1 : 0);
    QCOMPARE(written.count(), deleted ? 1 : 0);
    if (deleted) {
        QStringList ids = written.at(0).at(0).toStringList();
        ids.sort();
        QStringList expected { notes["first"].id, notes["second"].id, notes["trashed"].id };
        expected.sort();
        QCOMPARE(ids, expected);
    }
    // The connection is usable afterwards: no transaction was left open.
    QVERIFY(m_writer->createNotebook("Next"));
}

void TestNoteWriter::bulkWritesKeepBothIndexesWhole_data()
{
    QTest::addColumn<bool>("commit");
    QTest::addColumn<bool>("refusedInsert");

    QTest::addRow("committed") << true << false;
    QTest::addRow("rolled back") << false << false;
    QTest::addRow("refused insert among them") << true << true;
}

void TestNoteWriter::bulkWritesKeepBothIndexesWhole()
{
    QFETCH(bool, commit);
    QFETCH(bool, refusedInsert);

    Note existing = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"old umbrella\\n\"}]"));
    QVERIFY(m_notes->insert(existing));
    QSignalSpy written(m_notes.get(), &NoteRepository::notesWritten);
    const int added = 100;
    const bool result = m_writer->inBulkTransaction([&] {
        for (int i = 0; i < added; ++i) {
            const QString body = QStringLiteral("[{\"insert\":\"Note %1 walrus\\n\"}]").arg(i);
            if (!m_notes->insert(TestDatabase::makeNote(body)))
                return false;
        }
        existing.body = QStringLiteral("[{\"insert\":\"new zeppelin\\n\"}]");
        if (!m_notes->update(existing))
            return false;
        // A note that is already there is refused like any failed insert, and the rest stays.
        if (refusedInsert && m_notes->insert(existing))
            return false;
        return commit;
    });
    QCOMPARE(result, commit);
    QCOMPARE(written.count(), commit ? 1 : 0);
    if (commit)
        QCOMPARE(written.at(0).at(0).toStringList().size(), added + 1);

    const int notes = commit ? added + 1 : 1;
    QCOMPARE(m_db->scalar("SELECT count(*) FROM notes"), notes);
    // The index of the body JSON matches the notes row for row, none missing or doubled.
    QVERIFY(m_db->exec("INSERT INTO notes_fts(notes_fts, rank) VALUES ('integrity-check', 1)"));
    QCOMPARE(m_db->scalar("SELECT count(*) FROM notes_text_fts"), notes);
    QCOMPARE(m_notes->search("walrus").size(), commit ? added : 0);
    QCOMPARE(m_notes->search("zeppelin").size(), commit ? 1 : 0);
    QCOMPARE(m_notes->search("umbrella").size(), commit ? 0 : 1);
    QCOMPARE(m_db->scalar("SELECT count(*) FROM notes_fts WHERE notes_fts MATCH 'walrus'"),
        commit ? added : 0);

    // The insert trigger is back: a note written afterwards is indexed as always.
    QCOMPARE(m_db->scalar("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name "
                          "= 'notes_ai'"),
        1);
    QVERIFY(m_writer->createNote(QString(), QStringLiteral("[{\"insert\":\"quokka\\n\"}]")));
    QVERIFY(m_db->exec("INSERT INTO notes_fts(notes_fts, rank) VALUES ('integrity-check', 1)"));
    QCOMPARE(m_db->scalar("SELECT count(*) FROM notes_fts WHERE notes_fts MATCH 'quokka'"), 1);
}

QTEST_GUILESS_MAIN(TestNoteWriter)
#include "tst_notewriter.moc"
