#include "searchquery.h"

#include "searchtext.h"

#include <QList>
#include <QStringList>

namespace {

enum class Operator { None, And, Or };

struct Term
{
    QString text;
    bool quoted = false;
    bool closed = true; // a quoted part whose closing quote was typed
    bool explicitPrefix = false; // typed with a trailing "*"
    bool negated = false;
    Operator before = Operator::None;
};

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

bool hasWordCharacter(const QString &text)
{
    for (QChar c : text) {
        if (isWordCharacter(c))
            return true;
    }
    return false;
}

// A term as FTS5 reads a string: in double quotes, inner quotes doubled, its tokens a phrase.
QString quotedTerm(const Term &term, bool isLast)
{
    const QString text = separateUnspacedScripts(term.text);
    if (!hasWordCharacter(text))
        return QString(); // a term without tokens would match nothing, or everything
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    // The word still being typed is a prefix; one that ends in punctuation ("C++") or a
    // finished phrase was typed to the end.
    bool prefix = term.explicitPrefix;
    if (isLast && !term.quoted && isWordCharacter(term.text.back())) {
        // After inner punctuation a one-letter prefix ("don't" as "don" "t*") would also find
        // "don the"; wait for a second letter there.
        qsizetype partStart = term.text.size();
        while (partStart > 0 && isWordCharacter(term.text.at(partStart - 1)))
            --partStart;
        const bool innerPunctuation = hasWordCharacter(term.text.left(partStart));
        prefix = prefix || !innerPunctuation || term.text.size() - partStart >= 2;
    }
    if (isLast && term.quoted && !term.closed)
        prefix = true;
    if (prefix)
        quoted += QLatin1Char('*');
    return quoted;
}

QList<Term> readTerms(const QString &input)
{
    QList<Term> terms;
    Operator pending = Operator::None;
    bool negateNext = false;
    qsizetype i = 0;
    const qsizetype size = input.size();
    while (i < size) {
        const QChar c = input.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        Term term;
        if (c == QLatin1Char('"')) {
            const qsizetype close = input.indexOf(QLatin1Char('"'), i + 1);
            term.quoted = true;
            term.closed = close >= 0;
            term.text = input.mid(i + 1, close >= 0 ? close - i - 1 : -1);
            i = close >= 0 ? close + 1 : size;
        } else {
            qsizetype end = i;
            while (end < size && !input.at(end).isSpace() && input.at(end) != QLatin1Char('"'))
                ++end;
            QString word = input.mid(i, end - i);
            i = end;
            if (word == QLatin1String("OR") || word == QLatin1String("AND")) {
                pending = word == QLatin1String("OR") ? Operator::Or : Operator::And;
                continue;
            }
            if (word == QLatin1String("NOT")) {
                negateNext = true;
                continue;
            }
            if (word.startsWith(QLatin1Char('-'))) {
                word.remove(0, 1);
                if (word.isEmpty()) {
                    // "-" before a quoted part excludes the phrase.
                    if (i < size && input.at(i) == QLatin1Char('"'))
                        negateNext = true;
                    continue;
                }
                negateNext = true;
            }
            while (word.endsWith(QLatin1Char('*'))) {
                word.chop(1);
                term.explicitPrefix = true;
            }
            term.text = word;
        }
        term.negated = negateNext;
        term.before = pending;
        negateNext = false;
        pending = Operator::None;
        if (!term.text.isEmpty())
            terms.append(term);
    }
    return terms;
}

} // namespace

SearchQuery searchQueryFromInput(const QString &input)
{
    const QList<Term> terms = readTerms(input);
    QString positive;
    QStringList negatives;
    QStringList highlights;
    for (qsizetype i = 0; i < terms.size(); ++i) {
        const Term &term = terms.at(i);
        const QString quoted = quotedTerm(term, i == terms.size() - 1);
        if (quoted.isEmpty())
            continue;
        if (term.negated) {
            negatives.append(quoted);
            continue;
        }
        highlights.append(
            quoted.endsWith(QLatin1Char('*')) ? term.text + QLatin1Char('*') : term.text);
        if (!positive.isEmpty())
            positive += term.before == Operator::Or ? QLatin1String(" OR ") : QLatin1String(" ");
        positive += quoted;
    }

    SearchQuery query;
    query.highlights = highlights;
    const QString excluded = negatives.join(QLatin1String(" OR "));
    if (positive.isEmpty())
        query.excluded = excluded;
    else if (excluded.isEmpty())
        query.match = positive;
    else
        query.match = QStringLiteral("(%1) NOT (%2)").arg(positive, excluded);
    return query;
}
