// Expected texts read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "appstate.h"
#include "database.h"
#include "deltaformat.h"
#include "editortoolbar.h"
#include "modalanswers.h"
#include "noteeditor.h"
#include "noteheaderbar.h"
#include "noterepository.h"
#include "notetext.h"
#include "notewindow.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "snapshotrepository.h"
#include "statusbar.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUuid>

#include <memory>

namespace {

QAction *menuAction(QMainWindow *window, const QString &menuTitle, const QString &text)
{
    for (QAction *menuEntry : window->menuBar()->actions()) {
        if (menuEntry->text() != menuTitle || !menuEntry->menu())
            continue;
        for (QAction *action : menuEntry->menu()->actions()) {
            if (action->text() == text)
                return action;
        }
    }
    return nullptr;
}

} // namespace

class TestNoteWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void savesEditsAsNewPendingVersion();
    void otherViewFollowsEdits_data();
    void otherViewFollowsEdits();
    void reloadsOnlyForItsOwnNote_data();
    void reloadsOnlyForItsOwnNote();
    void closingSavesAndForgetsWindow();
    void closingEmptyNote_data();
    void closingEmptyNote();
    void openingTwiceRaisesOneWindow();
    void noWindowForMissingNote_data();
    void noWindowForMissingNote();
    void restoreOpensListedWindows();
    void geometryRememberedPerNote();
    void unreadableGeometryOpensDefaultSize_data();
    void unreadableGeometryOpensDefaultSize();
    void trashedElsewhereClosesWindow_data();
    void trashedElsewhereClosesWindow();
    void headerDeleteAsksMenuDoesNot_data();
    void headerDeleteAsksMenuDoesNot();
    void sharedNotePermission_data();
    void sharedNotePermission();
    void titleFollowsSavedText();

private:
    QString addNote(const QString &text, SyncStatus status = SyncStatus::Pending,
        const QString &ownerId = QString(), const QString &permission = QString());
    Note stored(const QString &id) const { return *m_state->notes()->noteById(id); }
    NoteWindow *openWindow(const QString &id)
    {
        return qobject_cast<NoteWindow *>(m_state->openNoteWindow(id));
    }
    void type(NoteWindow *window, const QString &text);

    std::unique_ptr<TestDataDir> m_dir;
    std::unique_ptr<AppState> m_state;
};

void TestNoteWindow::init()
{
    m_dir = std::make_unique<TestDataDir>();
    QVERIFY(m_dir->isValid());
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
    m_state->setNoteWindowFactory([](AppState *state, const QString &noteId) -> QWidget * {
        return NoteWindow::createForNote(state, noteId);
    });
}

void TestNoteWindow::cleanup()
{
    // Closing windows save into the store, so they go before the state.
    m_state.reset();
    m_dir.reset();
}

QString TestNoteWindow::addNote(
    const QString &text, SyncStatus status, const QString &ownerId, const QString &permission)
{
    Note note = TestDatabase::makeNote(bodyOf(text));
    note.ownerId = ownerId;
    note.permission = permission;
    if (!m_state->notes()->insert(note))
        return QString();
    if (status == SyncStatus::Synced)
        m_state->notes()->markSynced(note.id, note.version);
    return note.id;
}

void TestNoteWindow::type(NoteWindow *window, const QString &text)
{
    window->editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(window->editor(), text);
}

void TestNoteWindow::savesEditsAsNewPendingVersion()
{
    const QString id = addNote("Groceries", SyncStatus::Synced);
    QCOMPARE(stored(id).syncStatus, SyncStatus::Synced);
    const int version = stored(id).version;
    const QDateTime before = stored(id).updatedAt;

    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);
    QSignalSpy updated(m_state.get(), &AppState::noteUpdatedExternally);
    type(window, " and milk");

    // The editor's own autosave writes it.
    QTRY_COMPARE(noteTitle(stored(id).body), QString("Groceries and milk"));
    const Note after = stored(id);
    QCOMPARE(after.version, version + 1);
    QCOMPARE(after.syncStatus, SyncStatus::Pending);
    QVERIFY(after.updatedAt >= before);
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.at(0).at(0).toString(), id);
    QCOMPARE(updated.at(0).at(1).value<QObject *>(), window.data());
}

void TestNoteWindow::reloadsOnlyForItsOwnNote_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<bool>("reloads");
    QTest::addRow("another note's body") << "other body" << false;
    QTest::addRow("another note trashed") << "other trashed" << false;
    QTest::addRow("own note moved") << "own moved" << true;
    QTest::addRow("its notebook renamed") << "notebook renamed" << false;
}

void TestNoteWindow::reloadsOnlyForItsOwnNote()
{
    QFETCH(QString, write);
    QFETCH(bool, reloads);
    const QString id = addNote("Shown");
    const QString otherId = addNote("Elsewhere");
    const QString book = m_state->writer()->createNotebook("Box")->id;
    QVERIFY(m_state->writer()->moveNote(id, book));
    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);

    // Changed behind every signal: only a window that re-reads its note can show this.
    QSqlQuery query(m_state->database()->connection());
    query.prepare("UPDATE notes SET body = ? WHERE id = ?");
    query.addBindValue(bodyOf("Shown silently"));
    query.addBindValue(id);
    QVERIFY(query.exec());

    if (write == "other body")
        QVERIFY(m_state->writer()->saveBody(otherId, bodyOf("Elsewhere changed")));
    else if (write == "other trashed")
        QVERIFY(m_state->writer()->trashNote(otherId));
    else if (write == "own moved")
        QVERIFY(m_state->writer()->moveNote(id, QString()));
    else
        QVERIFY(m_state->writer()->renameNotebook(book, "Crate"));

    QCOMPARE(window->editor()->toPlainText().trimmed(),
        reloads ? QString("Shown silently") : QString("Shown"));
    const QString chip = window->headerBar()->notebookChip()->text();
    if (write == "notebook renamed")
        QVERIFY2(chip.contains("Crate"), qPrintable(chip));
    else if (write == "own moved")
        QVERIFY2(!chip.contains("Box"), qPrintable(chip));
}

void TestNoteWindow::otherViewFollowsEdits_data()
{
    QTest::addColumn<bool>("otherHasUnsavedEdits");
    QTest::addRow("clean view reloads") << false;
    QTest::addRow("view with unsaved edits keeps them") << true;
}

void TestNoteWindow::otherViewFollowsEdits()
{
    QFETCH(bool, otherHasUnsavedEdits);
    const QString id = addNote("Plan");

    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);
    // A second view of the same note, as another window would show it.
    QPointer<NoteWindow> other = new NoteWindow(m_state.get(), id);
    other->show();
    if (otherHasUnsavedEdits)
        type(other, " mine");

    type(window, " theirs");
    window->saveNote();
    QCOMPARE(noteTitle(stored(id).body), QString("Plan theirs"));

    if (!otherHasUnsavedEdits) {
        QCOMPARE(other->editor()->toPlainText().trimmed(), QString("Plan theirs"));
        QVERIFY(other->editor()->isSaved());
    } else {
        QCOMPARE(other->editor()->toPlainText().trimmed(), QString("Plan mine"));
        // Its own autosave then wins, and the version it replaced stays in the history.
        QTRY_COMPARE(noteTitle(stored(id).body), QString("Plan mine"));
        bool kept = false;
        for (const Snapshot &snapshot : m_state->snapshots()->snapshotsForNote(id))
            kept = kept || noteTitle(snapshot.body) == QString("Plan theirs");
        QVERIFY(kept);
        // And the first window, with nothing unsaved, shows the winner.
        QTRY_COMPARE(window->editor()->toPlainText().trimmed(), QString("Plan mine"));
    }
    other->close();
    QTRY_VERIFY(!other);
}

void TestNoteWindow::closingSavesAndForgetsWindow()
{
    const QString id = addNote("Letter");
    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);
    QCOMPARE(m_state->openNoteWindowIds(), QStringList { id });
    QSignalSpy closed(window.data(), &NoteWindow::windowClosed);

    type(window, " draft");
    QVERIFY(!window->editor()->isSaved());
    window->close();

    QCOMPARE(closed.count(), 1);
    QCOMPARE(closed.at(0).at(0).toString(), id);
    QCOMPARE(noteTitle(stored(id).body), QString("Letter draft"));
    QVERIFY(m_state->openNoteWindowIds().isEmpty());
    // The body differs from the one loaded, so closing kept a snapshot of it.
    const QList<Snapshot> snapshots = m_state->snapshots()->snapshotsForNote(id);
    QCOMPARE(snapshots.size(), 1);
    QCOMPARE(noteTitle(snapshots.first().body), QString("Letter draft"));
    QTRY_VERIFY(!window);
}

void TestNoteWindow::closingEmptyNote_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("synced");
    QTest::addColumn<bool>("expectExists");
    QTest::addColumn<bool>("expectTrashed");
    QTest::addRow("new untouched note is removed") << QString() << false << false << false;
    QTest::addRow("synced empty note goes to the trash") << QString() << true << true << true;
    QTest::addRow("blank lines only count as empty") << QString("   ") << false << false << false;
    QTest::addRow("note with text stays") << QString("Keep me") << false << true << false;
}

void TestNoteWindow::closingEmptyNote()
{
    QFETCH(QString, text);
    QFETCH(bool, synced);
    QFETCH(bool, expectExists);
    QFETCH(bool, expectTrashed);
    const QString id = addNote(text, synced ? SyncStatus::Synced : SyncStatus::Pending);
    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);
    window->close();

    const std::optional<Note> note = m_state->notes()->noteById(id);
    QCOMPARE(bool(note), expectExists);
    if (note)
        QCOMPARE(bool(note->deletedAt), expectTrashed);
    const QString geometryKey = QString("note_window_geom/%1").arg(id);
    QCOMPARE(
        m_state->preferences()->value(geometryKey).has_value(), expectExists && !expectTrashed);
    QVERIFY(m_state->openNoteWindowIds().isEmpty());
}

void TestNoteWindow::openingTwiceRaisesOneWindow()
{
    const QString id = addNote("Once");
    QWidget *first = m_state->openNoteWindow(id);
    QVERIFY(first);
    QCOMPARE(m_state->openNoteWindow(id), first);
    int windows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        windows += qobject_cast<NoteWindow *>(widget) && widget->isVisible() ? 1 : 0;
    QCOMPARE(windows, 1);

    QPointer<QWidget> guard = first;
    first->close();
    QTRY_VERIFY(!guard);
    QWidget *third = m_state->openNoteWindow(id);
    QVERIFY(third);
    QCOMPARE(m_state->openNoteWindowIds(), QStringList { id });
}

void TestNoteWindow::noWindowForMissingNote_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("unknown id") << "unknown";
    QTest::addRow("empty id") << "empty";
    QTest::addRow("note in the trash") << "trashed";
    QTest::addRow("path-like id") << "path";
}

void TestNoteWindow::noWindowForMissingNote()
{
    QFETCH(QString, kind);
    QString id;
    if (kind == "unknown")
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    else if (kind == "trashed") {
        id = addNote("Old");
        QVERIFY(m_state->notes()->softDelete(id));
    } else if (kind == "path")
        id = "../../etc/passwd";

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^NoteWindow: "));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^AppState: could not open"));
    QCOMPARE(m_state->openNoteWindow(id), nullptr);
    QVERIFY(m_state->openNoteWindowIds().isEmpty());
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<NoteWindow *>(widget) || !widget->isVisible());
}

void TestNoteWindow::restoreOpensListedWindows()
{
    const QString first = addNote("First");
    const QString second = addNote("Second");
    const QString missing = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_state->preferences()->setValue(
        "restore_note_windows", QString("%1,,%2,%3").arg(first, second, missing));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^NoteWindow: no note with id"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^AppState: could not open"));
    m_state->restoreNoteWindows();

    QStringList ids = m_state->openNoteWindowIds();
    ids.sort();
    QStringList expected { first, second };
    expected.sort();
    QCOMPARE(ids, expected);
    QVERIFY(!m_state->preferences()->value("restore_note_windows"));
    auto *window = qobject_cast<NoteWindow *>(m_state->openNoteWindow(second));
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QString("Second — Brevaro Notes"));
}

void TestNoteWindow::geometryRememberedPerNote()
{
    const QString a = addNote("Wide");
    const QString b = addNote("Narrow");

    NoteWindow *window = openWindow(a);
    QVERIFY(window);
    QCOMPARE(window->size(), QSize(960, 760));
    window->resize(700, 500);
    window->close();
    NoteWindow *other = openWindow(b);
    QVERIFY(other);
    other->resize(640, 420);
    other->close();
    QVERIFY(m_state->preferences()->value(QString("note_window_geom/%1").arg(a)));

    window = openWindow(a);
    QCOMPARE(window->size(), QSize(700, 500));
    other = openWindow(b);
    QCOMPARE(other->size(), QSize(640, 420));
}

void TestNoteWindow::unreadableGeometryOpensDefaultSize_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addRow("not base64") << "%%% not base64 %%%";
    QTest::addRow("base64 of garbage") << QString::fromLatin1(QByteArray("garbage").toBase64());
}

void TestNoteWindow::unreadableGeometryOpensDefaultSize()
{
    QFETCH(QString, stored);
    const QString id = addNote("Odd");
    m_state->preferences()->setValue(QString("note_window_geom/%1").arg(id), stored);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
    NoteWindow *window = openWindow(id);
    QVERIFY(window);
    QCOMPARE(window->size(), QSize(960, 760));
}

void TestNoteWindow::trashedElsewhereClosesWindow_data()
{
    QTest::addColumn<bool>("unsavedEdits");
    QTest::addRow("no unsaved edits") << false;
    QTest::addRow("unsaved edits go with the note") << true;
}

void TestNoteWindow::trashedElsewhereClosesWindow()
{
    QFETCH(bool, unsavedEdits);
    const QString id = addNote("Trip");
    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);
    QSignalSpy closed(window.data(), &NoteWindow::windowClosed);
    if (unsavedEdits)
        type(window, " notes");

    QVERIFY(m_state->notes()->softDelete(id));

    QCOMPARE(closed.count(), 1);
    QVERIFY(m_state->openNoteWindowIds().isEmpty());
    QTRY_VERIFY(!window);
    const Note note = stored(id);
    QVERIFY(note.deletedAt);
    QCOMPARE(noteTitle(note.body), unsavedEdits ? QString("Trip notes") : QString("Trip"));
}

void TestNoteWindow::headerDeleteAsksMenuDoesNot_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("expectAsked");
    QTest::addColumn<bool>("expectTrashed");
    QTest::addRow("header, answered No") << "header-no" << true << false;
    QTest::addRow("header, answered Yes") << "header-yes" << true << true;
    QTest::addRow("Note menu entry") << "menu" << false << true;
}

void TestNoteWindow::headerDeleteAsksMenuDoesNot()
{
    QFETCH(QString, route);
    QFETCH(bool, expectAsked);
    QFETCH(bool, expectTrashed);
    const QString id = addNote("Receipts");
    QPointer<NoteWindow> window = openWindow(id);
    QVERIFY(window);

    MessageBoxAnswerer answerer(route == "header-yes" ? QMessageBox::Yes : QMessageBox::No);
    if (route == "menu") {
        QAction *action = menuAction(window, "&Note", "Move to Trash");
        QVERIFY(action);
        QCOMPARE(action->shortcut(), QKeySequence("Ctrl+Backspace"));
        action->trigger();
    } else {
        window->headerBar()->deleteAction()->trigger();
    }

    QCOMPARE(answerer.shown(), expectAsked ? 1 : 0);
    if (expectAsked) {
        QCOMPARE(answerer.title(), QString("Move to Trash"));
        QCOMPARE(answerer.text(), QString("Move \"Receipts\" to Trash?"));
    }
    QCOMPARE(bool(stored(id).deletedAt), expectTrashed);
    if (expectTrashed)
        QTRY_VERIFY(!window);
    else
        QVERIFY(window && window->isVisible());
}

void TestNoteWindow::sharedNotePermission_data()
{
    QTest::addColumn<QString>("ownerId");
    QTest::addColumn<QString>("permission");
    QTest::addColumn<bool>("editable");
    QTest::addRow("own note") << QString() << QString() << true;
    QTest::addRow("shared with edit permission") << "someone"
                                                 << "edit" << true;
    QTest::addRow("shared read only") << "someone"
                                      << "view" << false;
}

void TestNoteWindow::sharedNotePermission()
{
    QFETCH(QString, ownerId);
    QFETCH(QString, permission);
    QFETCH(bool, editable);
    const QString id = addNote("Shared", SyncStatus::Pending, ownerId, permission);
    NoteWindow *window = openWindow(id);
    QVERIFY(window);
    QCOMPARE(window->editor()->isReadOnly(), !editable);
    QCOMPARE(window->toolbar()->isEnabled(), editable);
    QCOMPARE(window->headerBar()->hasNote(), editable);
    QCOMPARE(window->headerBar()->moreButton()->isEnabled(), editable);

    // Typing into a read-only note changes nothing in the store, even on close.
    type(window, " extra");
    const QString expected = editable ? QString("Shared extra") : QString("Shared");
    QPointer<NoteWindow> guard = window;
    window->close();
    QCOMPARE(noteTitle(stored(id).body), expected);
}

void TestNoteWindow::titleFollowsSavedText()
{
    const QString id = addNote(QString());
    NoteWindow *window = openWindow(id);
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QString("Untitled — Brevaro Notes"));
    QCOMPARE(window->headerBar()->notebookChip()->text(), QString("No notebook"));
    QCOMPARE(window->noteStatusBar()->locationText(), QString("No notebook"));
    type(window, "Weekend");
    QTRY_COMPARE(window->windowTitle(), QString("Weekend — Brevaro Notes"));
}

QTEST_MAIN(TestNoteWindow)
#include "tst_notewindow.moc"
