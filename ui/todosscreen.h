#pragma once

#include "noterepository.h"
#include "taskextraction.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>
#include <QWidget>

class AppState;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

// The tasks of all notes in one list: filtered, sorted, and ticked straight back into the
// note's body for checkbox-list items.
class TodosScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TodosScreen)

public:
    // Item data roles, counted from Qt::UserRole.
    enum Role {
        NoteIdRole = Qt::UserRole,
        LineIndexRole,
        SourceRole, // int of Task::Source
        TaskIdRole, // guards a tick against a list that is older than the note
    };

    explicit TodosScreen(AppState *appState, QWidget *parent = nullptr);

    // Reads the notes again and rebuilds the list.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct NoteTasks
    {
        NoteStamp stamp; // of the body the tasks were read from
        QList<Task> tasks;
        // Per task, worked out once per body rather than on every rebuild and keystroke.
        QStringList displayTexts;
        QStringList lowerTexts;
    };

    // One row as shown; the list is rebuilt only when these differ from the last ones.
    struct Row
    {
        QString text;
        QString noteId;
        QString taskId;
        QString sortText; // task text, for the alphabetical order
        QString updatedAt; // the note's, as stored, for the newest-first order
        int lineIndex = 0;
        Task::Source source = Task::Source::CheckboxList;
        bool completed = false;
        bool checkable = false;

        bool operator==(const Row &other) const;
    };

    void reloadTasks();
    // Re-reads only the notes the repository's change journal names; false when the journal
    // cannot answer and everything has to be read again.
    bool reloadChangedTasks();
    NoteTasks readTasks(const Note &note, const NoteStamp &stamp) const;
    void rebuildList();
    // Replaces the rows of the given notes in place, at their sorted positions.
    void updateRowsOf(const QSet<QString> &noteIds);
    bool rowBefore(const Row &a, const Row &b) const;
    void appendRowsOf(
        const QString &noteId, bool showCompleted, const QString &filter, QList<Row> &rows) const;
    void scheduleRefresh();
    void onItemChanged(QListWidgetItem *item);
    void onItemDoubleClicked(QListWidgetItem *item);
    bool writeTick(const QString &noteId, int lineIndex, const QString &taskId, bool checked);
    void setCheckStateQuietly(QListWidgetItem *item, Qt::CheckState state);
    QListWidgetItem *makeItem(const Row &row) const;

    AppState *m_appState; // not owned
    QComboBox *m_sortCombo;
    QCheckBox *m_showCompleted;
    QLineEdit *m_filterEdit;
    QListWidget *m_list;
    QTimer m_refreshTimer;

    // Per note id: tasks are only extracted again when the note's body changed.
    QHash<QString, NoteTasks> m_cache;
    // Notes in allNotes order that have tasks and take part in the to-dos.
    QList<QString> m_taskNoteIds;
    // Notes whose tasks may not be ticked here (shared with the user read-only).
    QSet<QString> m_readOnly;
    QSet<QString> m_excluded;
    QList<Row> m_rows;
    // The repository's change serial the cache was read at; valid once m_loaded.
    quint64 m_serial = 0;
    bool m_loaded = false;
    bool m_refreshing = false;
    bool m_stale = true;
};
