#pragma once

#include "notesserver.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <optional>

class QHttpMultiPart;

// A notes server on 127.0.0.1 (port 0) over a temporary data directory, plus a client that
// talks to it the way the program and a browser do.
class ServerHarness final
{
public:
    struct Response
    {
        int status = 0;
        QByteArray body;
        QJsonObject json;
        QList<QNetworkReply::RawHeaderPair> headers;
        QByteArray header(const QByteArray &name) const;
    };
    struct Tokens
    {
        QString access;
        QString refresh;
    };
    // One step of the browser sign-in, for tests that tamper with it.
    struct LoginForm
    {
        QString cookie;
        QString csrfToken;
        Response page;
    };

    ServerHarness();
    ~ServerHarness();

    bool start(qint64 maxAttachmentBytes = 2 * 1024 * 1024);
    NotesServer &server() { return *m_server; }
    QString dataDir() const { return m_dir.path(); }
    QString errorString() const { return m_error; }
    // Options that point the brevaro-notes-server command at this server's storage.
    QStringList commandLineOptions() const;

    QUrl url(const QString &path) const;
    // Service bases as the program's environment would name them.
    QString authApi() const { return QStringLiteral("/api/v1/realms/brevaro"); }
    QString syncApi() const { return QStringLiteral("/api/notes"); }
    QString accountApi() const { return QStringLiteral("/api/account"); }

    QString addUser(const QString &email, const QString &password);

    Response send(const QByteArray &method, const QString &path, const QByteArray &body = {},
        const QString &token = {}, const QList<QPair<QByteArray, QByteArray>> &headers = {});
    Response sendJson(const QByteArray &method, const QString &path, const QJsonObject &body,
        const QString &token);
    Response sendMultipart(const QString &path, QHttpMultiPart *multipart, const QString &token);

    // The loopback listener standing in for the program's sign-in handler.
    QString redirectUri() const;
    QString lastCallbackTarget() const { return m_callbackTarget; }
    void clearCallback() { m_callbackTarget.clear(); }

    LoginForm openLoginPage(const QString &redirectUri);
    Response postLogin(const QString &redirectUri, const QString &email, const QString &password,
        const QString &cookie, const QString &csrfToken,
        const QList<QPair<QByteArray, QByteArray>> &extraHeaders = {});
    // Plays the browser: fetch the page, post the form, follow the redirect to the listener.
    std::optional<Tokens> signIn(const QString &email, const QString &password);
    std::optional<Tokens> refresh(const QString &refreshToken, int *status = nullptr);
    // Plays the browser for a sign-in page the program opened: `loginUrl` is the address it
    // asked the desktop to open; the redirect goes to the program's own loopback handler.
    bool completeBrowserSignIn(const QUrl &loginUrl, const QString &email, const QString &password);

    static QJsonObject jwtPayload(const QString &token);

private:
    Response wait(QNetworkReply *reply);
    LoginForm readLoginForm(const Response &page);
    bool followRedirect(const Response &posted);
    bool resetPostgres(const ServerConfig &config);

    QTemporaryDir m_dir;
    std::unique_ptr<NotesServer> m_server;
    QNetworkAccessManager m_nam;
    QTcpServer m_listener;
    QString m_callbackTarget;
    QString m_error;
    QStringList m_options;
};
