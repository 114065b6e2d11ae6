#pragma once

#include <QString>

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

// Scripts written without spaces between words (Chinese, Japanese, Thai...) get a space on
// both sides of every character, so the word tokenizer indexes each one as a word and a
// phrase of them finds any substring. Applied alike to indexed text and to queries.
QString separateUnspacedScripts(const QString &text);
