#pragma once

#include "notebook.h"

#include <QListWidget>
#include <QMap>

// The sidebar: "All Notes", the notebooks, "Trash" and "New Notebook…". Holds display copies
// only; the main window refills it and a note dragged from the note list can be dropped on
// "All Notes" or a notebook to move it.
class NotebookListWidget final : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotebookListWidget)

public:
    enum Kind { AllNotesKind = 0, NotebookKind = 1, TrashKind = 2, NewNotebookKind = 3 };

    // Item data roles, counted from Qt::UserRole.
    enum Role {
        KindRole = Qt::UserRole,
        NotebookIdRole,
        NameRole,
        CountRole,
        DefaultRole,
        SharedRole,
    };

    explicit NotebookListWidget(QWidget *parent = nullptr);

    // `counts` maps notebook ids to their number of notes, with the total of all notes that
    // are not in the trash under the empty id.
    void setNotebooks(const QList<Notebook> &notebooks, const QMap<QString, int> &counts,
        const QString &currentNotebookId, int trashCount);

signals:
    void allNotesSelected();
    void notebookSelected(const QString &notebookId);
    void trashSelected();
    void newNotebookRequested();
    void notebookContextMenuRequested(const QString &notebookId, const QPoint &globalPos);
    void noteDroppedOnNotebook(const QString &noteId, const QString &targetNotebookId);

public slots:
    void onItemActivated(QListWidgetItem *item);
    void onContextMenu(const QPoint &pos);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void restoreRowBeforeDrag();

    QListWidgetItem *addRow(Kind kind, const QString &label, int count);
    // The row as a screen reader says it: the label, the drawn count and shared dots in words.
    static QString spokenRow(const QString &label, int count, bool shared);
    // The row under `pos` when it accepts notes (kind 0 or 1), else null.
    QListWidgetItem *dropTargetAt(const QPoint &pos) const;

    int m_rowBeforeDrag = -1;
};
