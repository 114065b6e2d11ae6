#pragma once

#include <QRectF>

class QPainter;
class QPalette;
class QTextBlock;
class QTextEdit;

// Check boxes drawn the same everywhere: a rounded box in the control outline colour, filled
// with the highlight colour and ticked when checked. The text layout's own marker is a cross,
// which reads as "cancelled"; an editor given to install() gets these boxes drawn over it.
namespace CheckboxMarkers {

void paintCheckBox(QPainter *painter, const QRectF &box, bool checked, const QPalette &palette,
    bool enabled = true);

// The square the text layout gives a checkbox item's marker, in document coordinates; empty
// for a block without a checkbox marker.
QRectF markerRect(const QTextBlock &block);

// Paints the checkbox items of the editor after the editor itself painted; once per editor.
void install(QTextEdit *editor);

} // namespace CheckboxMarkers
