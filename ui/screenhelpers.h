#pragma once

class AppState;
class NoteListWidget;

// What the search, trash and shared screens share.
namespace ScreenHelpers {

// Shows each row's notebook name, read from the notebooks repository of `appState`.
void resolveNotebookNames(NoteListWidget *list, AppState *appState);

} // namespace ScreenHelpers
