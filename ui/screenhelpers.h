#pragma once

class AppState;
class NoteListWidget;
class QLineEdit;
class QWidget;

// What the search, trash, shared and to-dos screens share.
namespace ScreenHelpers {

// Shows each row's notebook name, read from the notebooks repository of `appState`.
void resolveNotebookNames(NoteListWidget *list, AppState *appState);

// Names the clear button of a line edit (Qt draws it unnamed) so screen readers and tool tips
// say what it does.
void nameClearButton(QLineEdit *field);

// Escape and the platform's Close keys (Ctrl+W here, also on Windows) close the window.
void addCloseShortcuts(QWidget *window);

} // namespace ScreenHelpers
