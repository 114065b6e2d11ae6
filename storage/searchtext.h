#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The text a note is searched by: what the reader sees, never the JSON around it.
struct SearchableText
{
    QString title; // the first line, trimmed
    QString body; // everything after the first line
};

// Reads the body by the same rules as the plain-text renderer (the text runs of a delta array
// concatenated, embeds left out; a body that is not a JSON array is plain text) and splits
// off the title. Storage keeps its own copy of these few rules because it must not link the
// document library (Qt Gui); a test holds the two equal.
SearchableText searchableText(const QString &noteBody);

// The whole plain text of a body by those rules, before the title is split off.
QString bodyPlainText(const QString &noteBody);
// The same for a body as the database stores it (UTF-8), read without a UTF-16 copy first.
QString bodyPlainText(const QByteArray &utf8Body);

// Scripts written without spaces between words (Chinese, Japanese, Thai...) get a space on
// both sides of every character, so the word tokenizer indexes each one as a word and a
// phrase of them finds any substring. Applied alike to indexed text and to queries.
QString separateUnspacedScripts(const QString &text);

struct TextMatch
{
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const TextMatch &other) const
    {
        return start == other.start && length == other.length;
    }
};

// Where `terms` (SearchQuery::highlights) occur in `text` the way the index finds them: case
// and accents ignored, at the start of a word (anywhere in scripts without spaces), a term
// ending in "*" as the beginning of a word, the others as whole words. In text order, none
// overlapping.
QList<TextMatch> findMatches(const QString &text, const QStringList &terms);

// The stretch of `text` (on one line) to show for a search: from shortly before the first
// match, with an ellipsis when it does not start at the beginning; the start of the text
// when nothing matches. At most `maxLength` characters.
QString matchingPassage(const QString &text, const QStringList &terms, int maxLength = 240);

// The same passage with the matches in it (as findMatches finds them in the whole text, cut
// at the passage's end); no matches when the text has none. One pass for a list row.
struct Passage
{
    QString text;
    QList<TextMatch> matches;
};
Passage passageOf(const QString &text, const QStringList &terms, int maxLength = 240);
