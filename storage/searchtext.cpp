#include "searchtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cstring>
#include <optional>

#include <rapidjson/reader.h>

namespace {

// QJsonDocument's reading: the reference for what a body's text is.
QString plainTextByQt(const QString &noteBody)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(noteBody.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return noteBody;
    QString text;
    const QJsonArray ops = doc.array();
    for (const QJsonValue &op : ops) {
        const QJsonValue insert = op.toObject().value(QLatin1String("insert"));
        if (insert.isString())
            text += insert.toString();
    }
    return text;
}

// Reads the text inserts of a delta array as RapidJSON streams through it, without building
// the document: the note list and the index read bodies at every paint and save. Whatever it
// refuses or is unsure of goes to QJsonDocument, whose reading is the rule.
class InsertCollector : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, InsertCollector>
{
public:
    // QJsonDocument refuses nesting beyond 1024; such input is left to it.
    static constexpr int MaxDepth = 1000;

    QString text;
    bool rootIsArray = false;

    bool Default() { return value(false); }
    bool String(const char *chars, rapidjson::SizeType length, bool)
    {
        if (m_depth == 2 && m_key) {
            // A "\udc00" escape with no pair comes out as a surrogate's bytes (ED A0..BF;
            // checked input never holds them): QJsonDocument has its own way with those.
            for (const char *at = chars;
                 (at = static_cast<const char *>(std::memchr(at, 0xED, length - (at - chars))));
                 ++at) {
                if (at + 1 < chars + length && static_cast<unsigned char>(at[1]) >= 0xA0)
                    return false;
            }
            m_insert = QString::fromUtf8(chars, qsizetype(length));
            m_hasInsert = true;
            return true;
        }
        return value(false);
    }
    bool Key(const char *chars, rapidjson::SizeType length, bool)
    {
        m_key = m_depth == 2 && QByteArrayView(chars, qsizetype(length)) == "insert";
        return true;
    }
    bool StartObject()
    {
        if (!value(true))
            return false;
        if (m_depth == 2) {
            m_hasInsert = false;
            m_insert.clear();
        }
        return true;
    }
    bool EndObject(rapidjson::SizeType)
    {
        if (m_depth == 2 && m_hasInsert)
            text += m_insert;
        m_key = false;
        return --m_depth >= 0;
    }
    bool StartArray()
    {
        if (m_depth == 0)
            rootIsArray = true;
        return value(true);
    }
    bool EndArray(rapidjson::SizeType)
    {
        m_key = false;
        return --m_depth >= 0;
    }

private:
    // Any value that is not an insert's string; a repeated "insert" key keeps its last value.
    bool value(bool opens)
    {
        if (m_depth == 2 && m_key)
            m_hasInsert = false;
        m_key = false;
        if (opens)
            ++m_depth;
        return m_depth <= MaxDepth;
    }

    int m_depth = 0;
    bool m_key = false;
    bool m_hasInsert = false;
    QString m_insert;
};

// The streamed reading of a delta array in UTF-8 ending in a NUL; nothing when the reader
// refuses it or is unsure, and the document library must decide.
std::optional<QString> streamedPlainText(const char *utf8)
{
    InsertCollector collector;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(utf8);
    const rapidjson::ParseResult result
        = reader.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(
            stream, collector);
    if (!result || !collector.rootIsArray)
        return std::nullopt;
    return std::move(collector.text);
}

QString plainTextOf(const QString &noteBody)
{
    if (noteBody.isEmpty())
        return QString();
    // A NUL ends RapidJSON's reading early; such bodies go the slow way.
    if (noteBody.front() != QLatin1Char('[') || noteBody.contains(QChar(0)))
        return plainTextByQt(noteBody);
    const QByteArray utf8 = noteBody.toUtf8();
    if (std::optional<QString> text = streamedPlainText(utf8.constData()))
        return *std::move(text);
    return plainTextByQt(noteBody);
}

bool isUnspacedScript(char32_t codePoint)
{
    switch (QChar::script(codePoint)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
    case QChar::Script_Tibetan:
        return true;
    default:
        return false;
    }
}

// One UTF-16 unit for one, so positions in folded text are positions in the original.
QChar foldedCharacter(QChar c)
{
    if (c.decompositionTag() == QChar::Canonical || c.decompositionTag() == QChar::Compat) {
        const QString parts = c.decomposition();
        if (!parts.isEmpty() && !parts.at(0).isSurrogate())
            c = parts.at(0);
    }
    return c.toCaseFolded();
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

bool isUnspaced(QChar c)
{
    return !c.isSurrogate() && isUnspacedScript(c.unicode());
}

// Case and accents folded, combining marks left out (so "resume" meets "résumé" written
// either way); `positions`, when given, holds where each character came from, and the end.
// Most text is ASCII and takes the short way: list rows run this over whole notes.
QString foldedForMatching(const QString &text, QList<qsizetype> *positions)
{
    QString out(text.size(), Qt::Uninitialized);
    QChar *to = out.data();
    qsizetype *from = nullptr;
    if (positions) {
        positions->resize(text.size() + 1);
        from = positions->data();
    }
    qsizetype kept = 0;
    const QChar *chars = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = chars[i].unicode();
        QChar c;
        if (unit < 0x80) {
            c = QChar(unit >= u'A' && unit <= u'Z' ? char16_t(unit + 32) : unit);
        } else {
            c = foldedCharacter(chars[i]);
            if (c.isMark())
                continue;
        }
        if (from)
            from[kept] = i;
        to[kept++] = c;
    }
    out.truncate(kept);
    if (positions) {
        (*positions)[kept] = text.size();
        positions->resize(kept + 1);
    }
    return out;
}

} // namespace

QString bodyPlainText(const QString &noteBody)
{
    return plainTextOf(noteBody);
}

QString bodyPlainText(const QByteArray &utf8Body)
{
    if (utf8Body.isEmpty())
        return QString();
    // Bytes that are not UTF-8 (an encoded lone surrogate included) are refused by the stream
    // and decoded with replacement characters.
    if (utf8Body.front() == '[' && !utf8Body.contains('\0')) {
        if (std::optional<QString> text = streamedPlainText(utf8Body.constData()))
            return *std::move(text);
    }
    return plainTextOf(QString::fromUtf8(utf8Body));
}

SearchableText searchableText(const QString &noteBody)
{
    const QString plain = plainTextOf(noteBody);
    const qsizetype feed = plain.indexOf(QLatin1Char('\n'));
    SearchableText text;
    text.title = separateUnspacedScripts((feed < 0 ? plain : plain.left(feed)).trimmed());
    if (feed >= 0)
        text.body = separateUnspacedScripts(plain.mid(feed + 1));
    return text;
}

QString separateUnspacedScripts(const QString &text)
{
    QString out;
    bool changed = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text.at(i).unicode();
        qsizetype length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()
            && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        if (isUnspacedScript(codePoint)) {
            if (!changed) {
                // Most text never gets here and is returned without a copy.
                out.reserve(text.size() * 2);
                out = text.left(i);
                changed = true;
            }
            out += QLatin1Char(' ');
            out += QStringView(text).mid(i, length);
            out += QLatin1Char(' ');
        } else if (changed) {
            out += QStringView(text).mid(i, length);
        }
        i += length - 1;
    }
    return changed ? out : text;
}

QList<TextMatch> findMatches(const QString &text, const QStringList &terms)
{
    QList<qsizetype> positions;
    const QString haystack = foldedForMatching(text, &positions);
    QList<TextMatch> found;
    for (QString term : terms) {
        const bool prefix = term.endsWith(QLatin1Char('*'));
        if (prefix)
            term.chop(1);
        const QString needle = foldedForMatching(term.trimmed(), nullptr);
        if (needle.isEmpty())
            continue;
        const bool startsAnywhere = isUnspaced(needle.front());
        const bool endsAnywhere = prefix || isUnspaced(needle.back());
        for (qsizetype at = haystack.indexOf(needle); at >= 0;
             at = haystack.indexOf(needle, at + 1)) {
            if (!startsAnywhere && at > 0 && isWordCharacter(haystack.at(at - 1))
                && isWordCharacter(needle.front()))
                continue;
            qsizetype end = at + needle.size();
            if (!endsAnywhere && end < haystack.size() && isWordCharacter(haystack.at(end))
                && isWordCharacter(needle.back()))
                continue;
            // A prefix is shown as the whole word it begins.
            while (prefix && end < haystack.size() && isWordCharacter(haystack.at(end))
                && !isUnspaced(haystack.at(end)))
                ++end;
            const qsizetype start = positions.at(at);
            qsizetype stop = positions.at(end);
            // Marks that follow the last letter belong to it.
            while (stop < text.size() && text.at(stop).isMark())
                ++stop;
            found.append({ start, stop - start });
        }
    }
    std::sort(found.begin(), found.end(), [](const TextMatch &a, const TextMatch &b) {
        return a.start != b.start ? a.start < b.start : a.length > b.length;
    });
    QList<TextMatch> kept;
    for (const TextMatch &match : std::as_const(found)) {
        if (kept.isEmpty() || match.start >= kept.last().start + kept.last().length)
            kept.append(match);
    }
    return kept;
}

Passage passageOf(const QString &text, const QStringList &terms, int maxLength)
{
    // Whitespace runs, line breaks included, become single spaces: a preview is one line.
    QString line(text.size(), Qt::Uninitialized);
    QChar *to = line.data();
    qsizetype length = 0;
    for (QChar c : text) {
        if (!c.isSpace())
            to[length++] = c;
        else if (length > 0 && to[length - 1] != QLatin1Char(' '))
            to[length++] = QLatin1Char(' ');
    }
    line.truncate(length);
    const QList<TextMatch> matches = findMatches(line, terms);
    Passage passage;
    if (matches.isEmpty()) {
        passage.text = line.left(maxLength).trimmed();
        return passage;
    }
    // A word or two of what comes before the match, cut at a space: a narrow list shows
    // about thirty characters, and the match must be among them.
    constexpr qsizetype kLeadIn = 16;
    qsizetype start = qMax<qsizetype>(0, matches.first().start - kLeadIn);
    if (start > 0) {
        const qsizetype space = line.indexOf(QLatin1Char(' '), start);
        if (space >= 0 && space < matches.first().start)
            start = space + 1;
        else
            start = matches.first().start;
    }
    // The line has no space at either end of the cut's start, so only its end is trimmed.
    passage.text = line.mid(start, maxLength).trimmed();
    const qsizetype end = start + passage.text.size();
    const qsizetype shift = start > 0 ? 1 : 0;
    if (start > 0)
        passage.text.prepend(QChar(0x2026));
    for (const TextMatch &match : matches) {
        if (match.start >= end)
            break;
        if (match.start >= start)
            passage.matches.append({ match.start - start + shift,
                qMin(match.start + match.length, end) - match.start });
    }
    return passage;
}

QString matchingPassage(const QString &text, const QStringList &terms, int maxLength)
{
    return passageOf(text, terms, maxLength).text;
}
