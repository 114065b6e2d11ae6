#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QQueue>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

#include <functional>

class QTcpSocket;

// One request as the server received it.
struct RecordedRequest
{
    QByteArray method;
    QString path; // decoded
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names lower-cased
    QByteArray body;

    QByteArray header(const QByteArray &name) const;
    QJsonObject json() const;
};

// What the server answers to a request.
struct ScriptedReply
{
    enum class Mode { Answer, Hold, Never };

    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    Mode mode = Mode::Answer; // Hold: answered by releaseHeld(); Never: never answered
    qint64 declaredLength = -1; // a Content-Length other than the body's: a reply that never ends

    static ScriptedReply json(int status, const QJsonObject &object);
    static ScriptedReply raw(int status, const QByteArray &body, const QByteArray &type);
    static ScriptedReply held(int status, const QJsonObject &object);
    static ScriptedReply never();
};

// A small HTTP/1.1 server on 127.0.0.1 (port 0) for network tests: records every request and
// answers from a script. One-shot replies queued for a route are used first, in order, then
// the route's standing reply, else 404.
class RecordingHttpServer final : public QObject
{
    Q_OBJECT

public:
    explicit RecordingHttpServer(QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString &path = QString()) const;

    void setReply(const QByteArray &method, const QString &path, const ScriptedReply &reply);
    void enqueueReply(const QByteArray &method, const QString &path, const ScriptedReply &reply);
    // A reply computed from the request, for servers that must echo what they were sent; used
    // when no one-shot reply is queued, before the standing one.
    using Responder = std::function<ScriptedReply(const RecordedRequest &request)>;
    void setResponder(const QByteArray &method, const QString &path, Responder responder);
    // Answers every held request; returns how many there were.
    int releaseHeld();
    int heldCount() const { return m_held.size(); }

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requests(const QString &path) const;
    int count(const QString &path) const { return requests(path).size(); }
    void clearRequests() { m_requests.clear(); }

signals:
    void requestReceived(const RecordedRequest &request);

private:
    void readFrom(QTcpSocket *socket);
    ScriptedReply replyFor(const RecordedRequest &request);
    static void answer(QTcpSocket *socket, const ScriptedReply &reply);

    QTcpServer m_server;
    QHash<QString, ScriptedReply> m_standing;
    QHash<QString, QQueue<ScriptedReply>> m_queued;
    QHash<QString, Responder> m_responders;
    QList<QPair<QTcpSocket *, ScriptedReply>> m_held;
    QList<RecordedRequest> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
