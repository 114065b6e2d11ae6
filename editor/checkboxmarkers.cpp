#include "checkboxmarkers.h"

#include "documentpalette.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>

namespace CheckboxMarkers {

namespace {

bool hasCheckboxMarker(const QTextBlock &block)
{
    const QTextBlockFormat::MarkerType marker = block.blockFormat().marker();
    return marker == QTextBlockFormat::MarkerType::Checked
        || marker == QTextBlockFormat::MarkerType::Unchecked;
}

// Paints the markers over the viewport once the editor has painted it. The scroll area routes
// the viewport's paint events through its own filter, so this filter (installed later, hence
// asked first) lets that painting run and then adds its own.
class MarkerOverlay final : public QObject
{
public:
    explicit MarkerOverlay(QTextEdit *editor) : QObject(editor), m_editor(editor) { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_inside || event->type() != QEvent::Paint || watched != m_editor->viewport())
            return false;
        m_inside = true;
        QCoreApplication::sendEvent(watched, event);
        m_inside = false;
        paintMarkers(static_cast<QPaintEvent *>(event)->rect());
        return true;
    }

private:
    void paintMarkers(const QRect &exposed)
    {
        QTextDocument *document = m_editor->document();
        const QPointF offset(
            m_editor->horizontalScrollBar()->value(), m_editor->verticalScrollBar()->value());
        const QRectF visible = QRectF(exposed).translated(offset);
        const QPalette palette = m_editor->viewport()->palette();
        QPainter painter(m_editor->viewport());
        painter.translate(-offset);
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (!hasCheckboxMarker(block))
                continue;
            const QRectF box = markerRect(block);
            if (box.isEmpty() || !visible.intersects(box.adjusted(-2, -2, 2, 2)))
                continue;
            // Covers the layout's own box and cross, antialiased edges included.
            painter.fillRect(box.adjusted(-1.5, -1.5, 1.5, 1.5), palette.brush(QPalette::Base));
            paintCheckBox(&painter, box,
                block.blockFormat().marker() == QTextBlockFormat::MarkerType::Checked, palette,
                m_editor->isEnabled());
        }
    }

    QPointer<QTextEdit> m_editor;
    bool m_inside = false;
};

} // namespace

void paintCheckBox(
    QPainter *painter, const QRectF &box, bool checked, const QPalette &palette, bool enabled)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    const qreal side = qMin(box.width(), box.height());
    const QRectF square(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    const qreal radius = qMax<qreal>(2, side / 6);
    const qreal stroke = qMax<qreal>(1, side / 12);
    if (checked) {
        QColor fill = palette.color(group, QPalette::Highlight);
        if (!enabled)
            fill = DocumentPalette::blend(palette.color(QPalette::Base), fill, 0.5);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(square, radius, radius);
        QPainterPath tick;
        tick.moveTo(square.left() + side * 0.24, square.top() + side * 0.52);
        tick.lineTo(square.left() + side * 0.42, square.top() + side * 0.70);
        tick.lineTo(square.left() + side * 0.76, square.top() + side * 0.32);
        QPen pen(palette.color(group, QPalette::HighlightedText), qMax<qreal>(1.5, side / 7));
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(tick);
    } else {
        QColor outline = DocumentPalette::controlOutline(palette);
        if (!enabled)
            outline = DocumentPalette::blend(palette.color(QPalette::Base), outline, 0.5);
        painter->setPen(QPen(outline, stroke));
        painter->setBrush(palette.brush(group, QPalette::Base));
        const qreal inset = stroke / 2;
        painter->drawRoundedRect(square.adjusted(inset, inset, -inset, -inset), radius, radius);
    }
    painter->restore();
}

QRectF markerRect(const QTextBlock &block)
{
    if (!block.isValid() || !hasCheckboxMarker(block) || !block.layout()
        || block.layout()->lineCount() == 0)
        return QRectF();
    const QTextDocument *document = block.document();
    QAbstractTextDocumentLayout *layout = document->documentLayout();
    // The same square the text layout draws its marker in: a third of the line spacing, a
    // space's width left of the text, grown by a sixth of the line spacing on every side.
    const QFontMetrics metrics(block.charFormat().font());
    const QTextLayout *textLayout = block.layout();
    // The block's bounding rectangle starts at its layout's position plus that of the frames
    // (table cells) around it.
    const QPointF layoutOrigin = layout->blockBoundingRect(block).topLeft();
    const QPoint textStart
        = (layoutOrigin + textLayout->lineAt(0).naturalTextRect().topLeft()).toPoint();
    const qreal size = metrics.lineSpacing() / 3;
    const int adjust = metrics.lineSpacing() / 6;
    QRectF marker(textStart, QSizeF(size, size));
    marker.translate(-metrics.horizontalAdvance(QLatin1Char(' ')) - size - adjust,
        metrics.height() / 2 - size / 2);
    return marker.adjusted(-adjust, -adjust, adjust, adjust);
}

void install(QTextEdit *editor)
{
    if (!editor || editor->property("brevCheckboxMarkers").toBool())
        return;
    editor->setProperty("brevCheckboxMarkers", true);
    editor->viewport()->installEventFilter(new MarkerOverlay(editor));
}

} // namespace CheckboxMarkers
