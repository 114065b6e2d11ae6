// Measures the notes server as deployed: the server program runs in its own process on
// 127.0.0.1 with SQLite, and this process plays the clients.
//   1. idle memory of the started server;
//   2. a full pull of 10,000 notes (median of 5);
//   3. 50 clients, each pushing 20 notes and pulling, in a loop for 30 s.
#include "httpexchange.h"
#include "servercontext.h"
#include "useradmin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int bulkNotes = 10000;
constexpr int clientCount = 50;
constexpr int notesPerPush = 20;
// BENCH_SECONDS shortens the load phase while tuning.
const int loadSeconds = qEnvironmentVariableIsSet("BENCH_SECONDS")
    ? qEnvironmentVariableIntValue("BENCH_SECONDS")
    : 30;

QString body(int i)
{
    // About 1 KB of delta text: a heading, a paragraph and a short list.
    QJsonArray ops;
    ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("Note %1").arg(i) } });
    ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") },
        { QStringLiteral("attributes"), QJsonObject { { QStringLiteral("header"), 1 } } } });
    ops.append(QJsonObject { { QStringLiteral("insert"),
        QString(QStringLiteral("Lorem ipsum dolor sit amet, "
                               "consectetur adipiscing elit. "))
                .repeated(12)
            + QLatin1Char('\n') } });
    for (int k = 0; k < 3; ++k)
        ops.append(
            QJsonObject { { QStringLiteral("insert"), QStringLiteral("item %1\n").arg(k) } });
    return QString::fromUtf8(QJsonDocument(ops).toJson(QJsonDocument::Compact));
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

long rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / 100.0;
}

double median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(QList<double> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min<qsizetype>(v.size() - 1, qsizetype(p * v.size()))];
}

struct Client
{
    QString token;
    QNetworkAccessManager *nam = nullptr;
    QStringList noteIds;
    qint64 version = 0;
    qint64 since = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    ServerConfig config;
    config.dataDir = dir.path();
    config.cheapPasswordHashing = true;

    // Users, sessions and the bulk collection go straight into storage before the server starts.
    QList<QString> tokens;
    {
        ServerContext context(config);
        QString error;
        if (!context.open(&error)) {
            std::fprintf(stderr, "open failed: %s\n", qPrintable(error));
            return 1;
        }
        UserAdmin admin(context);
        for (int u = 0; u <= clientCount; ++u) {
            const QString email = QStringLiteral("user%1@bench.example").arg(u);
            admin.addUser(email, QStringLiteral("bench password"));
            const QString id
                = context.db()
                      .scalar(QStringLiteral("SELECT id FROM users WHERE email = ?"), { email })
                      .toString();
            tokens << context
                          .startSession(id, QStringLiteral("bench"), QStringLiteral("127.0.0.1"))
                          ->accessToken;
        }
        const QString owner = context.db()
                                  .scalar(QStringLiteral("SELECT id FROM users WHERE email = ?"),
                                      { QStringLiteral("user0@bench.example") })
                                  .toString();
        context.db().transaction();
        const qint64 now = nowMs();
        for (int i = 0; i < bulkNotes; ++i) {
            context.db().run(
                QStringLiteral("INSERT INTO notes (id, owner_id, notebook_id, body, version, "
                               "created_at, updated_at, modified_at, deleted_at, changed_at) "
                               "VALUES (?, ?, '', ?, 1, ?, ?, ?, NULL, ?)"),
                { newUuid(), owner, body(i), now, now, now, now });
        }
        context.db().commit();
    }

    const quint16 port = freePort();
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(qEnvironmentVariable("BENCH_SERVER_BINARY", QStringLiteral(NOTES_SERVER_BINARY)),
        { QStringLiteral("serve"), QStringLiteral("--port"), QString::number(port),
            QStringLiteral("--data-dir"), dir.path() });
    if (!server.waitForStarted()) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QNetworkAccessManager nam;
    auto request = [&](const QString &token, const QString &path) {
        QNetworkRequest r(QUrl(base + path));
        r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        if (!token.isEmpty())
            r.setRawHeader("Authorization", "Bearer " + token.toLatin1());
        return r;
    };
    auto waitFor = [](QNetworkReply *reply) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        reply->deleteLater();
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };
    for (int i = 0; i < 100; ++i) {
        if (waitFor(nam.get(request({}, QStringLiteral("/health")))) == 200)
            break;
        QThread::msleep(50);
    }
    QThread::msleep(1000);
    std::printf("idle server memory (RSS): %.1f MB\n", rssKb(server.processId()) / 1024.0);

    QList<double> pullMs;
    qint64 pulledBytes = 0;
    int pulledCount = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        QNetworkReply *reply = nam.get(request(tokens[0], QStringLiteral("/api/notes/sync/pull")));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray data = reply->readAll();
        pullMs << double(t.nsecsElapsed()) / 1e6;
        pulledBytes = data.size();
        pulledCount = int(QJsonDocument::fromJson(data)
                              .object()
                              .value(QStringLiteral("changes"))
                              .toArray()
                              .size());
        reply->deleteLater();
    }
    std::printf("pull of %d notes (%.1f MB): median %.0f ms, max %.0f ms\n", pulledCount,
        pulledBytes / 1048576.0, median(pullMs), *std::max_element(pullMs.begin(), pullMs.end()));
    std::printf(
        "server memory after the pulls (RSS): %.1f MB\n", rssKb(server.processId()) / 1024.0);

    // Load: every client alternates one push of 20 notes and one incremental pull.
    QList<Client> clients(clientCount);
    QList<double> roundTrips;
    int errors = 0;
    int requests = 0;
    QElapsedTimer clock;
    clock.start();
    int running = clientCount;
    QEventLoop done;
    std::function<void(int, bool)> step = [&](int c, bool pushing) {
        if (clock.elapsed() > loadSeconds * 1000) {
            if (--running == 0)
                done.quit();
            return;
        }
        Client &client = clients[c];
        QElapsedTimer *t = new QElapsedTimer;
        t->start();
        QNetworkReply *reply = nullptr;
        if (pushing) {
            ++client.version;
            QJsonArray changes;
            for (const QString &id : client.noteIds) {
                changes.append(
                    QJsonObject { { QStringLiteral("entity_type"), QStringLiteral("note") },
                        { QStringLiteral("entity_id"), id },
                        { QStringLiteral("action"), QStringLiteral("update") },
                        { QStringLiteral("version"), client.version },
                        { QStringLiteral("data"),
                            QJsonObject { { QStringLiteral("body"), body(int(client.version)) },
                                { QStringLiteral("updated_at"), nowMs() } } } });
            }
            reply = client.nam->post(request(client.token, QStringLiteral("/api/notes/sync/push")),
                QJsonDocument(QJsonObject { { QStringLiteral("changes"), changes } })
                    .toJson(QJsonDocument::Compact));
        } else {
            reply = client.nam->get(request(
                client.token, QStringLiteral("/api/notes/sync/pull?since=%1").arg(client.since)));
        }
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, c, pushing, reply, t] {
            roundTrips << double(t->nsecsElapsed()) / 1e6;
            delete t;
            ++requests;
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QJsonObject json = QJsonDocument::fromJson(reply->readAll()).object();
            if (status != 200)
                ++errors;
            else if (pushing) {
                for (const QJsonValue &r : json.value(QStringLiteral("results")).toArray()) {
                    if (r[QStringLiteral("status")].toString() != QLatin1String("ok"))
                        ++errors;
                }
            } else {
                clients[c].since = json.value(QStringLiteral("timestamp")).toInteger();
            }
            reply->deleteLater();
            step(c, !pushing);
        });
    };
    for (int c = 0; c < clientCount; ++c) {
        clients[c].token = tokens[c + 1];
        clients[c].nam = new QNetworkAccessManager(&app);
        for (int n = 0; n < notesPerPush; ++n)
            clients[c].noteIds << QUuid::createUuid().toString(QUuid::WithoutBraces);
    }
    for (int c = 0; c < clientCount; ++c)
        step(c, true);
    const double cpuBefore = cpuSeconds(server.processId());
    done.exec();
    std::printf("server CPU during the load: %.1f s\n", cpuSeconds(server.processId()) - cpuBefore);
    std::printf("%d clients x (push %d notes + pull) for %d s: %d requests, %d errors, "
                "round trip median %.1f ms, p95 %.1f ms\n",
        clientCount, notesPerPush, loadSeconds, requests, errors, median(roundTrips),
        percentile(roundTrips, 0.95));
    std::printf(
        "server memory after the load (RSS): %.1f MB\n", rssKb(server.processId()) / 1024.0);
    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
