// DeltaDocument's styling: the formats that delta attributes map to and back, headings, lists,
// tables and the palette test.
#include "deltadocument.h"

#include "deltaconversion.h"
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
