#include "singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

// Each test gets its own TMPDIR, which is where the per-user socket directory is made.
class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void messagesReachTheFirstInstance_data();
    void messagesReachTheFirstInstance();
    void socketLivesInPrivateDirectory();
    void plantedSymlinkIsRefused();
    void looseDirectoryIsMadePrivate();
    void staleSocketIsReplaced();

private:
    QString socketDirectory() const;

    std::unique_ptr<QTemporaryDir> m_tempDir;
    QByteArray m_previousTmp;
};

void tst_SingleInstance::init()
{
    m_tempDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tempDir->isValid());
    m_previousTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(m_tempDir->path()));
    QCOMPARE(QDir::tempPath(), m_tempDir->path());
}

void tst_SingleInstance::cleanup()
{
    qputenv("TMPDIR", m_previousTmp);
    m_tempDir.reset();
}

QString tst_SingleInstance::socketDirectory() const
{
    return m_tempDir->path() + QStringLiteral("/brevaro-notes-%1").arg(::getuid());
}

void tst_SingleInstance::messagesReachTheFirstInstance_data()
{
    QTest::addColumn<QString>("message");
    QTest::addRow("new note") << "new-note";
    QTest::addRow("note id") << "note:6f1c1f0e-2b7a-4a57-9d51-1c4b8f0c2d11";
    QTest::addRow("empty message") << "";
    QTest::addRow("non-ASCII") << "note:ünïcödé";
    QTest::addRow("larger than one read") << QString(40000, QLatin1Char('n'));
}

void tst_SingleInstance::messagesReachTheFirstInstance()
{
    QFETCH(QString, message);

    SingleInstance first("brevaro-notes-instance");
    QVERIFY(first.tryBecomePrimary("focus"));
    QVERIFY(first.isListening());
    QSignalSpy received(&first, &SingleInstance::messageReceived);

    SingleInstance second("brevaro-notes-instance");
    QVERIFY(!second.tryBecomePrimary(message));
    QVERIFY(!second.isListening());

    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toString(), message);
    // One message per connection, however the bytes were split or the close was noticed.
    QTest::qWait(50);
    QCOMPARE(received.count(), 1);
}

void tst_SingleInstance::socketLivesInPrivateDirectory()
{
    SingleInstance instance("brevaro-notes-instance");
    QVERIFY(instance.tryBecomePrimary("focus"));
    QCOMPARE(instance.socketPath(), socketDirectory() + "/brevaro-notes-instance");

    struct stat info;
    QCOMPARE(::lstat(QFile::encodeName(socketDirectory()).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_uid, ::getuid());
    QCOMPARE(int(info.st_mode & 0777), 0700);
    QVERIFY(QFileInfo::exists(instance.socketPath()));
}

void tst_SingleInstance::plantedSymlinkIsRefused()
{
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    QVERIFY(QFile::link(elsewhere.path(), socketDirectory()));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not a directory owned by this user"));
    SingleInstance instance("brevaro-notes-instance");
    QVERIFY(instance.socketPath().isEmpty());
    QVERIFY(instance.tryBecomePrimary("focus"));
    QVERIFY(!instance.isListening());
    QVERIFY(QDir(elsewhere.path()).isEmpty());
}

void tst_SingleInstance::looseDirectoryIsMadePrivate()
{
    QVERIFY(QDir().mkpath(socketDirectory()));
    QVERIFY(::chmod(QFile::encodeName(socketDirectory()).constData(), 0777) == 0);

    SingleInstance instance("brevaro-notes-instance");
    QVERIFY(instance.tryBecomePrimary("focus"));
    QVERIFY(instance.isListening());
    struct stat info;
    QCOMPARE(::lstat(QFile::encodeName(socketDirectory()).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
}

void tst_SingleInstance::staleSocketIsReplaced()
{
    {
        SingleInstance crashed("brevaro-notes-instance");
        QVERIFY(crashed.tryBecomePrimary("focus"));
    }
    // A crash leaves the socket file behind; plant one where the server would listen.
    QVERIFY(QDir().mkpath(socketDirectory()));
    QFile stale(socketDirectory() + "/brevaro-notes-instance");
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();

    SingleInstance instance("brevaro-notes-instance");
    QVERIFY(instance.tryBecomePrimary("focus"));
    QVERIFY(instance.isListening());
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
