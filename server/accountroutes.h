#pragma once

#include "httpexchange.h"

class ServerContext;
struct AuthUser;

// The account service: profile, group with members and invitations, devices, deletion.
class AccountRoutes final
{
public:
    explicit AccountRoutes(ServerContext &context) : m_context(context) { }

    HttpReply handle(const HttpRequest &request, const QStringList &rest);

private:
    HttpReply profile(const AuthUser &user);
    HttpReply deleteAccount(const AuthUser &user);
    HttpReply group(const AuthUser &user);
    HttpReply invite(const HttpRequest &request, const AuthUser &user);
    HttpReply join(const AuthUser &user, const QString &code);
    HttpReply leave(const AuthUser &user);
    HttpReply removeMember(const AuthUser &user, const QString &memberId);
    HttpReply revokeInvitation(const AuthUser &user, const QString &invitationId);
    HttpReply devices(const AuthUser &user);
    HttpReply removeDevice(const AuthUser &user, const QString &deviceId);
    QJsonObject invitationJson(const QString &invitationId);

    ServerContext &m_context; // not owned
};
