#pragma once

#include <QColor>

class QPalette;

// Colours of the note document that follow the application palette. The palette counts as dark
// when its window colour is no lighter (HSL) than "#1E1E1E".
bool isDarkPalette();

namespace DocumentPalette {

QColor secondaryTextColor(); // code-block text, heading 6
QColor codeBlockBackground();
QColor inlineCodeTextColor();
QColor inlineCodeBackground();
QColor linkColor(); // a lighter blue on the dark palette, where the light one is unreadable
QColor tableBorderColor(); // derived from the palette's base colour
QColor tableHeaderBackground(); // the palette's alternate-base colour (active group)

// Outlines of check boxes, radio buttons and fields: the base colour blended 60 % towards the
// text colour, which keeps at least 3:1 against the base in both palettes. A ticked box is
// filled with the highlight colour and ticked in the highlighted-text colour.
QColor controlOutline(const QPalette &palette);
// `from` moved `amount` (0 to 1) of the way towards `to`, channel by channel.
QColor blend(const QColor &from, const QColor &to, qreal amount);

} // namespace DocumentPalette
