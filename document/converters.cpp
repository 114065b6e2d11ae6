#include "converters.h"

#include "deltaformat.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <array>

namespace {

const QChar ObjectReplacement(QChar::ObjectReplacementCharacter);

QJsonArray emptyDelta()
{
    QJsonObject newline;
    newline.insert(QLatin1String("insert"), QStringLiteral("\n"));
    return QJsonArray { newline };
}

QJsonObject textInsert(const QString &text, const QJsonObject &attributes)
{
    QJsonObject op;
    if (!attributes.isEmpty())
        op.insert(QLatin1String("attributes"), attributes);
    op.insert(QLatin1String("insert"), text);
    return op;
}

// HTML tag names compare case-insensitively in ASCII only.
bool matchesAsciiCaseless(QStringView text, qsizetype at, QStringView lowerName)
{
    if (at + lowerName.size() > text.size())
        return false;
    for (qsizetype i = 0; i < lowerName.size(); ++i) {
        const char16_t c = text.at(at + i).unicode();
        const char16_t lower = (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
        if (lower != lowerName.at(i).unicode())
            return false;
    }
    return true;
}

QJsonObject inlineAttributes(const QTextCharFormat &format)
{
    QJsonObject attributes;
    if (format.fontWeight() > 699)
        attributes.insert(QLatin1String("bold"), true);
    if (format.fontItalic())
        attributes.insert(QLatin1String("italic"), true);
    if (format.fontUnderline() && !format.isAnchor())
        attributes.insert(QLatin1String("underline"), true);
    if (format.fontStrikeOut())
        attributes.insert(QLatin1String("strike"), true);
    // The HTML reader marks <code> and <pre> with the "monospace" family rather than fixed pitch;
    // the editor writes either as code, and so does this.
    if (format.fontFixedPitch()
        || format.fontFamilies().toStringList().contains(QLatin1String("monospace")))
        attributes.insert(QLatin1String("code"), true);
    if (format.isAnchor() && !format.anchorHref().isEmpty())
        attributes.insert(QLatin1String("link"), format.anchorHref());
    return attributes;
}

QJsonObject blockAttributes(const QTextBlock &block)
{
    QJsonObject attributes;
    const int level = block.blockFormat().headingLevel();
    if (level >= 1 && level <= 6)
        attributes.insert(QLatin1String("header"), level);
    if (const QTextList *list = block.textList()) {
        switch (list->format().style()) {
        case QTextListFormat::ListDisc:
        case QTextListFormat::ListCircle:
        case QTextListFormat::ListSquare:
            attributes.insert(QLatin1String("list"), QStringLiteral("bullet"));
            break;
        case QTextListFormat::ListDecimal:
        case QTextListFormat::ListLowerAlpha:
        case QTextListFormat::ListUpperAlpha:
        case QTextListFormat::ListLowerRoman:
        case QTextListFormat::ListUpperRoman:
            attributes.insert(QLatin1String("list"), QStringLiteral("ordered"));
            break;
        default:
            break;
        }
        // Task items keep their state: dropping it would lose what the user ticked.
        switch (block.blockFormat().marker()) {
        case QTextBlockFormat::MarkerType::Checked:
            attributes.insert(QLatin1String("list"), QStringLiteral("checked"));
            break;
        case QTextBlockFormat::MarkerType::Unchecked:
            attributes.insert(QLatin1String("list"), QStringLiteral("unchecked"));
            break;
        case QTextBlockFormat::MarkerType::NoMarker:
            break;
        }
    }
    return attributes;
}

// The outermost table holding the position: nested tables are flattened into their outer cell.
QTextTable *outermostTable(QTextDocument &document, int position)
{
    QTextTable *outermost = nullptr;
    for (QTextFrame *frame = document.frameAt(position); frame; frame = frame->parentFrame()) {
        if (auto *table = qobject_cast<QTextTable *>(frame))
            outermost = table;
    }
    return outermost;
}

QList<Delta::TableRun> paragraphRuns(const QTextBlock &block)
{
    QList<Delta::TableRun> runs;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid() || fragment.charFormat().isImageFormat())
            continue;
        QString text = fragment.text();
        text.remove(ObjectReplacement);
        if (!text.isEmpty())
            runs.append({ text, inlineAttributes(fragment.charFormat()) });
    }
    return runs;
}

// How the document was read: the Markdown reader leaves empty paragraphs the HTML reader does
// not (after every table, in a table cell after a code block) and sets a heading's weight on its
// first span only.
enum class Source { Html, Markdown };

QJsonArray cellContent(const QTextTableCell &cell, Source source)
{
    QList<QList<Delta::TableRun>> paragraphs;
    const int last = cell.lastPosition();
    for (QTextBlock block = cell.firstCursorPosition().block();
         block.isValid() && block.position() <= last; block = block.next()) {
        QList<Delta::TableRun> runs = paragraphRuns(block);
        // A Markdown cell is one line: an empty paragraph in it is the reader's.
        if (source == Source::Markdown && runs.isEmpty())
            continue;
        paragraphs.append(std::move(runs));
    }
    return Delta::cellDelta(paragraphs);
}

QJsonObject tableEmbed(const QTextTable *table, Source source)
{
    const int rows = table->rows();
    const int columns = table->columns();
    QJsonArray cells;
    for (int row = 0; row < rows; ++row) {
        QJsonArray cellsOfRow;
        for (int column = 0; column < columns; ++column) {
            const QTextTableCell cell = table->cellAt(row, column);
            // A spanned cell keeps its text once, in the position where it starts.
            if (cell.isValid() && cell.row() == row && cell.column() == column)
                cellsOfRow.append(cellContent(cell, source));
            else
                cellsOfRow.append(QJsonArray());
        }
        cells.append(cellsOfRow);
    }
    QJsonObject value;
    value.insert(QLatin1String("cells"), cells);
    value.insert(QLatin1String("hasHeader"), rows > 0);
    QJsonObject embed;
    embed.insert(QLatin1String("table"), Delta::toText(value));
    QJsonObject op;
    op.insert(QLatin1String("insert"), embed);
    return op;
}

void appendBlock(QJsonArray &ops, const QTextBlock &block, Source source)
{
    const int level = block.blockFormat().headingLevel();
    const bool heading = source == Source::Markdown && level >= 1 && level <= 6;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid())
            continue;
        const QTextCharFormat format = fragment.charFormat();
        if (format.isImageFormat()) {
            const QString name = format.toImageFormat().name();
            if (name.isEmpty())
                continue;
            const QString kind = name.startsWith(Delta::AttachmentPrefix)
                ? QString(Delta::AttachmentKind)
                : QString(Delta::ImageKind);
            QJsonObject embed;
            embed.insert(kind, name);
            QJsonObject op;
            op.insert(QLatin1String("insert"), embed);
            // Adjacent identical images share one fragment: one embed per object character.
            for (int i = 0; i < fragment.length(); ++i)
                ops.append(op);
            continue;
        }
        QString text = fragment.text();
        text.remove(ObjectReplacement);
        if (text.isEmpty())
            continue;
        QJsonObject attributes = inlineAttributes(format);
        if (heading)
            attributes.insert(QLatin1String("bold"), true);
        ops.append(textInsert(text, attributes));
    }
    ops.append(textInsert(QStringLiteral("\n"), blockAttributes(block)));
}

// The rich-text engine's HTML reader slows down with the square of the element nesting depth and
// of the item count of one list, so hostile or generated pages could stall a paste for hours.
// Markup deeper than this loses the excess tags (their text stays), and long lists are closed
// and reopened every so many items, which changes nothing in the delta.
constexpr int MaximumHtmlDepth = 256;
constexpr int MaximumListItems = 500;

bool isVoidElement(QStringView name)
{
    static const QStringList names = { QStringLiteral("area"), QStringLiteral("base"),
        QStringLiteral("br"), QStringLiteral("col"), QStringLiteral("embed"), QStringLiteral("hr"),
        QStringLiteral("img"), QStringLiteral("input"), QStringLiteral("link"),
        QStringLiteral("meta"), QStringLiteral("param"), QStringLiteral("source"),
        QStringLiteral("track"), QStringLiteral("wbr"), QStringLiteral("!doctype") };
    return names.contains(name);
}

bool closesItself(QStringView name)
{
    static const QStringList names = { QStringLiteral("p"), QStringLiteral("li"),
        QStringLiteral("dt"), QStringLiteral("dd"), QStringLiteral("tr"), QStringLiteral("td"),
        QStringLiteral("th"), QStringLiteral("option") };
    return names.contains(name);
}

QString boundHtmlStructure(const QString &html)
{
    struct Open
    {
        QString name;
        QString tag; // the opening tag as written, to reopen a split list
        bool dropped = false;
        int items = 0;
    };
    QList<Open> stack;
    QString out;
    out.reserve(html.size());
    bool changed = false;
    qsizetype pos = 0;
    while (pos < html.size()) {
        const qsizetype lt = html.indexOf(QLatin1Char('<'), pos);
        if (lt < 0 || lt + 1 >= html.size()) {
            out.append(QStringView(html).mid(pos));
            break;
        }
        out.append(QStringView(html).mid(pos, lt - pos));
        if (html.mid(lt, 4) == QLatin1String("<!--")) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), lt + 4);
            const qsizetype stop = end < 0 ? html.size() : end + 3;
            out.append(QStringView(html).mid(lt, stop - lt));
            pos = stop;
            continue;
        }
        const bool closing = html.at(lt + 1) == u'/';
        qsizetype nameStart = lt + (closing ? 2 : 1);
        qsizetype nameEnd = nameStart;
        while (nameEnd < html.size()
            && (html.at(nameEnd).isLetterOrNumber() || html.at(nameEnd) == u'!'))
            ++nameEnd;
        if (nameEnd == nameStart
            || (!html.at(nameStart).isLetter() && html.at(nameStart) != u'!')) {
            out.append(QLatin1Char('<'));
            pos = lt + 1;
            continue;
        }
        // The tag ends at the first '>' outside quoted attribute values.
        qsizetype end = nameEnd;
        QChar quote;
        while (end < html.size()) {
            const QChar c = html.at(end);
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'>') {
                break;
            }
            ++end;
        }
        const qsizetype stop = end < html.size() ? end + 1 : html.size();
        const QStringView tag = QStringView(html).mid(lt, stop - lt);
        const QString name = html.mid(nameStart, nameEnd - nameStart).toLower();
        pos = stop;

        if (closing) {
            qsizetype match = stack.size() - 1;
            while (match >= 0 && stack.at(match).name != name)
                --match;
            if (match < 0) {
                out.append(tag);
                continue;
            }
            const bool dropped = stack.at(match).dropped;
            stack.resize(match);
            if (dropped)
                changed = true;
            else
                out.append(tag);
            continue;
        }
        if (isVoidElement(name) || tag.endsWith(QLatin1String("/>"))) {
            out.append(tag);
            continue;
        }
        if (closesItself(name) && !stack.isEmpty() && stack.constLast().name == name)
            stack.removeLast();
        if (name == QLatin1String("li") && !stack.isEmpty()
            && (stack.constLast().name == QLatin1String("ul")
                || stack.constLast().name == QLatin1String("ol"))
            && !stack.constLast().dropped) {
            Open &list = stack.last();
            if (++list.items > MaximumListItems) {
                out.append(QLatin1String("</") + list.name + QLatin1Char('>') + list.tag);
                list.items = 1;
                changed = true;
            }
        }
        Open open { name, tag.toString(), stack.size() >= MaximumHtmlDepth, 0 };
        if (open.dropped)
            changed = true;
        else
            out.append(tag);
        stack.append(open);
    }
    return changed ? out : html;
}

// The rich-text engine reads Markdown in time that grows with the square of a paragraph's inline
// spans and of a list's items. Long texts are therefore read in pieces cut at block boundaries
// (never inside a fenced code block); since every delta line carries its own attributes, a list
// cut in two reads the same. A piece that cannot be cut small enough keeps its text, unformatted.
constexpr int PieceLines = 300;
constexpr int PieceMarks = 1500;

struct MarkdownPiece
{
    QString text;
    bool tooDense = false;
};

int markCount(QStringView line)
{
    int marks = 0;
    for (const QChar c : line) {
        switch (c.unicode()) {
        case u'*':
        case u'_':
        case u'~':
        case u'`':
        case u'[':
        case u'<':
        case u'&':
        case u'\\':
        case u'|':
        case u'!':
            ++marks;
            break;
        default:
            break;
        }
    }
    return marks;
}

// The fence character ('`' or '~') when the line opens or closes a fenced code block, else 0.
char16_t fenceCharacter(QStringView line)
{
    qsizetype indent = 0;
    while (indent < line.size() && line.at(indent) == u' ')
        ++indent;
    if (indent > 3)
        return 0;
    const QStringView rest = line.mid(indent);
    if (rest.startsWith(u"```"))
        return u'`';
    if (rest.startsWith(u"~~~"))
        return u'~';
    return 0;
}

QList<MarkdownPiece> splitMarkdown(const QString &markdown)
{
    const QList<QStringView> lines = QStringView(markdown).split(u'\n');
    QList<MarkdownPiece> pieces;
    qsizetype pieceStart = 0; // line index
    int lineCount = 0;
    int marks = 0;
    char16_t fence = 0;
    auto finishPiece = [&](qsizetype endLine) {
        QStringList text;
        for (qsizetype i = pieceStart; i < endLine; ++i)
            text.append(lines.at(i).toString());
        pieces.append({ text.join(QLatin1Char('\n')), marks > 4 * PieceMarks });
        pieceStart = endLine;
        lineCount = 0;
        marks = 0;
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = lines.at(i);
        if (i > pieceStart && !fence) {
            const bool full = lineCount >= PieceLines || marks >= PieceMarks;
            const bool blockStart
                = lines.at(i - 1).trimmed().isEmpty() && !line.isEmpty() && !line.at(0).isSpace();
            // Past twice the budget any line outside a fence will do.
            const bool overfull = lineCount >= 2 * PieceLines || marks >= 2 * PieceMarks;
            if ((full && blockStart) || overfull)
                finishPiece(i);
        }
        const char16_t fenceHere = fenceCharacter(line);
        if (fenceHere && (!fence || fence == fenceHere))
            fence = fence ? 0 : fenceHere;
        if (!fence) {
            ++lineCount;
            marks += markCount(line);
        }
    }
    finishPiece(lines.size());
    return pieces;
}

QJsonArray documentToDelta(QTextDocument &document, Source source)
{
    QJsonArray ops;
    QSet<const QTextTable *> writtenTables;
    bool afterTable = false;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (QTextTable *table = outermostTable(document, block.position())) {
            if (!writtenTables.contains(table)) {
                writtenTables.insert(table);
                ops.append(tableEmbed(table, source));
                ops.append(textInsert(QStringLiteral("\n"), {}));
            }
            afterTable = true;
            continue;
        }
        // The Markdown reader leaves an empty paragraph after every table; the table's own line
        // end stands for it (the HTML reader keeps one in some places and not in others).
        const bool readersGap = source == Source::Markdown && afterTable && block.length() == 1
            && block.next().isValid();
        afterTable = false;
        if (!readersGap)
            appendBlock(ops, block, source);
    }
    return ops;
}

QJsonArray markdownPieceToDelta(const QString &markdown)
{
    if (markdown.trimmed().isEmpty())
        return {};
    QTextDocument document;
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    // Read straight from the Markdown document: a round trip through HTML would read the note
    // twice and the style sheets of every paragraph once more.
    return documentToDelta(document, Source::Markdown);
}

QJsonArray plainLines(const QString &text)
{
    QJsonArray ops;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            ops.append(textInsert(line, {}));
        ops.append(textInsert(QStringLiteral("\n"), {}));
    }
    return ops;
}

} // namespace

bool looksLikeHtml(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || !trimmed.startsWith(QLatin1Char('<')))
        return false;
    static const QRegularExpression documentStart(
        QStringLiteral("^<(!doctype\\s+html|html\\b|body\\b|head\\b)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression knownTag(
        QStringLiteral("<(p|div|span|h[1-6]|ul|ol|li|a|strong|em|b|i|table|tr|td|th|br|hr|img|pre|"
                       "code|blockquote|article|section|main|nav|header|footer|aside|figure|"
                       "figcaption|dl|dt|dd)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return documentStart.match(trimmed).hasMatch() || knownTag.match(trimmed).hasMatch();
}

bool looksLikeMarkdown(const QString &text)
{
    if (text.isEmpty())
        return false;
    static const std::array<QRegularExpression, 8> patterns = [] {
        const auto multiLine = QRegularExpression::MultilineOption;
        return std::array<QRegularExpression, 8> {
            QRegularExpression(QStringLiteral("^\\s{0,3}#{1,6}\\s+\\S"), multiLine),
            QRegularExpression(QStringLiteral("^\\s{0,3}[-*+]\\s+\\S"), multiLine),
            QRegularExpression(QStringLiteral("^\\s{0,3}\\d+\\.\\s+\\S"), multiLine),
            QRegularExpression(QStringLiteral("^\\s{0,3}>\\s+\\S"), multiLine),
            QRegularExpression(QStringLiteral("^\\s{0,3}```"), multiLine),
            QRegularExpression(QStringLiteral("^\\s*\\|.*\\|\\s*$"), multiLine),
            QRegularExpression(QStringLiteral("\\[[^\\]]+\\]\\([^)]+\\)")),
            QRegularExpression(QStringLiteral("^\\s*[-=]{3,}\\s*$"), multiLine),
        };
    }();
    for (const QRegularExpression &pattern : patterns) {
        if (pattern.match(text).hasMatch())
            return true;
    }
    return false;
}

// Equivalent to removing every match of
// "<(script|style|nav|header|footer|aside|iframe|noscript)[^>]*>.*?</\1>" (case-insensitive,
// "." across lines), written out by hand so that pages with many unclosed tags stay linear.
QString cleanHtml(const QString &html)
{
    static constexpr std::array<QStringView, 8> names
        = { u"script", u"style", u"nav", u"header", u"footer", u"aside", u"iframe", u"noscript" };
    // Per name: where its next closing tag was last found, -1 when there is none further on.
    std::array<qsizetype, 8> nextClose;
    std::array<qsizetype, 8> searchedFrom;
    nextClose.fill(-2);
    searchedFrom.fill(-1);
    qsizetype nextGreater = -2;

    auto findClose = [&](size_t n, qsizetype from) -> qsizetype {
        if (nextClose[n] == -1 && searchedFrom[n] <= from)
            return -1;
        if (nextClose[n] >= from)
            return nextClose[n];
        const QString closing = QLatin1String("</") + names[n].toString() + QLatin1Char('>');
        nextClose[n] = html.indexOf(closing, from, Qt::CaseInsensitive);
        searchedFrom[n] = from;
        return nextClose[n];
    };

    QString out;
    qsizetype copiedUpTo = 0;
    qsizetype pos = html.indexOf(QLatin1Char('<'));
    while (pos >= 0 && pos < html.size()) {
        qsizetype matchEnd = -1;
        for (size_t n = 0; n < names.size(); ++n) {
            if (!matchesAsciiCaseless(html, pos + 1, names[n]))
                continue;
            const qsizetype nameEnd = pos + 1 + names[n].size();
            if (nextGreater != -1 && nextGreater < nameEnd)
                nextGreater = html.indexOf(QLatin1Char('>'), nameEnd);
            if (nextGreater < 0)
                break;
            const qsizetype close = findClose(n, nextGreater + 1);
            if (close >= 0)
                matchEnd = close + names[n].size() + 3;
            break;
        }
        if (matchEnd < 0) {
            pos = html.indexOf(QLatin1Char('<'), pos + 1);
            continue;
        }
        out.append(QStringView(html).mid(copiedUpTo, pos - copiedUpTo));
        copiedUpTo = matchEnd;
        pos = html.indexOf(QLatin1Char('<'), matchEnd);
    }
    if (copiedUpTo == 0)
        return html;
    out.append(QStringView(html).mid(copiedUpTo));
    return out;
}

QJsonArray htmlToDelta(const QString &html)
{
    if (html.trimmed().isEmpty())
        return emptyDelta();

    QTextDocument document;
    document.setHtml(boundHtmlStructure(cleanHtml(html)));
    const QJsonArray ops = documentToDelta(document, Source::Html);
    return ops.isEmpty() ? emptyDelta() : ops;
}

QJsonArray markdownToDelta(const QString &markdown)
{
    if (markdown.trimmed().isEmpty())
        return emptyDelta();
    const QList<MarkdownPiece> pieces = splitMarkdown(markdown);
    if (pieces.size() == 1 && !pieces.first().tooDense)
        return markdownPieceToDelta(markdown);
    QJsonArray ops;
    for (const MarkdownPiece &piece : pieces) {
        const QJsonArray converted
            = piece.tooDense ? plainLines(piece.text) : markdownPieceToDelta(piece.text);
        for (const QJsonValue &op : converted)
            ops.append(op);
    }
    return ops.isEmpty() ? emptyDelta() : ops;
}
