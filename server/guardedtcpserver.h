#pragma once

#include <QHash>
#include <QTcpServer>

class QTcpSocket;

// Watches every connection's bytes before the HTTP layer buffers them: a request whose declared
// body is larger than allowed is answered 413 and its body discarded unread, so an oversized
// upload never lands in memory. Chunked bodies (whose size is unknown up front) get 411, and
// header blocks beyond 64 KB get 431.
class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardedTcpServer)

public:
    GuardedTcpServer(qint64 maxJsonBytes, qint64 maxAttachmentBytes, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct State
    {
        QByteArray head;
        qint64 bodyLeft = 0;
        bool rejecting = false;
    };
    void inspect(QTcpSocket *socket);
    // Returns false when the request was refused.
    bool checkHead(QTcpSocket *socket, State &state, const QByteArray &head);
    void reject(QTcpSocket *socket, State &state, int status, const char *reason,
        const QByteArray &message);

    qint64 m_maxJsonBytes;
    qint64 m_maxAttachmentBytes;
    QHash<QTcpSocket *, State> m_states;
};
