#pragma once

#include <QObject>
#include <QTextObjectInterface>

// Draws divider objects as a thin rule across the text width in the secondary text colour.
class DividerRenderer final : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
    Q_DISABLE_COPY_MOVE(DividerRenderer)

public:
    explicit DividerRenderer(QObject *parent = nullptr);

    QSizeF intrinsicSize(
        QTextDocument *document, int positionInDocument, const QTextFormat &format) override;
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document,
        int positionInDocument, const QTextFormat &format) override;
};
