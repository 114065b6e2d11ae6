#include "htmlrenderer.h"

#include "deltaformat.h"
#include "renderwalk.h"

namespace {

// Schemes a browser may follow from an exported page. Anything else that names a scheme
// (javascript:, vbscript:, data: and the like) could run script when the reader clicks it.
bool isSafeLinkAddress(const QString &address)
{
    // Browsers drop surrounding controls and spaces and every tab or newline before they read
    // the scheme, so "java\tscript:" must be judged as "javascript:".
    QString normalised;
    normalised.reserve(address.size());
    for (const QChar c : address) {
        if (c != u'\t' && c != u'\n' && c != u'\r')
            normalised.append(c);
    }
    qsizetype start = 0;
    while (start < normalised.size() && normalised.at(start).unicode() <= 0x20)
        ++start;

    qsizetype i = start;
    const auto isAsciiLetter
        = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    if (i >= normalised.size() || !isAsciiLetter(normalised.at(i).unicode()))
        return true; // no scheme: a relative address or a fragment
    while (i < normalised.size()) {
        const char16_t c = normalised.at(i).unicode();
        if (isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.') {
            ++i;
            continue;
        }
        break;
    }
    if (i >= normalised.size() || normalised.at(i) != u':')
        return true;
    static const QStringList allowed
        = { QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto"),
              QStringLiteral("ftp"), QStringLiteral("ftps"), QStringLiteral("tel"),
              QStringLiteral("sms"), QStringLiteral("file"), QStringLiteral("brevaro-notes") };
    return allowed.contains(normalised.mid(start, i - start).toLower());
}

// Wraps already escaped text in the inline elements, innermost first.
QString wrap(QString out, const QJsonObject &attributes)
{
    if (Delta::isTrue(attributes.value(QLatin1String("bold"))))
        out = QLatin1String("<strong>") + out + QLatin1String("</strong>");
    if (Delta::isTrue(attributes.value(QLatin1String("italic"))))
        out = QLatin1String("<em>") + out + QLatin1String("</em>");
    if (Delta::isTrue(attributes.value(QLatin1String("underline"))))
        out = QLatin1String("<u>") + out + QLatin1String("</u>");
    if (Delta::isTrue(attributes.value(QLatin1String("strike"))))
        out = QLatin1String("<del>") + out + QLatin1String("</del>");
    if (Delta::isTrue(attributes.value(QLatin1String("code"))))
        out = QLatin1String("<code>") + out + QLatin1String("</code>");
    if (attributes.contains(QLatin1String("link"))) {
        const QString address = Delta::stringValue(attributes.value(QLatin1String("link")));
        if (isSafeLinkAddress(address))
            out = QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), out);
    }
    return out;
}

QString cellHtml(const Delta::TableCell &cell)
{
    switch (cell.kind) {
    case Delta::TableCell::Kind::Plain:
        return cell.text.toHtmlEscaped();
    case Delta::TableCell::Kind::Runs: {
        QString out;
        for (const Delta::TableRun &run : cell.runs) {
            if (run.text == QLatin1String("\n")) {
                out.append(QLatin1String("<br>"));
                continue;
            }
            QString text = run.text.toHtmlEscaped();
            text.replace(QLatin1Char('\n'), QLatin1String("<br>"));
            out.append(wrap(text, run.attributes));
        }
        return out;
    }
    case Delta::TableCell::Kind::Empty:
        break;
    }
    return QString();
}

void appendTable(QString &out, const QString &value)
{
    const std::optional<Delta::Table> table = Delta::parseTable(value);
    if (!table || table->rows.isEmpty())
        return;
    out.append(QLatin1String("<table border=\"1\" cellpadding=\"6\" cellspacing=\"0\" "
                             "style=\"border-collapse:collapse\">\n"));
    for (qsizetype row = 0; row < table->rows.size(); ++row) {
        const bool header = row == 0 && table->hasHeader;
        out.append(QLatin1String("  <tr>"));
        for (const Delta::TableCell &cell : table->rows.at(row)) {
            QString content = cellHtml(cell);
            if (content.isEmpty())
                content = QStringLiteral("&nbsp;");
            out.append(header ? QLatin1String("<th>") : QLatin1String("<td>"));
            out.append(content);
            out.append(header ? QLatin1String("</th>") : QLatin1String("</td>"));
        }
        out.append(QLatin1String("</tr>\n"));
    }
    out.append(QLatin1String("</table>\n"));
}

} // namespace

QString renderHtml(const QJsonArray &ops)
{
    QString out = QStringLiteral("<html><body>\n");
    walkRenderedLines(
        ops,
        [&out](const QList<Delta::Segment> &segments, const QJsonObject &block) {
            QString content;
            for (const Delta::Segment &segment : segments)
                content.append(wrap(segment.text.toHtmlEscaped(), segment.attributes));
            const int level = Delta::headerLevel(block.value(QLatin1String("header")));
            if (level > 0)
                out.append(QStringLiteral("<h%1>%2</h%1>\n").arg(QString::number(level), content));
            else if (Delta::isTrue(block.value(QLatin1String("blockquote"))))
                out.append(
                    QLatin1String("<blockquote>") + content + QLatin1String("</blockquote>\n"));
            else if (block.contains(QLatin1String("code-block")))
                out.append(
                    QLatin1String("<pre><code>") + content + QLatin1String("</code></pre>\n"));
            else
                out.append(QLatin1String("<p>") + content + QLatin1String("</p>\n"));
        },
        [&out](const Delta::Segment &embed) {
            if (embed.embedKind == Delta::DividerKind)
                out.append(QLatin1String("<hr>\n"));
            else
                appendTable(out, embed.embedValue);
        });
    out.append(QLatin1String("</body></html>"));
    return out;
}
