#include "screenhelpers.h"

#include "appstate.h"
#include "notebookrepository.h"
#include "notelistwidget.h"

#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QWidget>

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

void addCloseShortcuts(QWidget *window)
{
    QList<QKeySequence> keys { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W) };
    for (const QKeySequence &close : QKeySequence::keyBindings(QKeySequence::Close)) {
        if (!keys.contains(close))
            keys.append(close);
    }
    for (const QKeySequence &key : keys) {
        auto *shortcut = new QShortcut(key, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

} // namespace ScreenHelpers
