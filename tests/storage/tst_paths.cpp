#include "testdatadir.h"

#include "paths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QRegularExpression kUuid(
    QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void environmentDirectoryIsCreatedAndUsedAsIs();
    void clientIdFromFile_data();
    void clientIdFromFile();
    void lostIdentifierAdoptsExistingDatabase();
    void unwritableIdentifierStaysStableForTheRun();
};

void TestPaths::environmentDirectoryIsCreatedAndUsedAsIs()
{
    TestDataDir dir;
    const QString nested = dir.filePath(QStringLiteral("a/b c/ü"));
    qputenv("NOTES_DATA_DIR", nested.toUtf8());
    QCOMPARE(dataDirectory(), nested);
    QVERIFY(QDir(nested).exists());
    QCOMPARE(attachmentsDirectory(), nested + QStringLiteral("/attachments"));
    QVERIFY(QDir(nested + QStringLiteral("/attachments")).exists());

    // Removed behind the program's back: the next request creates it again.
    QVERIFY(QDir(nested).removeRecursively());
    QCOMPARE(dataDirectory(), nested);
    QVERIFY(QDir(nested).exists());
}

void TestPaths::clientIdFromFile_data()
{
    const QByteArray id("3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5f");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expected"); // empty = a new identifier
    QTest::addRow("no file") << false << QByteArray() << QByteArray();
    QTest::addRow("plain identifier") << true << id << id;
    QTest::addRow("identifier with surrounding white space")
        << true << QByteArray(" \n\t" + id + "\r\n  ") << id;
    QTest::addRow("empty file") << true << QByteArray() << QByteArray();
    QTest::addRow("white space only") << true << QByteArray(" \n \t\n") << QByteArray();
    QTest::addRow("path outside the directory") << true << QByteArray("../../x") << QByteArray();
}

void TestPaths::clientIdFromFile()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expected);
    TestDataDir dir;
    const QString idFile = dir.filePath(QStringLiteral("client_id"));
    if (fileExists)
        QVERIFY(writeFile(idFile, content));
    if (content.contains('/'))
        QTest::ignoreMessage(
            QtWarningMsg, "client_id holds no usable identifier; making a new one");

    const QString id = clientId();
    if (expected.isEmpty()) {
        QVERIFY2(kUuid.match(id).hasMatch(), qPrintable(id));
        // Written without a line break, and read back on the next start.
        QCOMPARE(readFile(idFile), id.toUtf8());
    } else {
        QCOMPARE(id, QString::fromUtf8(expected));
        QCOMPARE(readFile(idFile), content);
    }
    QCOMPARE(clientId(), id);
    QCOMPARE(databasePath(),
        dir.path() + QStringLiteral("/brevaro_notes_") + id + QStringLiteral(".db"));
}

void TestPaths::lostIdentifierAdoptsExistingDatabase()
{
    TestDataDir dir;
    const QString existing = QStringLiteral("0b6a4d2e-1c3f-4a5b-8c7d-9e0f1a2b3c4d");
    QVERIFY(writeFile(dir.filePath(QStringLiteral("brevaro_notes_%1.db").arg(existing)), "x"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("brevaro_notes_not-an-id.db")), "x"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("client_id")), "  \n"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("client_id missing")));
    QCOMPARE(clientId(), existing);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("client_id"))), existing.toUtf8());
}

void TestPaths::unwritableIdentifierStaysStableForTheRun()
{
    TestDataDir dir;
    // A directory in the file's place can be neither read nor written, even by root.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("client_id")));

    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^Could not write client identifier")));
    const QString id = clientId();
    QVERIFY2(kUuid.match(id).hasMatch(), qPrintable(id));
    QCOMPARE(clientId(), id);
    QVERIFY(databasePath().endsWith(QStringLiteral("/brevaro_notes_%1.db").arg(id)));
}

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
