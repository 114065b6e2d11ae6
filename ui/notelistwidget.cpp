#include "notelistwidget.h"

#include "backgroundrelease.h"
#include "documentpalette.h"
#include "fontscale.h"
#include "notelistdelegate.h"
#include "notetext.h"
#include "searchtext.h"
#include "storagetime.h"

#include <QAbstractListModel>
#include <QHash>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

#include <utility>

const QString NoteListWidget::NoteIdMimeType = QStringLiteral("application/x-brevaro-note-id");

// Rows over a list of notes, or of list entries whose bodies are fetched on demand. Everything
// derived from a body is computed on first use and kept per note id together with the state it
// came from, so a refill re-parses only changed notes, and only when they are shown.
class NoteListModel final : public QAbstractListModel
{
public:
    explicit NoteListModel(QObject *parent) : QAbstractListModel(parent) { }

    void setNotes(const QList<Note> &notes)
    {
        beginResetModel();
        QList<Note> previous = std::exchange(m_notes, notes);
        QList<NoteListEntry> previousEntries = std::exchange(m_entries, {});
        m_entryMode = false;
        resetCaches();
        endResetModel();
        releaseInBackground(std::move(previous));
        releaseInBackground(std::move(previousEntries));
    }

    void setEntries(const QList<NoteListEntry> &entries)
    {
        beginResetModel();
        QList<NoteListEntry> previous = std::exchange(m_entries, entries);
        QList<Note> previousNotes = std::exchange(m_notes, {});
        m_entryMode = true;
        resetCaches();
        endResetModel();
        releaseInBackground(std::move(previous));
        releaseInBackground(std::move(previousNotes));
    }

    void setPlainTextLoader(NoteListWidget::PlainTextLoader loader)
    {
        m_loader = std::move(loader);
    }

    // Returns whether the terms changed. Titles and plain previews stay cached; the passages
    // are found again as rows are shown.
    bool setMatchTerms(const QStringList &terms)
    {
        if (terms == m_terms)
            return false;
        m_terms = terms;
        ++m_termsGeneration;
        return true;
    }

    int size() const { return int(m_entryMode ? m_entries.size() : m_notes.size()); }

    void setScreenRows(int rows) { m_screenRows = qMax(1, rows); }

    const QString &idAt(qsizetype row) const
    {
        return m_entryMode ? m_entries.at(row).id : m_notes.at(row).id;
    }

    void setNotebookNameResolver(std::function<QString(const QString &)> resolver)
    {
        m_resolver = std::move(resolver);
        forgetNotebookNames();
    }

    void forgetNotebookNames()
    {
        m_notebookNames.clear();
        if (size() > 0)
            emit dataChanged(index(0), index(size() - 1), { NoteListWidget::NotebookNameRole });
    }

    // Searches outwards from `hint`: after an autosave a note is found within a row or two of
    // where it was, and a full scan of 100,000 notes costs milliseconds of cache misses.
    int rowOf(const QString &noteId, int hint = 0) const
    {
        const qsizetype count = size();
        if (noteId.isEmpty() || count == 0)
            return -1;
        const qsizetype start = qBound(qsizetype(0), qsizetype(hint), count - 1);
        for (qsizetype distance = 0; distance < count; ++distance) {
            const qsizetype below = start + distance;
            const qsizetype above = start - distance;
            if (below >= count && above < 0)
                break;
            if (below < count && idAt(below) == noteId)
                return int(below);
            if (distance > 0 && above >= 0 && idAt(above) == noteId)
                return int(above);
        }
        return -1;
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : size();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= size())
            return QVariant();
        const int row = index.row();
        switch (role) {
        case NoteListWidget::NoteIdRole:
            return idAt(row);
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
        case NoteListWidget::TitleRole:
            return derived(row).displayTitle;
        case NoteListWidget::PreviewRole:
            return m_terms.isEmpty() ? derived(row).preview : searched(row).matchPreview;
        case NoteListWidget::PreviewMatchesRole: {
            QVariantList matches;
            if (m_terms.isEmpty())
                return matches;
            for (const TextMatch &match : searched(row).previewMatches)
                matches.append(QPoint(int(match.start), int(match.length)));
            return matches;
        }
        case NoteListWidget::UpdatedAtRole:
            return m_entryMode ? fromStorageTime(m_entries.at(row).updatedAt)
                               : m_notes.at(row).updatedAt;
        case NoteListWidget::NotebookNameRole:
            return notebookName(
                m_entryMode ? m_entries.at(row).notebookId : m_notes.at(row).notebookId);
        case NoteListWidget::UntitledRole:
            return derived(row).untitled;
        case NoteListWidget::SharedRole:
            return m_entryMode ? m_entries.at(row).isShared : m_notes.at(row).isShared;
        case NoteListWidget::SyncStatusRole:
            return int(m_entryMode ? m_entries.at(row).syncStatus : m_notes.at(row).syncStatus);
        case Qt::AccessibleTextRole:
            return accessibleText(index);
        default:
            return QVariant();
        }
    }

    // The row as a screen reader says it: everything the painter draws, badges in words.
    QString accessibleText(const QModelIndex &index) const
    {
        QStringList parts { index.data(NoteListWidget::TitleRole).toString() };
        const QString preview = index.data(NoteListWidget::PreviewRole).toString();
        if (!preview.isEmpty())
            parts << preview;
        const QString date
            = formatRelativeDate(index.data(NoteListWidget::UpdatedAtRole).toDateTime());
        if (!date.isEmpty())
            parts << date;
        const QString notebook = index.data(NoteListWidget::NotebookNameRole).toString();
        if (!notebook.isEmpty())
            parts << notebook;
        if (index.data(NoteListWidget::SharedRole).toBool())
            parts << NoteListWidget::tr("Shared");
        const auto status = SyncStatus(index.data(NoteListWidget::SyncStatusRole).toInt());
        if (status == SyncStatus::Pending)
            parts << NoteListWidget::tr("Not synced yet");
        else if (status == SyncStatus::Conflict)
            parts << NoteListWidget::tr("Sync conflict");
        return parts.join(QStringLiteral(", "));
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
    // Rows whose bodies are fetched together with a missing one: the screen it starts and a
    // few more on either side. A first screenful reads no more than it shows.
    static constexpr int kFetchMargin = 3;
    // Plain texts kept for passages of rows not yet painted: a few fetches' worth.
    static constexpr int kPlainTextsKept = 256;

    void resetCaches()
    {
        m_plainTexts.clear();
        // Entries of notes that left the list would pile up over a long session.
        if (m_derived.size() > size() + 1024)
            m_derived.clear();
    }

    struct Derived
    {
        // What the rest was derived from: a body (notes), or an entry's body state (entries).
        QString body;
        NoteListEntry state;
        bool fromEntry = false;
        QString displayTitle;
        QString preview;
        bool untitled = false;
        // While a search is shown: the passage where it matches and the matches in it, for the
        // terms of `matchGeneration`.
        int matchGeneration = -1;
        QString matchPreview;
        QList<TextMatch> previewMatches;
    };

    void derive(Derived &d, const QString &plain) const
    {
        const QString title = titleFromPlainText(plain);
        const QString preview = previewFromPlainText(plain);
        d.untitled = title.isEmpty();
        if (d.untitled) {
            d.displayTitle = preview.isEmpty() ? NoteListWidget::tr("Untitled") : preview;
            d.preview.clear();
        } else {
            d.displayTitle = title;
            d.preview = preview;
        }
        d.matchGeneration = -1;
    }

    void findPassage(Derived &d, const QString &plain) const
    {
        d.matchGeneration = m_termsGeneration;
        d.matchPreview = d.preview;
        d.previewMatches.clear();
        // The text under the title line: where it matches is what the preview shows. An
        // untitled row shows its text as the title and has no preview line but this one.
        QString rest = plain;
        if (!d.untitled) {
            const qsizetype feed = plain.indexOf(QLatin1Char('\n'));
            rest = feed < 0 ? QString() : plain.mid(feed + 1);
        }
        Passage passage = passageOf(rest, m_terms);
        if (passage.matches.isEmpty()) {
            // A phrase may still match across the line breaks the preview joins.
            d.previewMatches = findMatches(d.matchPreview, m_terms);
            return;
        }
        d.matchPreview = std::move(passage.text);
        d.previewMatches = std::move(passage.matches);
    }

    // Only rows that are painted get here: a search of thousands of notes reads the dozen bodies
    // on screen, in one query.
    const Derived &searched(int row) const
    {
        const Derived &base = derived(row);
        if (base.matchGeneration == m_termsGeneration)
            return base;
        Derived &d = m_derived[idAt(row)];
        if (!m_entryMode) {
            findPassage(d, bodyPlainText(m_notes.at(row).body));
            return d;
        }
        const QString id = idAt(row);
        if (!m_plainTexts.contains(id))
            keepPlainTextsAround(row);
        const auto kept = m_plainTexts.constFind(id);
        if (kept != m_plainTexts.constEnd()) {
            findPassage(d, kept.value());
            m_plainTexts.erase(kept);
        } else {
            findPassage(d, m_loader ? m_loader({ id }).value(id) : QString());
        }
        return d;
    }

    // Rows derived before this search (an earlier search, the plain list) have titles but no
    // text to find passages in: theirs are read for the rows around `row` together.
    void keepPlainTextsAround(int row) const
    {
        if (!m_loader)
            return;
        QStringList ids;
        const int first = qMax(0, row - kFetchMargin);
        const int last = qMin(size() - 1, row + m_screenRows + kFetchMargin);
        for (int r = first; r <= last; ++r) {
            const NoteListEntry &entry = m_entries.at(r);
            const auto it = m_derived.constFind(entry.id);
            if (r == row
                || (it != m_derived.constEnd() && isCurrent(entry)
                    && it->matchGeneration != m_termsGeneration
                    && !m_plainTexts.contains(entry.id)))
                ids.append(entry.id);
        }
        const QHash<QString, QString> texts = m_loader(ids);
        for (auto it = texts.constBegin(); it != texts.constEnd(); ++it)
            keepPlainText(it.key(), it.value());
    }

    void keepPlainText(const QString &id, const QString &plain) const
    {
        if (m_plainTexts.size() >= kPlainTextsKept)
            m_plainTexts.clear();
        m_plainTexts.insert(id, plain);
    }

    bool isCurrent(const NoteListEntry &entry) const
    {
        const auto it = m_derived.constFind(entry.id);
        return it != m_derived.constEnd() && it->fromEntry && it->state.sameBodyState(entry);
    }

    const Derived &derived(int row) const
    {
        if (m_entryMode)
            return derivedEntry(row);
        const Note &note = m_notes.at(row);
        auto it = m_derived.find(note.id);
        if (it != m_derived.end() && !it->fromEntry) {
            // Same storage means same text; a body read again from the database compares equal.
            if (it->body.constData() == note.body.constData() || it->body == note.body) {
                it->body = note.body;
                return *it;
            }
        } else if (it == m_derived.end()) {
            it = m_derived.insert(note.id, Derived());
        }
        it->fromEntry = false;
        it->state = NoteListEntry();
        it->body = note.body;
        derive(*it, bodyPlainText(note.body));
        return *it;
    }

    const Derived &derivedEntry(int row) const
    {
        const NoteListEntry &entry = m_entries.at(row);
        if (isCurrent(entry))
            return *m_derived.constFind(entry.id);
        // One query for the rows around this one: painting a screen asks row after row.
        QStringList ids;
        QList<int> rows;
        const int first = qMax(0, row - kFetchMargin);
        const int last = qMin(size() - 1, row + m_screenRows + kFetchMargin);
        for (int r = first; r <= last; ++r) {
            if (r == row || !isCurrent(m_entries.at(r))) {
                ids.append(m_entries.at(r).id);
                rows.append(r);
            }
        }
        const QHash<QString, QString> texts = m_loader ? m_loader(ids) : QHash<QString, QString>();
        for (int r : std::as_const(rows)) {
            const NoteListEntry &e = m_entries.at(r);
            Derived &d = m_derived[e.id];
            d.fromEntry = true;
            d.state = e;
            d.body.clear();
            const QString plain = texts.value(e.id);
            derive(d, plain);
            // A search list finds its passages in this text when the row is painted, rather than
            // reading and rendering the body a second time. Bounded, and dropped with the fill.
            if (!m_terms.isEmpty())
                keepPlainText(e.id, plain);
        }
        return *m_derived.constFind(entry.id);
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
    QList<NoteListEntry> m_entries;
    bool m_entryMode = false;
    NoteListWidget::PlainTextLoader m_loader;
    std::function<QString(const QString &)> m_resolver;
    mutable QHash<QString, Derived> m_derived;
    // The plain text of rows derived while a search is shown, until they are painted.
    mutable QHash<QString, QString> m_plainTexts;
    QStringList m_terms;
    int m_termsGeneration = 0;
    int m_screenRows = 16;
    mutable QHash<QString, QString> m_notebookNames;
};

NoteListWidget::NoteListWidget(QWidget *parent)
    : QListView(parent), m_model(new NoteListModel(this))
{
    setModel(m_model);
    setItemDelegate(new NoteListDelegate(this));
    setAccessibleName(tr("Notes"));
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
    refill([this, &notes] { m_model->setNotes(notes); });
}

void NoteListWidget::setEntries(const QList<NoteListEntry> &entries)
{
    refill([this, &entries] { m_model->setEntries(entries); });
}

void NoteListWidget::setMatchTerms(const QStringList &terms)
{
    // Only what the rows show changes, not their size: the rows on screen are painted again.
    // A dataChanged over every row would have the view lay out the whole list once more
    // (a millisecond at 10,000 notes), just before a search replaces it anyway.
    if (m_model->setMatchTerms(terms))
        viewport()->update();
}

void NoteListWidget::setPlainTextLoader(PlainTextLoader loader)
{
    m_model->setPlainTextLoader(std::move(loader));
}

void NoteListWidget::refill(const std::function<void()> &replace)
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
        replace();
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

void NoteListWidget::notebookNamesChanged()
{
    m_model->forgetNotebookNames();
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
    return m_model->idAt(row);
}

int NoteListWidget::rowOfNote(const QString &noteId) const
{
    return m_model->rowOf(noteId);
}

void NoteListWidget::setEmptyText(const QString &text)
{
    if (text == m_emptyText)
        return;
    m_emptyText = text;
    viewport()->update();
}

void NoteListWidget::paintEvent(QPaintEvent *event)
{
    m_model->setScreenRows(viewport()->height()
            / qMax(1, NoteListDelegate::sizesForScale(FontScale::percent()).rowHeight)
        + 1);
    QListView::paintEvent(event);
    if (m_emptyText.isEmpty() || m_model->rowCount() > 0)
        return;
    QPainter painter(viewport());
    painter.setPen(DocumentPalette::secondaryTextColor());
    const QRect area = viewport()->rect().adjusted(16, 24, -16, -16);
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_emptyText);
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
