#include "httpexchange.h"

#include "jsonreader.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUuid>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second.trimmed();
    }
    return {};
}

QString HttpRequest::cookie(const QString &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare("cookie", Qt::CaseInsensitive) != 0)
            continue;
        const QStringList pairs = QString::fromLatin1(h.second).split(QLatin1Char(';'));
        for (const QString &pair : pairs) {
            const int eq = pair.indexOf(QLatin1Char('='));
            if (eq > 0 && pair.left(eq).trimmed() == name)
                return pair.mid(eq + 1).trimmed();
        }
    }
    return {};
}

QString HttpRequest::queryValue(const QString &key) const
{
    return query.queryItemValue(key, QUrl::FullyDecoded);
}

HttpReply HttpReply::json(int status, const QJsonObject &object)
{
    HttpReply r;
    r.status = status;
    r.contentType = "application/json";
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return r;
}

HttpReply HttpReply::error(int status, const QString &message)
{
    return json(status, QJsonObject { { QStringLiteral("error"), message } });
}

HttpReply HttpReply::noContent()
{
    HttpReply r;
    r.status = 204;
    return r;
}

HttpReply HttpReply::html(int status, const QString &page)
{
    HttpReply r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = page.toUtf8();
    r.headers = { { "Cache-Control", "no-store" }, { "X-Frame-Options", "DENY" },
        { "Referrer-Policy", "no-referrer" },
        { "Content-Security-Policy",
            "default-src 'none'; style-src 'unsafe-inline'; form-action 'self' http://localhost:* "
            "http://127.0.0.1:*; "
            "frame-ancestors 'none'" } };
    return r;
}

std::optional<QJsonObject> parseJsonObject(const QByteArray &body, HttpReply *reply)
{
    // An empty body is an empty object: the program sends no bytes for "{}".
    if (body.trimmed().isEmpty())
        return QJsonObject();
    QString error;
    const std::optional<QJsonValue> value = readJson(body, &error);
    if (!value) {
        *reply = HttpReply::error(400, QStringLiteral("Malformed JSON: %1").arg(error));
        return std::nullopt;
    }
    if (!value->isObject()) {
        *reply = HttpReply::error(400, QStringLiteral("Expected a JSON object"));
        return std::nullopt;
    }
    return value->toObject();
}

namespace {

// The first byte in [p, end) that JSON needs escaped (a quote, a backslash or a control
// character), or end. Note bodies are long runs of plain text between such bytes.
const char *nextSpecial(const char *p, const char *end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i lastControl = _mm_set1_epi8(0x1f);
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Unsigned v <= 0x1f exactly when min(v, 0x1f) == v.
        const __m128i special
            = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                _mm_cmpeq_epi8(_mm_min_epu8(v, lastControl), v));
        if (const int mask = _mm_movemask_epi8(special))
            return p + qCountTrailingZeroBits(quint32(mask));
    }
#endif
    for (; p < end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == '"' || c == '\\')
            return p;
    }
    return end;
}

void appendEscaped(QByteArray &out, QByteArrayView utf8)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const char *p = utf8.constData();
    const char *const end = p + utf8.size();
    const char *run = p;
    for (; (p = nextSpecial(p, end)) < end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        out.append(run, p - run);
        run = p + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default: {
            const char escape[] = { '\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xf] };
            out.append(escape, sizeof escape);
        }
        }
    }
    out.append(run, end - run);
    out += '"';
}

} // namespace

void appendJsonString(QByteArray &out, QStringView text)
{
    appendEscaped(out, text.toUtf8());
}

void appendJsonString(QByteArray &out, QByteArrayView utf8)
{
    if (utf8.isValidUtf8())
        appendEscaped(out, utf8);
    else
        appendEscaped(out, QString::fromUtf8(utf8).toUtf8());
}

bool isUuid(const QString &text)
{
    static const QRegularExpression re(QStringLiteral(
        "^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$"));
    return text.size() == 36 && re.match(text).hasMatch();
}

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 readTimeMs(const QJsonValue &value, qint64 fallback)
{
    if (value.isDouble())
        return static_cast<qint64>(value.toDouble());
    if (value.isString()) {
        const QDateTime dt = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
        if (dt.isValid())
            return dt.toMSecsSinceEpoch();
    }
    return fallback;
}

QString isoFromMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}
