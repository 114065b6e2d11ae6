#include "singleinstance.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <memory>

#ifdef Q_OS_WIN
#include <QStandardPaths>
#else
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A message is a note id at most; anything far larger is not from a copy of this program.
constexpr qint64 MaxMessageBytes = 64 * 1024;
// A connection that neither sends nor closes is dropped instead of being kept forever.
constexpr int ConnectionTimeoutMs = 5000;

#ifdef Q_OS_WIN
// Pipe names are machine-wide; the user's name keeps each user's copy to itself, and
// UserAccessOption keeps other accounts from connecting.
QString resolveSocketPath(const QString &serverName)
{
    const QByteArray user = qgetenv("USERNAME");
    const QByteArray digest
        = QCryptographicHash::hash(user.toLower(), QCryptographicHash::Sha1).toHex().left(16);
    return serverName + QLatin1Char('-') + QString::fromLatin1(digest);
}
#else
// A directory in the temporary folder that only this user can own and enter. If another user
// created it first (or made it a symlink), no socket is placed there at all.
QString resolveSocketPath(const QString &serverName)
{
    const uid_t uid = ::getuid();
    const QString dirPath
        = QDir::tempPath() + QStringLiteral("/brevaro-notes-%1").arg(static_cast<qulonglong>(uid));
    const QByteArray nativeDir = QFile::encodeName(dirPath);

    if (::mkdir(nativeDir.constData(), 0700) != 0 && errno != EEXIST) {
        qWarning().noquote() << "SingleInstance: cannot create socket directory" << dirPath << ":"
                             << QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    struct stat info;
    if (::lstat(nativeDir.constData(), &info) != 0) {
        qWarning().noquote() << "SingleInstance: cannot inspect socket directory" << dirPath;
        return {};
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != uid) {
        qWarning().noquote() << "SingleInstance: socket directory" << dirPath
                             << "is not a directory owned by this user; single-instance hand-over "
                                "is disabled";
        return {};
    }
    if ((info.st_mode & 0077) != 0 && ::chmod(nativeDir.constData(), 0700) != 0) {
        qWarning().noquote() << "SingleInstance: cannot make socket directory private:" << dirPath;
        return {};
    }
    return dirPath + QLatin1Char('/') + serverName;
}
#endif

} // namespace

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), m_serverName(serverName), m_socketPath(resolveSocketPath(serverName))
{ }

SingleInstance::~SingleInstance() = default;

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::tryBecomePrimary(const QString &message)
{
    if (m_socketPath.isEmpty())
        return true;

    QLocalSocket socket;
    socket.connectToServer(m_socketPath, QIODevice::ReadWrite);
    if (socket.waitForConnected(500)) {
        if (!message.isEmpty()) {
            socket.write(message.toUtf8());
            socket.flush();
            socket.waitForBytesWritten(1000);
        }
        socket.disconnectFromServer();
        if (socket.state() != QLocalSocket::UnconnectedState)
            socket.waitForDisconnected(1000);
        return false;
    }

    // Clears a socket file left behind by a copy that crashed.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!m_server->listen(m_socketPath))
        qWarning().noquote() << "SingleInstance: failed to start server:"
                             << m_server->errorString();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection())
        acceptConnection(socket);
}

// One message per connection, complete when the sender closes: a message split over several
// reads still arrives whole, and only a connection that sent nothing yields the empty message.
void SingleInstance::acceptConnection(QLocalSocket *socket)
{
    struct Pending
    {
        QByteArray bytes;
        bool dropped = false;
    };
    auto pending = std::make_shared<Pending>();

    auto *timer = new QTimer(socket);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, socket, [socket, pending] {
        qWarning() << "SingleInstance: dropping a connection that sent no complete message";
        pending->dropped = true;
        socket->abort();
    });
    timer->start(ConnectionTimeoutMs);

    auto readAvailable = [socket, pending] {
        if (pending->dropped)
            return;
        pending->bytes.append(socket->readAll());
        if (pending->bytes.size() > MaxMessageBytes) {
            qWarning() << "SingleInstance: dropping an oversized message";
            pending->dropped = true;
            pending->bytes.clear();
            socket->abort();
        }
    };
    connect(socket, &QLocalSocket::readyRead, this, readAvailable);
    connect(
        socket, &QLocalSocket::disconnected, this, [this, socket, pending, timer, readAvailable] {
            timer->stop();
            readAvailable();
            socket->deleteLater();
            if (pending->dropped)
                return;
            pending->dropped = true; // deliver once, whatever the socket emits later
            const QString message = QString::fromUtf8(pending->bytes);
            qInfo().noquote() << "SingleInstance: received message:" << message;
            emit messageReceived(message);
        });
}
