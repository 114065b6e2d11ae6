#include "screenhelpers.h"

#include "appstate.h"
#include "notebookrepository.h"
#include "notelistwidget.h"

#include <QPointer>

namespace ScreenHelpers {

void resolveNotebookNames(NoteListWidget *list, AppState *appState)
{
    if (!appState)
        return;
    QPointer<AppState> state(appState);
    list->setNotebookNameResolver([state](const QString &notebookId) {
        if (!state || !state->notebooks() || notebookId.isEmpty())
            return QString();
        const auto notebook = state->notebooks()->notebookById(notebookId);
        return notebook ? notebook->name : QString();
    });
}

} // namespace ScreenHelpers
