#include "attachmentrenderer.h"

#include "attachmentrepository.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "documentpalette.h"
#include "paperclip.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFormat>

AttachmentRenderer::AttachmentRenderer(AttachmentRepository *repository, QObject *parent)
    : QObject(parent), m_repository(repository)
{ }

QString AttachmentRenderer::idFromValue(const QString &value)
{
    if (value.startsWith(Delta::AttachmentPrefix))
        return value.mid(Delta::AttachmentPrefix.size());
    return value;
}

QString AttachmentRenderer::displayName(const AttachmentInfo &info)
{
    return info.filename.isEmpty() ? tr("Attachment") : info.filename;
}

QImage AttachmentRenderer::decodeScaled(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // Decoding straight to the shown width spares a full-size copy of a large photo. Rotated
    // images are scaled after decoding, since the reader scales before it rotates.
    if (size.isValid() && size.width() > MaximumImageWidth
        && reader.transformation() == QImageIOHandler::TransformationNone) {
        const int height = qMax(1, qRound(size.height() * qreal(MaximumImageWidth) / size.width()));
        reader.setScaledSize(QSize(MaximumImageWidth, height));
    }
    QImage image = reader.read();
    if (image.isNull())
        return QImage();
    if (image.width() > MaximumImageWidth)
        image = image.scaledToWidth(MaximumImageWidth, Qt::SmoothTransformation);
    return image;
}

AttachmentInfo AttachmentRenderer::info(const QString &value)
{
    const QString id = idFromValue(value);
    const auto cached = m_cache.constFind(id);
    if (cached != m_cache.constEnd())
        return *cached;

    AttachmentInfo result;
    if (m_repository && !id.isEmpty()) {
        if (const auto row = m_repository->attachmentById(id)) {
            result.filename = row->filename;
            result.mimeType = row->mimeType;
            result.isImage = row->mimeType.startsWith(QLatin1String("image/"));
            if (result.isImage) {
                const QByteArray bytes = m_repository->readFile(id);
                if (!bytes.isEmpty())
                    result.image = decodeScaled(bytes);
            }
        }
    }
    // Misses are cached too: a missing attachment is looked up once, not on every paint.
    m_cache.insert(id, result);
    return result;
}

void AttachmentRenderer::clearCache()
{
    m_cache.clear();
    m_pixmaps.clear();
}

qreal AttachmentRenderer::availableWidth(QTextDocument *document, int positionInDocument)
{
    if (!document || document->textWidth() <= 0)
        return 0;
    const QTextBlockFormat block = document->findBlock(positionInDocument).blockFormat();
    return document->textWidth() - 2 * document->documentMargin() - block.leftMargin()
        - block.rightMargin() - block.textIndent() - 1;
}

QSizeF AttachmentRenderer::intrinsicSize(
    QTextDocument *document, int positionInDocument, const QTextFormat &format)
{
    const AttachmentInfo attachment
        = info(format.stringProperty(DeltaDocument::EmbedValueProperty));
    const qreal available = availableWidth(document, positionInDocument);
    if (!attachment.image.isNull()) {
        QSizeF size = attachment.image.size();
        // A pane narrower than the picture (a preview, a small note window) shows it whole.
        if (available > 0 && size.width() > available)
            size = QSizeF(available, size.height() * available / size.width());
        return QSizeF(size.width(), size.height() + 4);
    }
    const QFontMetricsF metrics(QGuiApplication::font());
    qreal width
        = qMax<qreal>(MinimumChipWidth, metrics.horizontalAdvance(displayName(attachment)) + 48);
    // A very long name is elided rather than pushing the chip past the text's right edge.
    if (available > 0)
        width = qMin(width, qMax<qreal>(available, MinimumChipWidth));
    return QSizeF(width, ChipHeight);
}

void AttachmentRenderer::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document,
    int positionInDocument, const QTextFormat &format)
{
    Q_UNUSED(document);
    Q_UNUSED(positionInDocument);
    const QString value = format.stringProperty(DeltaDocument::EmbedValueProperty);
    const AttachmentInfo attachment = info(value);
    painter->save();
    if (!attachment.image.isNull()) {
        const QString id = idFromValue(value);
        auto pixmap = m_pixmaps.find(id);
        if (pixmap == m_pixmaps.end())
            pixmap = m_pixmaps.insert(id, QPixmap::fromImage(attachment.image));
        const QRectF target(rect.topLeft(), QSizeF(rect.width(), rect.height() - 4));
        if (target.size() == QSizeF(pixmap->size())) {
            painter->drawPixmap(rect.topLeft(), *pixmap);
        } else {
            painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter->drawPixmap(target, *pixmap, QRectF(pixmap->rect()));
        }
        painter->restore();
        return;
    }

    const bool dark = isDarkPalette();
    QRectF chip = rect;
    chip.setBottom(chip.bottom() - 2);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(QColor(QRgb(dark ? 0x3A3A3A : 0xE0E0E0)), 1, Qt::SolidLine));
    painter->setBrush(QColor(QRgb(dark ? 0x2A2D31 : 0xECEEF1)));
    // Half-pixel inset keeps the one-pixel outline sharp and inside the object's rect.
    painter->drawRoundedRect(chip.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

    const QFont font = QGuiApplication::font();
    painter->setFont(font);
    painter->setPen(QColor(QRgb(dark ? 0xC4C6CF : 0x44474E)));
    QRectF textRect = chip.adjusted(12, 0, -12, 0);
    const QFontMetricsF metrics(font);
    QString label = displayName(attachment);
    if (Paperclip::glyphAvailable(font)) {
        label = Paperclip::glyph() + QLatin1String("  ") + label;
    } else {
        const qreal mark = metrics.ascent();
        Paperclip::draw(
            *painter, QRectF(textRect.left(), textRect.center().y() - mark / 2, mark, mark));
        textRect.setLeft(textRect.left() + mark + metrics.horizontalAdvance(QLatin1String("  ")));
    }
    const QString shown = metrics.elidedText(label, Qt::ElideMiddle, textRect.width());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    painter->restore();
}
