#include "testdatabase.h"

#include "attachmentrepository.h"
#include "noterepository.h"
#include "paths.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class TestAttachmentRepository : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void malformedIdsNeverReachFiles_data();
    void malformedIdsNeverReachFiles();
    void saveReadAndReplace();
    void readOfMissingFileIsEmpty();
    void rowsRoundTripAndPendingOrder();
    void deleteByIdWithoutFile();
    void deleteForNoteReportsAnyFailure();
    void purgedNoteLosesItsFiles();

private:
    Attachment makeAttachment(const QDateTime &createdAt = QDateTime::currentDateTimeUtc()) const;

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NoteRepository> m_notes;
    std::unique_ptr<AttachmentRepository> m_attachments;
    Note m_note;
};

void TestAttachmentRepository::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notes = std::make_unique<NoteRepository>(m_db->database());
    m_attachments
        = std::make_unique<AttachmentRepository>(m_db->database(), attachmentsDirectory());
    m_note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(m_note));
}

void TestAttachmentRepository::cleanup()
{
    m_attachments.reset();
    m_notes.reset();
    m_db.reset();
}

Attachment TestAttachmentRepository::makeAttachment(const QDateTime &createdAt) const
{
    Attachment attachment;
    attachment.id = newId();
    attachment.noteId = m_note.id;
    attachment.filename = "photo.png";
    attachment.mimeType = "image/png";
    attachment.sizeBytes = 5'000'000'000LL;
    attachment.createdAt = createdAt;
    return attachment;
}

void TestAttachmentRepository::malformedIdsNeverReachFiles_data()
{
    QTest::addColumn<QString>("id");
    QTest::addRow("empty") << QString();
    QTest::addRow("parent directory") << "..";
    QTest::addRow("path separators") << "../../../etc/passwd";
    QTest::addRow("backslash") << "..\\..\\client_id";
    QTest::addRow("upper-case hex") << "3F2B8C1E-7D4A-4C2B-9E1F-0A1B2C3D4E5F";
    QTest::addRow("braces") << "{3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5f}";
    QTest::addRow("trailing line break") << "3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5f\n";
    QTest::addRow("hyphens misplaced") << "3f2b8c1e7-d4a-4c2b-9e1f-0a1b2c3d4e5f";
    QTest::addRow("too short") << "3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5";
    QTest::addRow("non-hex letter") << "3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5g";
}

void TestAttachmentRepository::malformedIdsNeverReachFiles()
{
    QFETCH(QString, id);
    // A file next to the attachments directory that "../client_id" would reach if used as a path.
    const QString bait = m_db->dataPath() + "/client_id";
    {
        QFile file(bait);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
    }

    QVERIFY(!AttachmentRepository::isValidId(id));
    QVERIFY(m_attachments->filePath(id).isEmpty());
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^AttachmentRepository::saveFile invalid id:"));
    QVERIFY(!m_attachments->saveFile(id, "evil"));
    QVERIFY(m_attachments->readFile(id).isEmpty());
    QVERIFY(m_attachments->deleteById(id));
    Attachment attachment = makeAttachment();
    attachment.id = id;
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^AttachmentRepository::insert failed: invalid"));
    QVERIFY(!m_attachments->insert(attachment));

    QFile file(bait);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
    QCOMPARE(QDir(attachmentsDirectory()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestAttachmentRepository::saveReadAndReplace()
{
    const QString id = newId();
    QVERIFY(AttachmentRepository::isValidId(id));
    QCOMPARE(m_attachments->filePath(id), m_db->dataPath() + "/attachments/" + id);
    QByteArray bytes(100'000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31);
    QVERIFY(m_attachments->saveFile(id, bytes));
    QCOMPARE(m_attachments->readFile(id), bytes);
    QVERIFY(m_attachments->saveFile(id, "short"));
    QCOMPARE(m_attachments->readFile(id), QByteArray("short"));
    QVERIFY(m_attachments->saveFile(id, QByteArray()));
    QCOMPARE(QFileInfo(m_attachments->filePath(id)).size(), 0);
}

void TestAttachmentRepository::readOfMissingFileIsEmpty()
{
    QVERIFY(m_attachments->readFile(newId()).isEmpty());
}

void TestAttachmentRepository::rowsRoundTripAndPendingOrder()
{
    const QDateTime base(QDate(2024, 6, 1), QTime(8, 0, 0, 1), Qt::UTC);
    const Attachment later = makeAttachment(base.addSecs(10));
    const Attachment earlier = makeAttachment(base);
    Attachment synced = makeAttachment(base.addSecs(5));
    synced.syncStatus = SyncStatus::Synced;
    QSignalSpy changed(m_attachments.get(), &AttachmentRepository::attachmentsChanged);
    for (const Attachment &attachment : { later, earlier, synced })
        QVERIFY(m_attachments->insert(attachment));
    QCOMPARE(changed.count(), 3);

    const Attachment read = *m_attachments->attachmentById(earlier.id);
    QCOMPARE(read.noteId, m_note.id);
    QCOMPARE(read.filename, QString("photo.png"));
    QCOMPARE(read.mimeType, QString("image/png"));
    QCOMPARE(read.sizeBytes, 5'000'000'000LL);
    QCOMPARE(read.createdAt, base);
    QCOMPARE(read.syncStatus, SyncStatus::Pending);

    const QList<Attachment> pending = m_attachments->pendingAttachments();
    QCOMPARE(pending.size(), 2);
    QCOMPARE(pending.at(0).id, earlier.id);
    QCOMPARE(pending.at(1).id, later.id);
    QCOMPARE(m_attachments->attachmentsForNote(m_note.id).size(), 3);
    QCOMPARE(m_attachments->attachmentsForNote(m_note.id).first().id, earlier.id);

    QVERIFY(m_attachments->markSynced(earlier.id));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(m_attachments->pendingAttachments().size(), 1);

    Attachment orphan = makeAttachment();
    orphan.noteId = "no-such-note";
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^AttachmentRepository::insert failed: .*FOREIGN KEY"));
    QVERIFY(!m_attachments->insert(orphan));
}

void TestAttachmentRepository::deleteByIdWithoutFile()
{
    const Attachment attachment = makeAttachment();
    QVERIFY(m_attachments->insert(attachment));
    QSignalSpy changed(m_attachments.get(), &AttachmentRepository::attachmentsChanged);
    QVERIFY(m_attachments->deleteById(attachment.id));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!m_attachments->attachmentById(attachment.id));
}

void TestAttachmentRepository::deleteForNoteReportsAnyFailure()
{
    QVERIFY(m_attachments->deleteForNote(m_note.id));
    const Attachment first = makeAttachment();
    const Attachment second = makeAttachment();
    for (const Attachment &attachment : { first, second }) {
        QVERIFY(m_attachments->insert(attachment));
        QVERIFY(m_attachments->saveFile(attachment.id, "data"));
    }
    // The second row cannot go while a trigger refuses it; the first still does.
    QVERIFY(m_db->exec(QString("CREATE TEMP TRIGGER keep_second BEFORE DELETE ON attachments "
                               "WHEN old.id = '%1' BEGIN SELECT RAISE(ABORT, 'kept'); END")
                           .arg(second.id)));
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^AttachmentRepository::deleteById failed: .*kept"));
    QVERIFY(!m_attachments->deleteForNote(m_note.id));
    QVERIFY(!m_attachments->attachmentById(first.id));
    QVERIFY(!QFile::exists(m_attachments->filePath(first.id)));
    QVERIFY(m_attachments->attachmentById(second.id));
}

void TestAttachmentRepository::purgedNoteLosesItsFiles()
{
    const Attachment attachment = makeAttachment();
    QVERIFY(m_attachments->insert(attachment));
    QVERIFY(m_attachments->saveFile(attachment.id, "picture"));
    Note other = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(other));
    Attachment kept = makeAttachment();
    kept.noteId = other.id;
    QVERIFY(m_attachments->insert(kept));
    QVERIFY(m_attachments->saveFile(kept.id, "other"));

    // The wiring the application state uses.
    connect(m_notes.get(), &NoteRepository::notePurged, m_attachments.get(),
        &AttachmentRepository::deleteForNote);
    QVERIFY(m_notes->purge(m_note.id));
    QVERIFY(!QFile::exists(m_attachments->filePath(attachment.id)));
    QCOMPARE(m_attachments->readFile(kept.id), QByteArray("other"));
    QVERIFY(m_attachments->attachmentById(kept.id));
}

QTEST_GUILESS_MAIN(TestAttachmentRepository)
#include "tst_attachmentrepository.moc"
