#include "notebooklistdelegate.h"

#include "fontscale.h"
#include "listpainting.h"
#include "notebooklistwidget.h"

#include <QFontMetricsF>
#include <QPainter>

using namespace ListPainting;

namespace {

constexpr int IconSize = 16;

void drawPlus(QPainter *painter, const QRectF &icon, const QColor &colour)
{
    const QPointF centre = icon.center();
    const qreal half = 0.35 * icon.width();
    painter->save();
    painter->setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap));
    painter->drawLine(
        QPointF(centre.x() - half, centre.y()), QPointF(centre.x() + half, centre.y()));
    painter->drawLine(
        QPointF(centre.x(), centre.y() - half), QPointF(centre.x(), centre.y() + half));
    painter->restore();
}

void drawSharedDots(QPainter *painter, const QRectF &icon, const QColor &colour)
{
    const qreal unit = icon.width() / 24.0;
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    for (const qreal x : { 13.0, 16.0, 19.0 })
        painter->drawEllipse(QPointF(icon.left() + x * unit, icon.top() + 15 * unit), unit, unit);
    painter->restore();
}

} // namespace

NotebookListDelegate::Sizes NotebookListDelegate::sizesForScale(int scalePercent)
{
    const int base = baseSize(scalePercent);
    Sizes sizes;
    sizes.label = qMax(10, nearest(base * 14 / 16.0));
    sizes.count = qMax(8, nearest(base * 11 / 16.0));
    sizes.rowHeight = qMax(36, nearest(sizes.label * 2.2) + 6);
    return sizes;
}

NotebookListDelegate::NotebookListDelegate(QObject *parent) : QStyledItemDelegate(parent)
{ }

void NotebookListDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const Colours colours = coloursFor(option.palette);
    const Sizes sizes = sizesForScale(FontScale::percent());
    const QRect rect = option.rect;
    const int kind = index.data(NotebookListWidget::KindRole).toInt();
    const bool isNewNotebook = kind == NotebookListWidget::NewNotebookKind;
    const bool selected = (option.state & QStyle::State_Selected) && !isNewNotebook;
    const bool hovered = option.state & QStyle::State_MouseOver;

    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    if (selected) {
        painter->fillRect(rect, colours.selected);
        painter->fillRect(
            QRect(rect.left(), rect.top() + 6, 2, rect.height() - 12), colours.accent);
    } else {
        painter->fillRect(rect, hovered ? colours.hover : colours.background);
    }

    const int left = rect.left();
    const int right = rect.right();
    const int iconTop = rect.top() + (rect.height() - IconSize) / 2;
    const QRectF icon(left + 20, iconTop, IconSize, IconSize);
    const QColor iconColour = selected ? colours.accent : colours.secondary;
    switch (kind) {
    case NotebookListWidget::AllNotesKind:
        drawGlyph(painter, Glyph::AllNotes, icon, iconColour);
        break;
    case NotebookListWidget::NotebookKind:
        drawGlyph(painter, Glyph::Notebook, icon, iconColour);
        if (index.data(NotebookListWidget::SharedRole).toBool())
            drawSharedDots(painter, icon, iconColour);
        break;
    case NotebookListWidget::TrashKind:
        drawGlyph(painter, Glyph::Trash, icon, iconColour);
        break;
    default:
        drawPlus(painter, icon, colours.faint);
        break;
    }

    const int count = index.data(NotebookListWidget::CountRole).toInt();
    const bool showCount = !isNewNotebook && count > 0;
    qreal countAdvance = 0;
    if (showCount) {
        const QFont countFont = monoFont(sizes.count, 500);
        const QFontMetricsF metrics(countFont);
        const QString text = QString::number(count);
        countAdvance = metrics.horizontalAdvance(text);
        painter->setFont(countFont);
        painter->setPen(colours.faint);
        painter->drawText(QPointF(right - 16 - countAdvance, iconTop + 14), text);
    }

    const bool strong = selected || kind == NotebookListWidget::AllNotesKind;
    const QFont labelFont = sansFont(sizes.label, strong ? 500 : 400);
    const QFontMetricsF labelMetrics(labelFont);
    const qreal labelWidth = (right - 16) - (left + 48) - (showCount ? countAdvance + 6 : 0);
    painter->setFont(labelFont);
    painter->setPen(isNewNotebook ? colours.faint : colours.text);
    painter->drawText(QPointF(left + 48, iconTop + 14),
        labelMetrics.elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideRight, qMax<qreal>(0, labelWidth)));

    painter->restore();
}

QSize NotebookListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), sizesForScale(FontScale::percent()).rowHeight);
}
