#pragma once

#include "notelistcache.h"

#include <QTimer>
#include <QWidget>

#include <memory>

class AppState;
class NoteListWidget;
class QLineEdit;
class SearchListLoader;

// Full-text search over every note in its own window, run 300 ms after the last keystroke. Like
// the main window's list it shows a first screenful at once and takes the whole ranked list
// from a reading thread when it comes.
class SearchScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchScreen)

public:
    explicit SearchScreen(AppState *appState, QWidget *parent = nullptr);
    ~SearchScreen() override;

    // Runs the search for the field's current text.
    void refresh();
    void focusSearch();
    // False while the list shows a first screenful and the rest is still being read.
    bool isComplete() const { return !m_listCache || m_listCache->isComplete(); }

private:
    void clearList();

    AppState *m_appState; // not owned
    QLineEdit *m_searchField;
    NoteListWidget *m_noteList;
    QTimer m_searchTimer;
    std::unique_ptr<NoteListCache> m_listCache;
    SearchListLoader *m_loader = nullptr;
    bool m_listCleared = true;
};
