#include "printdocument.h"

#include "attachmentrepository.h"
#include "deltadocument.h"
#include "deltaformat.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextTable>
#include <QUrl>

#include <algorithm>

namespace {

constexpr qreal PointsPerPixel = 72.0 / 96.0;
// Widest an image is laid out, in document pixels: an A4 page less its margins.
constexpr int MaximumImageWidth = 600;

// Colours chosen for a dark window would vanish on paper (light text) or waste ink (dark
// fills); mirroring their lightness keeps the hue and the contrast the note had.
QColor forPaper(const QColor &color, bool isForeground)
{
    const int lightness = color.lightness();
    const bool unfit = isForeground ? lightness > 170 : lightness < 100;
    if (!unfit)
        return color;
    QColor hsl = color.toHsl();
    return QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), 255 - hsl.lightness(), hsl.alpha());
}

bool adjustBrush(QTextFormat &format, int property, bool isForeground)
{
    if (!format.hasProperty(property))
        return false;
    QBrush brush = format.brushProperty(property);
    if (brush.style() != Qt::SolidPattern)
        return false;
    const QColor adjusted = forPaper(brush.color(), isForeground);
    if (adjusted == brush.color())
        return false;
    brush.setColor(adjusted);
    format.setProperty(property, brush);
    return true;
}

// Pixel sizes are device pixels: on a 1200 dpi printer a 16 px font would be a speck.
bool convertCharFormat(QTextCharFormat &format)
{
    bool changed = false;
    if (format.hasProperty(QTextFormat::FontPixelSize)) {
        const int pixels = format.intProperty(QTextFormat::FontPixelSize);
        format.clearProperty(QTextFormat::FontPixelSize);
        if (pixels > 0)
            format.setFontPointSize(pixels * PointsPerPixel);
        changed = true;
    }
    changed |= adjustBrush(format, QTextFormat::ForegroundBrush, true);
    changed |= adjustBrush(format, QTextFormat::BackgroundBrush, false);
    return changed;
}

void adjustFrames(QTextFrame *frame)
{
    for (QTextFrame *child : frame->childFrames()) {
        if (auto *table = qobject_cast<QTextTable *>(child)) {
            QTextTableFormat tableFormat = table->format();
            if (adjustBrush(tableFormat, QTextFormat::BackgroundBrush, false))
                table->setFormat(tableFormat);
            for (int row = 0; row < table->rows(); ++row) {
                for (int column = 0; column < table->columns(); ++column) {
                    QTextTableCell cell = table->cellAt(row, column);
                    if (cell.row() != row || cell.column() != column)
                        continue; // covered by a merged cell
                    QTextCharFormat cellFormat = cell.format();
                    if (adjustBrush(cellFormat, QTextFormat::BackgroundBrush, false))
                        cell.setFormat(cellFormat);
                }
            }
        }
        adjustFrames(child);
    }
}

struct FormatChange
{
    int position = 0;
    int length = 0; // 0: the block's own character format
    QTextCharFormat format;
};

struct ObjectAt
{
    int position = 0;
    QTextCharFormat format;
};

} // namespace

std::unique_ptr<QTextDocument> preparePrintDocument(
    const QTextDocument &source, const PrintedAttachmentLookup &attachments)
{
    std::unique_ptr<QTextDocument> document(source.clone());
    document->setDocumentMargin(36);

    QFont defaultFont = document->defaultFont();
    if (defaultFont.pixelSize() > 0) {
        defaultFont.setPointSizeF(defaultFont.pixelSize() * PointsPerPixel);
        document->setDefaultFont(defaultFont);
    }

    // Collected first and applied afterwards, so the scan never meets its own changes.
    QList<FormatChange> changes;
    QList<QPair<int, QTextBlockFormat>> blockChanges;
    QList<ObjectAt> objects;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat blockFormat = block.blockFormat();
        if (adjustBrush(blockFormat, QTextFormat::BackgroundBrush, false))
            blockChanges.append({ block.position(), blockFormat });
        QTextCharFormat blockCharFormat = block.charFormat();
        if (convertCharFormat(blockCharFormat))
            changes.append({ block.position(), 0, blockCharFormat });
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            const int type = format.objectType();
            if (type == DeltaDocument::DividerObjectType
                || type == DeltaDocument::AttachmentObjectType) {
                const QString text = fragment.text();
                for (int i = 0; i < text.size(); ++i) {
                    if (text.at(i) == QChar::ObjectReplacementCharacter)
                        objects.append({ fragment.position() + i, format });
                }
            }
            if (convertCharFormat(format))
                changes.append({ fragment.position(), fragment.length(), format });
        }
    }

    QTextCursor cursor(document.get());
    for (const auto &[position, format] : blockChanges) {
        cursor.setPosition(position);
        cursor.setBlockFormat(format);
    }
    for (const FormatChange &change : changes) {
        cursor.setPosition(change.position);
        if (change.length == 0) {
            cursor.setBlockCharFormat(change.format);
            continue;
        }
        cursor.setPosition(change.position + change.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(change.format);
    }
    adjustFrames(document->rootFrame());

    // From the end, so earlier positions stay valid while objects are replaced.
    int imageCount = 0;
    std::sort(objects.begin(), objects.end(),
        [](const ObjectAt &a, const ObjectAt &b) { return a.position > b.position; });
    for (const ObjectAt &object : objects) {
        cursor.setPosition(object.position);
        cursor.setPosition(object.position + 1, QTextCursor::KeepAnchor);
        if (object.format.objectType() == DeltaDocument::DividerObjectType) {
            cursor.removeSelectedText();
            QTextBlockFormat blockFormat = cursor.blockFormat();
            blockFormat.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                QTextLength(QTextLength::PercentageLength, 100));
            cursor.setBlockFormat(blockFormat);
            continue;
        }
        PrintedAttachment printed;
        if (attachments) {
            printed = attachments(object.format.stringProperty(DeltaDocument::EmbedKindProperty),
                object.format.stringProperty(DeltaDocument::EmbedValueProperty));
        }
        QTextCharFormat textFormat = object.format;
        textFormat.setObjectType(QTextFormat::NoObject);
        textFormat.clearProperty(DeltaDocument::EmbedKindProperty);
        textFormat.clearProperty(DeltaDocument::EmbedValueProperty);
        cursor.removeSelectedText();
        if (!printed.image.isNull()) {
            const QUrl name(QStringLiteral("print-attachment:%1").arg(++imageCount));
            document->addResource(QTextDocument::ImageResource, name, printed.image);
            QTextImageFormat imageFormat;
            imageFormat.setName(name.toString());
            const QSize size = printed.image.size();
            if (size.width() > MaximumImageWidth) {
                imageFormat.setWidth(MaximumImageWidth);
                imageFormat.setHeight(qreal(size.height()) * MaximumImageWidth / size.width());
            }
            cursor.insertImage(imageFormat);
        } else if (!printed.label.isEmpty()) {
            cursor.insertText(printed.label, textFormat);
        }
    }
    return document;
}

PrintedAttachmentLookup attachmentLookupFor(const AttachmentRepository *attachments)
{
    if (!attachments)
        return {};
    return [attachments](const QString &, const QString &value) {
        PrintedAttachment printed;
        const QString fromReference = Delta::attachmentIdFromReference(value);
        const QString id = fromReference.isEmpty() ? value : fromReference;
        if (!AttachmentRepository::isValidId(id))
            return printed;
        const std::optional<Attachment> record = attachments->attachmentById(id);
        if (!record)
            return printed;
        if (record->mimeType.startsWith(QLatin1String("image/")))
            printed.image = QImage::fromData(attachments->readFile(id));
        if (printed.image.isNull())
            printed.label = QStringLiteral("[%1]").arg(record->filename);
        return printed;
    };
}
