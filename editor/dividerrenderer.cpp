#include "dividerrenderer.h"

#include "documentpalette.h"
#include "fontscale.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>

DividerRenderer::DividerRenderer(QObject *parent) : QObject(parent)
{ }

QSizeF DividerRenderer::intrinsicSize(
    QTextDocument *document, int positionInDocument, const QTextFormat &format)
{
    Q_UNUSED(format);
    const qreal height = FontScale::scaledPixels(16);
    if (!document || document->textWidth() <= 0)
        return QSizeF(200, height);
    const QTextBlockFormat block = document->findBlock(positionInDocument).blockFormat();
    // One pixel short of the line so the rule never wraps onto a line of its own.
    const qreal width = document->textWidth() - 2 * document->documentMargin() - block.leftMargin()
        - block.rightMargin() - block.textIndent() - 1;
    return QSizeF(qMax<qreal>(width, 16), height);
}

void DividerRenderer::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document,
    int positionInDocument, const QTextFormat &format)
{
    Q_UNUSED(document);
    Q_UNUSED(positionInDocument);
    Q_UNUSED(format);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    QColor color = DocumentPalette::secondaryTextColor();
    color.setAlphaF(0.45f);
    painter->setPen(QPen(color, 1));
    const qreal y = qRound(rect.center().y()) + 0.5;
    painter->drawLine(QPointF(rect.left(), y), QPointF(rect.right(), y));
    painter->restore();
}
