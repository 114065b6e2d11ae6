#pragma once

class AppState;
class NoteListWidget;
class QWidget;

// What the search, trash, shared and to-dos screens share.
namespace ScreenHelpers {

// Shows each row's notebook name, read from the notebooks repository of `appState`.
void resolveNotebookNames(NoteListWidget *list, AppState *appState);

// Escape and the platform's Close keys (Ctrl+W here, also on Windows) close the window.
void addCloseShortcuts(QWidget *window);

} // namespace ScreenHelpers
