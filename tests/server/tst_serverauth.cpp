#include "serverharness.h"

#include <QDateTime>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

class TestServerAuth : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void signInDeliversTokensToTheLoopbackListener();
    void refreshRotatesAndReuseEndsTheSession();
    void loginRefusesUnsafeRequests_data();
    void loginRefusesUnsafeRequests();
    void wrongPasswordsAreSlowedDown();
    void sessionsAndPasswordChange();
    void administrationCommands();

private:
    std::unique_ptr<ServerHarness> h;
};

void TestServerAuth::init()
{
    h = std::make_unique<ServerHarness>();
    QVERIFY2(h->start(), qPrintable(h->errorString()));
    QCOMPARE(h->addUser(QStringLiteral("Alice@Example.org"), QStringLiteral("correct horse")),
        QString());
}

void TestServerAuth::signInDeliversTokensToTheLoopbackListener()
{
    const auto tokens
        = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("correct horse"));
    QVERIFY(tokens);
    QVERIFY(h->lastCallbackTarget().startsWith(QLatin1String("/callback?")));

    const QJsonObject claims = ServerHarness::jwtPayload(tokens->access);
    const qint64 lifetime
        = claims.value(QStringLiteral("exp")).toInteger() - QDateTime::currentSecsSinceEpoch();
    QVERIFY2(lifetime > 890 && lifetime <= 900, qPrintable(QString::number(lifetime)));
    QVERIFY(
        claims.value(QStringLiteral("custom")).toObject().value(QStringLiteral("brv")).isObject());

    const auto me = h->send("GET", h->authApi() + QStringLiteral("/users/me"), {}, tokens->access);
    QCOMPARE(me.status, 200);
    QCOMPARE(
        me.json.value(QStringLiteral("email")).toString(), QStringLiteral("alice@example.org"));

    const auto renamed = h->sendJson("PATCH", h->authApi() + QStringLiteral("/users/me"),
        QJsonObject { { QStringLiteral("display_name"), QStringLiteral("Alice") } },
        tokens->access);
    QCOMPARE(
        renamed.json.value(QStringLiteral("display_name")).toString(), QStringLiteral("Alice"));

    // The group role lands in the claims at the next refresh once the user owns a group.
    QCOMPARE(h->send("POST", h->accountApi() + QStringLiteral("/group/invite"), {}, tokens->access)
                 .status,
        201);
    // So does the group itself: the program offers sharing only to users whose token names one.
    QVERIFY(!ServerHarness::jwtPayload(tokens->access)
                 .value(QStringLiteral("custom"))
                 .toObject()
                 .value(QStringLiteral("brv"))
                 .toObject()
                 .contains(QStringLiteral("group_id")));
    const auto next = h->refresh(tokens->refresh);
    QVERIFY(next);
    const QJsonObject brv = ServerHarness::jwtPayload(next->access)
                                .value(QStringLiteral("custom"))
                                .toObject()
                                .value(QStringLiteral("brv"))
                                .toObject();
    QCOMPARE(brv.value(QStringLiteral("role")).toString(), QStringLiteral("owner"));
    const auto group = h->send("GET", h->accountApi() + QStringLiteral("/group"), {}, next->access);
    QVERIFY(!group.json.value(QStringLiteral("id")).toString().isEmpty());
    QCOMPARE(brv.value(QStringLiteral("group_id")).toString(),
        group.json.value(QStringLiteral("id")).toString());
}

void TestServerAuth::refreshRotatesAndReuseEndsTheSession()
{
    const auto first
        = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("correct horse"));
    QVERIFY(first);
    const auto second = h->refresh(first->refresh);
    QVERIFY(second);
    QVERIFY(second->refresh != first->refresh);
    const auto third = h->refresh(second->refresh);
    QVERIFY(third);
    QCOMPARE(
        h->send("GET", h->authApi() + QStringLiteral("/users/me"), {}, third->access).status, 200);

    // Someone replays a token that was already exchanged: the whole session ends.
    int status = 0;
    QVERIFY(!h->refresh(second->refresh, &status));
    QCOMPARE(status, 401);
    QVERIFY(!h->refresh(third->refresh, &status));
    QCOMPARE(status, 401);
    QCOMPARE(
        h->send("GET", h->authApi() + QStringLiteral("/users/me"), {}, third->access).status, 401);

    // Logging out ends a fresh session the same way.
    const auto other
        = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("correct horse"));
    QVERIFY(other);
    QCOMPARE(
        h->send("POST", h->authApi() + QStringLiteral("/auth/logout"), {}, other->access).status,
        204);
    QVERIFY(!h->refresh(other->refresh, &status));
}

enum class Tamper { None, NoCookie, WrongToken, ForeignOrigin, CrossSiteFetch };

void TestServerAuth::loginRefusesUnsafeRequests_data()
{
    QTest::addColumn<QString>("redirect");
    QTest::addColumn<bool>("post");
    QTest::addColumn<int>("tamper");
    QTest::addColumn<int>("status");
    const QString good = QStringLiteral("LOOPBACK");
    QTest::addRow("foreign redirect host")
        << "http://evil.example:8080/callback" << false << 0 << 400;
    QTest::addRow("lookalike loopback host")
        << "http://localhost.evil.example:80/cb" << false << 0 << 400;
    QTest::addRow("credentials before a foreign host")
        << "http://127.0.0.1:80@evil.example/cb" << false << 0 << 400;
    QTest::addRow("https elsewhere") << "https://evil.example/cb" << false << 0 << 400;
    QTest::addRow("loopback without port") << "http://localhost/callback" << false << 0 << 400;
    QTest::addRow("foreign redirect in the post")
        << "http://evil.example:8080/cb" << true << 0 << 400;
    QTest::addRow("post without cookie") << good << true << int(Tamper::NoCookie) << 403;
    QTest::addRow("post with a forged token") << good << true << int(Tamper::WrongToken) << 403;
    QTest::addRow("post from another origin") << good << true << int(Tamper::ForeignOrigin) << 403;
    QTest::addRow("post marked cross-site") << good << true << int(Tamper::CrossSiteFetch) << 403;
}

void TestServerAuth::loginRefusesUnsafeRequests()
{
    QFETCH(QString, redirect);
    QFETCH(bool, post);
    QFETCH(int, tamper);
    QFETCH(int, status);
    if (redirect == QLatin1String("LOOPBACK"))
        redirect = h->redirectUri();

    ServerHarness::Response response;
    if (!post) {
        response = h->openLoginPage(redirect).page;
        QVERIFY(!response.body.contains("csrf_token"));
    } else {
        const auto form = h->openLoginPage(h->redirectUri());
        QVERIFY(!form.csrfToken.isEmpty());
        QString cookie = form.cookie;
        QString token = form.csrfToken;
        QList<QPair<QByteArray, QByteArray>> extra;
        switch (Tamper(tamper)) {
        case Tamper::NoCookie:
            cookie.clear();
            break;
        case Tamper::WrongToken:
            token = h->openLoginPage(h->redirectUri()).csrfToken; // another browser's token
            break;
        case Tamper::ForeignOrigin:
            extra.append(qMakePair(QByteArray("Origin"), QByteArray("http://evil.example")));
            break;
        case Tamper::CrossSiteFetch:
            extra.append(qMakePair(QByteArray("Sec-Fetch-Site"), QByteArray("cross-site")));
            break;
        case Tamper::None:
            break;
        }
        response = h->postLogin(redirect, QStringLiteral("alice@example.org"),
            QStringLiteral("correct horse"), cookie, token, extra);
    }
    QCOMPARE(response.status, status);
    QVERIFY(response.header("Location").isEmpty());
    QVERIFY(!response.body.contains("access_token"));
}

void TestServerAuth::wrongPasswordsAreSlowedDown()
{
    QCOMPARE(
        h->addUser(QStringLiteral("bob@example.org"), QStringLiteral("bobs password")), QString());
    for (int i = 0; i < 5; ++i) {
        const auto form = h->openLoginPage(h->redirectUri());
        QCOMPARE(h->postLogin(h->redirectUri(), QStringLiteral("alice@example.org"),
                      QStringLiteral("guess %1").arg(i), form.cookie, form.csrfToken)
                     .status,
            401);
    }
    // Even the right password is not checked while the account waits.
    const auto form = h->openLoginPage(h->redirectUri());
    const auto locked = h->postLogin(h->redirectUri(), QStringLiteral("alice@example.org"),
        QStringLiteral("correct horse"), form.cookie, form.csrfToken);
    QCOMPARE(locked.status, 429);
    QVERIFY(locked.header("Retry-After").toInt() >= 1);
    QVERIFY(locked.header("Location").isEmpty());
    // Another account from the same address is not locked out by these few failures...
    QVERIFY(h->signIn(QStringLiteral("bob@example.org"), QStringLiteral("bobs password")));
    // ...but an address that keeps guessing across many accounts is.
    for (int i = 0; i < 20; ++i) {
        const auto guess = h->openLoginPage(h->redirectUri());
        h->postLogin(h->redirectUri(), QStringLiteral("user%1@example.org").arg(i),
            QStringLiteral("guess"), guess.cookie, guess.csrfToken);
    }
    const auto again = h->openLoginPage(h->redirectUri());
    QCOMPARE(h->postLogin(h->redirectUri(), QStringLiteral("bob@example.org"),
                  QStringLiteral("bobs password"), again.cookie, again.csrfToken)
                 .status,
        429);
}

void TestServerAuth::sessionsAndPasswordChange()
{
    const auto laptop
        = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("correct horse"));
    const auto desktop
        = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("correct horse"));
    QVERIFY(laptop && desktop);
    const QString sessionsPath = h->authApi() + QStringLiteral("/users/me/sessions");
    const auto list = h->send("GET", sessionsPath, {}, laptop->access);
    const QJsonArray sessions = list.json.value(QStringLiteral("sessions")).toArray();
    QCOMPARE(sessions.size(), 2);
    QString otherId;
    int current = 0;
    for (const QJsonValue &s : sessions) {
        if (s[QStringLiteral("is_current")].toBool())
            ++current;
        else
            otherId = s[QStringLiteral("id")].toString();
    }
    QCOMPARE(current, 1);
    QCOMPARE(
        h->send("DELETE", sessionsPath + QLatin1Char('/') + otherId, {}, laptop->access).status,
        204);
    QVERIFY(!h->refresh(desktop->refresh));

    const QString passwordPath = h->authApi() + QStringLiteral("/users/me/password");
    auto change = [&](const QString &current, const QString &next) {
        return h
            ->sendJson("POST", passwordPath,
                QJsonObject { { QStringLiteral("current_password"), current },
                    { QStringLiteral("new_password"), next } },
                laptop->access)
            .status;
    };
    QCOMPARE(change(QStringLiteral("wrong one"), QStringLiteral("new secret 1")), 403);
    QCOMPARE(change(QStringLiteral("correct horse"), QStringLiteral("short")), 400);
    QCOMPARE(change(QStringLiteral("correct horse"), QStringLiteral("new secret 1")), 204);
    QVERIFY(!h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("correct horse")));
    QVERIFY(h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("new secret 1")));
}

void TestServerAuth::administrationCommands()
{
    auto run = [this](const QStringList &args, const QByteArray &input = {}) {
        QProcess p;
        p.start(QStringLiteral(NOTES_SERVER_BINARY), args + h->commandLineOptions());
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(30000);
        return qMakePair(p.exitCode(), p.readAllStandardOutput() + p.readAllStandardError());
    };
    // The password comes from standard input when it is not a terminal.
    QCOMPARE(
        run({ QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("carol@example.org") },
            "carol's secret\n")
            .first,
        0);
    QCOMPARE(
        run({ QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("carol@example.org") },
            "another secret\n")
            .first,
        1);
    QCOMPARE(
        run({ QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("dave@example.org") },
            "short\n")
            .first,
        1);
    const auto carol
        = h->signIn(QStringLiteral("carol@example.org"), QStringLiteral("carol's secret"));
    QVERIFY(carol);
    const auto listed = run({ QStringLiteral("user"), QStringLiteral("list") });
    QVERIFY(listed.second.contains("carol@example.org\tactive"));
    QVERIFY(!listed.second.contains("dave@example.org"));
    QVERIFY(!listed.second.contains("secret"));

    QCOMPARE(run({ QStringLiteral("user"), QStringLiteral("disable"),
                     QStringLiteral("carol@example.org") })
                 .first,
        0);
    QCOMPARE(
        h->send("GET", h->authApi() + QStringLiteral("/users/me"), {}, carol->access).status, 401);
    QVERIFY(!h->signIn(QStringLiteral("carol@example.org"), QStringLiteral("carol's secret")));
}

QTEST_GUILESS_MAIN(TestServerAuth)
#include "tst_serverauth.moc"
