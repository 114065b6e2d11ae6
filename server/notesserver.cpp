#include "notesserver.h"

#include "accountroutes.h"
#include "authroutes.h"
#include "downloadroutes.h"
#include "guardedtcpserver.h"
#include "httpexchange.h"
#include "servercontext.h"
#include "shareroutes.h"
#include "syncroutes.h"

#include <QDir>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QTimer>
#include <QtDebug>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr qint64 deletionGraceMs = 30LL * 24 * 3600 * 1000;

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    default:
        return "OTHER";
    }
}

} // namespace

NotesServer::NotesServer(const ServerConfig &config, QObject *parent)
    : QAbstractHttpServer(parent), m_context(std::make_unique<ServerContext>(config))
{
    m_auth = std::make_unique<AuthRoutes>(*m_context);
    m_account = std::make_unique<AccountRoutes>(*m_context);
    m_sync = std::make_unique<SyncRoutes>(*m_context);
    m_shares = std::make_unique<ShareRoutes>(*m_context);
    const QString downloads = config.downloadsDir.isEmpty()
        ? QDir(config.dataDir).filePath(QStringLiteral("downloads"))
        : config.downloadsDir;
    m_downloads = std::make_unique<DownloadRoutes>(downloads);
}

NotesServer::~NotesServer() = default;

bool NotesServer::start()
{
    if (!m_context->open(&m_error))
        return false;
    const ServerConfig &config = m_context->config();
    m_tcp = new GuardedTcpServer(config.maxJsonBytes, config.maxAttachmentBytes, this);
    if (!m_tcp->listen(config.listenAddress, config.port)) {
        m_error = QStringLiteral("Cannot listen on %1:%2: %3")
                      .arg(config.listenAddress.toString())
                      .arg(config.port)
                      .arg(m_tcp->errorString());
        return false;
    }
    m_port = m_tcp->serverPort();
    bind(m_tcp);
    purgeDeletedAccounts(deletionGraceMs);
    auto *maintenance = new QTimer(this);
    connect(maintenance, &QTimer::timeout, this, [this] {
        purgeDeletedAccounts(deletionGraceMs);
        // Used refresh tokens are kept a while only to recognise reuse.
        m_context->db().run(QStringLiteral("DELETE FROM refresh_tokens WHERE used = 1 AND "
                                           "created_at < ?"),
            { nowMs() - deletionGraceMs });
    });
    maintenance->start(3600 * 1000);
    return true;
}

int NotesServer::purgeDeletedAccounts(qint64 graceMs)
{
    ServerDatabase &db = m_context->db();
    auto q = db.run(QStringLiteral("SELECT id FROM users WHERE deletion_requested_at IS NOT NULL "
                                   "AND deletion_requested_at <= ?"),
        { nowMs() - graceMs });
    QStringList ids;
    while (q && q->next())
        ids << q->value(0).toString();
    for (const QString &id : ids) {
        m_context->dropGroupShares(id);
        const QString groupId = m_context->groupOf(id);
        if (!groupId.isEmpty() && m_context->roleOf(id) == QLatin1String("owner")) {
            db.run(QStringLiteral("DELETE FROM invitations WHERE group_id = ?"), { groupId });
            db.run(QStringLiteral("DELETE FROM group_members WHERE group_id = ?"), { groupId });
            db.run(QStringLiteral("DELETE FROM user_groups WHERE id = ?"), { groupId });
        }
        db.run(QStringLiteral("DELETE FROM group_members WHERE user_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM notes WHERE owner_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM notebooks WHERE owner_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM attachments WHERE owner_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM devices WHERE user_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM share_revocations WHERE user_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM refresh_tokens WHERE session_id IN (SELECT id FROM "
                              "sessions WHERE user_id = ?)"),
            { id });
        db.run(QStringLiteral("DELETE FROM sessions WHERE user_id = ?"), { id });
        db.run(QStringLiteral("DELETE FROM users WHERE id = ?"), { id });
        QDir(QDir(m_context->config().dataDir).filePath(QStringLiteral("attachments/") + id))
            .removeRecursively();
        qInfo().noquote() << "Deleted account" << id << "after its grace period";
    }
    return int(ids.size());
}

bool NotesServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    HttpRequest req;
    req.method = methodName(request.method());
    const QUrl url = request.url();
    const QStringList raw
        = url.path(QUrl::FullyEncoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : raw)
        req.segments << QUrl::fromPercentEncoding(part.toLatin1());
    req.query = request.query();
    req.body = request.body();
    req.remoteAddress = request.remoteAddress();
    req.headers = request.headers();

    HttpReply reply;
    try {
        reply = dispatch(req);
    } catch (const std::exception &e) {
        qCritical().noquote() << "Request failed:" << e.what();
        reply = HttpReply::error(500, QStringLiteral("Internal error"));
    } catch (...) {
        reply = HttpReply::error(500, QStringLiteral("Internal error"));
    }

    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    if (!reply.contentType.isEmpty())
        responder.writeHeader("Content-Type", reply.contentType);
    for (const auto &h : reply.headers)
        responder.writeHeader(h.first, h.second);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    if (req.method == "HEAD")
        responder.writeBody(QByteArray());
    else
        responder.writeBody(reply.body);
#if defined(__GLIBC__)
    // A large pull leaves tens of megabytes in the allocator's free lists; give them back so an
    // idle server stays small.
    if (reply.body.size() > 4 * 1024 * 1024 || req.body.size() > 4 * 1024 * 1024) {
        reply = HttpReply();
        req = HttpRequest();
        QTimer::singleShot(0, this, [] { malloc_trim(0); });
    }
#endif
    return true;
}

void NotesServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(
        QJsonDocument(QJsonObject { { QStringLiteral("error"), QStringLiteral("Not found") } }),
        QHttpServerResponder::StatusCode::NotFound);
}

HttpReply NotesServer::dispatch(const HttpRequest &request)
{
    const QStringList &s = request.segments;
    const QString &realm = m_context->config().realmSlug;
    if (s.size() == 3 && s[0] == realm && s[1] == QLatin1String("account")
        && s[2] == QLatin1String("login"))
        return m_auth->loginPage(request);
    if (s.size() >= 4 && s[0] == QLatin1String("api") && s[1] == QLatin1String("v1")
        && s[2] == QLatin1String("realms")) {
        if (s[3] != realm)
            return HttpReply::error(404, QStringLiteral("Unknown realm"));
        return m_auth->api(request, s.mid(4));
    }
    if (s.size() >= 2 && s[0] == QLatin1String("api") && s[1] == QLatin1String("account"))
        return m_account->handle(request, s.mid(2));
    if (s.size() >= 2 && s[0] == QLatin1String("api") && s[1] == QLatin1String("notes")) {
        const QStringList rest = s.mid(2);
        if (auto reply = m_shares->handle(request, rest))
            return *reply;
        if (auto reply = m_sync->handle(request, rest))
            return *reply;
        return HttpReply::error(404, QStringLiteral("Not found"));
    }
    if (!s.isEmpty() && s[0] == QLatin1String("downloads"))
        return m_downloads->handle(request, s.mid(1));
    if (s.size() == 1 && s[0] == QLatin1String("health"))
        return HttpReply::json(
            200, QJsonObject { { QStringLiteral("status"), QStringLiteral("ok") } });
    return HttpReply::error(404, QStringLiteral("Not found"));
}
