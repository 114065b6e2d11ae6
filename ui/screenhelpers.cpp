#include "screenhelpers.h"

#include "appstate.h"
#include "notebookrepository.h"
#include "notelistwidget.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QLineEdit>
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

void nameClearButton(QLineEdit *field)
{
    // The action behind the button; it hands its text and tool tip on to the button.
    auto *clear = field->findChild<QAction *>(QStringLiteral("_q_qlineeditclearaction"));
    if (!clear)
        return;
    const QString text = QCoreApplication::translate("ScreenHelpers", "Clear");
    clear->setText(text);
    clear->setToolTip(text);
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
