#pragma once

#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

// The paperclip that marks attachments. It is the glyph U+1F4CE where a font on the system
// has it; elsewhere the same mark is drawn as lines, never as a missing-glyph box.
namespace Paperclip {

QString glyph();
// Whether text in `font` (with the system's fallback fonts) can show the glyph.
bool glyphAvailable(const QFont &font);
// Draws the mark centred in `box` with the painter's pen colour.
void draw(QPainter &painter, const QRectF &box);

} // namespace Paperclip
