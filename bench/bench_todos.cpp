// Refresh time of the to-dos screen over a generated collection: the first refresh (every body
// parsed), a repeated refresh with nothing changed, one after a single note was saved (what an
// autosave causes while the screen is open) and a filter keystroke.
// Usage: bench_todos [notes] [runs]
#include "benchmedian.h"
#include "collectiongenerator.h"

#include "appstate.h"
#include "deltaformat.h"
#include "notewriter.h"
#include "taskextraction.h"
#include "testaccount.h"
#include "todosscreen.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

template<typename F>
double timeMs(F &&work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int noteCount = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 9;

    QTemporaryDir dir;
    if (!CollectionGenerator::fillDataDirectory(dir.path(), noteCount)) {
        std::fprintf(stderr, "could not generate the collection\n");
        return 1;
    }
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    if (!state.initialize())
        return 1;

    QList<double> stampsAll, readAll, extractAll, first, repeated, afterSave, filterKey;
    int taskCount = 0;
    for (int run = 0; run < runs; ++run) {
        QList<Note> notes;
        stampsAll.append(timeMs([&] { state.notes()->allNoteStamps(); }));
        readAll.append(timeMs([&] { notes = state.notes()->allNotes(); }));
        extractAll.append(timeMs([&] {
            taskCount = 0;
            for (const Note &note : std::as_const(notes))
                taskCount += int(extractTasks(note.id, note.body, note.updatedAt).size());
        }));

        TodosScreen screen(&state);
        screen.resize(600, 500);
        first.append(timeMs([&] { screen.refresh(); }));
        screen.show();
        app.processEvents();
        repeated.append(timeMs([&] { screen.refresh(); }));

        // One note saved, as the editor's autosave does it.
        const QString words = CollectionGenerator::sentence(*QRandomGenerator::global(), 4);
        state.writer()->saveBody(notes.at(run % notes.size()).id,
            Delta::toText(QJsonArray { QJsonObject { { QStringLiteral("insert"),
                QStringLiteral("TODO: ") + words + QLatin1Char('\n') } } }));
        afterSave.append(timeMs([&] { screen.refresh(); }));

        auto *filter = screen.findChild<QLineEdit *>(QStringLiteral("filterEdit"));
        filterKey.append(timeMs([&] { filter->setText(QStringLiteral("re")); }));
        filter->clear();
        screen.hide();
    }
    auto *probe = new TodosScreen(&state);
    probe->refresh();
    const int rows = probe->findChild<QListWidget *>(QStringLiteral("taskList"))->count();
    delete probe;

    std::printf("to-dos over %d notes (%d tasks, %d open rows), medians of %d runs:\n", noteCount,
        taskCount, rows, runs);
    std::printf("  allNoteStamps() alone       %8.1f ms\n", median(stampsAll));
    std::printf("  allNotes() alone            %8.1f ms\n", median(readAll));
    std::printf("  extractTasks over all notes %8.1f ms\n", median(extractAll));
    std::printf("  first refresh               %8.1f ms\n", median(first));
    std::printf("  repeated refresh, unchanged %8.1f ms\n", median(repeated));
    std::printf("  refresh after one save      %8.1f ms\n", median(afterSave));
    std::printf("  filter keystroke            %8.1f ms\n", median(filterKey));
    return 0;
}
