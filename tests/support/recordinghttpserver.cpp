#include "recordinghttpserver.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    for (const auto &pair : headers) {
        if (pair.first == wanted)
            return pair.second;
    }
    return {};
}

QJsonObject RecordedRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

ScriptedReply ScriptedReply::json(int status, const QJsonObject &object)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

ScriptedReply ScriptedReply::raw(int status, const QByteArray &body, const QByteArray &type)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    reply.contentType = type;
    return reply;
}

ScriptedReply ScriptedReply::held(int status, const QJsonObject &object)
{
    ScriptedReply reply = json(status, object);
    reply.mode = Mode::Hold;
    return reply;
}

ScriptedReply ScriptedReply::never()
{
    ScriptedReply reply;
    reply.mode = Mode::Never;
    return reply;
}

RecordingHttpServer::RecordingHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                for (qsizetype i = m_held.size() - 1; i >= 0; --i) {
                    if (m_held.at(i).first == socket)
                        m_held.removeAt(i);
                }
                socket->deleteLater();
            });
        }
    });
}

bool RecordingHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl RecordingHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

static QString routeKey(const QByteArray &method, const QString &path)
{
    return QString::fromLatin1(method) + QLatin1Char(' ') + path;
}

void RecordingHttpServer::setReply(
    const QByteArray &method, const QString &path, const ScriptedReply &reply)
{
    m_standing.insert(routeKey(method, path), reply);
}

void RecordingHttpServer::enqueueReply(
    const QByteArray &method, const QString &path, const ScriptedReply &reply)
{
    m_queued[routeKey(method, path)].enqueue(reply);
}

int RecordingHttpServer::releaseHeld()
{
    const auto held = std::exchange(m_held, {});
    for (const auto &pair : held)
        answer(pair.first, pair.second);
    return held.size();
}

QList<RecordedRequest> RecordingHttpServer::requests(const QString &path) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void RecordingHttpServer::setResponder(
    const QByteArray &method, const QString &path, Responder responder)
{
    m_responders.insert(routeKey(method, path), std::move(responder));
}

ScriptedReply RecordingHttpServer::replyFor(const RecordedRequest &request)
{
    const QString key = routeKey(request.method, request.path);
    auto queued = m_queued.find(key);
    if (queued != m_queued.end() && !queued->isEmpty())
        return queued->dequeue();
    const auto responder = m_responders.constFind(key);
    if (responder != m_responders.constEnd())
        return (*responder)(request);
    const auto standing = m_standing.constFind(key);
    if (standing != m_standing.constEnd())
        return *standing;
    return ScriptedReply::raw(404, "not found", "text/plain");
}

void RecordingHttpServer::readFrom(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    // Several requests may arrive on one kept-alive connection.
    for (;;) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        RecordedRequest request;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        const QUrl target
            = QUrl(QStringLiteral("http://host") + QString::fromLatin1(requestLine.value(1)));
        request.path = target.path(QUrl::FullyDecoded);
        request.query = QUrlQuery(target.query(QUrl::FullyEncoded));
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({ name, value });
            if (name == "content-length")
                length = value.toLongLong();
        }
        if (buffer.size() < headEnd + 4 + length)
            return; // the body is still coming
        request.body = buffer.mid(headEnd + 4, length);
        buffer.remove(0, headEnd + 4 + length);

        m_requests.append(request);
        emit requestReceived(request);
        const ScriptedReply reply = replyFor(request);
        if (reply.mode == ScriptedReply::Mode::Hold)
            m_held.append({ socket, reply });
        else if (reply.mode == ScriptedReply::Mode::Answer)
            answer(socket, reply);
    }
}

void RecordingHttpServer::answer(QTcpSocket *socket, const ScriptedReply &reply)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    if (!reply.body.isEmpty())
        head += "Content-Type: " + reply.contentType + "\r\n";
    const qint64 length = reply.declaredLength >= 0 ? reply.declaredLength : reply.body.size();
    head += "Content-Length: " + QByteArray::number(length) + "\r\n\r\n";
    socket->write(head + reply.body);
}
