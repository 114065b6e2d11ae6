#include "appstate.h"
#include "editortoolbar.h"
#include "findbar.h"
#include "importdialog.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "movetonotebookdialog.h"
#include "notebook.h"
#include "notebookdialog.h"
#include "notebooklistwidget.h"
#include "notebookrepository.h"
#include "noteeditor.h"
#include "noteheaderbar.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "notetext.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "readablecolumn.h"
#include "snapshotrepository.h"
#include "statusbar.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"
#include "todosscreen.h"
#include "versionhistorydialog.h"
#include "welcomescreen.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {

void clickOk(QWidget *dialog)
{
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void newNoteThenTypingIsStoredAndListedFirst();
    void switchingNotesSavesAndSnapshots();
    void headerDateFollowsAutosave();
    void noteLinkOpensTheLinkedNote_data();
    void noteLinkOpensTheLinkedNote();
    void themeSwitchRecoloursOpenNote();
    void searchFieldFiltersAfterDebounceInRankOrder();
    void searchShowsMatchesInPreviewAndOpenedNote_data();
    void searchShowsMatchesInPreviewAndOpenedNote();
    void deleteKeyMovesToTrashAndUpdatesCounts();
    void trashingKeepsUnsavedEdits_data();
    void trashingKeepsUnsavedEdits();
    void saveSnapshotKeepsTheSavedBody();
    void confirmedTrashNamesTheNote_data();
    void confirmedTrashNamesTheNote();
    void droppingNoteOnNotebookKeepsUpdatedAt();
    void listFollowsWritesFromEverywhere();
    void focusModeHidesListsAndIsRemembered();
    void stenoModeReversesOnlyTheUnsearchedList();
    void geometryAndPaneSizesSurviveRestart();
    void malformedSplitterSizesAreIgnored_data();
    void malformedSplitterSizesAreIgnored();
    void findBarCountsStepsAndCloses();
    void welcomePageUntilANoteIsOpen();
    void closingWithoutTrayQuits();
    void quitRemembersTodosWindow();
    void moveShortcutMovesOpenNoteThroughDialog();
    void noteContextMenuTrashesClickedNote_data();
    void noteContextMenuTrashesClickedNote();
    void newNotebookRowCreatesNotebookThroughDialog();
    void versionHistoryRestoreReloadsEditor();
    void ctrlIIsItalicInTheEditorAndImportElsewhere();

private:
    std::unique_ptr<MainWindow> makeWindow();
    QString addNote(
        const QString &text, const QDateTime &updated, const QString &notebookId = QString());
    QStringList listedIds(MainWindow &window) const;
    QString addNotebook(const QString &name);

    std::unique_ptr<TestDataDir> m_dataDir;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<AppState> m_state;
};

void tst_MainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Notes"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void tst_MainWindow::init()
{
    m_dataDir = std::make_unique<TestDataDir>();
    QVERIFY(m_dataDir->isValid());
    m_settingsDir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir->path());
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
    // Start from an empty collection, not the welcome notes.
    for (const Note &note : m_state->notes()->allNotes())
        QVERIFY(m_state->notes()->purge(note.id));
}

void tst_MainWindow::cleanup()
{
    m_state.reset();
    m_settingsDir.reset();
    m_dataDir.reset();
}

std::unique_ptr<MainWindow> tst_MainWindow::makeWindow()
{
    auto window = std::make_unique<MainWindow>(m_state.get());
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("main window not active; shortcuts may not reach it");
    return window;
}

QString tst_MainWindow::addNote(
    const QString &text, const QDateTime &updated, const QString &notebookId)
{
    Note note
        = TestDatabase::makeNote(bodyOfLines(text.split(QLatin1Char('\n'))), notebookId, updated);
    note.syncStatus = SyncStatus::Synced;
    if (!m_state->notes()->insert(note))
        return QString();
    return note.id;
}

QString tst_MainWindow::addNotebook(const QString &name)
{
    const Notebook notebook = TestDatabase::makeNotebook(name);
    return m_state->notebooks()->insert(notebook) ? notebook.id : QString();
}

QStringList tst_MainWindow::listedIds(MainWindow &window) const
{
    QStringList ids;
    for (int row = 0; row < window.noteList()->count(); ++row)
        ids.append(window.noteList()->noteIdAt(row));
    return ids;
}

void tst_MainWindow::newNoteThenTypingIsStoredAndListedFirst()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    addNote(QStringLiteral("Older note"), now.addSecs(-600));
    auto window = makeWindow();
    QCOMPARE(window->noteStatusBar()->locationText(), QStringLiteral("All Notes (1 note)"));

    QTest::keySequence(window.get(), QKeySequence(QStringLiteral("Ctrl+N")));
    const QString id = window->editor()->noteId();
    QVERIFY(!id.isEmpty());
    QCOMPARE(window->pages()->currentWidget(), window->editorPage());
    QVERIFY(window->editor()->hasFocus());
    QTest::keyClicks(window->editor(), QStringLiteral("Shopping list"));

    QTRY_COMPARE_WITH_TIMEOUT(m_state->notes()->noteById(id)->version, 2, 3000);
    const Note stored = *m_state->notes()->noteById(id);
    QCOMPARE(stored.syncStatus, SyncStatus::Pending);
    QVERIFY(stored.body.contains(QLatin1String("Shopping list")));
    QCOMPARE(window->noteList()->noteIdAt(0), id);
    QCOMPARE(window->noteList()->model()->index(0, 0).data(NoteListWidget::TitleRole).toString(),
        QStringLiteral("Shopping list"));
    QCOMPARE(window->noteStatusBar()->locationText(), QStringLiteral("All Notes (2 notes)"));
    QTRY_VERIFY(window->noteStatusBar()->saveAndWordsText().startsWith(QLatin1String("Saved")));
    QVERIFY(window->noteStatusBar()->saveAndWordsText().endsWith(QLatin1String("Words: 2")));
}

void tst_MainWindow::switchingNotesSavesAndSnapshots()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString first = addNote(QStringLiteral("First"), now.addSecs(-10));
    const QString second = addNote(QStringLiteral("Second"), now.addSecs(-20));
    auto window = makeWindow();
    window->noteList()->selectNote(first);
    QCOMPARE(window->editor()->noteId(), first);
    QTest::keyClick(window->editor(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(window->editor(), QStringLiteral(" edited"));
    QVERIFY(!window->editor()->isSaved());

    window->noteList()->selectNote(second);
    QCOMPARE(window->editor()->noteId(), second);
    QCOMPARE(m_state->currentNoteId(), second);
    const Note stored = *m_state->notes()->noteById(first);
    QVERIFY(stored.body.contains(QLatin1String("edited")));
    QCOMPARE(stored.version, 2);
    const QList<Snapshot> snapshots = m_state->snapshots()->snapshotsForNote(first);
    QCOMPARE(snapshots.size(), 1);
    QCOMPARE(snapshots.first().body, stored.body);
    QCOMPARE(snapshots.first().version, 2);
    // The edited note moved to the top, the selection stayed on the second one.
    QCOMPARE(listedIds(*window), (QStringList { first, second }));
    QCOMPARE(window->noteList()->currentNoteId(), second);
}

void tst_MainWindow::noteLinkOpensTheLinkedNote_data()
{
    QTest::addColumn<QString>("target"); // "live", "trashed" or an unknown id
    QTest::addColumn<QString>("message"); // the status bar's, "" when a window opens

    QTest::addRow("note in the collection") << "live"
                                            << "";
    QTest::addRow("note in the trash") << "trashed"
                                       << "The linked note is in the trash.";
    QTest::addRow("note not here") << "no-such-note"
                                   << "The linked note is not in this collection.";
}

// A Ctrl+click on a link to another note (as imports write them) opens that note in a window of
// its own; a link to a note that is not there says so instead of asking the desktop.
void tst_MainWindow::noteLinkOpensTheLinkedNote()
{
    QFETCH(QString, target);
    QFETCH(QString, message);

    const std::optional<Note> live
        = m_state->writer()->createNote(QString(), bodyOf(QStringLiteral("Linked")));
    const std::optional<Note> trashed
        = m_state->writer()->createNote(QString(), bodyOf(QStringLiteral("Gone")));
    QVERIFY(live && trashed);
    QVERIFY(m_state->writer()->trashNote(trashed->id));
    const QString id = target == QLatin1String("live") ? live->id
        : target == QLatin1String("trashed")           ? trashed->id
                                                       : target;
    QStringList opened;
    std::vector<std::unique_ptr<QWidget>> windows;
    m_state->setNoteWindowFactory([&](AppState *, const QString &noteId) {
        opened << noteId;
        windows.push_back(std::make_unique<QWidget>());
        return windows.back().get();
    });
    auto window = makeWindow();
    emit window->editor()->noteLinkActivated(id);
    QCOMPARE(opened, message.isEmpty() ? QStringList { id } : QStringList());
    QCOMPARE(window->noteStatusBar()->currentMessage(), message);
}

void tst_MainWindow::headerDateFollowsAutosave()
{
    const QString id
        = addNote(QStringLiteral("Packing"), QDateTime::currentDateTimeUtc().addSecs(-4 * 60));
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    QCOMPARE(window->headerBar()->dateLabel()->text(), QStringLiteral("Updated 4m ago"));

    QTest::keyClick(window->editor(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(window->editor(), QStringLiteral(" list"));
    QTRY_COMPARE_WITH_TIMEOUT(m_state->notes()->noteById(id)->version, 2, 3000);
    QCOMPARE(window->headerBar()->updatedAt(), m_state->notes()->noteById(id)->updatedAt);
    QCOMPARE(window->headerBar()->dateLabel()->text(), QStringLiteral("Updated just now"));
}

void tst_MainWindow::themeSwitchRecoloursOpenNote()
{
    const QString id = addNote(QStringLiteral("Trip"), QDateTime::currentDateTimeUtc());
    Note note = *m_state->notes()->noteById(id);
    note.body
        = QStringLiteral("[{\"insert\":\"guide\",\"attributes\":{\"link\":\"https://a.example\"}},"
                         "{\"insert\":\"\\n\"}]");
    QVERIFY(m_state->notes()->update(note));
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    const auto linkColour = [&window] {
        return window->editor()
            ->document()
            ->begin()
            .begin()
            .fragment()
            .charFormat()
            .foreground()
            .color()
            .name();
    };
    QCOMPARE(linkColour(), QStringLiteral("#1565c0"));

    m_state->preferences()->setValue(QStringLiteral("theme_mode"), QStringLiteral("dark"));
    QCOMPARE(linkColour(), QStringLiteral("#64b5f6"));
    // Only the display changed.
    QCOMPARE(m_state->notes()->noteById(id)->body, note.body);
    QCOMPARE(m_state->notes()->noteById(id)->version, note.version);
    m_state->preferences()->setValue(QStringLiteral("theme_mode"), QStringLiteral("light"));
}

void tst_MainWindow::searchFieldFiltersAfterDebounceInRankOrder()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString weak = addNote(QStringLiteral("Apple pie\nflour butter sugar eggs milk "
                                                "cinnamon nutmeg lemon zest salt"),
        now.addSecs(-10));
    const QString strong = addNote(QStringLiteral("Apple apple\napple"), now.addSecs(-30));
    addNote(QStringLiteral("Banana bread"), now.addSecs(-20));
    auto window = makeWindow();
    QCOMPARE(window->noteList()->count(), 3);

    QTest::keyClicks(window->searchField(), QStringLiteral("appl"));
    // Nothing happens while the user is still typing.
    QCOMPARE(window->noteList()->count(), 3);
    QTRY_COMPARE(window->noteList()->count(), 2);
    QCOMPARE(listedIds(*window), (QStringList { strong, weak }));
    QCOMPARE(window->noteStatusBar()->locationText(), QStringLiteral("All Notes (2 notes)"));

    window->searchField()->clear();
    QTRY_COMPARE(window->noteList()->count(), 3);
}

void tst_MainWindow::searchShowsMatchesInPreviewAndOpenedNote_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("emphasised"); // in the preview, in order
    QTest::addColumn<bool>("passageCut"); // the preview starts at the match, not the text
    QTest::addColumn<int>("found"); // matches the find bar highlights
    QTest::addColumn<QString>("selected"); // the first of them
    const auto u = [](const char *utf8) { return QString::fromUtf8(utf8); };
    QTest::addRow("word far down the note")
        << u("Trip\n") + u("walk ").repeated(60) + u("\npack the kettle") << u("kettle")
        << QStringList { u("kettle") } << true << 1 << u("kettle");
    QTest::addRow("untitled note")
        << u("\n") + u("walk ").repeated(60) + u("\npack the kettle") << u("kettle")
        << QStringList { u("kettle") } << true << 1 << u("kettle");
    QTest::addRow("accents folded, last word a prefix")
        << u("Papers\nMy résumé and two Résumés") << u("resum")
        << QStringList { u("résumé"), u("Résumés") } << false << 2 << u("résumé");
    QTest::addRow("two words, one in the title")
        << u("Kettle\nthe kettle needs descaling") << u("kettle desc")
        << QStringList { u("kettle"), u("descaling") } << false << 3 << u("Kettle");
    QTest::addRow("unspaced script substring")
        << u("旅行\n東京都に行きました") << u("京都") << QStringList { u("京都") } << false << 1
        << u("京都");
}

void tst_MainWindow::searchShowsMatchesInPreviewAndOpenedNote()
{
    QFETCH(QString, text);
    QFETCH(QString, typed);
    QFETCH(QStringList, emphasised);
    QFETCH(bool, passageCut);
    QFETCH(int, found);
    QFETCH(QString, selected);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString id = addNote(text, now);
    addNote(QStringLiteral("Other\nnothing to see"), now.addSecs(-5));
    auto window = makeWindow();
    NoteListWidget *list = window->noteList();

    // Key events carry Latin-1 only; other scripts arrive as an input method would send them.
    if (QString::fromLatin1(typed.toLatin1()) == typed)
        QTest::keyClicks(window->searchField(), typed);
    else
        window->searchField()->insert(typed);
    QTRY_COMPARE(list->count(), 1);
    const QModelIndex row = list->model()->index(0, 0);
    const QString preview = row.data(NoteListWidget::PreviewRole).toString();
    QStringList marked;
    for (const QVariant &match : row.data(NoteListWidget::PreviewMatchesRole).toList())
        marked.append(preview.mid(match.toPoint().x(), match.toPoint().y()));
    QCOMPARE(marked, emphasised);
    QCOMPARE(preview.startsWith(QChar(0x2026)), passageCut);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row).center());
    QCOMPARE(window->editor()->noteId(), id);
    FindBar *bar = window->findBar();
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->field()->text(), typed);
    QCOMPARE(bar->matchCount(), found);
    QCOMPARE(window->editor()->extraSelections().size(), found);
    QCOMPARE(window->editor()->textCursor().selectedText(), selected);
    // Highlighting is not editing.
    QVERIFY(window->editor()->isSaved());

    // Typing in the bar finds the text as written again.
    bar->field()->setText(QStringLiteral("zzz"));
    QCOMPARE(bar->countText(), QStringLiteral("No matches"));
}

void tst_MainWindow::deleteKeyMovesToTrashAndUpdatesCounts()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString first = addNote(QStringLiteral("First"), now.addSecs(-10));
    const QString second = addNote(QStringLiteral("Second"), now.addSecs(-20));
    auto window = makeWindow();
    window->noteList()->selectNote(first);
    window->noteList()->setFocus();
    QTest::keyClick(window->noteList(), Qt::Key_Delete);

    QVERIFY(m_state->notes()->noteById(first)->deletedAt.has_value());
    QCOMPARE(listedIds(*window), QStringList { second });
    QCOMPARE(window->editor()->noteId(), second);
    NotebookListWidget *sidebar = window->notebookList();
    QCOMPARE(sidebar->item(0)->data(NotebookListWidget::CountRole).toInt(), 1);
    QListWidgetItem *trash = sidebar->item(sidebar->count() - 2);
    QCOMPARE(trash->data(NotebookListWidget::KindRole).toInt(), int(NotebookListWidget::TrashKind));
    QCOMPARE(trash->data(NotebookListWidget::CountRole).toInt(), 1);

    // The last note gone, nobody signed in: the welcome page again.
    QTest::keyClick(window->noteList(), Qt::Key_Delete);
    QCOMPARE(window->noteList()->count(), 0);
    QCOMPARE(window->pages()->currentWidget(), window->welcomePage());
}

void tst_MainWindow::trashingKeepsUnsavedEdits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addRow("Ctrl+D, answered yes") << "ctrl+d";
    QTest::addRow("Ctrl+Backspace") << "ctrl+backspace";
    QTest::addRow("Delete in the list") << "delete";
    QTest::addRow("header bar") << "header";
}

void tst_MainWindow::trashingKeepsUnsavedEdits()
{
    QFETCH(QString, path);
    const QString id = addNote(QStringLiteral("Draft"), QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    QCOMPARE(window->editor()->noteId(), id);
    window->editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(window->editor(), QStringLiteral(" with more"));
    QVERIFY(!window->editor()->isSaved());

    std::unique_ptr<MessageBoxAnswerer> answerer;
    if (path == QLatin1String("ctrl+d")) {
        answerer = std::make_unique<MessageBoxAnswerer>(QMessageBox::Yes);
        QTest::keyClick(window->noteList(), Qt::Key_D, Qt::ControlModifier);
    } else if (path == QLatin1String("ctrl+backspace")) {
        QTest::keyClick(window->noteList(), Qt::Key_Backspace, Qt::ControlModifier);
    } else if (path == QLatin1String("delete")) {
        window->noteList()->setFocus();
        QTest::keyClick(window->noteList(), Qt::Key_Delete);
    } else {
        window->headerBar()->deleteAction()->trigger();
    }

    const Note trashed = *m_state->notes()->noteById(id);
    QVERIFY(trashed.deletedAt.has_value());
    QCOMPARE(noteTitle(trashed.body), QStringLiteral("Draft with more"));
}

void tst_MainWindow::saveSnapshotKeepsTheSavedBody()
{
    const QString id = addNote(QStringLiteral("Letter"), QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    window->editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(window->editor(), QStringLiteral(" to Ann"));

    QTest::keyClick(window->editor(), Qt::Key_S, Qt::ControlModifier);
    const Note saved = *m_state->notes()->noteById(id);
    QCOMPARE(noteTitle(saved.body), QStringLiteral("Letter to Ann"));
    const QList<Snapshot> snapshots = m_state->snapshots()->snapshotsForNote(id);
    QCOMPARE(snapshots.size(), 1);
    QCOMPARE(snapshots.first().body, saved.body);
    QCOMPARE(snapshots.first().version, saved.version);

    // Nothing typed since: no second entry.
    QTest::keyClick(window->editor(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(m_state->snapshots()->snapshotsForNote(id).size(), 1);
}

void tst_MainWindow::confirmedTrashNamesTheNote_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QString>("question");

    QTest::addRow("empty title, answered no")
        << QString() << false << QStringLiteral("Move \"this note\" to Trash?");
    QTest::addRow("blank first line, answered yes") << QStringLiteral(
        "   \nsecond line") << true << QStringLiteral("Move \"this note\" to Trash?");
    QTest::addRow("titled note, answered yes") << QStringLiteral("Groceries\nmilk") << true
                                               << QStringLiteral("Move \"Groceries\" to Trash?");
}

void tst_MainWindow::confirmedTrashNamesTheNote()
{
    QFETCH(QString, text);
    QFETCH(bool, answerYes);
    QFETCH(QString, question);

    const QString id = addNote(text, QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    window->noteList()->selectNote(id);

    QString asked;
    QString title;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked = box->text();
        title = box->windowTitle();
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        box->button(answerYes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    window->action(QStringLiteral("moveToTrashAction"))->trigger();

    QCOMPARE(title, QStringLiteral("Move to Trash"));
    QCOMPARE(asked, question);
    QCOMPARE(m_state->notes()->noteById(id)->deletedAt.has_value(), answerYes);
    QCOMPARE(window->noteList()->count(), answerYes ? 0 : 1);
}

void tst_MainWindow::droppingNoteOnNotebookKeepsUpdatedAt()
{
    Notebook notebook;
    notebook.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    notebook.name = QStringLiteral("Recipes");
    notebook.createdAt = notebook.updatedAt = QDateTime::currentDateTimeUtc();
    QVERIFY(m_state->notebooks()->insert(notebook));
    const QDateTime updated = QDateTime::currentDateTimeUtc().addDays(-3);
    const QString id = addNote(QStringLiteral("Pancakes"), updated);
    auto window = makeWindow();

    NotebookListWidget *sidebar = window->notebookList();
    QListWidgetItem *row = sidebar->item(1);
    QCOMPARE(row->data(NotebookListWidget::NotebookIdRole).toString(), notebook.id);
    const QPoint target = sidebar->visualItemRect(row).center();
    QMimeData mime;
    mime.setData(NoteListWidget::NoteIdMimeType, id.toUtf8());
    QDragEnterEvent enter(target, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar->viewport(), &enter);
    QDragMoveEvent move(target, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar->viewport(), &move);
    QDropEvent drop(target, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar->viewport(), &drop);

    const Note stored = *m_state->notes()->noteById(id);
    QCOMPARE(stored.notebookId, notebook.id);
    QCOMPARE(stored.updatedAt, updated);
    QCOMPARE(sidebar->item(1)->data(NotebookListWidget::CountRole).toInt(), 1);
    QCOMPARE(window->noteList()->model()->index(0, 0).data(NoteListWidget::NotebookNameRole),
        QVariant(QStringLiteral("Recipes")));
    // Names are kept between fills of the list; a rename reaches the rows shown.
    QVERIFY(m_state->writer()->renameNotebook(notebook.id, QStringLiteral("Cooking")));
    QCOMPARE(window->noteList()->model()->index(0, 0).data(NoteListWidget::NotebookNameRole),
        QVariant(QStringLiteral("Cooking")));
}

void tst_MainWindow::listFollowsWritesFromEverywhere()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList ids;
    for (int i = 0; i < 6; ++i)
        ids.append(addNote(QStringLiteral("Note %1").arg(i), now.addSecs(-100 * (i + 1))));
    auto window = makeWindow();
    NoteRepository *notes = m_state->notes();
    const auto expected = [notes] {
        QStringList order;
        for (const NoteListEntry &entry : notes->listEntries())
            order.append(entry.id);
        return order;
    };
    QCOMPARE(listedIds(*window), expected());

    // An old note edited elsewhere comes to the top with its new title.
    Note old = *notes->noteById(ids.last());
    old.body = bodyOfLines({ QStringLiteral("Renamed elsewhere") });
    old.updatedAt = old.modifiedAt = now;
    old.version += 1;
    QVERIFY(notes->update(old));
    QCOMPARE(listedIds(*window), expected());
    QCOMPARE(window->noteList()->model()->index(0, 0).data(NoteListWidget::TitleRole).toString(),
        QStringLiteral("Renamed elsewhere"));

    QVERIFY(notes->softDelete(ids.at(2)));
    QCOMPARE(listedIds(*window), expected());
    QVERIFY(notes->restore(ids.at(2)));
    QCOMPARE(listedIds(*window), expected());
    QVERIFY(notes->purge(ids.at(1)));
    QCOMPARE(listedIds(*window), expected());
    QVERIFY(notes->markSynced(ids.at(0), 7));
    emit notes->notesChanged();
    QCOMPARE(listedIds(*window), expected());
    const int row = window->noteList()->rowOfNote(ids.at(0));
    QCOMPARE(window->noteList()->model()->index(row, 0).data(NoteListWidget::SyncStatusRole),
        QVariant(int(SyncStatus::Synced)));
    QCOMPARE(window->noteStatusBar()->locationText(), QStringLiteral("All Notes (5 notes)"));
}

void tst_MainWindow::focusModeHidesListsAndIsRemembered()
{
    const QString id = addNote(QStringLiteral("Note"), QDateTime::currentDateTimeUtc());
    {
        auto window = makeWindow();
        window->noteList()->selectNote(id);
        QVERIFY(!window->focusMode());
        QTest::keySequence(window.get(), QKeySequence(QStringLiteral("Ctrl+\\")));
        QVERIFY(window->focusMode());
        QVERIFY(window->action(QStringLiteral("focusModeAction"))->isChecked());
        const QList<int> sizes = window->splitter()->sizes();
        QCOMPARE(sizes.at(0), 0);
        QCOMPARE(sizes.at(1), 0);
        QVERIFY(sizes.at(2) > 0);
        QVERIFY(window->headerBar()->focusMode());

        // On a wide window the text keeps a readable column, centred in the editor.
        window->resize(1400, 900);
        const QFontMetricsF metrics(window->editor()->document()->defaultFont());
        const qreal column = metrics.averageCharWidth() * ReadableColumn::ColumnCharacters
            + 2 * window->editor()->document()->documentMargin();
        QWidget *viewport = window->editor()->viewport();
        // Less the editor's frame.
        QTRY_VERIFY2(viewport->width() <= column + 1 && viewport->width() >= column - 8,
            qPrintable(QStringLiteral("%1 of %2, editor %3, padding %4")
                           .arg(viewport->width())
                           .arg(column)
                           .arg(window->editor()->width())
                           .arg(window->readableColumn()->sidePadding())));
        const int centre = viewport->mapTo(window->editor(), viewport->rect().center()).x();
        QVERIFY(qAbs(centre - window->editor()->width() / 2) <= 2);
    }
    {
        auto window = makeWindow();
        window->noteList()->selectNote(id);
        QVERIFY(window->focusMode());
        window->action(QStringLiteral("focusModeAction"))->trigger();
        QVERIFY(!window->focusMode());
        QVERIFY(window->splitter()->sizes().at(1) > 0);
        QTRY_VERIFY(window->editor()->viewport()->width() >= window->editor()->width() - 20);
        window->action(QStringLiteral("sidebarAction"))->trigger();
        QVERIFY(!window->notebookSidebarVisible());
        QCOMPARE(window->splitter()->sizes().at(0), 0);
    }
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("mainWindow/focusMode")).toBool(), false);
    QCOMPARE(settings.value(QStringLiteral("mainWindow/notebookSidebarVisible")).toBool(), false);
}

void tst_MainWindow::stenoModeReversesOnlyTheUnsearchedList()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString newest = addNote(QStringLiteral("Meeting notes"), now.addSecs(-10));
    const QString middle = addNote(QStringLiteral("Meeting meeting meeting"), now.addSecs(-20));
    const QString oldest = addNote(QStringLiteral("Garden"), now.addSecs(-30));
    auto window = makeWindow();
    QCOMPARE(listedIds(*window), (QStringList { newest, middle, oldest }));

    QVERIFY(m_state->preferences()->setBool(QStringLiteral("steno_mode"), true));
    QCOMPARE(listedIds(*window), (QStringList { oldest, middle, newest }));
    auto *layout = qobject_cast<QVBoxLayout *>(window->noteList()->parentWidget()->layout());
    QVERIFY(layout);
    // The list (under the offline banner) on top, the search field below it.
    QCOMPARE(layout->indexOf(window->offlineBanner()), 0);
    QCOMPARE(layout->indexOf(window->noteList()), 1);
    QCOMPARE(layout->indexOf(window->searchField()->parentWidget()), 2);

    // A note written now goes to the end, where the newest notes are in this order.
    window->newNote();
    QCOMPARE(window->noteList()->noteIdAt(2), newest);
    QCOMPARE(window->noteList()->noteIdAt(3), window->editor()->noteId());

    window->searchField()->setText(QStringLiteral("meeting"));
    QTRY_COMPARE(window->noteList()->count(), 2);
    QCOMPARE(listedIds(*window), (QStringList { middle, newest }));
}

void tst_MainWindow::geometryAndPaneSizesSurviveRestart()
{
    {
        auto window = makeWindow();
        QCOMPARE(window->size(), QSize(1280, 1024));
        const QList<int> sizes = window->splitter()->sizes();
        QCOMPARE(sizes.at(0), 200);
        QCOMPARE(sizes.at(1), 260);
        window->resize(1100, 760);
        window->splitter()->setSizes({ 180, 300, 620 });
        QVERIFY(window->close());
    }
    QSettings settings;
    const QString stored
        = settings.value(QStringLiteral("mainWindow/normalSplitterSizes")).toString();
    // The editor pane takes what the two handles leave.
    QVERIFY2(stored.startsWith(QLatin1String("180,300,")), qPrintable(stored));
    auto window = makeWindow();
    QCOMPARE(window->size(), QSize(1100, 760));
    QCOMPARE(window->normalSplitterSizes().mid(0, 2), (QList<int> { 180, 300 }));
    QCOMPARE(window->splitter()->sizes().mid(0, 2), (QList<int> { 180, 300 }));
}

void tst_MainWindow::malformedSplitterSizesAreIgnored_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addRow("two values") << QStringLiteral("200,300");
    QTest::addRow("four values") << QStringLiteral("1,2,3,4");
    QTest::addRow("negative value") << QStringLiteral("200,-5,600");
    QTest::addRow("not a number") << QStringLiteral("200,wide,600");
    QTest::addRow("empty part") << QStringLiteral("200,,600");
}

void tst_MainWindow::malformedSplitterSizesAreIgnored()
{
    QFETCH(QString, stored);
    {
        QSettings settings;
        settings.setValue(QStringLiteral("mainWindow/normalSplitterSizes"), stored);
        settings.setValue(QStringLiteral("mainWindow/geometry"), QByteArray("not a geometry"));
    }
    auto window = makeWindow();
    QVERIFY(window->normalSplitterSizes().isEmpty());
    QCOMPARE(window->size(), QSize(1280, 1024));
    QCOMPARE(window->splitter()->sizes().mid(0, 2), (QList<int> { 200, 260 }));
}

void tst_MainWindow::findBarCountsStepsAndCloses()
{
    const QString id = addNote(
        QStringLiteral("One fish\ntwo fish, red fish\nblue"), QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    window->editor()->setFocus();
    FindBar *bar = window->findBar();
    QVERIFY(!bar->isVisible());

    QTest::keySequence(window.get(), QKeySequence::Find);
    QVERIFY(bar->isVisible());
    QVERIFY(bar->field()->hasFocus());
    QTest::keyClicks(bar->field(), QStringLiteral("fish"));
    QCOMPARE(bar->countText(), QStringLiteral("1 of 3"));
    QCOMPARE(window->editor()->extraSelections().size(), 3);
    QCOMPARE(window->editor()->textCursor().selectedText(), QStringLiteral("fish"));

    QTest::keyClick(bar->field(), Qt::Key_Return);
    QCOMPARE(bar->countText(), QStringLiteral("2 of 3"));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    QTest::keyClick(bar->field(), Qt::Key_Return);
    QCOMPARE(bar->countText(), QStringLiteral("1 of 3"));
    QTest::keyClick(bar->field(), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(bar->countText(), QStringLiteral("3 of 3"));
    QCOMPARE(window->editor()->textCursor().selectionStart(), 23);

    QTest::keyClicks(bar->field(), QStringLiteral("y"));
    QCOMPARE(bar->countText(), QStringLiteral("No matches"));
    QVERIFY(window->editor()->extraSelections().isEmpty());

    QTest::keyClick(bar->field(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(window->editor()->extraSelections().isEmpty());
    // Finding never edits the note.
    QVERIFY(window->editor()->isSaved());
}

void tst_MainWindow::welcomePageUntilANoteIsOpen()
{
    auto window = makeWindow();
    QCOMPARE(window->pages()->currentWidget(), window->welcomePage());
    QVERIFY(!window->toolbar()->isVisible());
    QTest::mouseClick(window->welcomePage()->newNoteButton(), Qt::LeftButton);
    QCOMPARE(window->pages()->currentWidget(), window->editorPage());
    QCOMPARE(m_state->notes()->allNotes().size(), 1);
    QVERIFY(window->toolbar()->isVisible());
}

void tst_MainWindow::closingWithoutTrayQuits()
{
    QVERIFY(m_state->preferences()->setBool(QStringLiteral("close_to_tray"), false));
    const QString id = addNote(QStringLiteral("Draft"), QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    QTest::keyClick(window->editor(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(window->editor(), QStringLiteral(" unsaved"));
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QVERIFY(window->trayIcon() == nullptr);
    // Closing saved the edit that autosave had not reached yet.
    QVERIFY(m_state->notes()->noteById(id)->body.contains(QLatin1String("unsaved")));
}

void tst_MainWindow::quitRemembersTodosWindow()
{
    auto window = makeWindow();
    window->action(QStringLiteral("todosAction"))->trigger();
    QVERIFY(window->todosScreen());
    QCOMPARE(window->todosScreen()->windowTitle(), QStringLiteral("To-Dos — Brevaro Notes"));
    QCOMPARE(window->todosScreen()->size(), QSize(600, 500));
    window->quitWithBookkeeping();
    QCOMPARE(m_state->preferences()->boolValue(QStringLiteral("restore_todos_window")), true);
    const std::optional<QString> noteWindows
        = m_state->preferences()->value(QStringLiteral("restore_note_windows"));
    QVERIFY(noteWindows.has_value());
    QVERIFY(noteWindows->isEmpty());
    QVERIFY(!window->isVisible());
}

void tst_MainWindow::moveShortcutMovesOpenNoteThroughDialog()
{
    const QString home = addNotebook(QStringLiteral("Home"));
    const QString work = addNotebook(QStringLiteral("Work"));
    const QString id
        = addNote(QStringLiteral("Quarterly plan"), QDateTime::currentDateTimeUtc(), home);
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    QCOMPARE(window->headerBar()->notebookChip()->text(), QStringLiteral("Home"));

    QString offered;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<MoveToNotebookDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QListWidget *list = dialog->list();
        for (int row = 0; row < list->count(); ++row) {
            offered += list->item(row)->text() + QLatin1Char(';');
            if (list->item(row)->data(Qt::UserRole).toString() == work)
                list->setCurrentRow(row);
        }
        clickOk(dialog);
    });
    QTest::keySequence(window.get(), QKeySequence(QStringLiteral("Ctrl+M")));

    QVERIFY(offered.contains(QLatin1String("Work;")));
    QCOMPARE(m_state->notes()->noteById(id)->notebookId, work);
    QCOMPARE(window->editor()->noteId(), id);
    QCOMPARE(window->headerBar()->notebookChip()->text(), QStringLiteral("Work"));
}

void tst_MainWindow::noteContextMenuTrashesClickedNote_data()
{
    QTest::addColumn<bool>("clickOpenNote");
    QTest::addRow("the open note") << true;
    QTest::addRow("another note") << false;
}

void tst_MainWindow::noteContextMenuTrashesClickedNote()
{
    QFETCH(bool, clickOpenNote);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString open = addNote(QStringLiteral("Open one"), now.addSecs(-10));
    const QString other = addNote(QStringLiteral("Other one"), now.addSecs(-20));
    const QString clicked = clickOpenNote ? open : other;
    const QString kept = clickOpenNote ? other : open;
    auto window = makeWindow();
    window->noteList()->selectNote(open);
    QCOMPARE(window->editor()->noteId(), open);

    NoteListWidget *list = window->noteList();
    const int row = int(listedIds(*window).indexOf(clicked));
    const QPoint pos = list->visualRect(list->model()->index(row, 0)).center();
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos), Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &event);
    QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
    QPointer<QMenu> menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QAction *trash = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == QLatin1String("Move to Trash"))
            trash = action;
    }
    QVERIFY(trash);
    trash->trigger();
    menu->close();

    QVERIFY(m_state->notes()->noteById(clicked)->deletedAt.has_value());
    QVERIFY(!m_state->notes()->noteById(kept)->deletedAt.has_value());
    QCOMPARE(listedIds(*window), QStringList { kept });
    if (clickOpenNote) {
        QVERIFY(!window->editor()->hasNote());
        QCOMPARE(window->pages()->currentWidget(), window->welcomePage());
    } else {
        QCOMPARE(window->editor()->noteId(), open);
        QCOMPARE(window->pages()->currentWidget(), window->editorPage());
    }
}

void tst_MainWindow::newNotebookRowCreatesNotebookThroughDialog()
{
    addNote(QStringLiteral("Unfiled"), QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    NotebookListWidget *sidebar = window->notebookList();
    QListWidgetItem *newRow = sidebar->item(sidebar->count() - 1);
    QCOMPARE(newRow->data(NotebookListWidget::KindRole).toInt(),
        int(NotebookListWidget::NewNotebookKind));

    QString title;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<NotebookDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        QTest::keyClicks(dialog->nameEdit(), QStringLiteral("  Travel  "));
        clickOk(dialog);
    });
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, Qt::NoModifier,
        sidebar->visualItemRect(newRow).center());

    QCOMPARE(title, QStringLiteral("New Notebook"));
    const QList<Notebook> notebooks = m_state->notebooks()->allNotebooks();
    QCOMPARE(notebooks.size(), 1);
    QCOMPARE(notebooks.first().name, QStringLiteral("Travel"));
    QCOMPARE(m_state->currentNotebookId(), notebooks.first().id);
    // The new notebook is current and empty.
    QCOMPARE(window->noteList()->count(), 0);
    QCOMPARE(sidebar->currentItem()->data(NotebookListWidget::NotebookIdRole).toString(),
        notebooks.first().id);
}

void tst_MainWindow::versionHistoryRestoreReloadsEditor()
{
    const QString id = addNote(QStringLiteral("Original text"), QDateTime::currentDateTimeUtc());
    const Note original = *m_state->notes()->noteById(id);
    QVERIFY(m_state->snapshots()->takeSnapshot(original, original.body));
    const QString snapshotId = m_state->snapshots()->snapshotsForNote(id).first().id;
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    QTest::keyClick(window->editor(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(window->editor(), QStringLiteral(" rewritten"));

    bool restored = false;
    answerModal(this, [&](QWidget *modal) {
        auto *dialog = qobject_cast<VersionHistoryDialog *>(modal);
        if (!dialog)
            return false;
        QListWidget *list = dialog->snapshotList();
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toString() == snapshotId)
                list->setCurrentRow(row);
        }
        answerModal(this, [&](QWidget *box) {
            auto *question = qobject_cast<QMessageBox *>(box);
            if (!question || question->windowTitle() != QLatin1String("Restore Snapshot"))
                return false;
            answerModal(this, [&](QWidget *info) {
                auto *done = qobject_cast<QMessageBox *>(info);
                if (!done || done->windowTitle() != QLatin1String("Restored"))
                    return false;
                restored = true;
                done->button(QMessageBox::Ok)->click();
                return true;
            });
            question->button(QMessageBox::Yes)->click();
            return true;
        });
        dialog->restoreSelected();
        dialog->accept();
        return true;
    });
    window->action(QStringLiteral("versionHistoryAction"))->trigger();

    QVERIFY(restored);
    QCOMPARE(m_state->notes()->noteById(id)->body, original.body);
    QVERIFY(window->editor()->toPlainText().contains(QLatin1String("Original text")));
    QVERIFY(!window->editor()->toPlainText().contains(QLatin1String("rewritten")));
    // What was typed before the restore is kept in the history.
    bool kept = false;
    for (const Snapshot &snapshot : m_state->snapshots()->snapshotsForNote(id))
        kept = kept || snapshot.body.contains(QLatin1String("rewritten"));
    QVERIFY(kept);
}

void tst_MainWindow::ctrlIIsItalicInTheEditorAndImportElsewhere()
{
    const QString id = addNote(QStringLiteral("Slanted"), QDateTime::currentDateTimeUtc());
    auto window = makeWindow();
    window->noteList()->selectNote(id);
    window->noteList()->setFocus();
    QTRY_VERIFY(window->noteList()->hasFocus());
    QTest::keySequence(window->noteList(), QKeySequence(QStringLiteral("Ctrl+I")));
    QPointer<ImportDialog> wizard = window->findChild<ImportDialog *>();
    QVERIFY(wizard);
    QVERIFY(wizard->isVisible());
    wizard->close();
    QTRY_VERIFY(!wizard);

    window->activateWindow();
    window->editor()->setFocus();
    QTRY_VERIFY(window->editor()->hasFocus());
    window->editor()->selectAll();
    QTest::keySequence(window->editor(), QKeySequence(QStringLiteral("Ctrl+I")));
    QVERIFY(window->editor()->content().contains(QLatin1String("\"italic\":true")));
    QVERIFY(!window->findChild<ImportDialog *>());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
