#pragma once

#include <QStyledItemDelegate>

// Paints one note row: title, preview, relative date and notebook name, with the shared,
// pending and conflict badges. Sizes follow the process-wide font scale.
class NoteListDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteListDelegate)

public:
    struct Sizes
    {
        int title = 0;
        int preview = 0;
        int date = 0;
        int notebook = 0;
        int rowHeight = 0;
    };
    static Sizes sizesForScale(int scalePercent);

    explicit NoteListDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
