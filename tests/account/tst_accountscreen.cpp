#include "accountfixture.h"
#include "accountscreen.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

using namespace BrevAccount;

namespace {

QStringList texts(const QWidget &root)
{
    QStringList list;
    for (const QLabel *label : root.findChildren<QLabel *>())
        list << label->text();
    return list;
}

QStringList buttons(const QWidget &root)
{
    QStringList list;
    for (const QPushButton *button : root.findChildren<QPushButton *>())
        list << button->text();
    return list;
}

QString isoAgo(qint64 seconds)
{
    return QDateTime::currentDateTimeUtc().addSecs(-seconds).toString(Qt::ISODateWithMs);
}

} // namespace

class TestAccountScreen : public QObject
{
    Q_OBJECT

private slots:
    void signOutSignsOut();
    void showsAccountFromServer_data();
    void showsAccountFromServer();
    void answersAfterCloseAreDropped();
    void sessionTimes_data();
    void sessionTimes();
};

void TestAccountScreen::signOutSignsOut()
{
    AccountFixture f;
    f.signIn(makeJwt(3600), "refresh-1");
    f.client->initialize();
    auto *screen = new AccountScreen(f.client.get());
    // The application connects the window's request to the real sign-out.
    connect(screen, &AccountScreen::logoutRequested, f.client->authClient(), &AuthClient::logout);
    QSignalSpy requested(screen, &AccountScreen::logoutRequested);
    screen->show();
    auto *signOut = screen->findChild<QPushButton *>("signOutButton");
    QVERIFY(signOut);
    QTest::mouseClick(signOut, Qt::LeftButton);
    QCOMPARE(requested.size(), 1);
    QCOMPARE(f.client->authState(), Unauthenticated);
    QVERIFY(f.stored.isEmpty());
    QTRY_COMPARE(f.server.count("/api/v1/realms/brevaro/auth/logout"), 1);
    screen->close();
}

void TestAccountScreen::showsAccountFromServer_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<ScriptedReply>("user");
    QTest::addColumn<ScriptedReply>("group");
    QTest::addColumn<ScriptedReply>("sessions");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("buttonsShown");
    QTest::addColumn<QStringList>("buttonsAbsent");
    QTest::addColumn<bool>("canDelete");

    const QString agent(61, QLatin1Char('M'));
    const QJsonObject group {
        { "id", "g1" },
        { "name", "Team" },
        { "max_seats", 5 },
        { "members",
            QJsonArray { QJsonObject { { "account_id", "b" }, { "display_name", "Bob" },
                             { "email", "bob@example.com" }, { "role", "owner" } },
                QJsonObject { { "account_id", "a" }, { "email", "ada@example.com" },
                    { "role", "member" } } } },
        { "pending_invitations",
            QJsonArray { QJsonObject { { "id", "i1" }, { "invite_code", "ABC" } } } },
    };
    const QJsonObject sessions {
        { "sessions",
            QJsonArray { QJsonObject { { "id", "s1" }, { "user_agent", "Firefox" },
                             { "is_current", true }, { "ip_address", "10.0.0.1" } },
                QJsonObject { { "id", "s2" }, { "user_agent", agent },
                    { "last_active_at", isoAgo(90) }, { "ip_address", "10.0.0.2" } },
                "not an object" } },
    };
    const auto user
        = ScriptedReply::json(200, { { "display_name", "Ada" }, { "email", "ada@example.com" } });

    QTest::addRow("member of a group")
        << "member" << user << ScriptedReply::json(200, group) << ScriptedReply::json(200, sessions)
        << QStringList { "Ada", "ada@example.com", "Team", "2 of 5 seats used", "Owner",
               "This session  ·  10.0.0.1", agent.left(60) + "...", "1m ago  ·  10.0.0.2",
               "Current" }
        << QStringList { "Leave Group", "Revoke" } << QStringList { "Remove", "Invite by Email" }
        << true;
    QTest::addRow("owner") << "owner"
                           << ScriptedReply::json(200, { { "email", "bob@example.com" } })
                           << ScriptedReply::json(200, group) << ScriptedReply::json(200, sessions)
                           << QStringList { "(not set)", "Invite code: ABC", "Pending Invitations" }
                           << QStringList { "Remove", "Invite by Email", "Generate Invite Code" }
                           << QStringList { "Leave Group" } << false;
    QTest::addRow("services failing")
        << "member" << ScriptedReply::raw(500, "oops", "text/plain")
        << ScriptedReply::raw(200, "[]", "application/json") << ScriptedReply::json(503, {})
        << QStringList { "(not set)", "No Group", "No devices registered.", "No active sessions." }
        << QStringList { "Join with Invite Code" } << QStringList { "Leave Group", "Revoke" }
        << true;
}

void TestAccountScreen::showsAccountFromServer()
{
    QFETCH(QString, role);
    QFETCH(ScriptedReply, user);
    QFETCH(ScriptedReply, group);
    QFETCH(ScriptedReply, sessions);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, buttonsShown);
    QFETCH(QStringList, buttonsAbsent);
    QFETCH(bool, canDelete);

    AccountFixture f;
    f.signIn(makeJwt(3600,
                 { { "custom", QJsonObject { { "brv", QJsonObject { { "role", role } } } } } }),
        "refresh-1");
    f.client->initialize();
    f.server.setReply("GET", "/api/v1/realms/brevaro/users/me", user);
    f.server.setReply("GET", "/api/v1/realms/brevaro/users/me/sessions", sessions);
    f.server.setReply("GET", "/account/group", group);
    f.server.setReply(
        "GET", "/account/devices", ScriptedReply::json(200, { { "devices", "wrong type" } }));

    auto *screen = new AccountScreen(f.client.get());
    QCOMPARE(screen->windowTitle(), "Brevaro Account");
    QVERIFY(screen->testAttribute(Qt::WA_DeleteOnClose));
    screen->show();
    screen->refreshAll();
    QTRY_COMPARE(f.server.requests().size(), 4);
    for (const QString &text : shown)
        QTRY_VERIFY2(texts(*screen).contains(text), qPrintable(text));
    for (const QString &text : buttonsShown)
        QVERIFY2(buttons(*screen).contains(text), qPrintable(text));
    for (const QString &text : buttonsAbsent)
        QVERIFY2(!buttons(*screen).contains(text), qPrintable(text));
    // The owner may remove the other member, not themself.
    QCOMPARE(buttons(*screen).count("Remove"), role == "owner" ? 1 : 0);
    QCOMPARE(screen->findChild<QPushButton *>("deleteAccountButton")->isEnabled(), canDelete);
    screen->close();
}

void TestAccountScreen::answersAfterCloseAreDropped()
{
    AccountFixture f;
    f.signIn(makeJwt(3600), "refresh-1");
    f.server.setReply("GET", "/api/v1/realms/brevaro/users/me",
        ScriptedReply::held(200, { { "display_name", "Ada" } }));
    f.server.setReply("GET", "/account/group", ScriptedReply::held(200, { { "id", "g" } }));
    QPointer<AccountScreen> screen = new AccountScreen(f.client.get());
    screen->show();
    screen->refreshProfile();
    screen->refreshGroup();
    QTRY_COMPARE(f.server.heldCount(), 2);
    screen->close();
    QTRY_VERIFY(screen.isNull());
    QCOMPARE(f.server.releaseHeld(), 2);
    QTRY_COMPARE(f.client->authClient()->currentUser().displayName, "Ada");
}

void TestAccountScreen::sessionTimes_data()
{
    QTest::addColumn<qint64>("secondsAgo"); // -1: no time
    QTest::addColumn<QString>("expected");

    const QDateTime eightDays = QDateTime::currentDateTimeUtc().addDays(-8);
    QTest::addRow("unknown") << qint64(-1) << "Unknown";
    QTest::addRow("59 seconds") << qint64(59) << "Active now";
    QTest::addRow("90 seconds") << qint64(90) << "1m ago";
    QTest::addRow("just under a day") << qint64(86399) << "23h ago";
    QTest::addRow("six days") << qint64(6 * 86400 + 5) << "6d ago";
    QTest::addRow("eight days") << qint64(
        8 * 86400) << QLocale::c().toString(eightDays.toLocalTime().date(), "MMM d, yyyy");
}

void TestAccountScreen::sessionTimes()
{
    QFETCH(qint64, secondsAgo);
    QFETCH(QString, expected);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime time = secondsAgo < 0 ? QDateTime() : now.addSecs(-secondsAgo);
    QCOMPARE(sessionTimeText(time, now), expected);
}

QTEST_MAIN(TestAccountScreen)
#include "tst_accountscreen.moc"
