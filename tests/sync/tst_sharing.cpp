#include "accountfixture.h"
#include "modalanswers.h"
#include "notesharingservice.h"
#include "sharemembersdialog.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

Q_DECLARE_METATYPE(ScriptedReply)

using BrevAccount::ShareMember;
using BrevAccount::ShareMembersDialog;

namespace {

const QString noteId = "5d0c3c4e-8a51-4f0e-9a77-1f0b2d7c9e10";
const QString basePath = "/sync/v1";

// A group of three as the account service lists it; the signed-in user is "acc-me".
QJsonObject groupOfThree()
{
    const auto member = [](const QString &account, const QString &user, const QString &name,
                            const QString &email) {
        return QJsonObject { { "account_id", account }, { "auth_user_id", user },
            { "display_name", name }, { "email", email }, { "role", "member" } };
    };
    return { { "id", "g-1" }, { "name", "Family" },
        { "members",
            QJsonArray { member("acc-me", "user-me", "Me Myself", "me@example.org"),
                member("acc-bob", "user-bob", "Bob  Stone", "bob@example.org"),
                member("acc-carol", "user-carol", QString(), "carol@example.org") } } };
}

} // namespace

// The sharing service against a recording server, and the share dialog driven on top of it.
class TestSharing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shareSendsViewOrEdit_data();
    void shareSendsViewOrEdit();
    void shareReportsTheServersWord_data();
    void shareReportsTheServersWord();
    void listKeepsWellFormedSharesOfTheAskedItem_data();
    void listKeepsWellFormedSharesOfTheAskedItem();
    void idsThatAreNotOnePathSegmentAreNeverSent_data();
    void idsThatAreNotOnePathSegmentAreNeverSent();

    void dialogSharesChangesAndRemoves();
    void dialogWithoutGroupOffersNobody();
    void dialogClosedWhileARequestIsPending_data();
    void dialogClosedWhileARequestIsPending();
    void avatarInitials_data();
    void avatarInitials();

private:
    // Serves the group, and a share list for `noteId` kept in m_shares that the POST and
    // DELETE routes change the way the notes service does.
    void serveStatefulShares();
    QList<QWidget *> rows(ShareMembersDialog *dialog, const char *name) const;
    QStringList rowTargets(ShareMembersDialog *dialog, const char *name) const;
    QWidget *row(ShareMembersDialog *dialog, const char *name, const QString &target) const;
    ShareMembersDialog *openDialog();
    // The bodies POSTed to `path`, in order.
    QList<QJsonObject> posts(const QString &path) const;

    std::unique_ptr<AccountFixture> m_fixture;
    std::unique_ptr<NoteSharingService> m_notes;
    std::unique_ptr<NoteSharingService> m_notebooks;
    QJsonArray m_shares;
};

void TestSharing::init()
{
    m_fixture = std::make_unique<AccountFixture>();
    m_fixture->signIn(makeJwt(3600), "refresh-1");
    m_notes = std::make_unique<NoteSharingService>(
        m_fixture->client->syncApi(), NoteSharingService::Kind::Notes);
    m_notebooks = std::make_unique<NoteSharingService>(
        m_fixture->client->syncApi(), NoteSharingService::Kind::Notebooks);
    m_shares = QJsonArray();
}

void TestSharing::cleanup()
{
    m_notes.reset();
    m_notebooks.reset();
    m_fixture.reset();
}

void TestSharing::shareSendsViewOrEdit_data()
{
    QTest::addColumn<bool>("notebook");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("sent");
    QTest::addRow("view stays view") << false << "view"
                                     << "view";
    QTest::addRow("edit stays edit") << false << "edit"
                                     << "edit";
    QTest::addRow("owner is sent as edit") << false << "owner"
                                           << "edit";
    QTest::addRow("empty is sent as edit") << false << ""
                                           << "edit";
    QTest::addRow("View in capitals is sent as edit") << false << "View"
                                                      << "edit";
    QTest::addRow("notebook view stays view") << true << "view"
                                              << "view";
    QTest::addRow("notebook owner is sent as edit") << true << "owner"
                                                    << "edit";
}

void TestSharing::shareSendsViewOrEdit()
{
    QFETCH(bool, notebook);
    QFETCH(QString, asked);
    QFETCH(QString, sent);
    const QString path
        = basePath + (notebook ? "/notebooks/" + noteId + "/share" : "/shares/notes/" + noteId);
    m_fixture->server.setReply("POST", path, ScriptedReply::json(201, {}));

    int calls = 0;
    bool ok = false;
    (notebook ? m_notebooks : m_notes)
        ->shareWith(noteId, "user-bob", asked, [&](bool isOk, const QString &) {
            ++calls;
            ok = isOk;
        });
    QTRY_COMPARE(calls, 1);
    QVERIFY(ok);
    const auto requests = m_fixture->server.requests(path);
    QCOMPARE(requests.size(), 1);
    const QJsonObject body = requests.first().json();
    QCOMPARE(body.value("permission").toString(), sent);
    QCOMPARE(body.value("account_id").toString(), "user-bob");
    QCOMPARE(body.value("auth_user_id").toString(), "user-bob");
}

void TestSharing::shareReportsTheServersWord_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    QTest::addRow("created, naming the person")
        << ScriptedReply::json(201, { { "shared_with_account_id", "USER-BOB" } }) << true << "";
    QTest::addRow("no content") << ScriptedReply::raw(204, {}, {}) << true << "";
    QTest::addRow("403 with an error text")
        << ScriptedReply::json(
               403, { { "error", "You can only share with members of your group" } })
        << false << "You can only share with members of your group";
    QTest::addRow("502 HTML page") << ScriptedReply::raw(502, "<html>Bad gateway</html>",
        "text/html") << false << "Share failed (HTTP 502)";
    QTest::addRow("no answer at all") << ScriptedReply::never() << false << "Share failed (HTTP 0)";
    QTest::addRow("success naming another person")
        << ScriptedReply::json(201, { { "shared_with_account_id", "user-mallory" } }) << false
        << "Share failed (HTTP 201)";
    QTest::addRow("success naming another note")
        << ScriptedReply::json(200, { { "note_id", "6e1d4d5f-0000-4000-8000-000000000000" } })
        << false << "Share failed (HTTP 200)";
}

void TestSharing::shareReportsTheServersWord()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    m_fixture->server.setReply("POST", basePath + "/shares/notes/" + noteId, reply);

    int calls = 0;
    bool gotOk = !ok;
    QString gotError = "unset";
    m_notes->shareWith(noteId, "user-bob", "edit", [&](bool isOk, const QString &text) {
        ++calls;
        gotOk = isOk;
        gotError = text;
    });
    QTRY_COMPARE(calls, 1);
    QCOMPARE(gotOk, ok);
    QCOMPARE(gotError, error);
    QTest::qWait(50);
    QCOMPARE(calls, 1);
}

void TestSharing::listKeepsWellFormedSharesOfTheAskedItem_data()
{
    QTest::addColumn<bool>("notebook");
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<QStringList>("people");
    QTest::addColumn<qint64>("firstCreatedMs"); // -1: no time

    const auto share = [](const QString &who, const QString &permission, const QJsonValue &at) {
        return QJsonObject { { "id", "s-" + who }, { "shared_with_account_id", who },
            { "shared_with_email", who + "@example.org" }, { "shared_with_display_name", who },
            { "permission", permission }, { "created_at", at } };
    };
    const qint64 at = 1700000000123;
    QTest::addRow("two shares in server order")
        << false
        << ScriptedReply::json(200,
               { { "shares", QJsonArray { share("bob", "view", at), share("carol", "edit", 5) } } })
        << QStringList { "bob", "carol" } << at;
    QTest::addRow("notebook shares")
        << true
        << ScriptedReply::json(200, { { "shares", QJsonArray { share("bob", "edit", at) } } })
        << QStringList { "bob" } << at;
    QTest::addRow("created_at 0 leaves the time empty")
        << false
        << ScriptedReply::json(200, { { "shares", QJsonArray { share("bob", "view", 0) } } })
        << QStringList { "bob" } << qint64(-1);
    QTest::addRow("created_at missing leaves the time empty")
        << false
        << ScriptedReply::json(
               200, { { "shares", QJsonArray { share("bob", "view", QJsonValue()) } } })
        << QStringList { "bob" } << qint64(-1);
    QTest::addRow("entries that are not objects are skipped")
        << false
        << ScriptedReply::json(
               200, { { "shares", QJsonArray { "bob", 7, share("carol", "edit", at), {} } } })
        << QStringList { "carol" } << at;
    QTest::addRow("shares not an array")
        << false << ScriptedReply::json(200, { { "shares", share("bob", "view", at) } })
        << QStringList() << qint64(-1);
    QTest::addRow("list for another note")
        << false
        << ScriptedReply::json(200,
               { { "note_id", "6e1d4d5f-0000-4000-8000-000000000000" },
                   { "shares", QJsonArray { share("bob", "view", at) } } })
        << QStringList() << qint64(-1);
    QTest::addRow("403") << false << ScriptedReply::json(403, { { "error", "Not yours" } })
                         << QStringList() << qint64(-1);
    QTest::addRow("HTML page") << false << ScriptedReply::raw(200, "<html></html>", "text/html")
                               << QStringList() << qint64(-1);
}

void TestSharing::listKeepsWellFormedSharesOfTheAskedItem()
{
    QFETCH(bool, notebook);
    QFETCH(ScriptedReply, reply);
    QFETCH(QStringList, people);
    QFETCH(qint64, firstCreatedMs);
    const QString path
        = basePath + (notebook ? "/notebooks/" + noteId + "/shares" : "/shares/notes/" + noteId);
    m_fixture->server.setReply("GET", path, reply);

    int calls = 0;
    QList<ShareMember> members;
    (notebook ? m_notebooks : m_notes)->listMembers(noteId, [&](const QList<ShareMember> &list) {
        ++calls;
        members = list;
    });
    QTRY_COMPARE(calls, 1);
    QStringList got;
    for (const ShareMember &member : members) {
        got << member.sharedWithAccountId;
        QCOMPARE(member.sharedWithEmail, member.sharedWithAccountId + "@example.org");
        QCOMPARE(member.sharedWithDisplayName, member.sharedWithAccountId);
        QCOMPARE(member.id, "s-" + member.sharedWithAccountId);
    }
    QCOMPARE(got, people);
    if (members.isEmpty())
        return;
    if (firstCreatedMs < 0) {
        QCOMPARE(members.first().createdAt, QString());
    } else {
        // Local time in ISO 8601 that reads back as the instant the server sent.
        const QDateTime created
            = QDateTime::fromString(members.first().createdAt, Qt::ISODateWithMs);
        QVERIFY(created.isValid());
        QCOMPARE(created.toMSecsSinceEpoch(), firstCreatedMs);
    }
}

void TestSharing::idsThatAreNotOnePathSegmentAreNeverSent_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QString>("target");
    QTest::addRow("parent directory as note") << ".."
                                              << "user-bob";
    QTest::addRow("slash in note id") << noteId + "/../../account"
                                      << "user-bob";
    QTest::addRow("empty note id") << ""
                                   << "user-bob";
    QTest::addRow("slash in target") << noteId << "../" + noteId;
    QTest::addRow("backslash in target") << noteId << "a\\b";
}

void TestSharing::idsThatAreNotOnePathSegmentAreNeverSent()
{
    QFETCH(QString, entity);
    QFETCH(QString, target);
    int calls = 0;
    m_notes->removeShare(entity, target, [&](bool ok) {
        ++calls;
        QVERIFY(!ok);
    });
    if (!target.contains('/') && !target.contains('\\')) {
        m_notes->listMembers(entity, [&](const QList<ShareMember> &list) {
            ++calls;
            QVERIFY(list.isEmpty());
        });
        m_notes->shareWith(entity, target, "edit", [&](bool ok, const QString &) {
            ++calls;
            QVERIFY(!ok);
        });
    }
    QTRY_COMPARE(calls, (!target.contains('/') && !target.contains('\\')) ? 3 : 1);
    QTest::qWait(50);
    QCOMPARE(m_fixture->server.requests().size(), 0);
}

void TestSharing::serveStatefulShares()
{
    RecordingHttpServer &server = m_fixture->server;
    server.setReply("GET", "/account/profile", ScriptedReply::json(200, { { "id", "acc-me" } }));
    server.setReply("GET", "/account/group", ScriptedReply::json(200, groupOfThree()));
    const QString path = basePath + "/shares/notes/" + noteId;
    // The owner's own entry comes first, as some services list it.
    m_shares = QJsonArray { QJsonObject {
        { "shared_with_account_id", "user-me" }, { "permission", "owner" } } };
    server.setResponder("GET", path, [this](const RecordedRequest &) {
        return ScriptedReply::json(200, { { "shares", m_shares } });
    });
    server.setResponder("POST", path, [this](const RecordedRequest &request) {
        const QString who = request.json().value("auth_user_id").toString();
        const QString permission = request.json().value("permission").toString();
        for (int i = 0; i < m_shares.size(); ++i) {
            QJsonObject share = m_shares.at(i).toObject();
            if (share.value("shared_with_account_id").toString() == who) {
                share.insert("permission", permission);
                m_shares.replace(i, share);
                return ScriptedReply::json(201, { { "shared_with_account_id", who } });
            }
        }
        m_shares.append(QJsonObject { { "id", "s-" + who }, { "shared_with_account_id", who },
            { "permission", permission }, { "created_at", qint64(1700000000000) } });
        return ScriptedReply::json(201, { { "shared_with_account_id", who } });
    });
    for (const QString who : { "user-bob", "user-carol" }) {
        server.setResponder("DELETE", path + "/" + who, [this, who](const RecordedRequest &) {
            for (int i = 0; i < m_shares.size(); ++i) {
                if (m_shares.at(i)["shared_with_account_id"].toString() == who) {
                    m_shares.removeAt(i);
                    return ScriptedReply::raw(204, {}, {});
                }
            }
            return ScriptedReply::json(404, { { "error", "Not shared with this person" } });
        });
    }
}

QList<QWidget *> TestSharing::rows(ShareMembersDialog *dialog, const char *name) const
{
    QList<QWidget *> visible;
    for (QWidget *row : dialog->findChildren<QWidget *>(QString::fromLatin1(name))) {
        if (row->isVisibleTo(dialog))
            visible << row;
    }
    return visible;
}

QStringList TestSharing::rowTargets(ShareMembersDialog *dialog, const char *name) const
{
    QStringList targets;
    for (QWidget *row : rows(dialog, name))
        targets << row->property("targetId").toString();
    return targets;
}

QWidget *TestSharing::row(ShareMembersDialog *dialog, const char *name, const QString &target) const
{
    for (QWidget *row : rows(dialog, name)) {
        if (row->property("targetId").toString() == target)
            return row;
    }
    return nullptr;
}

QList<QJsonObject> TestSharing::posts(const QString &path) const
{
    QList<QJsonObject> bodies;
    for (const RecordedRequest &request : m_fixture->server.requests(path)) {
        if (request.method == "POST")
            bodies << request.json();
    }
    return bodies;
}

ShareMembersDialog *TestSharing::openDialog()
{
    BrevAccount::ShareDialogTexts texts;
    texts.windowTitle = "Share Note";
    texts.permission = "edit";
    auto *dialog = new ShareMembersDialog(m_fixture->client.get(), m_notes.get(), noteId, texts);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

void TestSharing::dialogSharesChangesAndRemoves()
{
    serveStatefulShares();
    QPointer<ShareMembersDialog> dialog = openDialog();
    QSignalSpy changed(dialog.data(), &ShareMembersDialog::sharingChanged);
    const QString postPath = basePath + "/shares/notes/" + noteId;

    // The owner entry is not listed, the user is not offered, the others are.
    QTRY_COMPARE(rowTargets(dialog, "candidateRow"), (QStringList { "user-bob", "user-carol" }));
    QCOMPARE(rowTargets(dialog, "shareRow"), QStringList());
    auto *hint = dialog->findChild<QLabel *>("accessHint");
    QVERIFY(hint && hint->isVisibleTo(dialog));
    QCOMPARE(hint->text(), "Not shared with anyone yet.");

    // Share with Bob, read-only.
    QWidget *bob = row(dialog, "candidateRow", "user-bob");
    bob->findChild<QComboBox *>("permissionCombo")->setCurrentIndex(1);
    QTest::mouseClick(bob->findChild<QPushButton *>("shareButton"), Qt::LeftButton);
    QTRY_COMPARE(rowTargets(dialog, "shareRow"), QStringList { "user-bob" });
    QCOMPARE(posts(postPath).last().value("permission").toString(), "view");
    QCOMPARE(changed.size(), 1);
    QCOMPARE(rowTargets(dialog, "candidateRow"), QStringList { "user-carol" });
    QWidget *bobShare = row(dialog, "shareRow", "user-bob");
    auto *combo = bobShare->findChild<QComboBox *>("permissionCombo");
    QCOMPARE(combo->currentData().toString(), "view");
    // A name missing from the share comes from the group.
    bool namedBob = false;
    for (QLabel *label : bobShare->findChildren<QLabel *>())
        namedBob = namedBob || label->text() == "Bob  Stone";
    QVERIFY(namedBob);

    // Let Bob edit.
    combo->setCurrentIndex(combo->findData("edit"));
    QTRY_COMPARE(changed.size(), 2);
    QCOMPARE(posts(postPath).size(), 2);
    QCOMPARE(posts(postPath).last().value("permission").toString(), "edit");
    QTRY_COMPARE(row(dialog, "shareRow", "user-bob")
                     ->findChild<QComboBox *>("permissionCombo")
                     ->currentData()
                     .toString(),
        "edit");

    // Remove Bob, after saying yes.
    MessageBoxAnswerer yes(QMessageBox::Yes);
    QTest::mouseClick(row(dialog, "shareRow", "user-bob")->findChild<QToolButton *>("removeButton"),
        Qt::LeftButton);
    QTRY_COMPARE(changed.size(), 3);
    QCOMPARE(yes.title(), "Remove access?");
    QCOMPARE(yes.text(), "Bob  Stone will no longer have access. Continue?");
    QCOMPARE(m_fixture->server.count(postPath + "/user-bob"), 1);
    QCOMPARE(m_fixture->server.requests(postPath + "/user-bob").first().method, "DELETE");
    QTRY_COMPARE(rowTargets(dialog, "candidateRow"), (QStringList { "user-bob", "user-carol" }));
    QCOMPARE(rowTargets(dialog, "shareRow"), QStringList());

    // Once everybody has access, nobody is offered.
    for (const QString who : { "user-bob", "user-carol" }) {
        QWidget *candidate = row(dialog, "candidateRow", who);
        QVERIFY(candidate);
        QTest::mouseClick(candidate->findChild<QPushButton *>("shareButton"), Qt::LeftButton);
        QTRY_VERIFY(rowTargets(dialog, "shareRow").contains(who));
    }
    QCOMPARE(rowTargets(dialog, "candidateRow"), QStringList());
    QVERIFY(dialog->findChild<QLabel *>("allHaveAccessLabel")->isVisibleTo(dialog));

    // A refusal shows the server's text and keeps the dialog usable.
    m_fixture->server.enqueueReply("POST", postPath,
        ScriptedReply::json(403, { { "error", "Only the owner can change sharing" } }));
    auto *carolCombo
        = row(dialog, "shareRow", "user-carol")->findChild<QComboBox *>("permissionCombo");
    carolCombo->setCurrentIndex(carolCombo->findData("view"));
    auto *error = dialog->findChild<QLabel *>("errorLabel");
    QTRY_VERIFY(error->isVisibleTo(dialog));
    QCOMPARE(error->text(), "Only the owner can change sharing");
    QVERIFY(!dialog->isBusy());
    // The list goes back to what the server holds; its rows are rebuilt meanwhile.
    const auto carolPermission = [&] {
        QWidget *carol = row(dialog, "shareRow", "user-carol");
        auto *combo = carol ? carol->findChild<QComboBox *>("permissionCombo") : nullptr;
        return combo ? combo->currentData().toString() : QString();
    };
    QTRY_COMPARE(carolPermission(), "edit");
    dialog->close();
    QTRY_VERIFY(!dialog);
}

void TestSharing::dialogWithoutGroupOffersNobody()
{
    m_fixture->server.setReply(
        "GET", "/account/profile", ScriptedReply::json(200, { { "id", "acc-me" } }));
    // A group reply whose member list is not a list reads as no group.
    m_fixture->server.setReply("GET", "/account/group",
        ScriptedReply::json(200, { { "id", "g-1" }, { "members", "acc-me,acc-bob" } }));
    m_fixture->server.setReply("GET", basePath + "/shares/notes/" + noteId,
        ScriptedReply::json(200, { { "shares", QJsonArray() } }));
    QPointer<ShareMembersDialog> dialog = openDialog();
    auto *noGroup = dialog->findChild<QLabel *>("noGroupLabel");
    QTRY_VERIFY(noGroup->isVisibleTo(dialog));
    QCOMPARE(rowTargets(dialog, "candidateRow"), QStringList());
    QVERIFY(!dialog->findChild<QLabel *>("allHaveAccessLabel")->isVisibleTo(dialog));
    dialog->close();
    QTRY_VERIFY(!dialog);
}

void TestSharing::dialogClosedWhileARequestIsPending_data()
{
    QTest::addColumn<QString>("pending");
    QTest::addRow("share, clicked twice") << "share";
    QTest::addRow("remove") << "remove";
    QTest::addRow("share list") << "list";
    QTest::addRow("group") << "group";
}

void TestSharing::dialogClosedWhileARequestIsPending()
{
    QFETCH(QString, pending);
    serveStatefulShares();
    m_shares.append(QJsonObject { { "shared_with_account_id", "user-carol" },
        { "permission", "edit" }, { "created_at", 0 } });
    RecordingHttpServer &server = m_fixture->server;
    const QString path = basePath + "/shares/notes/" + noteId;
    const QString heldPath = pending == "share" ? path
        : pending == "remove"                   ? path + "/user-carol"
        : pending == "list"                     ? path
                                                : QString("/account/group");
    const QByteArray heldMethod = pending == "share" ? "POST"
        : pending == "remove"                        ? "DELETE"
                                                     : "GET";
    if (pending == "list" || pending == "group")
        server.enqueueReply(heldMethod, heldPath, ScriptedReply::held(500, {}));

    QPointer<ShareMembersDialog> dialog = openDialog();
    if (pending == "share" || pending == "remove") {
        QTRY_COMPARE(rowTargets(dialog, "candidateRow"), QStringList { "user-bob" });
        QTRY_COMPARE(rowTargets(dialog, "shareRow"), QStringList { "user-carol" });
        server.enqueueReply(heldMethod, heldPath, ScriptedReply::held(500, {}));
    }
    if (pending == "share") {
        auto *button = row(dialog, "candidateRow", "user-bob")->findChild<QPushButton *>();
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(dialog->isBusy());
    } else if (pending == "remove") {
        MessageBoxAnswerer yes(QMessageBox::Yes);
        QTest::mouseClick(
            row(dialog, "shareRow", "user-carol")->findChild<QToolButton *>("removeButton"),
            Qt::LeftButton);
        QCOMPARE(yes.shown(), 1);
    }
    QTRY_COMPARE(server.heldCount(), 1);

    dialog->close();
    QTRY_VERIFY(!dialog);
    QCOMPARE(server.releaseHeld(), 1);
    // The answer to the closed dialog's request arrives before one sent after it.
    int after = 0;
    m_notes->listMembers(noteId, [&](const QList<ShareMember> &) { ++after; });
    QTRY_COMPARE(after, 1);
    QCOMPARE(server.requests(heldPath).count() > 0, true);
    int sent = 0;
    for (const RecordedRequest &request : server.requests(heldPath))
        sent += request.method == heldMethod ? 1 : 0;
    QCOMPARE(sent, pending == "list" ? 2 : 1);
}

void TestSharing::avatarInitials_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("initials");
    QTest::addRow("two words, spaces around and between") << "  ada   lovelace "
                                                          << ""
                                                          << "AL";
    QTest::addRow("three words take first and last") << "Mary Ann Evans"
                                                     << ""
                                                     << "ME";
    QTest::addRow("one lower-case word") << "grace"
                                         << ""
                                         << "G";
    QTest::addRow("no name, email") << ""
                                    << "zoe@example.org"
                                    << "Z";
    QTest::addRow("blank name, email") << "   "
                                       << "zoe@example.org"
                                       << "Z";
    QTest::addRow("nothing") << ""
                             << ""
                             << "?";
}

void TestSharing::avatarInitials()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, initials);
    QCOMPARE(ShareMembersDialog::initials(name, email), initials);
}

QTEST_MAIN(TestSharing)
#include "tst_sharing.moc"
