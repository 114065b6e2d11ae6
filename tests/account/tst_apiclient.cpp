#include "accountfixture.h"

#include <QHttpMultiPart>
#include <QSignalSpy>
#include <QTcpServer>

using namespace BrevAccount;

class TestApiClient : public QObject
{
    Q_OBJECT

private slots:
    void framesRequests_data();
    void framesRequests();
    void deliversReplies_data();
    void deliversReplies();
    void unknownVerbFailsAtOnce();
    void refreshesOnceOn401_data();
    void refreshesOnceOn401();
    void staleCallersShareOneRefresh_data();
    void staleCallersShareOneRefresh();
    void binaryAndMultipart();
};

void TestApiClient::framesRequests_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<QString>("expectedPath");
    QTest::addColumn<QByteArray>("expectedBody");

    QTest::addRow("GET under the sync prefix")
        << "GET"
        << "/notes/a b%2F" << QJsonObject() << "/sync/v1/notes/a b%2F" << QByteArray();
    QTest::addRow("POST with an empty object sends no body")
        << "POST"
        << "/sync/push" << QJsonObject() << "/sync/v1/sync/push" << QByteArray();
    QTest::addRow("PATCH sends compact JSON")
        << "PATCH"
        << "/notes/1" << QJsonObject { { "title", "x" } } << "/sync/v1/notes/1"
        << QByteArray(R"({"title":"x"})");
    QTest::addRow("DELETE") << "DELETE"
                            << "/notes/1" << QJsonObject() << "/sync/v1/notes/1" << QByteArray();
}

void TestApiClient::framesRequests()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(QJsonObject, body);
    QFETCH(QString, expectedPath);
    QFETCH(QByteArray, expectedBody);

    AccountFixture f;
    const QString access = makeJwt(3600);
    f.signIn(access, "refresh-1");
    f.server.setReply(method.toLatin1(), expectedPath, ScriptedReply::json(200, { { "ok", 1 } }));
    Outcome outcome;
    QUrlQuery query;
    if (method == "GET")
        query.addQueryItem("since", "5");
    f.client->syncApi()->sendRequest(method, path, body, outcome.callback(), query, true);
    QTRY_COMPARE(outcome.calls, 1);
    QVERIFY(outcome.ok);
    QCOMPARE(outcome.body.value("ok").toInt(), 1);

    const QList<RecordedRequest> requests = f.server.requests();
    QCOMPARE(requests.size(), 1);
    const RecordedRequest &request = requests.first();
    QCOMPARE(request.method, method.toLatin1());
    QCOMPARE(request.path, expectedPath);
    QCOMPARE(request.body, expectedBody);
    QCOMPARE(request.query.queryItemValue("since"), method == "GET" ? "5" : "");
    QCOMPARE(request.header("content-type"), QByteArray("application/json"));
    QCOMPARE(request.header("accept"), QByteArray("application/json"));
    QCOMPARE(request.header("x-app-id"), QByteArray("app.brevaro.notes.test"));
    QCOMPARE(request.header("x-app-version"), QByteArray("1.1.0"));
    QVERIFY(!request.header("x-platform").isEmpty());
    QCOMPARE(request.header("authorization"), "Bearer " + access.toLatin1());
}

void TestApiClient::deliversReplies_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("status");
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<bool>("networkError");

    QTest::addRow("204 without body")
        << ScriptedReply::raw(204, {}, {}) << true << 204 << QJsonObject() << false;
    QTest::addRow("HTML error page")
        << ScriptedReply::raw(502, "<html>bad gateway</html>", "text/html") << false << 502
        << QJsonObject() << false;
    QTest::addRow("error object kept")
        << ScriptedReply::json(403, { { "error", "not yours" } }) << false << 403
        << QJsonObject { { "error", "not yours" } } << false;
    QTest::addRow("top level is an array") << ScriptedReply::raw(200, "[1,2]", "application/json")
                                           << true << 200 << QJsonObject() << false;
    QTest::addRow("truncated JSON") << ScriptedReply::raw(200, R"({"a":)", "application/json")
                                    << true << 200 << QJsonObject() << false;
    QTest::addRow("body over the size limit")
        << ScriptedReply::raw(200, "{\"a\":\"" + QByteArray(8192, 'x') + "\"}", "application/json")
        << false << 0 << QJsonObject() << true;
    QTest::addRow("server never answers")
        << ScriptedReply::never() << false << 0 << QJsonObject() << true;
}

void TestApiClient::deliversReplies()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, ok);
    QFETCH(int, status);
    QFETCH(QJsonObject, body);
    QFETCH(bool, networkError);

    AccountFixture f;
    f.signIn(makeJwt(3600), "refresh-1");
    f.client->syncApi()->setMaxJsonReplyBytes(4096);
    f.server.setReply("GET", "/sync/v1/thing", reply);
    QSignalSpy errors(f.client->syncApi(), &ApiClient::networkError);
    Outcome outcome;
    f.client->syncApi()->get("/thing", outcome.callback());
    QTRY_COMPARE(outcome.calls, 1);
    QCOMPARE(outcome.ok, ok);
    QCOMPARE(outcome.status, status);
    QCOMPARE(outcome.body, body);
    QCOMPARE(errors.size(), networkError ? 1 : 0);
    // Exactly one callback, also after the connection winds down.
    QTest::qWait(50);
    QCOMPARE(outcome.calls, 1);
}

void TestApiClient::unknownVerbFailsAtOnce()
{
    AccountFixture f;
    f.signIn(makeJwt(3600), "refresh-1");
    Outcome outcome;
    f.client->syncApi()->sendRequest("TRACE", "/x", {}, outcome.callback(), {}, true);
    QCOMPARE(outcome.calls, 1);
    QCOMPARE(outcome.status, 0);
    QVERIFY(!outcome.ok);

    // A port that refuses connections ends as a transport failure with the error signal.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    f.client->syncApi()->setBaseUrl(QUrl(QString("http://127.0.0.1:%1").arg(port)));
    QSignalSpy errors(f.client->syncApi(), &ApiClient::networkError);
    Outcome refused;
    f.client->syncApi()->get("/x", refused.callback());
    QTRY_COMPARE(refused.calls, 1);
    QCOMPARE(refused.status, 0);
    QCOMPARE(errors.size(), 1);
    QVERIFY(f.server.requests().isEmpty());
}

void TestApiClient::refreshesOnceOn401_data()
{
    QTest::addColumn<QString>("storedRefresh");
    QTest::addColumn<ScriptedReply>("refreshReply");
    QTest::addColumn<int>("secondStatus"); // answer to the resent request, 0 = not resent
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("refreshRequests");
    QTest::addColumn<bool>("signedOut");

    const auto fresh = AccountFixture::tokens(makeJwt(7200), "refresh-2");
    QTest::addRow("refresh then resend succeeds")
        << "refresh-1" << fresh << 200 << true << 200 << 1 << false;
    QTest::addRow("resend refused again")
        << "refresh-1" << fresh << 401 << false << 401 << 1 << false;
    QTest::addRow("refresh rejected")
        << "refresh-1" << ScriptedReply::json(401, {}) << 0 << false << 401 << 1 << true;
    QTest::addRow("refresh server down")
        << "refresh-1" << ScriptedReply::json(503, {}) << 0 << false << 0 << 1 << false;
    QTest::addRow("no refresh token") << "" << fresh << 0 << false << 401 << 0 << true;
}

void TestApiClient::refreshesOnceOn401()
{
    QFETCH(QString, storedRefresh);
    QFETCH(ScriptedReply, refreshReply);
    QFETCH(int, secondStatus);
    QFETCH(bool, ok);
    QFETCH(int, status);
    QFETCH(int, refreshRequests);
    QFETCH(bool, signedOut);

    AccountFixture f;
    const QString oldAccess = makeJwt(3600);
    f.signIn(oldAccess, storedRefresh);
    f.client->initialize();
    QCOMPARE(f.client->authState(), Authenticated);
    f.answerRefresh(refreshReply);
    f.server.enqueueReply(
        "GET", "/sync/v1/notes", ScriptedReply::json(401, { { "error", "expired" } }));
    if (secondStatus)
        f.server.enqueueReply(
            "GET", "/sync/v1/notes", ScriptedReply::json(secondStatus, { { "n", 2 } }));
    QSignalSpy required(f.client->syncApi(), &ApiClient::authenticationRequired);
    QSignalSpy states(f.client.get(), &Client::authStateChanged);

    Outcome outcome;
    f.client->syncApi()->get("/notes", outcome.callback());
    QTRY_COMPARE(outcome.calls, 1);
    QTest::qWait(50);
    QCOMPARE(outcome.calls, 1);
    QCOMPARE(outcome.ok, ok);
    QCOMPARE(outcome.status, status);
    QCOMPARE(f.server.count(AccountFixture::refreshPath()), refreshRequests);
    const QList<RecordedRequest> notes = f.server.requests("/sync/v1/notes");
    QCOMPARE(notes.size(), secondStatus ? 2 : 1);
    if (secondStatus)
        QVERIFY(notes.at(1).header("authorization") != notes.at(0).header("authorization"));
    QCOMPARE(required.size(), signedOut ? 1 : 0);
    // A refused session signs the user out instead of being retried forever.
    QCOMPARE(f.client->authState(), signedOut ? Unauthenticated : Authenticated);
    QCOMPARE(f.stored.isEmpty(), signedOut);
    QCOMPARE(states.size(), signedOut ? 1 : 0);
}

void TestApiClient::staleCallersShareOneRefresh_data()
{
    QTest::addColumn<ScriptedReply>("refreshReply");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("notesRequests");

    QTest::addRow("success") << ScriptedReply::held(
        200, { { "access_token", makeJwt(3600) }, { "refresh_token", "refresh-2" } })
                             << 200 << 5;
    QTest::addRow("rejected") << ScriptedReply::held(401, {}) << 401 << 0;
    QTest::addRow("transient") << ScriptedReply::held(503, {}) << 0 << 0;
}

void TestApiClient::staleCallersShareOneRefresh()
{
    QFETCH(ScriptedReply, refreshReply);
    QFETCH(int, status);
    QFETCH(int, notesRequests);

    AccountFixture f;
    // 20 seconds from expiry is inside the refresh margin.
    f.signIn(makeJwt(20), "refresh-1");
    f.answerRefresh(refreshReply);
    f.server.setReply("GET", "/sync/v1/notes", ScriptedReply::json(200, {}));
    QList<Outcome> outcomes(5);
    for (Outcome &outcome : outcomes)
        f.client->syncApi()->get("/notes", outcome.callback());
    QTRY_COMPARE(f.server.heldCount(), 1);
    QCOMPARE(f.server.releaseHeld(), 1);
    for (const Outcome &outcome : std::as_const(outcomes))
        QTRY_COMPARE(outcome.calls, 1);
    for (const Outcome &outcome : std::as_const(outcomes))
        QCOMPARE(outcome.status, status);
    QCOMPARE(f.server.count(AccountFixture::refreshPath()), 1);
    const QList<RecordedRequest> notes = f.server.requests("/sync/v1/notes");
    QCOMPARE(notes.size(), notesRequests);
    for (const RecordedRequest &request : notes)
        QCOMPARE(request.header("authorization"), "Bearer " + f.stored.value(accessKey).toLatin1());
}

void TestApiClient::binaryAndMultipart()
{
    AccountFixture f;
    f.signIn(makeJwt(3600), "refresh-1");
    f.answerRefresh(AccountFixture::tokens(makeJwt(3600), "refresh-2"));
    const QByteArray bytes("\x89PNG\r\n\x1a\n\0\1\2", 11);
    f.server.enqueueReply("GET", "/sync/v1/attachments/a1/data", ScriptedReply::json(401, {}));
    f.server.enqueueReply("GET", "/sync/v1/attachments/a1/data",
        ScriptedReply::raw(200, bytes, "application/octet-stream"));
    int calls = 0;
    QByteArray received;
    f.client->syncApi()->getBinary(
        "/attachments/a1/data", [&](bool ok, int status, const QByteArray &data) {
            ++calls;
            QVERIFY(ok);
            QCOMPARE(status, 200);
            received = data;
        });
    QTRY_COMPARE(calls, 1);
    QCOMPARE(received, bytes);
    QCOMPARE(f.server.count(AccountFixture::refreshPath()), 1);
    QCOMPARE(f.server.requests("/sync/v1/attachments/a1/data").first().header("accept"),
        QByteArray("*/*"));

    auto *multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setHeader(
        QNetworkRequest::ContentDispositionHeader, "form-data; name=\"file\"; filename=\"a.bin\"");
    part.setBody(bytes);
    multipart->append(part);
    QPointer<QHttpMultiPart> watched(multipart);
    f.server.setReply("POST", "/sync/v1/attachments", ScriptedReply::json(201, { { "id", "a2" } }));
    Outcome upload;
    f.client->syncApi()->postMultipart("/attachments", multipart, upload.callback());
    QTRY_COMPARE(upload.calls, 1);
    QCOMPARE(upload.status, 201);
    QCOMPARE(upload.body.value("id").toString(), "a2");
    const RecordedRequest request = f.server.requests("/sync/v1/attachments").first();
    QVERIFY(request.header("content-type").startsWith("multipart/form-data; boundary="));
    QVERIFY(request.body.contains(bytes));
    QTRY_VERIFY(watched.isNull()); // owned by the reply and gone with it

    // A download that stops moving ends as a transport failure instead of hanging.
    f.server.setReply("GET", "/sync/v1/attachments/a3/data", ScriptedReply::never());
    QSignalSpy errors(f.client->syncApi(), &ApiClient::networkError);
    int stalledCalls = 0;
    f.client->syncApi()->getBinary(
        "/attachments/a3/data", [&](bool ok, int status, const QByteArray &data) {
            ++stalledCalls;
            QVERIFY(!ok);
            QCOMPARE(status, 0);
            QVERIFY(data.isEmpty());
        });
    QTRY_COMPARE(stalledCalls, 1);
    QCOMPARE(errors.size(), 1);
}

QTEST_GUILESS_MAIN(TestApiClient)
#include "tst_apiclient.moc"
