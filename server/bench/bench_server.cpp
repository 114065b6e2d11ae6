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
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

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

// One simulated program: its own keep-alive connection, user and notes. The requests are
// written by hand over a plain socket so the load generator, which shares the machine's cores
// with the server, costs little; the server sees the same HTTP/1.1 exchanges the program makes.
struct Client
{
    QByteArray token;
    QTcpSocket *socket = nullptr;
    QList<QByteArray> noteIds;
    qint64 version = 0;
    QByteArray since = "0";
    bool pushing = true;
    bool finished = false;
    QElapsedTimer sent;
    QByteArray in;
};

QByteArray pushBody(const Client &client)
{
    // Every note of the client gets the same new text and version in one push.
    QByteArray text;
    appendJsonString(text, body(int(client.version)));
    const QByteArray version = QByteArray::number(client.version);
    const QByteArray updated = QByteArray::number(nowMs());
    QByteArray out = "{\"changes\":[";
    out.reserve(client.noteIds.size() * (text.size() + 200));
    for (qsizetype i = 0; i < client.noteIds.size(); ++i) {
        if (i > 0)
            out += ',';
        out += "{\"entity_type\":\"note\",\"entity_id\":\"" + client.noteIds[i]
            + "\",\"action\":\"update\",\"version\":" + version + ",\"data\":{\"body\":" + text
            + ",\"updated_at\":" + updated + "}}";
    }
    out += "]}";
    return out;
}

// Length of the first complete response in |in| (head and body), or 0 while it is incomplete.
qsizetype responseLength(const QByteArray &in, int *status, qsizetype *bodyStart)
{
    const qsizetype headEnd = in.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return 0;
    *status = in.mid(9, 3).toInt();
    qsizetype length = 0;
    const qsizetype at = in.indexOf("\r\nContent-Length:");
    const qsizetype atLower = in.indexOf("\r\ncontent-length:");
    const qsizetype header = at >= 0 && at < headEnd ? at : atLower;
    if (header >= 0 && header < headEnd) {
        const qsizetype valueStart = header + 17;
        length = in.mid(valueStart, in.indexOf("\r\n", valueStart) - valueStart)
                     .trimmed()
                     .toLongLong();
    }
    *bodyStart = headEnd + 4;
    return in.size() >= *bodyStart + length ? *bodyStart + length : 0;
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ') : "?";
}

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

    // Load: every client alternates one push of 20 notes and one incremental pull, and checks
    // that the pull brings back the 20 notes at the version it just pushed.
    QList<Client> clients(clientCount);
    QList<double> roundTrips;
    int errors = 0;
    int requests = 0;
    QElapsedTimer clock;
    clock.start();
    int running = clientCount;
    QEventLoop done;
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    auto send = [&](Client &client) {
        QByteArray request;
        if (client.pushing) {
            ++client.version;
            const QByteArray payload = pushBody(client);
            request = "POST /api/notes/sync/push HTTP/1.1\r\n" + host
                + "Content-Type: application/json\r\nAuthorization: Bearer " + client.token
                + "\r\nContent-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n"
                + payload;
        } else {
            request = "GET /api/notes/sync/pull?since=" + client.since + " HTTP/1.1\r\n" + host
                + "Authorization: Bearer " + client.token + "\r\n\r\n";
        }
        client.sent.start();
        client.socket->write(request);
    };
    auto received = [&](Client &client) {
        client.in += client.socket->readAll();
        int status = 0;
        qsizetype bodyStart = 0;
        const qsizetype length = responseLength(client.in, &status, &bodyStart);
        if (length == 0)
            return;
        roundTrips << double(client.sent.nsecsElapsed()) / 1e6;
        ++requests;
        const QByteArray reply = client.in.mid(bodyStart, length - bodyStart);
        client.in.remove(0, length);
        if (status != 200) {
            ++errors;
        } else if (client.pushing) {
            if (reply.count("\"status\":\"ok\"") != notesPerPush)
                ++errors;
        } else {
            const qsizetype at = reply.lastIndexOf("\"timestamp\":");
            client.since = at < 0 ? QByteArray("0") : reply.mid(at + 12).chopped(1);
            const QByteArray version = "\"version\":" + QByteArray::number(client.version);
            if (reply.count(version + ',') + reply.count(version + '}') != notesPerPush)
                ++errors;
        }
        client.pushing = !client.pushing;
        if (clock.elapsed() > loadSeconds * 1000) {
            client.finished = true;
            client.socket->disconnectFromHost();
            if (--running == 0)
                done.quit();
            return;
        }
        send(client);
    };
    for (int c = 0; c < clientCount; ++c) {
        Client &client = clients[c];
        client.token = tokens[c + 1].toLatin1();
        for (int n = 0; n < notesPerPush; ++n)
            client.noteIds << QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        client.socket = new QTcpSocket(&app);
        client.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(client.socket, &QTcpSocket::readyRead, &app,
            [&received, &client] { received(client); });
        QObject::connect(client.socket, &QTcpSocket::errorOccurred, &app, [&, c](auto) {
            if (clients[c].finished)
                return;
            clients[c].finished = true;
            std::fprintf(stderr, "client %d lost its connection\n", c);
            ++errors;
            if (--running == 0)
                done.quit();
        });
        client.socket->connectToHost(QHostAddress::LocalHost, port);
        if (!client.socket->waitForConnected(5000)) {
            std::fprintf(stderr, "client %d could not connect\n", c);
            return 1;
        }
    }
    const double cpuBefore = cpuSeconds(server.processId());
    const double ownCpuBefore = processCpuSeconds();
    for (Client &client : clients)
        send(client);
    done.exec();
    const double serverCpu = cpuSeconds(server.processId()) - cpuBefore;
    const double ownCpu = processCpuSeconds() - ownCpuBefore;
    std::printf("%d clients x (push %d notes + pull) for %d s: %d requests, %d errors, "
                "round trip median %.1f ms, p95 %.1f ms\n",
        clientCount, notesPerPush, loadSeconds, requests, errors, median(roundTrips),
        percentile(roundTrips, 0.95));
    std::printf("CPU during the load: server %.1f s (%.2f ms per request), load generator %.1f s; "
                "load average %s\n",
        serverCpu, requests ? serverCpu * 1000 / requests : 0.0, ownCpu, loadAverage().constData());
    std::printf(
        "server memory after the load (RSS): %.1f MB\n", rssKb(server.processId()) / 1024.0);
    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
