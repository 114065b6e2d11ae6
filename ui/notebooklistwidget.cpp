#include "notebooklistwidget.h"

#include "notebooklistdelegate.h"
#include "notelistwidget.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>

NotebookListWidget::NotebookListWidget(QWidget *parent) : QListWidget(parent)
{
    setItemDelegate(new NotebookListDelegate(this));
    setAccessibleName(tr("Notebooks"));
    setContextMenuPolicy(Qt::CustomContextMenu);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(true);

    connect(this, &QListWidget::itemClicked, this, &NotebookListWidget::onItemActivated);
    connect(this, &QWidget::customContextMenuRequested, this, &NotebookListWidget::onContextMenu);
}

QString NotebookListWidget::spokenRow(const QString &label, int count, bool shared)
{
    const QString notes = count == 1 ? tr("1 note") : tr("%1 notes").arg(count);
    return shared ? tr("%1, shared, %2").arg(label, notes) : tr("%1, %2").arg(label, notes);
}

QListWidgetItem *NotebookListWidget::addRow(Kind kind, const QString &label, int count)
{
    auto *item = new QListWidgetItem(label);
    item->setData(KindRole, int(kind));
    item->setData(CountRole, count);
    // The painter draws the count beside the label; a screen reader gets both in words.
    if (kind != NewNotebookKind)
        item->setData(Qt::AccessibleTextRole, spokenRow(label, count, false));
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (kind == AllNotesKind || kind == NotebookKind)
        flags |= Qt::ItemIsDropEnabled;
    item->setFlags(flags);
    addItem(item);
    return item;
}

void NotebookListWidget::setNotebooks(const QList<Notebook> &notebooks,
    const QMap<QString, int> &counts, const QString &currentNotebookId, int trashCount)
{
    const QSignalBlocker blocker(this);
    m_rowBeforeDrag = -1;
    clear();
    QListWidgetItem *current = addRow(AllNotesKind, tr("All Notes"), counts.value(QString()));
    QListWidgetItem *allNotes = current;
    for (const Notebook &notebook : notebooks) {
        if (notebook.deletedAt)
            continue;
        QListWidgetItem *item = addRow(NotebookKind, notebook.name, counts.value(notebook.id));
        item->setData(NotebookIdRole, notebook.id);
        item->setData(NameRole, notebook.name);
        item->setData(DefaultRole, notebook.isDefault);
        item->setData(SharedRole, notebook.isShared);
        if (notebook.isShared)
            item->setData(
                Qt::AccessibleTextRole, spokenRow(notebook.name, counts.value(notebook.id), true));
        item->setToolTip(notebook.name);
        if (!currentNotebookId.isEmpty() && notebook.id == currentNotebookId && current == allNotes)
            current = item;
    }
    addRow(TrashKind, tr("Trash"), trashCount);
    addRow(NewNotebookKind, tr("New Notebook…"), 0);
    setCurrentItem(current);
}

void NotebookListWidget::onItemActivated(QListWidgetItem *item)
{
    if (!item)
        return;
    switch (item->data(KindRole).toInt()) {
    case AllNotesKind:
        emit allNotesSelected();
        break;
    case NotebookKind:
        emit notebookSelected(item->data(NotebookIdRole).toString());
        break;
    case TrashKind:
        emit trashSelected();
        break;
    case NewNotebookKind:
        emit newNotebookRequested();
        break;
    default:
        break;
    }
}

void NotebookListWidget::keyPressEvent(QKeyEvent *event)
{
    // From the keyboard a row is chosen with Return; arrows only move through the rows. Not
    // through itemActivated: on some desktops a click activates too, and a click already chose
    // the row.
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && currentItem()) {
        onItemActivated(currentItem());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void NotebookListWidget::onContextMenu(const QPoint &pos)
{
    QListWidgetItem *item = itemAt(pos);
    if (item && item->data(KindRole).toInt() == NotebookKind)
        emit notebookContextMenuRequested(
            item->data(NotebookIdRole).toString(), viewport()->mapToGlobal(pos));
}

QListWidgetItem *NotebookListWidget::dropTargetAt(const QPoint &pos) const
{
    QListWidgetItem *item = itemAt(pos);
    if (!item)
        return nullptr;
    const int kind = item->data(KindRole).toInt();
    return kind == AllNotesKind || kind == NotebookKind ? item : nullptr;
}

void NotebookListWidget::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(NoteListWidget::NoteIdMimeType)) {
        m_rowBeforeDrag = currentRow();
        event->acceptProposedAction();
        return;
    }
    QListWidget::dragEnterEvent(event);
}

void NotebookListWidget::dragLeaveEvent(QDragLeaveEvent *event)
{
    restoreRowBeforeDrag();
    QListWidget::dragLeaveEvent(event);
}

void NotebookListWidget::restoreRowBeforeDrag()
{
    // The hover highlight of a drag is not a choice of notebook: put the real one back.
    if (m_rowBeforeDrag < 0)
        return;
    const QSignalBlocker blocker(this);
    if (m_rowBeforeDrag < count())
        setCurrentRow(m_rowBeforeDrag);
    m_rowBeforeDrag = -1;
}

void NotebookListWidget::dragMoveEvent(QDragMoveEvent *event)
{
    if (!event->mimeData()->hasFormat(NoteListWidget::NoteIdMimeType)) {
        event->ignore();
        return;
    }
    if (QListWidgetItem *target = dropTargetAt(event->position().toPoint())) {
        // Following the cursor shows where the note will land; the click signals stay quiet.
        const QSignalBlocker blocker(this);
        setCurrentItem(target);
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void NotebookListWidget::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    const QString noteId = mime->hasFormat(NoteListWidget::NoteIdMimeType)
        ? QString::fromUtf8(mime->data(NoteListWidget::NoteIdMimeType))
        : QString();
    QListWidgetItem *target = dropTargetAt(event->position().toPoint());
    if (!target || noteId.isEmpty()) {
        restoreRowBeforeDrag();
        event->ignore();
        return;
    }
    const QString notebookId = target->data(KindRole).toInt() == NotebookKind
        ? target->data(NotebookIdRole).toString()
        : QString();
    restoreRowBeforeDrag();
    event->acceptProposedAction();
    emit noteDroppedOnNotebook(noteId, notebookId);
}
