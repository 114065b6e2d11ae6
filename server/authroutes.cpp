#include "authroutes.h"

#include "passwordhasher.h"
#include "servercontext.h"

#include <QJsonArray>
#include <QUrl>
#include <QtDebug>

namespace {

const QString csrfCookie = QStringLiteral("brv_login");

QString pageTemplate()
{
    return QStringLiteral(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Sign in</title>"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<style>body{font-family:sans-serif;background:#f4f5f7;margin:0}"
        "main{max-width:360px;margin:64px auto;background:#fff;padding:32px;"
        "border-radius:8px;box-shadow:0 1px 4px rgba(0,0,0,.15)}"
        "h1{font-size:22px;margin:0 0 20px}label{display:block;margin:12px 0 4px}"
        "input{width:100%;box-sizing:border-box;padding:8px;font-size:15px}"
        "button{margin-top:20px;width:100%;padding:10px;font-size:15px;background:#00897B;"
        "color:#fff;border:none;border-radius:4px}.msg{color:#b00020;margin:8px 0}</style>"
        "</head><body><main><h1>Sign in to Brevaro Notes</h1>%1</main></body></html>");
}

QString formFor(const QString &action, const QString &csrf, const QString &clientId,
    const QString &redirectUri, const QString &email, const QString &message)
{
    QString html;
    if (!message.isEmpty())
        html += QStringLiteral("<p class=\"msg\">%1</p>").arg(message.toHtmlEscaped());
    html
        += QStringLiteral("<form method=\"post\" action=\"%1\">"
                          "<input type=\"hidden\" name=\"csrf_token\" value=\"%2\">"
                          "<input type=\"hidden\" name=\"client_id\" value=\"%3\">"
                          "<input type=\"hidden\" name=\"redirect_uri\" value=\"%4\">"
                          "<label for=\"email\">E-mail</label>"
                          "<input id=\"email\" name=\"email\" type=\"email\" value=\"%5\" required "
                          "autofocus autocomplete=\"username\">"
                          "<label for=\"password\">Password</label>"
                          "<input id=\"password\" name=\"password\" type=\"password\" required "
                          "autocomplete=\"current-password\">"
                          "<button type=\"submit\">Sign in</button></form>")
               .arg(action.toHtmlEscaped(), csrf.toHtmlEscaped(), clientId.toHtmlEscaped(),
                   redirectUri.toHtmlEscaped(), email.toHtmlEscaped());
    return pageTemplate().arg(html);
}

HttpReply messagePage(int status, const QString &message)
{
    return HttpReply::html(status,
        pageTemplate().arg(QStringLiteral("<p class=\"msg\">%1</p>").arg(message.toHtmlEscaped())));
}

QJsonObject userJson(ServerDatabase &db, const QString &userId)
{
    auto q
        = db.run(QStringLiteral("SELECT email, display_name, created_at FROM users WHERE id = ?"),
            { userId });
    if (!q || !q->next())
        return {};
    const QString email = q->value(0).toString();
    return QJsonObject { { QStringLiteral("id"), userId }, { QStringLiteral("email"), email },
        { QStringLiteral("display_name"), q->value(1).toString() },
        { QStringLiteral("username"), email.section(QLatin1Char('@'), 0, 0) },
        { QStringLiteral("avatar_url"), QString() },
        { QStringLiteral("created_at"), isoFromMs(q->value(2).toLongLong()) } };
}

} // namespace

bool isLoopbackRedirect(const QString &uri)
{
    if (uri.size() > 2048)
        return false;
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || !url.userInfo().isEmpty()
        || url.hasFragment() || url.port() <= 0)
        return false;
    // The authority must be exactly one of these; QUrl already lowercases the host.
    return url.host() == QLatin1String("localhost") || url.host() == QLatin1String("127.0.0.1");
}

HttpReply AuthRoutes::loginPage(const HttpRequest &request)
{
    if (request.method == "GET")
        return showForm(request, 200, {});
    if (request.method == "POST")
        return submitForm(request);
    return HttpReply::error(405, QStringLiteral("Method not allowed"));
}

HttpReply AuthRoutes::showForm(
    const HttpRequest &request, int status, const QString &message, const QString &email)
{
    QUrlQuery params = request.query;
    if (request.method == "POST")
        params = QUrlQuery(
            QString::fromUtf8(request.body).replace(QLatin1Char('+'), QLatin1Char(' ')));
    const QString clientId = params.queryItemValue(QStringLiteral("client_id"), QUrl::FullyDecoded);
    const QString redirectUri
        = params.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
    if (!isLoopbackRedirect(redirectUri))
        return messagePage(400,
            QStringLiteral("This sign-in link is not valid: the return "
                           "address must be on this computer."));
    const QString expectedClient = m_context.config().clientId;
    if (clientId.isEmpty() || (!expectedClient.isEmpty() && clientId != expectedClient))
        return messagePage(400, QStringLiteral("This sign-in link names an unknown application."));

    // A fresh cookie per page view; the form token is derived from it.
    QString cookie = request.cookie(csrfCookie);
    if (cookie.size() < 20)
        cookie = TokenService::randomToken(24);
    const QString path
        = QLatin1Char('/') + m_context.config().realmSlug + QStringLiteral("/account/login");
    HttpReply reply = HttpReply::html(status,
        formFor(
            path, m_context.tokens().csrfTokenFor(cookie), clientId, redirectUri, email, message));
    reply.addHeader("Set-Cookie",
        (csrfCookie + QLatin1Char('=') + cookie
            + QStringLiteral("; Path=%1; HttpOnly; SameSite=Strict").arg(path))
            .toLatin1());
    return reply;
}

HttpReply AuthRoutes::submitForm(const HttpRequest &request)
{
    const QUrlQuery form(
        QString::fromUtf8(request.body).replace(QLatin1Char('+'), QLatin1Char(' ')));
    auto field = [&form](const char *name) {
        return form.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
    };
    const QString redirectUri = field("redirect_uri");
    if (!isLoopbackRedirect(redirectUri))
        return messagePage(400,
            QStringLiteral("This sign-in link is not valid: the return "
                           "address must be on this computer."));

    // A browser marks posts made by another site; refuse those before looking at anything else.
    const QByteArray origin = request.header("Origin");
    const QByteArray host = request.header("Host");
    const QByteArray fetchSite = request.header("Sec-Fetch-Site");
    const bool foreignOrigin = !origin.isEmpty()
        && (origin == "null" || QUrl(QString::fromLatin1(origin)).authority().toLatin1() != host);
    if (foreignOrigin || fetchSite == "cross-site"
        || !m_context.tokens().checkCsrfToken(request.cookie(csrfCookie), field("csrf_token")))
        return messagePage(403,
            QStringLiteral("This sign-in form has expired. Open the sign-in "
                           "page again from the application."));

    const QString expectedClient = m_context.config().clientId;
    if (field("client_id").isEmpty()
        || (!expectedClient.isEmpty() && field("client_id") != expectedClient))
        return messagePage(400, QStringLiteral("This sign-in link names an unknown application."));

    const QString email = field("email").trimmed().toLower();
    const QString password = field("password");
    const QString address = request.remoteAddress.toString();
    const qint64 now = nowMs();
    const qint64 wait = m_context.throttle().waitMs(email, address, now);
    if (wait > 0) {
        HttpReply reply = showForm(request, 429,
            QStringLiteral("Too many failed attempts. Try again in %1 seconds.")
                .arg((wait + 999) / 1000),
            email);
        reply.addHeader("Retry-After", QByteArray::number((wait + 999) / 1000));
        return reply;
    }

    auto q = m_context.db().run(QStringLiteral("SELECT id, password_hash, disabled FROM users "
                                               "WHERE email = ?"),
        { email });
    QString userId;
    bool ok = false;
    if (q && q->next()) {
        userId = q->value(0).toString();
        ok = PasswordHasher::verify(password, q->value(1).toString()) && q->value(2).toInt() == 0;
    } else {
        // Spend the same effort for unknown addresses so timing does not reveal accounts.
        if (m_dummyHash.isEmpty())
            m_dummyHash = PasswordHasher::hash(
                TokenService::randomToken(16), m_context.config().cheapPasswordHashing);
        PasswordHasher::verify(password, m_dummyHash);
    }
    if (!ok) {
        m_context.throttle().recordFailure(email, address, now);
        qInfo().noquote() << "Failed sign-in from" << address;
        return showForm(request, 401, QStringLiteral("Wrong e-mail or password."), email);
    }
    m_context.throttle().recordSuccess(email);
    // Signing in again cancels a pending account deletion.
    m_context.db().run(
        QStringLiteral("UPDATE users SET deletion_requested_at = NULL WHERE id = ?"), { userId });
    const auto tokens
        = m_context.startSession(userId, QString::fromUtf8(request.header("User-Agent")), address);
    if (!tokens)
        return messagePage(500, QStringLiteral("Signing in failed. Please try again."));

    // Browsers never send the fragment to a server, so the tokens travel in the query.
    QUrl target(redirectUri);
    QUrlQuery query(target);
    query.removeAllQueryItems(QStringLiteral("access_token"));
    query.removeAllQueryItems(QStringLiteral("refresh_token"));
    query.addQueryItem(QStringLiteral("access_token"), tokens->accessToken);
    query.addQueryItem(QStringLiteral("refresh_token"), tokens->refreshToken);
    target.setQuery(query);
    HttpReply reply = messagePage(303, QStringLiteral("Signed in. Returning to the application…"));
    reply.addHeader("Location", target.toEncoded());
    return reply;
}

HttpReply AuthRoutes::api(const HttpRequest &request, const QStringList &rest)
{
    const QString path = rest.join(QLatin1Char('/'));
    if (path == QLatin1String("auth/token/refresh") && request.method == "POST")
        return refresh(request);
    if (path == QLatin1String("auth/logout") && request.method == "POST") {
        HttpReply reply;
        const auto user = m_context.authenticate(request, &reply);
        if (!user)
            return reply;
        m_context.revokeSession(user->sessionId);
        return HttpReply::noContent();
    }
    if (path == QLatin1String("users/me"))
        return me(request);
    if (path == QLatin1String("users/me/password") && request.method == "POST")
        return password(request);
    if (rest.size() >= 3 && rest.size() <= 4 && rest[0] == QLatin1String("users")
        && rest[1] == QLatin1String("me") && rest[2] == QLatin1String("sessions"))
        return sessions(request, rest.value(3));
    return HttpReply::error(404, QStringLiteral("Not found"));
}

HttpReply AuthRoutes::refresh(const HttpRequest &request)
{
    HttpReply reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    const auto tokens = m_context.refresh(body->value(QStringLiteral("refresh_token")).toString());
    if (!tokens)
        return HttpReply::error(401, QStringLiteral("Invalid refresh token"));
    return HttpReply::json(200,
        QJsonObject { { QStringLiteral("access_token"), tokens->accessToken },
            { QStringLiteral("refresh_token"), tokens->refreshToken },
            { QStringLiteral("token_type"), QStringLiteral("Bearer") },
            { QStringLiteral("expires_in"), m_context.config().accessTokenSeconds } });
}

HttpReply AuthRoutes::me(const HttpRequest &request)
{
    HttpReply reply;
    const auto user = m_context.authenticate(request, &reply);
    if (!user)
        return reply;
    if (request.method == "PATCH") {
        const auto body = parseJsonObject(request.body, &reply);
        if (!body)
            return reply;
        const QJsonValue name = body->value(QStringLiteral("display_name"));
        if (!name.isUndefined()) {
            if (!name.isString() || name.toString().trimmed().size() > 200)
                return HttpReply::error(400, QStringLiteral("Invalid display name"));
            m_context.db().run(QStringLiteral("UPDATE users SET display_name = ? WHERE id = ?"),
                { name.toString().trimmed(), user->userId });
        }
    } else if (request.method != "GET") {
        return HttpReply::error(405, QStringLiteral("Method not allowed"));
    }
    return HttpReply::json(200, userJson(m_context.db(), user->userId));
}

HttpReply AuthRoutes::password(const HttpRequest &request)
{
    HttpReply reply;
    const auto user = m_context.authenticate(request, &reply);
    if (!user)
        return reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    const QString current = body->value(QStringLiteral("current_password")).toString();
    const QString next = body->value(QStringLiteral("new_password")).toString();
    if (next.size() < 8)
        return HttpReply::error(400, QStringLiteral("Password must be at least 8 characters."));
    const QString stored
        = m_context.db()
              .scalar(
                  QStringLiteral("SELECT password_hash FROM users WHERE id = ?"), { user->userId })
              .toString();
    const QString address = request.remoteAddress.toString();
    if (m_context.throttle().waitMs(user->email, address, nowMs()) > 0)
        return HttpReply::error(429, QStringLiteral("Too many failed attempts"));
    if (!PasswordHasher::verify(current, stored)) {
        m_context.throttle().recordFailure(user->email, address, nowMs());
        return HttpReply::error(403, QStringLiteral("Current password is wrong"));
    }
    const QString hash = PasswordHasher::hash(next, m_context.config().cheapPasswordHashing);
    if (hash.isEmpty())
        return HttpReply::error(500, QStringLiteral("Could not store the password"));
    m_context.db().run(
        QStringLiteral("UPDATE users SET password_hash = ? WHERE id = ?"), { hash, user->userId });
    // Whoever knew the old password is signed out everywhere else.
    m_context.revokeUserSessions(user->userId, user->sessionId);
    return HttpReply::noContent();
}

HttpReply AuthRoutes::sessions(const HttpRequest &request, const QString &sessionId)
{
    HttpReply reply;
    const auto user = m_context.authenticate(request, &reply);
    if (!user)
        return reply;
    if (sessionId.isEmpty() && request.method == "GET") {
        auto q = m_context.db().run(
            QStringLiteral("SELECT id, user_agent, ip_address, created_at, last_active_at FROM "
                           "sessions WHERE user_id = ? AND revoked = 0 ORDER BY last_active_at "
                           "DESC"),
            { user->userId });
        QJsonArray list;
        while (q && q->next()) {
            const QString id = q->value(0).toString();
            list.append(QJsonObject { { QStringLiteral("id"), id },
                { QStringLiteral("user_agent"), q->value(1).toString() },
                { QStringLiteral("ip_address"), q->value(2).toString() },
                { QStringLiteral("created_at"), isoFromMs(q->value(3).toLongLong()) },
                { QStringLiteral("last_active_at"), isoFromMs(q->value(4).toLongLong()) },
                { QStringLiteral("is_current"), id == user->sessionId } });
        }
        return HttpReply::json(200, QJsonObject { { QStringLiteral("sessions"), list } });
    }
    if (!sessionId.isEmpty() && request.method == "DELETE") {
        if (!isUuid(sessionId))
            return HttpReply::error(400, QStringLiteral("Invalid session id"));
        const QString owner
            = m_context.db()
                  .scalar(
                      QStringLiteral("SELECT user_id FROM sessions WHERE id = ?"), { sessionId })
                  .toString();
        if (owner != user->userId)
            return HttpReply::error(404, QStringLiteral("Session not found"));
        m_context.revokeSession(sessionId);
        return HttpReply::noContent();
    }
    return HttpReply::error(405, QStringLiteral("Method not allowed"));
}
