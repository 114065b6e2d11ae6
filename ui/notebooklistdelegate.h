#pragma once

#include <QStyledItemDelegate>

// Paints one sidebar row: icon, label and note count. Sizes follow the process-wide font scale.
class NotebookListDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotebookListDelegate)

public:
    struct Sizes
    {
        int label = 0;
        int count = 0;
        int rowHeight = 0;
    };
    static Sizes sizesForScale(int scalePercent);

    explicit NotebookListDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
