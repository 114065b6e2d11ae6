#pragma once

#include "httpexchange.h"

class ServerContext;
struct AuthUser;

// Sharing of notes ("/shares/notes/...") and notebooks ("/notebooks/<id>/share...") with the
// members of the owner's group.
class ShareRoutes final
{
public:
    explicit ShareRoutes(ServerContext &context) : m_context(context) { }

    std::optional<HttpReply> handle(const HttpRequest &request, const QStringList &rest);

private:
    HttpReply share(
        const HttpRequest &request, const AuthUser &user, const QString &kind, const QString &id);
    HttpReply list(const AuthUser &user, const QString &kind, const QString &id);
    HttpReply remove(
        const AuthUser &user, const QString &kind, const QString &id, const QString &target);
    // Owner of the entity when |userId| may manage its shares; fills |reply| otherwise.
    std::optional<QString> ownerFor(
        const QString &userId, const QString &kind, const QString &id, HttpReply *reply);
    void touch(const QString &kind, const QString &id);

    ServerContext &m_context; // not owned
};
