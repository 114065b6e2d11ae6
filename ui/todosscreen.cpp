#include "todosscreen.h"

#include "appstate.h"
#include "noterepository.h"
#include "notetext.h"
#include "notewriter.h"
#include "screenhelpers.h"
#include "storagetime.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// notesChanged arrives after every autosave; gather a burst into one refresh.
constexpr int RefreshDelayMs = 250;

const QColor CompletedColour(QStringLiteral("#9E9E9E"));

// A note shared with the user without edit permission is read-only everywhere, here too.
bool isReadOnlyForUser(const Note &note)
{
    return !note.ownerId.isEmpty() && note.permission != QLatin1String("edit");
}

// Rows with room around the check box and the text at every font scale: the default rows are
// exactly as tall as the text, which clips a check box that grows with the scale.
class TaskRowDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QStyle *style = option.widget ? option.widget->style() : nullptr;
        const int indicator
            = style ? style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget) : 16;
        const int padding = option.fontMetrics.height() / 2;
        size.setHeight(qMax(size.height(), indicator) + padding);
        return size;
    }
};

} // namespace

bool TodosScreen::Row::operator==(const Row &other) const
{
    return text == other.text && noteId == other.noteId && taskId == other.taskId
        && updatedAt == other.updatedAt && lineIndex == other.lineIndex && source == other.source
        && completed == other.completed && checkable == other.checkable;
}

TodosScreen::TodosScreen(AppState *appState, QWidget *parent)
    : QWidget(parent),
      m_appState(appState),
      m_sortCombo(new QComboBox(this)),
      m_showCompleted(new QCheckBox(tr("Show Completed"), this)),
      m_filterEdit(new QLineEdit(this)),
      m_list(new QListWidget(this))
{
    m_sortCombo->setObjectName(QStringLiteral("sortCombo"));
    m_sortCombo->addItem(tr("Note Updated"), QStringLiteral("updated"));
    m_sortCombo->addItem(tr("Alphabetical"), QStringLiteral("alpha"));
    m_sortCombo->setCurrentIndex(0);
    m_showCompleted->setObjectName(QStringLiteral("showCompletedCheck"));
    m_showCompleted->setChecked(false);
    m_filterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_filterEdit->setPlaceholderText(tr("Filter tasks..."));
    m_filterEdit->setAccessibleName(tr("Filter tasks"));
    m_filterEdit->setClearButtonEnabled(true);
    ScreenHelpers::nameClearButton(m_filterEdit);
    m_filterEdit->setMaximumWidth(200);
    m_list->setObjectName(QStringLiteral("taskList"));
    m_list->setAccessibleName(tr("Tasks"));
    m_list->setWordWrap(true);
    m_list->setItemDelegate(new TaskRowDelegate(m_list));
    // Thousands of wrapped rows: lay them out in batches so the window keeps answering.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(200);

    auto *row = new QHBoxLayout;
    auto *sortLabel = new QLabel(tr("Sort:"), this);
    sortLabel->setBuddy(m_sortCombo);
    row->addWidget(sortLabel);
    row->addWidget(m_sortCombo);
    row->addWidget(m_showCompleted);
    row->addStretch();
    row->addWidget(m_filterEdit);

    ScreenHelpers::addCloseShortcuts(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(row);
    layout->addWidget(m_list);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(RefreshDelayMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });

    // Sorting and filtering work on the tasks already read; only data changes read notes.
    connect(m_sortCombo, &QComboBox::currentIndexChanged, this, &TodosScreen::rebuildList);
    connect(m_showCompleted, &QCheckBox::toggled, this, &TodosScreen::rebuildList);
    connect(m_filterEdit, &QLineEdit::textChanged, this, &TodosScreen::rebuildList);
    connect(m_list, &QListWidget::itemChanged, this, &TodosScreen::onItemChanged);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &TodosScreen::onItemDoubleClicked);
    if (m_appState)
        connect(m_appState, &AppState::notesChanged, this, &TodosScreen::scheduleRefresh);
}

void TodosScreen::refresh()
{
    m_refreshTimer.stop();
    if (reloadChangedTasks())
        return;
    reloadTasks();
    rebuildList();
}

void TodosScreen::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The main window refreshes right before showing; only catch up on changes missed while
    // hidden.
    if (m_stale)
        refresh();
}

void TodosScreen::scheduleRefresh()
{
    m_stale = true;
    if (isVisible())
        m_refreshTimer.start();
}

void TodosScreen::reloadTasks()
{
    m_stale = false;
    m_loaded = false;
    m_taskNoteIds.clear();
    m_readOnly.clear();
    NoteRepository *repository = m_appState ? m_appState->notes() : nullptr;
    if (!repository) {
        m_cache.clear();
        m_excluded.clear();
        return;
    }
    m_serial = repository->changeSerial();

    // Bodies are read and parsed again only for notes whose stamp changed since the last time.
    const QList<NoteStamp> stamps = repository->allNoteStamps();
    m_excluded = repository->noteIdsExcludedFromTodos();
    QHash<QString, NoteTasks> cache;
    cache.reserve(stamps.size());
    QHash<QString, NoteStamp> changed;
    QStringList changedIds;
    for (const NoteStamp &stamp : stamps) {
        auto cached = m_cache.find(stamp.id);
        if (cached != m_cache.end() && cached->stamp == stamp) {
            cache.insert(stamp.id, std::move(*cached));
        } else {
            changed.insert(stamp.id, stamp);
            changedIds.append(stamp.id);
        }
    }
    if (!changed.isEmpty()) {
        for (const Note &note : repository->notesByIds(changedIds))
            cache.insert(note.id, readTasks(note, changed.value(note.id)));
    }
    m_cache = std::move(cache);

    for (const NoteStamp &stamp : stamps) {
        const auto entry = m_cache.constFind(stamp.id);
        if (entry == m_cache.cend() || entry->tasks.isEmpty() || m_excluded.contains(stamp.id))
            continue;
        m_taskNoteIds.append(stamp.id);
        if (!stamp.ownerId.isEmpty() && stamp.permission != QLatin1String("edit"))
            m_readOnly.insert(stamp.id);
    }
    m_loaded = true;
}

TodosScreen::NoteTasks TodosScreen::readTasks(const Note &note, const NoteStamp &stamp) const
{
    NoteTasks entry;
    entry.stamp = stamp;
    entry.tasks = extractTasks(note.id, note.body, note.updatedAt);
    const QString title = entry.tasks.isEmpty() ? QString() : noteTitle(note.body);
    for (const Task &task : std::as_const(entry.tasks)) {
        entry.displayTexts.append(
            title.isEmpty() ? task.text : task.text + QStringLiteral("  — ") + title);
        entry.lowerTexts.append(task.text.toLower());
    }
    return entry;
}

bool TodosScreen::reloadChangedTasks()
{
    NoteRepository *repository = m_appState ? m_appState->notes() : nullptr;
    if (!repository || !m_loaded)
        return false;
    const quint64 serial = repository->changeSerial();
    const std::optional<QStringList> changed = repository->changedNoteIdsSince(m_serial);
    if (!changed)
        return false;
    m_serial = serial;
    m_stale = false;

    QSet<QString> affected(changed->cbegin(), changed->cend());
    // The setting is switched without writing the note, so the journal never names it; the set
    // is small and read in one statement.
    const QSet<QString> excluded = repository->noteIdsExcludedFromTodos();
    if (excluded != m_excluded) {
        for (const QString &id : excluded)
            if (!m_excluded.contains(id))
                affected.insert(id);
        for (const QString &id : std::as_const(m_excluded))
            if (!excluded.contains(id))
                affected.insert(id);
        m_excluded = excluded;
    }
    if (affected.isEmpty())
        return true;

    if (!changed->isEmpty()) {
        QHash<QString, Note> notes;
        for (const Note &note : repository->notesByIds(*changed)) {
            if (!note.deletedAt)
                notes.insert(note.id, note);
        }
        for (const QString &id : *changed) {
            const auto note = notes.constFind(id);
            if (note == notes.cend()) {
                m_cache.remove(id); // trashed or purged
                continue;
            }
            NoteStamp stamp;
            stamp.id = id;
            stamp.updatedAt = toStorageTime(note->updatedAt);
            stamp.modifiedAt = toStorageTime(note->modifiedAt);
            stamp.version = note->version;
            stamp.ownerId = note->ownerId;
            stamp.permission = note->permission;
            m_cache.insert(id, readTasks(*note, stamp));
        }
    }

    m_taskNoteIds.removeIf([&](const QString &id) { return affected.contains(id); });
    for (const QString &id : std::as_const(affected)) {
        m_readOnly.remove(id);
        const auto entry = m_cache.constFind(id);
        if (entry == m_cache.cend() || entry->tasks.isEmpty() || m_excluded.contains(id))
            continue;
        // Newest first, as allNoteStamps() lists them.
        const QString &updatedAt = entry->stamp.updatedAt;
        const auto at = std::upper_bound(m_taskNoteIds.begin(), m_taskNoteIds.end(), updatedAt,
            [this](const QString &time, const QString &other) {
                const auto entry = m_cache.constFind(other);
                return entry != m_cache.cend() && time > entry->stamp.updatedAt;
            });
        m_taskNoteIds.insert(at, id);
        if (!entry->stamp.ownerId.isEmpty() && entry->stamp.permission != QLatin1String("edit"))
            m_readOnly.insert(id);
    }
    updateRowsOf(affected);
    return true;
}

void TodosScreen::appendRowsOf(
    const QString &noteId, bool showCompleted, const QString &filter, QList<Row> &rows) const
{
    const auto entry = m_cache.constFind(noteId);
    if (entry == m_cache.cend())
        return;
    const bool readOnly = m_readOnly.contains(noteId);
    for (qsizetype i = 0; i < entry->tasks.size(); ++i) {
        const Task &task = entry->tasks.at(i);
        if (!showCompleted && task.completed)
            continue;
        if (!filter.isEmpty() && !entry->lowerTexts.at(i).contains(filter))
            continue;
        Row row;
        row.text = entry->displayTexts.at(i);
        row.noteId = task.noteId;
        row.taskId = task.id;
        row.sortText = task.text;
        row.updatedAt = entry->stamp.updatedAt;
        row.lineIndex = task.lineIndex;
        row.source = task.source;
        row.completed = task.completed;
        row.checkable = task.source == Task::Source::CheckboxList && !readOnly;
        rows.append(row);
    }
}

bool TodosScreen::rowBefore(const Row &a, const Row &b) const
{
    if (m_sortCombo->currentData().toString() == QLatin1String("alpha")) {
        const int order = a.sortText.compare(b.sortText, Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
    }
    return a.updatedAt > b.updatedAt;
}

void TodosScreen::updateRowsOf(const QSet<QString> &noteIds)
{
    if (m_list->count() != m_rows.size()) {
        rebuildList();
        return;
    }
    const bool showCompleted = m_showCompleted->isChecked();
    const QString filter = m_filterEdit->text().trimmed().toLower();
    QList<Row> fresh;
    for (const QString &noteId : noteIds) {
        if (!m_excluded.contains(noteId))
            appendRowsOf(noteId, showCompleted, filter, fresh);
    }
    // Each note's rows come in line order; inserting after equal keys keeps that order.
    m_refreshing = true;
    const QSignalBlocker blocker(m_list);
    const int scroll = m_list->verticalScrollBar()->value();
    QListWidgetItem *current = m_list->currentItem();
    const QString currentTaskId = current ? current->data(TaskIdRole).toString() : QString();
    bool currentGone = false;
    const bool single = noteIds.size() == 1;
    const QString only = single ? *noteIds.cbegin() : QString();
    for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
        // One note is the common case: a plain compare instead of hashing every row's id.
        const QString &noteId = m_rows.at(i).noteId;
        if (single ? noteId != only : !noteIds.contains(noteId))
            continue;
        QListWidgetItem *item = m_list->takeItem(int(i));
        currentGone = currentGone || item == current;
        delete item;
        m_rows.removeAt(i);
    }
    for (const Row &row : std::as_const(fresh)) {
        const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), row,
            [this](const Row &a, const Row &b) { return rowBefore(a, b); });
        const int index = int(at - m_rows.begin());
        m_rows.insert(index, row);
        QListWidgetItem *item = makeItem(row);
        m_list->insertItem(index, item);
        if (currentGone && row.taskId == currentTaskId) {
            m_list->setCurrentItem(item);
            currentGone = false;
        }
    }
    m_list->verticalScrollBar()->setValue(scroll);
    m_refreshing = false;
}

void TodosScreen::rebuildList()
{
    const bool showCompleted = m_showCompleted->isChecked();
    const QString filter = m_filterEdit->text().trimmed().toLower();
    const bool alphabetical = m_sortCombo->currentData().toString() == QLatin1String("alpha");

    QList<Row> rows;
    for (const QString &noteId : std::as_const(m_taskNoteIds))
        appendRowsOf(noteId, showCompleted, filter, rows);
    // m_taskNoteIds is already newest note first, which is the "updated" order.
    if (alphabetical) {
        std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
            return a.sortText.compare(b.sortText, Qt::CaseInsensitive) < 0;
        });
    }
    // An autosave that touched no task leaves the list, its selection and scroll position alone;
    // otherwise only the rows between the unchanged head and tail are replaced.
    const int oldCount = int(m_rows.size());
    const int newCount = int(rows.size());
    if (m_list->count() != oldCount) {
        m_rows.clear();
        m_refreshing = true;
        const QSignalBlocker blocker(m_list);
        m_list->clear();
        m_refreshing = false;
    }
    int head = 0;
    const int oldSize = int(m_rows.size());
    while (head < oldSize && head < newCount && m_rows.at(head) == rows.at(head))
        ++head;
    int tail = 0;
    while (tail < oldSize - head && tail < newCount - head
        && m_rows.at(oldSize - 1 - tail) == rows.at(newCount - 1 - tail))
        ++tail;
    if (head == oldSize && head == newCount)
        return;
    const int removed = oldSize - head - tail;
    const int added = newCount - head - tail;
    m_rows = std::move(rows);

    m_refreshing = true;
    const QSignalBlocker blocker(m_list);
    const int scroll = m_list->verticalScrollBar()->value();
    // Row by row edits shift the rows below each time; past a few hundred a rebuild is cheaper.
    if (removed + added > 400) {
        const QString currentTaskId = m_list->currentItem()
            ? m_list->currentItem()->data(TaskIdRole).toString()
            : QString();
        m_list->clear();
        QListWidgetItem *current = nullptr;
        for (const Row &row : std::as_const(m_rows)) {
            QListWidgetItem *item = makeItem(row);
            m_list->addItem(item);
            if (!current && !currentTaskId.isEmpty() && row.taskId == currentTaskId)
                current = item;
        }
        if (current)
            m_list->setCurrentItem(current);
    } else {
        for (int i = head + removed - 1; i >= head; --i)
            delete m_list->takeItem(i);
        for (int i = 0; i < added; ++i)
            m_list->insertItem(head + i, makeItem(m_rows.at(head + i)));
    }
    m_list->verticalScrollBar()->setValue(scroll);
    m_refreshing = false;
}

QListWidgetItem *TodosScreen::makeItem(const Row &row) const
{
    auto *item = new QListWidgetItem(row.text);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (row.checkable)
        flags |= Qt::ItemIsUserCheckable;
    item->setFlags(flags);
    item->setCheckState(row.completed ? Qt::Checked : Qt::Unchecked);
    if (row.completed) {
        QFont struck = m_list->font();
        struck.setStrikeOut(true);
        item->setFont(struck);
        item->setForeground(CompletedColour);
    }
    item->setData(NoteIdRole, row.noteId);
    item->setData(LineIndexRole, row.lineIndex);
    item->setData(SourceRole, int(row.source));
    item->setData(TaskIdRole, row.taskId);
    return item;
}

void TodosScreen::setCheckStateQuietly(QListWidgetItem *item, Qt::CheckState state)
{
    const QSignalBlocker blocker(m_list);
    item->setCheckState(state);
}

void TodosScreen::onItemChanged(QListWidgetItem *item)
{
    if (m_refreshing || !item)
        return;
    const int row = m_list->row(item);
    if (row < 0 || row >= m_rows.size())
        return;
    const Row &shown = m_rows.at(row);
    const bool checked = item->checkState() == Qt::Checked;
    if (checked == shown.completed)
        return; // text or font change, not a tick

    if (!shown.checkable) {
        setCheckStateQuietly(item, shown.completed ? Qt::Checked : Qt::Unchecked);
        return;
    }
    if (!writeTick(shown.noteId, shown.lineIndex, shown.taskId, checked)) {
        setCheckStateQuietly(item, shown.completed ? Qt::Checked : Qt::Unchecked);
        scheduleRefresh();
        return;
    }
    // Show the tick at once; the refresh that follows the write may drop or move the row.
    m_rows[row].completed = checked;
    const QSignalBlocker blocker(m_list);
    QFont font = m_list->font();
    font.setStrikeOut(checked);
    item->setFont(font);
    if (checked)
        item->setForeground(CompletedColour);
    else
        item->setData(Qt::ForegroundRole, QVariant());
}

bool TodosScreen::writeTick(
    const QString &noteId, int lineIndex, const QString &taskId, bool checked)
{
    NoteRepository *repository = m_appState ? m_appState->notes() : nullptr;
    if (!repository)
        return false;
    std::optional<Note> note = repository->noteById(noteId);
    if (!note || note->deletedAt || isReadOnlyForUser(*note))
        return false;

    // The list may be older than the note (edited in a window since): only tick the line when
    // it still holds the same checkbox task.
    const QList<Task> current = extractTasks(note->id, note->body, note->updatedAt);
    const bool stillThere = std::any_of(current.cbegin(), current.cend(), [&](const Task &task) {
        return task.id == taskId && task.source == Task::Source::CheckboxList;
    });
    if (!stillThere) {
        qInfo().noquote() << "TodosScreen: task" << taskId << "changed since the list was built";
        return false;
    }

    const QString body = setCheckboxLine(note->body, lineIndex, checked);
    if (body.isEmpty() || body == note->body)
        return false;
    if (!m_appState->writer()->saveBody(*note, body))
        return false;
    m_appState->notifyNoteUpdated(noteId, this);
    scheduleRefresh();
    return true;
}

void TodosScreen::onItemDoubleClicked(QListWidgetItem *item)
{
    if (!item || !m_appState)
        return;
    const QString noteId = item->data(NoteIdRole).toString();
    if (!noteId.isEmpty())
        m_appState->openNoteWindow(noteId);
}
