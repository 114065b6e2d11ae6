#include "listpainting.h"

#include <QPainter>
#include <QPalette>
#include <QTransform>

#include <cmath>

namespace ListPainting {

Colours coloursFor(const QPalette &palette)
{
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    const bool light = base.lightness() > 127;
    Colours c;
    c.background = base;
    c.hover = light ? base.darker(103) : base.lighter(125);
    c.selected = light ? base.darker(108) : base.lighter(150);
    c.separator = light ? base.darker(112) : base.lighter(155);
    c.text = text;
    c.muted = light ? text.lighter(140) : text.darker(118);
    // On the dark palette these keep 4.5:1 against the selected row too.
    c.faint = light ? text.lighter(225) : text.darker(140);
    c.secondary = light ? text.lighter(175) : text.darker(125);
    c.accent = palette.color(QPalette::Active, QPalette::Highlight);
    c.conflict = QColor(224, 122, 107);
    return c;
}

int nearest(double value)
{
    return int(std::lround(value));
}

int baseSize(int scalePercent)
{
    return qMax(1, 16 * scalePercent / 100);
}

QFont sansFont(int pixelSize, int weight, bool italic)
{
    QFont font(QStringLiteral("IBM Plex Sans"));
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Weight(weight));
    font.setItalic(italic);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont monoFont(int pixelSize, int weight)
{
    QFont font(QStringLiteral("IBM Plex Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Weight(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

namespace {

QPainterPath circle(qreal cx, qreal cy, qreal r)
{
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), r, r);
    return path;
}

// Upper half of an ellipse, open at the bottom: the shoulders of a person.
QPainterPath shoulders(const QRectF &box)
{
    QPainterPath path;
    path.arcMoveTo(box, 180);
    path.arcTo(box, 180, -180);
    return path;
}

QPainterPath people()
{
    QPainterPath path;
    path.addPath(circle(9, 8, 3.5));
    path.addPath(shoulders(QRectF(2.5, 14, 13, 12)));
    // The second person stands behind the first: only the head and the outer shoulder show.
    path.addPath(circle(16.5, 8.5, 3));
    path.moveTo(17.5, 14.2);
    path.cubicTo(20, 14.8, 21.5, 17, 21.5, 20);
    return path;
}

QPainterPath cloud()
{
    // Three bumps over a flat base.
    QPainterPath shape = circle(7, 15, 4);
    shape = shape.united(circle(13, 10.5, 5.5));
    shape = shape.united(circle(18, 15, 3.5));
    QPainterPath base;
    base.addRect(QRectF(7, 13, 11, 5.5));
    return shape.united(base).simplified();
}

QPainterPath warning()
{
    QPainterPath path;
    path.moveTo(12, 3.5);
    path.lineTo(21.5, 20);
    path.lineTo(2.5, 20);
    path.closeSubpath();
    path.moveTo(12, 9.5);
    path.lineTo(12, 14);
    path.moveTo(12, 16.9);
    path.lineTo(12, 17);
    return path;
}

QPainterPath allNotes()
{
    // A page with a folded corner and two lines of text.
    QPainterPath path;
    path.moveTo(6, 3);
    path.lineTo(14, 3);
    path.lineTo(19, 8);
    path.lineTo(19, 21);
    path.lineTo(6, 21);
    path.closeSubpath();
    path.moveTo(14, 3);
    path.lineTo(14, 8);
    path.lineTo(19, 8);
    path.moveTo(9, 12.5);
    path.lineTo(16, 12.5);
    path.moveTo(9, 16.5);
    path.lineTo(14, 16.5);
    return path;
}

QPainterPath notebook()
{
    // A bound book: cover, spine and a title label.
    QPainterPath path;
    path.addRoundedRect(QRectF(5, 3, 14, 18), 1.5, 1.5);
    path.moveTo(9, 3);
    path.lineTo(9, 21);
    path.moveTo(12, 7.5);
    path.lineTo(16, 7.5);
    return path;
}

QPainterPath trash()
{
    QPainterPath path;
    path.moveTo(4, 6.5);
    path.lineTo(20, 6.5);
    path.moveTo(9.5, 6.5);
    path.lineTo(9.5, 3.5);
    path.lineTo(14.5, 3.5);
    path.lineTo(14.5, 6.5);
    path.moveTo(6, 6.5);
    path.lineTo(7, 20.5);
    path.lineTo(17, 20.5);
    path.lineTo(18, 6.5);
    path.moveTo(10, 10);
    path.lineTo(10, 17);
    path.moveTo(14, 10);
    path.lineTo(14, 17);
    return path;
}

} // namespace

QPainterPath glyphPath(Glyph glyph)
{
    switch (glyph) {
    case Glyph::People:
        return people();
    case Glyph::Cloud:
        return cloud();
    case Glyph::Warning:
        return warning();
    case Glyph::AllNotes:
        return allNotes();
    case Glyph::Notebook:
        return notebook();
    case Glyph::Trash:
        return trash();
    }
    return QPainterPath();
}

void drawGlyph(
    QPainter *painter, Glyph glyph, const QRectF &target, const QColor &colour, qreal penWidth)
{
    // Paths are built once per glyph: the list repaints often and they never change.
    static const QPainterPath paths[] = {
        glyphPath(Glyph::People),
        glyphPath(Glyph::Cloud),
        glyphPath(Glyph::Warning),
        glyphPath(Glyph::AllNotes),
        glyphPath(Glyph::Notebook),
        glyphPath(Glyph::Trash),
    };
    QTransform transform;
    transform.translate(target.x(), target.y());
    transform.scale(target.width() / 24.0, target.height() / 24.0);
    // Scaling the path rather than the painter keeps the pen exactly penWidth pixels wide.
    const QPainterPath scaled = transform.map(paths[int(glyph)]);
    painter->save();
    painter->setPen(QPen(colour, penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(scaled);
    painter->restore();
}

} // namespace ListPainting
