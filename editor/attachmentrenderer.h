#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QTextObjectInterface>

class AttachmentRepository;

// What an inline attachment object shows: the picture for images, else a file chip.
struct AttachmentInfo
{
    QImage image; // already scaled; null for files and for images that could not be read
    QString filename; // empty when the row is unknown
    QString mimeType;
    bool isImage = false;
};

// Draws attachment objects: images at most MaximumImageWidth wide, other files (and
// attachments whose row or content is missing) as a chip with their name. Each attachment is
// read and decoded once per cache lifetime; the editor clears the cache when a note loads.
class AttachmentRenderer final : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
    Q_DISABLE_COPY_MOVE(AttachmentRenderer)

public:
    static constexpr int MaximumImageWidth = 560;
    static constexpr int ChipHeight = 36;
    static constexpr int MinimumChipWidth = 200;

    explicit AttachmentRenderer(AttachmentRepository *repository, QObject *parent = nullptr);

    // The info for an object value ("brevaro-notes://attachment/<id>" or a bare id).
    AttachmentInfo info(const QString &value);
    void clearCache();
    // The id inside an object value: the value without the reference prefix.
    static QString idFromValue(const QString &value);
    // The name a chip shows: the file name, or "Attachment" when it is unknown.
    static QString displayName(const AttachmentInfo &info);

    QSizeF intrinsicSize(
        QTextDocument *document, int positionInDocument, const QTextFormat &format) override;
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document,
        int positionInDocument, const QTextFormat &format) override;

private:
    static QImage decodeScaled(const QByteArray &bytes);
    // The widest a chip may be in this document, or 0 when the layout has no width yet.
    static qreal availableWidth(QTextDocument *document, int positionInDocument);

    AttachmentRepository *m_repository; // not owned
    QHash<QString, AttachmentInfo> m_cache;
    // Converted on first paint so that repaints only blit.
    QHash<QString, QPixmap> m_pixmaps;
};
