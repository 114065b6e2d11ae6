#include "webauthhandler.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QtDebug>

namespace BrevAccount {

namespace {

// A request head larger than this is not a browser redirect.
constexpr qsizetype MaxRequestHead = 16 * 1024;
// Browsers keep speculative connections open; drop them after a while.
constexpr int IdleConnectionMs = 60000;

const char CompletePage[]
    = "<html><body style='font-family: sans-serif; text-align: center; padding: 40px;'>"
      "<h2>Authentication complete!</h2>"
      "<p>You can close this tab and return to the application.</p></body></html>";

// Browsers never send the fragment of a URL. When the redirect carries the tokens there, this
// page moves them into the query and asks again.
const char FragmentRelayPage[]
    = "<html><body style='font-family: sans-serif; text-align: center; padding: 40px;'>"
      "<p>Completing sign-in&hellip;</p>"
      "<noscript><p>Sign-in needs JavaScript to finish.</p></noscript>"
      "<script>var f = window.location.hash.substring(1);"
      "window.location.replace('/callback?' + (f ? f : 'error=no_tokens'));</script>"
      "</body></html>";

const char NotFoundPage[] = "<html><body>Not found</body></html>";

} // namespace

WebAuthHandler::WebAuthHandler(QObject *parent, quint16 preferredPort)
    : QObject(parent),
      m_server(new QTcpServer(this)),
      m_server6(new QTcpServer(this)),
      m_preferredPort(preferredPort)
{
    acceptConnections(m_server);
    acceptConnections(m_server6);
}

WebAuthHandler::~WebAuthHandler()
{
    stop();
}

bool WebAuthHandler::isListening() const
{
    return m_server->isListening() || m_server6->isListening();
}

void WebAuthHandler::stop()
{
    m_server->close();
    m_server6->close();
}

QString WebAuthHandler::start()
{
    if (!m_server->isListening()) {
        if (!m_server->listen(QHostAddress::LocalHost, m_preferredPort)
            && !m_server->listen(QHostAddress::LocalHost, 0)) {
            qWarning().noquote() << "WebAuthHandler: cannot listen on the loopback address:"
                                 << m_server->errorString();
            return {};
        }
        m_port = m_server->serverPort();
        // Not every machine has IPv6 loopback; IPv4 alone still serves most browsers.
        if (!m_server6->listen(QHostAddress::LocalHostIPv6, m_port))
            qInfo().noquote() << "WebAuthHandler: no IPv6 loopback listener:"
                              << m_server6->errorString();
    }
    return QStringLiteral("http://localhost:%1/callback").arg(m_port);
}

void WebAuthHandler::acceptConnections(QTcpServer *server)
{
    connect(server, &QTcpServer::newConnection, this, [this, server] {
        while (QTcpSocket *socket = server->nextPendingConnection())
            serve(socket);
    });
}

void WebAuthHandler::serve(QTcpSocket *socket)
{
    socket->setParent(this);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start(IdleConnectionMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket->property("answered").toBool()) {
            socket->readAll();
            return;
        }
        const QByteArray pending = socket->peek(MaxRequestHead + 1);
        const qsizetype headEnd = pending.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (pending.size() > MaxRequestHead)
                respond(socket, "431 Request Header Fields Too Large", NotFoundPage);
            return; // wait for the rest of the request head
        }
        const QByteArray head = socket->read(headEnd + 4);
        const QByteArray requestLine = head.left(head.indexOf("\r\n"));
        const QList<QByteArray> parts = requestLine.split(' ');
        if (parts.size() < 3 || !parts.at(1).startsWith('/')) {
            respond(socket, "400 Bad Request", NotFoundPage);
            return;
        }
        const QUrl url(
            QStringLiteral("http://localhost:%1").arg(m_port) + QString::fromUtf8(parts.at(1)),
            QUrl::StrictMode);
        if (!url.isValid() || url.path() != QLatin1String("/callback")) {
            respond(socket, "404 Not Found", NotFoundPage);
            return;
        }
        if (!url.hasQuery() && !url.hasFragment()) {
            respond(socket, "200 OK", FragmentRelayPage);
            return;
        }
        respond(socket, "200 OK", CompletePage);
        // One sign-in per listener.
        stop();
        emit callbackReceived(url);
    });
}

void WebAuthHandler::respond(QTcpSocket *socket, const QByteArray &status, const QByteArray &html)
{
    socket->setProperty("answered", true);
    // An answered connection lives on its own until the page has gone out: the handler may be
    // deleted right after the callback, before the socket has written everything.
    socket->setParent(nullptr);
    // An answered connection lives on its own until the page has gone out: the handler may be
    // deleted right after the callback, before the socket has written everything.
    socket->setParent(nullptr);
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: "
        + QByteArray::number(html.size()) + "\r\nConnection: close\r\n\r\n" + html);
    socket->flush();
    socket->disconnectFromHost();
}

} // namespace BrevAccount
