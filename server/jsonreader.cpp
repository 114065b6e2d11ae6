#include "jsonreader.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

// QJsonDocument's own limit; it also bounds this reader's recursion.
constexpr int maxDepth = 1024;

class Reader
{
public:
    Reader(QByteArrayView json)
        : m_p(reinterpret_cast<const uchar *>(json.data())), m_end(m_p + json.size())
    { }

    std::optional<QJsonValue> document(QString *error)
    {
        if (m_end - m_p >= 3 && m_p[0] == 0xef && m_p[1] == 0xbb && m_p[2] == 0xbf)
            m_p += 3;
        skipSpace();
        QJsonValue result;
        if (m_p == m_end || (*m_p != '{' && *m_p != '['))
            fail("expected an object or an array");
        else if (value(result)) {
            skipSpace();
            if (m_p != m_end)
                fail("garbage at the end of the document");
        }
        if (m_error) {
            *error = QString::fromLatin1(m_error);
            return std::nullopt;
        }
        return result;
    }

private:
    bool fail(const char *message)
    {
        if (!m_error)
            m_error = message;
        return false;
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool literal(const char *word, QJsonValue value, QJsonValue &out)
    {
        const qsizetype length = qstrlen(word);
        if (m_end - m_p < length || memcmp(m_p, word, size_t(length)) != 0)
            return fail("illegal value");
        m_p += length;
        out = std::move(value);
        return true;
    }

    bool value(QJsonValue &out)
    {
        skipSpace();
        if (m_p == m_end)
            return fail("unexpected end of the document");
        switch (*m_p) {
        case '{':
            return object(out);
        case '[':
            return array(out);
        case '"': {
            QString text;
            if (!string(text))
                return false;
            out = QJsonValue(std::move(text));
            return true;
        }
        case 't':
            return literal("true", QJsonValue(true), out);
        case 'f':
            return literal("false", QJsonValue(false), out);
        case 'n':
            return literal("null", QJsonValue(QJsonValue::Null), out);
        default:
            return number(out);
        }
    }

    bool object(QJsonValue &out)
    {
        if (++m_depth > maxDepth)
            return fail("too deeply nested");
        ++m_p;
        QJsonObject object;
        skipSpace();
        if (m_p < m_end && *m_p == '}') {
            ++m_p;
        } else {
            for (;;) {
                skipSpace();
                if (m_p == m_end || *m_p != '"')
                    return fail("expected a member name");
                QString key;
                if (!string(key))
                    return false;
                skipSpace();
                if (m_p == m_end || *m_p != ':')
                    return fail("expected ':' after a member name");
                ++m_p;
                QJsonValue member;
                if (!value(member))
                    return false;
                object.insert(key, member);
                skipSpace();
                if (m_p < m_end && *m_p == ',') {
                    ++m_p;
                    continue;
                }
                if (m_p < m_end && *m_p == '}') {
                    ++m_p;
                    break;
                }
                return fail("expected ',' or '}' in an object");
            }
        }
        --m_depth;
        out = std::move(object);
        return true;
    }

    bool array(QJsonValue &out)
    {
        if (++m_depth > maxDepth)
            return fail("too deeply nested");
        ++m_p;
        QJsonArray array;
        skipSpace();
        if (m_p < m_end && *m_p == ']') {
            ++m_p;
        } else {
            for (;;) {
                QJsonValue element;
                if (!value(element))
                    return false;
                array.append(element);
                skipSpace();
                if (m_p < m_end && *m_p == ',') {
                    ++m_p;
                    continue;
                }
                if (m_p < m_end && *m_p == ']') {
                    ++m_p;
                    break;
                }
                return fail("expected ',' or ']' in an array");
            }
        }
        --m_depth;
        out = std::move(array);
        return true;
    }

    static bool isDigit(uchar c) { return c >= '0' && c <= '9'; }

    bool number(QJsonValue &out)
    {
        const uchar *start = m_p;
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        if (m_p < m_end && *m_p == '0') {
            ++m_p;
        } else if (m_p < m_end && isDigit(*m_p)) {
            while (m_p < m_end && isDigit(*m_p))
                ++m_p;
        } else {
            return fail("illegal value");
        }
        bool integral = true;
        if (m_p < m_end && *m_p == '.') {
            integral = false;
            ++m_p;
            if (m_p == m_end || !isDigit(*m_p))
                return fail("illegal number");
            while (m_p < m_end && isDigit(*m_p))
                ++m_p;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            integral = false;
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (m_p == m_end || !isDigit(*m_p))
                return fail("illegal number");
            while (m_p < m_end && isDigit(*m_p))
                ++m_p;
        }
        const QByteArrayView text(start, m_p - start);
        bool ok = false;
        if (integral) {
            // Integers that fit stay exact, as QJsonDocument keeps them; larger ones become
            // doubles.
            const qint64 n = text.toLongLong(&ok);
            if (ok) {
                out = QJsonValue(n);
                return true;
            }
        }
        const double d = text.toDouble(&ok);
        if (!ok || qIsInf(d))
            return fail("illegal number");
        out = QJsonValue(d);
        return true;
    }

    static int hexValue(uchar c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    static bool isContinuation(uchar c) { return (c & 0xc0) == 0x80; }

    // Decodes one UTF-8 sequence starting at |p| (a byte >= 0x80), refusing what Qt's decoder
    // refuses: overlong forms, surrogates and values beyond U+10FFFF.
    static const uchar *decodeUtf8(const uchar *p, const uchar *end, char32_t *cp)
    {
        const uchar b = *p;
        int extra = 0;
        uchar low = 0x80, high = 0xbf;
        if (b >= 0xc2 && b <= 0xdf) {
            extra = 1;
            *cp = b & 0x1f;
        } else if (b >= 0xe0 && b <= 0xef) {
            extra = 2;
            *cp = b & 0x0f;
            if (b == 0xe0)
                low = 0xa0;
            else if (b == 0xed)
                high = 0x9f;
        } else if (b >= 0xf0 && b <= 0xf4) {
            extra = 3;
            *cp = b & 0x07;
            if (b == 0xf0)
                low = 0x90;
            else if (b == 0xf4)
                high = 0x8f;
        } else {
            return nullptr;
        }
        if (end - p <= extra || p[1] < low || p[1] > high)
            return nullptr;
        for (int i = 1; i <= extra; ++i) {
            if (!isContinuation(p[i]))
                return nullptr;
            *cp = (*cp << 6) | (p[i] & 0x3f);
        }
        return p + extra + 1;
    }

    bool string(QString &out)
    {
        const uchar *start = ++m_p;
        bool plainAscii = true;
        const uchar *close = start;
        while (close < m_end && *close != '"') {
            if (*close == '\\') {
                plainAscii = false;
                ++close;
            } else if (*close >= 0x80) {
                plainAscii = false;
            }
            ++close;
        }
        if (close >= m_end)
            return fail("unterminated string");
        if (plainAscii) {
            out = QString::fromLatin1(reinterpret_cast<const char *>(start), close - start);
            m_p = close + 1;
            return true;
        }
        // Every byte gives at most one UTF-16 unit (four-byte sequences give two), so the
        // length in bytes bounds the decoded length.
        out.resize(close - start);
        char16_t *d = reinterpret_cast<char16_t *>(out.data());
        char16_t *const begin = d;
        const uchar *p = start;
        while (p < close) {
            const uchar c = *p;
            if (c < 0x80 && c != '\\') {
                *d++ = c;
                ++p;
                continue;
            }
            if (c >= 0x80) {
                char32_t cp = 0;
                p = decodeUtf8(p, close, &cp);
                if (!p)
                    return fail("invalid UTF-8 in a string");
                if (cp >= 0x10000) {
                    *d++ = QChar::highSurrogate(cp);
                    *d++ = QChar::lowSurrogate(cp);
                } else {
                    *d++ = char16_t(cp);
                }
                continue;
            }
            ++p;
            switch (*p) {
            case '"':
            case '\\':
            case '/':
                *d++ = *p;
                break;
            case 'b':
                *d++ = u'\b';
                break;
            case 'f':
                *d++ = u'\f';
                break;
            case 'n':
                *d++ = u'\n';
                break;
            case 'r':
                *d++ = u'\r';
                break;
            case 't':
                *d++ = u'\t';
                break;
            case 'u': {
                if (close - p < 5)
                    return fail("invalid escape in a string");
                int unit = 0;
                for (int i = 1; i <= 4; ++i) {
                    const int h = hexValue(p[i]);
                    if (h < 0)
                        return fail("invalid escape in a string");
                    unit = unit * 16 + h;
                }
                // Surrogate pairs arrive as two escapes and stay two UTF-16 units.
                *d++ = char16_t(unit);
                p += 4;
                break;
            }
            default:
                return fail("invalid escape in a string");
            }
            ++p;
        }
        out.truncate(d - begin);
        m_p = close + 1;
        return true;
    }

    const uchar *m_p;
    const uchar *const m_end;
    int m_depth = 0;
    const char *m_error = nullptr;
};

} // namespace

std::optional<QJsonValue> readJson(QByteArrayView json, QString *error)
{
    return Reader(json).document(error);
}
