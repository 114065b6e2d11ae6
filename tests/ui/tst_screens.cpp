// Tables of expected rows read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "appstate.h"
#include "attachmentrepository.h"
#include "database.h"
#include "deltaformat.h"
#include "fontscale.h"
#include "modalanswers.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "notesstyle.h"
#include "searchscreen.h"
#include "sharedscreen.h"
#include "snapshotrepository.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"
#include "todosscreen.h"
#include "trashscreen.h"
#include "versionhistorydialog.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <memory>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

using WindowFactory = std::function<QWidget *(AppState *, const QString &noteId)>;
Q_DECLARE_METATYPE(WindowFactory)

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void todosFilterSortAndCompleted_data();
    void todosFilterSortAndCompleted();
    void todosLeaveOutExcludedNotes();
    void tickingWritesOnlyThatLine();
    void tickingNonCheckboxTaskChangesNothing_data();
    void tickingNonCheckboxTaskChangesNothing();
    void tickingStaleRowChangesNothing();
    void todosFollowNoteChanges();
    void todosDoubleClickOpensNoteWindow();
    void todosNoticePermissionChangeWithSameBody();
    void todosEditElsewhereMatchesFullRefresh_data();
    void todosEditElsewhereMatchesFullRefresh();

    void searchRunsOnceAfterTyping();
    void searchBlankGivesEmptyList();
    void searchSelectionAndDoubleClick();
    void searchShowsFirstScreenfulThenRankedList_data();
    void searchShowsFirstScreenfulThenRankedList();

    void trashRestore();
    void trashDeleteAnsweredNo();
    void trashPurgeRemovesRowsAndFiles();
    void emptyTrash();
    void emptyTrashWithEmptyTrashAsksNothing();

    void sharedScreenEmptyStateAndReload_data();
    void sharedScreenEmptyStateAndReload();

    void closeKeysCloseTheWindow_data();
    void closeKeysCloseTheWindow();

    void todoRowsHoldTheirCheckBox_data();
    void todoRowsHoldTheirCheckBox();

private:
    Note addNote(const QStringList &lines,
        const QDateTime &updated = QDateTime::currentDateTimeUtc().addSecs(-3600));
    Note stored(const QString &id) const { return *m_state->notes()->noteById(id); }
    QStringList rowTexts(QListWidget *list) const;
    QStringList noteListIds(NoteListWidget *list) const;

    std::unique_ptr<TestDataDir> m_dir;
    std::unique_ptr<AppState> m_state;
    QStringList m_openedWindows;
};

void TestScreens::init()
{
    m_dir = std::make_unique<TestDataDir>();
    QVERIFY(m_dir->isValid());
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
    // The first run brings welcome notes with their own tasks; start from an empty collection.
    for (const Note &note : m_state->notes()->allNotes())
        QVERIFY(m_state->notes()->purge(note.id));
    m_openedWindows.clear();
    m_state->setNoteWindowFactory([this](AppState *, const QString &noteId) {
        m_openedWindows.append(noteId);
        return new QWidget;
    });
}

void TestScreens::cleanup()
{
    m_state.reset();
    m_dir.reset();
}

Note TestScreens::addNote(const QStringList &lines, const QDateTime &updated)
{
    const Note note = TestDatabase::makeNote(bodyOfLines(lines), QString(), updated);
    if (!m_state->notes()->insert(note))
        qFatal("insert failed");
    return note;
}

QStringList TestScreens::rowTexts(QListWidget *list) const
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QStringList TestScreens::noteListIds(NoteListWidget *list) const
{
    QStringList ids;
    for (int i = 0; i < list->count(); ++i)
        ids.append(list->noteIdAt(i));
    return ids;
}

void TestScreens::todosFilterSortAndCompleted_data()
{
    QTest::addColumn<QString>("sort");
    QTest::addColumn<bool>("showCompleted");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");

    QTest::addRow("newest note first")
        << "updated" << false << ""
        << QStringList { "apples  — New", "Buy bread  — New", "zinc  — Old", "call Bob  — Old" };
    QTest::addRow("alphabetical ignores case")
        << "alpha" << false << ""
        << QStringList { "apples  — New", "Buy bread  — New", "call Bob  — Old", "zinc  — Old" };
    QTest::addRow("completed shown") << "alpha" << true << ""
                                     << QStringList { "apples  — New", "Buy bread  — New",
                                            "call Bob  — Old", "done thing  — Old", "zinc  — Old" };
    QTest::addRow("upper-case filter finds lower-case text")
        << "updated" << false << "  BOB " << QStringList { "call Bob  — Old" };
    QTest::addRow("filter matches no title") << "updated" << true << "old" << QStringList {};
}

void TestScreens::todosFilterSortAndCompleted()
{
    QFETCH(QString, sort);
    QFETCH(bool, showCompleted);
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    addNote({ "Old", "TODO: zinc", "[ ] call Bob", "[x] done thing" }, now.addDays(-2));
    addNote({ "New", "- [ ] apples", "[ ] Buy bread", "plain line" }, now.addDays(-1));

    TodosScreen screen(m_state.get());
    auto *sortCombo = screen.findChild<QComboBox *>(QStringLiteral("sortCombo"));
    auto *completed = screen.findChild<QCheckBox *>(QStringLiteral("showCompletedCheck"));
    auto *filterEdit = screen.findChild<QLineEdit *>(QStringLiteral("filterEdit"));
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QVERIFY(sortCombo && completed && filterEdit && list);
    QCOMPARE(sortCombo->currentData().toString(), QStringLiteral("updated"));
    QVERIFY(!completed->isChecked());
    QCOMPARE(filterEdit->placeholderText(), QStringLiteral("Filter tasks..."));
    screen.refresh();

    sortCombo->setCurrentIndex(sortCombo->findData(sort));
    completed->setChecked(showCompleted);
    QTest::keyClicks(filterEdit, filter);
    QCOMPARE(rowTexts(list), expected);

    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem *item = list->item(i);
        const auto source = Task::Source(item->data(TodosScreen::SourceRole).toInt());
        QCOMPARE(
            bool(item->flags() & Qt::ItemIsUserCheckable), source == Task::Source::CheckboxList);
        const bool done = item->checkState() == Qt::Checked;
        QCOMPARE(item->font().strikeOut(), done);
        QCOMPARE(done, item->text().startsWith(QLatin1String("done")));
    }
}

void TestScreens::todosLeaveOutExcludedNotes()
{
    const Note kept = addNote({ "Kept", "[ ] keep me" });
    const Note left = addNote({ "Left", "[ ] leave me" });
    QVERIFY(m_state->notes()->setIncludeInTodos(left.id, false));

    TodosScreen screen(m_state.get());
    screen.refresh();
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QCOMPARE(rowTexts(list), QStringList { "keep me  — Kept" });
    QCOMPARE(list->item(0)->data(TodosScreen::NoteIdRole).toString(), kept.id);
}

void TestScreens::tickingWritesOnlyThatLine()
{
    const Note note = addNote({ "Groceries", "[ ] milk", "[ ] eggs", "TODO: list" });
    TodosScreen screen(m_state.get());
    screen.findChild<QCheckBox *>(QStringLiteral("showCompletedCheck"))->setChecked(true);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QCOMPARE(list->count(), 3);

    QSignalSpy updated(m_state.get(), &AppState::noteUpdatedExternally);
    QListWidgetItem *eggs = list->findItems(QStringLiteral("eggs"), Qt::MatchStartsWith).value(0);
    QVERIFY(eggs);
    QCOMPARE(eggs->data(TodosScreen::LineIndexRole).toInt(), 2);
    eggs->setCheckState(Qt::Checked);

    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated.at(0).at(0).toString(), note.id);
    QCOMPARE(updated.at(0).at(1).value<QObject *>(), &screen);

    const Note after = stored(note.id);
    QJsonArray expected = *Delta::parseArray(note.body);
    QJsonObject feed = expected.at(5).toObject();
    feed.insert(QStringLiteral("attributes"),
        QJsonObject { { QStringLiteral("list"), QStringLiteral("checked") } });
    expected.replace(5, feed);
    QCOMPARE(after.body, Delta::toText(expected));
    QCOMPARE(after.version, note.version + 1);
    QCOMPARE(after.syncStatus, SyncStatus::Pending);
    QVERIFY(after.updatedAt > note.updatedAt);
    QCOMPARE(after.modifiedAt, after.updatedAt);

    // The coalesced refresh shows the tick as a completed task.
    QTRY_VERIFY(list->count() == 3
        && list->findItems(QStringLiteral("eggs"), Qt::MatchStartsWith)
               .value(0)
               ->font()
               .strikeOut());
    QListWidgetItem *eggsAgain
        = list->findItems(QStringLiteral("eggs"), Qt::MatchStartsWith).value(0);
    QCOMPARE(eggsAgain->checkState(), Qt::Checked);
    QCOMPARE(eggsAgain->foreground().color(), QColor(QStringLiteral("#9E9E9E")));

    // Unticking restores the original body exactly.
    eggsAgain->setCheckState(Qt::Unchecked);
    QCOMPARE(stored(note.id).body, note.body);
    QCOMPARE(updated.size(), 2);
}

void TestScreens::tickingNonCheckboxTaskChangesNothing_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("permission");

    QTest::addRow("todo line") << QStringList { "T", "TODO: write" } << ""
                               << "";
    QTest::addRow("markdown box") << QStringList { "T", "- [ ] write" } << ""
                                  << "";
    QTest::addRow("read-only shared note") << QStringList { "T", "[ ] write" } << "someone"
                                           << "read";
}

void TestScreens::tickingNonCheckboxTaskChangesNothing()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, owner);
    QFETCH(QString, permission);
    Note note = addNote(lines);
    note.ownerId = owner;
    note.permission = permission;
    QVERIFY(m_state->notes()->update(note));

    TodosScreen screen(m_state.get());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QCOMPARE(list->count(), 1);
    QListWidgetItem *item = list->item(0);
    QVERIFY(!(item->flags() & Qt::ItemIsUserCheckable));

    QSignalSpy updated(m_state.get(), &AppState::noteUpdatedExternally);
    // A click on the check box does nothing for such a row...
    const QRect rect = list->visualItemRect(item);
    QTest::mouseClick(
        list->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 10, rect.center().y()));
    QCOMPARE(item->checkState(), Qt::Unchecked);
    // ...and a programmatic change is undone at once.
    item->setCheckState(Qt::Checked);
    QCOMPARE(item->checkState(), Qt::Unchecked);
    QCOMPARE(updated.size(), 0);
    const Note after = stored(note.id);
    QCOMPARE(after.body, note.body);
    QCOMPARE(after.version, note.version);
}

void TestScreens::tickingStaleRowChangesNothing()
{
    Note note = addNote({ "T", "[ ] first", "[ ] second" });
    TodosScreen screen(m_state.get());
    screen.refresh();
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QCOMPARE(list->count(), 2);

    // Another window removes the first item; the screen has not refreshed yet.
    note.body = bodyOfLines({ "T", "[ ] second" });
    QVERIFY(m_state->notes()->update(note));
    QSignalSpy updated(m_state.get(), &AppState::noteUpdatedExternally);
    QListWidgetItem *first = list->findItems(QStringLiteral("first"), Qt::MatchStartsWith).value(0);
    first->setCheckState(Qt::Checked);

    QCOMPARE(updated.size(), 0);
    QCOMPARE(stored(note.id).body, note.body);
    QCOMPARE(first->checkState(), Qt::Unchecked);
}

void TestScreens::todosFollowNoteChanges()
{
    Note note = addNote({ "T", "[ ] one" });
    TodosScreen screen(m_state.get());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QCOMPARE(rowTexts(list), QStringList { "one  — T" });

    note.body = bodyOfLines({ "T", "[ ] one", "TODO: two" });
    note.updatedAt = QDateTime::currentDateTimeUtc();
    QVERIFY(m_state->notes()->update(note));
    QTRY_COMPARE(rowTexts(list), (QStringList { "one  — T", "two  — T" }));

    // Hidden, it waits; shown again, it catches up.
    screen.hide();
    QVERIFY(m_state->notes()->softDelete(note.id));
    QTest::qWait(0);
    QCOMPARE(list->count(), 2);
    screen.show();
    QCOMPARE(list->count(), 0);
}

void TestScreens::todosDoubleClickOpensNoteWindow()
{
    const Note note = addNote({ "T", "[ ] open me" });
    TodosScreen screen(m_state.get());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    const QRect rect = list->visualItemRect(list->item(0));
    // A real double click starts with a press and release.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(m_openedWindows, QStringList { note.id });
    QCOMPARE(m_state->openNoteWindowIds(), QStringList { note.id });
}

void TestScreens::todosNoticePermissionChangeWithSameBody()
{
    Note note = addNote({ "T", "[ ] tick me" });
    TodosScreen screen(m_state.get());
    screen.refresh();
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QVERIFY(list->item(0)->flags() & Qt::ItemIsUserCheckable);

    // A sync turns the note into one shared with the user read-only; the body is unchanged.
    note.ownerId = QStringLiteral("owner");
    note.permission = QStringLiteral("read");
    QVERIFY(m_state->notes()->update(note));
    screen.refresh();
    QCOMPARE(list->count(), 1);
    QVERIFY(!(list->item(0)->flags() & Qt::ItemIsUserCheckable));
}

namespace {

// What a row shows and allows, so two lists can be compared as the user sees them.
QStringList rowStates(QListWidget *list)
{
    QStringList states;
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem *item = list->item(i);
        states.append(QStringLiteral("%1|%2|%3|%4")
                          .arg(item->text(), item->data(TodosScreen::NoteIdRole).toString())
                          .arg(item->checkState() == Qt::Checked)
                          .arg(bool(item->flags() & Qt::ItemIsUserCheckable)));
    }
    return states;
}

} // namespace

void TestScreens::todosEditElsewhereMatchesFullRefresh_data()
{
    QTest::addColumn<bool>("alphabetical");
    QTest::addColumn<bool>("showCompleted");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("edit");

    const QStringList edits { "retext", "moveToTop", "dropTasks", "trash", "exclude", "readOnly" };
    for (const QString &edit : edits) {
        QTest::addRow("%s, updated order", qPrintable(edit)) << false << false << QString() << edit;
        QTest::addRow("%s, alphabetical with completed", qPrintable(edit))
            << true << true << QString() << edit;
        QTest::addRow("%s, filtered", qPrintable(edit)) << false << true << "BA" << edit;
    }
}

void TestScreens::todosEditElsewhereMatchesFullRefresh()
{
    QFETCH(bool, alphabetical);
    QFETCH(bool, showCompleted);
    QFETCH(QString, filter);
    QFETCH(QString, edit);

    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-1);
    QList<Note> notes;
    for (int i = 0; i < 6; ++i) {
        notes.append(addNote(
            { QStringLiteral("Note %1").arg(i), QStringLiteral("[ ] banana %1").arg(i),
                QStringLiteral("[x] apple %1").arg(i), QStringLiteral("TODO: cherry %1").arg(i) },
            base.addSecs(60 * i)));
    }
    TodosScreen screen(m_state.get());
    auto *sort = screen.findChild<QComboBox *>(QStringLiteral("sortCombo"));
    sort->setCurrentIndex(alphabetical ? 1 : 0);
    screen.findChild<QCheckBox *>(QStringLiteral("showCompletedCheck"))->setChecked(showCompleted);
    screen.findChild<QLineEdit *>(QStringLiteral("filterEdit"))->setText(filter);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    QVERIFY(list->count() > 0);
    // A row of a note left alone stays selected through the update.
    QListWidgetItem *selected = nullptr;
    for (int i = 0; i < list->count() && !selected; ++i) {
        if (list->item(i)->data(TodosScreen::NoteIdRole).toString() == notes.at(0).id)
            selected = list->item(i);
    }
    QVERIFY(selected);
    const QString selectedTaskId = selected->data(TodosScreen::TaskIdRole).toString();
    list->setCurrentItem(selected);

    Note &target = notes[2];
    if (edit == QLatin1String("retext")) {
        target.body = bodyOfLines({ "Note 2", "[ ] banana split", "[x] apricot", "[ ] zucchini" });
        target.version += 1;
        QVERIFY(m_state->notes()->update(target));
    } else if (edit == QLatin1String("moveToTop")) {
        target.body = bodyOfLines({ "Renamed", "TODO: bake bread", "[ ] Aardvark" });
        target.updatedAt = QDateTime::currentDateTimeUtc();
        QVERIFY(m_state->notes()->update(target));
    } else if (edit == QLatin1String("dropTasks")) {
        target.body = bodyOfLines({ "Note 2", "nothing to do" });
        target.updatedAt = base.addSecs(-600);
        QVERIFY(m_state->notes()->update(target));
    } else if (edit == QLatin1String("trash")) {
        QVERIFY(m_state->notes()->softDelete(target.id));
    } else if (edit == QLatin1String("exclude")) {
        // The setting is written without touching the note; a later save elsewhere shows it.
        QVERIFY(m_state->notes()->setIncludeInTodos(target.id, false));
        notes[4].body = bodyOfLines({ "Note 4", "[ ] banana four" });
        QVERIFY(m_state->notes()->update(notes[4]));
    } else {
        target.ownerId = QStringLiteral("owner");
        target.permission = QStringLiteral("read");
        QVERIFY(m_state->notes()->update(target));
    }

    TodosScreen fresh(m_state.get());
    fresh.findChild<QComboBox *>(QStringLiteral("sortCombo"))
        ->setCurrentIndex(alphabetical ? 1 : 0);
    fresh.findChild<QCheckBox *>(QStringLiteral("showCompletedCheck"))->setChecked(showCompleted);
    fresh.findChild<QLineEdit *>(QStringLiteral("filterEdit"))->setText(filter);
    fresh.refresh();
    const QStringList expected
        = rowStates(fresh.findChild<QListWidget *>(QStringLiteral("taskList")));
    QVERIFY(!expected.isEmpty());

    QTRY_COMPARE(rowStates(list), expected);
    QVERIFY(list->currentItem());
    QCOMPARE(list->currentItem()->data(TodosScreen::TaskIdRole).toString(), selectedTaskId);
}

void TestScreens::searchRunsOnceAfterTyping()
{
    const Note garden = addNote({ "Garden plans", "tomatoes" });
    addNote({ "Groceries", "milk" });
    SearchScreen screen(m_state.get());
    auto *field = screen.findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    QVERIFY(field && list);
    QCOMPARE(field->placeholderText(), QStringLiteral("Search all notes..."));
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);

    QTest::keyClicks(field, QStringLiteral("tomat"));
    QCOMPARE(resets.size(), 0);
    QTRY_COMPARE(resets.size(), 1);
    QCOMPARE(noteListIds(list), QStringList { garden.id });

    field->clear();
    QTRY_COMPARE(resets.size(), 2);
    QCOMPARE(list->count(), 0);
}

void TestScreens::searchBlankGivesEmptyList()
{
    addNote({ "Anything" });
    SearchScreen screen(m_state.get());
    auto *field = screen.findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    field->setText(QStringLiteral("   "));
    screen.refresh();
    QCOMPARE(list->count(), 0);
    field->setText(QStringLiteral("\"unbalanced"));
    screen.refresh();
    QCOMPARE(list->count(), 0);
}

void TestScreens::searchSelectionAndDoubleClick()
{
    const Note note = addNote({ "Holiday", "beach" });
    SearchScreen screen(m_state.get());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    screen.findChild<QLineEdit *>(QStringLiteral("searchField"))->setText(QStringLiteral("beach"));
    screen.refresh();
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    QCOMPARE(list->count(), 1);

    QSignalSpy current(m_state.get(), &AppState::currentNoteChanged);
    const QRect rect = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(m_state->currentNoteId(), note.id);
    QCOMPARE(current.size(), 1);
    QVERIFY(m_openedWindows.isEmpty());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(m_openedWindows, QStringList { note.id });
}

void TestScreens::searchShowsFirstScreenfulThenRankedList_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("found");
    // 150 notes mention the kettle, more often in the shorter ones; one the teapot.
    QTest::addRow("word in one note") << "teapot" << 1;
    QTest::addRow("word in more notes than a screenful") << "kettle" << 150;
    QTest::addRow("prefix typed") << "kett" << 150;
    QTest::addRow("no match") << "samovar" << 0;
}

void TestScreens::searchShowsFirstScreenfulThenRankedList()
{
    QFETCH(QString, typed);
    QFETCH(int, found);
    NoteRepository *notes = m_state->notes();
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addDays(-1);
    notes->beginBatch();
    for (int i = 0; i < 150; ++i) {
        addNote({ QStringLiteral("Kettle %1").arg(i),
                    QStringLiteral("kettle ").repeated(1 + i % 6)
                        + QStringLiteral("filler ").repeated(i % 9) },
            t0.addSecs(i));
    }
    addNote({ QStringLiteral("Tea"), QStringLiteral("a teapot") }, t0);
    notes->endBatch(true);
    QStringList ranked;
    for (const Note &note : notes->search(typed))
        ranked.append(note.id);
    QCOMPARE(ranked.size(), found);

    SearchScreen screen(m_state.get());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *field = screen.findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    // What each refill of the list shows, and whether the screen still reads the rest.
    QList<QStringList> shown;
    QList<bool> complete;
    connect(list->model(), &QAbstractItemModel::modelReset, this, [&] {
        shown.append(noteListIds(list));
        complete.append(screen.isComplete());
    });
    QTest::keyClicks(field, typed);
    QTRY_VERIFY(screen.isComplete() && !shown.isEmpty());
    // The first screenful is the top of the ranking; the rest follows from the reading thread.
    QCOMPARE(shown.first(), ranked.mid(0, qMin(found, 64)));
    QCOMPARE(complete.first(), found <= 64);
    QCOMPARE(shown.size(), found <= 64 ? 1 : 2);
    QCOMPARE(noteListIds(list), ranked);

    if (found == 0)
        return;
    // The found note is the one a click selects.
    const QRect rect = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(m_state->currentNoteId(), ranked.first());
}

void TestScreens::trashRestore()
{
    const Note note = addNote({ "Trashed" });
    QVERIFY(m_state->notes()->softDelete(note.id));
    TrashScreen screen(m_state.get());
    screen.show();
    screen.refresh();
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    auto *restore = screen.findChild<QPushButton *>(QStringLiteral("restoreButton"));
    auto *purge = screen.findChild<QPushButton *>(QStringLiteral("deleteButton"));
    auto *empty = screen.findChild<QPushButton *>(QStringLiteral("emptyButton"));
    QCOMPARE(noteListIds(list), QStringList { note.id });
    QVERIFY(!restore->isEnabled() && !purge->isEnabled() && empty->isEnabled());

    list->selectNote(note.id);
    QVERIFY(restore->isEnabled() && purge->isEnabled());
    restore->click();

    const Note after = stored(note.id);
    QVERIFY(!after.deletedAt);
    QCOMPARE(after.syncStatus, SyncStatus::Pending);
    QCOMPARE(m_state->notes()->allNotes().size(), 1);
    QCOMPARE(list->count(), 0);
    QVERIFY(!restore->isEnabled() && !purge->isEnabled() && !empty->isEnabled());
}

void TestScreens::trashDeleteAnsweredNo()
{
    const Note note = addNote({ "Trashed" });
    QVERIFY(m_state->notes()->softDelete(note.id));
    TrashScreen screen(m_state.get());
    screen.refresh();
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    list->selectNote(note.id);

    MessageBoxAnswerer answerer(QMessageBox::No);
    screen.findChild<QPushButton *>(QStringLiteral("deleteButton"))->click();
    QCOMPARE(answerer.shown(), 1);
    QCOMPARE(answerer.title(), QStringLiteral("Delete Permanently"));
    QCOMPARE(answerer.text(),
        QStringLiteral("This note will be permanently deleted. This cannot be undone."));
    QVERIFY(m_state->notes()->noteById(note.id).has_value());

    MessageBoxAnswerer emptyAnswerer(QMessageBox::No);
    screen.findChild<QPushButton *>(QStringLiteral("emptyButton"))->click();
    QCOMPARE(emptyAnswerer.shown(), 1);
    QCOMPARE(m_state->notes()->trashedNotes().size(), 1);
}

void TestScreens::trashPurgeRemovesRowsAndFiles()
{
    // The files go through the application state's own wiring of notePurged.
    AttachmentRepository &attachments = *m_state->attachments();
    SnapshotRepository &snapshots = *m_state->snapshots();

    const Note note = addNote({ "With files" });
    const Note other = addNote({ "Other" });
    QStringList files;
    for (const Note &owner : { note, note, other }) {
        Attachment attachment;
        attachment.id = newId();
        attachment.noteId = owner.id;
        attachment.filename = QStringLiteral("a.png");
        attachment.mimeType = QStringLiteral("image/png");
        attachment.sizeBytes = 3;
        attachment.createdAt = QDateTime::currentDateTimeUtc();
        QVERIFY(attachments.insert(attachment));
        QVERIFY(attachments.saveFile(attachment.id, QByteArrayLiteral("png")));
        files.append(attachments.filePath(attachment.id));
        QVERIFY(QFile::exists(files.last()));
    }
    for (int version = 1; version <= 2; ++version) {
        Snapshot snapshot;
        snapshot.id = newId();
        snapshot.noteId = note.id;
        snapshot.version = version;
        snapshot.body = note.body;
        snapshot.createdAt = QDateTime::currentDateTimeUtc();
        QVERIFY(snapshots.insert(snapshot));
    }
    QVERIFY(m_state->notes()->setIncludeInTodos(note.id, false));
    QVERIFY(m_state->notes()->softDelete(note.id));

    TrashScreen screen(m_state.get());
    screen.refresh();
    screen.findChild<NoteListWidget *>(QStringLiteral("noteList"))->selectNote(note.id);
    MessageBoxAnswerer answerer(QMessageBox::Yes);
    screen.findChild<QPushButton *>(QStringLiteral("deleteButton"))->click();
    QCOMPARE(answerer.shown(), 1);

    QVERIFY(!m_state->notes()->noteById(note.id));
    QVERIFY(attachments.attachmentsForNote(note.id).isEmpty());
    QVERIFY(snapshots.snapshotsForNote(note.id).isEmpty());
    QVERIFY(!QFile::exists(files.at(0)));
    QVERIFY(!QFile::exists(files.at(1)));
    // Nothing of the other note is touched.
    QCOMPARE(attachments.attachmentsForNote(other.id).size(), 1);
    QVERIFY(QFile::exists(files.at(2)));
    QVERIFY(screen.findChild<NoteListWidget *>(QStringLiteral("noteList"))->count() == 0);
}

void TestScreens::emptyTrash()
{
    const Note first = addNote({ "One" });
    const Note second = addNote({ "Two" });
    const Note kept = addNote({ "Kept" });
    QVERIFY(m_state->notes()->softDelete(first.id));
    QVERIFY(m_state->notes()->softDelete(second.id));
    TrashScreen screen(m_state.get());
    screen.refresh();

    MessageBoxAnswerer answerer(QMessageBox::Yes);
    screen.findChild<QPushButton *>(QStringLiteral("emptyButton"))->click();
    QCOMPARE(answerer.title(), QStringLiteral("Empty Trash"));
    QCOMPARE(answerer.text(),
        QStringLiteral("Permanently delete all 2 notes in trash? This cannot be undone."));
    QVERIFY(m_state->notes()->trashedNotes().isEmpty());
    QVERIFY(!m_state->notes()->noteById(first.id));
    QVERIFY(m_state->notes()->noteById(kept.id));
    QVERIFY(!screen.findChild<QPushButton *>(QStringLiteral("emptyButton"))->isEnabled());
}

void TestScreens::emptyTrashWithEmptyTrashAsksNothing()
{
    addNote({ "Not trashed" });
    TrashScreen screen(m_state.get());
    screen.refresh();
    auto *empty = screen.findChild<QPushButton *>(QStringLiteral("emptyButton"));
    QVERIFY(!empty->isEnabled());
    MessageBoxAnswerer answerer(QMessageBox::Yes);
    // Even when triggered directly (the button is disabled), an empty trash asks nothing.
    QMetaObject::invokeMethod(empty, "clicked", Q_ARG(bool, false));
    QTest::qWait(30);
    QCOMPARE(answerer.shown(), 0);
    QCOMPARE(m_state->notes()->allNotes().size(), 1);
}

void TestScreens::sharedScreenEmptyStateAndReload_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("emptyText");
    QTest::addRow("shared with me")
        << int(SharedScreen::SharedWithMe) << "No notes have been shared with you yet.";
    QTest::addRow("shared by me") << int(SharedScreen::SharedByMe)
                                  << "You haven't shared any notes yet.";
}

void TestScreens::sharedScreenEmptyStateAndReload()
{
    QFETCH(int, mode);
    QFETCH(QString, emptyText);
    addNote({ "Private" });

    SharedScreen screen(m_state.get(), SharedScreen::Mode(mode));
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    auto *list = screen.findChild<NoteListWidget *>(QStringLiteral("noteList"));
    auto *label = screen.findChild<QLabel *>(QStringLiteral("emptyLabel"));
    screen.refresh();
    QCOMPARE(label->text(), emptyText);
    QVERIFY(label->isVisible() && !label->isEnabled());
    QVERIFY(!list->isVisible());

    // A sync brings a shared note: the screen reloads by itself.
    Note shared;
    shared.id = newId();
    shared.body = bodyOfLines({ "Shared" });
    shared.createdAt = shared.updatedAt = shared.modifiedAt = QDateTime::currentDateTimeUtc();
    if (mode == SharedScreen::SharedWithMe) {
        shared.ownerId = QStringLiteral("owner-1");
        shared.permission = QStringLiteral("edit");
    } else {
        shared.isShared = true;
    }
    QVERIFY(m_state->notes()->insert(shared));
    QVERIFY(list->isVisible() && !label->isVisible());
    QCOMPARE(noteListIds(list), QStringList { shared.id });

    QSignalSpy current(m_state.get(), &AppState::currentNoteChanged);
    list->selectNote(shared.id);
    QCOMPARE(m_state->currentNoteId(), shared.id);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(m_openedWindows, QStringList { shared.id });
}

void TestScreens::closeKeysCloseTheWindow_data()
{
    QTest::addColumn<WindowFactory>("make");
    QTest::addColumn<QKeySequence>("keys");
    const QList<QPair<QString, WindowFactory>> windows {
        { "search", [](AppState *state, const QString &) { return new SearchScreen(state); } },
        { "trash", [](AppState *state, const QString &) { return new TrashScreen(state); } },
        { "to-dos", [](AppState *state, const QString &) { return new TodosScreen(state); } },
        { "version history",
            [](AppState *state, const QString &noteId) {
                return new VersionHistoryDialog(state, noteId);
            } },
    };
    for (const auto &[name, make] : windows) {
        QTest::addRow("%s, Escape", qPrintable(name)) << make << QKeySequence(Qt::Key_Escape);
        QTest::addRow("%s, Ctrl+W", qPrintable(name)) << make << QKeySequence("Ctrl+W");
    }
}

void TestScreens::closeKeysCloseTheWindow()
{
    QFETCH(WindowFactory, make);
    QFETCH(QKeySequence, keys);
    const Note note = addNote({ "Packing", "[ ] Rain jacket" });
    std::unique_ptr<QWidget> window(make(m_state.get(), note.id));
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QVERIFY(QApplication::focusWidget());

    // Through the window, with the focus where the screen put it, as a real key press arrives.
    QTest::keySequence(window->windowHandle(), keys);
    QTRY_VERIFY(!window->isVisible());
}

void TestScreens::todoRowsHoldTheirCheckBox_data()
{
    QTest::addColumn<int>("scale");
    QTest::addRow("100 %%") << 100;
    QTest::addRow("150 %%") << 150;
}

// The check box grows with the font scale; every row keeps room around it and its text.
void TestScreens::todoRowsHoldTheirCheckBox()
{
    QFETCH(int, scale);
    addNote({ "Packing", "[ ] Rain jacket", "[ ] Swimsuit" });
    const int previousScale = FontScale::percent();
    const QFont previousFont = QApplication::font();
    const auto restore = qScopeGuard([&] {
        FontScale::setPercent(previousScale);
        QApplication::setFont(previousFont);
    });
    FontScale::setPercent(scale);
    QFont font = previousFont;
    font.setPointSize(qMax(1, 10 * scale / 100));
    QApplication::setFont(font);
    NotesStyle style;
    TodosScreen screen(m_state.get());
    auto *list = screen.findChild<QListWidget *>(QStringLiteral("taskList"));
    list->setStyle(&style);
    screen.resize(600, 400);
    screen.show();
    screen.refresh();
    QCOMPARE(list->count(), 2);

    QStyleOptionViewItem option;
    option.initFrom(list);
    const int indicator = style.pixelMetric(QStyle::PM_IndicatorHeight, &option, list);
    QCOMPARE(indicator, qMax(14, 16 * scale / 100));
    for (int row = 0; row < list->count(); ++row) {
        const int height = list->visualItemRect(list->item(row)).height();
        QVERIFY2(height >= qMax(indicator, list->fontMetrics().height()) + 4,
            qPrintable(QStringLiteral("row %1 is %2 px").arg(row).arg(height)));
    }
}

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
