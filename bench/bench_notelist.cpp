// Times the note list refill that follows every autosave: setNotes() plus the repaint of the
// visible rows, on generated collections of 1k, 10k and 100k notes. Prints medians.
//
//   bench_notelist                 the timings
//   bench_notelist --show [dark]   both lists side by side with realistic notes, for a look
//   bench_notelist --show --scale 130

#include "benchmedian.h"
#include "collectiongenerator.h"
#include "fontscale.h"
#include "memorytuning.h"
#include "notebooklistwidget.h"
#include "notelistwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QListWidget>
#include <QUuid>

#include <algorithm>
#include <cstdio>

namespace {

using CollectionGenerator::Collection;

// What the repository hands back after an autosave: every body a fresh string, the edited note
// with a new body and version at the top.
QList<Note> reread(const QList<Note> &notes, int editedRow, int generation)
{
    QList<Note> result;
    result.reserve(notes.size());
    for (const Note &note : notes) {
        Note copy = note;
        copy.body = QString(note.body.constData(), note.body.size());
        result.append(copy);
    }
    Note edited = result.takeAt(editedRow);
    edited.body.insert(
        edited.body.indexOf(QLatin1String("\"}")), QStringLiteral(" edit %1").arg(generation));
    edited.version += 1;
    edited.updatedAt = QDateTime::currentDateTimeUtc();
    edited.syncStatus = SyncStatus::Pending;
    result.prepend(edited);
    return result;
}

double elapsedMs(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

void loadFonts()
{
    // The embedded fonts are registered by the application at start-up; here they come from the
    // source tree so the harness looks like the program.
    const QDir fonts(QFileInfo(QStringLiteral(__FILE__))
                         .absoluteDir()
                         .filePath(QStringLiteral("../resources/fonts")));
    for (const QString &file : fonts.entryList({ QStringLiteral("*.ttf") }))
        QFontDatabase::addApplicationFont(fonts.filePath(file));
}

// Until the list is laid out and its visible rows painted, as after a return to the event loop.
void settle(NoteListWidget &list)
{
    QCoreApplication::processEvents();
    list.viewport()->repaint();
}

void benchSize(int count, int runs)
{
    const Collection collection = CollectionGenerator::makeCollection(count);
    QHash<QString, QString> names;
    for (const Notebook &notebook : collection.notebooks)
        names.insert(notebook.id, notebook.name);

    QList<double> firstFill;
    QList<double> refill;
    QList<double> refillScrolled;
    for (int run = 0; run < runs; ++run) {
        NoteListWidget list;
        list.setNotebookNameResolver([&names](const QString &id) { return names.value(id); });
        list.resize(380, 860);
        list.show();
        QCoreApplication::processEvents();

        QElapsedTimer timer;
        timer.start();
        list.setNotes(collection.notes);
        settle(list);
        firstFill.append(elapsedMs(timer));

        list.selectNote(collection.notes.at(3).id);
        settle(list);
        QList<Note> next = reread(collection.notes, 3, run);
        timer.start();
        list.setNotes(next);
        settle(list);
        refill.append(elapsedMs(timer));

        // The same with the view scrolled deep into the list.
        list.setCurrentRow(count / 2);
        settle(list);
        next = reread(next, 10, run + 1000);
        timer.start();
        list.setNotes(next);
        settle(list);
        refillScrolled.append(elapsedMs(timer));
    }
    std::printf("%7d notes: first fill %8.2f ms   refill, one note changed %8.2f ms   "
                "refill scrolled %8.2f ms   (median of %d)\n",
        count, median(firstFill), median(refill), median(refillScrolled), runs);
}

// What one list item per note would cost: the same data in QListWidget items.
void benchItemBaseline(int count, int runs)
{
    const Collection collection = CollectionGenerator::makeCollection(count);
    QList<double> fills;
    QListWidget list;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        list.clear();
        for (const Note &note : collection.notes) {
            auto *item = new QListWidgetItem;
            item->setData(Qt::UserRole, note.id);
            item->setData(Qt::UserRole + 1, note.id.left(8));
            item->setData(Qt::UserRole + 2, QString());
            item->setData(Qt::UserRole + 3, note.updatedAt);
            item->setData(Qt::UserRole + 4, note.notebookId);
            item->setData(Qt::UserRole + 5, false);
            item->setData(Qt::UserRole + 6, note.isShared);
            item->setData(Qt::UserRole + 7, int(note.syncStatus));
            list.addItem(item);
        }
        fills.append(elapsedMs(timer));
    }
    std::printf("%7d notes: one QListWidgetItem per note, fill without parsing %8.2f ms "
                "(median of %d)\n",
        count, median(fills), runs);
}

void setPalette(bool dark)
{
    QPalette p;
    const auto set = [&p](QPalette::ColorRole role, const char *colour) {
        p.setColor(role, QColor(QLatin1String(colour)));
    };
    set(QPalette::Window, dark ? "#1E1E1E" : "#FAFAFA");
    set(QPalette::WindowText, dark ? "#E0E0E0" : "#212121");
    set(QPalette::Base, dark ? "#252525" : "#FFFFFF");
    set(QPalette::AlternateBase, dark ? "#2A2A2A" : "#F5F7FA");
    set(QPalette::Text, dark ? "#E0E0E0" : "#212121");
    set(QPalette::Button, dark ? "#252525" : "#FAFAFA");
    set(QPalette::ButtonText, dark ? "#E0E0E0" : "#212121");
    set(QPalette::Highlight, dark ? "#42A5F5" : "#1565C0");
    set(QPalette::HighlightedText, dark ? "#1E1E1E" : "#FFFFFF");
    set(QPalette::PlaceholderText, dark ? "#9E9E9E" : "#78909C");
    set(QPalette::Mid, dark ? "#3A3A3A" : "#E0E0E0");
    set(QPalette::Light, dark ? "#3A3A3A" : "#FFFFFF");
    set(QPalette::Dark, dark ? "#0D0D0D" : "#B0BEC5");
    QApplication::setPalette(p);
}

int show(bool dark, int scale)
{
    loadFonts();
    setPalette(dark);
    FontScale::setPercent(scale);

    Collection collection = CollectionGenerator::makeCollection(60, 7);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // A few hand-made rows first, so every kind of row is on screen.
    const auto note = [&](const QString &body, qint64 secsAgo, const QString &notebookId,
                          SyncStatus status, bool shared) {
        Note n;
        n.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        n.body = body;
        n.updatedAt = now.addSecs(-secsAgo);
        n.notebookId = notebookId;
        n.syncStatus = status;
        n.isShared = shared;
        return n;
    };
    const QString work = collection.notebooks.at(0).id;
    const QString longName = collection.notebooks.at(5).id;
    QList<Note> notes {
        note(QStringLiteral("[{\"insert\":\"Quarterly planning\"},{\"attributes\":{\"header\":1},"
                            "\"insert\":\"\\n\"},{\"insert\":\"Agenda: budget review, hiring "
                            "plan, the office move and the new onboarding checklist\\n\"}]"),
            20, work, SyncStatus::Pending, true),
        note(QStringLiteral("[{\"insert\":\"\\n\"}]"), 300, QString(), SyncStatus::Synced, false),
        note(QStringLiteral("[{\"insert\":\"  \\nCall the plumber about the kitchen sink before "
                            "Friday\\n\"}]"),
            5400, longName, SyncStatus::Conflict, false),
        note(QStringLiteral("Plain text body that is not JSON\nsecond line of it"), 90000,
            QString(), SyncStatus::Synced, false),
        note(QStringLiteral("[{\"insert\":\"A very long title that goes on and on and will "
                            "certainly not fit in the list column at all\\nShort.\\n\"}]"),
            3 * 86400, work, SyncStatus::Conflict, true),
    };
    notes += collection.notes;

    QWidget window;
    window.setWindowTitle(QStringLiteral("Note lists"));
    auto *layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    auto *sidebar = new NotebookListWidget(&window);
    auto *list = new NoteListWidget(&window);
    QHash<QString, QString> names;
    QMap<QString, int> counts;
    for (const Notebook &notebook : collection.notebooks)
        names.insert(notebook.id, notebook.name);
    for (const Note &n : notes)
        counts[n.notebookId] += 1;
    counts[QString()] = int(notes.size());
    list->setNotebookNameResolver([names](const QString &id) { return names.value(id); });
    list->setNotes(notes);
    list->selectNote(notes.at(2).id);
    sidebar->setNotebooks(collection.notebooks, counts, work, 4);
    sidebar->setFixedWidth(240);
    layout->addWidget(sidebar);
    layout->addWidget(list);
    window.resize(240 + 1 + 400, 860);
    window.show();
    list->scrollToTop();
    return QApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    tuneMemoryAllocator();
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QLatin1String("--show"))) {
        const int scaleAt = int(args.indexOf(QLatin1String("--scale")));
        const int scale
            = scaleAt > 0 && scaleAt + 1 < args.size() ? args.at(scaleAt + 1).toInt() : 100;
        return show(args.contains(QLatin1String("dark")), scale);
    }

    loadFonts();
    const int sizeAt = int(args.indexOf(QLatin1String("--size")));
    if (sizeAt > 0 && sizeAt + 1 < args.size()) {
        benchSize(args.at(sizeAt + 1).toInt(), 5);
        return 0;
    }
    std::printf("note list refill (setNotes + repaint of the visible rows)\n");
    benchSize(1000, 15);
    benchSize(10000, 11);
    benchSize(100000, 7);
    std::printf("baseline for comparison\n");
    benchItemBaseline(10000, 5);
    benchItemBaseline(100000, 3);
    return 0;
}
