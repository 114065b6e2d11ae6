#include "windowplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace WindowPlacement {

namespace {

QRect centred(const QSize &size, const QRect &available, const QMargins &frame)
{
    QRect framed(QPoint(0, 0), size.grownBy(frame));
    framed.moveCenter(available.center());
    // An odd leftover pixel must not push the frame past the top or left edge.
    framed.moveTopLeft(
        QPoint(qMax(framed.left(), available.left()), qMax(framed.top(), available.top())));
    return framed.marginsRemoved(frame);
}

qint64 overlap(const QRect &a, const QRect &b)
{
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

} // namespace

QSize fittedSize(const QSize &preferred, const QRect &available, const QMargins &frame)
{
    const QSize room = available.marginsRemoved(frame).size();
    return preferred.boundedTo(room).expandedTo(QSize(1, 1));
}

QRect initialGeometry(const QSize &preferred, const QRect &available, const QMargins &frame)
{
    return centred(fittedSize(preferred, available, frame), available, frame);
}

QRect restoredGeometry(const QRect &geometry, const QList<QRect> &availableAreas,
    const QRect &primary, const QMargins &frame)
{
    const QRect framed = geometry.marginsAdded(frame);
    QRect best;
    qint64 bestOverlap = 0;
    for (const QRect &area : availableAreas) {
        if (area.contains(framed))
            return geometry;
        const qint64 shared = overlap(area, framed);
        if (shared > bestOverlap) {
            bestOverlap = shared;
            best = area;
        }
    }
    if (bestOverlap == 0)
        return centred(fittedSize(geometry.size(), primary, frame), primary, frame);

    // Partly on a screen: the smallest move that brings all of it onto that screen.
    QRect moved(framed.topLeft(), fittedSize(geometry.size(), best, frame).grownBy(frame));
    if (moved.right() > best.right())
        moved.moveRight(best.right());
    if (moved.bottom() > best.bottom())
        moved.moveBottom(best.bottom());
    if (moved.left() < best.left())
        moved.moveLeft(best.left());
    if (moved.top() < best.top())
        moved.moveTop(best.top());
    return moved.marginsRemoved(frame);
}

QMargins estimatedFrame(const QWidget *window)
{
    const int titleBar = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return QMargins(0, qMax(0, titleBar), 0, 0);
}

void placeNew(QWidget *window, const QSize &preferred, bool centre)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        window->resize(preferred);
        return;
    }
    const QMargins frame = estimatedFrame(window);
    if (centre)
        window->setGeometry(initialGeometry(preferred, screen->availableGeometry(), frame));
    else
        window->resize(fittedSize(preferred, screen->availableGeometry(), frame));
}

void keepOnScreen(QWidget *window)
{
    QScreen *primary = QGuiApplication::primaryScreen();
    // A maximized or full-screen window is sized by the window manager on its own screen.
    if (!primary || (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    const QRect placed = restoredGeometry(
        window->geometry(), areas, primary->availableGeometry(), estimatedFrame(window));
    if (placed != window->geometry())
        window->setGeometry(placed);
}

} // namespace WindowPlacement
