#include "imagelightbox.h"

#include "zoomableview.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

ImageLightbox::ImageLightbox(const QImage &image, const QString &filename, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Image"));
    setWindowFlags(windowFlags() | Qt::Dialog);
    setModal(true);
    setStyleSheet(QStringLiteral("QDialog { background-color: #0a0a0a; }"));

    m_scene = new QGraphicsScene(this);
    m_item = m_scene->addPixmap(QPixmap::fromImage(image));
    m_item->setTransformationMode(Qt::SmoothTransformation);
    m_scene->setSceneRect(m_item->boundingRect());
    m_view = new ZoomableView(m_scene, this);
    m_view->setAccessibleName(filename.isEmpty() ? tr("Image") : filename);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    const bool hasLabel = !filename.isEmpty();
    if (hasLabel) {
        // Plain text: a file name from sync or an import must not be read as markup.
        auto *label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setText(filename);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("QLabel { color: #cccccc; background-color: #0a0a0a; "
                                            "padding: 8px; font-size: 12px; }"));
        layout->addWidget(label);
    }

    QSize size = image.size() + (hasLabel ? QSize(16, 48) : QSize(16, 16));
    size = size.boundedTo(QSize(1400, 900));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        size = size.boundedTo(QSize(available.width() * 3 / 4, available.height() * 3 / 4));
    }
    size = size.expandedTo(QSize(480, 360));
    resize(size);
}

qreal ImageLightbox::zoom() const
{
    return m_view->transform().m11();
}

void ImageLightbox::fitToView()
{
    m_view->resetTransform();
    m_view->fitInView(m_item, Qt::KeepAspectRatio);
}

void ImageLightbox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_fitted) {
        m_fitted = true;
        fitToView();
    }
}

void ImageLightbox::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        m_view->scale(KeyZoomInFactor, KeyZoomInFactor);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        m_view->scale(KeyZoomOutFactor, KeyZoomOutFactor);
        break;
    case Qt::Key_0:
        fitToView();
        break;
    case Qt::Key_1:
        m_view->resetTransform();
        break;
    case Qt::Key_Q:
    case Qt::Key_Escape:
        accept();
        break;
    default:
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
}
