#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Makes the first running copy the only one: later copies hand their request over a local socket
// and exit. The socket is private to the user, so two users on one machine never meet.
class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    explicit SingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance (also when its server cannot listen); false
    // when a running instance took the message.
    bool tryBecomePrimary(const QString &message);

    QString serverName() const { return m_serverName; }
    // The name handed to the local socket API: on Linux a path inside a per-user private
    // directory, empty when no safe place for it exists.
    QString socketPath() const { return m_socketPath; }
    bool isListening() const;

signals:
    void messageReceived(const QString &message);

private:
    void onNewConnection();
    void acceptConnection(QLocalSocket *socket);

    QString m_serverName;
    QString m_socketPath;
    QLocalServer *m_server = nullptr;
};
