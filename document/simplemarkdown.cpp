#include "simplemarkdown.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

struct LinePrefix
{
    QStringView prefix;
    const char *key;
    QJsonValue value;
};

// Takes the block marker off the front of the line and returns the line's block attributes.
QJsonObject takeBlockPrefix(QString &line)
{
    static const LinePrefix prefixes[] = {
        { u"### ", "header", 3 },
        { u"## ", "header", 2 },
        { u"# ", "header", 1 },
        { u"- [ ] ", "list", QStringLiteral("unchecked") },
        { u"- [x] ", "list", QStringLiteral("checked") },
        { u"- [X] ", "list", QStringLiteral("checked") },
        { u"- ", "list", QStringLiteral("bullet") },
        { u"* ", "list", QStringLiteral("bullet") },
        { u"> ", "blockquote", true },
    };
    QJsonObject block;
    for (const LinePrefix &p : prefixes) {
        if (line.startsWith(p.prefix)) {
            line.remove(0, p.prefix.size());
            block.insert(QLatin1String(p.key), p.value);
            return block;
        }
    }
    static const QRegularExpression numbered(QStringLiteral("^\\s*(\\d+)\\.\\s+(.*)$"));
    const QRegularExpressionMatch match = numbered.match(line);
    if (match.hasMatch()) {
        line = match.captured(2);
        block.insert(QLatin1String("list"), QStringLiteral("ordered"));
    }
    return block;
}

void appendRun(QJsonArray &ops, QString &text, bool bold, bool italic)
{
    if (text.isEmpty())
        return;
    QJsonObject op;
    QJsonObject attributes;
    if (bold)
        attributes.insert(QLatin1String("bold"), true);
    if (italic)
        attributes.insert(QLatin1String("italic"), true);
    if (!attributes.isEmpty())
        op.insert(QLatin1String("attributes"), attributes);
    op.insert(QLatin1String("insert"), text);
    ops.append(op);
    text.clear();
}

} // namespace

QString simpleMarkdownToDelta(const QString &markdown)
{
    QStringList lines = markdown.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();

    QJsonArray ops;
    for (QString &line : lines) {
        const QJsonObject block = takeBlockPrefix(line);

        bool bold = false;
        bool italic = false;
        QString gathered;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line.at(i) != QLatin1Char('*')) {
                gathered.append(line.at(i));
                continue;
            }
            appendRun(ops, gathered, bold, italic);
            if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('*')) {
                bold = !bold;
                ++i;
            } else {
                italic = !italic;
            }
        }
        appendRun(ops, gathered, bold, italic);

        QJsonObject newline;
        if (!block.isEmpty())
            newline.insert(QLatin1String("attributes"), block);
        newline.insert(QLatin1String("insert"), QStringLiteral("\n"));
        ops.append(newline);
    }
    return QString::fromUtf8(QJsonDocument(ops).toJson(QJsonDocument::Compact));
}
