#pragma once

#include "httpexchange.h"

#include <QHash>

class ServerContext;
struct AuthUser;

// The notes sync service: "/sync/push", "/sync/pull", "/notebooks" and "/attachments".
class SyncRoutes final
{
public:
    explicit SyncRoutes(ServerContext &context) : m_context(context) { }

    // nullopt when |rest| is not one of these routes.
    std::optional<HttpReply> handle(const HttpRequest &request, const QStringList &rest);

private:
    HttpReply push(const HttpRequest &request, const AuthUser &user);
    HttpReply pull(const HttpRequest &request, const AuthUser &user);
    HttpReply listNotebooks(const AuthUser &user);
    HttpReply createNotebook(const HttpRequest &request, const AuthUser &user);
    HttpReply updateNotebook(const HttpRequest &request, const AuthUser &user, const QString &id);
    HttpReply deleteNotebook(const AuthUser &user, const QString &id);
    HttpReply listAttachments(const HttpRequest &request, const AuthUser &user);
    HttpReply uploadAttachment(const HttpRequest &request, const AuthUser &user);
    HttpReply downloadAttachment(const AuthUser &user, const QString &id);
    void recordDevice(const HttpRequest &request, const AuthUser &user);
    QString attachmentPath(const QString &ownerId, const QString &attachmentId) const;

    ServerContext &m_context; // not owned
    // When each session's device row was last written; a sync every second need not write it.
    QHash<QString, qint64> m_deviceSeen;
    // The pull queries, written for the database in use on first need.
    QString m_ownPullSql;
    QString m_sharedPullSql;
};
