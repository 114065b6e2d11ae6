#include "deltaconversion.h"

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

using namespace DeltaConversion;

namespace {

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

} // namespace

void DeltaConversion::loadLines(QTextDocument *document, const QList<Delta::Line> &lines)
{
    Loader(document).load(lines);
}
