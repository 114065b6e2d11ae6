#ifndef _WIN32
// GLib's headers use the word "signals", which Qt defines as a macro: include them first.
#include <libsecret/secret.h>
#endif

#include "filetokenstore.h"
#include "secretservicetokenstore.h"
#include "tokenstore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace BrevAccount;

namespace {

const QString accessKey = QString::fromLatin1(AccessTokenKey);
const QString refreshKey = QString::fromLatin1(RefreshTokenKey);
constexpr auto OwnerFile
    = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
constexpr auto OwnerDirectory = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
    | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

// Sets an environment variable for one scope and puts the old value back afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

class TestTokenStore : public QObject
{
    Q_OBJECT

private slots:
    void fileStoreIsOwnerOnly_data();
    void fileStoreIsOwnerOnly();
    void fallsBackToFileWithoutSecretService_data();
    void fallsBackToFileWithoutSecretService();
    void secretServiceStore();
    void cleanupTestCase();

private:
    QProcess m_bus;
    QProcess m_keyring;
};

void TestTokenStore::fileStoreIsOwnerOnly_data()
{
    QTest::addColumn<QString>("existing"); // what was there before

    QTest::addRow("fresh directory") << "";
    QTest::addRow("directory open to others") << "open directory";
    QTest::addRow("file open to others") << "open file";
    QTest::addRow("damaged file") << "damaged file";
}

void TestTokenStore::fileStoreIsOwnerOnly()
{
#ifdef Q_OS_WIN
    QSKIP("Unix permissions");
#endif
    QFETCH(QString, existing);
    QTemporaryDir root;
    const QString dir = root.filePath("config/credentials");
    const QString file = dir + "/tokens.json";
    if (!existing.isEmpty()) {
        QVERIFY(QDir().mkpath(dir));
        QFile::setPermissions(dir,
            OwnerDirectory | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                | QFile::ExeOther);
    }
    if (existing == "open file" || existing == "damaged file") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(existing == "open file" ? R"({"brevaro_refresh_token":"r0"})" : "{\"brev");
        f.close();
        QFile::setPermissions(file, OwnerFile | QFile::ReadGroup | QFile::ReadOther);
    }

    FileTokenStore store(dir);
    const auto before = store.load(refreshKey);
    QCOMPARE(before.has_value(), existing == "open file");
    if (existing == "open file") {
        QCOMPARE(*before, "r0");
        QCOMPARE(QFile::permissions(file), OwnerFile);
    }

    QVERIFY(store.save(accessKey, "a1"));
    QVERIFY(store.save(refreshKey, "r1"));
    QCOMPARE(QFile::permissions(file), OwnerFile);
    QCOMPARE(QFile::permissions(dir), OwnerDirectory);
    // Written through a temporary file that was renamed: nothing else is left beside it.
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList { "tokens.json" });

    FileTokenStore reopened(dir);
    QCOMPARE(reopened.load(accessKey).value_or(QString()), "a1");
    QCOMPARE(reopened.load(refreshKey).value_or(QString()), "r1");
    QVERIFY(reopened.clear());
    QVERIFY(!reopened.load(accessKey).has_value());
    QVERIFY(!QFile::exists(file));
}

void TestTokenStore::fallsBackToFileWithoutSecretService_data()
{
    QTest::addColumn<QByteArray>("busAddress");
    QTest::addColumn<QByteArray>("runtimeDir");

    QTest::addRow("no session bus") << QByteArray() << QByteArray();
    QTest::addRow("bus nobody listens on")
        << QByteArray("unix:path=/nonexistent/brevaro-test-bus") << QByteArray("/nonexistent");
}

void TestTokenStore::fallsBackToFileWithoutSecretService()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps the tokens in the Credential Manager");
#endif
    QFETCH(QByteArray, busAddress);
    QFETCH(QByteArray, runtimeDir);
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", busAddress);
    ScopedEnv runtime("XDG_RUNTIME_DIR", runtimeDir);
    QTemporaryDir root;
    const QString dir = root.filePath("credentials");

    std::unique_ptr<TokenStore> store = createTokenStore("app.brevaro.notes.test", dir);
    auto *file = dynamic_cast<FileTokenStore *>(store.get());
    QVERIFY(file);
    QVERIFY(store->save(refreshKey, "r1"));
    QCOMPARE(file->filePath(), dir + "/tokens.json");
    QVERIFY(QFile::exists(file->filePath()));
}

void TestTokenStore::secretServiceStore()
{
#ifdef Q_OS_WIN
    QSKIP("No Secret Service on Windows");
#else
    const QString busDaemon = QStandardPaths::findExecutable("dbus-daemon");
    const QString keyringDaemon = QStandardPaths::findExecutable("gnome-keyring-daemon");
    if (busDaemon.isEmpty() || keyringDaemon.isEmpty())
        QSKIP("dbus-daemon and gnome-keyring-daemon are needed to start a private Secret Service");

    // A private session bus and keyring, so the test never touches the user's own keyring.
    static QTemporaryDir home;
    QDir(home.path()).mkpath("run");
    QFile::setPermissions(home.filePath("run"), OwnerDirectory);
    // No service activation on this bus: the keyring started below is the only Secret Service.
    QFile config(home.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(
        "<busconfig><type>session</type><listen>unix:tmpdir=" + QFile::encodeName(home.path())
        + "</listen><policy context=\"default\">"
          "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
          "<allow own=\"*\"/></policy></busconfig>");
    config.close();
    m_bus.start(
        busDaemon, { "--config-file=" + config.fileName(), "--nofork", "--print-address=1" });
    if (!m_bus.waitForStarted() || !m_bus.waitForReadyRead(5000))
        QSKIP("could not start a private session bus");
    const QByteArray address = m_bus.readLine().trimmed();
    QVERIFY(!address.isEmpty());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(address));
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_RUNTIME_DIR", home.filePath("run"));
    m_keyring.setProcessEnvironment(env);
    m_keyring.start(keyringDaemon, { "--foreground", "--unlock", "--components=secrets" });
    if (!m_keyring.waitForStarted())
        QSKIP("could not start gnome-keyring-daemon");
    m_keyring.write("test-password");
    m_keyring.closeWriteChannel();

    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QTRY_VERIFY_WITH_TIMEOUT(SecretServiceTokenStore::isAvailable(), 10000);

    const QString appId = "app.brevaro.notes.test";
    std::unique_ptr<TokenStore> store = createTokenStore(appId, home.filePath("unused"));
    QVERIFY(dynamic_cast<SecretServiceTokenStore *>(store.get()));
    QVERIFY(!store->load(accessKey).has_value());
    QVERIFY(store->save(accessKey, "a1"));
    QVERIFY(store->save(refreshKey, "r1"));
    QVERIFY(store->save(refreshKey, "r2")); // replaces, never duplicates
    QCOMPARE(store->load(accessKey).value_or(QString()), "a1");
    QCOMPARE(store->load(refreshKey).value_or(QString()), "r2");
    QVERIFY(!QFile::exists(home.filePath("unused")));

    // The item as other keyring tools see it: one per key, labelled for the user.
    GHashTable *attributes = g_hash_table_new(g_str_hash, g_str_equal);
    const QByteArray appIdBytes = appId.toUtf8();
    g_hash_table_insert(attributes, (gpointer) "application", (gpointer)appIdBytes.constData());
    g_hash_table_insert(attributes, (gpointer) "key", (gpointer)RefreshTokenKey);
    GError *error = nullptr;
    GList *items = secret_service_search_sync(
        nullptr, nullptr, attributes, SecretSearchFlags(SECRET_SEARCH_ALL), nullptr, &error);
    g_hash_table_unref(attributes);
    QVERIFY(!error);
    QCOMPARE(g_list_length(items), 1u);
    gchar *label = secret_item_get_label(SECRET_ITEM(items->data));
    QCOMPARE(QString::fromUtf8(label), "Brevaro Notes");
    g_free(label);
    g_list_free_full(items, g_object_unref);

    QVERIFY(store->clear());
    QVERIFY(!store->load(accessKey).has_value());
    QVERIFY(!store->load(refreshKey).has_value());
#endif
}

void TestTokenStore::cleanupTestCase()
{
    for (QProcess *process : { &m_keyring, &m_bus }) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
        }
    }
}

QTEST_GUILESS_MAIN(TestTokenStore)
#include "tst_tokenstore.moc"
