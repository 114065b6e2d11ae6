#pragma once

#include <QString>
#include <QStringList>

// What someone typed into a search field, turned into FTS5 query expressions that can never be
// a syntax error. Every word becomes a quoted term (the last one a prefix while it is being
// typed, or when it ends in "*"); words with inner punctuation ("e-mail", "3.5") become the
// phrase of their parts, as the index holds them; a double-quoted part is a phrase, even
// before its closing quote is typed. OR, AND and NOT in capitals and a leading "-" are
// operators; anything else FTS5 would read as syntax (parentheses, column filters, NEAR) is
// plain text.
struct SearchQuery
{
    // The notes to find, best first; empty when nothing but exclusions (or nothing) was typed.
    QString match;
    // Set only when `match` is empty: the notes to leave out of all notes.
    QString excluded;

    // The words and phrases to find, as typed, for showing where a note matches (findMatches);
    // a word matched as a prefix ends in "*". Excluded words are not among them.
    QStringList highlights;

    bool isEmpty() const { return match.isEmpty() && excluded.isEmpty(); }
};

SearchQuery searchQueryFromInput(const QString &input);
