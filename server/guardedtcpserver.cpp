#include "guardedtcpserver.h"

#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int maxHeadBytes = 64 * 1024;
// Connections that neither send nor receive for this long are closed, so idle or deliberately
// slow clients cannot hold sockets forever.
constexpr int idleTimeoutMs = 120 * 1000;
constexpr int maxConnections = 2000;
} // namespace

GuardedTcpServer::GuardedTcpServer(qint64 maxJsonBytes, qint64 maxAttachmentBytes, QObject *parent)
    : QTcpServer(parent), m_maxJsonBytes(maxJsonBytes), m_maxAttachmentBytes(maxAttachmentBytes)
{ }

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (m_states.size() >= maxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Replies are written whole; waiting for more data to coalesce only adds latency.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(idleTimeoutMs);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    connect(socket, &QTcpSocket::readyRead, idle, qOverload<>(&QTimer::start));
    connect(socket, &QTcpSocket::bytesWritten, idle, qOverload<>(&QTimer::start));
    idle->start();
    m_states.insert(socket, State {});
    // Connected before the HTTP layer connects its own handler, so this one sees the bytes first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspect(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { m_states.remove(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
}

void GuardedTcpServer::inspect(QTcpSocket *socket)
{
    auto it = m_states.find(socket);
    if (it == m_states.end())
        return;
    State &state = *it;
    if (state.rejecting) {
        // Swallow the refused body so the client reads our answer instead of a reset.
        const qint64 n = socket->bytesAvailable();
        socket->skip(n);
        state.bodyLeft -= n;
        if (state.bodyLeft <= 0)
            socket->disconnectFromHost();
        return;
    }
    const qint64 available = socket->bytesAvailable();
    if (state.bodyLeft >= available) {
        state.bodyLeft -= available;
        return;
    }
    const QByteArray data = socket->peek(available);
    qint64 pos = state.bodyLeft;
    state.bodyLeft = 0;
    while (pos < data.size()) {
        if (state.bodyLeft > 0) {
            const qint64 take = std::min<qint64>(state.bodyLeft, data.size() - pos);
            state.bodyLeft -= take;
            pos += take;
            continue;
        }
        const qint64 headStart = state.head.size();
        state.head.append(data.constData() + pos, data.size() - pos);
        const qsizetype end = state.head.indexOf("\r\n\r\n");
        if (end < 0) {
            if (state.head.size() > maxHeadBytes) {
                reject(socket, state, 431, "Request Header Fields Too Large",
                    "Request headers too large");
                socket->disconnectFromHost();
            }
            return;
        }
        const QByteArray head = state.head.left(end + 4);
        pos += (end + 4) - headStart;
        state.head.clear();
        if (!checkHead(socket, state, head)) {
            // Body bytes that arrived with the head were skipped with it.
            state.bodyLeft -= data.size() - pos;
            if (state.bodyLeft <= 0)
                socket->disconnectFromHost();
            return;
        }
    }
}

bool GuardedTcpServer::checkHead(QTcpSocket *socket, State &state, const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QByteArray method = requestLine.value(0);
    QByteArray path = requestLine.value(1);
    const int q = path.indexOf('?');
    if (q >= 0)
        path.truncate(q);
    qint64 length = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            length = value.toLongLong(&ok);
            if (!ok || length < 0) {
                state.bodyLeft = 0;
                reject(socket, state, 400, "Bad Request", "Invalid Content-Length");
                return false;
            }
        } else if (name == "transfer-encoding" && value.toLower() != "identity") {
            state.bodyLeft = 0;
            reject(socket, state, 411, "Length Required", "Send the body with a Content-Length");
            return false;
        }
    }
    const bool upload = method == "POST" && path.endsWith("/attachments");
    const qint64 limit = upload ? m_maxAttachmentBytes : m_maxJsonBytes;
    if (length > limit) {
        state.bodyLeft = length;
        reject(socket, state, 413, "Payload Too Large",
            upload ? "Attachment too large" : "Request body too large");
        return false;
    }
    state.bodyLeft = length;
    return true;
}

void GuardedTcpServer::reject(
    QTcpSocket *socket, State &state, int status, const char *reason, const QByteArray &message)
{
    // Everything already received belongs to the refused request; the HTTP layer must not see it.
    socket->skip(socket->bytesAvailable());
    state.rejecting = true;
    state.head.clear();
    const QByteArray body = "{\"error\":\"" + message + "\"}";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
        + "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->flush();
}
