#include "testdatabase.h"
#include "testdatadir.h"

#include "database.h"
#include "noterepository.h"
#include "paths.h"
#include "schema.h"
#include "searchindex.h"

#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace {

bool run(const Database &db, const QString &sql)
{
    QSqlQuery query(db.connection());
    if (query.exec(sql))
        return true;
    qWarning().noquote() << "setup failed:" << sql << query.lastError().text();
    return false;
}

int scalar(const Database &db, const QString &sql)
{
    QSqlQuery query(db.connection());
    return query.exec(sql) && query.next() ? query.value(0).toInt() : -1;
}

QString text(const Database &db, const QString &sql)
{
    QSqlQuery query(db.connection());
    return query.exec(sql) && query.next() ? query.value(0).toString() : QStringLiteral("<none>");
}

bool tableExists(const Database &db, const QString &name)
{
    QSqlQuery query(db.connection());
    query.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?"));
    query.addBindValue(name);
    return query.exec() && query.next() && query.value(0).toInt() == 1;
}

// A database as version 1 left it: the initial schema, written by hand, at version 1.
bool buildVersionOne(const Database &db, bool legacyNotebookForeignKey)
{
    if (!run(db, QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL DEFAULT 0)"))
        || !run(db, QStringLiteral("INSERT INTO schema_version (version) VALUES (1)")))
        return false;
    if (legacyNotebookForeignKey
        && !run(db,
            QStringLiteral(
                "CREATE TABLE notes (id TEXT PRIMARY KEY, notebook_id TEXT NOT NULL "
                "REFERENCES notebooks(id), body TEXT NOT NULL DEFAULT '', created_at TEXT NOT "
                "NULL, updated_at TEXT NOT NULL, modified_at TEXT NOT NULL, deleted_at TEXT, "
                "version INTEGER NOT NULL DEFAULT 1, op_version INTEGER NOT NULL DEFAULT 0, "
                "sync_status TEXT NOT NULL DEFAULT 'pending', is_sample INTEGER NOT NULL "
                "DEFAULT 0, owner_id TEXT, is_shared INTEGER NOT NULL DEFAULT 0, permission "
                "TEXT)")))
        return false;
    for (const char *statement : initialSchemaStatements()) {
        if (!run(db, QString::fromLatin1(statement)))
            return false;
    }
    return true;
}

} // namespace

class TestDatabaseMigrations : public QObject
{
    Q_OBJECT

private slots:
    void freshDirectoryRunsBothMigrations();
    void versionOneLosesDefaultNotebook_data();
    void versionOneLosesDefaultNotebook();
    void laterVersionsAreLeftAlone_data();
    void laterVersionsAreLeftAlone();
    void negativeVersionIsRefused();
    void failingStatementRollsBackInitialSchema();
    void failingStepRollsBackNotesRebuild();
    void versionTwoGainsSearchIndex();
    void fullTextRowsFollowOnlyBodyChanges_data();
    void fullTextRowsFollowOnlyBodyChanges();
    void openFailureIsReported();
};

void TestDatabaseMigrations::freshDirectoryRunsBothMigrations()
{
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(databasePath()));
    QSignalSpy applied(&db, &Database::migrationApplied);
    QTest::ignoreMessage(QtInfoMsg, "Running migration 1: initial schema");
    QTest::ignoreMessage(
        QtInfoMsg, "Running migration 2: drop default notebook + FK on notes.notebook_id");
    QTest::ignoreMessage(QtInfoMsg, "Running migration 3: plain-text search index");
    QTest::ignoreMessage(QtInfoMsg, "Running migration 4: full-text triggers on body changes only");
    QTest::ignoreMessage(QtInfoMsg, "Database at version 4");
    QVERIFY(db.migrate());

    QCOMPARE(applied.count(), 4);
    QCOMPARE(applied.at(0), (QVariantList { 1, QStringLiteral("initial schema") }));
    QCOMPARE(applied.at(1), (QVariantList { 2, QStringLiteral("drop default notebook + FK") }));
    QCOMPARE(applied.at(2), (QVariantList { 3, QStringLiteral("plain-text search index") }));
    QCOMPARE(
        applied.at(3), (QVariantList { 4, QStringLiteral("full-text triggers on body changes") }));
    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), 4);
    QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM schema_version")), 1);
    QCOMPARE(scalar(db, QStringLiteral("PRAGMA foreign_keys")), 1);
    QCOMPARE(text(db, QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    for (const char *table : { "notebooks", "notes", "notes_fts", "note_operations",
             "note_snapshots", "attachments", "sync_queue", "tasks", "note_task_settings",
             "preferences", "notes_ai", "notes_ad", "notes_au", "idx_notes_updated_at",
             "notes_text_fts", "notes_text_ad", "notes_text_au" })
        QVERIFY2(tableExists(db, QString::fromLatin1(table)), table);
    QVERIFY(!tableExists(db, QStringLiteral("notes_new")));

    // A second start finds version 4 and runs nothing.
    applied.clear();
    QVERIFY(db.migrate());
    QCOMPARE(applied.count(), 0);
}

void TestDatabaseMigrations::versionOneLosesDefaultNotebook_data()
{
    QTest::addColumn<bool>("legacyForeignKey");
    QTest::addRow("initial schema") << false;
    QTest::addRow("notes with foreign key to notebooks") << true;
}

void TestDatabaseMigrations::versionOneLosesDefaultNotebook()
{
    QFETCH(bool, legacyForeignKey);
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(dir.filePath(QStringLiteral("v1.db"))));
    QVERIFY(buildVersionOne(db, legacyForeignKey));
    const QString t = QStringLiteral("'2024-03-01T10:00:00.000Z'");
    QVERIFY(run(db,
        QStringLiteral("INSERT INTO notebooks (id, name, is_default, created_at, "
                       "updated_at) VALUES ('nb-default', 'Notes', 1, %1, %1), "
                       "('nb-work', 'Work', 0, %1, %1)")
            .arg(t)));
    QVERIFY(run(db,
        QStringLiteral("INSERT INTO notes (id, notebook_id, body, created_at, "
                       "updated_at, modified_at, deleted_at) VALUES "
                       "('n1', 'nb-default', 'alpha kettle', %1, %1, %1, NULL), "
                       "('n2', 'nb-default', 'beta kettle', %1, %1, %1, %1), "
                       "('n3', 'nb-work', 'gamma', %1, %1, %1, NULL)")
            .arg(t)));
    QVERIFY(run(db,
        QStringLiteral("INSERT INTO note_snapshots (id, note_id, version, body, "
                       "created_at) VALUES ('s1', 'n1', 1, 'alpha', %1)")
            .arg(t)));
    // Simulate an index that lost track of the rows, which the rebuild must repair.
    QVERIFY(run(db, QStringLiteral("INSERT INTO notes_fts(notes_fts) VALUES('delete-all')")));

    QSignalSpy applied(&db, &Database::migrationApplied);
    QVERIFY(db.migrate());
    QCOMPARE(applied.count(), 3);
    QCOMPARE(applied.at(0).at(0).toInt(), 2);
    QCOMPARE(applied.at(1).at(0).toInt(), 3);
    db.startSearchIndexBuild();
    QTRY_VERIFY(db.isSearchIndexComplete());

    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), 4);
    QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM notebooks")), 1);
    QCOMPARE(text(db, QStringLiteral("SELECT id FROM notebooks")), QStringLiteral("nb-work"));
    QCOMPARE(text(db, QStringLiteral("SELECT notebook_id FROM notes WHERE id='n1'")), QString());
    QCOMPARE(text(db, QStringLiteral("SELECT notebook_id FROM notes WHERE id='n2'")), QString());
    QCOMPARE(text(db, QStringLiteral("SELECT notebook_id FROM notes WHERE id='n3'")),
        QStringLiteral("nb-work"));
    QCOMPARE(text(db, QStringLiteral("SELECT deleted_at FROM notes WHERE id='n2'")),
        QStringLiteral("2024-03-01T10:00:00.000Z"));
    QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM note_snapshots")), 1);
    QVERIFY(!text(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE name='notes'"))
                 .contains(QStringLiteral("REFERENCES")));
    QCOMPARE(scalar(db, QStringLiteral("PRAGMA foreign_keys")), 1);
    QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM pragma_foreign_key_check")), 0);

    NoteRepository notes(&db);
    const QList<Note> found = notes.search(QStringLiteral("kett"));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().id, QStringLiteral("n1"));
    // The triggers are back: a new note is searchable at once.
    Note added = TestDatabase::makeNote(QStringLiteral("delta kettle"));
    QVERIFY(notes.insert(added));
    QCOMPARE(notes.search(QStringLiteral("kettle")).size(), 2);
}

void TestDatabaseMigrations::laterVersionsAreLeftAlone_data()
{
    QTest::addColumn<int>("version");
    QTest::addRow("current") << int(Database::CurrentVersion);
    QTest::addRow("newer than this program") << 7;
}

void TestDatabaseMigrations::laterVersionsAreLeftAlone()
{
    QFETCH(int, version);
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(databasePath()));
    QVERIFY(db.migrate());
    QVERIFY(run(db, QStringLiteral("UPDATE schema_version SET version = %1").arg(version)));

    QSignalSpy applied(&db, &Database::migrationApplied);
    QSignalSpy failed(&db, &Database::migrationError);
    QTest::ignoreMessage(QtInfoMsg, "Database at version 4");
    QVERIFY(db.migrate());
    QCOMPARE(applied.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), version);
}

void TestDatabaseMigrations::negativeVersionIsRefused()
{
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(databasePath()));
    QVERIFY(run(db, QStringLiteral("CREATE TABLE schema_version (version INTEGER)")));
    QVERIFY(run(db, QStringLiteral("INSERT INTO schema_version VALUES (-1)")));
    QSignalSpy applied(&db, &Database::migrationApplied);
    QVERIFY(!db.migrate());
    QCOMPARE(applied.count(), 0);
    QVERIFY(!tableExists(db, QStringLiteral("notes")));
}

void TestDatabaseMigrations::failingStatementRollsBackInitialSchema()
{
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(databasePath()));
    // A view named like a table: its CREATE TABLE IF NOT EXISTS passes, indexing it fails late.
    QVERIFY(run(db, QStringLiteral("CREATE VIEW tasks AS SELECT 1 AS note_id")));

    QSignalSpy failed(&db, &Database::migrationError);
    QSignalSpy applied(&db, &Database::migrationApplied);
    QTest::ignoreMessage(QtCriticalMsg,
        QRegularExpression(QStringLiteral("^Schema creation failed: .*views may not be indexed")));
    QVERIFY(!db.migrate());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0), (QVariantList { 1, QStringLiteral("Failed to create initial schema") }));
    QCOMPARE(applied.count(), 0);
    for (const char *name :
        { "notebooks", "notes", "notes_fts", "notes_ai", "note_snapshots", "idx_notes_updated_at" })
        QVERIFY2(!tableExists(db, QString::fromLatin1(name)), name);
    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), 0);

    // Once the obstacle is gone the next start succeeds.
    QVERIFY(run(db, QStringLiteral("DROP VIEW tasks")));
    QVERIFY(db.migrate());
    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), 4);
}

void TestDatabaseMigrations::failingStepRollsBackNotesRebuild()
{
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(databasePath()));
    QVERIFY(buildVersionOne(db, false));
    QVERIFY(run(db,
        QStringLiteral("INSERT INTO notebooks (id, name, is_default, created_at, "
                       "updated_at) VALUES ('nb-default', 'Notes', 1, 'x', 'x')")));
    QVERIFY(run(db,
        QStringLiteral("INSERT INTO notes (id, notebook_id, body, created_at, "
                       "updated_at, modified_at) VALUES ('n1', 'nb-default', "
                       "'kept', 'x', 'x', 'x')")));
    QVERIFY(run(db, QStringLiteral("CREATE TABLE notes_new (id TEXT)")));

    QSignalSpy failed(&db, &Database::migrationError);
    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(QStringLiteral("^migrateToV2 create notes_new .+")));
    QVERIFY(!db.migrate());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0), (QVariantList { 2, QStringLiteral("Failed to drop notebook FK") }));
    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), 1);
    QCOMPARE(text(db, QStringLiteral("SELECT notebook_id FROM notes WHERE id='n1'")),
        QStringLiteral("nb-default"));
    QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM notebooks")), 1);
    QVERIFY(tableExists(db, QStringLiteral("notes_ai")));
    QCOMPARE(scalar(db, QStringLiteral("PRAGMA foreign_keys")), 1);
}

// A collection as the previous version left it: the search index is built once, from the text
// people read, and every table that was there is still there as it was.
void TestDatabaseMigrations::versionTwoGainsSearchIndex()
{
    TestDataDir dir;
    Database db;
    QVERIFY(db.open(dir.filePath(QStringLiteral("v2.db"))));
    QVERIFY(buildVersionOne(db, false));
    for (const MigrationStep &step : rebuildNotesSteps())
        QVERIFY2(run(db, QString::fromLatin1(step.sql)), step.label);
    QVERIFY(run(db, QStringLiteral("UPDATE schema_version SET version = 2")));
    const QString insert = QStringLiteral(
        "INSERT INTO notes (id, body, created_at, updated_at, modified_at, deleted_at) VALUES "
        "('%1', '%2', 'x', 'x', 'x', NULL)");
    QVERIFY(run(db,
        insert.arg(QStringLiteral("bold"),
            QStringLiteral("[{\"insert\":\"Kettle\"},{\"attributes\":{\"header\":1},"
                           "\"insert\":\"\\n\"},{\"attributes\":{\"bold\":true},"
                           "\"insert\":\"descaling\"},{\"insert\":\"\\n\"}]"))));
    QVERIFY(run(db, insert.arg(QStringLiteral("plain"), QStringLiteral("Résumé draft"))));
    const auto schemaOf = [&db] {
        QStringList entries;
        QSqlQuery query(db.connection());
        query.exec(QStringLiteral("SELECT name || ': ' || ifnull(sql, '') FROM sqlite_master "
                                  "ORDER BY name"));
        while (query.next())
            entries.append(query.value(0).toString());
        return entries;
    };
    const QStringList before = schemaOf();

    // More notes than one slice of the build indexes.
    for (int i = 0; i < 40; ++i)
        QVERIFY(run(db, insert.arg(QStringLiteral("filler-%1").arg(i), QStringLiteral("filler"))));

    QSignalSpy applied(&db, &Database::migrationApplied);
    QVERIFY(db.migrate());
    QCOMPARE(applied.count(), 2);
    QCOMPARE(applied.at(0).at(0).toInt(), 3);
    QCOMPARE(applied.at(1).at(0).toInt(), 4);
    QCOMPARE(scalar(db, QStringLiteral("SELECT version FROM schema_version")), 4);
    // Every table and index stays as it was; the update trigger of notes_fts is the one thing
    // migration 4 replaces (fullTextRowsFollowOnlyBodyChanges).
    for (const QString &entry : before) {
        if (!entry.startsWith(QStringLiteral("notes_au: ")))
            QVERIFY2(schemaOf().contains(entry), qPrintable(entry));
    }
    // The index is built after start-up, not by the migration.
    QVERIFY(!db.isSearchIndexComplete());
    QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM notes_text_fts")), 0);

    // The program is stopped after the first slice of the build: the next start indexes only
    // what is left, once each.
    qint64 cursor = 0;
    const int firstSlice
        = SearchIndex::fillMissingSlice(db.connection(), cursor, QDeadlineTimer(0));
    QVERIFY(firstSlice > 0 && firstSlice < 42);
    Database restarted;
    QVERIFY(restarted.open(dir.filePath(QStringLiteral("v2.db"))));
    QVERIFY(restarted.migrate());
    QVERIFY(!restarted.isSearchIndexComplete());
    QSignalSpy progress(&restarted, &Database::searchIndexProgress);
    QSignalSpy completed(&restarted, &Database::searchIndexCompleted);
    restarted.startSearchIndexBuild();
    QTRY_COMPARE(completed.count(), 1);
    QVERIFY(restarted.isSearchIndexComplete());
    QCOMPARE(progress.last(), (QVariantList { 42 - firstSlice, 42 - firstSlice }));
    QCOMPARE(scalar(restarted, QStringLiteral("SELECT count(*) FROM notes_text_fts")), 42);
    // The old index is still kept in step, raw JSON and all.
    QCOMPARE(scalar(restarted,
                 QStringLiteral("SELECT count(*) FROM notes_fts WHERE notes_fts MATCH "
                                "'attributes'")),
        1);

    NoteRepository notes(&restarted);
    const auto idsFound = [&notes](const char *text) {
        QStringList ids;
        for (const Note &note : notes.search(QString::fromUtf8(text)))
            ids.append(note.id);
        return ids;
    };
    QCOMPARE(idsFound("kettle descal"), QStringList { QStringLiteral("bold") });
    QCOMPARE(idsFound("resume"), QStringList { QStringLiteral("plain") });
    QVERIFY(idsFound("attributes").isEmpty());

    // A note written by a version that does not know the index is indexed at the next start.
    QVERIFY(
        run(restarted, insert.arg(QStringLiteral("older"), QStringLiteral("kettle from before"))));
    QVERIFY(run(
        restarted, QStringLiteral("UPDATE notes SET body = 'Résumé final' WHERE id = 'plain'")));
    QVERIFY(idsFound("final").isEmpty());
    applied.clear();
    QVERIFY(restarted.migrate());
    restarted.startSearchIndexBuild();
    QTRY_VERIFY(restarted.isSearchIndexComplete());
    QCOMPARE(idsFound("final"), QStringList { QStringLiteral("plain") });
    QVERIFY(idsFound("draft").isEmpty());
    QCOMPARE(idsFound("before"), QStringList { QStringLiteral("older") });
}

// Marking notes synced rewrites nothing of either full-text index; a new body replaces what
// both index.
void TestDatabaseMigrations::fullTextRowsFollowOnlyBodyChanges_data()
{
    QTest::addColumn<QString>("update");
    QTest::addColumn<int>("changes");
    QTest::addColumn<QString>("found");
    QTest::addRow("sync status") << "sync_status = 'synced'" << 1 << "kettle";
    QTest::addRow("version, times and sync status")
        << "version = 2, updated_at = 'y', sync_status = 'synced'" << 1 << "kettle";
    QTest::addRow("same body written again") << "body = body" << 1 << "kettle";
    QTest::addRow("new body") << "body = 'teapot'" << -1 << "teapot";
}

void TestDatabaseMigrations::fullTextRowsFollowOnlyBodyChanges()
{
    QFETCH(QString, update);
    QFETCH(int, changes);
    QFETCH(QString, found);
    TestDatabase test;
    QVERIFY(test.isValid());
    NoteRepository notes(test.database());
    const Note note = TestDatabase::makeNote(QStringLiteral("kettle"));
    QVERIFY(notes.insert(note));
    const Database &db = *test.database();
    const int before = scalar(db, QStringLiteral("SELECT total_changes()"));
    QVERIFY(run(db, QStringLiteral("UPDATE notes SET %1 WHERE id = '%2'").arg(update, note.id)));
    const int made = scalar(db, QStringLiteral("SELECT total_changes()")) - before;
    if (changes > 0)
        QCOMPARE(made, changes);
    else
        QVERIFY(made > 1);
    QCOMPARE(
        scalar(db,
            QStringLiteral("SELECT count(*) FROM notes_fts WHERE notes_fts MATCH '%1'").arg(found)),
        1);
    // The old index follows the body by its triggers alone.
    QCOMPARE(scalar(db,
                 QStringLiteral("SELECT count(*) FROM notes_fts WHERE notes_fts MATCH '%1'")
                     .arg(found == QLatin1String("kettle") ? QStringLiteral("teapot")
                                                           : QStringLiteral("kettle"))),
        0);
}

void TestDatabaseMigrations::openFailureIsReported()
{
    TestDataDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Database db;
    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to open database: ")));
    QVERIFY(!db.open(dir.filePath(QStringLiteral("file/sub/notes.db"))));
    QVERIFY(!db.isOpen());
}

QTEST_GUILESS_MAIN(TestDatabaseMigrations)
#include "tst_database.moc"
