#include "fontscale.h"
#include "notebooklistdelegate.h"
#include "notebooklistwidget.h"
#include "notelistdelegate.h"
#include "notelistwidget.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(Qt::Key)

namespace {

QString body(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1String("[{\"insert\":\"") + escaped + QLatin1String("\"}]");
}

Note makeNote(const QString &id, const QString &text, const QString &notebookId = QString())
{
    Note note;
    note.id = id;
    note.body = body(text);
    note.notebookId = notebookId;
    note.updatedAt = QDateTime::currentDateTimeUtc();
    note.syncStatus = SyncStatus::Synced;
    return note;
}

QList<Note> manyNotes(int count)
{
    QList<Note> notes;
    for (int i = 0; i < count; ++i)
        notes.append(makeNote(
            QStringLiteral("note-%1").arg(i), QStringLiteral("Note %1\nLine of note %1\n").arg(i)));
    return notes;
}

Notebook makeNotebook(const QString &id, const QString &name)
{
    Notebook notebook;
    notebook.id = id;
    notebook.name = name;
    return notebook;
}

QPoint rowCentre(NoteListWidget &list, int row)
{
    return list.visualRect(list.model()->index(row, 0)).center();
}

} // namespace

class TestNoteLists : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { FontScale::setPercent(FontScale::Default); }

    void rowSizesFollowFontScale_data();
    void rowSizesFollowFontScale();
    void noteRolesFollowTextRules_data();
    void noteRolesFollowTextRules();
    void refillKeepsSelectionWithoutSignal();
    void refillKeepsScrollPosition();
    void refillDropsVanishedCurrentNote();
    void selectNoteEmitsOnlyForPresentNote();
    void keysNeedCurrentNote_data();
    void keysNeedCurrentNote();
    void mouseSignalsCarryNoteId();
    void dragCarriesNoteId();
    void paintsSelectedRowWithAccentBar();

    void sidebarFill_data();
    void sidebarFill();
    void sidebarClicksEmitByKind_data();
    void sidebarClicksEmitByKind();
    void sidebarContextMenuOnlyOnNotebooks();
    void dropOnSidebar_data();
    void dropOnSidebar();
    void dragLeaveRestoresCurrentNotebook();
};

void TestNoteLists::rowSizesFollowFontScale_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("title");
    QTest::addColumn<int>("preview");
    QTest::addColumn<int>("date");
    QTest::addColumn<int>("notebook");
    QTest::addColumn<int>("noteRow");
    QTest::addColumn<int>("label");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("sidebarRow");

    QTest::newRow("70 %, minimums") << 70 << 10 << 9 << 8 << 9 << 74 << 10 << 8 << 36;
    QTest::newRow("100 %") << 100 << 15 << 13 << 11 << 12 << 89 << 14 << 11 << 37;
    QTest::newRow("130 %") << 130 << 19 << 16 << 14 << 15 << 101 << 18 << 14 << 46;
    QTest::newRow("150 %, halves round up") << 150 << 23 << 20 << 17 << 18 << 116 << 21 << 17 << 52;
}

void TestNoteLists::rowSizesFollowFontScale()
{
    QFETCH(int, scale);
    QFETCH(int, title);
    QFETCH(int, preview);
    QFETCH(int, date);
    QFETCH(int, notebook);
    QFETCH(int, noteRow);
    QFETCH(int, label);
    QFETCH(int, count);
    QFETCH(int, sidebarRow);

    const NoteListDelegate::Sizes note = NoteListDelegate::sizesForScale(scale);
    QCOMPARE(note.title, title);
    QCOMPARE(note.preview, preview);
    QCOMPARE(note.date, date);
    QCOMPARE(note.notebook, notebook);
    QCOMPARE(note.rowHeight, noteRow);
    const NotebookListDelegate::Sizes side = NotebookListDelegate::sizesForScale(scale);
    QCOMPARE(side.label, label);
    QCOMPARE(side.count, count);
    QCOMPARE(side.rowHeight, sidebarRow);

    // The views lay their rows out with the same heights.
    FontScale::setPercent(scale);
    NoteListWidget list;
    list.resize(320, 400);
    list.setNotes(manyNotes(3));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCOMPARE(list.visualRect(list.model()->index(1, 0)).height(), noteRow);
    QCOMPARE(list.visualRect(list.model()->index(1, 0)).top(), noteRow);

    NotebookListWidget sidebar;
    sidebar.resize(220, 400);
    sidebar.setNotebooks(
        { makeNotebook(QStringLiteral("nb"), QStringLiteral("Work")) }, {}, QString(), 0);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QCOMPARE(sidebar.visualItemRect(sidebar.item(2)).height(), sidebarRow);
}

void TestNoteLists::noteRolesFollowTextRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("displayTitle");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<bool>("untitled");

    QTest::addRow("title and preview")
        << QStringLiteral("Groceries\nMilk\nEggs\n") << QStringLiteral("Groceries")
        << QStringLiteral("Milk Eggs") << false;
    QTest::addRow("title only") << QStringLiteral("Groceries\n") << QStringLiteral("Groceries")
                                << QString() << false;
    QTest::addRow("blank first line")
        << QStringLiteral(" \nSecond line\n") << QStringLiteral("Second line") << QString() << true;
    QTest::addRow("empty document")
        << QStringLiteral("\n") << QStringLiteral("Untitled") << QString() << true;
}

void TestNoteLists::noteRolesFollowTextRules()
{
    QFETCH(QString, text);
    QFETCH(QString, displayTitle);
    QFETCH(QString, preview);
    QFETCH(bool, untitled);

    NoteListWidget list;
    Note note = makeNote(QStringLiteral("a"), text, QStringLiteral("nb-1"));
    note.isShared = true;
    note.syncStatus = SyncStatus::Conflict;
    note.updatedAt = QDateTime(QDate(2024, 2, 3), QTime(4, 5), Qt::UTC);
    Note loose = makeNote(QStringLiteral("b"), QStringLiteral("Loose\n"));
    Note lost = makeNote(QStringLiteral("c"), QStringLiteral("Lost\n"), QStringLiteral("gone"));
    list.setNotebookNameResolver([](const QString &id) {
        return id == QLatin1String("nb-1") ? QStringLiteral("Work") : QString();
    });
    list.setNotes({ note, loose, lost });

    const QModelIndex index = list.model()->index(0, 0);
    QCOMPARE(index.data(NoteListWidget::NoteIdRole).toString(), QStringLiteral("a"));
    QCOMPARE(index.data(NoteListWidget::TitleRole).toString(), displayTitle);
    QCOMPARE(index.data(NoteListWidget::PreviewRole).toString(), preview);
    QCOMPARE(index.data(NoteListWidget::UpdatedAtRole).toDateTime(), note.updatedAt);
    QCOMPARE(index.data(NoteListWidget::NotebookNameRole).toString(), QStringLiteral("Work"));
    QCOMPARE(index.data(NoteListWidget::UntitledRole).toBool(), untitled);
    QCOMPARE(index.data(NoteListWidget::SharedRole).toBool(), true);
    QCOMPARE(index.data(NoteListWidget::SyncStatusRole).toInt(), int(SyncStatus::Conflict));
    QCOMPARE(
        list.model()->index(1, 0).data(NoteListWidget::NotebookNameRole).toString(), QString());
    QCOMPARE(
        list.model()->index(2, 0).data(NoteListWidget::NotebookNameRole).toString(), QString());

    // A changed body is derived again even when the id and the time stay the same.
    note.body = body(QStringLiteral("Renamed\n"));
    list.setNotes({ note, loose, lost });
    QCOMPARE(list.model()->index(0, 0).data(NoteListWidget::TitleRole).toString(),
        QStringLiteral("Renamed"));
    QCOMPARE(list.model()->index(0, 0).data(NoteListWidget::UntitledRole).toBool(), false);
}

void TestNoteLists::refillKeepsSelectionWithoutSignal()
{
    NoteListWidget list;
    list.resize(320, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QList<Note> notes = manyNotes(20);
    list.setNotes(notes);

    QSignalSpy selected(&list, &NoteListWidget::noteSelected);
    list.selectNote(QStringLiteral("note-5"));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toString(), QStringLiteral("note-5"));

    // An autosave of another note moves it to the top; the selection follows its note.
    Note edited = notes.takeAt(12);
    edited.body = body(QStringLiteral("Edited\n"));
    notes.prepend(edited);
    list.setNotes(notes);
    QCOMPARE(list.currentNoteId(), QStringLiteral("note-5"));
    QCOMPARE(list.currentRow(), 6);
    QVERIFY(list.selectionModel()->isSelected(list.model()->index(6, 0)));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(list.count(), 20);
    QCOMPARE(list.noteIdAt(0), QStringLiteral("note-12"));
}

void TestNoteLists::refillKeepsScrollPosition()
{
    NoteListWidget list;
    list.resize(320, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QList<Note> notes = manyNotes(200);
    list.setNotes(notes);

    const int rowHeight = NoteListDelegate::sizesForScale(FontScale::percent()).rowHeight;
    QScrollBar *bar = list.verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 40 * rowHeight);
    bar->setValue(40 * rowHeight + 30);
    const QModelIndex top = list.indexAt(QPoint(0, 0));
    const QString topId = top.data(NoteListWidget::NoteIdRole).toString();
    const int topOffset = list.visualRect(top).top();
    QCOMPARE(topId, QStringLiteral("note-40"));
    QCOMPARE(topOffset, -30);

    // Same list again: nothing moves.
    list.setNotes(notes);
    QCOMPARE(bar->value(), 40 * rowHeight + 30);

    // A note from below moves to the top: the view keeps showing the same pixels of note-40.
    notes.prepend(notes.takeAt(150));
    list.setNotes(notes);
    const QModelIndex after = list.indexAt(QPoint(0, 0));
    QCOMPARE(after.data(NoteListWidget::NoteIdRole).toString(), topId);
    QCOMPARE(list.visualRect(after).top(), topOffset);
    QCOMPARE(bar->value(), 41 * rowHeight + 30);
}

void TestNoteLists::refillDropsVanishedCurrentNote()
{
    NoteListWidget list;
    QList<Note> notes = manyNotes(5);
    list.setNotes(notes);
    list.selectNote(QStringLiteral("note-2"));
    QSignalSpy selected(&list, &NoteListWidget::noteSelected);
    notes.removeAt(2);
    list.setNotes(notes);
    QCOMPARE(list.currentNoteId(), QString());
    QCOMPARE(list.currentRow(), -1);
    QCOMPARE(selected.count(), 0);
}

void TestNoteLists::selectNoteEmitsOnlyForPresentNote()
{
    NoteListWidget list;
    list.setNotes(manyNotes(5));
    QCOMPARE(list.currentNoteId(), QString());
    QSignalSpy selected(&list, &NoteListWidget::noteSelected);
    list.selectNote(QStringLiteral("absent"));
    QCOMPARE(selected.count(), 0);
    QCOMPARE(list.currentNoteId(), QString());
    list.selectNote(QStringLiteral("note-3"));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(list.currentNoteId(), QStringLiteral("note-3"));
    list.setCurrentRow(1);
    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected.last().at(0).toString(), QStringLiteral("note-1"));
}

void TestNoteLists::keysNeedCurrentNote_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<bool>("withCurrent");
    QTest::addColumn<int>("activated");
    QTest::addColumn<int>("deleteRequested");

    QTest::addRow("Return with current note") << Qt::Key_Return << true << 1 << 0;
    QTest::addRow("Enter with current note") << Qt::Key_Enter << true << 1 << 0;
    QTest::addRow("Delete with current note") << Qt::Key_Delete << true << 0 << 1;
    QTest::addRow("Return without current note") << Qt::Key_Return << false << 0 << 0;
    QTest::addRow("Delete without current note") << Qt::Key_Delete << false << 0 << 0;
}

void TestNoteLists::keysNeedCurrentNote()
{
    QFETCH(Qt::Key, key);
    QFETCH(bool, withCurrent);
    QFETCH(int, activated);
    QFETCH(int, deleteRequested);

    NoteListWidget list;
    list.resize(320, 400);
    list.setNotes(manyNotes(3));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    // Gaining focus makes the first row current, as in any item view.
    list.setCurrentRow(-1);
    if (withCurrent)
        list.selectNote(QStringLiteral("note-1"));
    QCOMPARE(list.currentNoteId().isEmpty(), !withCurrent);
    QSignalSpy activatedSpy(&list, &NoteListWidget::noteActivated);
    QSignalSpy deleteSpy(&list, &NoteListWidget::noteDeleteRequested);

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&list, &press);
    QCOMPARE(activatedSpy.count(), activated);
    QCOMPARE(deleteSpy.count(), deleteRequested);
    QCOMPARE(press.isAccepted(), withCurrent);
    if (activated)
        QCOMPARE(activatedSpy.at(0).at(0).toString(), QStringLiteral("note-1"));
    if (deleteRequested)
        QCOMPARE(deleteSpy.at(0).at(0).toString(), QStringLiteral("note-1"));
}

void TestNoteLists::mouseSignalsCarryNoteId()
{
    NoteListWidget list;
    list.resize(320, 400);
    list.setNotes(manyNotes(3));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QSignalSpy selected(&list, &NoteListWidget::noteSelected);
    QSignalSpy doubleClicked(&list, &NoteListWidget::noteDoubleClicked);
    QSignalSpy contextMenu(&list, &NoteListWidget::noteContextMenuRequested);

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rowCentre(list, 2));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toString(), QStringLiteral("note-2"));

    const QPoint second = rowCentre(list, 1);
    QMouseEvent press(QEvent::MouseButtonPress, second, list.viewport()->mapToGlobal(second),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &press);
    QMouseEvent twice(QEvent::MouseButtonDblClick, second, list.viewport()->mapToGlobal(second),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &twice);
    QCOMPARE(doubleClicked.count(), 1);
    QCOMPARE(doubleClicked.at(0).at(0).toString(), QStringLiteral("note-1"));

    const QPoint pos = rowCentre(list, 0);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, pos, list.viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list.viewport(), &menu);
    QCOMPARE(contextMenu.count(), 1);
    QCOMPARE(contextMenu.at(0).at(0).toString(), QStringLiteral("note-0"));
    QCOMPARE(contextMenu.at(0).at(1).toPoint(), list.viewport()->mapToGlobal(pos));

    // Below the last row there is no note to ask about.
    const QPoint empty(10, list.viewport()->height() - 5);
    QContextMenuEvent emptyMenu(QContextMenuEvent::Mouse, empty, list.mapToGlobal(empty));
    QApplication::sendEvent(list.viewport(), &emptyMenu);
    QCOMPARE(contextMenu.count(), 1);
}

void TestNoteLists::dragCarriesNoteId()
{
    NoteListWidget list;
    list.setNotes(manyNotes(3));
    QCOMPARE(list.dragDropMode(), QAbstractItemView::DragOnly);
    QCOMPARE(list.defaultDropAction(), Qt::MoveAction);
    QCOMPARE(list.model()->mimeTypes(), QStringList { NoteListWidget::NoteIdMimeType });
    QCOMPARE(NoteListWidget::NoteIdMimeType, QStringLiteral("application/x-brevaro-note-id"));
    std::unique_ptr<QMimeData> mime(list.model()->mimeData({ list.model()->index(2, 0) }));
    QVERIFY(mime);
    QCOMPARE(mime->formats(), QStringList { NoteListWidget::NoteIdMimeType });
    QCOMPARE(mime->data(NoteListWidget::NoteIdMimeType), QByteArray("note-2"));
}

void TestNoteLists::paintsSelectedRowWithAccentBar()
{
    NoteListWidget list;
    QPalette palette;
    palette.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xFF));
    palette.setColor(QPalette::Text, QColor(0x21, 0x21, 0x21));
    palette.setColor(QPalette::Highlight, QColor(0x15, 0x65, 0xC0));
    list.setPalette(palette);
    list.resize(320, 400);
    list.setNotes(manyNotes(3));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.selectNote(QStringLiteral("note-1"));
    list.viewport()->setAttribute(Qt::WA_UnderMouse, false);

    const QImage image = list.viewport()->grab().toImage();
    const QRect row = list.visualRect(list.model()->index(1, 0));
    QCOMPARE(image.pixel(0, row.top() + 20), QColor(0x15, 0x65, 0xC0).rgb());
    QCOMPARE(image.pixel(0, row.top() + 5), QColor(0xFF, 0xFF, 0xFF).darker(108).rgb());
    QCOMPARE(
        image.pixel(row.width() / 2, row.bottom()), QColor(0xFF, 0xFF, 0xFF).darker(112).rgb());
    const QRect other = list.visualRect(list.model()->index(2, 0));
    QCOMPARE(image.pixel(4, other.top() + 5), QColor(0xFF, 0xFF, 0xFF).rgb());
}

void TestNoteLists::sidebarFill_data()
{
    QTest::addColumn<QString>("currentId");
    QTest::addColumn<int>("currentRow");

    QTest::addRow("no current notebook") << QString() << 0;
    QTest::addRow("current notebook") << QStringLiteral("nb-b") << 2;
    QTest::addRow("unknown current notebook") << QStringLiteral("missing") << 0;
    QTest::addRow("trashed notebook is no choice") << QStringLiteral("nb-gone") << 0;
}

void TestNoteLists::sidebarFill()
{
    QFETCH(QString, currentId);
    QFETCH(int, currentRow);

    Notebook a = makeNotebook(QStringLiteral("nb-a"), QStringLiteral("Alpha"));
    Notebook b = makeNotebook(QStringLiteral("nb-b"), QStringLiteral("Beta"));
    b.isShared = true;
    Notebook gone = makeNotebook(QStringLiteral("nb-gone"), QStringLiteral("Gone"));
    gone.deletedAt = QDateTime::currentDateTimeUtc();
    Notebook c = makeNotebook(QStringLiteral("nb-c"), QStringLiteral("Cold"));
    c.isDefault = true;
    // As noteCountsByNotebook gives them: the total of all live notes under the empty id.
    const QMap<QString, int> counts { { QString(), 9 }, { QStringLiteral("nb-a"), 3 },
        { QStringLiteral("nb-b"), 4 } };

    NotebookListWidget sidebar;
    QSignalSpy notebookSpy(&sidebar, &NotebookListWidget::notebookSelected);
    QSignalSpy allSpy(&sidebar, &NotebookListWidget::allNotesSelected);
    sidebar.setNotebooks({ a, b, gone, c }, counts, currentId, 5);
    QCOMPARE(notebookSpy.count() + allSpy.count(), 0);

    QCOMPARE(sidebar.count(), 6);
    const auto kind
        = [&](int row) { return sidebar.item(row)->data(NotebookListWidget::KindRole).toInt(); };
    const auto count
        = [&](int row) { return sidebar.item(row)->data(NotebookListWidget::CountRole).toInt(); };
    QCOMPARE(kind(0), int(NotebookListWidget::AllNotesKind));
    QCOMPARE(sidebar.item(0)->text(), QStringLiteral("All Notes"));
    QCOMPARE(count(0), 9);
    QCOMPARE(
        sidebar.item(1)->data(NotebookListWidget::NameRole).toString(), QStringLiteral("Alpha"));
    QCOMPARE(sidebar.item(1)->data(NotebookListWidget::NotebookIdRole).toString(),
        QStringLiteral("nb-a"));
    QCOMPARE(count(1), 3);
    QCOMPARE(sidebar.item(2)->data(NotebookListWidget::SharedRole).toBool(), true);
    QCOMPARE(count(2), 4);
    QCOMPARE(
        sidebar.item(3)->data(NotebookListWidget::NameRole).toString(), QStringLiteral("Cold"));
    QCOMPARE(sidebar.item(3)->data(NotebookListWidget::DefaultRole).toBool(), true);
    QCOMPARE(count(3), 0);
    QCOMPARE(kind(4), int(NotebookListWidget::TrashKind));
    QCOMPARE(sidebar.item(4)->text(), QStringLiteral("Trash"));
    QCOMPARE(count(4), 5);
    QCOMPARE(kind(5), int(NotebookListWidget::NewNotebookKind));
    QCOMPARE(sidebar.item(5)->text(), QStringLiteral("New Notebook…"));
    QCOMPARE(sidebar.currentRow(), currentRow);
}

void TestNoteLists::sidebarClicksEmitByKind_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("signal");

    QTest::addRow("All Notes") << 0 << QStringLiteral("all");
    QTest::addRow("notebook") << 1 << QStringLiteral("notebook");
    QTest::addRow("Trash") << 2 << QStringLiteral("trash");
    QTest::addRow("New Notebook") << 3 << QStringLiteral("new");
}

void TestNoteLists::sidebarClicksEmitByKind()
{
    QFETCH(int, row);
    QFETCH(QString, signal);

    NotebookListWidget sidebar;
    sidebar.resize(220, 400);
    sidebar.setNotebooks({ makeNotebook(QStringLiteral("nb"), QStringLiteral("Work")) },
        { { QString(), 1 } }, QString(), 0);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QSignalSpy all(&sidebar, &NotebookListWidget::allNotesSelected);
    QSignalSpy notebook(&sidebar, &NotebookListWidget::notebookSelected);
    QSignalSpy trash(&sidebar, &NotebookListWidget::trashSelected);
    QSignalSpy newNotebook(&sidebar, &NotebookListWidget::newNotebookRequested);

    QTest::mouseClick(
        sidebar.viewport(), Qt::LeftButton, {}, sidebar.visualItemRect(sidebar.item(row)).center());
    QCOMPARE(all.count(), signal == QLatin1String("all") ? 1 : 0);
    QCOMPARE(notebook.count(), signal == QLatin1String("notebook") ? 1 : 0);
    QCOMPARE(trash.count(), signal == QLatin1String("trash") ? 1 : 0);
    QCOMPARE(newNotebook.count(), signal == QLatin1String("new") ? 1 : 0);
    if (!notebook.isEmpty())
        QCOMPARE(notebook.at(0).at(0).toString(), QStringLiteral("nb"));
}

void TestNoteLists::sidebarContextMenuOnlyOnNotebooks()
{
    NotebookListWidget sidebar;
    sidebar.resize(220, 400);
    sidebar.setNotebooks(
        { makeNotebook(QStringLiteral("nb"), QStringLiteral("Work")) }, {}, QString(), 0);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QSignalSpy menu(&sidebar, &NotebookListWidget::notebookContextMenuRequested);
    for (int row = 0; row < sidebar.count(); ++row) {
        const QPoint pos = sidebar.visualItemRect(sidebar.item(row)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, sidebar.mapToGlobal(pos));
        QApplication::sendEvent(sidebar.viewport(), &event);
    }
    QCOMPARE(menu.count(), 1);
    QCOMPARE(menu.at(0).at(0).toString(), QStringLiteral("nb"));
}

void TestNoteLists::dropOnSidebar_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("target");

    const QString noteType = NoteListWidget::NoteIdMimeType;
    QTest::addRow("onto a notebook")
        << 2 << noteType << QByteArray("n-1") << true << QStringLiteral("nb-2");
    QTest::addRow("onto All Notes") << 0 << noteType << QByteArray("n-1") << true << QString();
    QTest::addRow("onto Trash") << 3 << noteType << QByteArray("n-1") << false << QString();
    QTest::addRow("onto New Notebook") << 4 << noteType << QByteArray("n-1") << false << QString();
    QTest::addRow("empty note id") << 1 << noteType << QByteArray() << false << QString();
    QTest::addRow("plain text") << 1 << QStringLiteral("text/plain") << QByteArray("n-1") << false
                                << QString();
}

void TestNoteLists::dropOnSidebar()
{
    QFETCH(int, row);
    QFETCH(QString, format);
    QFETCH(QByteArray, payload);
    QFETCH(bool, accepted);
    QFETCH(QString, target);

    NotebookListWidget sidebar;
    sidebar.resize(220, 400);
    sidebar.setNotebooks({ makeNotebook(QStringLiteral("nb-1"), QStringLiteral("One")),
                             makeNotebook(QStringLiteral("nb-2"), QStringLiteral("Two")) },
        {}, QStringLiteral("nb-1"), 0);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QSignalSpy dropped(&sidebar, &NotebookListWidget::noteDroppedOnNotebook);

    QMimeData mime;
    mime.setData(format, payload);
    const QPoint pos = sidebar.visualItemRect(sidebar.item(row)).center();
    // The application routes move and drop events to the widget that took the enter event;
    // a leave ends that routing even when a check below returns early.
    const auto endDrag = qScopeGuard([&] {
        QDragLeaveEvent leave;
        QApplication::sendEvent(sidebar.viewport(), &leave);
    });
    QDragEnterEvent enter(pos, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar.viewport(), &enter);
    QDragMoveEvent move(pos, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar.viewport(), &move);
    const bool targetRow = row <= 2;
    QCOMPARE(enter.isAccepted(), format == NoteListWidget::NoteIdMimeType);
    if (format == NoteListWidget::NoteIdMimeType) {
        QCOMPARE(move.isAccepted(), targetRow);
        // Hovering a row that takes notes shows it as the landing place.
        QCOMPARE(sidebar.currentRow(), targetRow ? row : 1);
    }
    QDropEvent drop(QPointF(pos), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar.viewport(), &drop);

    QCOMPARE(drop.isAccepted(), accepted);
    QCOMPARE(dropped.count(), accepted ? 1 : 0);
    if (accepted) {
        QCOMPARE(drop.dropAction(), Qt::MoveAction);
        QCOMPARE(dropped.at(0).at(0).toString(), QString::fromUtf8(payload));
        QCOMPARE(dropped.at(0).at(1).toString(), target);
        QCOMPARE(dropped.at(0).at(1).toString().isEmpty(), row == 0);
    }
}

void TestNoteLists::dragLeaveRestoresCurrentNotebook()
{
    NotebookListWidget sidebar;
    sidebar.resize(220, 400);
    sidebar.setNotebooks({ makeNotebook(QStringLiteral("nb-1"), QStringLiteral("One")),
                             makeNotebook(QStringLiteral("nb-2"), QStringLiteral("Two")) },
        {}, QStringLiteral("nb-2"), 0);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QSignalSpy selected(&sidebar, &NotebookListWidget::notebookSelected);

    QMimeData mime;
    mime.setData(NoteListWidget::NoteIdMimeType, "n-1");
    const QPoint pos = sidebar.visualItemRect(sidebar.item(1)).center();
    QDragEnterEvent enter(pos, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar.viewport(), &enter);
    QDragMoveEvent move(pos, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sidebar.viewport(), &move);
    QCOMPARE(sidebar.currentRow(), 1);
    QDragLeaveEvent leave;
    QApplication::sendEvent(sidebar.viewport(), &leave);
    QCOMPARE(sidebar.currentRow(), 2);
    QCOMPARE(selected.count(), 0);
}

QTEST_MAIN(TestNoteLists)
#include "tst_notelists.moc"
