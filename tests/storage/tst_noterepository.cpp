#include "testdatabase.h"

#include "noterepository.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

namespace {

const QDateTime kBase(QDate(2024, 5, 1), QTime(9, 30, 0, 125), Qt::UTC);

QStringList idsOf(const QList<Note> &notes)
{
    QStringList ids;
    for (const Note &note : notes)
        ids.append(note.id);
    return ids;
}

QString column(const TestDatabase &db, const QString &noteId, const QString &name)
{
    QSqlQuery query(db.database()->connection());
    query.prepare(QStringLiteral("SELECT %1, %1 IS NULL FROM notes WHERE id = ?").arg(name));
    query.addBindValue(noteId);
    if (!query.exec() || !query.next())
        return QStringLiteral("<no row>");
    return query.value(1).toBool() ? QStringLiteral("<null>") : query.value(0).toString();
}

} // namespace

class TestNoteRepository : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyFieldSurvivesInsertAndRead();
    void updateKeepsCreationTime();
    void nullNotebookIdIsStoredEmpty();
    void syncStatusReadsExactTexts_data();
    void syncStatusReadsExactTexts();
    void listsFilterAndOrder();
    void idListsReadNoBodies();
    void search_data();
    void search();
    void searchIndexFollowsEveryWrite();
    void countsByNotebook();
    void includeInTodosDefaultsToTrue();
    void softDeleteOfUnknownIdStillAnnounces();
    void trashedNotesStayPendingForSync();
    void moveToNotebookKeepsUpdatedAt();
    void purgeRemovesDependants_data();
    void purgeRemovesDependants();
    void failedPurgeLeavesEverything();
    void purgeInsideCallersTransaction();
    void failedInsertIsLoggedAndSilent();
    void hostileIdsAreData();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NoteRepository> m_notes;
};

void TestNoteRepository::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notes = std::make_unique<NoteRepository>(m_db->database());
}

void TestNoteRepository::cleanup()
{
    m_notes.reset();
    m_db.reset();
}

void TestNoteRepository::everyFieldSurvivesInsertAndRead()
{
    Note note = TestDatabase::makeNote(
        QStringLiteral("[{\"insert\":\"Hi\\n\"}]"), QStringLiteral("nb-1"), kBase);
    // Given in another zone: stored and read back as the same instant in UTC.
    note.updatedAt = kBase.addSecs(60).toOffsetFromUtc(3600);
    note.modifiedAt = kBase.addSecs(120);
    note.deletedAt = kBase.addSecs(180);
    note.version = 7;
    note.opVersion = 3;
    note.syncStatus = SyncStatus::Conflict;
    note.isSample = true;
    note.ownerId = QStringLiteral("user-9");
    note.isShared = true;
    note.permission = QStringLiteral("edit");

    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    QVERIFY(m_notes->insert(note));
    QCOMPARE(changed.count(), 1);

    const std::optional<Note> read = m_notes->noteById(note.id);
    QVERIFY(read);
    QCOMPARE(read->notebookId, note.notebookId);
    QCOMPARE(read->body, note.body);
    QCOMPARE(read->createdAt, kBase);
    QCOMPARE(read->createdAt.timeSpec(), Qt::UTC);
    QCOMPARE(read->updatedAt, kBase.addSecs(60));
    QCOMPARE(read->modifiedAt, kBase.addSecs(120));
    QCOMPARE(read->deletedAt, std::optional<QDateTime>(kBase.addSecs(180)));
    QCOMPARE(read->version, 7);
    QCOMPARE(read->opVersion, 3);
    QCOMPARE(read->syncStatus, SyncStatus::Conflict);
    QCOMPARE(read->isSample, true);
    QCOMPARE(read->ownerId, note.ownerId);
    QCOMPARE(read->isShared, true);
    QCOMPARE(read->permission, note.permission);
    QCOMPARE(column(*m_db, note.id, QStringLiteral("updated_at")),
        QStringLiteral("2024-05-01T09:31:00.125Z"));

    // Empty owner and permission are stored as NULL, an absent deletion time too.
    Note plain = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(plain));
    QCOMPARE(column(*m_db, plain.id, QStringLiteral("owner_id")), QStringLiteral("<null>"));
    QCOMPARE(column(*m_db, plain.id, QStringLiteral("permission")), QStringLiteral("<null>"));
    QCOMPARE(column(*m_db, plain.id, QStringLiteral("deleted_at")), QStringLiteral("<null>"));
    QVERIFY(!m_notes->noteById(plain.id)->deletedAt);
    QVERIFY(!m_notes->noteById(QStringLiteral("missing")));
}

void TestNoteRepository::updateKeepsCreationTime()
{
    Note note = TestDatabase::makeNote(QString(), QString(), kBase);
    QVERIFY(m_notes->insert(note));
    note.createdAt = kBase.addDays(5);
    note.body = QStringLiteral("[{\"insert\":\"changed\\n\"}]");
    note.version = 2;
    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    QVERIFY(m_notes->update(note));
    QCOMPARE(changed.count(), 1);
    const Note read = *m_notes->noteById(note.id);
    QCOMPARE(read.createdAt, kBase);
    QCOMPARE(read.body, note.body);
    QCOMPARE(read.version, 2);
}

void TestNoteRepository::nullNotebookIdIsStoredEmpty()
{
    Note note = TestDatabase::makeNote();
    QVERIFY(note.notebookId.isNull());
    QVERIFY(m_notes->insert(note));
    QCOMPARE(column(*m_db, note.id, QStringLiteral("notebook_id")), QString());
    const Note read = *m_notes->noteById(note.id);
    QVERIFY(read.notebookId.isEmpty());
    QVERIFY(!read.notebookId.isNull());

    QVERIFY(m_notes->moveToNotebook(note.id, QStringLiteral("nb")));
    QVERIFY(m_notes->moveToNotebook(note.id, QString()));
    QCOMPARE(column(*m_db, note.id, QStringLiteral("notebook_id")), QString());
    note.notebookId = QString();
    QVERIFY(m_notes->update(note));
    QCOMPARE(m_notes->notesInNotebook(QString()).size(), 1);
}

void TestNoteRepository::syncStatusReadsExactTexts_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<SyncStatus>("expected");
    QTest::addRow("pending") << QStringLiteral("pending") << SyncStatus::Pending;
    QTest::addRow("synced") << QStringLiteral("synced") << SyncStatus::Synced;
    QTest::addRow("conflict") << QStringLiteral("conflict") << SyncStatus::Conflict;
    QTest::addRow("capitalised") << QStringLiteral("Synced") << SyncStatus::Pending;
    QTest::addRow("unknown word") << QStringLiteral("merged") << SyncStatus::Pending;
}

void TestNoteRepository::syncStatusReadsExactTexts()
{
    QFETCH(QString, stored);
    QFETCH(SyncStatus, expected);
    const Note note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(note));
    QSqlQuery query(m_db->database()->connection());
    query.prepare(QStringLiteral("UPDATE notes SET sync_status = ? WHERE id = ?"));
    query.addBindValue(stored);
    query.addBindValue(note.id);
    QVERIFY(query.exec());
    QCOMPARE(m_notes->noteById(note.id)->syncStatus, expected);
    QCOMPARE(syncStatusText(static_cast<SyncStatus>(9)), QStringLiteral("pending"));
}

void TestNoteRepository::listsFilterAndOrder()
{
    Note older = TestDatabase::makeNote(QString(), QStringLiteral("nb"), kBase);
    Note newer = TestDatabase::makeNote(QString(), QString(), kBase.addSecs(10));
    Note trashedFirst = TestDatabase::makeNote(QString(), QStringLiteral("nb"), kBase);
    trashedFirst.deletedAt = kBase.addSecs(1);
    Note trashedLast = TestDatabase::makeNote(QString(), QString(), kBase);
    trashedLast.deletedAt = kBase.addSecs(2);
    Note theirs = TestDatabase::makeNote(QString(), QString(), kBase.addSecs(5));
    theirs.ownerId = QStringLiteral("someone");
    theirs.isShared = true;
    Note mine = TestDatabase::makeNote(QString(), QString(), kBase.addSecs(6));
    mine.isShared = true;
    for (const Note &note : { older, newer, trashedFirst, trashedLast, theirs, mine })
        QVERIFY(m_notes->insert(note));

    QCOMPARE(idsOf(m_notes->allNotes()), (QStringList { newer.id, mine.id, theirs.id, older.id }));
    QCOMPARE(idsOf(m_notes->notesInNotebook(QStringLiteral("nb"))), QStringList { older.id });
    QCOMPARE(idsOf(m_notes->trashedNotes()), (QStringList { trashedLast.id, trashedFirst.id }));
    QCOMPARE(idsOf(m_notes->sharedWithMe()), QStringList { theirs.id });
    QCOMPARE(idsOf(m_notes->sharedByMe()), QStringList { mine.id });
}

void TestNoteRepository::idListsReadNoBodies()
{
    Note a = TestDatabase::makeNote(QString(), QStringLiteral("nb"), kBase);
    Note b = TestDatabase::makeNote(QString(), QString(), kBase.addSecs(1));
    Note c = TestDatabase::makeNote(QString(), QStringLiteral("nb"), kBase.addSecs(2));
    c.deletedAt = kBase;
    for (const Note &note : { a, b, c })
        QVERIFY(m_notes->insert(note));
    QCOMPARE(m_notes->allNoteIds(), (QStringList { b.id, a.id }));
    QCOMPARE(m_notes->noteIdsInNotebook(QStringLiteral("nb")), QStringList { a.id });

    // Order of the request, unknown ids skipped, trashed notes found; more ids than one
    // statement may bind.
    QStringList request { c.id, QStringLiteral("missing"), a.id };
    for (int i = 0; i < 1200; ++i)
        request.append(QStringLiteral("filler-%1").arg(i));
    request.append(b.id);
    QCOMPARE(idsOf(m_notes->notesByIds(request)), (QStringList { c.id, a.id, b.id }));
    QVERIFY(m_notes->notesByIds({}).isEmpty());
}

void TestNoteRepository::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected"); // note keys, in any order; "*" = allNotes
    // Plain words and deliberate operators mean what they meant.
    QTest::addRow("word prefix") << QStringLiteral("kett") << QStringList { "kettle", "both" };
    QTest::addRow("whole word") << QStringLiteral("kettle") << QStringList { "kettle", "both" };
    QTest::addRow("all words must occur")
        << QStringLiteral("teapot kett") << QStringList { "both" };
    QTest::addRow("trailing space")
        << QStringLiteral("kettle ") << QStringList { "kettle", "both" };
    // Only the last term is a prefix: "kettle" no longer matches "kettles".
    QTest::addRow("or operator") << QStringLiteral("kettle OR lamp")
                                 << QStringList { "kettle", "lamp" };
    QTest::addRow("lower-case or is a word") << QStringLiteral("kettle or lamp") << QStringList {};
    QTest::addRow("not operator") << QStringLiteral("kettle NOT teapot")
                                  << QStringList { "kettle" };
    QTest::addRow("leading minus") << QStringLiteral("-teapot kett") << QStringList { "kettle" };
    QTest::addRow("minus alone") << QStringLiteral("-kettle")
                                 << QStringList { "lamp", "formatted", "email", "dont", "cpp",
                                        "version", "number", "colon", "cjk", "accents" };
    QTest::addRow("phrase") << QStringLiteral("\"and kettles\"") << QStringList { "both" };
    QTest::addRow("phrase in order") << QStringLiteral("\"kettles and\"") << QStringList {};
    QTest::addRow("case insensitive") << QStringLiteral("LAMP") << QStringList { "lamp" };
    QTest::addRow("no match") << QStringLiteral("zebra") << QStringList {};
    QTest::addRow("trashed note excluded") << QStringLiteral("binned") << QStringList {};
    // What the reader sees is searched, not the JSON around it.
    QTest::addRow("formatting key bold") << QStringLiteral("bold") << QStringList {};
    QTest::addRow("formatting key insert") << QStringLiteral("insert") << QStringList {};
    QTest::addRow("formatting key attributes") << QStringLiteral("attributes") << QStringList {};
    QTest::addRow("formatting key header") << QStringLiteral("header") << QStringList {};
    QTest::addRow("formatted text")
        << QStringLiteral("descaling ste") << QStringList { "formatted" };
    QTest::addRow("heading text") << QStringLiteral("Boiler") << QStringList { "formatted" };
    // Words with inner punctuation match as the text shows them.
    QTest::addRow("e-mail") << QStringLiteral("e-mail") << QStringList { "email" };
    QTest::addRow("don't") << QStringLiteral("don't") << QStringList { "dont" };
    QTest::addRow("C++") << QStringLiteral("C++") << QStringList { "cpp" };
    QTest::addRow("3.5") << QStringLiteral("3.5") << QStringList { "version" };
    QTest::addRow("foo:bar") << QStringLiteral("foo:bar") << QStringList { "colon" };
    QTest::addRow("parentheses") << QStringLiteral("(lamp") << QStringList { "lamp" };
    // A half-typed phrase or operator searches for what is there.
    QTest::addRow("unbalanced quote")
        << QStringLiteral("\"kettle") << QStringList { "kettle", "both" };
    QTest::addRow("lone double quote") << QStringLiteral("\"") << QStringList { "*" };
    QTest::addRow("dangling operator")
        << QStringLiteral("kettle AND") << QStringList { "kettle", "both" };
    QTest::addRow("sql in the text")
        << QStringLiteral("x'); DROP TABLE notes; --") << QStringList {};
    // Scripts without spaces: any substring of two characters or more.
    QTest::addRow("japanese verb") << QStringLiteral("行き") << QStringList { "cjk" };
    QTest::addRow("japanese place") << QStringLiteral("京都") << QStringList { "cjk" };
    QTest::addRow("japanese absent") << QStringLiteral("大阪") << QStringList {};
    QTest::addRow("japanese out of order") << QStringLiteral("都京") << QStringList {};
    // Accents fold both ways.
    QTest::addRow("resume") << QStringLiteral("resume") << QStringList { "accents" };
    QTest::addRow("Muller") << QStringLiteral("Muller") << QStringList { "accents" };
    QTest::addRow("accented query") << QStringLiteral("naïve") << QStringList { "accents" };
    QTest::addRow("empty") << QString() << QStringList { "*" };
    QTest::addRow("white space only") << QStringLiteral("  \t ") << QStringList { "*" };
}

void TestNoteRepository::search()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QHash<QString, QString> idOf;
    const QList<QPair<QString, QString>> bodies {
        { "kettle", "[{\"insert\":\"The kettle whistles\\n\"}]" },
        { "both", "[{\"insert\":\"teapot and kettles\\n\"}]" },
        { "lamp", "[{\"insert\":\"Lamp oil\\n\"}]" },
        { "formatted",
            "[{\"insert\":\"Boiler\"},{\"attributes\":{\"header\":1},\"insert\":\"\\n\"},"
            "{\"attributes\":{\"bold\":true,\"link\":\"https://insert.example\"},"
            "\"insert\":\"descaling\"},{\"insert\":\" steps\\n\"},"
            "{\"insert\":{\"image\":\"brevaro-notes://attachment/header-attributes\"}},"
            "{\"insert\":\"\\n\"}]" },
        { "email", "[{\"insert\":\"Answer the e-mail\\n\"}]" },
        { "dont", "[{\"insert\":\"I don't know\\n\"}]" },
        { "cpp", "[{\"insert\":\"Learning C++ templates\\n\"}]" },
        { "version", "[{\"insert\":\"Release 3.5 is out\\n\"}]" },
        { "number", "[{\"insert\":\"35 apples, mail sent, don the hat, foo and bar\\n\"}]" },
        { "colon", "[{\"insert\":\"map foo:bar\\n\"}]" },
        { "cjk", "[{\"insert\":\"東京都に行きました\\n\"}]" },
        { "accents", "[{\"insert\":\"Résumé of Müller, naive\\n\"}]" },
    };
    int offset = 0;
    for (const auto &[key, body] : bodies) {
        const Note note = TestDatabase::makeNote(body, QString(), kBase.addSecs(offset++));
        QVERIFY(m_notes->insert(note));
        idOf.insert(key, note.id);
    }
    Note binned = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"binned kettle\\n\"}]"));
    binned.deletedAt = kBase;
    QVERIFY(m_notes->insert(binned));

    const QList<Note> found = m_notes->search(text);
    QCOMPARE(idsOf(found), idsOf(m_notes->notesByIds(idsOf(found)))); // whole notes
    if (expected == QStringList { "*" }) {
        QCOMPARE(idsOf(found), idsOf(m_notes->allNotes()));
        return;
    }
    QStringList expectedIds;
    for (const QString &key : expected)
        expectedIds.append(idOf.value(key));
    QStringList foundIds = idsOf(found);
    // The list view's query finds the same notes in the same order.
    QStringList entryIds;
    for (const NoteListEntry &entry : m_notes->searchListEntries(text))
        entryIds.append(entry.id);
    QCOMPARE(entryIds, foundIds);
    foundIds.sort();
    expectedIds.sort();
    QCOMPARE(foundIds, expectedIds);
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM notes")), int(bodies.size()) + 1);
}

// Every way a note's text or place changes reaches the index, including a many-note write in
// one transaction and one that is rolled back.
void TestNoteRepository::searchIndexFollowsEveryWrite()
{
    const auto found
        = [this](const char *text) { return idsOf(m_notes->search(QString::fromUtf8(text))); };
    const auto body = [](const char *text) {
        return QStringLiteral("[{\"insert\":\"%1\\n\"}]").arg(QString::fromUtf8(text));
    };
    Note note = TestDatabase::makeNote(body("alpha kettle"));
    QVERIFY(m_notes->insert(note));
    QCOMPARE(found("alpha"), QStringList { note.id });

    note.body = body("beta kettle");
    QVERIFY(m_notes->update(note));
    QVERIFY(found("alpha").isEmpty());
    QCOMPARE(found("beta"), QStringList { note.id });

    QVERIFY(m_notes->softDelete(note.id));
    QVERIFY(found("beta").isEmpty());
    QVERIFY(m_notes->restore(note.id));
    QCOMPARE(found("beta"), QStringList { note.id });
    QVERIFY(m_notes->moveToNotebook(note.id, QStringLiteral("nb")));
    QCOMPARE(found("beta"), QStringList { note.id });

    // A pull writes many notes in one transaction; a failed one leaves no trace.
    QSqlDatabase db = m_db->database()->connection();
    QList<Note> pulled;
    for (const char *text : { "gamma one", "gamma two", "gamma three" })
        pulled.append(TestDatabase::makeNote(body(text)));
    QVERIFY(db.transaction());
    for (const Note &each : pulled)
        QVERIFY(m_notes->insert(each));
    note.body = body("delta kettle");
    QVERIFY(m_notes->update(note));
    QVERIFY(db.commit());
    QCOMPARE(found("gamma").size(), 3);
    QCOMPARE(found("delta"), QStringList { note.id });

    QVERIFY(db.transaction());
    note.body = body("epsilon");
    QVERIFY(m_notes->update(note));
    QVERIFY(m_notes->insert(TestDatabase::makeNote(body("epsilon too"))));
    QVERIFY(db.rollback());
    QVERIFY(found("epsilon").isEmpty());
    QCOMPARE(found("delta"), QStringList { note.id });

    QVERIFY(m_notes->purge(note.id));
    QVERIFY(found("delta").isEmpty());
    QVERIFY(m_notes->purge(pulled.first().id));
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM notes_text_fts")),
        m_db->scalar(QStringLiteral("SELECT count(*) FROM notes")));
    QCOMPARE(found("gamma").size(), 2);
}

void TestNoteRepository::countsByNotebook()
{
    QVERIFY(m_notes->noteCountsByNotebook().value(QString(), -1) == 0);
    QVERIFY(m_notes->insert(TestDatabase::makeNote(QString(), QStringLiteral("a"))));
    QVERIFY(m_notes->insert(TestDatabase::makeNote(QString(), QStringLiteral("b"))));
    QVERIFY(m_notes->insert(TestDatabase::makeNote()));
    Note trashed = TestDatabase::makeNote(QString(), QStringLiteral("a"));
    trashed.deletedAt = kBase;
    QVERIFY(m_notes->insert(trashed));

    const QMap<QString, int> counts = m_notes->noteCountsByNotebook();
    const QMap<QString, int> expected { { QString(), 3 }, { QStringLiteral("a"), 1 },
        { QStringLiteral("b"), 1 } };
    QCOMPARE(counts, expected);
}

void TestNoteRepository::includeInTodosDefaultsToTrue()
{
    const Note note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(note));
    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    QVERIFY(m_notes->includeInTodos(note.id));
    QVERIFY(m_notes->setIncludeInTodos(note.id, false));
    QVERIFY(!m_notes->includeInTodos(note.id));
    QVERIFY(m_notes->setIncludeInTodos(note.id, true));
    QVERIFY(m_notes->includeInTodos(note.id));
    QCOMPARE(changed.count(), 0);
    // The setting must name an existing note.
    QVERIFY(!m_notes->setIncludeInTodos(QStringLiteral("missing"), false));
}

void TestNoteRepository::softDeleteOfUnknownIdStillAnnounces()
{
    QStringList order;
    connect(m_notes.get(), &NoteRepository::noteDeleted, this,
        [&order](const QString &id) { order << QStringLiteral("deleted:") + id; });
    connect(m_notes.get(), &NoteRepository::notesChanged, this,
        [&order] { order << QStringLiteral("changed"); });
    QVERIFY(m_notes->softDelete(QStringLiteral("nobody")));
    QCOMPARE(order, (QStringList { "deleted:nobody", "changed" }));
}

void TestNoteRepository::trashedNotesStayPendingForSync()
{
    Note note = TestDatabase::makeNote();
    note.syncStatus = SyncStatus::Synced;
    QVERIFY(m_notes->insert(note));
    QVERIFY(m_notes->pendingNotes().isEmpty());

    QVERIFY(m_notes->softDelete(note.id));
    const Note trashed = *m_notes->noteById(note.id);
    QVERIFY(trashed.deletedAt);
    QVERIFY(qAbs(trashed.deletedAt->secsTo(QDateTime::currentDateTimeUtc())) < 60);
    QCOMPARE(idsOf(m_notes->pendingNotes()), QStringList { note.id });
    QVERIFY(m_notes->allNotes().isEmpty());

    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    QVERIFY(m_notes->markSynced(note.id, 4));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(m_notes->noteById(note.id)->version, 4);
    QVERIFY(m_notes->restore(note.id));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!m_notes->noteById(note.id)->deletedAt);
    QCOMPARE(m_notes->noteById(note.id)->syncStatus, SyncStatus::Pending);

    // markAllPending counts only live notes that were not pending yet.
    Note synced = TestDatabase::makeNote();
    synced.syncStatus = SyncStatus::Synced;
    Note trashedSynced = TestDatabase::makeNote();
    trashedSynced.syncStatus = SyncStatus::Synced;
    trashedSynced.deletedAt = kBase;
    QVERIFY(m_notes->insert(synced));
    QVERIFY(m_notes->insert(trashedSynced));
    QCOMPARE(m_notes->markAllPending(), 1);
    QCOMPARE(m_notes->markAllPending(), 0);
}

void TestNoteRepository::moveToNotebookKeepsUpdatedAt()
{
    Note note = TestDatabase::makeNote(QString(), QString(), kBase);
    note.syncStatus = SyncStatus::Synced;
    QVERIFY(m_notes->insert(note));
    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    QVERIFY(m_notes->moveToNotebook(note.id, QStringLiteral("nb-2")));
    QCOMPARE(changed.count(), 1);
    const Note moved = *m_notes->noteById(note.id);
    QCOMPARE(moved.notebookId, QStringLiteral("nb-2"));
    QCOMPARE(moved.updatedAt, kBase);
    QVERIFY(moved.modifiedAt >= before);
    QCOMPARE(moved.syncStatus, SyncStatus::Pending);
}

void TestNoteRepository::purgeRemovesDependants_data()
{
    QTest::addColumn<QStringList>("dependants");
    const QStringList all { "snapshot", "attachment", "todo", "task", "operation" };
    QTest::addRow("nothing") << QStringList {};
    for (const QString &one : all)
        QTest::addRow("%s", qPrintable(one)) << QStringList { one };
    QTest::addRow("all kinds") << all;
}

void TestNoteRepository::purgeRemovesDependants()
{
    QFETCH(QStringList, dependants);
    const Note note = TestDatabase::makeNote();
    const Note other = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(note));
    QVERIFY(m_notes->insert(other));
    const QString t = QStringLiteral("'2024-01-01T00:00:00.000Z'");
    const QHash<QString, QString> insertFor {
        { "snapshot", "INSERT INTO note_snapshots VALUES ('s-%1', '%1', 1, 'b', " + t + ")" },
        { "attachment",
            "INSERT INTO attachments VALUES ('a-%1', '%1', 'f.png', 'image/png', 3, " + t
                + ", 'pending')" },
        { "todo", "INSERT INTO note_task_settings VALUES ('%1', 0)" },
        { "task",
            "INSERT INTO tasks VALUES ('t-%1', '%1', 'x', 0, 'check', 0, 0, NULL, NULL, " + t + ", "
                + t + ")" },
        { "operation",
            "INSERT INTO note_operations VALUES ('o-%1', '%1', 1, 2, '{}', " + t + ", 0)" },
    };
    for (const QString &kind : dependants) {
        QVERIFY(m_db->exec(insertFor.value(kind).arg(note.id)));
        QVERIFY(m_db->exec(insertFor.value(kind).arg(other.id)));
    }

    QStringList order;
    QStringList purgedAttachments;
    connect(m_notes.get(), &NoteRepository::notePurged, this,
        [&](const QString &id, const QStringList &attachmentIds) {
            order << QStringLiteral("purged:") + id;
            purgedAttachments = attachmentIds;
        });
    connect(m_notes.get(), &NoteRepository::notesChanged, this,
        [&order] { order << QStringLiteral("changed"); });

    QVERIFY(m_notes->purge(note.id));
    QCOMPARE(order, (QStringList { QStringLiteral("purged:") + note.id, "changed" }));
    QCOMPARE(purgedAttachments,
        dependants.contains(QStringLiteral("attachment"))
            ? QStringList { QStringLiteral("a-") + note.id }
            : QStringList {});
    QVERIFY(!m_notes->noteById(note.id));
    const QList<QPair<QString, QString>> tables { { "note_snapshots", "snapshot" },
        { "attachments", "attachment" }, { "note_task_settings", "todo" }, { "tasks", "task" },
        { "note_operations", "operation" } };
    for (const auto &[table, kind] : tables) {
        const QString count = QStringLiteral("SELECT count(*) FROM %1 WHERE note_id = '%2'");
        QCOMPARE(m_db->scalar(count.arg(table, note.id)), 0);
        // The other note keeps its rows.
        QCOMPARE(m_db->scalar(count.arg(table, other.id)), dependants.contains(kind) ? 1 : 0);
    }
    QVERIFY(m_notes->noteById(other.id));
}

void TestNoteRepository::failedPurgeLeavesEverything()
{
    const Note note = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"keep me\\n\"}]"));
    QVERIFY(m_notes->insert(note));
    QVERIFY(m_db->exec(QStringLiteral("INSERT INTO note_snapshots VALUES ('s1', '%1', 1, 'b', 'x')")
                           .arg(note.id)));
    QVERIFY(m_db->exec(QStringLiteral("INSERT INTO attachments VALUES ('a1', '%1', 'f', 'm', 1, "
                                      "'x', 'pending')")
                           .arg(note.id)));
    // The last step of the purge fails after the dependants are already gone.
    QVERIFY(m_db->exec(QStringLiteral("CREATE TEMP TRIGGER block_purge BEFORE DELETE ON notes "
                                      "BEGIN SELECT RAISE(ABORT, 'purge blocked'); END")));

    QSignalSpy purged(m_notes.get(), &NoteRepository::notePurged);
    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("^NoteRepository::purge failed: .*purge blocked")));
    QVERIFY(!m_notes->purge(note.id));
    QCOMPARE(purged.count(), 0);
    QCOMPARE(changed.count(), 0);
    QVERIFY(m_notes->noteById(note.id));
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM note_snapshots")), 1);
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM attachments")), 1);
    QCOMPARE(m_notes->search(QStringLiteral("keep")).size(), 1);

    // Nothing is left half-open: the next purge goes through.
    QVERIFY(m_db->exec(QStringLiteral("DROP TRIGGER block_purge")));
    QVERIFY(m_notes->purge(note.id));
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT count(*) FROM note_snapshots")), 0);
}

void TestNoteRepository::purgeInsideCallersTransaction()
{
    const Note note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(note));
    QVERIFY(m_db->database()->connection().transaction());
    QVERIFY(m_notes->purge(note.id));
    QVERIFY(m_db->database()->connection().rollback());
    // The caller's rollback undoes the purge as well.
    QVERIFY(m_notes->noteById(note.id));
}

void TestNoteRepository::failedInsertIsLoggedAndSilent()
{
    const Note note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(note));
    QSignalSpy changed(m_notes.get(), &NoteRepository::notesChanged);
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("^NoteRepository::insert failed: .*UNIQUE")));
    QVERIFY(!m_notes->insert(note));
    QCOMPARE(changed.count(), 0);

    // An update of a missing note matches nothing, which is not a failure.
    QVERIFY(m_notes->update(TestDatabase::makeNote()));
    QCOMPARE(changed.count(), 1);
}

void TestNoteRepository::hostileIdsAreData()
{
    Note note = TestDatabase::makeNote(QString(), QStringLiteral("nb' OR '1'='1"));
    note.id = QStringLiteral("x'); DROP TABLE notes; --");
    QVERIFY(m_notes->insert(note));
    QVERIFY(m_notes->insert(TestDatabase::makeNote()));
    QCOMPARE(m_notes->noteById(note.id)->notebookId, note.notebookId);
    QCOMPARE(m_notes->notesInNotebook(note.notebookId).size(), 1);
    QVERIFY(m_notes->purge(note.id));
    QCOMPARE(m_notes->allNotes().size(), 1);
}

QTEST_GUILESS_MAIN(TestNoteRepository)
#include "tst_noterepository.moc"
