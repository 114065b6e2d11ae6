#include "deltadocument.h"

#include "deltaformat.h"
#include "documentpalette.h"
#include "fontscale.h"

#include <QDebug>
#include <QFont>
#include <QHash>
#include <QJsonDocument>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

namespace {

constexpr QChar ObjectChar = QChar::ObjectReplacementCharacter;

// Characters that QTextCursor::insertText would turn into paragraph or frame breaks stand in
// the document as noncharacters and are mapped back on writing, so a body keeps them exactly.
constexpr char16_t StoredCarriageReturn = 0xFDD2;
constexpr char16_t StoredParagraphSeparator = 0xFDD3;
constexpr char16_t StoredFrameStart = 0xFDD4;
constexpr char16_t StoredFrameEnd = 0xFDD5;

bool needsMapping(const QString &text)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\r' || c == QChar::ParagraphSeparator || c == ObjectChar.unicode()
            || (c >= 0xFDD0 && c <= StoredFrameEnd))
            return true;
    }
    return false;
}

QString toDocumentText(const QString &text)
{
    if (!needsMapping(text))
        return text;
    QString result = text;
    for (QChar &ch : result) {
        switch (ch.unicode()) {
        case u'\r':
            ch = QChar(StoredCarriageReturn);
            break;
        case QChar::ParagraphSeparator:
            ch = QChar(StoredParagraphSeparator);
            break;
        case 0xFDD0:
            ch = QChar(StoredFrameStart);
            break;
        case 0xFDD1:
            ch = QChar(StoredFrameEnd);
            break;
        case StoredCarriageReturn:
        case StoredParagraphSeparator:
        case StoredFrameStart:
        case StoredFrameEnd:
            ch = QChar::ReplacementCharacter;
            break;
        default:
            break;
        }
    }
    return result;
}

QString fromDocumentText(const QString &text)
{
    if (!needsMapping(text))
        return text;
    QString result;
    result.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case ObjectChar.unicode():
            break;
        case StoredCarriageReturn:
            result.append(QLatin1Char('\r'));
            break;
        case StoredParagraphSeparator:
            result.append(QChar(QChar::ParagraphSeparator));
            break;
        case StoredFrameStart:
            result.append(QChar(0xFDD0));
            break;
        case StoredFrameEnd:
            result.append(QChar(0xFDD1));
            break;
        default:
            result.append(ch);
        }
    }
    return result;
}

bool isOwnObjectType(int type)
{
    return type == DeltaDocument::AttachmentObjectType || type == DeltaDocument::DividerObjectType
        || type == DeltaDocument::TableObjectType || type == DeltaDocument::UnknownObjectType;
}

QJsonObject jsonObjectProperty(const QTextFormat &format, int property)
{
    const QVariant value = format.property(property);
    return value.metaType() == QMetaType::fromType<QJsonObject>() ? value.value<QJsonObject>()
                                                                  : QJsonObject();
}

// The outermost table holding the block, or null.
QTextTable *tableOf(const QTextDocument *document, const QTextBlock &block)
{
    QTextTable *result = nullptr;
    for (QTextFrame *frame = document->frameAt(block.position()); frame;
         frame = frame->parentFrame()) {
        if (auto *table = qobject_cast<QTextTable *>(frame))
            result = table;
    }
    return result;
}

bool isEmptyIgnoringObjects(const QTextBlock &block)
{
    const QString text = block.text();
    for (const QChar ch : text) {
        if (ch != ObjectChar)
            return false;
    }
    return true;
}

void setObjectType(QTextCharFormat &format, const QString &kind, const QString &value)
{
    if (kind == Delta::AttachmentKind
        || (kind == Delta::ImageKind && value.startsWith(Delta::AttachmentPrefix)))
        format.setObjectType(DeltaDocument::AttachmentObjectType);
    else if (kind == Delta::DividerKind)
        format.setObjectType(DeltaDocument::DividerObjectType);
    else if (kind == Delta::TableKind)
        format.setObjectType(DeltaDocument::TableObjectType);
    else
        // Whatever this version cannot show (another kind, an image from outside) is still the
        // user's content: it stays in the document and goes back into the body at every save.
        format.setObjectType(DeltaDocument::UnknownObjectType);
}

QTextCharFormat embedFormat(const QString &kind, const QString &value, const QJsonValue &raw)
{
    QTextCharFormat format;
    format.setProperty(DeltaDocument::EmbedKindProperty, kind);
    format.setProperty(DeltaDocument::EmbedValueProperty, value);
    setObjectType(format, kind, value);
    // Kinds this version does not read survive only as they were stored.
    if (format.objectType() == DeltaDocument::UnknownObjectType
        || (format.objectType() == DeltaDocument::TableObjectType && !raw.isString()
            && !raw.isUndefined()))
        format.setProperty(DeltaDocument::EmbedRawValueProperty, QVariant::fromValue(raw));
    return format;
}

class Loader
{
public:
    explicit Loader(QTextDocument *document) : m_document(document), m_cursor(document) { }

    void load(const QList<Delta::Line> &lines)
    {
        m_cursor.beginEditBlock();
        for (const Delta::Line &line : lines)
            flush(line);
        m_cursor.endEditBlock();
    }

private:
    void flush(const Delta::Line &line)
    {
        if (line.segments.size() == 1 && line.segments.first().isEmbed
            && line.segments.first().embedKind == Delta::TableKind) {
            if (insertTable(line.segments.first().embedValue))
                return;
        }
        if (!m_firstLine)
            m_cursor.insertBlock();
        m_firstLine = false;

        bool attachmentLine = false;
        for (const Delta::Segment &segment : line.segments) {
            if (segment.isEmbed
                && (segment.embedKind == Delta::AttachmentKind
                    || segment.embedKind == Delta::ImageKind)) {
                attachmentLine = true;
                break;
            }
        }
        const LineStyle &style = lineStyle(line.blockAttributes, attachmentLine);
        if (style.list.isEmpty() || !continueList(style))
            m_cursor.setBlockFormat(style.block);
        if (!style.list.isEmpty() && !m_cursor.currentList())
            DeltaDocument::applyListType(m_cursor, style.list);
        m_cursor.setBlockCharFormat(style.base);

        for (const Delta::Segment &segment : line.segments) {
            if (segment.isEmbed) {
                m_cursor.insertText(QString(ObjectChar),
                    embedFormat(segment.embedKind, segment.embedValue, segment.rawEmbedValue));
            } else {
                m_cursor.insertText(
                    toDocumentText(segment.text), runFormat(style.base, segment.attributes));
            }
        }
    }

    struct LineStyle;

    // The common case of applyListType while loading (the item continues the list above it) in
    // one format change instead of three.
    bool continueList(const LineStyle &style)
    {
        const QTextBlock previous = m_cursor.block().previous();
        QTextList *list = previous.isValid() ? previous.textList() : nullptr;
        if (!list || list->format().style() != style.listStyle)
            return false;
        QTextBlockFormat format = style.block;
        format.setObjectIndex(list->objectIndex());
        if (style.list == QLatin1String("checked"))
            format.setMarker(QTextBlockFormat::MarkerType::Checked);
        else if (style.list == QLatin1String("unchecked"))
            format.setMarker(QTextBlockFormat::MarkerType::Unchecked);
        format.setProperty(DeltaDocument::ListTypeProperty, style.list);
        m_cursor.setBlockFormat(format);
        return true;
    }

    struct LineStyle
    {
        QJsonObject attributes;
        bool attachmentLine = false;
        QTextBlockFormat block;
        QTextCharFormat base;
        QString list;
        QTextListFormat::Style listStyle = QTextListFormat::ListDisc;
    };

    struct RunStyle
    {
        QTextCharFormat base;
        QJsonObject attributes;
        QTextCharFormat format;
    };

    // A body uses a handful of distinct attribute sets; formats are built once per set and load.
    static constexpr qsizetype CacheSize = 32;

    const LineStyle &lineStyle(const QJsonObject &attributes, bool attachmentLine)
    {
        for (const LineStyle &style : m_lineStyles) {
            if (style.attachmentLine == attachmentLine && style.attributes == attributes)
                return style;
        }
        LineStyle style;
        style.attributes = attributes;
        style.attachmentLine = attachmentLine;
        style.block = DeltaDocument::blockFormatFromAttributes(attributes);
        if (attachmentLine)
            style.block.setLineHeight(0, QTextBlockFormat::SingleHeight);
        style.base = DeltaDocument::baseCharFormat(style.block);
        style.list = Delta::stringValue(attributes.value(QStringLiteral("list")));
        style.listStyle = style.list == QLatin1String("ordered") ? QTextListFormat::ListDecimal
                                                                 : QTextListFormat::ListDisc;
        if (m_lineStyles.size() >= CacheSize)
            m_lineStyles.removeFirst();
        m_lineStyles.append(style);
        return m_lineStyles.last();
    }

    const QTextCharFormat &runFormat(const QTextCharFormat &base, const QJsonObject &attributes)
    {
        for (const RunStyle &style : m_runStyles) {
            if (style.attributes == attributes && style.base == base)
                return style.format;
        }
        RunStyle style { base, attributes, base };
        style.format.merge(DeltaDocument::charFormatFromAttributes(attributes));
        if (m_runStyles.size() >= CacheSize)
            m_runStyles.removeFirst();
        m_runStyles.append(style);
        return m_runStyles.last().format;
    }

    // True when the line has been dealt with (table built, or an empty one dropped). A value that
    // does not read as a table is kept as an inline object: it may be damaged, or newer.
    bool insertTable(const QString &value)
    {
        const std::optional<Delta::Table> table = Delta::parseTable(value);
        if (!table) {
            qWarning().noquote() << "DeltaDocument: unreadable table kept unexpanded";
            return false;
        }
        const qint64 rows = table->rowCount();
        const qint64 columns = table->columnCount();
        if (rows == 0 || columns == 0)
            return true;
        if (rows * columns > DeltaDocument::MaximumTableCells) {
            qWarning().noquote() << "DeltaDocument: table of" << rows << "by" << columns
                                 << "cells kept unexpanded";
            return false;
        }

        const bool startOfDocument = m_firstLine;
        m_firstLine = false;
        QTextTable *textTable = DeltaDocument::insertTableAt(
            m_cursor, int(rows), int(columns), DeltaDocument::makeTableFormat(table->hasHeader));
        if (!textTable)
            return true;
        if (startOfDocument) {
            // The document's first paragraph only stands there because a table cannot be the
            // very first thing; it must not become a written empty line.
            QTextCursor before(textTable->firstCursorPosition());
            before.movePosition(QTextCursor::PreviousBlock);
            if (!before.currentTable() && isEmptyIgnoringObjects(before.block())) {
                QTextBlockFormat format = before.blockFormat();
                format.setProperty(DeltaDocument::TablePlaceholderProperty, true);
                before.setBlockFormat(format);
            }
        }

        const QColor headerBackground = DocumentPalette::tableHeaderBackground();
        for (int r = 0; r < rows; ++r) {
            const bool header = table->hasHeader && r == 0;
            QTextCharFormat base;
            if (header)
                base.setFontWeight(700);
            for (int c = 0; c < columns; ++c) {
                QTextTableCell cell = textTable->cellAt(r, c);
                QTextCursor cellCursor = cell.firstCursorPosition();
                cellCursor.setBlockCharFormat(base);
                // The cell format shares its character with the first paragraph's block character
                // format, so the background goes on after it.
                if (header) {
                    QTextCharFormat cellFormat = cell.format();
                    cellFormat.setBackground(headerBackground);
                    cell.setFormat(cellFormat);
                }
                fillCell(cellCursor, table->cell(r, c), base);
            }
        }
        m_cursor.setPosition(textTable->lastPosition() + 1);
        return true;
    }

    void fillCell(QTextCursor &cursor, const Delta::TableCell &cell, const QTextCharFormat &base)
    {
        const QList<QList<Delta::TableRun>> paragraphs = cell.paragraphs();
        for (qsizetype i = 0; i < paragraphs.size(); ++i) {
            if (i > 0)
                cursor.insertBlock(QTextBlockFormat(), base);
            for (const Delta::TableRun &run : paragraphs.at(i)) {
                cursor.insertText(toDocumentText(run.text), runFormat(base, run.attributes));
            }
        }
    }

    QTextDocument *m_document;
    QTextCursor m_cursor;
    bool m_firstLine = true;
    QList<LineStyle> m_lineStyles;
    QList<RunStyle> m_runStyles;
};

class Writer
{
public:
    explicit Writer(const QTextDocument *document) : m_document(document) { }

    QJsonArray write()
    {
        const QTextTable *lastTable = nullptr;
        for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
            if (QTextTable *table = tableOf(m_document, block)) {
                if (table != lastTable) {
                    writeTable(table);
                    lastTable = table;
                }
                continue;
            }
            if (isSkippedPlaceholder(block))
                continue;
            writeParagraph(block);
        }
        return m_ops;
    }

private:
    bool isSkippedPlaceholder(const QTextBlock &block) const
    {
        if (!block.blockFormat().hasProperty(DeltaDocument::TablePlaceholderProperty)
            || !isEmptyIgnoringObjects(block))
            return false;
        const QTextBlock next = block.next();
        const QTextBlock previous = block.previous();
        return (next.isValid() && tableOf(m_document, next))
            || (previous.isValid() && tableOf(m_document, previous));
    }

    void writeParagraph(const QTextBlock &block)
    {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (isOwnObjectType(format.objectType())) {
                const QString text = fragment.text();
                for (const QChar ch : text) {
                    if (ch == ObjectChar)
                        appendEmbed(format);
                    else
                        appendText(QString(ch), charAttributes(fragment.charFormatIndex(), format));
                }
            } else {
                appendText(fragment.text(), charAttributes(fragment.charFormatIndex(), format));
            }
        }
        flushRun();
        QJsonObject op { { QStringLiteral("insert"), QStringLiteral("\n") } };
        const QJsonObject attributes
            = DeltaDocument::attributesFromBlockFormat(block.blockFormat());
        if (!attributes.isEmpty())
            op.insert(QStringLiteral("attributes"), attributes);
        m_ops.append(op);
    }

    // Fragments refer to a few shared formats; their attributes are computed once per format.
    const QJsonObject &charAttributes(int formatIndex, const QTextCharFormat &format)
    {
        auto it = m_charAttributes.constFind(formatIndex);
        if (it == m_charAttributes.constEnd())
            it = m_charAttributes.insert(
                formatIndex, DeltaDocument::attributesFromCharFormat(format));
        return *it;
    }

    QJsonObject blockAttributes(const QTextBlock &block)
    {
        const int index = block.blockFormatIndex();
        auto it = m_blockAttributes.constFind(index);
        if (it == m_blockAttributes.constEnd())
            it = m_blockAttributes.insert(
                index, DeltaDocument::attributesFromBlockFormat(block.blockFormat()));
        return *it;
    }

    void appendText(const QString &documentText, const QJsonObject &attributes)
    {
        const QString text = fromDocumentText(documentText);
        if (text.isEmpty())
            return;
        if (m_hasRun && attributes != m_runAttributes)
            flushRun();
        m_runText += text;
        m_runAttributes = attributes;
        m_hasRun = true;
    }

    void appendEmbed(const QTextCharFormat &format)
    {
        const QString kind = format.stringProperty(DeltaDocument::EmbedKindProperty);
        if (kind.isEmpty())
            return;
        flushRun();
        const QVariant raw = format.property(DeltaDocument::EmbedRawValueProperty);
        const QJsonValue value = raw.metaType() == QMetaType::fromType<QJsonValue>()
            ? raw.value<QJsonValue>()
            : QJsonValue(format.stringProperty(DeltaDocument::EmbedValueProperty));
        m_ops.append(QJsonObject { { QStringLiteral("insert"), QJsonObject { { kind, value } } } });
    }

    void flushRun()
    {
        if (!m_hasRun)
            return;
        QJsonObject op { { QStringLiteral("insert"), m_runText } };
        if (!m_runAttributes.isEmpty())
            op.insert(QStringLiteral("attributes"), m_runAttributes);
        m_ops.append(op);
        m_runText.clear();
        m_runAttributes = QJsonObject();
        m_hasRun = false;
    }

    void writeTable(QTextTable *table)
    {
        QJsonArray rows;
        for (int r = 0; r < table->rows(); ++r) {
            QJsonArray row;
            for (int c = 0; c < table->columns(); ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                // A merged cell's content is written once, at its own row and column.
                if (cell.row() != r || cell.column() != c)
                    row.append(QJsonArray());
                else
                    row.append(cellDelta(cell));
            }
            rows.append(row);
        }
        const QJsonObject value { { QStringLiteral("cells"), rows },
            { QStringLiteral("hasHeader"), table->format().headerRowCount() > 0 } };
        m_ops.append(QJsonObject { { QStringLiteral("insert"),
            QJsonObject { { QStringLiteral("table"), Delta::toText(value) } } } });
        m_ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") } });
    }

    QJsonArray cellDelta(const QTextTableCell &cell)
    {
        QList<QList<Delta::TableRun>> paragraphs;
        const int last = cell.lastCursorPosition().position();
        for (QTextBlock block = cell.firstCursorPosition().block();
             block.isValid() && block.position() <= last; block = block.next()) {
            QList<Delta::TableRun> runs;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const QString text = fromDocumentText(fragment.text());
                if (text.isEmpty())
                    continue;
                const QJsonObject &attributes
                    = charAttributes(fragment.charFormatIndex(), fragment.charFormat());
                if (!runs.isEmpty() && runs.last().attributes == attributes)
                    runs.last().text += text;
                else
                    runs.append(Delta::TableRun { text, attributes });
            }
            paragraphs.append(runs);
        }
        return Delta::cellDelta(paragraphs);
    }

    const QTextDocument *m_document;
    QHash<int, QJsonObject> m_charAttributes;
    QHash<int, QJsonObject> m_blockAttributes;
    QJsonArray m_ops;
    QString m_runText;
    QJsonObject m_runAttributes;
    bool m_hasRun = false;
};

} // namespace

int DeltaDocument::HeadingMetrics::pixelSize() const
{
    return FontScale::scaledPixels(size);
}

DeltaDocument::DeltaDocument(QObject *parent) : QObject(parent), m_document(new QTextDocument(this))
{
    QFont font = m_document->defaultFont();
    font.setPixelSize(FontScale::scaledPixels(16));
    m_document->setDefaultFont(font);
    m_document->setDocumentMargin(16);
    connect(m_document, &QTextDocument::contentsChanged, this, &DeltaDocument::contentsChanged);
}

DeltaDocument::~DeltaDocument() = default;

void DeltaDocument::setDelta(const QJsonArray &ops)
{
    {
        const QSignalBlocker blocker(m_document);
        // Recording undo steps for a load is wasted work; the history is emptied anyway.
        const bool undoEnabled = m_document->isUndoRedoEnabled();
        m_document->setUndoRedoEnabled(false);
        m_document->clear();
        const Delta::Operations parsed = Delta::parseOperations(ops);
        if (!parsed.isEmpty()) {
            QTextCursor(m_document).setBlockFormat(blockFormatFromAttributes(QJsonObject()));
            Loader(m_document).load(Delta::lines(parsed));
        }
        m_document->setUndoRedoEnabled(undoEnabled);
    }
    m_document->clearUndoRedoStacks();
}

void DeltaDocument::setContent(const QString &text)
{
    if (text.isEmpty()) {
        {
            const QSignalBlocker blocker(m_document);
            m_document->clear();
        }
        m_document->clearUndoRedoStacks();
        return;
    }
    const std::optional<QJsonArray> ops = Delta::parseArray(text);
    if (!ops) {
        qWarning() << "DeltaDocument::setContent: body is not a delta document, shown as text";
        {
            const QSignalBlocker blocker(m_document);
            m_document->setPlainText(text);
        }
        m_document->clearUndoRedoStacks();
        return;
    }
    setDelta(*ops);
}

QString DeltaDocument::toJson() const
{
    return Delta::toText(Writer(m_document).write());
}

QString DeltaDocument::toPlainText() const
{
    QString text = m_document->toPlainText();
    for (QChar &ch : text) {
        switch (ch.unicode()) {
        case StoredCarriageReturn:
            ch = QLatin1Char('\r');
            break;
        case StoredParagraphSeparator:
            ch = QChar(QChar::ParagraphSeparator);
            break;
        case StoredFrameStart:
            ch = QChar(0xFDD0);
            break;
        case StoredFrameEnd:
            ch = QChar(0xFDD1);
            break;
        default:
            break;
        }
    }
    return text;
}

DeltaDocument::HeadingMetrics DeltaDocument::headingMetrics(int level)
{
    switch (level) {
    case 1:
        return { 28, 700, 130, 24, 12, false };
    case 2:
        return { 22, 700, 130, 20, 10, false };
    case 3:
        return { 18, 600, 140, 16, 8, false };
    case 4:
        return { 16, 600, 140, 12, 6, false };
    case 5:
        return { 14, 600, 140, 10, 4, false };
    case 6:
        return { 13, 600, 140, 8, 4, true };
    default:
        return { 16, 400, 150, 0, 8, false };
    }
}

QTextBlockFormat DeltaDocument::blockFormatFromAttributes(const QJsonObject &attributes)
{
    const Delta::BlockAttributes block = Delta::readBlockAttributes(attributes);
    QTextBlockFormat format;
    if (block.header > 0)
        format.setProperty(HeadingLevelProperty, block.header);
    if (attributes.contains(QStringLiteral("list")))
        format.setProperty(ListTypeProperty, block.list);
    if (block.codeBlock) {
        if (attributes.value(QStringLiteral("code-block")).isString())
            format.setProperty(CodeBlockProperty, block.codeBlockLanguage);
        else
            format.setProperty(CodeBlockProperty, true);
    }
    if (block.blockquote)
        format.setProperty(BlockquoteProperty, true);
    if (block.align == QLatin1String("center"))
        format.setAlignment(Qt::AlignHCenter);
    else if (block.align == QLatin1String("right"))
        format.setAlignment(Qt::AlignRight);
    else if (block.align == QLatin1String("justify"))
        format.setAlignment(Qt::AlignJustify);
    else
        format.setAlignment(Qt::AlignLeft);
    if (!block.extra.isEmpty())
        format.setProperty(ExtraBlockAttributesProperty, QVariant::fromValue(block.extra));
    applyBlockStyle(format);
    return format;
}

QTextCharFormat DeltaDocument::charFormatFromAttributes(const QJsonObject &attributes)
{
    QTextCharFormat format;
    QJsonObject extra;
    for (auto it = attributes.constBegin(); it != attributes.constEnd(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        const bool on = Delta::isTrue(value);
        if (key == QLatin1String("bold") && on) {
            format.setFontWeight(700);
        } else if (key == QLatin1String("italic") && on) {
            format.setFontItalic(true);
        } else if (key == QLatin1String("underline") && on) {
            format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
        } else if (key == QLatin1String("strike") && on) {
            format.setFontStrikeOut(true);
        } else if (key == QLatin1String("code") && on) {
            const QTextCharFormat code = inlineCodeFormat();
            format.setFontFamilies(code.fontFamilies().toStringList());
            format.setProperty(
                QTextFormat::FontPixelSize, code.property(QTextFormat::FontPixelSize));
            format.setFontStyleHint(QFont::Monospace);
            format.setFontWeight(code.fontWeight());
            format.setFontItalic(false);
            format.setUnderlineStyle(QTextCharFormat::NoUnderline);
            format.setFontStrikeOut(false);
            format.setFontFixedPitch(true);
            format.setForeground(code.foreground());
            format.setBackground(code.background());
        } else if (key == QLatin1String("link")) {
            format.setAnchor(true);
            format.setAnchorHref(Delta::stringValue(value));
            format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
            format.setForeground(DocumentPalette::linkColor());
        } else if (key == QLatin1String("header") || key == QLatin1String("list")
            || key == QLatin1String("code-block") || key == QLatin1String("blockquote")) {
            continue;
        } else {
            extra.insert(key, value);
        }
    }
    if (!extra.isEmpty())
        format.setProperty(ExtraInlineAttributesProperty, QVariant::fromValue(extra));
    return format;
}

QJsonObject DeltaDocument::attributesFromBlockFormat(const QTextBlockFormat &format)
{
    Delta::BlockAttributes block;
    const int level = format.intProperty(HeadingLevelProperty);
    if (level >= 1 && level <= 6)
        block.header = level;
    switch (format.marker()) {
    case QTextBlockFormat::MarkerType::Checked:
        block.list = QStringLiteral("checked");
        break;
    case QTextBlockFormat::MarkerType::Unchecked:
        block.list = QStringLiteral("unchecked");
        break;
    default:
        block.list = format.stringProperty(ListTypeProperty);
        break;
    }
    if (format.hasProperty(CodeBlockProperty)) {
        block.codeBlock = true;
        const QVariant value = format.property(CodeBlockProperty);
        if (value.metaType() == QMetaType::fromType<QString>())
            block.codeBlockLanguage = value.toString();
    }
    block.blockquote = format.boolProperty(BlockquoteProperty);
    const Qt::Alignment alignment = format.alignment();
    if (alignment & Qt::AlignHCenter)
        block.align = QStringLiteral("center");
    else if (alignment & Qt::AlignRight)
        block.align = QStringLiteral("right");
    else if (alignment & Qt::AlignJustify)
        block.align = QStringLiteral("justify");
    block.extra = jsonObjectProperty(format, ExtraBlockAttributesProperty);
    return Delta::writeBlockAttributes(block);
}

QJsonObject DeltaDocument::attributesFromCharFormat(const QTextCharFormat &format)
{
    Delta::InlineAttributes run;
    run.bold = format.hasProperty(QTextFormat::FontWeight) && format.fontWeight() > 699;
    run.italic = format.fontItalic();
    run.underline = format.fontUnderline();
    run.strike = format.fontStrikeOut();
    run.code = format.fontFixedPitch()
        || format.fontFamilies().toStringList().contains(QStringLiteral("monospace"));
    run.hasLink = format.isAnchor();
    run.link = format.anchorHref();
    run.extra = jsonObjectProperty(format, ExtraInlineAttributesProperty);
    return Delta::writeInlineAttributes(run);
}

void DeltaDocument::applyBlockStyle(QTextBlockFormat &format)
{
    const int level = format.intProperty(HeadingLevelProperty);
    if (level >= 1 && level <= 6) {
        const HeadingMetrics metrics = headingMetrics(level);
        format.setTopMargin(metrics.topMargin);
        format.setBottomMargin(metrics.bottomMargin);
        format.setLineHeight(metrics.lineHeight, QTextBlockFormat::ProportionalHeight);
        format.clearBackground();
        format.setLeftMargin(0);
        format.setRightMargin(0);
    } else if (format.hasProperty(CodeBlockProperty)) {
        format.setTopMargin(8);
        format.setBottomMargin(8);
        format.setLineHeight(140, QTextBlockFormat::ProportionalHeight);
        format.setBackground(DocumentPalette::codeBlockBackground());
        format.setLeftMargin(12);
        format.setRightMargin(12);
    } else if (format.boolProperty(BlockquoteProperty)) {
        format.setTopMargin(0);
        format.setBottomMargin(8);
        format.setLineHeight(150, QTextBlockFormat::ProportionalHeight);
        format.clearBackground();
        format.setLeftMargin(16);
        format.setRightMargin(0);
    } else {
        const HeadingMetrics metrics = headingMetrics(0);
        format.setTopMargin(metrics.topMargin);
        format.setBottomMargin(metrics.bottomMargin);
        format.setLineHeight(metrics.lineHeight, QTextBlockFormat::ProportionalHeight);
        format.clearBackground();
        format.setLeftMargin(0);
        format.setRightMargin(0);
    }
}

QTextCharFormat DeltaDocument::baseCharFormat(const QTextBlockFormat &format)
{
    const int level = format.intProperty(HeadingLevelProperty);
    if (level >= 1 && level <= 6) {
        const HeadingMetrics metrics = headingMetrics(level);
        QTextCharFormat result;
        result.setProperty(QTextFormat::FontPixelSize, metrics.pixelSize());
        result.setFontWeight(metrics.weight);
        if (metrics.secondaryColor)
            result.setForeground(DocumentPalette::secondaryTextColor());
        return result;
    }
    if (format.hasProperty(CodeBlockProperty)) {
        QTextCharFormat result;
        result.setFont(monospaceFont(FontScale::scaledPixels(14)),
            QTextCharFormat::FontPropertiesSpecifiedOnly);
        result.setForeground(DocumentPalette::secondaryTextColor());
        return result;
    }
    return defaultCharFormat();
}

QTextCharFormat DeltaDocument::defaultCharFormat()
{
    QTextCharFormat format;
    format.setProperty(QTextFormat::FontPixelSize, FontScale::scaledPixels(16));
    return format;
}

QTextCharFormat DeltaDocument::inlineCodeFormat()
{
    QTextCharFormat format;
    format.setFont(
        monospaceFont(FontScale::scaledPixels(14)), QTextCharFormat::FontPropertiesSpecifiedOnly);
    format.setForeground(DocumentPalette::inlineCodeTextColor());
    format.setBackground(DocumentPalette::inlineCodeBackground());
    return format;
}

QFont DeltaDocument::monospaceFont(int pixelSize)
{
    QFont font;
    font.setFamilies({ QStringLiteral("monospace") });
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(std::max(1, pixelSize));
    return font;
}

void DeltaDocument::applyListType(QTextCursor &cursor, const QString &type)
{
    if (QTextList *list = cursor.currentList())
        list->remove(cursor.block());
    QTextBlockFormat format = cursor.blockFormat();
    format.setObjectIndex(-1);
    format.setMarker(QTextBlockFormat::MarkerType::NoMarker);
    format.setIndent(0);
    format.clearProperty(ListTypeProperty);
    cursor.setBlockFormat(format);
    if (type.isEmpty())
        return;

    const QTextListFormat::Style style = type == QLatin1String("ordered")
        ? QTextListFormat::ListDecimal
        : QTextListFormat::ListDisc;
    const QTextBlock previous = cursor.block().previous();
    QTextList *previousList = previous.isValid() ? previous.textList() : nullptr;
    if (previousList && previousList->format().style() == style) {
        previousList->add(cursor.block());
    } else {
        QTextListFormat listFormat;
        listFormat.setStyle(style);
        listFormat.setIndent(1);
        cursor.createList(listFormat);
    }

    format = cursor.blockFormat();
    if (type == QLatin1String("checked"))
        format.setMarker(QTextBlockFormat::MarkerType::Checked);
    else if (type == QLatin1String("unchecked"))
        format.setMarker(QTextBlockFormat::MarkerType::Unchecked);
    format.setProperty(ListTypeProperty, type);
    cursor.setBlockFormat(format);
}

QTextTableFormat DeltaDocument::makeTableFormat(bool hasHeader)
{
    QTextTableFormat format;
    format.setBorder(1);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderBrush(DocumentPalette::tableBorderColor());
    format.setBorderCollapse(true);
    format.setCellPadding(6);
    format.setCellSpacing(0);
    format.setHeaderRowCount(hasHeader ? 1 : 0);
    return format;
}

QTextTable *DeltaDocument::insertTableAt(
    QTextCursor &cursor, int rows, int columns, const QTextTableFormat &format)
{
    if (rows <= 0 || columns <= 0)
        return nullptr;
    // Only paragraphs next to the insertion point can be created by it, so only those are
    // marked; marking the whole document would make loading many tables quadratic.
    const QTextBlock current = cursor.block();
    for (const QTextBlock &block : { current.previous(), current, current.next() }) {
        if (!block.isValid())
            continue;
        QTextCursor mark(block);
        QTextBlockFormat blockFormat = mark.blockFormat();
        blockFormat.setProperty(TableInsertMarkProperty, true);
        mark.setBlockFormat(blockFormat);
    }

    QTextTable *table = cursor.insertTable(rows, columns, format);
    if (!table)
        return nullptr;

    QTextCursor before(cursor.document());
    before.setPosition(table->firstPosition());
    before.movePosition(QTextCursor::PreviousBlock);
    QTextCursor after(cursor.document());
    after.setPosition(table->lastPosition());
    after.movePosition(QTextCursor::NextBlock);
    for (QTextCursor *side : { &before, &after }) {
        if (side->currentTable() == table)
            continue;
        QTextBlockFormat blockFormat = side->blockFormat();
        if (blockFormat.hasProperty(TableInsertMarkProperty))
            continue;
        blockFormat.setProperty(TablePlaceholderProperty, true);
        side->setBlockFormat(blockFormat);
    }

    // The marks sit on the original paragraphs, which now lie on either side of the table.
    QTextBlock first = before.block();
    if (first.previous().isValid())
        first = first.previous();
    const QTextBlock stop
        = after.block().next().isValid() ? after.block().next().next() : QTextBlock();
    for (QTextBlock block = first; block.isValid() && block != stop; block = block.next()) {
        QTextBlockFormat blockFormat = block.blockFormat();
        if (blockFormat.hasProperty(TableInsertMarkProperty)) {
            blockFormat.clearProperty(TableInsertMarkProperty);
            QTextCursor(block).setBlockFormat(blockFormat);
        }
    }
    return table;
}

bool DeltaDocument::isDarkPalette()
{
    return ::isDarkPalette();
}
