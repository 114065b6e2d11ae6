#pragma once

#include <QObject>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

namespace BrevAccount {

// The loopback listener that receives the browser's redirect after sign-in. Serves every
// connection asynchronously: requests for other paths (a favicon, a speculative connection
// that sends nothing) get a 404 and the listener keeps waiting for "/callback".
class WebAuthHandler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebAuthHandler)

public:
    static constexpr quint16 DefaultPort = 19876;

    explicit WebAuthHandler(QObject *parent = nullptr, quint16 preferredPort = DefaultPort);
    ~WebAuthHandler() override;

    // The redirect URI, or empty when no loopback port could be opened.
    QString start();
    quint16 port() const { return m_port; }
    bool isListening() const;
    void stop();

signals:
    void callbackReceived(const QUrl &url);

private:
    void acceptConnections(QTcpServer *server);
    void serve(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const QByteArray &status, const QByteArray &html);

    QTcpServer *m_server; // IPv4 loopback
    QTcpServer *m_server6; // IPv6 loopback, for browsers that resolve localhost to ::1
    quint16 m_preferredPort;
    quint16 m_port = 0;
};

} // namespace BrevAccount
