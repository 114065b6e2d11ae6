#include "unsupportedcontentrenderer.h"

#include "deltadocument.h"
#include "deltaformat.h"
#include "documentpalette.h"
#include "fontscale.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>

namespace {

QFont chipFont(const QTextDocument *document)
{
    QFont font = document ? document->defaultFont() : QFont();
    font.setPixelSize(FontScale::scaledPixels(13));
    return font;
}

constexpr qreal HorizontalPadding = 8;
constexpr qreal VerticalPadding = 2;

} // namespace

UnsupportedContentRenderer::UnsupportedContentRenderer(QObject *parent) : QObject(parent)
{ }

QString UnsupportedContentRenderer::label(const QTextFormat &format)
{
    if (format.objectType() == DeltaDocument::TableObjectType
        || format.stringProperty(DeltaDocument::EmbedKindProperty) == Delta::TableKind)
        return tr("Table that cannot be shown here");
    return tr("Unsupported content");
}

QSizeF UnsupportedContentRenderer::intrinsicSize(
    QTextDocument *document, int positionInDocument, const QTextFormat &format)
{
    Q_UNUSED(positionInDocument);
    const QFontMetricsF metrics(chipFont(document));
    return QSizeF(metrics.horizontalAdvance(label(format)) + 2 * HorizontalPadding,
        metrics.height() + 2 * VerticalPadding);
}

void UnsupportedContentRenderer::drawObject(QPainter *painter, const QRectF &rect,
    QTextDocument *document, int positionInDocument, const QTextFormat &format)
{
    Q_UNUSED(positionInDocument);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    const QColor text = DocumentPalette::secondaryTextColor();
    QColor outline = text;
    outline.setAlphaF(0.6f);
    QPainterPath chip;
    chip.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    painter->setPen(QPen(outline, 1, Qt::DashLine));
    painter->setBrush(DocumentPalette::inlineCodeBackground());
    painter->drawPath(chip);
    painter->setPen(text);
    painter->setFont(chipFont(document));
    painter->drawText(rect, Qt::AlignCenter, label(format));
    painter->restore();
}
