#pragma once

#include <QGraphicsView>

// A graphics view that zooms with the mouse wheel around the pointer.
class ZoomableView final : public QGraphicsView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZoomableView)

public:
    static constexpr qreal WheelZoomFactor = 1.15;

    explicit ZoomableView(QGraphicsScene *scene, QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *event) override;
};
