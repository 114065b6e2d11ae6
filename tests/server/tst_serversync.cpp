#include "serverharness.h"

#include <QDir>
#include <QFile>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QUuid>

namespace {

QString uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QJsonObject noteChange(
    const QString &id, qint64 version, const QString &body, const QString &notebookId = {})
{
    QJsonObject data { { QStringLiteral("body"), body },
        { QStringLiteral("created_at"), 1700000000000LL },
        { QStringLiteral("updated_at"), 1700000000000LL + version },
        { QStringLiteral("modified_at"), 1700000000000LL + version } };
    if (!notebookId.isEmpty())
        data.insert(QStringLiteral("notebook_id"), notebookId);
    return QJsonObject { { QStringLiteral("entity_type"), QStringLiteral("note") },
        { QStringLiteral("entity_id"), id }, { QStringLiteral("action"), QStringLiteral("update") },
        { QStringLiteral("version"), version }, { QStringLiteral("data"), data } };
}

QString delta(const QString &text)
{
    return QString::fromUtf8(QJsonDocument(
        QJsonArray { QJsonObject { { QStringLiteral("insert"), text + QLatin1Char('\n') } } })
                                 .toJson(QJsonDocument::Compact));
}

QHttpMultiPart *attachmentForm(const QString &noteId, const QString &id, const QByteArray &bytes)
{
    // Built exactly as the program builds its upload: note_id, id, then the file.
    auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    auto textPart = [multi](const char *name, const QString &value) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
            QStringLiteral("form-data; name=\"%1\"").arg(QLatin1String(name)));
        part.setBody(value.toUtf8());
        multi->append(part);
    };
    textPart("note_id", noteId);
    textPart("id", id);
    QHttpPart file;
    file.setHeader(QNetworkRequest::ContentDispositionHeader,
        QStringLiteral("form-data; name=\"file\"; filename=\"photo.png\""));
    file.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("image/png"));
    file.setBody(bytes);
    multi->append(file);
    return multi;
}

QJsonObject findById(const QJsonArray &list, const QString &id)
{
    for (const QJsonValue &v : list) {
        if (v[QStringLiteral("id")].toString() == id)
            return v.toObject();
    }
    return {};
}

} // namespace

class TestServerSync : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pushAndPullBetweenTwoDevices();
    void staleVersionsAreConflicts();
    void bodiesComeBackAsPushed_data();
    void bodiesComeBackAsPushed();
    void sharingWithAGroupMember();
    void othersDataIsUnreachable_data();
    void othersDataIsUnreachable();
    void hostileInputIsRefused_data();
    void hostileInputIsRefused();
    void downloadsAreServedFromTheFolder();
    void accountDeletionWaitsThenRemovesEverything();

private:
    QJsonObject push(const QString &token, const QJsonObject &change, int *status = nullptr);
    QJsonObject pull(const QString &token, qint64 since = -1);
    // Makes bob a member of alice's group.
    void formGroup();

    std::unique_ptr<ServerHarness> h;
    ServerHarness::Tokens alice;
    ServerHarness::Tokens bob;
};

void TestServerSync::init()
{
    h = std::make_unique<ServerHarness>();
    QVERIFY2(h->start(), qPrintable(h->errorString()));
    QCOMPARE(
        h->addUser(QStringLiteral("alice@example.org"), QStringLiteral("alice secret")), QString());
    QCOMPARE(
        h->addUser(QStringLiteral("bob@example.org"), QStringLiteral("bobs secret")), QString());
    const auto a = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("alice secret"));
    const auto b = h->signIn(QStringLiteral("bob@example.org"), QStringLiteral("bobs secret"));
    QVERIFY(a && b);
    alice = *a;
    bob = *b;
}

QJsonObject TestServerSync::push(const QString &token, const QJsonObject &change, int *status)
{
    const auto r = h->sendJson("POST", h->syncApi() + QStringLiteral("/sync/push"),
        QJsonObject { { QStringLiteral("changes"), QJsonArray { change } } }, token);
    if (status)
        *status = r.status;
    return r.json.value(QStringLiteral("results")).toArray().at(0).toObject();
}

QJsonObject TestServerSync::pull(const QString &token, qint64 since)
{
    QString path = h->syncApi() + QStringLiteral("/sync/pull");
    if (since >= 0)
        path += QStringLiteral("?since=%1").arg(since);
    const auto r = h->send("GET", path, {}, token);
    return r.status == 200 ? r.json : QJsonObject();
}

void TestServerSync::formGroup()
{
    const auto code
        = h->send("POST", h->accountApi() + QStringLiteral("/group/invite"), {}, alice.access);
    QCOMPARE(code.status, 201);
    const QString inviteCode = code.json.value(QStringLiteral("invite_code")).toString();
    QCOMPARE(h->send("POST", h->accountApi() + QStringLiteral("/group/join/") + inviteCode, {},
                  bob.access)
                 .status,
        200);
    const auto group = h->send("GET", h->accountApi() + QStringLiteral("/group"), {}, bob.access);
    QCOMPARE(group.json.value(QStringLiteral("members")).toArray().size(), 2);
    // A used code cannot be used again.
    QCOMPARE(h->send("POST", h->accountApi() + QStringLiteral("/group/join/") + inviteCode, {},
                  alice.access)
                 .status,
        409);
}

void TestServerSync::pushAndPullBetweenTwoDevices()
{
    const auto second
        = h->signIn(QStringLiteral("alice@example.org"), QStringLiteral("alice secret"));
    QVERIFY(second);
    const QString notebookId = uuid();
    const QString noteId = uuid();
    const QString attachmentId = uuid();

    const auto created = h->sendJson("POST", h->syncApi() + QStringLiteral("/notebooks"),
        QJsonObject { { QStringLiteral("id"), notebookId },
            { QStringLiteral("name"), QStringLiteral("Trips") } },
        alice.access);
    QCOMPARE(created.status, 201);
    QCOMPARE(created.json.value(QStringLiteral("version")).toInt(), 1);
    const QJsonObject accepted
        = push(alice.access, noteChange(noteId, 1, delta(QStringLiteral("Packing")), notebookId));
    QCOMPARE(accepted.value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
    QCOMPARE(accepted.value(QStringLiteral("version")).toInt(), 1);
    QByteArray image(300 * 1024, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    QCOMPARE(h->sendMultipart(h->syncApi() + QStringLiteral("/attachments"),
                  attachmentForm(noteId, attachmentId, image), alice.access)
                 .status,
        201);

    // The second device sees everything.
    const QJsonObject first = pull(second->access);
    const QJsonObject note = findById(first.value(QStringLiteral("changes")).toArray(), noteId);
    QCOMPARE(note.value(QStringLiteral("body")).toString(), delta(QStringLiteral("Packing")));
    QCOMPARE(note.value(QStringLiteral("notebook_id")).toString(), notebookId);
    QCOMPARE(note.value(QStringLiteral("created_at")).toInteger(), 1700000000000LL);
    QVERIFY(note.value(QStringLiteral("deleted_at")).isNull());
    const qint64 stamp = first.value(QStringLiteral("timestamp")).toInteger();
    QVERIFY(stamp > 0);
    const auto notebooks
        = h->send("GET", h->syncApi() + QStringLiteral("/notebooks"), {}, second->access);
    QCOMPARE(findById(notebooks.json.value(QStringLiteral("notebooks")).toArray(), notebookId)
                 .value(QStringLiteral("name"))
                 .toString(),
        QStringLiteral("Trips"));
    const auto attachments
        = h->send("GET", h->syncApi() + QStringLiteral("/attachments"), {}, second->access);
    const QJsonObject listed
        = findById(attachments.json.value(QStringLiteral("attachments")).toArray(), attachmentId);
    QCOMPARE(listed.value(QStringLiteral("size_bytes")).toInteger(), image.size());
    QCOMPARE(listed.value(QStringLiteral("mime_type")).toString(), QStringLiteral("image/png"));
    QCOMPARE(listed.value(QStringLiteral("note_id")).toString(), noteId);
    QCOMPARE(h->send("GET", h->syncApi() + QStringLiteral("/attachments/") + attachmentId, {},
                  second->access)
                 .body,
        image);

    // The second device edits; the first pulls only what changed since its last pull.
    QCOMPARE(push(second->access, noteChange(noteId, 2, delta(QStringLiteral("Packing list"))))
                 .value(QStringLiteral("version"))
                 .toInt(),
        2);
    const QJsonArray later = pull(alice.access, stamp).value(QStringLiteral("changes")).toArray();
    QCOMPARE(later.size(), 1);
    QCOMPARE(later.at(0)[QStringLiteral("body")].toString(), delta(QStringLiteral("Packing list")));
    QCOMPARE(later.at(0)[QStringLiteral("version")].toInt(), 2);

    // A notebook rename follows the same version rule (409 for a stale one).
    auto rename = [&](qint64 version) {
        return h
            ->sendJson("PUT", h->syncApi() + QStringLiteral("/notebooks/") + notebookId,
                QJsonObject { { QStringLiteral("name"), QStringLiteral("Travel") },
                    { QStringLiteral("version"), version } },
                second->access)
            .status;
    };
    QCOMPARE(rename(1), 409);
    QCOMPARE(rename(2), 200);
    QCOMPARE(h->send("PUT", h->syncApi() + QStringLiteral("/notebooks/") + uuid(),
                  R"({"name":"x","version":2})", alice.access)
                 .status,
        404);

    // A deletion travels as a tombstone.
    QJsonObject gone = noteChange(noteId, 3, delta(QStringLiteral("Packing list")));
    gone[QStringLiteral("action")] = QStringLiteral("delete");
    QJsonObject data = gone[QStringLiteral("data")].toObject();
    data[QStringLiteral("deleted_at")] = 1700000009000LL;
    gone[QStringLiteral("data")] = data;
    QCOMPARE(
        push(alice.access, gone).value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
    const QJsonObject tomb
        = findById(pull(second->access, stamp).value(QStringLiteral("changes")).toArray(), noteId);
    QCOMPARE(tomb.value(QStringLiteral("deleted_at")).toInteger(), 1700000009000LL);

    const auto devices
        = h->send("GET", h->accountApi() + QStringLiteral("/devices"), {}, alice.access);
    QCOMPARE(devices.json.value(QStringLiteral("devices")).toArray().size(), 2);
}

void TestServerSync::staleVersionsAreConflicts()
{
    const QString noteId = uuid();
    QCOMPARE(push(alice.access, noteChange(noteId, 3, delta(QStringLiteral("three"))))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("ok"));
    for (qint64 version : { 3, 2 }) {
        const QJsonObject result
            = push(alice.access, noteChange(noteId, version, delta(QStringLiteral("stale"))));
        QCOMPARE(result.value(QStringLiteral("status")).toString(), QStringLiteral("conflict"));
        QVERIFY(!result.value(QStringLiteral("message")).toString().isEmpty());
    }
    const QJsonObject stored
        = findById(pull(alice.access).value(QStringLiteral("changes")).toArray(), noteId);
    QCOMPARE(stored.value(QStringLiteral("body")).toString(), delta(QStringLiteral("three")));
    QCOMPARE(stored.value(QStringLiteral("version")).toInt(), 3);
}

void TestServerSync::bodiesComeBackAsPushed_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("pulled");
    const QString same;
    QTest::addRow("quotes and backslashes")
        << delta(QStringLiteral("say \"hi\" \\ C:\\dir\\")) << same;
    QTest::addRow("control characters")
        << delta(QStringLiteral("bell\x07 tab\t return\r form\x0c esc\x1b")) << same;
    QTest::addRow("accents and emoji") << delta(QStringLiteral("Café déjà vu 😀 日本語")) << same;
    QString offsets;
    for (int k = 0; k < 40; ++k)
        offsets += QString(k, QLatin1Char('x')) + QLatin1Char("\"\\\x01\n"[k % 4]);
    QTest::addRow("escapes at every offset of a long run") << delta(offsets) << same;
    QTest::addRow("line and paragraph separators")
        << delta(QStringLiteral("a\u2028b\u2029c")) << same;
    QTest::addRow("NUL") << QString(QStringLiteral("before")).append(QChar(0)).append(u"after")
                         << QStringLiteral("before*after");
    // Not something the program sends, but it must not make the pull unreadable: what comes back
    // keeps the readable parts ("*" stands for whatever replaces the rest) and is valid text.
    QTest::addRow("lone surrogate")
        << QString(QStringLiteral("x")).append(QChar(0xd800)).append(u"y") << QStringLiteral("x*y");
}

void TestServerSync::bodiesComeBackAsPushed()
{
    QFETCH(QString, body);
    QFETCH(QString, pulled);
    const QString noteId = uuid();
    const QString neighbourId = uuid();
    QCOMPARE(push(alice.access, noteChange(noteId, 1, body)).value(QStringLiteral("status")),
        QStringLiteral("ok"));
    QCOMPARE(push(alice.access, noteChange(neighbourId, 1, delta(QStringLiteral("neighbour"))))
                 .value(QStringLiteral("status")),
        QStringLiteral("ok"));
    const QJsonArray changes = pull(alice.access).value(QStringLiteral("changes")).toArray();
    const QString stored = findById(changes, noteId).value(QStringLiteral("body")).toString();
    if (pulled.isNull()) {
        QCOMPARE(stored, body);
    } else {
        const QStringList parts = pulled.split(QLatin1Char('*'));
        QVERIFY2(stored.startsWith(parts.first()) && stored.endsWith(parts.last())
                && QStringView(stored).isValidUtf16(),
            qPrintable(stored));
    }
    QCOMPARE(findById(changes, neighbourId).value(QStringLiteral("body")).toString(),
        delta(QStringLiteral("neighbour")));
}

void TestServerSync::sharingWithAGroupMember()
{
    formGroup();
    const QString bobId
        = ServerHarness::jwtPayload(bob.access).value(QStringLiteral("sub")).toString();
    const QString noteId = uuid();
    const QString notebookId = uuid();
    QCOMPARE(h->sendJson("POST", h->syncApi() + QStringLiteral("/notebooks"),
                  QJsonObject { { QStringLiteral("id"), notebookId },
                      { QStringLiteral("name"), QStringLiteral("Team") } },
                  alice.access)
                 .status,
        201);
    push(alice.access, noteChange(noteId, 1, delta(QStringLiteral("Agenda"))));
    const QString shareNote = h->syncApi() + QStringLiteral("/shares/notes/") + noteId;
    auto share = [&](const QString &path, const QString &permission) {
        return h
            ->sendJson("POST", path,
                QJsonObject { { QStringLiteral("account_id"), bobId },
                    { QStringLiteral("auth_user_id"), bobId },
                    { QStringLiteral("permission"), permission } },
                alice.access)
            .status;
    };
    QCOMPARE(share(shareNote, QStringLiteral("view")), 201);

    const QJsonObject received
        = findById(pull(bob.access).value(QStringLiteral("changes")).toArray(), noteId);
    QCOMPARE(received.value(QStringLiteral("owner_id")).toString(),
        ServerHarness::jwtPayload(alice.access).value(QStringLiteral("sub")).toString());
    QCOMPARE(received.value(QStringLiteral("is_shared")).toBool(), true);
    QCOMPARE(received.value(QStringLiteral("permission")).toString(), QStringLiteral("view"));
    const QJsonObject own
        = findById(pull(alice.access).value(QStringLiteral("changes")).toArray(), noteId);
    QCOMPARE(own.value(QStringLiteral("is_shared")).toBool(), true);
    QCOMPARE(own.value(QStringLiteral("owner_id")).toString(), QString());

    const auto members = h->send("GET", shareNote, {}, alice.access);
    const QJsonObject member
        = members.json.value(QStringLiteral("shares")).toArray().at(0).toObject();
    QCOMPARE(member.value(QStringLiteral("shared_with_account_id")).toString(), bobId);
    QCOMPARE(member.value(QStringLiteral("shared_with_email")).toString(),
        QStringLiteral("bob@example.org"));
    QVERIFY(member.value(QStringLiteral("created_at")).toInteger() > 0);

    // A view share refuses every write.
    QCOMPARE(push(bob.access, noteChange(noteId, 2, delta(QStringLiteral("Hijacked"))))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("forbidden"));
    QCOMPARE(h->sendMultipart(h->syncApi() + QStringLiteral("/attachments"),
                  attachmentForm(noteId, uuid(), "bytes"), bob.access)
                 .status,
        403);
    QCOMPARE(
        share(h->syncApi() + QStringLiteral("/notebooks/") + notebookId + QStringLiteral("/share"),
            QStringLiteral("view")),
        201);
    QCOMPARE(h->send("PUT", h->syncApi() + QStringLiteral("/notebooks/") + notebookId,
                  R"({"name":"Mine now","version":5})", bob.access)
                 .status,
        403);
    QCOMPARE(h->send("GET", shareNote, {}, bob.access).status, 403);

    // Raised to edit, the same push goes through and alice sees bob's text.
    QCOMPARE(share(shareNote, QStringLiteral("edit")), 201);
    QCOMPARE(push(bob.access, noteChange(noteId, 2, delta(QStringLiteral("Agenda, edited"))))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("ok"));
    QCOMPARE(findById(pull(alice.access).value(QStringLiteral("changes")).toArray(), noteId)
                 .value(QStringLiteral("body"))
                 .toString(),
        delta(QStringLiteral("Agenda, edited")));

    // Someone outside the group cannot be shared with.
    QCOMPARE(
        h->addUser(QStringLiteral("carol@example.org"), QStringLiteral("carol secret")), QString());
    const auto carol
        = h->signIn(QStringLiteral("carol@example.org"), QStringLiteral("carol secret"));
    const QString carolId
        = ServerHarness::jwtPayload(carol->access).value(QStringLiteral("sub")).toString();
    QCOMPARE(h->sendJson("POST", shareNote,
                  QJsonObject { { QStringLiteral("account_id"), carolId } }, alice.access)
                 .status,
        403);

    // Withdrawing the share takes bob's copy away on his next pull, without its text.
    const qint64 beforeRemoval = pull(bob.access).value(QStringLiteral("timestamp")).toInteger();
    QCOMPARE(h->send("DELETE", shareNote + QLatin1Char('/') + bobId, {}, alice.access).status, 204);
    const QJsonObject withdrawn = findById(
        pull(bob.access, beforeRemoval).value(QStringLiteral("changes")).toArray(), noteId);
    QVERIFY(withdrawn.value(QStringLiteral("deleted_at")).toInteger() > 0);
    QVERIFY(!withdrawn.value(QStringLiteral("body")).toString().contains(QLatin1String("Agenda")));
    QVERIFY(withdrawn.value(QStringLiteral("version")).toInt() >= 2);
    QCOMPARE(push(bob.access, noteChange(noteId, 9, delta(QStringLiteral("Still mine?"))))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("forbidden"));

    // Shared again, it comes back whole.
    QCOMPARE(share(shareNote, QStringLiteral("view")), 201);
    const QJsonObject back
        = findById(pull(bob.access).value(QStringLiteral("changes")).toArray(), noteId);
    QVERIFY(back.value(QStringLiteral("deleted_at")).isNull());
    QCOMPARE(
        back.value(QStringLiteral("body")).toString(), delta(QStringLiteral("Agenda, edited")));

    // Leaving the group ends every share.
    QCOMPARE(
        h->send("POST", h->accountApi() + QStringLiteral("/group/leave"), {}, bob.access).status,
        204);
    QVERIFY(findById(pull(bob.access).value(QStringLiteral("changes")).toArray(), noteId)
                .value(QStringLiteral("deleted_at"))
                .toInteger()
        > 0);
}

void TestServerSync::othersDataIsUnreachable_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addRow("download attachment")
        << QByteArray("GET") << "/attachments/ATT" << QByteArray() << 404;
    QTest::addRow("list note shares")
        << QByteArray("GET") << "/shares/notes/NOTE" << QByteArray() << 404;
    QTest::addRow("share note") << QByteArray("POST") << "/shares/notes/NOTE"
                                << QByteArray(R"({"account_id":"SELF"})") << 404;
    QTest::addRow("rename notebook") << QByteArray("PUT") << "/notebooks/BOOK"
                                     << QByteArray(R"({"name":"x","version":9})") << 404;
    QTest::addRow("delete notebook")
        << QByteArray("DELETE") << "/notebooks/BOOK" << QByteArray() << 404;
    QTest::addRow("take over notebook id")
        << QByteArray("POST") << "/notebooks" << QByteArray(R"({"id":"BOOK","name":"x"})") << 409;
    QTest::addRow("list notebook shares")
        << QByteArray("GET") << "/notebooks/BOOK/shares" << QByteArray() << 404;
}

void TestServerSync::othersDataIsUnreachable()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const QString noteId = uuid();
    const QString notebookId = uuid();
    const QString attachmentId = uuid();
    h->sendJson("POST", h->syncApi() + QStringLiteral("/notebooks"),
        QJsonObject { { QStringLiteral("id"), notebookId },
            { QStringLiteral("name"), QStringLiteral("Private") } },
        alice.access);
    push(alice.access, noteChange(noteId, 1, delta(QStringLiteral("Diary")), notebookId));
    h->sendMultipart(h->syncApi() + QStringLiteral("/attachments"),
        attachmentForm(noteId, attachmentId, "secret bytes"), alice.access);

    const QString bobId
        = ServerHarness::jwtPayload(bob.access).value(QStringLiteral("sub")).toString();
    auto fill = [&](QString text) {
        return text.replace(QLatin1String("NOTE"), noteId)
            .replace(QLatin1String("BOOK"), notebookId)
            .replace(QLatin1String("ATT"), attachmentId)
            .replace(QLatin1String("SELF"), bobId);
    };
    const auto reply = h->send(
        method, h->syncApi() + fill(path), fill(QString::fromUtf8(body)).toUtf8(), bob.access);
    QCOMPARE(reply.status, status);
    QVERIFY(!reply.body.contains("secret bytes"));

    // Whatever bob tried, alice's data is unchanged and bob sees none of it.
    QCOMPARE(push(bob.access, noteChange(noteId, 7, delta(QStringLiteral("Overwritten"))))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("forbidden"));
    QVERIFY(pull(bob.access).value(QStringLiteral("changes")).toArray().isEmpty());
    QVERIFY(h->send("GET", h->syncApi() + QStringLiteral("/attachments"), {}, bob.access)
                .json.value(QStringLiteral("attachments"))
                .toArray()
                .isEmpty());
    const QJsonObject stored
        = findById(pull(alice.access).value(QStringLiteral("changes")).toArray(), noteId);
    QCOMPARE(stored.value(QStringLiteral("body")).toString(), delta(QStringLiteral("Diary")));
    const auto books
        = h->send("GET", h->syncApi() + QStringLiteral("/notebooks"), {}, alice.access);
    QCOMPARE(findById(books.json.value(QStringLiteral("notebooks")).toArray(), notebookId)
                 .value(QStringLiteral("name"))
                 .toString(),
        QStringLiteral("Private"));
}

void TestServerSync::hostileInputIsRefused_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("authorised");
    QTest::addColumn<int>("status");
    const QByteArray big = "{\"changes\":[],\"pad\":\"" + QByteArray(17 * 1024 * 1024, 'x') + "\"}";
    QTest::addRow("malformed JSON") << QByteArray("POST") << "/api/notes/sync/push"
                                    << QByteArray("{\"changes\": [") << true << 400;
    QTest::addRow("JSON array instead of object")
        << QByteArray("POST") << "/api/notes/sync/push" << QByteArray("[1,2]") << true << 400;
    QTest::addRow("changes not an array") << QByteArray("POST") << "/api/notes/sync/push"
                                          << QByteArray(R"({"changes":"all"})") << true << 400;
    QTest::addRow("body over 16 MB")
        << QByteArray("POST") << "/api/notes/sync/push" << big << true << 413;
    QTest::addRow("attachment over the limit") << QByteArray("POST") << "/api/notes/attachments"
                                               << QByteArray(3 * 1024 * 1024, 'a') << true << 413;
    QTest::addRow("not multipart")
        << QByteArray("POST") << "/api/notes/attachments" << QByteArray("plain") << true << 400;
    QTest::addRow("path traversal as id")
        << QByteArray("GET") << "/api/notes/attachments/..%2F..%2Fjwt_secret" << QByteArray()
        << true << 400;
    QTest::addRow("SQL in an id") << QByteArray("DELETE") << "/api/notes/notebooks/x'%20OR%20'1'='1"
                                  << QByteArray() << true << 400;
    QTest::addRow("bad since") << QByteArray("GET") << "/api/notes/sync/pull?since=yesterday"
                               << QByteArray() << true << 400;
    QTest::addRow("no token") << QByteArray("GET") << "/api/notes/sync/pull" << QByteArray()
                              << false << 401;
    QTest::addRow("no token on account")
        << QByteArray("GET") << "/api/account/profile" << QByteArray() << false << 401;
    QTest::addRow("refresh with garbage")
        << QByteArray("POST") << "/api/v1/realms/brevaro/auth/token/refresh"
        << QByteArray("\x01\x02garbage") << false << 400;
    QTest::addRow("unknown realm")
        << QByteArray("POST") << "/api/v1/realms/other/auth/token/refresh" << QByteArray("{}")
        << false << 404;
}

void TestServerSync::hostileInputIsRefused()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(bool, authorised);
    QFETCH(int, status);
    const auto reply = h->send(method, path, body, authorised ? alice.access : QString());
    QCOMPARE(reply.status, status);
    QVERIFY2(
        !reply.json.value(QStringLiteral("error")).toString().isEmpty(), reply.body.constData());

    // A token with a changed payload but the old signature is refused, and the server lives on.
    QStringList parts = alice.access.split(QLatin1Char('.'));
    QJsonObject claims = ServerHarness::jwtPayload(alice.access);
    claims[QStringLiteral("sub")]
        = ServerHarness::jwtPayload(bob.access).value(QStringLiteral("sub"));
    parts[1] = QString::fromLatin1(
        QJsonDocument(claims)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    QCOMPARE(h->send("GET", h->syncApi() + QStringLiteral("/sync/pull"), {},
                  parts.join(QLatin1Char('.')))
                 .status,
        401);
    QCOMPARE(h->send("GET", QStringLiteral("/health")).status, 200);
}

void TestServerSync::downloadsAreServedFromTheFolder()
{
    const QString root = QDir(h->dataDir()).filePath(QStringLiteral("downloads"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/notes/stable")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/notes/1.1.0")));
    const QByteArray manifest = R"({"schema":1,"app":"notes","channel":"stable","artifacts":{}})";
    QFile m(root + QStringLiteral("/notes/stable/latest.json"));
    QVERIFY(m.open(QIODevice::WriteOnly));
    m.write(manifest);
    m.close();
    QFile n(root + QStringLiteral("/notes/1.1.0/release-notes.md"));
    QVERIFY(n.open(QIODevice::WriteOnly));
    n.write("# 1.1.0\n");
    n.close();

    const auto latest = h->send("GET", QStringLiteral("/downloads/notes/stable/latest.json"));
    QCOMPARE(latest.status, 200);
    QCOMPARE(latest.body, manifest);
    QCOMPARE(h->send("GET", QStringLiteral("/downloads/notes/1.1.0/release-notes.md")).body,
        QByteArray("# 1.1.0\n"));
    QCOMPARE(h->send("GET", QStringLiteral("/downloads/notes/9.9.9/release-notes.md")).status, 404);
    QCOMPARE(h->send("GET", QStringLiteral("/downloads/..%2Fjwt_secret")).status, 404);
    QCOMPARE(h->send("GET", QStringLiteral("/downloads/notes/../../jwt_secret")).status, 404);
    QVERIFY(QFile::link(
        h->dataDir() + QStringLiteral("/jwt_secret"), root + QStringLiteral("/secret.json")));
    QCOMPARE(h->send("GET", QStringLiteral("/downloads/secret.json")).status, 404);
}

void TestServerSync::accountDeletionWaitsThenRemovesEverything()
{
    formGroup();
    const QString noteId = uuid();
    const QString attachmentId = uuid();
    push(bob.access, noteChange(noteId, 1, delta(QStringLiteral("Bob's note"))));
    QCOMPARE(h->sendMultipart(h->syncApi() + QStringLiteral("/attachments"),
                  attachmentForm(noteId, attachmentId, "picture"), bob.access)
                 .status,
        201);
    const QString bobId
        = ServerHarness::jwtPayload(bob.access).value(QStringLiteral("sub")).toString();
    const QString stored
        = h->dataDir() + QStringLiteral("/attachments/%1/%2").arg(bobId, attachmentId);
    QVERIFY(QFile::exists(stored));

    // The owner of a group with members cannot leave it behind.
    QCOMPARE(
        h->send("DELETE", h->accountApi() + QStringLiteral("/profile"), {}, alice.access).status,
        409);

    // Deleting signs out everywhere; signing in again within the grace period cancels it.
    QCOMPARE(h->send("DELETE", h->accountApi() + QStringLiteral("/profile"), {}, bob.access).status,
        200);
    QVERIFY(!h->refresh(bob.refresh));
    const auto back = h->signIn(QStringLiteral("bob@example.org"), QStringLiteral("bobs secret"));
    QVERIFY(back);
    QCOMPARE(h->send("GET", h->accountApi() + QStringLiteral("/profile"), {}, back->access)
                 .json.value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("active"));
    QCOMPARE(h->server().purgeDeletedAccounts(0), 0);

    QCOMPARE(
        h->send("DELETE", h->accountApi() + QStringLiteral("/profile"), {}, back->access).status,
        200);
    QCOMPARE(h->server().purgeDeletedAccounts(0), 1);
    QVERIFY(!QFile::exists(stored));
    QVERIFY(!h->signIn(QStringLiteral("bob@example.org"), QStringLiteral("bobs secret")));
    const auto group = h->send("GET", h->accountApi() + QStringLiteral("/group"), {}, alice.access);
    QCOMPARE(group.json.value(QStringLiteral("members")).toArray().size(), 1);
    // The note id is free again: nothing of bob's is left to collide with.
    QCOMPARE(push(alice.access, noteChange(noteId, 1, delta(QStringLiteral("Alice's now"))))
                 .value(QStringLiteral("status"))
                 .toString(),
        QStringLiteral("ok"));
}

QTEST_GUILESS_MAIN(TestServerSync)
#include "tst_serversync.moc"
