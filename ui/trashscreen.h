#pragma once

#include <QWidget>

class AppState;
class NoteListWidget;
class QPushButton;

// The notes in the trash, to restore or to delete for good.
class TrashScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrashScreen)

public:
    explicit TrashScreen(AppState *appState, QWidget *parent = nullptr);

    // Reloads the trash; nothing is selected afterwards.
    void refresh();

private:
    void restoreCurrent();
    void deleteCurrent();
    void emptyTrash();
    bool confirm(const QString &title, const QString &text);
    void setSelectionButtonsEnabled(bool enabled);

    AppState *m_appState; // not owned
    QPushButton *m_restoreButton;
    QPushButton *m_deleteButton;
    QPushButton *m_emptyButton;
    NoteListWidget *m_noteList;
};
