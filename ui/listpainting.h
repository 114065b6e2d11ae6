#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>

class QPainter;
class QPalette;
class QRectF;

// What the note list and the sidebar painters share: row colours derived from the view's
// palette, font construction and the line glyphs drawn on a 24-unit design grid.
namespace ListPainting {

struct Colours
{
    QColor background;
    QColor hover;
    QColor selected;
    QColor separator;
    QColor text;
    QColor muted;
    QColor faint;
    QColor secondary;
    QColor accent;
    QColor conflict;
};

// Read from the active group each time a row is painted, so a theme switch shows at once.
Colours coloursFor(const QPalette &palette);

// Rounds halves away from zero.
int nearest(double value);
// max(1, 16 × scale / 100), integer division.
int baseSize(int scalePercent);

QFont sansFont(int pixelSize, int weight, bool italic = false);
QFont monoFont(int pixelSize, int weight);

enum class Glyph { People, Cloud, Warning, AllNotes, Notebook, Trash };

// The glyph's outline in grid units (0..24 on both axes).
QPainterPath glyphPath(Glyph glyph);
// Strokes the glyph scaled into `target` with a round-capped pen of `penWidth` pixels, no fill.
void drawGlyph(QPainter *painter, Glyph glyph, const QRectF &target, const QColor &colour,
    qreal penWidth = 1.5);

} // namespace ListPainting
