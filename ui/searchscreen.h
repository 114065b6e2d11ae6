#pragma once

#include <QTimer>
#include <QWidget>

class AppState;
class NoteListWidget;
class QLineEdit;

// Full-text search over every note in its own window, run 300 ms after the last keystroke.
class SearchScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchScreen)

public:
    explicit SearchScreen(AppState *appState, QWidget *parent = nullptr);

    // Runs the search for the field's current text.
    void refresh();
    void focusSearch();

private:
    AppState *m_appState; // not owned
    QLineEdit *m_searchField;
    NoteListWidget *m_noteList;
    QTimer m_searchTimer;
};
