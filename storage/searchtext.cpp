#include "searchtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace {

QString plainTextOf(const QString &noteBody)
{
    if (noteBody.isEmpty())
        return QString();
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

QString folded(const QString &text)
{
    QString out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = foldedCharacter(text.at(i));
    return out;
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

bool isUnspaced(QChar c)
{
    return !c.isSurrogate() && isUnspacedScript(c.unicode());
}

// Combining marks are skipped in both texts, so "resume" meets "résumé" written either way.
QString withoutMarks(const QString &text, QList<qsizetype> *positions)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isMark())
            continue;
        out += text.at(i);
        if (positions)
            positions->append(i);
    }
    if (positions)
        positions->append(text.size());
    return out;
}

} // namespace

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
    const QString haystack = withoutMarks(folded(text), &positions);
    QList<TextMatch> found;
    for (QString term : terms) {
        const bool prefix = term.endsWith(QLatin1Char('*'));
        if (prefix)
            term.chop(1);
        const QString needle = withoutMarks(folded(term.trimmed()), nullptr);
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

QString matchingPassage(const QString &text, const QStringList &terms, int maxLength)
{
    // Whitespace runs, line breaks included, become single spaces: a preview is one line.
    QString line;
    line.reserve(text.size());
    for (QChar c : text) {
        if (c.isSpace()) {
            if (!line.isEmpty() && !line.back().isSpace())
                line += QLatin1Char(' ');
        } else {
            line += c;
        }
    }
    const QList<TextMatch> matches = findMatches(line, terms);
    if (matches.isEmpty())
        return line.left(maxLength).trimmed();
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
    const QString passage = line.mid(start, maxLength).trimmed();
    return start > 0 ? QStringLiteral("\u2026") + passage : passage;
}
