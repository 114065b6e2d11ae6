#include "serverharness.h"

#include "servercontext.h"
#include "useradmin.h"

#include <QEventLoop>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace {

// Cookies are handled by hand so tests decide exactly what the "browser" sends.
class NoCookieJar final : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

} // namespace

QByteArray ServerHarness::Response::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

ServerHarness::ServerHarness()
{
    m_nam.setCookieJar(new NoCookieJar(&m_nam));
    m_nam.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QObject::connect(&m_listener, &QTcpServer::newConnection, &m_listener, [this] {
        while (QTcpSocket *socket = m_listener.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray line = socket->readLine();
                m_callbackTarget = QString::fromUtf8(line.split(' ').value(1));
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2"
                              "\r\nConnection: close\r\n\r\nok");
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_listener.listen(QHostAddress::LocalHost, 0);
}

ServerHarness::~ServerHarness() = default;

bool ServerHarness::start(qint64 maxAttachmentBytes)
{
    ServerConfig config;
    config.dataDir = m_dir.path();
    config.port = 0;
    config.cheapPasswordHashing = true;
    config.maxAttachmentBytes = maxAttachmentBytes;
    // server/scripts/test-postgres.sh runs the same tests against a throw-away PostgreSQL.
    if (qEnvironmentVariable("NOTES_SERVER_TEST_DATABASE") == QLatin1String("postgres")) {
        config.databaseKind = QStringLiteral("postgres");
        config.pgHost = qEnvironmentVariable("NOTES_SERVER_PG_HOST", config.pgHost);
        config.pgPort = qEnvironmentVariableIntValue("NOTES_SERVER_PG_PORT");
        config.pgDatabase = qEnvironmentVariable("NOTES_SERVER_PG_DATABASE", config.pgDatabase);
        config.pgUser = qEnvironmentVariable("NOTES_SERVER_PG_USER");
        if (!resetPostgres(config))
            return false;
    }
    m_options = QStringList { QStringLiteral("--data-dir"), config.dataDir,
        QStringLiteral("--database"), config.databaseKind, QStringLiteral("--pg-host"),
        config.pgHost, QStringLiteral("--pg-port"), QString::number(config.pgPort),
        QStringLiteral("--pg-database"), config.pgDatabase, QStringLiteral("--pg-user"),
        config.pgUser };
    m_server = std::make_unique<NotesServer>(config);
    if (!m_server->start()) {
        m_error = m_server->errorString();
        return false;
    }
    return true;
}

bool ServerHarness::resetPostgres(const ServerConfig &config)
{
    // Every test starts from an empty schema, as it does with a fresh SQLite file.
    const QString name = QStringLiteral("harness_reset");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(config.pgHost);
        db.setPort(config.pgPort);
        db.setDatabaseName(config.pgDatabase);
        db.setUserName(config.pgUser);
        ok = db.open();
        QSqlQuery q(db);
        ok = ok && q.exec(QStringLiteral("DROP SCHEMA public CASCADE"))
            && q.exec(QStringLiteral("CREATE SCHEMA public"));
        if (!ok)
            m_error = QStringLiteral("PostgreSQL reset failed: ") + q.lastError().text()
                + db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QStringList ServerHarness::commandLineOptions() const
{
    return m_options;
}

QUrl ServerHarness::url(const QString &path) const
{
    return QUrl::fromEncoded(
        QStringLiteral("http://127.0.0.1:%1%2").arg(m_server->port()).arg(path).toUtf8());
}

QString ServerHarness::addUser(const QString &email, const QString &password)
{
    return UserAdmin(m_server->context()).addUser(email, password);
}

ServerHarness::Response ServerHarness::wait(QNetworkReply *reply)
{
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    Response r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    r.json = QJsonDocument::fromJson(r.body).object();
    r.headers = reply->rawHeaderPairs();
    reply->deleteLater();
    return r;
}

ServerHarness::Response ServerHarness::send(const QByteArray &method, const QString &path,
    const QByteArray &body, const QString &token,
    const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QNetworkRequest request(url(path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("X-App-Id", "app.brevaro.notes");
    request.setRawHeader("X-App-Version", "1.1.0");
    request.setRawHeader("X-Platform", "linux");
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    for (const auto &h : headers)
        request.setRawHeader(h.first, h.second);
    return wait(m_nam.sendCustomRequest(request, method, body));
}

ServerHarness::Response ServerHarness::sendJson(
    const QByteArray &method, const QString &path, const QJsonObject &body, const QString &token)
{
    return send(method, path, QJsonDocument(body).toJson(QJsonDocument::Compact), token);
}

ServerHarness::Response ServerHarness::sendMultipart(
    const QString &path, QHttpMultiPart *multipart, const QString &token)
{
    QNetworkRequest request(url(path));
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    QNetworkReply *reply = m_nam.post(request, multipart);
    multipart->setParent(reply);
    return wait(reply);
}

QString ServerHarness::redirectUri() const
{
    return QStringLiteral("http://localhost:%1/callback").arg(m_listener.serverPort());
}

ServerHarness::LoginForm ServerHarness::openLoginPage(const QString &redirectUri)
{
    QUrlQuery query;
    query.addQueryItem(
        QStringLiteral("client_id"), QStringLiteral("0123456789abcdef0123456789abcdef"));
    query.addQueryItem(
        QStringLiteral("redirect_uri"), QString::fromLatin1(QUrl::toPercentEncoding(redirectUri)));
    return readLoginForm(send(
        "GET", QStringLiteral("/brevaro/account/login?") + query.toString(QUrl::FullyEncoded)));
}

ServerHarness::LoginForm ServerHarness::readLoginForm(const Response &page)
{
    LoginForm form;
    form.page = page;
    const QByteArray setCookie = form.page.header("Set-Cookie");
    static const QRegularExpression cookieRe(QStringLiteral("brv_login=([^;]+)"));
    form.cookie = cookieRe.match(QString::fromLatin1(setCookie)).captured(1);
    static const QRegularExpression tokenRe(
        QStringLiteral("name=\"csrf_token\" value=\"([^\"]+)\""));
    form.csrfToken = tokenRe.match(QString::fromUtf8(form.page.body)).captured(1);
    return form;
}

ServerHarness::Response ServerHarness::postLogin(const QString &redirectUri, const QString &email,
    const QString &password, const QString &cookie, const QString &csrfToken,
    const QList<QPair<QByteArray, QByteArray>> &extra)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("csrf_token"), csrfToken);
    form.addQueryItem(
        QStringLiteral("client_id"), QStringLiteral("0123456789abcdef0123456789abcdef"));
    form.addQueryItem(QStringLiteral("redirect_uri"), redirectUri);
    form.addQueryItem(QStringLiteral("email"), email);
    form.addQueryItem(QStringLiteral("password"), password);
    QByteArray body;
    const auto items = form.queryItems(QUrl::FullyDecoded);
    for (const auto &item : items) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(item.first) + '=' + QUrl::toPercentEncoding(item.second);
    }
    QList<QPair<QByteArray, QByteArray>> headers { { "Content-Type",
                                                       "application/x-www-form-urlencoded" },
        { "Origin", url(QString()).toString(QUrl::RemovePath).toLatin1() } };
    if (!cookie.isEmpty())
        headers.append(qMakePair(QByteArray("Cookie"), "brv_login=" + cookie.toLatin1()));
    for (const auto &h : extra) {
        headers.erase(std::remove_if(headers.begin(), headers.end(),
                          [&h](const auto &x) { return x.first == h.first; }),
            headers.end());
        if (!h.second.isEmpty())
            headers.append(h);
    }
    return send("POST", QStringLiteral("/brevaro/account/login"), body, {}, headers);
}

bool ServerHarness::followRedirect(const Response &posted)
{
    if (posted.status != 303)
        return false;
    QNetworkRequest follow(QUrl::fromEncoded(posted.header("Location")));
    return wait(m_nam.get(follow)).status == 200;
}

std::optional<ServerHarness::Tokens> ServerHarness::signIn(
    const QString &email, const QString &password)
{
    const LoginForm form = openLoginPage(redirectUri());
    clearCallback();
    if (!followRedirect(postLogin(redirectUri(), email, password, form.cookie, form.csrfToken)))
        return std::nullopt;
    const QUrlQuery query(QUrl(m_callbackTarget).query());
    Tokens tokens { query.queryItemValue(QStringLiteral("access_token"), QUrl::FullyDecoded),
        query.queryItemValue(QStringLiteral("refresh_token"), QUrl::FullyDecoded) };
    if (tokens.access.isEmpty() || tokens.refresh.isEmpty())
        return std::nullopt;
    return tokens;
}

bool ServerHarness::completeBrowserSignIn(
    const QUrl &loginUrl, const QString &email, const QString &password)
{
    if (loginUrl.host() != QLatin1String("127.0.0.1"))
        return false; // tests never reach another address
    const LoginForm form = readLoginForm(wait(m_nam.get(QNetworkRequest(loginUrl))));
    const QString redirect
        = QUrlQuery(loginUrl).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
    return followRedirect(postLogin(redirect, email, password, form.cookie, form.csrfToken));
}

std::optional<ServerHarness::Tokens> ServerHarness::refresh(
    const QString &refreshToken, int *status)
{
    const Response r = sendJson("POST", authApi() + QStringLiteral("/auth/token/refresh"),
        QJsonObject { { QStringLiteral("refresh_token"), refreshToken } }, {});
    if (status)
        *status = r.status;
    if (r.status != 200)
        return std::nullopt;
    return Tokens { r.json.value(QStringLiteral("access_token")).toString(),
        r.json.value(QStringLiteral("refresh_token")).toString() };
}

QJsonObject ServerHarness::jwtPayload(const QString &token)
{
    const QByteArray part = token.toLatin1().split('.').value(1);
    return QJsonDocument::fromJson(QByteArray::fromBase64(part, QByteArray::Base64UrlEncoding))
        .object();
}
