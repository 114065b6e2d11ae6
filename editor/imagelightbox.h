#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

class QGraphicsPixmapItem;
class QGraphicsScene;
class ZoomableView;

// A dark modal viewer for an attached image: fitted on first show, zoom with the wheel or
// +/-, 0 to fit again, 1 for actual size, Q or Escape to close.
class ImageLightbox final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ImageLightbox)

public:
    static constexpr qreal KeyZoomInFactor = 1.25;
    static constexpr qreal KeyZoomOutFactor = 0.8;

    ImageLightbox(const QImage &image, const QString &filename, QWidget *parent = nullptr);

    ZoomableView *view() const { return m_view; }
    // The view's current horizontal scale (1 = actual size).
    qreal zoom() const;
    void fitToView();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QGraphicsScene *m_scene = nullptr;
    QGraphicsPixmapItem *m_item = nullptr;
    ZoomableView *m_view = nullptr;
    bool m_fitted = false;
};
