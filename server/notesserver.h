#pragma once

#include "serverconfig.h"

#include <QAbstractHttpServer>

#include <memory>

class AccountRoutes;
class AuthRoutes;
class DownloadRoutes;
class GuardedTcpServer;
class ServerContext;
class ShareRoutes;
class SyncRoutes;
struct HttpRequest;
struct HttpReply;

// The self-hosted notes server: one HTTP listener serving the sign-in page and authentication
// API, the account service, the notes sync service and the download folder.
//
//   /<realm>/account/login             login page
//   /api/v1/realms/<realm>/...         authentication API
//   /api/account/...                   account service  (ACCOUNT_API_URL)
//   /api/notes/...                     notes sync       (SYNC_API_URL)
//   /downloads/...                     update manifests and release notes
class NotesServer final : public QAbstractHttpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotesServer)

public:
    explicit NotesServer(const ServerConfig &config, QObject *parent = nullptr);
    ~NotesServer() override;

    // Opens storage and the secret, then listens; false with errorString() on failure.
    bool start();
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    ServerContext &context() { return *m_context; }

    // Deletes accounts whose deletion was asked for more than |graceMs| ago, with their data.
    int purgeDeletedAccounts(qint64 graceMs);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    HttpReply dispatch(const HttpRequest &request);

    std::unique_ptr<ServerContext> m_context;
    std::unique_ptr<AuthRoutes> m_auth;
    std::unique_ptr<AccountRoutes> m_account;
    std::unique_ptr<SyncRoutes> m_sync;
    std::unique_ptr<ShareRoutes> m_shares;
    std::unique_ptr<DownloadRoutes> m_downloads;
    GuardedTcpServer *m_tcp = nullptr;
    quint16 m_port = 0;
    QString m_error;
};
