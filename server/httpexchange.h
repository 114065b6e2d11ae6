#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QUrlQuery>

#include <optional>

// One incoming request, reduced to what the route handlers read.
struct HttpRequest
{
    QByteArray method;
    // Decoded path segments without empty parts: "/api/notes/sync/push" -> api, notes, sync, push.
    QStringList segments;
    QUrlQuery query;
    QByteArray body;
    QHostAddress remoteAddress;
    QList<QPair<QByteArray, QByteArray>> headers;

    // Case-insensitive header lookup; empty when absent.
    QByteArray header(const QByteArray &name) const;
    QString cookie(const QString &name) const;
    QString queryValue(const QString &key) const;
};

struct HttpReply
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    void addHeader(const QByteArray &name, const QByteArray &value)
    {
        headers.append(qMakePair(name, value));
    }

    static HttpReply json(int status, const QJsonObject &object);
    static HttpReply error(int status, const QString &message);
    static HttpReply noContent();
    static HttpReply html(int status, const QString &page);
};

// Parses a JSON object body; on failure returns nullopt and fills |reply| with a 400.
std::optional<QJsonObject> parseJsonObject(const QByteArray &body, HttpReply *reply);

// Appends |text| as a JSON string (quotes included), UTF-8 encoded, for replies written without
// building a QJsonDocument first.
void appendJsonString(QByteArray &out, QStringView text);
// The same for text already in UTF-8 (as storage hands it out); invalid sequences become U+FFFD
// so the reply stays readable.
void appendJsonString(QByteArray &out, QByteArrayView utf8);

// True for a lowercase or uppercase 36-character UUID text, the only id form that reaches a
// query or a file name.
bool isUuid(const QString &text);
QString newUuid();
qint64 nowMs();
// Reads a time sent as milliseconds or as ISO 8601 text; |fallback| when absent or unreadable.
qint64 readTimeMs(const QJsonValue &value, qint64 fallback);
QString isoFromMs(qint64 ms);
