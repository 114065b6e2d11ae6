#include "markdownrenderer.h"

#include "deltaformat.h"
#include "renderwalk.h"

namespace {

enum class Kind { Start, Heading, List, Code, Quote, Paragraph, Divider };

// Padding a hostile table of many rows and one very long row would multiply its size; past this
// many cells rows keep only their own cells.
constexpr qint64 MaximumPaddedCells = 1000000;

bool isTrue(const QJsonObject &attributes, QLatin1StringView key)
{
    return Delta::isTrue(attributes.value(key));
}

QString linkTarget(const QJsonObject &attributes)
{
    return Delta::stringValue(attributes.value(QLatin1String("link")));
}

QString wrapSegment(const Delta::Segment &segment, bool onHeading)
{
    const QJsonObject &a = segment.attributes;
    QString out = segment.text;
    // Headings are bold already: the editor writes "bold" on heading text of levels 1 and 2.
    if (isTrue(a, QLatin1String("bold")) && !onHeading)
        out = QLatin1String("**") + out + QLatin1String("**");
    if (isTrue(a, QLatin1String("italic")))
        out = QLatin1Char('*') + out + QLatin1Char('*');
    if (isTrue(a, QLatin1String("code")))
        out = QLatin1Char('`') + out + QLatin1Char('`');
    if (isTrue(a, QLatin1String("strike")))
        out = QLatin1String("~~") + out + QLatin1String("~~");
    if (a.contains(QLatin1String("link")))
        out = QStringLiteral("[%1](%2)").arg(out, linkTarget(a));
    return out;
}

QString escapeCellText(QString text)
{
    text.replace(QLatin1Char('|'), QLatin1String("\\|"));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString cellMarkdown(const Delta::TableCell &cell, bool headerCell)
{
    switch (cell.kind) {
    case Delta::TableCell::Kind::Plain:
        return escapeCellText(cell.text);
    case Delta::TableCell::Kind::Runs: {
        QString out;
        for (const Delta::TableRun &run : cell.runs) {
            if (run.text == QLatin1String("\n"))
                continue;
            const QJsonObject &a = run.attributes;
            QString text = escapeCellText(run.text);
            if (isTrue(a, QLatin1String("code")))
                text = QLatin1Char('`') + text + QLatin1Char('`');
            if (isTrue(a, QLatin1String("bold")) && !headerCell)
                text = QLatin1String("**") + text + QLatin1String("**");
            if (isTrue(a, QLatin1String("italic")))
                text = QLatin1Char('*') + text + QLatin1Char('*');
            if (isTrue(a, QLatin1String("strike")))
                text = QLatin1String("~~") + text + QLatin1String("~~");
            if (a.contains(QLatin1String("link")))
                text = QStringLiteral("[%1](%2)").arg(text, linkTarget(a));
            out.append(text);
        }
        return out;
    }
    case Delta::TableCell::Kind::Empty:
        break;
    }
    return QString();
}

QString tableMarkdown(const QString &value)
{
    const std::optional<Delta::Table> table = Delta::parseTable(value);
    if (!table || table->isEmpty())
        return QString();
    const int columns = table->columnCount();
    const bool pad = qint64(table->rowCount()) * columns <= MaximumPaddedCells;
    QString out;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QList<Delta::TableCell> &cells = table->rows.at(row);
        const bool headerRow = row == 0 && table->hasHeader;
        const int written = pad ? columns : int(cells.size());
        out.append(QLatin1Char('|'));
        for (int column = 0; column < written; ++column) {
            const QString cell
                = column < cells.size() ? cellMarkdown(cells.at(column), headerRow) : QString();
            out.append(QLatin1Char(' ') + cell + QLatin1String(" |"));
        }
        out.append(QLatin1Char('\n'));
        if (row == 0) {
            out.append(QLatin1Char('|'));
            for (int column = 0; column < columns; ++column)
                out.append(QLatin1String(" --- |"));
            out.append(QLatin1Char('\n'));
        }
    }
    return out;
}

class MarkdownWriter
{
public:
    void line(const QList<Delta::Segment> &segments, const QJsonObject &block)
    {
        const int level = Delta::headerLevel(block.value(QLatin1String("header")));
        QString content;
        for (const Delta::Segment &segment : segments)
            content.append(wrapSegment(segment, level > 0));

        Kind kind = Kind::Paragraph;
        QString text;
        const QString list = Delta::stringValue(block.value(QLatin1String("list")));
        if (level > 0) {
            if (content.trimmed().isEmpty())
                return;
            kind = Kind::Heading;
            text = QString(level, QLatin1Char('#')) + QLatin1Char(' ') + content;
        } else if (!list.isEmpty()) {
            kind = Kind::List;
            if (list == QLatin1String("bullet"))
                text = QLatin1String("- ") + content;
            else if (list == QLatin1String("ordered"))
                text = QLatin1String("1. ") + content;
            else if (list == QLatin1String("checked"))
                text = QLatin1String("- [x] ") + content;
            else if (list == QLatin1String("unchecked"))
                text = QLatin1String("- [ ] ") + content;
            else
                text = content;
        } else if (block.contains(QLatin1String("code-block"))) {
            kind = Kind::Code;
            text = QLatin1String("    ") + content;
        } else if (isTrue(block, QLatin1String("blockquote"))) {
            kind = Kind::Quote;
            text = QLatin1String("> ") + content;
        } else if (content.trimmed().isEmpty()) {
            ensureBlankLine();
            m_previous = Kind::Paragraph;
            return;
        } else {
            text = content;
        }

        const bool listOrCode = kind == Kind::List || kind == Kind::Code;
        if (isListOrCode(m_previous) && kind != m_previous)
            ensureBlankLine();
        if (listOrCode && !isListOrCode(m_previous) && m_previous != Kind::Start)
            ensureBlankLine();
        m_out.append(text);
        m_out.append(listOrCode ? QLatin1String("\n") : QLatin1String("\n\n"));
        m_previous = kind;
    }

    void embed(const Delta::Segment &embed)
    {
        if (embed.embedKind == Delta::DividerKind) {
            if (isListOrCode(m_previous))
                ensureBlankLine();
            m_out.append(QLatin1String("---\n\n"));
            m_previous = Kind::Divider;
            return;
        }
        // A table that cannot be read is left out, without disturbing the spacing around it.
        const QString table = tableMarkdown(embed.embedValue);
        if (table.isEmpty())
            return;
        if (isListOrCode(m_previous))
            ensureBlankLine();
        m_out.append(table);
        m_out.append(QLatin1Char('\n'));
        m_previous = Kind::Paragraph;
    }

    QString finish()
    {
        qsizetype end = m_out.size();
        while (end > 0 && (m_out.at(end - 1) == u'\n' || m_out.at(end - 1) == u' '))
            --end;
        m_out.truncate(end);
        if (!m_out.isEmpty())
            m_out.append(QLatin1Char('\n'));
        return m_out;
    }

private:
    static bool isListOrCode(Kind kind) { return kind == Kind::List || kind == Kind::Code; }

    void ensureBlankLine()
    {
        if (m_out.isEmpty() || m_out.endsWith(QLatin1String("\n\n")))
            return;
        m_out.append(
            m_out.endsWith(QLatin1Char('\n')) ? QLatin1String("\n") : QLatin1String("\n\n"));
    }

    QString m_out;
    Kind m_previous = Kind::Start;
};

} // namespace

QString renderMarkdown(const QJsonArray &ops)
{
    MarkdownWriter writer;
    walkRenderedLines(
        ops,
        [&writer](const QList<Delta::Segment> &segments, const QJsonObject &block) {
            writer.line(segments, block);
        },
        [&writer](const Delta::Segment &embed) { writer.embed(embed); });
    return writer.finish();
}
