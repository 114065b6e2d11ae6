#pragma once

#include <QColor>

// Colours of the note document that follow the application palette. The palette counts as dark
// when its window colour is no lighter (HSL) than "#1E1E1E".
bool isDarkPalette();

namespace DocumentPalette {

QColor secondaryTextColor(); // code-block text, heading 6
QColor codeBlockBackground();
QColor inlineCodeTextColor();
QColor inlineCodeBackground();
QColor linkColor(); // the same in both palettes
QColor tableBorderColor(); // derived from the palette's base colour
QColor tableHeaderBackground(); // the palette's alternate-base colour (active group)

} // namespace DocumentPalette
