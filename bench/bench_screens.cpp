// Opens one screen over a generated collection the way the main window does (refresh, title,
// first size, show) and prints how long that took; it then stays open to be looked at.
// Usage: bench_screens todos|search|trash|shared-with|shared-by [light|dark] [notes] [--quit]
#include "collectiongenerator.h"

#include "appstate.h"
#include "searchscreen.h"
#include "sharedscreen.h"
#include "testaccount.h"
#include "thememanager.h"
#include "todosscreen.h"
#include "trashscreen.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString which = args.value(1, QStringLiteral("todos"));
    const bool dark = args.value(2) == QLatin1String("dark");
    const int noteCount = args.size() > 3 ? args.at(3).toInt() : 2000;

    QTemporaryDir dir;
    if (!CollectionGenerator::fillDataDirectory(dir.path(), noteCount)) {
        std::fprintf(stderr, "could not generate the collection\n");
        return 1;
    }
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    if (!state.initialize())
        return 1;
    state.themeManager()->setTheme(dark ? ThemeManager::Dark : ThemeManager::Light);

    QElapsedTimer clock;
    clock.start();
    QWidget *screen = nullptr;
    QString title;
    QSize size(600, 500);
    if (which == QLatin1String("search")) {
        auto *search = new SearchScreen(&state);
        search->findChild<QLineEdit *>()->setText(QStringLiteral("garden"));
        search->refresh();
        search->focusSearch();
        screen = search;
        title = QStringLiteral("Search — Brevaro Notes");
    } else if (which == QLatin1String("trash")) {
        auto *trash = new TrashScreen(&state);
        trash->refresh();
        screen = trash;
        title = QStringLiteral("Trash — Brevaro Notes");
        size = QSize(500, 400);
    } else if (which.startsWith(QLatin1String("shared"))) {
        const bool byMe = which == QLatin1String("shared-by");
        auto *shared = new SharedScreen(
            &state, byMe ? SharedScreen::SharedByMe : SharedScreen::SharedWithMe);
        shared->refresh();
        screen = shared;
        title = byMe ? QStringLiteral("Shared by Me — Brevaro Notes")
                     : QStringLiteral("Shared with Me — Brevaro Notes");
    } else {
        auto *todos = new TodosScreen(&state);
        todos->findChild<QCheckBox *>()->setChecked(true);
        todos->refresh();
        screen = todos;
        title = QStringLiteral("To-Dos — Brevaro Notes");
    }
    screen->setWindowTitle(title);
    screen->resize(size);
    screen->show();
    screen->raise();
    screen->activateWindow();
    app.processEvents();
    std::printf("%s over %d notes opened in %lld ms\n", qPrintable(which), noteCount,
        static_cast<long long>(clock.elapsed()));
    std::fflush(stdout);
    if (args.contains(QLatin1String("--quit")))
        QTimer::singleShot(0, &app, &QApplication::quit);
    const int result = app.exec();
    delete screen;
    return result;
}
