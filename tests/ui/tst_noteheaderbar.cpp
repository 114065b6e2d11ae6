// Expected texts read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "noteheaderbar.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

class TestNoteHeaderBar : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void startsWithNothingToActOn();
    void hasNoteEnablesActions_data();
    void hasNoteEnablesActions();
    void menuEntriesEmitTheirRequests_data();
    void menuEntriesEmitTheirRequests();
    void includeInTodosSetterIsSilent();
    void sharedMarkerAndToolTip();
    void notebookNameAndChipStyleFollowTheme_data();
    void notebookNameAndChipStyleFollowTheme();
    void focusModeRedrawsToggle();

private:
    QPalette m_originalPalette = QApplication::palette();
};

void TestNoteHeaderBar::cleanup()
{
    QApplication::setPalette(m_originalPalette);
}

void TestNoteHeaderBar::startsWithNothingToActOn()
{
    NoteHeaderBar bar;
    QCOMPARE(bar.height(), 40);
    QCOMPARE(bar.notebookChip()->text(), QString("Unorganized"));
    QCOMPARE(bar.notebookChip()->toolTip(), QString("Open this notebook"));
    QVERIFY(bar.dateLabel()->text().isEmpty());
    for (QWidget *widget :
        { static_cast<QWidget *>(bar.notebookChip()), static_cast<QWidget *>(bar.copyButton()),
            static_cast<QWidget *>(bar.shareButton()), static_cast<QWidget *>(bar.historyButton()),
            static_cast<QWidget *>(bar.moreButton()) })
        QVERIFY2(!widget->isEnabled(), qPrintable(widget->toolTip()));
    QVERIFY(bar.includeInTodos());
    QCOMPARE(bar.moreButton()->toolTip(), QString("More actions"));
    QCOMPARE(bar.copyButton()->toolTip(), QString("Copy…"));
    QCOMPARE(bar.historyButton()->toolTip(), QString("Version history"));
    // A click leaves the keyboard focus in the editor; Tab still reaches the button.
    QCOMPARE(bar.copyButton()->focusPolicy(), Qt::TabFocus);
    QCOMPARE(bar.copyButton()->size(), QSize(32, 28));
}

void TestNoteHeaderBar::hasNoteEnablesActions_data()
{
    QTest::addColumn<bool>("canShare");
    QTest::addColumn<bool>("hasNote");
    QTest::addColumn<bool>("shareVisible");
    QTest::addColumn<bool>("shareEnabled");
    QTest::addRow("no sharing, note") << false << true << false << false;
    QTest::addRow("sharing, note") << true << true << true << true;
    QTest::addRow("sharing, no note") << true << false << true << false;
    QTest::addRow("no sharing, no note") << false << false << false << false;
}

void TestNoteHeaderBar::hasNoteEnablesActions()
{
    QFETCH(bool, canShare);
    QFETCH(bool, hasNote);
    QFETCH(bool, shareVisible);
    QFETCH(bool, shareEnabled);
    NoteHeaderBar bar;
    bar.show();
    bar.setUpdatedAt(QDateTime::currentDateTimeUtc());
    bar.setCanShare(canShare);
    bar.setHasNote(hasNote);

    QCOMPARE(bar.shareButton()->isVisible(), shareVisible);
    QCOMPARE(bar.shareButton()->isEnabled(), shareEnabled);
    QCOMPARE(bar.copyButton()->isEnabled(), hasNote);
    QCOMPARE(bar.historyButton()->isEnabled(), hasNote);
    QCOMPARE(bar.moreButton()->isEnabled(), hasNote);
    QCOMPARE(bar.notebookChip()->isEnabled(), hasNote);
    QCOMPARE(bar.dateLabel()->text(), hasNote ? QString("Updated just now") : QString());
}

void TestNoteHeaderBar::menuEntriesEmitTheirRequests_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("signal");
    QTest::addRow("copy plain") << "copy"
                                << "Copy as Plain Text"
                                << QByteArray(SIGNAL(copyAsPlainTextRequested()));
    QTest::addRow("copy markdown")
        << "copy"
        << "Copy as Markdown" << QByteArray(SIGNAL(copyAsMarkdownRequested()));
    QTest::addRow("copy html") << "copy"
                               << "Copy as HTML" << QByteArray(SIGNAL(copyAsHtmlRequested()));
    QTest::addRow("move") << "more"
                          << "Move to Notebook…" << QByteArray(SIGNAL(moveToNotebookRequested()));
    QTest::addRow("export") << "more"
                            << "Export…" << QByteArray(SIGNAL(exportRequested()));
    QTest::addRow("print") << "more"
                           << "Print…" << QByteArray(SIGNAL(printRequested()));
    QTest::addRow("trash") << "more"
                           << "Move to Trash" << QByteArray(SIGNAL(deleteRequested()));
}

void TestNoteHeaderBar::menuEntriesEmitTheirRequests()
{
    QFETCH(QString, menu);
    QFETCH(QString, entry);
    QFETCH(QByteArray, signal);
    NoteHeaderBar bar;
    bar.setHasNote(true);
    QSignalSpy spy(&bar, signal.constData());
    QMenu *source = menu == "copy" ? bar.copyMenu() : bar.moreMenu();
    QAction *found = nullptr;
    for (QAction *action : source->actions()) {
        if (action->text() == entry)
            found = action;
    }
    QVERIFY(found);
    found->trigger();
    QCOMPARE(spy.count(), 1);
}

void TestNoteHeaderBar::includeInTodosSetterIsSilent()
{
    NoteHeaderBar bar;
    bar.setHasNote(true);
    QSignalSpy spy(&bar, &NoteHeaderBar::includeInTodosToggled);
    bar.setIncludeInTodos(false);
    QVERIFY(!bar.includeInTodos());
    QCOMPARE(spy.count(), 0);

    bar.includeInTodosAction()->trigger();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
}

void TestNoteHeaderBar::sharedMarkerAndToolTip()
{
    NoteHeaderBar bar;
    bar.setCanShare(true);
    bar.setHasNote(true);
    const QImage plain = bar.shareButton()->icon().pixmap(QSize(18, 18), 2.0).toImage();
    bar.setShared(true);
    QCOMPARE(bar.shareButton()->toolTip(), QString("Manage sharing"));
    const QImage shared = bar.shareButton()->icon().pixmap(QSize(18, 18), 2.0).toImage();
    QVERIFY(plain != shared);
    bar.setShared(false);
    QCOMPARE(bar.shareButton()->toolTip(), QString("Share note"));

    QSignalSpy spy(&bar, &NoteHeaderBar::shareRequested);
    QTest::mouseClick(bar.shareButton(), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

void TestNoteHeaderBar::notebookNameAndChipStyleFollowTheme_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("background");
    QTest::addColumn<QString>("text");
    QTest::addRow("light") << "#f5f5f5"
                           << "#eff1f4"
                           << "#2b3138";
    QTest::addRow("dark") << "#1a1a1a"
                          << "#2a2d31"
                          << "#d7dbe0";
}

void TestNoteHeaderBar::notebookNameAndChipStyleFollowTheme()
{
    QFETCH(QString, window);
    QFETCH(QString, background);
    QFETCH(QString, text);
    // As in the windows: a shown child widget.
    QWidget owner;
    auto &bar = *new NoteHeaderBar(&owner);
    owner.show();
    QPalette palette = m_originalPalette;
    palette.setColor(QPalette::Window, QColor(window));
    QApplication::setPalette(palette);

    // Widgets hear of it through posted events.
    QTRY_VERIFY2(bar.notebookChip()->styleSheet().contains("background-color: " + background + ";"),
        qPrintable(bar.notebookChip()->styleSheet()));
    QVERIFY(bar.notebookChip()->styleSheet().contains("color: " + text + ";"));

    bar.setNotebookName(QString());
    QCOMPARE(bar.notebookChip()->text(), QString("No notebook"));
    bar.setNotebookName("Work");
    QCOMPARE(bar.notebookChip()->text(), QString("Work"));
    bar.setChipToolTip("Move to notebook…");
    QCOMPARE(bar.notebookChip()->toolTip(), QString("Move to notebook…"));
}

void TestNoteHeaderBar::focusModeRedrawsToggle()
{
    NoteHeaderBar bar;
    const QImage normal = bar.focusToggle()->icon().pixmap(QSize(18, 18), 2.0).toImage();
    bar.setFocusMode(true);
    QVERIFY(bar.focusMode());
    const QImage focus = bar.focusToggle()->icon().pixmap(QSize(18, 18), 2.0).toImage();
    QVERIFY(normal != focus);

    QSignalSpy spy(&bar, &NoteHeaderBar::focusToggleClicked);
    QTest::mouseClick(bar.focusToggle(), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    bar.showFocusToggle(false);
    bar.show();
    QVERIFY(!bar.focusToggle()->isVisible());
}

QTEST_MAIN(TestNoteHeaderBar)
#include "tst_noteheaderbar.moc"
