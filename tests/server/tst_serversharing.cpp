#include "serverharness.h"

#include "accountclient.h"
#include "apiclient.h"
#include "client.h"
#include "notesharingservice.h"
#include "testaccount.h"
#include "tokenmanager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>
#include <QtTest>

using BrevAccount::ShareMember;

// The program's sharing client against the notes server: the paths, bodies and replies of one
// side must be what the other serves and reads.
class TestServerSharing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void programSharesThroughTheServer_data();
    void programSharesThroughTheServer();

private:
    // A signed-in account client of the program for the given tokens.
    std::unique_ptr<BrevAccount::Client> clientFor(const ServerHarness::Tokens &tokens);
    QList<ShareMember> list(NoteSharingService &service, const QString &id);
    std::pair<bool, QString> share(NoteSharingService &service, const QString &id,
        const QString &target, const QString &permission);
    bool remove(NoteSharingService &service, const QString &id, const QString &target);
    QJsonObject bobsCopy(const QString &noteId);

    std::unique_ptr<ServerHarness> h;
    ServerHarness::Tokens alice;
    ServerHarness::Tokens bob;
};

void TestServerSharing::init()
{
    h = std::make_unique<ServerHarness>();
    QVERIFY2(h->start(), qPrintable(h->errorString()));
    QCOMPARE(
        h->addUser(QStringLiteral("alice@example.org"), QStringLiteral("alice secret")), QString());
    QCOMPARE(
        h->addUser(QStringLiteral("bob@example.org"), QStringLiteral("bobs secret")), QString());
    auto a = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("alice secret"));
    auto b = h->signIn(QStringLiteral("bob@example.org"), QStringLiteral("bobs secret"));
    QVERIFY(a && b);
    const auto code
        = h->send("POST", h->accountApi() + QStringLiteral("/group/invite"), {}, a->access);
    QCOMPARE(code.status, 201);
    QCOMPARE(h->send("POST",
                  h->accountApi() + QStringLiteral("/group/join/")
                      + code.json.value(QStringLiteral("invite_code")).toString(),
                  {}, b->access)
                 .status,
        200);
    // Fresh tokens name the group.
    a = h->refresh(a->refresh);
    b = h->refresh(b->refresh);
    QVERIFY(a && b);
    alice = *a;
    bob = *b;
}

void TestServerSharing::cleanup()
{
    h.reset();
}

std::unique_ptr<BrevAccount::Client> TestServerSharing::clientFor(
    const ServerHarness::Tokens &tokens)
{
    BrevAccount::ClientConfig config;
    config.authBaseUrl = h->url(QString()).toString();
    config.realmSlug = QStringLiteral("brevaro");
    config.accountApiUrl = h->url(h->accountApi()).toString();
    config.clientId = QStringLiteral("0123456789abcdef0123456789abcdef");
    config.appIdentifier = QStringLiteral("app.brevaro.notes.test");
    config.appVersion = QStringLiteral("1.1.0");
    auto store = std::make_unique<MemoryTokenStore>();
    store->save(accessKey, tokens.access);
    store->save(refreshKey, tokens.refresh);
    auto client = std::make_unique<BrevAccount::Client>(config, std::move(store));
    client->syncApi()->setBaseUrl(h->url(h->syncApi()));
    client->tokenManager()->load();
    return client;
}

QList<ShareMember> TestServerSharing::list(NoteSharingService &service, const QString &id)
{
    bool done = false;
    QList<ShareMember> result;
    service.listMembers(id, [&](const QList<ShareMember> &members) {
        done = true;
        result = members;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        qWarning("no share list");
    return result;
}

std::pair<bool, QString> TestServerSharing::share(NoteSharingService &service, const QString &id,
    const QString &target, const QString &permission)
{
    bool done = false;
    std::pair<bool, QString> result;
    service.shareWith(id, target, permission, [&](bool ok, const QString &error) {
        done = true;
        result = { ok, error };
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        qWarning("no share answer");
    return result;
}

bool TestServerSharing::remove(
    NoteSharingService &service, const QString &id, const QString &target)
{
    bool done = false;
    bool result = false;
    service.removeShare(id, target, [&](bool ok) {
        done = true;
        result = ok;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        qWarning("no remove answer");
    return result;
}

QJsonObject TestServerSharing::bobsCopy(const QString &noteId)
{
    const auto pulled = h->send("GET", h->syncApi() + QStringLiteral("/sync/pull"), {}, bob.access);
    const QJsonArray changes = pulled.json.value(QStringLiteral("changes")).toArray();
    for (const QJsonValue &change : changes) {
        if (change[QStringLiteral("id")].toString() == noteId)
            return change.toObject();
    }
    return {};
}

void TestServerSharing::programSharesThroughTheServer_data()
{
    QTest::addColumn<bool>("notebook");
    QTest::addRow("note") << false;
    QTest::addRow("notebook") << true;
}

void TestServerSharing::programSharesThroughTheServer()
{
    QFETCH(bool, notebook);
    const QString notebookId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString noteId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QCOMPARE(h->sendJson("POST", h->syncApi() + QStringLiteral("/notebooks"),
                  QJsonObject { { QStringLiteral("id"), notebookId },
                      { QStringLiteral("name"), QStringLiteral("Family") } },
                  alice.access)
                 .status,
        201);
    const QString body = QStringLiteral("[{\"insert\":\"Shopping\\n\"}]");
    const QJsonObject push { { QStringLiteral("changes"),
        QJsonArray { QJsonObject { { QStringLiteral("entity_type"), QStringLiteral("note") },
            { QStringLiteral("entity_id"), noteId },
            { QStringLiteral("action"), QStringLiteral("update") },
            { QStringLiteral("version"), 1 },
            { QStringLiteral("data"),
                QJsonObject { { QStringLiteral("body"), body },
                    { QStringLiteral("notebook_id"), notebookId },
                    { QStringLiteral("created_at"), 1700000000000LL },
                    { QStringLiteral("updated_at"), 1700000000000LL },
                    { QStringLiteral("modified_at"), 1700000000000LL } } } } } } };
    QCOMPARE(
        h->sendJson("POST", h->syncApi() + QStringLiteral("/sync/push"), push, alice.access).status,
        200);

    auto aliceClient = clientFor(alice);
    auto bobClient = clientFor(bob);
    const auto kind
        = notebook ? NoteSharingService::Kind::Notebooks : NoteSharingService::Kind::Notes;
    NoteSharingService alices(aliceClient->syncApi(), kind);
    NoteSharingService bobs(bobClient->syncApi(), kind);
    const QString shared = notebook ? notebookId : noteId;

    // Bob as the program finds him in alice's group.
    bool groupRead = false;
    QString bobTarget;
    aliceClient->accountClient()->getGroup([&](const BrevAccount::Group &group) {
        groupRead = true;
        for (const BrevAccount::GroupMember &member : group.members) {
            if (member.email == QLatin1String("bob@example.org"))
                bobTarget = alices.shareTargetId(member);
        }
    });
    QTRY_VERIFY(groupRead);
    QCOMPARE(
        bobTarget, ServerHarness::jwtPayload(bob.access).value(QStringLiteral("sub")).toString());

    QVERIFY(list(alices, shared).isEmpty());
    QCOMPARE(
        share(alices, shared, bobTarget, QStringLiteral("view")), std::make_pair(true, QString()));
    QList<ShareMember> members = list(alices, shared);
    QCOMPARE(members.size(), 1);
    QCOMPARE(members.first().sharedWithAccountId, bobTarget);
    QCOMPARE(members.first().sharedWithEmail, QStringLiteral("bob@example.org"));
    QCOMPARE(members.first().permission, QStringLiteral("view"));
    QVERIFY(QDateTime::fromString(members.first().createdAt, Qt::ISODateWithMs).isValid());
    QCOMPARE(
        bobsCopy(noteId).value(QStringLiteral("permission")).toString(), QStringLiteral("view"));

    // Only the owner manages the shares: the program shows the server's own words.
    const auto refused = share(bobs, shared, bobTarget, QStringLiteral("edit"));
    QCOMPARE(refused.first, false);
    QCOMPARE(refused.second, QStringLiteral("Only the owner can change sharing"));

    // Changing the permission is sharing again.
    QCOMPARE(share(alices, shared, bobTarget, QStringLiteral("owner")).first, true);
    members = list(alices, shared);
    QCOMPARE(members.size(), 1);
    QCOMPARE(members.first().permission, QStringLiteral("edit"));
    QCOMPARE(
        bobsCopy(noteId).value(QStringLiteral("permission")).toString(), QStringLiteral("edit"));

    QVERIFY(remove(alices, shared, bobTarget));
    QVERIFY(list(alices, shared).isEmpty());
    QVERIFY(!remove(alices, shared, bobTarget));
    QVERIFY(bobsCopy(noteId).value(QStringLiteral("deleted_at")).toInteger() > 0);
}

QTEST_GUILESS_MAIN(TestServerSharing)
#include "tst_serversharing.moc"
