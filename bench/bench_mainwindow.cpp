// The main window on generated collections of 1k, 10k and 100k notes: time to the first painted
// window, from an autosave to the repainted list and sidebar, from the search debounce to the
// repainted list, and to switch notes. Prints medians.
//
//   bench_mainwindow                  all three sizes
//   bench_mainwindow --size 10000     one size
//   bench_mainwindow --keep DIR       generate into DIR (reused when it already has notes)

#include "appstate.h"
#include "benchcpu.h"
#include "benchmedian.h"
#include "collectiongenerator.h"
#include "mainwindow.h"
#include "memorytuning.h"
#include "notebooklistwidget.h"
#include "noteeditor.h"
#include "notelistwidget.h"
#include "paths.h"
#include "testaccount.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

void loadFonts()
{
    const QDir fonts(QFileInfo(QStringLiteral(__FILE__))
                         .absoluteDir()
                         .filePath(QStringLiteral("../resources/fonts")));
    for (const QString &file :
        fonts.entryList({ QStringLiteral("*.ttf"), QStringLiteral("*.otf") }))
        QFontDatabase::addApplicationFont(fonts.filePath(file));
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) : QObject(widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// What a return to the event loop does before the user sees the result: the paint of what
// changed. A note list the loop did not repaint is painted once, so no figure leaves it out.
void paint(MainWindow &window)
{
    QWidget *list = window.noteList()->viewport();
    auto *counter = list->findChild<PaintCounter *>(QString(), Qt::FindDirectChildrenOnly);
    if (!counter)
        counter = new PaintCounter(list);
    const int paints = counter->count;
    QCoreApplication::processEvents();
    if (counter->count == paints)
        list->repaint();
}

void benchSize(int count, const QString &keepDir)
{
    QTemporaryDir temporary;
    const QString dir
        = keepDir.isEmpty() ? temporary.path() : keepDir + QStringLiteral("/notes-%1").arg(count);
    QDir().mkpath(dir);
    qputenv("NOTES_DATA_DIR", dir.toUtf8());
    if (QDir(dir).entryList({ QStringLiteral("*.db") }).isEmpty()) {
        QElapsedTimer clock;
        clock.start();
        if (!CollectionGenerator::fillDataDirectory(dir, count)) {
            std::fprintf(stderr, "could not generate %d notes\n", count);
            return;
        }
        std::printf(
            "generated %d notes in %lld ms\n", count, static_cast<long long>(clock.elapsed()));
    }

    // The first start after generation builds the list indexes once; time the starts after it.
    {
        AppState state;
        state.setTokenStore(std::make_unique<MemoryTokenStore>());
        state.initialize();
    }
    // Started as the program starts (a large file checked after the window is up) and with the
    // file checked before anything opens it, alternately, so both see the same machine load.
    QList<double> starts;
    QList<double> checkedFirst;
    QList<double> startsCpu;
    QList<double> checkedFirstCpu;
    for (int run = 0; run < 3; ++run) {
        for (const qint64 threshold : { AppState::DeferredCheckBytes, qint64(-1) }) {
            const double cpu = threadCpuMs();
            (threshold < 0 ? checkedFirst : starts).append(timeMs([threshold] {
                AppState state;
                state.setTokenStore(std::make_unique<MemoryTokenStore>());
                state.setDeferredCheckThreshold(threshold);
                state.initialize();
                MainWindow window(&state);
                window.show();
                window.repaint();
            }));
            (threshold < 0 ? checkedFirstCpu : startsCpu).append(threadCpuMs() - cpu);
        }
    }
    std::printf("%7d notes, %lld MB file: start %7.1f ms wall %7.1f ms cpu; with the file checked "
                "first %7.1f ms wall %7.1f ms cpu\n",
        count, static_cast<long long>(QFileInfo(databasePath(dir)).size() / (1024 * 1024)),
        median(starts), median(startsCpu), median(checkedFirst), median(checkedFirstCpu));

    AppState state;

    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    state.initialize();
    MainWindow window(&state);
    window.show();
    paint(window);
    NoteListWidget *list = window.noteList();

    // Autosave: the editor's timer fires, the window stores the note, the list and the sidebar
    // refresh and repaint.
    QList<double> autosaves;
    list->selectNote(list->noteIdAt(5));
    for (int run = 0; run < 15; ++run) {
        QTest::keyClicks(window.editor(), QStringLiteral("x"));
        autosaves.append(timeMs([&] {
            window.saveCurrentNote();
            paint(window);
        }));
        // The editor counts itself saved once its own timer has run.
        QTest::qWait(0);
        window.editor()->setNote(window.editor()->noteId(), window.editor()->content(), true);
    }

    QList<double> switches;
    for (int run = 0; run < 15; ++run) {
        const QString id = list->noteIdAt(10 + run * 3);
        switches.append(timeMs([&] {
            list->selectNote(id);
            QCoreApplication::processEvents();
            window.editor()->viewport()->repaint();
        }));
    }

    // Only searched refreshes are timed: each starts from the unsearched list, as a search typed
    // into the field does. From what the 300 ms debounce runs to the repainted first screenful
    // (wall and GUI-thread CPU), then until the whole ranked list has replaced it.
    struct SearchTimes
    {
        QList<double> wall, cpu, full;
    };
    const auto searchTimes = [&](const QString &text) {
        SearchTimes times;
        for (int run = 0; run < 7; ++run) {
            window.searchField()->clear();
            window.refreshNoteList();
            paint(window);
            window.searchField()->setText(text);
            // The debounce gives the event loop time to run what is pending (the relayout of
            // the plain list, freeing the list before it) before the search runs.
            QTest::qWait(100);
            const double cpu = threadCpuMs();
            QElapsedTimer clock;
            clock.start();
            window.refreshNoteList();
            paint(window);
            times.wall.append(clock.nsecsElapsed() / 1e6);
            times.cpu.append(threadCpuMs() - cpu);
            // The rest of the list comes from the reading thread; a complete first page already
            // is the whole list.
            QDeadlineTimer deadline(20000);
            while (!window.hasCompleteNoteList() && !deadline.hasExpired())
                QTest::qWait(2);
            paint(window);
            times.full.append(clock.nsecsElapsed() / 1e6);
        }
        window.searchField()->clear();
        window.refreshNoteList();
        return times;
    };
    const SearchTimes common = searchTimes(QStringLiteral("meeting"));
    const SearchTimes rare = searchTimes(QStringLiteral("dentist"));

    std::printf("%7d notes: start %7.1f ms | autosave to list %6.2f ms | switch note %6.2f ms\n"
                "        search first screenful: common word %7.2f ms (CPU %6.2f), rare word "
                "%6.2f ms (CPU %6.2f)\n"
                "        whole ranked list shown: common word %7.1f ms, rare word %6.1f ms\n",
        count, median(starts), median(autosaves), median(switches), median(common.wall),
        median(common.cpu), median(rare.wall), median(rare.cpu), median(common.full),
        median(rare.full));
    // The machine's load beside the figures: wall times on a shared machine follow it.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("        load average %s", load.readAll().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    tuneMemoryAllocator();
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevaro"));
    QCoreApplication::setApplicationName(QStringLiteral("NotesBench"));
    loadFonts();
    const QStringList args = QCoreApplication::arguments();
    const int keepAt = int(args.indexOf(QLatin1String("--keep")));
    const QString keep = keepAt > 0 && keepAt + 1 < args.size() ? args.at(keepAt + 1) : QString();
    const int sizeAt = int(args.indexOf(QLatin1String("--size")));
    if (sizeAt > 0 && sizeAt + 1 < args.size()) {
        benchSize(args.at(sizeAt + 1).toInt(), keep);
        return 0;
    }
    std::printf("main window (medians; search rows time only searched refreshes)\n");
    for (int count : { 1000, 10000, 100000 })
        benchSize(count, keep);
    return 0;
}
