#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// Where a top-level window goes so that all of it, title bar to status bar, is on a screen.
// Rectangles are client areas; `frame` is what the window manager adds around one.
namespace WindowPlacement {

// `preferred` where it fits `available` with the frame around it, otherwise shrunk to fit.
QSize fittedSize(const QSize &preferred, const QRect &available, const QMargins &frame);

// The fitted size, centred in `available`.
QRect initialGeometry(const QSize &preferred, const QRect &available, const QMargins &frame);

// A geometry restored from an earlier run. Kept when it lies wholly on one of the screens'
// available areas. Otherwise it goes to the screen it overlaps most, shrunk and moved just
// enough to fit; one that overlaps no screen (its monitor was unplugged) is centred on the
// primary screen.
QRect restoredGeometry(const QRect &geometry, const QList<QRect> &availableAreas,
    const QRect &primary, const QMargins &frame);

// An estimate of the frame before the window is shown: the style's title bar height on top.
QMargins estimatedFrame(const QWidget *window);

// Gives `window` (not yet shown) its first size on its screen, centred there when `centre`
// is set; otherwise the window manager picks the place.
void placeNew(QWidget *window, const QSize &preferred, bool centre);

// Moves `window` (not yet shown, its geometry just restored) onto the screens as they are now.
void keepOnScreen(QWidget *window);

} // namespace WindowPlacement
