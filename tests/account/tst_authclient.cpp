#include "accountfixture.h"
#include "webauthhandler.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

using namespace BrevAccount;

namespace {

// Plays a browser tab: one connection, one request (or none), the whole answer collected.
class BrowserConnection
{
public:
    BrowserConnection(const QHostAddress &address, quint16 port, const QByteArray &target)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket,
            [this] { m_response += m_socket.readAll(); });
        m_socket.connectToHost(address, port);
        if (!target.isNull())
            m_socket.write("GET " + target + " HTTP/1.1\r\nHost: localhost:"
                + QByteArray::number(port) + "\r\nAccept: text/html\r\n\r\n");
    }
    bool finished() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    QByteArray response() const { return m_response; }

private:
    QTcpSocket m_socket;
    QByteArray m_response;
};

} // namespace

class TestAuthClient : public QObject
{
    Q_OBJECT

private slots:
    void refreshOutcome_data();
    void refreshOutcome();
    void initializeRestoresSession_data();
    void initializeRestoresSession();
    void logoutDuringRefresh();
    void browserSignIn_data();
    void browserSignIn();
};

void TestAuthClient::refreshOutcome_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("storedAccess"); // "new", "old" or empty
    QTest::addColumn<QString>("storedRefresh");

    const QString fresh = makeJwt(7200);
    QTest::addRow("rotated tokens")
        << AccountFixture::tokens(fresh, "refresh-2") << true << true << "new"
        << "refresh-2";
    QTest::addRow("no new refresh token keeps the old one")
        << AccountFixture::tokens(fresh, QString()) << true << true << "new"
        << "refresh-1";
    QTest::addRow("2xx without access token")
        << ScriptedReply::json(200, { { "refresh_token", "refresh-2" } }) << false << true << "old"
        << "refresh-1";
    QTest::addRow("access token of the wrong type")
        << ScriptedReply::json(200, { { "access_token", 5 }, { "refresh_token", "refresh-2" } })
        << false << true << "old"
        << "refresh-1";
    QTest::addRow("access token not a JWT")
        << ScriptedReply::json(200, { { "access_token", "abc.%%%.x" } }) << false << true << "old"
        << "refresh-1";
    QTest::addRow("reply not JSON")
        << ScriptedReply::raw(200, "<html>ok</html>", "text/html") << false << true << "old"
        << "refresh-1";
    QTest::addRow("401 refused") << ScriptedReply::json(401, {}) << false << false << ""
                                 << "";
    QTest::addRow("400 refused") << ScriptedReply::json(400, { { "error", "invalid_grant" } })
                                 << false << false << ""
                                 << "";
    QTest::addRow("408 busy") << ScriptedReply::json(408, {}) << false << true << "old"
                              << "refresh-1";
    QTest::addRow("429 busy") << ScriptedReply::json(429, {}) << false << true << "old"
                              << "refresh-1";
    QTest::addRow("503 down") << ScriptedReply::json(503, {}) << false << true << "old"
                              << "refresh-1";
    QTest::addRow("no answer") << ScriptedReply::never() << false << true << "old"
                               << "refresh-1";
}

void TestAuthClient::refreshOutcome()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, success);
    QFETCH(bool, signedIn);
    QFETCH(QString, storedAccess);
    QFETCH(QString, storedRefresh);

    AccountFixture f;
    const QString old = makeJwt(3600);
    f.signIn(old, "refresh-1");
    f.client->initialize();
    QCOMPARE(f.client->authState(), Authenticated);
    const QString fresh = reply.body.contains("access_token")
        ? QJsonDocument::fromJson(reply.body).object().value("access_token").toString()
        : QString();
    f.answerRefresh(reply);

    int calls = 0;
    bool result = !success;
    f.client->authClient()->refreshToken([&](bool ok) {
        ++calls;
        result = ok;
    });
    QTRY_COMPARE(calls, 1);
    QCOMPARE(result, success);
    QCOMPARE(f.client->isAuthenticated(), signedIn);
    const QString expectedAccess = storedAccess == "new" ? fresh
        : storedAccess == "old"                          ? old
                                                         : QString();
    QCOMPARE(f.stored.value(accessKey), expectedAccess);
    QCOMPARE(f.stored.value(refreshKey), storedRefresh);
    QCOMPARE(f.client->tokenManager()->accessToken(), expectedAccess);
    const RecordedRequest request = f.server.requests(AccountFixture::refreshPath()).value(0);
    QCOMPARE(request.json().value("refresh_token").toString(), "refresh-1");
    QVERIFY(request.header("authorization").isEmpty());
}

void TestAuthClient::initializeRestoresSession_data()
{
    QTest::addColumn<qint64>("accessLifetime"); // 0: no access token stored
    QTest::addColumn<QString>("refresh");
    QTest::addColumn<ScriptedReply>("refreshReply");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("refreshRequests");
    QTest::addColumn<bool>("keptTokens");

    const auto fresh = AccountFixture::tokens(makeJwt(7200), "refresh-2");
    QTest::addRow("fresh token") << qint64(3600) << "refresh-1" << fresh << int(Authenticated) << 0
                                 << true;
    QTest::addRow("stale token refreshed")
        << qint64(20) << "refresh-1" << fresh << int(Authenticated) << 1 << true;
    QTest::addRow("only a refresh token")
        << qint64(0) << "refresh-1" << fresh << int(Authenticated) << 1 << true;
    QTest::addRow("offline stays signed in")
        << qint64(-60) << "refresh-1" << ScriptedReply::json(503, {}) << int(Authenticated) << 1
        << true;
    QTest::addRow("refused signs out") << qint64(-60) << "refresh-1" << ScriptedReply::json(401, {})
                                       << int(Unauthenticated) << 1 << false;
    QTest::addRow("nothing stored")
        << qint64(0) << "" << fresh << int(Unauthenticated) << 0 << false;
}

void TestAuthClient::initializeRestoresSession()
{
    QFETCH(qint64, accessLifetime);
    QFETCH(QString, refresh);
    QFETCH(ScriptedReply, refreshReply);
    QFETCH(int, state);
    QFETCH(int, refreshRequests);
    QFETCH(bool, keptTokens);

    AccountFixture f;
    if (accessLifetime != 0)
        f.stored.insert(accessKey, makeJwt(accessLifetime));
    if (!refresh.isEmpty())
        f.stored.insert(refreshKey, refresh);
    f.answerRefresh(refreshReply);
    QSignalSpy states(f.client.get(), &Client::authStateChanged);
    f.client->initialize();
    QTRY_COMPARE(states.size(), 1);
    QCOMPARE(states.first().first().value<AuthState>(), AuthState(state));
    QCOMPARE(f.server.count(AccountFixture::refreshPath()), refreshRequests);
    QCOMPARE(f.stored.contains(refreshKey), keptTokens);
}

void TestAuthClient::logoutDuringRefresh()
{
    AccountFixture f;
    const QString access = makeJwt(3600);
    f.signIn(access, "refresh-1");
    f.client->initialize();
    f.answerRefresh(ScriptedReply::held(
        200, { { "access_token", makeJwt(7200) }, { "refresh_token", "refresh-2" } }));
    f.server.setReply("GET", "/sync/v1/notes", ScriptedReply::json(401, {}));
    f.server.setReply("POST", "/api/v1/realms/brevaro/auth/logout", ScriptedReply::json(401, {}));
    Outcome outcome;
    f.client->syncApi()->get("/notes", outcome.callback());
    QTRY_COMPARE(f.server.heldCount(), 1);

    QSignalSpy completed(f.client->authClient(), &AuthClient::logoutCompleted);
    f.client->authClient()->logout();
    QCOMPARE(completed.size(), 1);
    QCOMPARE(f.client->authState(), Unauthenticated);
    QVERIFY(f.stored.isEmpty());
    QTRY_COMPARE(f.server.count("/api/v1/realms/brevaro/auth/logout"), 1);
    const RecordedRequest logout = f.server.requests("/api/v1/realms/brevaro/auth/logout").first();
    QCOMPARE(logout.header("authorization"), "Bearer " + access.toLatin1());
    QVERIFY(logout.body.isEmpty());

    // The refresh that was already on its way must not bring the session back.
    QCOMPARE(f.server.releaseHeld(), 1);
    QTRY_COMPARE(outcome.calls, 1);
    QCOMPARE(outcome.status, 401);
    QTest::qWait(50);
    QVERIFY(f.stored.isEmpty());
    QVERIFY(f.client->tokenManager()->refreshToken().isEmpty());
    QCOMPARE(f.client->authState(), Unauthenticated);
    // The logout's own 401 was not answered with a refresh either.
    QCOMPARE(f.server.count(AccountFixture::refreshPath()), 1);
    QCOMPARE(f.server.count("/sync/v1/notes"), 1);

    // A later start finds nothing and asks nobody.
    f.server.clearRequests();
    Client restarted(f.client->config(), std::make_unique<MemoryTokenStore>(&f.stored));
    restarted.initialize();
    QCOMPARE(restarted.authState(), Unauthenticated);
    QTest::qWait(20);
    QVERIFY(f.server.requests().isEmpty());
}

void TestAuthClient::browserSignIn_data()
{
    QTest::addColumn<QList<QByteArray>>("targets"); // requests of the browser tab, in order
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QString>("access");
    QTest::addColumn<QString>("refresh");
    QTest::addColumn<QString>("error");

    const QString a = makeJwt(3600);
    const QByteArray ab = a.toLatin1();
    QTest::addRow("tokens in the query")
        << QList<QByteArray> { "/callback?access_token=" + ab + "&refresh_token=r1" } << false << a
        << "r1"
        << "";
    QTest::addRow("tokens in the fragment")
        << QList<QByteArray> { "/callback#access_token=" + ab + "&refresh_token=r1" } << false << a
        << "r1"
        << "";
    QTest::addRow("fragment relayed into the query by the page")
        << QList<QByteArray> { "/callback", "/callback?access_token=" + ab + "&refresh_token=r1" }
        << false << a << "r1"
        << "";
    QTest::addRow("fragment wins over the query")
        << QList<QByteArray> { "/callback?access_token=other&refresh_token=r0#access_token=" + ab
               + "&refresh_token=r1" }
        << false << a << "r1"
        << "";
    QTest::addRow("encoded, extra and repeated parameters")
        << QList<QByteArray> { "/callback?state=x%26y&access_token=" + ab
               + "&refresh_token=r%2B1%3D&access_token=second" }
        << false << a << "r+1="
        << "";
    QTest::addRow("over IPv6 loopback")
        << QList<QByteArray> { "/callback?access_token=" + ab + "&refresh_token=r1" } << true << a
        << "r1"
        << "";
    QTest::addRow("error redirect")
        << QList<QByteArray> { "/callback?error=access_denied" } << false << ""
        << ""
        << "No tokens received";
    QTest::addRow("access token not a JWT")
        << QList<QByteArray> { "/callback?access_token=abc&refresh_token=r1" } << false << ""
        << ""
        << "Invalid tokens received";
}

void TestAuthClient::browserSignIn()
{
    QFETCH(QList<QByteArray>, targets);
    QFETCH(bool, ipv6);
    QFETCH(QString, access);
    QFETCH(QString, refresh);
    QFETCH(QString, error);

    AccountFixture f;
    f.client->initialize();
    AuthClient *auth = f.client->authClient();
    // The preferred port is taken: the listener must fall back to a free one.
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    auth->setLoginPort(occupant.serverPort());
    QUrl opened;
    auth->setUrlOpener([&](const QUrl &url) {
        opened = url;
        return true;
    });
    QSignalSpy succeeded(auth, &AuthClient::loginSucceeded);
    QSignalSpy failed(auth, &AuthClient::loginFailed);
    auth->login();
    QVERIFY(failed.isEmpty());

    const QUrlQuery loginQuery(opened);
    QCOMPARE(opened.path(), "/brevaro/account/login");
    QCOMPARE(loginQuery.queryItemValue("client_id"), f.client->config().clientId);
    QVERIFY(opened.toString(QUrl::FullyEncoded).contains("redirect_uri=http%3A%2F%2Flocalhost%3A"));
    const QUrl redirect(loginQuery.queryItemValue("redirect_uri", QUrl::FullyDecoded));
    QCOMPARE(redirect.path(), "/callback");
    const quint16 port = quint16(redirect.port());
    QVERIFY(port != 0 && port != occupant.serverPort());

    // Browsers open speculative connections and ask for a favicon before the redirect.
    BrowserConnection speculative(QHostAddress::LocalHost, port, QByteArray());
    BrowserConnection favicon(QHostAddress::LocalHost, port, "/favicon.ico");
    QTRY_VERIFY(favicon.finished());
    QVERIFY(favicon.response().startsWith("HTTP/1.1 404"));
    QVERIFY(succeeded.isEmpty() && failed.isEmpty());

    const QHostAddress address = ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost;
    QByteArray lastResponse;
    for (const QByteArray &target : targets) {
        BrowserConnection tab(address, port, target);
        QTRY_VERIFY(tab.finished());
        if (&target != &targets.last())
            QVERIFY(tab.response().contains("window.location.hash"));
        lastResponse = tab.response();
    }
    QVERIFY(lastResponse.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(lastResponse.contains("<h2>Authentication complete!</h2>"));

    if (error.isEmpty()) {
        QTRY_COMPARE(succeeded.size(), 1);
        QCOMPARE(f.client->authState(), Authenticated);
    } else {
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), error);
        QCOMPARE(f.client->authState(), Unauthenticated);
    }
    QCOMPARE(f.stored.value(accessKey), access);
    QCOMPARE(f.stored.value(refreshKey), refresh);

    // One sign-in per listener: the port is closed afterwards.
    BrowserConnection late(QHostAddress::LocalHost, port, "/callback?access_token=x");
    QTRY_VERIFY(late.finished());
    QVERIFY(late.response().isEmpty());
    QCOMPARE(succeeded.size() + failed.size(), 1);
}

QTEST_GUILESS_MAIN(TestAuthClient)
#include "tst_authclient.moc"
