#include "attachmentrepository.h"
#include "backup.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "snapshotrepository.h"
#include "testdatabase.h"
#include "teststore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <archive.h>
#include <archive_entry.h>

namespace {

// The shared store, with its notes in a fixed order for comparing two collections.
struct Store : TestStore
{
    QList<Note> everyNote() const
    {
        QList<Note> all = notes.allNotes() + notes.trashedNotes();
        std::sort(all.begin(), all.end(), [](const Note &a, const Note &b) { return a.id < b.id; });
        return all;
    }
};

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString bodyWithAttachment(const QString &text, const QString &attachmentId)
{
    return QStringLiteral("[{\"insert\":\"%1\\n\"},{\"insert\":{\"image\":\"brevaro-notes://"
                          "attachment/%2\"}},{\"insert\":\"\\n\"}]")
        .arg(text, attachmentId);
}

// What a note is as far as a backup carries it (sync status and op version are not carried).
QString describe(const Note &note)
{
    return QStringList { note.id, note.notebookId, note.body,
        note.createdAt.toString(Qt::ISODateWithMs), note.updatedAt.toString(Qt::ISODateWithMs),
        note.modifiedAt.toString(Qt::ISODateWithMs),
        note.deletedAt ? note.deletedAt->toString(Qt::ISODateWithMs) : QStringLiteral("-"),
        QString::number(note.version) }
        .join(QLatin1Char('|'));
}

struct Entry
{
    QString name;
    QByteArray bytes;
    unsigned int type = AE_IFREG;
    QByteArray linkTarget = {};
};

// An archive with exactly these entries, names unchecked, as a hostile tool would write it.
QByteArray makeZip(const QList<Entry> &entries)
{
    QByteArray out(8 * 1024 * 1024, '\0');
    size_t used = 0;
    struct archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_memory(a, out.data(), size_t(out.size()), &used);
    for (const Entry &e : entries) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.toUtf8().constData());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, 0644);
        if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry, e.linkTarget.constData());
        else
            archive_entry_set_size(entry, e.bytes.size());
        archive_write_header(a, entry);
        if (e.type == AE_IFREG)
            archive_write_data(a, e.bytes.constData(), size_t(e.bytes.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    out.truncate(int(used));
    return out;
}

const QByteArray Manifest = "{\"version\":1,\"exportedAt\":\"2026-01-02T03:04:05.006Z\","
                            "\"noteCount\":1,\"notebookCount\":0}";

QByteArray noteJson(const QString &id, const QJsonValue &version = 2,
    const QJsonValue &body = QStringLiteral("[{\"insert\":\"From backup\\n\"}]"))
{
    return QJsonDocument(
        QJsonObject { { QStringLiteral("id"), id }, { QStringLiteral("body"), body },
            { QStringLiteral("version"), version },
            { QStringLiteral("createdAt"), QStringLiteral("2026-01-02T03:04:05.006Z") } })
        .toJson();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TstBackup : public QObject
{
    Q_OBJECT

private slots:
    void roundTripIntoFreshDataDirectory();
    void overwriteRestoreRaisesVersions();
    void archiveMadeByZipProgramRestores();
    void hostileArchivesChangeNothing_data();
    void hostileArchivesChangeNothing();
    void cancelledBackupLeavesEarlierFile();
};

void TstBackup::roundTripIntoFreshDataDirectory()
{
    Store source;
    QVERIFY(source.db.isValid());
    const Notebook work = TestDatabase::makeNotebook(QStringLiteral("Work"));
    QVERIFY(source.notebooks.insert(work));
    const QString imageId = newId();
    const QByteArray imageBytes = QByteArray(300 * 1024, 'x') + QByteArray("\0tail", 5);
    Note withImage
        = TestDatabase::makeNote(bodyWithAttachment(QStringLiteral("Photo"), imageId), work.id);
    withImage.version = 4;
    Note unfiled = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"Ünïcode ✓\\n\"}]"));
    Note trashed = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"Old\\n\"}]"), work.id);
    QVERIFY(source.writer.insertNotes({ withImage, unfiled, trashed }));
    QVERIFY(source.writer.trashNote(trashed.id));
    Attachment image { imageId, withImage.id, QStringLiteral("holiday.png"),
        QStringLiteral("image/png"), imageBytes.size(), QDateTime::currentDateTimeUtc(),
        SyncStatus::Synced };
    QVERIFY(source.attachments.insert(image));
    QVERIFY(source.attachments.saveFile(imageId, imageBytes));
    SnapshotRepository snapshots(source.db.database());
    QVERIFY(snapshots.takeSnapshot(withImage, withImage.body));

    QTemporaryDir out;
    const QString zipPath = out.filePath(QStringLiteral("backup.zip"));
    QList<int> progressSeen;
    const ImportResult made = createBackup(zipPath, source.target(),
        [&](int current, int total, const QString &) { progressSeen << current << total; });
    QCOMPARE(made.errorMessage, QString());
    QCOMPARE(made.errors, 0);
    QCOMPARE(made.imported, 3);
    QVERIFY(!progressSeen.isEmpty());
    QCOMPARE(progressSeen.last(), progressSeen.at(progressSeen.size() - 2)); // ends at total

    // A plain ZIP for other tools, with the manifest and a trashed note as written by hand.
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (!unzip.isEmpty()) {
        QProcess check;
        check.start(unzip, { QStringLiteral("-t"), zipPath });
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.exitCode(), 0);
        QProcess manifest;
        manifest.start(unzip, { QStringLiteral("-p"), zipPath, QStringLiteral("manifest.json") });
        QVERIFY(manifest.waitForFinished(30000));
        const QJsonObject object
            = QJsonDocument::fromJson(manifest.readAllStandardOutput()).object();
        QCOMPARE(object.value(QStringLiteral("noteCount")).toInt(), 3);
        QCOMPARE(object.value(QStringLiteral("notebookCount")).toInt(), 1);
        QProcess note;
        note.start(unzip,
            { QStringLiteral("-p"), zipPath, QStringLiteral("notes/%1.json").arg(trashed.id) });
        QVERIFY(note.waitForFinished(30000));
        const QByteArray noteText = note.readAllStandardOutput();
        QVERIFY(noteText.startsWith("{\n    \"body\": "));
        QVERIFY(QJsonDocument::fromJson(noteText).object().contains(QStringLiteral("deletedAt")));
    }

    Store fresh;
    const ImportResult restored = restoreBackup(zipPath, fresh.target(), false);
    QCOMPARE(restored.errorMessage, QString());
    QCOMPARE(restored.errors, 0);
    QCOMPARE(restored.imported, 4); // one notebook, three notes
    QCOMPARE(restored.skipped, 0);
    const QList<Note> before = source.everyNote();
    const QList<Note> after = fresh.everyNote();
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i)
        QCOMPARE(describe(after[i]), describe(before[i]));
    QCOMPARE(fresh.notes.trashedNotes().size(), 1);
    QCOMPARE(fresh.notebooks.allNotebooks().size(), 1);
    QCOMPARE(fresh.notebooks.allNotebooks().first().name, work.name);
    QCOMPARE(fresh.attachments.readFile(imageId), imageBytes);
    const std::optional<Attachment> row = fresh.attachments.attachmentById(imageId);
    QVERIFY(row);
    QCOMPARE(row->filename, image.filename);
    QCOMPARE(row->mimeType, image.mimeType);
    QCOMPARE(row->noteId, withImage.id);
    QCOMPARE(row->sizeBytes, qint64(imageBytes.size()));

    // Restoring into a collection that has it all adds nothing and replaces no file.
    QVERIFY(source.attachments.saveFile(imageId, "changed locally"));
    const ImportResult again = restoreBackup(zipPath, source.target(), false);
    QCOMPARE(again.errors, 0);
    QCOMPARE(again.imported, 0);
    QCOMPARE(again.skipped, 4);
    QCOMPARE(source.attachments.readFile(imageId), QByteArray("changed locally"));
    QCOMPARE(source.attachmentFiles(), QStringList { imageId });
}

void TstBackup::overwriteRestoreRaisesVersions()
{
    Store store;
    Note note = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"Backed up\\n\"}]"));
    note.version = 3;
    const Notebook notebook = TestDatabase::makeNotebook(QStringLiteral("Home"));
    QVERIFY(store.notebooks.insert(notebook));
    QVERIFY(store.writer.insertNotes({ note }));
    QTemporaryDir out;
    const QString zipPath = out.filePath(QStringLiteral("b.zip"));
    QCOMPARE(createBackup(zipPath, store.target()).errors, 0);

    Note edited = *store.notes.noteById(note.id);
    edited.body = QStringLiteral("[{\"insert\":\"Edited later\\n\"}]");
    edited.version = 5;
    edited.syncStatus = SyncStatus::Synced;
    QVERIFY(store.notes.update(edited));
    const Note added = TestDatabase::makeNote();
    QVERIFY(store.writer.insertNotes({ added }));

    const ImportResult result = restoreBackup(zipPath, store.target(), true);
    QCOMPARE(result.errors, 0);
    QCOMPARE(result.imported, 1);
    QCOMPARE(result.skipped, 1); // the notebook's name and trash state are unchanged
    const Note stored = *store.notes.noteById(note.id);
    QCOMPARE(stored.version, 6);
    QCOMPARE(stored.body, note.body);
    QCOMPARE(stored.syncStatus, SyncStatus::Pending);
    QVERIFY(store.notes.noteById(added.id)); // what the backup lacks stays
}

void TstBackup::archiveMadeByZipProgramRestores()
{
    const QString zip = QStandardPaths::findExecutable(QStringLiteral("zip"));
    if (zip.isEmpty())
        QSKIP("the zip program is not installed (scripts/setup.sh installs it)");
    QTemporaryDir tree;
    const QString noteId = newId();
    const QString notebookId = newId();
    const QString fileId = newId();
    QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("notes")));
    QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("notebooks")));
    QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("attachments")));
    QVERIFY(writeFile(tree.filePath(QStringLiteral("manifest.json")), Manifest));
    const QJsonObject note { { QStringLiteral("id"), noteId },
        { QStringLiteral("notebookId"), notebookId },
        { QStringLiteral("body"), bodyWithAttachment(QStringLiteral("Scan"), fileId) },
        { QStringLiteral("createdAt"), QStringLiteral("2025-05-06T07:08:09.010Z") },
        { QStringLiteral("updatedAt"), QStringLiteral("2025-05-06T07:08:09.010Z") },
        { QStringLiteral("modifiedAt"), QStringLiteral("2025-05-06T07:08:09.010Z") },
        { QStringLiteral("version"), 7 } };
    QVERIFY(writeFile(tree.filePath(QStringLiteral("notes/%1.json").arg(noteId)),
        QJsonDocument(note).toJson(QJsonDocument::Indented)));
    const QJsonObject notebook { { QStringLiteral("id"), notebookId },
        { QStringLiteral("name"), QStringLiteral("Papers") },
        { QStringLiteral("isDefault"), false }, { QStringLiteral("isShared"), false },
        { QStringLiteral("ownerId"), QString() }, { QStringLiteral("version"), 1 } };
    QVERIFY(writeFile(tree.filePath(QStringLiteral("notebooks/%1.json").arg(notebookId)),
        QJsonDocument(notebook).toJson(QJsonDocument::Indented)));
    const QByteArray pdf = "%PDF-1.4\n% a scanned page\n";
    QVERIFY(writeFile(tree.filePath(QStringLiteral("attachments/") + fileId), pdf));
    QVERIFY(writeFile(tree.filePath(QStringLiteral("attachments/notes.txt")), "not an id"));

    QTemporaryDir out;
    const QString zipPath = out.filePath(QStringLiteral("by-hand.zip"));
    QProcess process;
    process.setWorkingDirectory(tree.path());
    process.start(zip, { QStringLiteral("-r"), zipPath, QStringLiteral(".") });
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);

    Store store;
    const ImportResult result = restoreBackup(zipPath, store.target(), false);
    QCOMPARE(result.errorMessage, QString());
    QCOMPARE(result.imported, 2);
    QCOMPARE(result.skipped, 1); // the attachment entry not named by an id
    const std::optional<Note> restored = store.notes.noteById(noteId);
    QVERIFY(restored);
    QCOMPARE(restored->version, 7);
    QCOMPARE(restored->notebookId, notebookId);
    QCOMPARE(restored->createdAt,
        QDateTime::fromString(QStringLiteral("2025-05-06T07:08:09.010Z"), Qt::ISODateWithMs));
    QCOMPARE(store.notebooks.notebookById(notebookId)->name, QStringLiteral("Papers"));
    QCOMPARE(store.attachmentFiles(), QStringList { fileId });
    // Older archives carry no attachment records: the note that refers to the file gets one.
    const std::optional<Attachment> row = store.attachments.attachmentById(fileId);
    QVERIFY(row);
    QCOMPARE(row->noteId, noteId);
    QCOMPARE(row->sizeBytes, qint64(pdf.size()));
    QCOMPARE(row->mimeType, QStringLiteral("application/pdf"));
}

void TstBackup::hostileArchivesChangeNothing_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("message");

    const QString id = newId();
    const QByteArray note = noteJson(id);
    const QByteArray valid = makeZip({ { QStringLiteral("manifest.json"), Manifest },
        { QStringLiteral("notes/%1.json").arg(id), note },
        { QStringLiteral("attachments/") + newId(), QByteArray(4096, 'a') } });

    QTest::addRow("parent climb")
        << makeZip({ { QStringLiteral("manifest.json"), Manifest },
               { QStringLiteral("attachments/../../escaped"), "x" } })
        << QStringLiteral("The backup contains an unsafe entry: attachments/../../escaped");
    QTest::addRow("absolute name")
        << makeZip({ { QStringLiteral("manifest.json"), Manifest },
               { QStringLiteral("/tmp/escaped.json"), "{}" } })
        << QStringLiteral("The backup contains an unsafe entry: /tmp/escaped.json");
    QTest::addRow("drive letter") << makeZip({ { QStringLiteral("C:/escaped"), "x" } })
                                  << QStringLiteral(
                                         "The backup contains an unsafe entry: C:/escaped");
    QTest::addRow("backslashes")
        << makeZip({ { QStringLiteral("notes\\..\\..\\escaped"), "x" } })
        // the reader turns DOS separators into slashes; the climb is refused either way
        << QStringLiteral("The backup contains an unsafe entry: notes/../../escaped");
    const QString linkName = QStringLiteral("attachments/") + newId();
    QTest::addRow("symbolic link")
        << makeZip({ { QStringLiteral("manifest.json"), Manifest },
               { linkName, {}, AE_IFLNK, "/etc/passwd" } })
        << QStringLiteral("The backup contains an unsafe entry: ") + linkName;
    QTest::addRow("truncated") << valid.left(valid.size() / 2)
                               << QStringLiteral("Failed to extract backup");
    QTest::addRow("not a zip") << QByteArray("just some text, not an archive\n")
                               << QStringLiteral("Failed to extract backup");
    QTest::addRow("empty file") << QByteArray() << QStringLiteral("Failed to extract backup");
    QTest::addRow("no manifest") << makeZip({ { QStringLiteral("notes/%1.json").arg(id), note } })
                                 << QStringLiteral("No manifest.json found");
    QTest::addRow("manifest not JSON")
        << makeZip({ { QStringLiteral("manifest.json"), "version=1" },
               { QStringLiteral("notes/%1.json").arg(id), note } })
        << QStringLiteral("manifest.json is not a backup manifest");
    QTest::addRow("note not an object") << makeZip({ { QStringLiteral("manifest.json"), Manifest },
        { QStringLiteral("notes/x.json"), "[1, 2]" } })
                                        << QStringLiteral("notes/x.json is not a JSON object");
    QTest::addRow("note with wrong types")
        << makeZip({ { QStringLiteral("manifest.json"), Manifest },
               { QStringLiteral("notes/%1.json").arg(id), noteJson(id, QStringLiteral("three")) } })
        << QStringLiteral("notes/%1.json is not a valid note").arg(id);
    QTest::addRow("body not delta") << makeZip({ { QStringLiteral("manifest.json"), Manifest },
        { QStringLiteral("notes/%1.json").arg(id),
            noteJson(id, 1, QStringLiteral("<p>html</p>")) } })
                                    << QStringLiteral("notes/%1.json is not a valid note").arg(id);

    // The same note entry, its declared size raised past any sane limit in both headers.
    QByteArray huge = makeZip({ { QStringLiteral("manifest.json"), Manifest },
        { QStringLiteral("notes/%1.json").arg(id), note } });
    const QByteArray sizeBytes = QByteArray::fromHex("ffffff7f");
    for (const char *signature : { "PK\x03\x04", "PK\x01\x02" }) {
        const int offset = signature[2] == '\x03' ? 22 : 24;
        int at = huge.lastIndexOf(QByteArray(signature, 4));
        QVERIFY(at >= 0);
        huge.replace(at + offset, 4, sizeBytes);
    }
    QTest::addRow("huge declared size")
        << huge << QStringLiteral("The backup entry notes/%1.json is too large").arg(id);
}

void TstBackup::hostileArchivesChangeNothing()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, message);

    Store store;
    Note kept = TestDatabase::makeNote(QStringLiteral("[{\"insert\":\"Keep me\\n\"}]"));
    QVERIFY(store.writer.insertNotes({ kept }));
    const QString keptFile = newId();
    QVERIFY(store.attachments.saveFile(keptFile, "kept bytes"));
    const QString before = describe(*store.notes.noteById(kept.id));

    QTemporaryDir out;
    const QString zipPath = out.filePath(QStringLiteral("hostile.zip"));
    QVERIFY(writeFile(zipPath, archive));
    for (bool overwrite : { false, true }) {
        const ImportResult result = restoreBackup(zipPath, store.target(), overwrite);
        QCOMPARE(result.errorMessage, message);
        QCOMPARE(result.errors, 1);
        QCOMPARE(result.imported, 0);
    }
    QCOMPARE(store.everyNote().size(), 1);
    QCOMPARE(describe(*store.notes.noteById(kept.id)), before);
    QCOMPARE(store.attachmentFiles(), QStringList { keptFile });
    QCOMPARE(store.attachments.readFile(keptFile), QByteArray("kept bytes"));
    // Nothing landed beside the data directory either.
    const QStringList beside
        = QDir(store.db.dataPath())
              .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY2(!beside.join(QLatin1Char(',')).contains(QLatin1String("escaped")),
        qPrintable(beside.join(QLatin1Char(','))));
    QVERIFY(!QFileInfo::exists(QDir(store.db.dataPath()).filePath(QStringLiteral("../escaped"))));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/escaped.json")));
}

void TstBackup::cancelledBackupLeavesEarlierFile()
{
    Store store;
    QList<Note> many;
    for (int i = 0; i < 20; ++i)
        many.append(TestDatabase::makeNote());
    QVERIFY(store.writer.insertNotes(many));
    QVERIFY(store.attachments.saveFile(newId(), QByteArray(2 * 1024 * 1024, 'z')));
    QTemporaryDir out;
    const QString zipPath = out.filePath(QStringLiteral("backup.zip"));
    QVERIFY(writeFile(zipPath, "an earlier backup"));

    int asked = 0;
    const ImportResult result
        = createBackup(zipPath, store.target(), {}, [&] { return ++asked > 10; });
    QCOMPARE(result.errors, 1);
    QCOMPARE(result.errorMessage, QStringLiteral("Backup cancelled"));
    QFile earlier(zipPath);
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("an earlier backup"));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList { QStringLiteral("backup.zip") });

    // An unwritable destination is a message, not a crash or a success.
    const ImportResult blocked
        = createBackup(out.filePath(QStringLiteral("missing/dir/b.zip")), store.target());
    QCOMPARE(blocked.errors, 1);
    QVERIFY(blocked.errorMessage.startsWith(QStringLiteral("Failed to create ZIP: ")));
}

QTEST_GUILESS_MAIN(TstBackup)
#include "tst_backup.moc"
