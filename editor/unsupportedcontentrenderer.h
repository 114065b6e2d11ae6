#pragma once

#include <QObject>
#include <QTextObjectInterface>

// Draws embeds the editor cannot show (an unknown kind, a table it does not build) as a small
// "Unsupported content" chip, so the user sees that something is there and kept.
class UnsupportedContentRenderer final : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
    Q_DISABLE_COPY_MOVE(UnsupportedContentRenderer)

public:
    explicit UnsupportedContentRenderer(QObject *parent = nullptr);

    // The chip's text for one object: names the kind where it helps ("table").
    static QString label(const QTextFormat &format);

    QSizeF intrinsicSize(
        QTextDocument *document, int positionInDocument, const QTextFormat &format) override;
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document,
        int positionInDocument, const QTextFormat &format) override;
};
