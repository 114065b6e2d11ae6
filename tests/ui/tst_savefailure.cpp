#include "appstate.h"
#include "backgroundwriter.h"
#include "database.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "noteeditor.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "notewindow.h"
#include "notewriter.h"
#include "recoveryfile.h"
#include "snapshotrepository.h"
#include "startupprompts.h"
#include "statusbar.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"

#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

// Saves the database refuses, driven through the main window: the text stays, the user is
// told why, and it reaches the database once it can, or comes back at the next start.
class tst_SaveFailure : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void largeNoteIsSavedInTheBackground();
    void failedSaveKeepsTextUntilTheDatabaseTakesIt_data();
    void failedSaveKeepsTextUntilTheDatabaseTakesIt();
    void keptTextComesBackAtNextStart_data();
    void keptTextComesBackAtNextStart();

private:
    void startState();
    std::unique_ptr<MainWindow> makeWindow();
    QString addNote(const QString &text);
    QString storedBody(const QString &noteId) const;

    std::unique_ptr<TestDataDir> m_dataDir;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<AppState> m_state;
};

void tst_SaveFailure::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void tst_SaveFailure::init()
{
    m_dataDir = std::make_unique<TestDataDir>();
    QVERIFY(m_dataDir->isValid());
    m_settingsDir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir->path());
    startState();
    for (const Note &note : m_state->notes()->allNotes())
        QVERIFY(m_state->notes()->purge(note.id));
}

void tst_SaveFailure::cleanup()
{
    m_state.reset();
    m_settingsDir.reset();
    m_dataDir.reset();
}

void tst_SaveFailure::startState()
{
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
}

std::unique_ptr<MainWindow> tst_SaveFailure::makeWindow()
{
    auto window = std::make_unique<MainWindow>(m_state.get());
    window->show();
    return window;
}

QString tst_SaveFailure::addNote(const QString &text)
{
    const Note note = TestDatabase::makeNote(bodyOf(text));
    return m_state->notes()->insert(note) ? note.id : QString();
}

QString tst_SaveFailure::storedBody(const QString &noteId) const
{
    const std::optional<Note> note = m_state->notes()->noteById(noteId);
    return note ? note->body : QString();
}

// Far beyond the free pages a fresh collection has, so the full-disk fault bites.
static QString longText()
{
    return QStringLiteral("Minutes of the long meeting. ").repeated(8000);
}

void tst_SaveFailure::largeNoteIsSavedInTheBackground()
{
    const QString older = addNote(QStringLiteral("Older"));
    const QString id = addNote(QStringLiteral("Agenda"));
    auto window = makeWindow();
    window->noteList()->selectNote(older);
    window->noteList()->selectNote(id);
    NoteEditor *editor = window->editor();
    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText(longText().repeated(2));
    QTest::keyClicks(editor, QStringLiteral("Decided"));
    // The autosave hands the write over and returns: when the window's own handler is done the
    // write is still pending, and nothing is stored yet.
    bool pendingAfterAutosave = false;
    QString storedThen;
    connect(editor, &NoteEditor::noteModified, this, [&] {
        BackgroundWriter *writer = m_state->database()->backgroundWriter();
        pendingAfterAutosave = writer && writer->isPending();
    });
    QTRY_VERIFY_WITH_TIMEOUT(pendingAfterAutosave, NoteEditor::AutosaveDelayMs + 2000);
    // Whatever reads the database next sees the note as typed; once the write is reported the
    // editor and the status bar say saved and the list has the note on top.
    QCOMPARE(storedBody(id), editor->content());
    QTRY_VERIFY(editor->isSaved());
    QCOMPARE(window->noteStatusBar()->saveState(), StatusBar::Saved);
    QTRY_COMPARE(window->noteList()->noteIdAt(0), id);
    // Typing on and switching away: the pending write finishes first and the next is stored.
    QTest::keyClicks(editor, QStringLiteral(" today"));
    const QString typed = editor->content();
    window->noteList()->selectNote(older);
    QCOMPARE(storedBody(id), typed);
    QVERIFY(!m_state->recoveryFile()->exists());
}

void tst_SaveFailure::failedSaveKeepsTextUntilTheDatabaseTakesIt_data()
{
    QTest::addColumn<int>("faultValue");
    QTest::addColumn<bool>("inNoteWindow");
    QTest::addColumn<bool>("large"); // saved by the background writer
    QTest::addRow("disk full") << int(WriteError::Kind::DiskFull) << false << false;
    QTest::addRow("read-only database") << int(WriteError::Kind::ReadOnly) << false << false;
    QTest::addRow("locked by another program") << int(WriteError::Kind::Locked) << false << false;
    QTest::addRow("disk full, note window") << int(WriteError::Kind::DiskFull) << true << false;
    QTest::addRow("disk full, large note") << int(WriteError::Kind::DiskFull) << false << true;
    QTest::addRow("read-only database, large note")
        << int(WriteError::Kind::ReadOnly) << false << true;
    QTest::addRow("locked by another program, large note")
        << int(WriteError::Kind::Locked) << false << true;
    QTest::addRow("disk full, large note, note window")
        << int(WriteError::Kind::DiskFull) << true << true;
}

void tst_SaveFailure::failedSaveKeepsTextUntilTheDatabaseTakesIt()
{
    QFETCH(int, faultValue);
    QFETCH(bool, inNoteWindow);
    QFETCH(bool, large);
    const auto fault = WriteError::Kind(faultValue);
    const QString id = addNote(QStringLiteral("Agenda"));
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<NoteWindow> noteWindow;
    NoteEditor *editor = nullptr;
    StatusBar *status = nullptr;
    if (inNoteWindow) {
        noteWindow.reset(NoteWindow::createForNote(m_state.get(), id));
        QVERIFY(noteWindow);
        noteWindow->show();
        editor = noteWindow->editor();
        status = noteWindow->noteStatusBar();
    } else {
        mainWindow = makeWindow();
        mainWindow->noteList()->selectNote(id);
        editor = mainWindow->editor();
        status = mainWindow->noteStatusBar();
    }
    QCOMPARE(editor->noteId(), id);
    const QString before = storedBody(id);
    OtherProgramLock otherProgram;
    if (fault == WriteError::Kind::Locked) {
        if (!OtherProgramLock::toolAvailable())
            QSKIP("the sqlite3 tool is not installed");
        QVERIFY(otherProgram.hold(m_state->database()->connection().databaseName()));
    } else {
        QVERIFY(setWriteFault(m_state->database(), fault));
    }

    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText(large ? longText().repeated(2) : longText());
    QTest::keyClicks(editor, QStringLiteral("Decided"));
    const QString typed = editor->content();
    QVERIFY(typed.contains(QLatin1String("meeting. Decided")));
    QCOMPARE(typed.size() >= NoteWriter::BackgroundSaveFrom, large);

    WriteError expected;
    expected.kind = fault;
    QTRY_VERIFY_WITH_TIMEOUT(
        status->saveAndWordsText().startsWith(StatusBar::saveFailureText(expected)), 4000);
    QCOMPARE(status->saveState(), StatusBar::NotSaved);
    QCOMPARE(storedBody(id), before);
    QVERIFY(!editor->isSaved());
    QCOMPARE(editor->content(), typed);

    // More typing while it fails: still not saved, and still saying so.
    QSignalSpy attempts(editor, &NoteEditor::noteModified);
    QTest::keyClicks(editor, QStringLiteral(" today"));
    QTRY_COMPARE_WITH_TIMEOUT(attempts.count(), 1, NoteEditor::AutosaveDelayMs + 2000);
    QVERIFY(status->saveAndWordsText().startsWith(StatusBar::saveFailureText(expected)));
    QVERIFY(!editor->isSaved());

    // Space freed, the file made writable or the other program done: the retry stores it
    // without another keystroke.
    QVERIFY(fault == WriteError::Kind::Locked
            ? otherProgram.release()
            : setWriteFault(m_state->database(), WriteError::Kind::None));
    QTRY_COMPARE_WITH_TIMEOUT(storedBody(id), editor->content(), NoteEditor::SaveRetryMs + 2000);
    QVERIFY(storedBody(id).contains(QLatin1String("Decided today")));
    QTRY_VERIFY(editor->isSaved());
    QTRY_COMPARE(status->saveState(), StatusBar::Saved);
    QVERIFY(!m_state->recoveryFile()->exists());
}

void tst_SaveFailure::keptTextComesBackAtNextStart_data()
{
    QTest::addColumn<bool>("leaveByClosing");
    QTest::addColumn<QString>("meanwhile"); // what happens to the note before the restart
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("intoNote");

    QTest::addRow("switch away, note unchanged: into the note")
        << false << QString() << int(QMessageBox::Yes) << true;
    QTest::addRow("close, note saved again elsewhere: as a new note")
        << true << QStringLiteral("saved") << int(QMessageBox::Save) << false;
    QTest::addRow("close, note purged: as a new note")
        << true << QStringLiteral("purged") << int(QMessageBox::Save) << false;
    QTest::addRow("switch away, answered later: kept for the next start")
        << false << QString() << int(QMessageBox::Close) << false;
}

void tst_SaveFailure::keptTextComesBackAtNextStart()
{
    QFETCH(bool, leaveByClosing);
    QFETCH(QString, meanwhile);
    QFETCH(int, answer);
    QFETCH(bool, intoNote);

    const QString id = addNote(QStringLiteral("Packing list"));
    const QString other = addNote(QStringLiteral("Other note"));
    const QString original = storedBody(id);
    {
        auto window = makeWindow();
        window->noteList()->selectNote(id);
        QVERIFY(setWriteFault(m_state->database(), WriteError::Kind::ReadOnly));
        window->editor()->moveCursor(QTextCursor::End);
        QTest::keyClicks(window->editor(), QStringLiteral("Passport"));
        QTRY_VERIFY(window->editor()->saveFailed());
        if (leaveByClosing) {
            QVERIFY(window->close());
        } else {
            window->noteList()->selectNote(other);
            QCOMPARE(window->editor()->noteId(), other);
        }
    }
    QCOMPARE(storedBody(id), original);
    const QList<RecoveryFile::Entry> kept = m_state->recoveryFile()->entries();
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.first().noteId, id);
    QVERIFY(kept.first().body.contains(QLatin1String("Passport")));

    // The next run: a fresh connection, which takes writes again.
    m_state.reset();
    startState();
    const QString newer = bodyOf(QStringLiteral("Packing list, edited on the phone"));
    if (meanwhile == QLatin1String("saved"))
        QVERIFY(m_state->writer()->saveBody(id, newer));
    else if (meanwhile == QLatin1String("purged"))
        QVERIFY(m_state->notes()->purge(id));
    const int notesBefore = m_state->notes()->allNotes().size();

    QString text;
    ModalScript script({ answerBox(QMessageBox::StandardButton(answer), nullptr, &text) });
    const int restored = StartupPrompts::offerUnsavedNotes(
        m_state.get(), [](const RecoveryFile::Entry &entry, const std::optional<Note> &stored) {
            return StartupPrompts::askUnsavedNote(entry, stored, nullptr);
        });
    QCOMPARE(script.done(), 1);
    QVERIFY2(text.contains(QLatin1String("Packing list")), qPrintable(text));

    if (answer == QMessageBox::Close) {
        QCOMPARE(restored, 0);
        QCOMPARE(m_state->recoveryFile()->entries().size(), 1);
        QCOMPARE(storedBody(id), original);
        return;
    }
    QCOMPARE(restored, 1);
    QVERIFY(!m_state->recoveryFile()->exists());
    if (intoNote) {
        QVERIFY(storedBody(id).contains(QLatin1String("Passport")));
        // What the note held before is in its history.
        const QList<Snapshot> history = m_state->snapshots()->snapshotsForNote(id);
        QVERIFY(std::any_of(history.cbegin(), history.cend(),
            [&](const Snapshot &snapshot) { return snapshot.body == original; }));
        QCOMPARE(m_state->notes()->allNotes().size(), notesBefore);
        return;
    }
    // Never over a newer body: the note keeps what it has, the kept text is a note of its own.
    if (meanwhile == QLatin1String("saved"))
        QCOMPARE(storedBody(id), newer);
    QCOMPARE(m_state->notes()->allNotes().size(), notesBefore + 1);
    int copies = 0;
    for (const Note &note : m_state->notes()->allNotes())
        copies += note.body.contains(QLatin1String("Passport")) ? 1 : 0;
    QCOMPARE(copies, 1);
}

QTEST_MAIN(tst_SaveFailure)
#include "tst_savefailure.moc"
