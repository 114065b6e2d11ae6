#include "todosscreen.h"

#include "appstate.h"
#include "noterepository.h"
#include "notetext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// notesChanged arrives after every autosave; gather a burst into one refresh.
constexpr int RefreshDelayMs = 250;

const QColor CompletedColour(QStringLiteral("#9E9E9E"));

bool isReadOnlyForUser(const Note &note)
{
    return !note.ownerId.isEmpty() && note.permission != QLatin1String("edit");
}

} // namespace

bool TodosScreen::Row::operator==(const Row &other) const
{
    return text == other.text && noteId == other.noteId && taskId == other.taskId
        && lineIndex == other.lineIndex && source == other.source && completed == other.completed
        && checkable == other.checkable;
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
    m_filterEdit->setClearButtonEnabled(true);
    m_filterEdit->setMaximumWidth(200);
    m_list->setObjectName(QStringLiteral("taskList"));
    m_list->setWordWrap(true);
    // Thousands of wrapped rows: lay them out in batches so the window keeps answering.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(200);

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Sort:"), this));
    row->addWidget(m_sortCombo);
    row->addWidget(m_showCompleted);
    row->addStretch();
    row->addWidget(m_filterEdit);

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
    m_taskNoteIds.clear();
    m_readOnly.clear();
    NoteRepository *repository = m_appState ? m_appState->notes() : nullptr;
    if (!repository) {
        m_cache.clear();
        return;
    }

    const QList<Note> notes = repository->allNotes();
    QHash<QString, NoteTasks> cache;
    cache.reserve(notes.size());
    for (const Note &note : notes) {
        auto cached = m_cache.find(note.id);
        if (cached != m_cache.end() && cached->version == note.version
            && cached->updatedAt == note.updatedAt && cached->body == note.body) {
            cache.insert(note.id, std::move(*cached));
        } else {
            NoteTasks entry;
            entry.updatedAt = note.updatedAt;
            entry.version = note.version;
            entry.body = note.body;
            entry.tasks = extractTasks(note.id, note.body, note.updatedAt);
            if (!entry.tasks.isEmpty())
                entry.title = noteTitle(note.body);
            cache.insert(note.id, std::move(entry));
        }
        if (cache.constFind(note.id)->tasks.isEmpty())
            continue;
        // Only notes that have tasks are asked; the setting is a no-op for the rest.
        if (!repository->includeInTodos(note.id))
            continue;
        m_taskNoteIds.append(note.id);
        if (isReadOnlyForUser(note))
            m_readOnly.insert(note.id);
    }
    m_cache = std::move(cache);
}

void TodosScreen::rebuildList()
{
    const bool showCompleted = m_showCompleted->isChecked();
    const QString filter = m_filterEdit->text().trimmed().toLower();
    const bool alphabetical = m_sortCombo->currentData().toString() == QLatin1String("alpha");

    QList<const Task *> tasks;
    for (const QString &noteId : std::as_const(m_taskNoteIds)) {
        const auto entry = m_cache.constFind(noteId);
        if (entry == m_cache.cend())
            continue;
        for (const Task &task : entry->tasks) {
            if (!showCompleted && task.completed)
                continue;
            if (!filter.isEmpty() && !task.text.toLower().contains(filter))
                continue;
            tasks.append(&task);
        }
    }
    if (alphabetical) {
        std::stable_sort(tasks.begin(), tasks.end(), [](const Task *a, const Task *b) {
            return a->text.compare(b->text, Qt::CaseInsensitive) < 0;
        });
    } else {
        std::stable_sort(tasks.begin(), tasks.end(),
            [](const Task *a, const Task *b) { return a->noteUpdatedAt > b->noteUpdatedAt; });
    }

    QList<Row> rows;
    rows.reserve(tasks.size());
    for (const Task *task : std::as_const(tasks)) {
        Row row;
        const QString title = m_cache.value(task->noteId).title;
        row.text = title.isEmpty() ? task->text : task->text + QStringLiteral("  — ") + title;
        row.noteId = task->noteId;
        row.taskId = task->id;
        row.lineIndex = task->lineIndex;
        row.source = task->source;
        row.completed = task->completed;
        row.checkable
            = task->source == Task::Source::CheckboxList && !m_readOnly.contains(task->noteId);
        rows.append(row);
    }
    // An autosave that touched no task leaves the list, its selection and scroll position alone.
    if (rows == m_rows && m_list->count() == rows.size())
        return;
    m_rows = std::move(rows);

    m_refreshing = true;
    const QSignalBlocker blocker(m_list);
    const int scroll = m_list->verticalScrollBar()->value();
    const QString currentTaskId
        = m_list->currentItem() ? m_list->currentItem()->data(TaskIdRole).toString() : QString();
    m_list->clear();

    QFont struckFont = m_list->font();
    struckFont.setStrikeOut(true);
    QListWidgetItem *current = nullptr;
    for (const Row &row : std::as_const(m_rows)) {
        auto *item = new QListWidgetItem(row.text);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (row.checkable)
            flags |= Qt::ItemIsUserCheckable;
        item->setFlags(flags);
        item->setCheckState(row.completed ? Qt::Checked : Qt::Unchecked);
        if (row.completed) {
            item->setFont(struckFont);
            item->setForeground(CompletedColour);
        }
        item->setData(NoteIdRole, row.noteId);
        item->setData(LineIndexRole, row.lineIndex);
        item->setData(SourceRole, int(row.source));
        item->setData(TaskIdRole, row.taskId);
        m_list->addItem(item);
        if (!current && !currentTaskId.isEmpty() && row.taskId == currentTaskId)
            current = item;
    }
    if (current)
        m_list->setCurrentItem(current);
    m_list->verticalScrollBar()->setValue(scroll);
    m_refreshing = false;
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
    const QDateTime now = QDateTime::currentDateTimeUtc();
    note->body = body;
    note->updatedAt = now;
    note->modifiedAt = now;
    note->version += 1;
    note->syncStatus = SyncStatus::Pending;
    if (!repository->update(*note))
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
