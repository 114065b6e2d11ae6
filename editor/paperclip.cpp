#include "paperclip.h"

#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace Paperclip {

QString glyph()
{
    return QString::fromUtf8("\U0001F4CE");
}

bool glyphAvailable(const QFont &font)
{
    static QHash<QString, bool> known;
    const QString key = font.key();
    const auto found = known.constFind(key);
    if (found != known.constEnd())
        return *found;
    QTextLayout layout(glyph(), font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    bool available = false;
    for (const QGlyphRun &run : layout.glyphRuns()) {
        const QList<quint32> indexes = run.glyphIndexes();
        // Glyph 0 is the font's missing-glyph box.
        available = !indexes.isEmpty() && !indexes.contains(0);
    }
    known.insert(key, available);
    return available;
}

void draw(QPainter &painter, const QRectF &box)
{
    const qreal size = qMin(box.width(), box.height());
    // A clip in a unit square around the origin: outer loop, then the inner one.
    QPainterPath path;
    path.moveTo(0.22, -0.1);
    path.lineTo(0.22, 0.22);
    path.arcTo(QRectF(-0.22, 0.0, 0.44, 0.44), 0, -180);
    path.lineTo(-0.22, -0.28);
    path.arcTo(QRectF(-0.22, -0.43, 0.30, 0.30), 180, -180);
    path.lineTo(0.08, 0.18);
    path.arcTo(QRectF(-0.08, 0.10, 0.16, 0.16), 0, -180);
    path.lineTo(-0.08, -0.12);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(box.center());
    painter.rotate(40);
    painter.scale(size, size);
    QPen pen(painter.pen().color(), 0.09);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.restore();
}

} // namespace Paperclip
