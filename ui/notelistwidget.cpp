#include "notelistwidget.h"

#include "notelistdelegate.h"
#include "notetext.h"

#include <QAbstractListModel>
#include <QHash>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QThreadPool>

#include <utility>

const QString NoteListWidget::NoteIdMimeType = QStringLiteral("application/x-brevaro-note-id");

// Rows over a list of notes. Everything derived from a body is computed on first use and kept
// per note id together with the body it came from, so a refill re-parses only changed notes,
// and only when they are shown.
class NoteListModel final : public QAbstractListModel
{
public:
    explicit NoteListModel(QObject *parent) : QAbstractListModel(parent) { }

    void setNotes(const QList<Note> &notes)
    {
        beginResetModel();
        QList<Note> previous = std::exchange(m_notes, notes);
        // Names may have changed since the last fill; the resolver is asked again lazily.
        m_notebookNames.clear();
        // Entries of notes that left the list would pile up over a long session.
        if (m_derived.size() > m_notes.size() + 1024)
            m_derived.clear();
        endResetModel();
        release(std::move(previous));
    }

    const QList<Note> &notes() const { return m_notes; }

    void setNotebookNameResolver(std::function<QString(const QString &)> resolver)
    {
        m_resolver = std::move(resolver);
        m_notebookNames.clear();
        if (!m_notes.isEmpty())
            emit dataChanged(
                index(0), index(int(m_notes.size()) - 1), { NoteListWidget::NotebookNameRole });
    }

    // Searches outwards from `hint`: after an autosave a note is found within a row or two of
    // where it was, and a full scan of 100,000 notes costs milliseconds of cache misses.
    int rowOf(const QString &noteId, int hint = 0) const
    {
        const qsizetype size = m_notes.size();
        if (noteId.isEmpty() || size == 0)
            return -1;
        const qsizetype start = qBound(qsizetype(0), qsizetype(hint), size - 1);
        for (qsizetype distance = 0; distance < size; ++distance) {
            const qsizetype below = start + distance;
            const qsizetype above = start - distance;
            if (below >= size && above < 0)
                break;
            if (below < size && m_notes.at(below).id == noteId)
                return int(below);
            if (distance > 0 && above >= 0 && m_notes.at(above).id == noteId)
                return int(above);
        }
        return -1;
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_notes.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_notes.size())
            return QVariant();
        const Note &note = m_notes.at(index.row());
        switch (role) {
        case NoteListWidget::NoteIdRole:
            return note.id;
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
        case NoteListWidget::TitleRole:
            return derived(note).displayTitle;
        case NoteListWidget::PreviewRole:
            return derived(note).preview;
        case NoteListWidget::UpdatedAtRole:
            return note.updatedAt;
        case NoteListWidget::NotebookNameRole:
            return notebookName(note.notebookId);
        case NoteListWidget::UntitledRole:
            return derived(note).untitled;
        case NoteListWidget::SharedRole:
            return note.isShared;
        case NoteListWidget::SyncStatusRole:
            return int(note.syncStatus);
        default:
            return QVariant();
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
            | Qt::ItemNeverHasChildren;
    }

    QStringList mimeTypes() const override { return { NoteListWidget::NoteIdMimeType }; }

    QMimeData *mimeData(const QModelIndexList &indexes) const override
    {
        if (indexes.isEmpty() || !indexes.first().isValid())
            return nullptr;
        auto *mime = new QMimeData;
        mime->setData(NoteListWidget::NoteIdMimeType,
            indexes.first().data(NoteListWidget::NoteIdRole).toString().toUtf8());
        return mime;
    }

    Qt::DropActions supportedDragActions() const override
    {
        return Qt::MoveAction | Qt::CopyAction;
    }

private:
    // Freeing the last copy of a large collection's bodies takes tens of milliseconds; a pool
    // thread pays for it instead of the frame that shows the refreshed list. Reference counts
    // are atomic, so copies still held here stay valid.
    static void release(QList<Note> &&notes)
    {
        if (notes.size() < 2000 || !notes.isDetached()) {
            notes.clear();
            return;
        }
        QThreadPool::globalInstance()->start(
            [notes = std::move(notes)]() mutable { notes.clear(); });
    }

    struct Derived
    {
        QString body; // what the rest was derived from
        QString displayTitle;
        QString preview;
        bool untitled = false;
    };

    const Derived &derived(const Note &note) const
    {
        auto it = m_derived.find(note.id);
        if (it != m_derived.end()) {
            // Same storage means same text; a body read again from the database compares equal.
            if (it->body.constData() == note.body.constData() || it->body == note.body) {
                it->body = note.body;
                return *it;
            }
        } else {
            it = m_derived.insert(note.id, Derived());
        }
        const NoteSummary summary = noteSummary(note.body);
        it->body = note.body;
        it->untitled = summary.title.isEmpty();
        if (it->untitled) {
            it->displayTitle
                = summary.preview.isEmpty() ? NoteListWidget::tr("Untitled") : summary.preview;
            it->preview.clear();
        } else {
            it->displayTitle = summary.title;
            it->preview = summary.preview;
        }
        return *it;
    }

    QString notebookName(const QString &notebookId) const
    {
        if (notebookId.isEmpty() || !m_resolver)
            return QString();
        auto it = m_notebookNames.constFind(notebookId);
        if (it == m_notebookNames.constEnd())
            it = m_notebookNames.insert(notebookId, m_resolver(notebookId));
        return *it;
    }

    QList<Note> m_notes;
    std::function<QString(const QString &)> m_resolver;
    mutable QHash<QString, Derived> m_derived;
    mutable QHash<QString, QString> m_notebookNames;
};

NoteListWidget::NoteListWidget(QWidget *parent)
    : QListView(parent), m_model(new NoteListModel(this))
{
    setModel(m_model);
    setItemDelegate(new NoteListDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(true);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::MoveAction);

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex &current) {
            if (current.isValid())
                emit noteSelected(current.data(NoteIdRole).toString());
        });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            emit noteDoubleClicked(index.data(NoteIdRole).toString());
    });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex index = indexAt(pos);
        if (index.isValid())
            emit noteContextMenuRequested(
                index.data(NoteIdRole).toString(), viewport()->mapToGlobal(pos));
    });
}

NoteListWidget::~NoteListWidget() = default;

void NoteListWidget::setNotes(const QList<Note> &notes)
{
    const QString currentId = currentNoteId();
    const int currentHint = currentRow();
    QString topId;
    int topHint = 0;
    int topOffset = 0;
    const QModelIndex top = indexAt(QPoint(0, 0));
    if (top.isValid()) {
        topId = top.data(NoteIdRole).toString();
        topHint = top.row();
        topOffset = visualRect(top).top();
    }
    int row = -1;
    {
        const QSignalBlocker blocker(this);
        m_model->setNotes(notes);
        row = m_model->rowOf(currentId, currentHint);
        if (row >= 0) {
            // Scrolling to the current row would only be undone below.
            const bool autoScrolls = hasAutoScroll();
            setAutoScroll(false);
            selectionModel()->setCurrentIndex(
                m_model->index(row), QItemSelectionModel::ClearAndSelect);
            setAutoScroll(autoScrolls);
        }
    }

    const int topRow = m_model->rowOf(topId, topHint);
    if (topRow < 0) {
        if (row >= 0)
            scrollTo(m_model->index(row));
        return;
    }
    // The reset only schedules a relayout; scrolling needs the new geometry now.
    executeDelayedItemsLayout();
    scrollTo(m_model->index(topRow), QAbstractItemView::PositionAtTop);
    if (topOffset < 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() - topOffset);
}

const QList<Note> &NoteListWidget::notes() const
{
    return m_model->notes();
}

void NoteListWidget::selectNote(const QString &noteId)
{
    const int row = m_model->rowOf(noteId);
    if (row >= 0)
        setCurrentRow(row);
}

QString NoteListWidget::currentNoteId() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.data(NoteIdRole).toString() : QString();
}

void NoteListWidget::setNotebookNameResolver(
    std::function<QString(const QString &notebookId)> resolver)
{
    m_model->setNotebookNameResolver(std::move(resolver));
}

int NoteListWidget::count() const
{
    return m_model->rowCount();
}

int NoteListWidget::currentRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void NoteListWidget::setCurrentRow(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clearCurrentIndex();
        clearSelection();
        return;
    }
    // The view's auto-scroll brings the row into sight once it is shown.
    selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
}

QString NoteListWidget::noteIdAt(int row) const
{
    if (row < 0 || row >= m_model->rowCount())
        return QString();
    return m_model->notes().at(row).id;
}

int NoteListWidget::rowOfNote(const QString &noteId) const
{
    return m_model->rowOf(noteId);
}

void NoteListWidget::keyPressEvent(QKeyEvent *event)
{
    const QString id = currentNoteId();
    if (!id.isEmpty()) {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            emit noteActivated(id);
            event->accept();
            return;
        case Qt::Key_Delete:
            emit noteDeleteRequested(id);
            event->accept();
            return;
        default:
            break;
        }
    }
    QListView::keyPressEvent(event);
}
