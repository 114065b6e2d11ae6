#pragma once

#include "httpexchange.h"

class ServerContext;

// The hosted login page ("<slug>/account/login") and the authentication API below
// "/api/v1/realms/<slug>".
class AuthRoutes final
{
public:
    explicit AuthRoutes(ServerContext &context) : m_context(context) { }

    HttpReply loginPage(const HttpRequest &request);
    // |rest| is the path after the realm prefix.
    HttpReply api(const HttpRequest &request, const QStringList &rest);

private:
    HttpReply showForm(
        const HttpRequest &request, int status, const QString &message, const QString &email = {});
    HttpReply submitForm(const HttpRequest &request);
    HttpReply refresh(const HttpRequest &request);
    HttpReply me(const HttpRequest &request);
    HttpReply password(const HttpRequest &request);
    HttpReply sessions(const HttpRequest &request, const QString &sessionId);

    ServerContext &m_context; // not owned
    // Verified against for unknown addresses, at the cost of a real account's hash.
    QString m_dummyHash;
};

// True for "http://localhost:<port>/..." and "http://127.0.0.1:<port>/...": the only places
// the login page hands tokens to.
bool isLoopbackRedirect(const QString &uri);
