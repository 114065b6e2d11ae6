// Typing latency at the end of a long note and the cost of one autosave: content extraction and
// the whole save into a real database on the GUI thread.
// Prints medians; run with QT_QPA_PLATFORM=offscreen or on a display.

#include "benchcpu.h"
#include "benchmedian.h"
#include "deltaconversion.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "memorytuning.h"
#include "notebookrepository.h"
#include "noteeditor.h"
#include "noterepository.h"
#include "notewriter.h"
#include "searchindex.h"
#include "searchtext.h"
#include "testdatabase.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

namespace {

QJsonObject op(const QString &text, const QJsonObject &attributes = {})
{
    QJsonObject result { { QStringLiteral("insert"), text } };
    if (!attributes.isEmpty())
        result.insert(QStringLiteral("attributes"), attributes);
    return result;
}

// A note of about `bytes` of delta text made of the things real notes hold: headings,
// paragraphs with inline formatting, bullet and checkbox lists, code and small tables.
QString longNote(qsizetype bytes)
{
    const QString sentence = QStringLiteral(
        "The quick review of the quarterly plan covers budgets, hiring and the roadmap. ");
    QJsonArray ops;
    qsizetype size = 0;
    int section = 0;
    while (size < bytes) {
        ++section;
        ops.append(op(QStringLiteral("Section %1").arg(section)));
        ops.append(op(QStringLiteral("\n"), { { QStringLiteral("header"), 2 } }));
        for (int p = 0; p < 4; ++p) {
            ops.append(op(sentence.repeated(3)));
            ops.append(op(QStringLiteral("important"), { { QStringLiteral("bold"), true } }));
            ops.append(op(QStringLiteral(" and "), {}));
            ops.append(op(QStringLiteral("linked"),
                { { QStringLiteral("link"), QStringLiteral("https://example.org/x") } }));
            ops.append(op(QStringLiteral("\n")));
        }
        for (int i = 0; i < 5; ++i) {
            ops.append(op(QStringLiteral("List item %1 with a few words").arg(i)));
            ops.append(op(QStringLiteral("\n"),
                { { QStringLiteral("list"),
                    i % 2 ? QStringLiteral("unchecked") : QStringLiteral("bullet") } }));
        }
        ops.append(
            op(QStringLiteral("int main() { return 0; }"), { { QStringLiteral("code"), true } }));
        ops.append(op(QStringLiteral("\n"), { { QStringLiteral("code-block"), true } }));
        if (section % 10 == 0) {
            ops.append(QJsonObject { { QStringLiteral("insert"),
                QJsonObject { { QStringLiteral("table"),
                    QStringLiteral(
                        R"({"cells":[["a","b","c"],["1","2","3"],["4","5","6"]],"hasHeader":true})") } } } });
            ops.append(op(QStringLiteral("\n")));
        }
        size = Delta::toText(ops).size();
    }
    return Delta::toText(ops);
}

} // namespace

int main(int argc, char **argv)
{
    tuneMemoryAllocator();
    QApplication app(argc, argv);
    QTextStream out(stdout);

    const QString body = longNote(1024 * 1024);
    NoteEditor editor;
    editor.resize(900, 700);
    editor.show();
    if (!QTest::qWaitForWindowExposed(&editor))
        out << "warning: window not exposed, paint timings are not meaningful\n";

    QElapsedTimer timer;
    timer.start();
    editor.setNote(QStringLiteral("bench"), body);
    const double loadMs = timer.nsecsElapsed() / 1e6;
    QApplication::processEvents();
    out << "note: " << body.size() / 1024 << " KiB of delta, " << editor.document()->blockCount()
        << " paragraphs, " << editor.wordCount() << " words\n";
    out << "load (setNote): " << loadMs << " ms\n";

    editor.moveCursor(QTextCursor::End);
    QApplication::processEvents();

    constexpr int Keys = 200;
    QList<double> keyOnly;
    QList<double> keyAndPaint;
    const QString letters = QStringLiteral("abcdefghij klmnopqrstuvwxyz ");
    for (int i = 0; i < Keys; ++i) {
        const QChar letter = letters.at(i % letters.size());
        timer.restart();
        QTest::keyClick(&editor, letter.toLatin1());
        keyOnly.append(timer.nsecsElapsed() / 1e6);
        // Layout and the repaint of the changed line run from the event loop.
        editor.viewport()->repaint();
        QApplication::processEvents();
        keyAndPaint.append(timer.nsecsElapsed() / 1e6);
    }
    out << "keystroke at the end, key event to document updated: median " << median(keyOnly)
        << " ms (" << Keys << " keys)\n";
    out << "keystroke at the end, including layout and repaint: median " << median(keyAndPaint)
        << " ms\n";

    // The whole document converted, as every save did before unchanged paragraphs were reused.
    QList<double> full;
    QList<double> fullCpu;
    qsizetype length = 0;
    for (int i = 0; i < 15; ++i) {
        timer.restart();
        const double cpu = threadCpuMs();
        length = Delta::toText(DeltaConversion::writeDocument(editor.document())).size();
        fullCpu.append(threadCpuMs() - cpu);
        full.append(timer.nsecsElapsed() / 1e6);
    }
    out << "whole-document conversion (toJson of " << length / 1024 << " KiB): median "
        << median(full) << " ms wall, " << median(fullCpu) << " ms cpu (15 runs)\n";

    // What the owner does when the autosave fires: take the content and store it through the
    // one write path (note row, search text, commit) in its own temporary data directory.
    TestDatabase database;
    if (!database.isValid()) {
        out << "save: no test database\n";
        return 1;
    }
    NoteRepository notes(database.database());
    NotebookRepository notebooks(database.database());
    NoteWriter writer(database.database(), &notes, &notebooks);
    Note note = TestDatabase::makeNote(body);
    if (!notes.insert(note)) {
        out << "save: insert failed\n";
        return 1;
    }
    QList<double> saves;
    QList<double> extraction;
    QList<double> extractionCpu;
    QList<double> writes;
    QList<double> writesCpu;
    editor.content(); // the first conversion after loading converts every paragraph
    // A keystroke in the middle of the note and one at its end: two paragraphs changed.
    const auto typeTwoKeys = [&editor](char middleKey, char endKey) {
        QTextCursor middle(
            editor.document()->findBlockByNumber(editor.document()->blockCount() / 2));
        middle.insertText(QString(QLatin1Char(middleKey)));
        QTest::keyClick(&editor, endKey);
        QApplication::processEvents();
    };
    for (int i = 0; i < 15; ++i) {
        typeTwoKeys('m', 'x');
        timer.restart();
        double cpu = threadCpuMs();
        const QString content = editor.content();
        extractionCpu.append(threadCpuMs() - cpu);
        extraction.append(timer.nsecsElapsed() / 1e6);
        QElapsedTimer write;
        write.start();
        cpu = threadCpuMs();
        if (!writer.saveBody(note, content)) {
            out << "save failed\n";
            return 1;
        }
        writesCpu.append(threadCpuMs() - cpu);
        writes.append(write.nsecsElapsed() / 1e6);
        saves.append(timer.nsecsElapsed() / 1e6);
    }
    out << "autosave content extraction after two edits: median " << median(extraction)
        << " ms wall, " << median(extractionCpu) << " ms cpu (15 runs)\n";
    out << "autosave of the " << length / 1024 << " KiB note, content and database write: median "
        << median(saves) << " ms, worst " << *std::max_element(saves.cbegin(), saves.cend())
        << " ms (15 runs); database write alone: median " << median(writes) << " ms wall, "
        << median(writesCpu) << " ms cpu\n";

    // The same autosave as the window makes it for a note this large: the content, the stored
    // note (which waits for a write still pending), and the write handed to the background
    // writer. Timed on the GUI thread; then until the write is reported back.
    QList<double> handOvers;
    QList<double> handOversCpu;
    QList<double> committed;
    for (int i = 0; i < 15; ++i) {
        typeTwoKeys('b', 'y');
        timer.restart();
        const double cpu = threadCpuMs();
        const QString content = editor.content();
        const std::optional<Note> stored = notes.noteById(note.id);
        bool done = false;
        bool saved = false;
        if (!stored || !writer.saveBodyInBackground(*stored, content, [&](bool ok, const Note &) {
                saved = ok;
                done = true;
            })) {
            out << "background save not started\n";
            return 1;
        }
        handOversCpu.append(threadCpuMs() - cpu);
        handOvers.append(timer.nsecsElapsed() / 1e6);
        QDeadlineTimer deadline(10000);
        while (!done && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!saved) {
            out << "background save failed\n";
            return 1;
        }
        committed.append(timer.nsecsElapsed() / 1e6);
    }
    note = *notes.noteById(note.id);
    out << "autosave in the background: GUI thread median " << median(handOvers) << " ms wall, "
        << median(handOversCpu) << " ms cpu, worst "
        << *std::max_element(handOvers.cbegin(), handOvers.cend())
        << " ms; committed and reported after a median " << median(committed) << " ms\n";

    // Of the write, the plain-text search row (title and text extracted, FTS row replaced).
    QList<double> searchRows;
    for (int i = 0; i < 5; ++i) {
        const double cpu = threadCpuMs();
        SearchIndex::write(database.database()->connection(), note.id, note.body);
        searchRows.append(threadCpuMs() - cpu);
    }
    QList<double> texts;
    for (int i = 0; i < 5; ++i) {
        const double cpu = threadCpuMs();
        const SearchableText text = searchableText(note.body);
        texts.append(threadCpuMs() - cpu);
        Q_UNUSED(text);
    }
    out << "of which the plain-text search row: median " << median(searchRows)
        << " ms cpu, its text extraction alone " << median(texts) << " ms cpu\n";
    return 0;
}
