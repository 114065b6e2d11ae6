#include "database.h"
#include "joplinimport.h"
#include "notestationimport.h"
#include "notetext.h"
#include "testarchive.h"
#include "teststore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

Note noteTitled(const TestStore &store, const QString &title)
{
    for (const Note &note : store.notes.allNotes() + store.notes.trashedNotes()) {
        if (noteTitle(note.body) == title)
            return note;
    }
    return Note {};
}

QString notebookName(const TestStore &store, const QString &id)
{
    const std::optional<Notebook> notebook = store.notebooks.notebookById(id);
    return notebook ? notebook->name : QString();
}

QStringList attachmentNames(const TestStore &store, const QString &noteId)
{
    QStringList names;
    for (const Attachment &attachment : store.attachments.attachmentsForNote(noteId))
        names << attachment.filename + QLatin1Char('|') + attachment.mimeType;
    names.sort();
    return names;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// An item file as the Joplin client writes it: title line, content, metadata block with empty
// values written as "key: ".
QByteArray joplinItem(const QString &title, const QString &content, const QString &id, int type,
    const QString &parentId = QString())
{
    return QStringLiteral("%1\n\n%2\n\nid: %3\nparent_id: %4\ncreated_time: "
                          "2026-12-07T21:00:22.107Z\nuser_created_time: 2021-03-04T05:06:07.000Z\n"
                          "encryption_cipher_text: \nmarkup_language: 1\ntype_: %5")
        .arg(title, content, id, parentId)
        .arg(type)
        .toUtf8();
}

} // namespace

Q_DECLARE_METATYPE(TestArchiveMember)

class TestImporters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void joplinSampleShowsWhatTheUserSaw_data();
    void joplinSampleShowsWhatTheUserSaw();
    void noteStationExport_data();
    void noteStationExport();
    void badArchivesChangeNothing_data();
    void badArchivesChangeNothing();
    void notesStoredWholeInArchiveOrder_data();
    void notesStoredWholeInArchiveOrder();

private:
    // The kept Joplin export, imported once for all rows that look at it.
    std::unique_ptr<TestStore> m_sample;
    ImportResult m_sampleResult;
    QList<int> m_sampleTotals;
};

void TestImporters::initTestCase()
{
    m_sample = std::make_unique<TestStore>();
    QVERIFY(m_sample->db.isValid());
    m_sampleResult
        = importJoplin(m_sample->target(), testSamplePath(QStringLiteral("joplin-small.jex")),
            [this](int, int total, const QString &) { m_sampleTotals << total; });
}

void TestImporters::joplinSampleShowsWhatTheUserSaw_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("notebook");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QStringList>("bodyHas");
    QTest::addColumn<QStringList>("bodyLacks");
    QTest::addColumn<QStringList>("attachments");

    QTest::addRow("dates the user saw, file link")
        << "Travel plans"
        << "Personal"
        << "2024-09-12T12:00:00.000Z"
        << QStringList { "Lisbon, October", "brevaro-notes-attachment" } << QStringList { ":/dfb" }
        << QStringList { "résumé final (v2).txt|text/plain" };
    QTest::addRow("html note with table and image")
        << "Web clip: Example article"
        << "Projects"
        << "2024-05-20T12:00:00.000Z"
        << QStringList { "\"table\"", "brevaro-notes-attachment", "https://example.com/a?b=1&c=2" }
        << QStringList { "<p>", "&amp;" } << QStringList { "architecture.png|image/png" };
    QTest::addRow("file without extension")
        << "Build notes"
        << "Personal"
        << "2024-11-02T12:00:00.000Z" << QStringList { "brevaro-notes-attachment" }
        << QStringList { ":/e9a677" } << QStringList { "Makefile|application/octet-stream" };
    QTest::addRow("link to another note")
        << "Project Beta roadmap"
        << "Projects"
        << "2024-02-02T12:00:00.000Z"
        << QStringList { "brevaro-notes://note/{Project Alpha}",
               "brevaro-notes://note/{Architecture overview}#storage" }
        << QStringList { ":/aafb" } << QStringList {};
    QTest::addRow("heading repeating the title dropped")
        << "Heading equals title"
        << "Personal"
        << "2024-10-06T12:00:00.000Z" << QStringList { "Body after a heading" } << QStringList {}
        << QStringList {};
    QTest::addRow("other heading kept")
        << "Different title"
        << "Personal"
        << "2024-10-07T12:00:00.000Z" << QStringList { "A heading that is not the title" }
        << QStringList {} << QStringList {};
    QTest::addRow("nested notebook flattened")
        << "Vendor contacts"
        << "Archive 2023"
        << "2023-03-03T12:00:00.000Z" << QStringList {} << QStringList {} << QStringList {};
    QTest::addRow("unicode notebook")
        << "日本語のノート"
        << "Ünïcode 日本語 📓"
        << "2024-12-01T12:00:00.000Z" << QStringList {} << QStringList {} << QStringList {};
    QTest::addRow("windows line endings")
        << "Windows line endings"
        << "Personal"
        << "2024-10-05T12:00:00.000Z" << QStringList {} << QStringList { "\\r" } << QStringList {};
}

void TestImporters::joplinSampleShowsWhatTheUserSaw()
{
    QFETCH(QString, title);
    QFETCH(QString, notebook);
    QFETCH(QString, created);
    QFETCH(QStringList, bodyHas);
    QFETCH(QStringList, bodyLacks);
    QFETCH(QStringList, attachments);

    TestStore store;
    QVERIFY(store.db.isValid());
    QList<int> totals;
    const ImportResult result
        = importJoplin(store.target(), testSamplePath(QStringLiteral("joplin-small.jex")),
            [&](int, int total, const QString &) { totals << total; });
    // The sample's facts: 34 notes in 7 folders (one empty, 3 levels deep), 7 resources, two
    // of them linked from two notes each (each note gets its own attachment).
    QCOMPARE(result.errors, 0);
    QCOMPARE(result.imported, 34);
    QCOMPARE(store.noteCount(), 34);
    QCOMPARE(store.notebooks.allNotebooks().size(), 7);
    QCOMPARE(result.attachmentCount, 9);
    QCOMPARE(store.attachmentFiles().size(), 9);
    QVERIFY(store.strayEntries().isEmpty());
    QVERIFY(m_sampleTotals.contains(34));

    const Note note = noteTitled(store, title);
    QVERIFY2(!note.id.isEmpty(), qPrintable(title));
    QCOMPARE(notebookName(store, note.notebookId), notebook);
    QCOMPARE(note.createdAt, QDateTime::fromString(created, Qt::ISODateWithMs));
    // The title shows once, as the heading: a first line repeating it is not kept.
    QCOMPARE(notePlainText(note.body).count(title), 1);
    for (QString fragment : std::as_const(bodyHas)) {
        // "{Title}" stands for the id the note of that title got.
        const qsizetype open = fragment.indexOf(QLatin1Char('{'));
        if (open >= 0) {
            const qsizetype close = fragment.indexOf(QLatin1Char('}'), open);
            const QString target = fragment.mid(open + 1, close - open - 1);
            fragment.replace(open, close - open + 1, noteTitled(store, target).id);
        }
        QVERIFY2(note.body.contains(fragment), qPrintable(fragment + " in " + note.body));
    }
    for (const QString &fragment : std::as_const(bodyLacks))
        QVERIFY2(!note.body.contains(fragment), qPrintable(fragment + " in " + note.body));
    QCOMPARE(attachmentNames(store, note.id), attachments);
    for (const Attachment &attachment : store.attachments.attachmentsForNote(note.id)) {
        QVERIFY(note.body.contains(attachment.id));
        QCOMPARE(QFileInfo(store.attachments.filePath(attachment.id)).size(), attachment.sizeBytes);
    }
}

void TestImporters::noteStationExport_data()
{
    QTest::addColumn<QJsonObject>("note");
    QTest::addColumn<QList<TestArchiveMember>>("files");
    QTest::addColumn<int>("attachments");
    QTest::addColumn<QStringList>("bodyHas");
    QTest::addColumn<QStringList>("bodyLacks");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<bool>("trashed");

    const QString placeholder
        = QStringLiteral("webman/3rdparty/NoteStation/images/transparent.gif");
    const QJsonObject image { { "md5", "aa11" }, { "name", "photo.jpg" }, { "ext", "jpg" },
        { "type", "image" }, { "ref", "cGhvdG8=" } };
    const QList<TestArchiveMember> imageFile { { "file_aa11", "JPEGDATA" },
        { "file_thumb_1024_aa11", "THUMB" } };

    QTest::addRow("inline image replaces its placeholder")
        << QJsonObject { { "title", "Trip" }, { "parent_id", "1234_nb1" },
               { "content",
                   QStringLiteral("<p>Look <img src=\"%1\" width=\"20\" ref=\"cGhvdG8=\"></p>")
                       .arg(placeholder) },
               { "ctime", 1700000000 }, { "mtime", "1700000100" },
               { "attachment", QJsonObject { { "a1", image } } } }
        << imageFile << 1 << QStringList { "brevaro-notes-attachment", "Look" }
        << QStringList { "transparent.gif" } << "image/jpeg" << false;
    QTest::addRow("older export names the MIME type")
        << QJsonObject { { "title", "Scan" }, { "content", "<p>scan</p>" },
               { "attachment",
                   QJsonObject { { "x",
                       QJsonObject { { "md5", "bb22" }, { "name", "scan.pdf" },
                           { "type", "application/pdf" } } } } } }
        << QList<TestArchiveMember> { { "file_bb22", "%PDF" } } << 1 << QStringList { "scan" }
        << QStringList {} << "application/pdf" << false;
    QTest::addRow("image without extension") << QJsonObject { { "title", "Pic" },
        { "attachment",
            QJsonObject { { "x",
                QJsonObject { { "md5", "cc33" }, { "name", "" }, { "type", "image" } } } } } }
                                             << QList<TestArchiveMember> { { "file_cc33", "PNG" } }
                                             << 1 << QStringList { "Pic" } << QStringList {}
                                             << "image/png" << false;
    QTest::addRow("two objects share one file") << QJsonObject { { "title", "Twice" },
        { "attachment",
            QJsonObject {
                { "a", image }, { "b", QJsonObject { { "md5", "aa11" }, { "ref", "other" } } } } } }
                                                << imageFile << 1 << QStringList { "Twice" }
                                                << QStringList {} << "image/jpeg" << false;
    QTest::addRow("only a thumbnail")
        << QJsonObject { { "title", "Thumb" }, { "attachment", QJsonObject { { "a", image } } } }
        << QList<TestArchiveMember> { { "file_thumb_1024_aa11", "THUMB" } } << 0
        << QStringList { "Thumb" } << QStringList {} << QString() << false;
    QTest::addRow("null attachment, no content")
        << QJsonObject { { "title", "a < b & c" }, { "attachment", QJsonValue::Null } }
        << QList<TestArchiveMember> {} << 0 << QStringList { "a < b & c" }
        << QStringList { "&lt;", "&amp;" } << QString() << false;
    QTest::addRow("note in the trash") << QJsonObject { { "title", "Old" },
        { "parent_id", "1234_#00000000" }, { "content", "<p>gone</p>" } }
                                       << QList<TestArchiveMember> {} << 0 << QStringList { "gone" }
                                       << QStringList {} << QString() << true;
}

void TestImporters::noteStationExport()
{
    QFETCH(QJsonObject, note);
    QFETCH(QList<TestArchiveMember>, files);
    QFETCH(int, attachments);
    QFETCH(QStringList, bodyHas);
    QFETCH(QStringList, bodyLacks);
    QFETCH(QString, mime);
    QFETCH(bool, trashed);

    TestStore store;
    QVERIFY(store.db.isValid());
    // Member names of three generations in one export, and a listed notebook with no member.
    const QString noteName = QStringLiteral("1234_") + QString(96, QLatin1Char('f'));
    QList<TestArchiveMember> members {
        { "config.json",
            json({ { "notebook", QJsonArray { "1234_nb1", "nb_bWlzc2luZw==" } },
                { "note", QJsonArray { noteName } } }) },
        { "1234_nb1", json({ { "title", "Travel" }, { "ctime", 1600000000 } }) },
        { noteName, json(note) },
    };
    members += files;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("export.nsx"));
    QVERIFY(writeTestFile(path, makeTestArchive(TestArchiveKind::Zip, members)));

    const ImportResult result = importNoteStation(store.target(), path);
    QCOMPARE(result.errors, 0);
    QCOMPARE(result.imported, 1);
    QCOMPARE(result.attachmentCount, attachments);
    QCOMPARE(store.notebooks.allNotebooks().size(), 1);
    QCOMPARE(store.strayEntries(), QStringList());

    const QList<Note> found = trashed ? store.notes.trashedNotes() : store.notes.allNotes();
    QCOMPARE(found.size(), 1);
    const Note imported = found.first();
    QCOMPARE(imported.notebookId.isEmpty(), note.value("parent_id").toString() != "1234_nb1");
    const qint64 ctime = note.value("ctime").toInteger();
    if (ctime > 0)
        QCOMPARE(imported.createdAt.toSecsSinceEpoch(), ctime);
    if (note.contains("mtime"))
        QCOMPARE(imported.updatedAt.toSecsSinceEpoch(), 1700000100);
    for (const QString &fragment : std::as_const(bodyHas))
        QVERIFY2(
            notePlainText(imported.body).contains(fragment) || imported.body.contains(fragment),
            qPrintable(fragment + " in " + imported.body));
    for (const QString &fragment : std::as_const(bodyLacks))
        QVERIFY2(!imported.body.contains(fragment), qPrintable(fragment + " in " + imported.body));
    const QList<Attachment> stored = store.attachments.attachmentsForNote(imported.id);
    QCOMPARE(stored.size(), attachments);
    if (attachments > 0) {
        QCOMPARE(stored.first().mimeType, mime);
        // Shown in the note, whether or not its HTML placed it.
        QVERIFY(imported.body.contains(stored.first().id));
        QCOMPARE(store.attachments.readFile(stored.first().id), files.first().bytes);
    }
}

void TestImporters::badArchivesChangeNothing_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("imported");
    QTest::addColumn<int>("errors");
    QTest::addColumn<int>("notebooks");
    QTest::addColumn<QString>("message");

    QFile sample(testSamplePath(QStringLiteral("joplin-small.jex")));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray jex = sample.readAll();
    const int joplin = int(ImportFormat::Joplin);
    const int noteStation = int(ImportFormat::NoteStation);
    const QByteArray nsx = makeTestArchive(TestArchiveKind::Zip,
        { { "config.json",
              json({ { "notebook", QJsonArray { "nb" } },
                  { "note", QJsonArray { "n1", "gone", "n2", "n3" } } }) },
            { "nb", json({ { "title", "Kept" } }) },
            { "n1", json({ { "title", "One" }, { "parent_id", "nb" } }) }, { "n2", "[1, 2]" },
            { "n3", "{\"title\": \"Three\"" } });

    QTest::addRow("truncated jex")
        << joplin << jex.left(jex.size() / 2) << 0 << 1 << 0 << "The archive is damaged";
    QTest::addRow("nsx given as jex") << joplin << nsx << 0 << 1 << 0 << "not a Joplin export";
    QTest::addRow("jex given as nsx") << noteStation << jex << 0 << 1 << 0 << "not a NoteStation";
    QTest::addRow("random bytes") << joplin << QByteArray(4096, '\x7f') << 0 << 1 << 0
                                  << "Failed to read archive";
    QTest::addRow("empty file") << noteStation << QByteArray() << 0 << 1 << 0
                                << "Failed to extract archive";
    QTest::addRow("truncated nsx")
        << noteStation << nsx.left(nsx.size() / 5) << 0 << 1 << 0 << "Failed to extract archive";
    QTest::addRow("config not an object")
        << noteStation << makeTestArchive(TestArchiveKind::Zip, { { "config.json", "[]" } }) << 0
        << 1 << 0 << "config.json";
    QTest::addRow("no config") << noteStation
                               << makeTestArchive(TestArchiveKind::Zip, { { "n1", "{}" } }) << 0
                               << 1 << 0 << "No config.json found in archive";
    QTest::addRow("tar without items")
        << joplin << makeTestArchive(TestArchiveKind::Tar, { { "readme.txt", "hi" } }) << 0 << 1
        << 0 << "Failed to read archive or archive is empty";
    // Per-note failures: the good notes are imported, the bad ones counted and named.
    QTest::addRow("missing and broken notes") << noteStation << nsx << 1 << 3 << 1 << "gone";
    QTest::addRow("note of 40 MB and text that is not UTF-8")
        << joplin
        << makeTestArchive(TestArchiveKind::Tar,
               { { "0123456789abcdef0123456789abcdef.md",
                     joplinItem("Big", QString(40 << 20, QLatin1Char('x')),
                         "0123456789abcdef0123456789abcdef", 1) },
                   { "11111111111111111111111111111111.md",
                       joplinItem("Latin", "cafX", "11111111111111111111111111111111", 1)
                           .replace("cafX", "caf\xe9") },
                   { "22222222222222222222222222222222.md",
                       joplinItem("Fine", "ok", "22222222222222222222222222222222", 1) } })
        << 1 << 2 << 0 << "larger than 32 MB";
    // Found by fuzzing: a folder whose only note is not UTF-8. The folder is whole and stays.
    QFile finding(testFindingPath(QStringLiteral("joplin-every-note-fails.bin")));
    QVERIFY(finding.open(QIODevice::ReadOnly));
    QTest::addRow("every note unreadable")
        << joplin << finding.readAll().mid(1) << 0 << 1 << 1 << "is not UTF-8 text";
}

void TestImporters::badArchivesChangeNothing()
{
    QFETCH(int, format);
    QFETCH(QByteArray, archive);
    QFETCH(int, imported);
    QFETCH(int, errors);
    QFETCH(int, notebooks);
    QFETCH(QString, message);

    TestStore store;
    QVERIFY(store.db.isValid());
    QVERIFY(store.notes.insert(TestDatabase::makeNote("[{\"insert\":\"Mine\\n\"}]")));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input"));
    QVERIFY(writeTestFile(path, archive));

    const ImportResult result = importerFor(ImportFormat(format))(store.target(), path, {});
    QVERIFY2(result.imported == imported, qPrintable(result.errorMessage));
    QCOMPARE(result.errors, errors);
    QVERIFY2(result.errorMessage.contains(message), qPrintable(result.errorMessage));
    QCOMPARE(store.noteCount(), 1 + imported);
    // A failed import leaves no half-made notebooks behind.
    QCOMPARE(store.notebooks.allNotebooks().size(), notebooks);
    QVERIFY(store.attachmentFiles().isEmpty());
    QCOMPARE(store.strayEntries(), QStringList());
}

void TestImporters::notesStoredWholeInArchiveOrder_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("notes");
    QTest::addColumn<int>("sharedWith");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("refused");

    const int joplin = int(ImportFormat::Joplin);
    QTest::addRow("nothing refused") << joplin << 40 << 4 << QString() << -1;
    QTest::addRow("note row refused")
        << joplin << 40 << 4
        << "CREATE TRIGGER refuse BEFORE INSERT ON notes WHEN new.body LIKE '%Note 20%' BEGIN "
           "SELECT RAISE(ABORT, 'refused'); END"
        << 20;
    // Note 3 refers to a file it shares with note 4, and to one whose row is refused after both
    // files were moved into place: the shared file must come back for note 4.
    QTest::addRow("attachment row refused after its files moved")
        << joplin << 40 << 4
        << "CREATE TRIGGER refuse BEFORE INSERT ON attachments WHEN new.filename = 'refused.png' "
           "BEGIN SELECT RAISE(ABORT, 'refused'); END"
        << 3;
    // The second note to show the file comes in a later transaction than the first.
    QTest::addRow("file shared across batches")
        << int(ImportFormat::NoteStation) << 510 << 505 << QString() << -1;
}

void TestImporters::notesStoredWholeInArchiveOrder()
{
    QFETCH(int, format);
    QFETCH(int, notes);
    QFETCH(int, sharedWith);
    QFETCH(QString, refusal);
    QFETCH(int, refused);

    const auto id = [](char kind, int n) {
        return QLatin1Char(kind) + QStringLiteral("%1").arg(n, 31, 10, QLatin1Char('0'));
    };
    const QHash<QString, QByteArray> files { { "shared.png", QByteArray(70000, 's') },
        { "refused.png", QByteArray(5000, 'r') }, { "own.png", QByteArray(3000, 'o') } };
    // Which files each note shows, by name.
    const QHash<int, QStringList> shown { { 3, { "shared.png", "refused.png" } },
        { sharedWith, { "shared.png" } }, { 12, { "own.png" } } };
    const auto fileId = [&](const QString &name) { return id('a', int(files[name].size())); };
    QList<TestArchiveMember> members;
    QJsonArray noteNames;
    for (auto file = files.begin(); file != files.end(); ++file) {
        if (format == int(ImportFormat::Joplin)) {
            members.append({ "resources/" + fileId(file.key()) + ".png", file.value() });
            members.append(
                { fileId(file.key()) + ".md", joplinItem(file.key(), {}, fileId(file.key()), 4) });
        } else {
            members.append({ "file_" + fileId(file.key()), file.value() });
        }
    }
    QStringList expectedOrder;
    for (int n = 0; n < notes; ++n) {
        const QString title = QStringLiteral("Note %1").arg(n);
        QString content = QStringLiteral("Body of note %1").arg(n);
        QJsonObject attachments;
        for (const QString &name : shown.value(n)) {
            content += QStringLiteral("\n\n![%1](:/%2)").arg(name, fileId(name));
            attachments.insert(name,
                QJsonObject { { "md5", fileId(name) }, { "name", name }, { "ext", "png" },
                    { "type", "image" } });
        }
        if (format == int(ImportFormat::Joplin)) {
            members.append({ id('b', n) + ".md", joplinItem(title, content, id('b', n), 1) });
        } else {
            noteNames.append(id('b', n));
            members.append({ id('b', n),
                json({ { "title", title },
                    { "content", "<p>Body of note " + QString::number(n) + "</p>" },
                    { "attachment", attachments } }) });
        }
        if (n != refused)
            expectedOrder << title;
    }
    if (format == int(ImportFormat::NoteStation))
        members.append(
            { "config.json", json({ { "notebook", QJsonArray() }, { "note", noteNames } }) });

    TestStore store;
    QVERIFY(store.db.isValid());
    QVERIFY(refusal.isEmpty() || store.db.exec(refusal));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes"));
    QVERIFY(writeTestFile(path,
        makeTestArchive(
            format == int(ImportFormat::Joplin) ? TestArchiveKind::Tar : TestArchiveKind::Zip,
            members)));

    const ImportResult result = importerFor(ImportFormat(format))(store.target(), path, {});
    QCOMPARE(result.imported, int(expectedOrder.size()));
    QCOMPARE(result.errors, refused < 0 ? 0 : 1);
    if (refused >= 0)
        QVERIFY2(result.errorMessage.contains(QStringLiteral("\"Note %1\"").arg(refused)),
            qPrintable(result.errorMessage));
    // Stored in the archive's order, whatever thread converted them.
    QSqlQuery query(store.db.database()->connection());
    QVERIFY(query.exec(QStringLiteral("SELECT body FROM notes ORDER BY rowid")));
    QStringList order;
    while (query.next())
        order << noteTitle(query.value(0).toString());
    QCOMPARE(order, expectedOrder);
    // Each found by its words, through the index rows written beside it.
    QCOMPARE(store.notes.searchListEntries(QStringLiteral("body")).size(), expectedOrder.size());
    QCOMPARE(store.db.scalar(QStringLiteral("SELECT count(*) FROM notes_text_fts WHERE "
                                            "notes_text_fts MATCH 'title:note'")),
        int(expectedOrder.size()));

    // Every attachment row has its file with the bytes of its resource, and no file is left over.
    QHash<QString, Note> byTitle;
    for (const Note &note : store.notes.allNotes())
        byTitle.insert(noteTitle(note.body), note);
    QStringList rows;
    for (int n = 0; n < notes; ++n) {
        const Note note = byTitle.value(QStringLiteral("Note %1").arg(n));
        QStringList names;
        for (const Attachment &attachment : store.attachments.attachmentsForNote(note.id)) {
            QFile file(store.attachments.filePath(attachment.id));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), files.value(attachment.filename));
            QCOMPARE(attachment.sizeBytes, files.value(attachment.filename).size());
            names << attachment.filename;
            rows << attachment.id;
        }
        names.sort();
        QStringList expected = n == refused ? QStringList() : shown.value(n);
        expected.sort();
        QCOMPARE(names, expected);
    }
    QCOMPARE(store.attachmentFiles().size(), rows.size());
    QCOMPARE(store.strayEntries(), QStringList());
}

QTEST_MAIN(TestImporters)
#include "tst_importers.moc"
