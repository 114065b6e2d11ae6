#include "deltaformat.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace Delta {

namespace {

const QString InsertKey = QStringLiteral("insert");
const QString AttributesKey = QStringLiteral("attributes");
const QString RetainKey = QStringLiteral("retain");
const QString DeleteKey = QStringLiteral("delete");

const QString BoldKey = QStringLiteral("bold");
const QString ItalicKey = QStringLiteral("italic");
const QString UnderlineKey = QStringLiteral("underline");
const QString StrikeKey = QStringLiteral("strike");
const QString CodeKey = QStringLiteral("code");
const QString LinkKey = QStringLiteral("link");
const QString HeaderKey = QStringLiteral("header");
const QString ListKey = QStringLiteral("list");
const QString CodeBlockKey = QStringLiteral("code-block");
const QString BlockquoteKey = QStringLiteral("blockquote");
const QString AlignKey = QStringLiteral("align");

bool isInlineKey(const QString &key)
{
    return key == BoldKey || key == ItalicKey || key == UnderlineKey || key == StrikeKey
        || key == CodeKey || key == LinkKey;
}

bool isBlockKey(const QString &key)
{
    return key == HeaderKey || key == ListKey || key == CodeBlockKey || key == BlockquoteKey;
}

qint64 lengthValue(const QJsonValue &value)
{
    const double d = value.toDouble();
    if (!std::isfinite(d) || d <= 0)
        return 0;
    return d >= 9.0e18 ? qint64(9.0e18) : qint64(d);
}

} // namespace

QString emptyDocument()
{
    return QStringLiteral("[{\"insert\":\"\\n\"}]");
}

std::optional<QJsonArray> parseArray(const QByteArray &utf8)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(utf8, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    return doc.array();
}

std::optional<QJsonArray> parseArray(const QString &text)
{
    return parseArray(text.toUtf8());
}

Operations parseOperations(const QJsonArray &ops)
{
    Operations result;
    result.reserve(ops.size());
    for (const QJsonValue &element : ops) {
        if (!element.isObject())
            continue;
        const QJsonObject object = element.toObject();
        Operation op;
        const QJsonValue insert = object.value(InsertKey);
        if (insert.isString()) {
            op.type = OperationType::Text;
            op.text = insert.toString();
        } else if (insert.isObject()) {
            op.type = OperationType::Embed;
            const QJsonObject embed = insert.toObject();
            if (!embed.isEmpty()) {
                // Keys are kept in ascending order, so the first one is the kind.
                const auto first = embed.constBegin();
                op.embedKind = first.key();
                op.rawEmbedValue = first.value();
                op.embedValue = stringValue(first.value());
            }
        } else if (object.contains(RetainKey)) {
            op.type = OperationType::Retain;
            op.length = lengthValue(object.value(RetainKey));
        } else if (object.contains(DeleteKey)) {
            op.type = OperationType::Delete;
            op.length = lengthValue(object.value(DeleteKey));
        }
        const QJsonValue attributes = object.value(AttributesKey);
        if (attributes.isObject())
            op.attributes = attributes.toObject();
        result.append(std::move(op));
    }
    return result;
}

Operations parseOperations(const QString &text)
{
    const std::optional<QJsonArray> array = parseArray(text);
    return array ? parseOperations(*array) : Operations();
}

QByteArray toUtf8(const QJsonArray &ops)
{
    // QJsonObject keeps its members sorted by key, and the compact writer prints integral
    // numbers without a fraction, which is exactly the stored form.
    return QJsonDocument(ops).toJson(QJsonDocument::Compact);
}

QString toText(const QJsonArray &ops)
{
    return QString::fromUtf8(toUtf8(ops));
}

QString toText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonArray toJsonArray(const Operations &ops)
{
    QJsonArray array;
    for (const Operation &op : ops) {
        QJsonObject object;
        switch (op.type) {
        case OperationType::Text:
            object.insert(InsertKey, op.text);
            break;
        case OperationType::Embed: {
            QJsonObject embed;
            if (!op.embedKind.isEmpty())
                embed.insert(op.embedKind,
                    op.rawEmbedValue.isUndefined() ? QJsonValue(op.embedValue) : op.rawEmbedValue);
            object.insert(InsertKey, embed);
            break;
        }
        case OperationType::Retain:
            object.insert(RetainKey, op.length);
            break;
        case OperationType::Delete:
            object.insert(DeleteKey, op.length);
            break;
        }
        if (!op.attributes.isEmpty())
            object.insert(AttributesKey, op.attributes);
        array.append(object);
    }
    return array;
}

QString toText(const Operations &ops)
{
    return toText(toJsonArray(ops));
}

QList<Line> lines(const Operations &ops)
{
    QList<Line> result;
    Line current;
    for (const Operation &op : ops) {
        if (op.type == OperationType::Embed) {
            Segment segment;
            segment.isEmbed = true;
            segment.embedKind = op.embedKind;
            segment.rawEmbedValue = op.rawEmbedValue;
            segment.embedValue = op.embedKind == AttachmentKind ? attachmentReference(op.embedValue)
                                                                : op.embedValue;
            current.segments.append(std::move(segment));
            continue;
        }
        if (op.type != OperationType::Text)
            continue;
        qsizetype start = 0;
        while (true) {
            const qsizetype newline = op.text.indexOf(QLatin1Char('\n'), start);
            const qsizetype end = newline < 0 ? op.text.size() : newline;
            if (end > start) {
                Segment segment;
                segment.text = op.text.mid(start, end - start);
                segment.attributes = op.attributes;
                current.segments.append(std::move(segment));
            }
            if (newline < 0)
                break;
            current.blockAttributes = op.attributes;
            current.terminated = true;
            result.append(std::move(current));
            current = Line();
            start = newline + 1;
        }
    }
    if (!current.segments.isEmpty()) {
        current.terminated = false;
        result.append(std::move(current));
    }
    return result;
}

bool isTrue(const QJsonValue &value)
{
    return value.isBool() && value.toBool();
}

QString stringValue(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

int headerLevel(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (d != std::floor(d) || d < 1 || d > 6)
        return 0;
    return int(d);
}

InlineAttributes readInlineAttributes(const QJsonObject &attributes)
{
    InlineAttributes result;
    for (auto it = attributes.constBegin(); it != attributes.constEnd(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        bool *flag = nullptr;
        if (key == BoldKey)
            flag = &result.bold;
        else if (key == ItalicKey)
            flag = &result.italic;
        else if (key == UnderlineKey)
            flag = &result.underline;
        else if (key == StrikeKey)
            flag = &result.strike;
        else if (key == CodeKey)
            flag = &result.code;
        if (flag) {
            if (isTrue(value))
                *flag = true;
            else
                result.extra.insert(key, value);
        } else if (key == LinkKey) {
            result.hasLink = true;
            result.link = stringValue(value);
        } else if (!isBlockKey(key)) {
            result.extra.insert(key, value);
        }
    }
    return result;
}

QJsonObject writeInlineAttributes(const InlineAttributes &attributes)
{
    QJsonObject result;
    // A reader applies "code" after "bold" and resets the weight, so both together would not
    // survive the next load; writing "code" alone keeps the written form stable.
    if (attributes.bold && !attributes.code)
        result.insert(BoldKey, true);
    if (attributes.italic)
        result.insert(ItalicKey, true);
    if (attributes.underline && !attributes.hasLink)
        result.insert(UnderlineKey, true);
    if (attributes.strike)
        result.insert(StrikeKey, true);
    if (attributes.code)
        result.insert(CodeKey, true);
    if (attributes.hasLink && !attributes.link.isEmpty())
        result.insert(LinkKey, attributes.link);
    for (auto it = attributes.extra.constBegin(); it != attributes.extra.constEnd(); ++it) {
        if (!result.contains(it.key()))
            result.insert(it.key(), it.value());
    }
    return result;
}

BlockAttributes readBlockAttributes(const QJsonObject &attributes)
{
    BlockAttributes result;
    for (auto it = attributes.constBegin(); it != attributes.constEnd(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        if (key == HeaderKey) {
            result.header = headerLevel(value);
        } else if (key == ListKey) {
            result.list = stringValue(value);
        } else if (key == CodeBlockKey) {
            result.codeBlock = true;
            result.codeBlockLanguage = stringValue(value);
        } else if (key == BlockquoteKey) {
            result.blockquote = true;
        } else if (key == AlignKey) {
            const QString align = stringValue(value);
            if (align == QLatin1String("center") || align == QLatin1String("right")
                || align == QLatin1String("justify"))
                result.align = align;
        } else if (!isInlineKey(key)) {
            result.extra.insert(key, value);
        }
    }
    return result;
}

QJsonObject writeBlockAttributes(const BlockAttributes &attributes)
{
    QJsonObject result;
    if (attributes.header >= 1 && attributes.header <= 6)
        result.insert(HeaderKey, attributes.header);
    if (!attributes.list.isEmpty())
        result.insert(ListKey, attributes.list);
    if (attributes.codeBlock) {
        if (attributes.codeBlockLanguage.isEmpty())
            result.insert(CodeBlockKey, true);
        else
            result.insert(CodeBlockKey, attributes.codeBlockLanguage);
    }
    if (attributes.blockquote)
        result.insert(BlockquoteKey, true);
    if (!attributes.align.isEmpty())
        result.insert(AlignKey, attributes.align);
    for (auto it = attributes.extra.constBegin(); it != attributes.extra.constEnd(); ++it) {
        if (!result.contains(it.key()))
            result.insert(it.key(), it.value());
    }
    return result;
}

QString attachmentReference(const QString &value)
{
    if (value.startsWith(AttachmentPrefix))
        return value;
    return AttachmentPrefix + value;
}

QString attachmentIdFromReference(const QString &reference)
{
    if (!reference.startsWith(AttachmentPrefix))
        return QString();
    return reference.mid(AttachmentPrefix.size());
}

bool isSupportedEmbed(const QString &kind, const QString &value)
{
    if (kind == DividerKind || kind == TableKind || kind == AttachmentKind)
        return true;
    return kind == ImageKind && value.startsWith(AttachmentPrefix);
}

QList<QList<TableRun>> TableCell::paragraphs() const
{
    QList<QList<TableRun>> result { QList<TableRun>() };
    if (kind == Kind::Plain) {
        const QStringList pieces = text.split(QLatin1Char('\n'));
        result.clear();
        for (const QString &piece : pieces) {
            QList<TableRun> paragraph;
            if (!piece.isEmpty())
                paragraph.append(TableRun { piece, QJsonObject() });
            result.append(paragraph);
        }
        return result;
    }
    for (const TableRun &run : runs) {
        if (run.text == QLatin1String("\n")) {
            result.append(QList<TableRun>());
            continue;
        }
        const QStringList pieces = run.text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0)
                result.append(QList<TableRun>());
            if (!pieces.at(i).isEmpty())
                result.last().append(TableRun { pieces.at(i), run.attributes });
        }
    }
    return result;
}

QString TableCell::plainText() const
{
    if (kind == Kind::Plain)
        return text;
    QString result;
    for (const TableRun &run : runs)
        result += run.text;
    return result;
}

int Table::columnCount() const
{
    qsizetype columns = 0;
    for (const QList<TableCell> &row : rows)
        columns = std::max(columns, row.size());
    return int(std::min<qsizetype>(columns, std::numeric_limits<int>::max()));
}

TableCell Table::cell(int row, int column) const
{
    if (row < 0 || row >= rows.size() || column < 0 || column >= rows.at(row).size())
        return TableCell();
    return rows.at(row).at(column);
}

std::optional<Table> parseTable(const QString &value)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(value.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject object = doc.object();
    Table table;
    const QJsonValue hasHeader = object.value(QStringLiteral("hasHeader"));
    table.hasHeader = hasHeader.isBool() ? hasHeader.toBool() : true;
    const QJsonArray rows = object.value(QStringLiteral("cells")).toArray();
    table.rows.reserve(rows.size());
    for (const QJsonValue &rowValue : rows) {
        QList<TableCell> row;
        const QJsonArray cells = rowValue.toArray();
        row.reserve(cells.size());
        for (const QJsonValue &cellValue : cells) {
            TableCell cell;
            if (cellValue.isString()) {
                cell.kind = TableCell::Kind::Plain;
                cell.text = cellValue.toString();
            } else if (cellValue.isArray()) {
                cell.kind = TableCell::Kind::Runs;
                for (const Operation &op : parseOperations(cellValue.toArray())) {
                    if (op.isText() && !op.text.isEmpty())
                        cell.runs.append(TableRun { op.text, op.attributes });
                }
            }
            row.append(std::move(cell));
        }
        table.rows.append(std::move(row));
    }
    return table;
}

QJsonArray cellDelta(const QList<QList<TableRun>> &paragraphs)
{
    QJsonArray ops;
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            ops.append(QJsonObject { { InsertKey, QStringLiteral("\n") } });
        for (const TableRun &run : paragraphs.at(i)) {
            if (run.text.isEmpty())
                continue;
            QJsonObject op { { InsertKey, run.text } };
            if (!run.attributes.isEmpty())
                op.insert(AttributesKey, run.attributes);
            ops.append(op);
        }
    }
    return ops;
}

QString writeTable(const Table &table)
{
    const int columns = table.columnCount();
    QJsonArray rows;
    for (int r = 0; r < table.rowCount(); ++r) {
        QJsonArray row;
        for (int c = 0; c < columns; ++c) {
            const TableCell cell = table.cell(r, c);
            QList<QList<TableRun>> paragraphs = cell.paragraphs();
            // Written attributes are the interpreted form, as the editor would write them.
            for (QList<TableRun> &paragraph : paragraphs) {
                for (TableRun &run : paragraph)
                    run.attributes = writeInlineAttributes(readInlineAttributes(run.attributes));
            }
            row.append(cellDelta(paragraphs));
        }
        rows.append(row);
    }
    QJsonObject object { { QStringLiteral("cells"), rows },
        { QStringLiteral("hasHeader"), table.hasHeader } };
    return toText(object);
}

} // namespace Delta
