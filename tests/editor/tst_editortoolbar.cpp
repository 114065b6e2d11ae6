// Test tables read better with plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "editortoolbar.h"
#include "noteeditor.h"

#include <QAction>
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextTable>
#include <QVBoxLayout>

namespace {

const QString RichNote = QString::fromUtf8(
    "[{\"attributes\":{\"bold\":true},\"insert\":\"Title\"},{\"attributes\":{\"header\":2},"
    "\"insert\":\"\\n\"},"
    "{\"insert\":\"plain "
    "\"},{\"attributes\":{\"italic\":true,\"strike\":true},\"insert\":\"styled\"},{\"insert\":"
    "\"\\n\"},"
    "{\"insert\":\"done\"},{\"attributes\":{\"list\":\"checked\"},\"insert\":\"\\n\"},"
    "{\"insert\":\"todo\"},{\"attributes\":{\"list\":\"unchecked\"},\"insert\":\"\\n\"},"
    "{\"insert\":\"first\"},{\"attributes\":{\"list\":\"ordered\",\"align\":\"right\"},\"insert\":"
    "\"\\n\"},"
    "{\"insert\":\"cite\"},{\"attributes\":{\"blockquote\":true,\"align\":\"center\"},\"insert\":"
    "\"\\n\"},"
    "{\"attributes\":{\"code\":true},\"insert\":\"x=1\"},{\"attributes\":{\"code-block\":true},"
    "\"insert\":\"\\n\"},"
    "{\"insert\":{\"table\":\"{\\\"cells\\\":[[\\\"h\\\"],[\\\"c\\\"]],\\\"hasHeader\\\":true}\"}},"
    "{\"insert\":\"\\n\"},"
    "{\"insert\":\"end\"},{\"insert\":\"\\n\"}]");

int positionOf(NoteEditor &editor, const QString &text)
{
    return int(editor.toPlainText().indexOf(text)) + 1;
}

} // namespace

class TestEditorToolbar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsHiddenAndDisabled();
    void buttonsInOrderWithToolTips();
    void statesFollowCursor_data();
    void statesFollowCursor();
    void headingComboAppliesHeading();
    void buttonsCallEditorCommands_data();
    void buttonsCallEditorCommands();
    void secondEditorDisconnectsFirst();

private:
    QWidget *m_window = nullptr;
    EditorToolbar *m_toolbar = nullptr;
    NoteEditor *m_editor = nullptr;
};

void TestEditorToolbar::init()
{
    m_window = new QWidget;
    auto *layout = new QVBoxLayout(m_window);
    m_toolbar = new EditorToolbar(m_window);
    m_editor = new NoteEditor(m_window);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_editor);
    m_toolbar->setEditor(m_editor);
    m_window->resize(800, 500);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestEditorToolbar::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestEditorToolbar::startsHiddenAndDisabled()
{
    EditorToolbar toolbar;
    QVERIFY(!toolbar.isEnabled());
    QVERIFY(toolbar.isHidden());
    QVERIFY(!toolbar.isMovable());
    QCOMPARE(toolbar.iconSize(), QSize(16, 16));
    QCOMPARE(toolbar.toolButtonStyle(), Qt::ToolButtonIconOnly);
    m_toolbar->setActive(true);
    QVERIFY(m_toolbar->isEnabled());
    QVERIFY(m_toolbar->isVisible());
    m_toolbar->setActive(false);
    QVERIFY(!m_toolbar->isEnabled());
    QVERIFY(m_toolbar->isHidden());
}

void TestEditorToolbar::buttonsInOrderWithToolTips()
{
    QStringList tips;
    for (QAction *action : m_toolbar->actions()) {
        if (action->isSeparator())
            tips << QStringLiteral("|");
        else if (!action->toolTip().isEmpty() && action->icon().isNull() == false)
            tips << action->toolTip();
        else
            tips << QStringLiteral("combo");
    }
    const QStringList expected { QStringLiteral("Bold (Ctrl+B)"), QStringLiteral("Italic (Ctrl+I)"),
        QStringLiteral("Underline (Ctrl+U)"), QStringLiteral("Strikethrough (Ctrl+Shift+X)"),
        QStringLiteral("Inline Code (Ctrl+`)"), QStringLiteral("|"), QStringLiteral("combo"),
        QStringLiteral("|"), QStringLiteral("Bullet List (Ctrl+Shift+8)"),
        QStringLiteral("Numbered List (Ctrl+Shift+7)"),
        QStringLiteral("Checkbox List (Ctrl+Shift+9)"), QStringLiteral("|"),
        QStringLiteral("Code Block (Ctrl+Shift+`)"), QStringLiteral("Blockquote (Ctrl+Shift+B)"),
        QStringLiteral("|"), QStringLiteral("Align Left (Ctrl+Shift+L)"),
        QStringLiteral("Align Center (Ctrl+Shift+E)"), QStringLiteral("Align Right (Ctrl+Shift+R)"),
        QStringLiteral("|"), QStringLiteral("Insert Link (Ctrl+K)"),
        QStringLiteral("Insert Divider"), QStringLiteral("Insert Table (Ctrl+T)"),
        QStringLiteral("Insert Attachment (Ctrl+Shift+A)") };
    QCOMPARE(tips, expected);
    QCOMPARE(m_toolbar->headingCombo()->count(), 7);
    QCOMPARE(m_toolbar->headingCombo()->itemText(0), QStringLiteral("Normal"));
    QCOMPARE(m_toolbar->headingCombo()->itemText(6), QStringLiteral("Heading 6"));
    QCOMPARE(m_toolbar->headingCombo()->itemData(6).toInt(), 6);
    QCOMPARE(m_toolbar->headingCombo()->toolTip(), QStringLiteral("Heading Level"));
}

void TestEditorToolbar::statesFollowCursor_data()
{
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<bool>("tableEnabled");

    QTest::addRow("heading 2") << QStringLiteral("Title") << QStringLiteral("Heading 2")
                               << QStringList { "bold", "left" } << true;
    QTest::addRow("plain text") << QStringLiteral("plain") << QStringLiteral("Normal")
                                << QStringList { "left" } << true;
    QTest::addRow("italic struck text") << QStringLiteral("styled") << QStringLiteral("Normal")
                                        << QStringList { "italic", "strike", "left" } << true;
    QTest::addRow("checked item") << QStringLiteral("done") << QStringLiteral("Normal")
                                  << QStringList { "checkbox", "left" } << true;
    QTest::addRow("unchecked item") << QStringLiteral("todo") << QStringLiteral("Normal")
                                    << QStringList { "checkbox", "left" } << true;
    QTest::addRow("numbered right-aligned item")
        << QStringLiteral("first") << QStringLiteral("Normal")
        << QStringList { "numbered", "right" } << true;
    QTest::addRow("centred quote") << QStringLiteral("cite") << QStringLiteral("Normal")
                                   << QStringList { "quote", "center" } << true;
    QTest::addRow("code block") << QStringLiteral("x=1") << QStringLiteral("Normal")
                                << QStringList { "code", "codeblock", "left" } << true;
    QTest::addRow("inside a table")
        << QStringLiteral("c\n") << QStringLiteral("Normal") << QStringList { "left" } << false;
}

void TestEditorToolbar::statesFollowCursor()
{
    QFETCH(QString, at);
    QFETCH(QString, heading);
    QFETCH(QStringList, checked);
    QFETCH(bool, tableEnabled);

    m_toolbar->setActive(true);
    m_editor->setNote(QStringLiteral("n1"), RichNote);
    QSignalSpy headingChanges(m_editor->document(), &QTextDocument::contentsChanged);
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(positionOf(*m_editor, at));
    m_editor->setTextCursor(cursor);

    // Following the cursor never edits the note.
    QCOMPARE(headingChanges.count(), 0);
    QCOMPARE(m_toolbar->headingCombo()->currentText(), heading);
    const QList<QPair<QString, QAction *>> actions {
        { "bold", m_toolbar->boldAction() },
        { "italic", m_toolbar->italicAction() },
        { "underline", m_toolbar->underlineAction() },
        { "strike", m_toolbar->strikeAction() },
        { "code", m_toolbar->codeAction() },
        { "bullet", m_toolbar->bulletListAction() },
        { "numbered", m_toolbar->numberedListAction() },
        { "checkbox", m_toolbar->checkboxListAction() },
        { "codeblock", m_toolbar->codeBlockAction() },
        { "quote", m_toolbar->blockquoteAction() },
        { "left", m_toolbar->alignLeftAction() },
        { "center", m_toolbar->alignCenterAction() },
        { "right", m_toolbar->alignRightAction() },
    };
    for (const auto &[name, action] : actions) {
        if (action->isChecked() != checked.contains(name))
            QFAIL(qPrintable(QStringLiteral("%1 checked: %2").arg(name).arg(action->isChecked())));
    }
    QCOMPARE(m_toolbar->tableAction()->isEnabled(), tableEnabled);
    QCOMPARE(m_toolbar->tableAction()->toolTip(),
        tableEnabled ? QStringLiteral("Insert Table (Ctrl+T)")
                     : QStringLiteral("Nested tables are not supported"));
}

void TestEditorToolbar::headingComboAppliesHeading()
{
    m_toolbar->setActive(true);
    m_editor->setNote(
        QStringLiteral("n1"), QString::fromUtf8(R"([{"insert":"text"},{"insert":"\n"}])"));
    m_toolbar->headingCombo()->setCurrentIndex(3);
    QCOMPARE(m_editor->content(),
        QString::fromUtf8(R"([{"insert":"text"},{"attributes":{"header":3},"insert":"\n"}])"));
    m_toolbar->headingCombo()->setCurrentIndex(0);
    QCOMPARE(m_editor->content(), QString::fromUtf8(R"([{"insert":"text"},{"insert":"\n"}])"));
}

void TestEditorToolbar::buttonsCallEditorCommands_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("expected");
    QTest::addRow("bold") << "bold"
                          << R"([{"attributes":{"bold":true},"insert":"text"},{"insert":"\n"}])";
    QTest::addRow("underline")
        << "underline"
        << R"([{"attributes":{"underline":true},"insert":"text"},{"insert":"\n"}])";
    QTest::addRow("bullet list")
        << "bullet"
        << R"([{"insert":"text"},{"attributes":{"list":"bullet"},"insert":"\n"}])";
    QTest::addRow("checkbox list")
        << "checkbox"
        << R"([{"insert":"text"},{"attributes":{"list":"unchecked"},"insert":"\n"}])";
    QTest::addRow("blockquote")
        << "quote"
        << R"([{"insert":"text"},{"attributes":{"blockquote":true},"insert":"\n"}])";
    QTest::addRow("align center")
        << "center"
        << R"([{"insert":"text"},{"attributes":{"align":"center"},"insert":"\n"}])";
    QTest::addRow("divider")
        << "divider"
        << R"([{"insert":"text"},{"insert":"\n"},{"insert":{"divider":"hr"}},{"insert":"\n"},{"insert":"\n"}])";
}

void TestEditorToolbar::buttonsCallEditorCommands()
{
    QFETCH(QString, button);
    QFETCH(QString, expected);
    const QHash<QString, QAction *> actions {
        { "bold", m_toolbar->boldAction() },
        { "underline", m_toolbar->underlineAction() },
        { "bullet", m_toolbar->bulletListAction() },
        { "checkbox", m_toolbar->checkboxListAction() },
        { "quote", m_toolbar->blockquoteAction() },
        { "center", m_toolbar->alignCenterAction() },
        { "divider", m_toolbar->dividerAction() },
    };
    m_toolbar->setActive(true);
    m_editor->setNote(
        QStringLiteral("n1"), QString::fromUtf8(R"([{"insert":"text"},{"insert":"\n"}])"));
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    m_editor->setTextCursor(cursor);
    actions.value(button)->trigger();
    QCOMPARE(m_editor->content(), expected);
    if (actions.value(button)->isCheckable())
        QVERIFY(actions.value(button)->isChecked());
}

void TestEditorToolbar::secondEditorDisconnectsFirst()
{
    NoteEditor second;
    m_editor->setNote(QStringLiteral("n1"), RichNote);
    m_toolbar->setEditor(&second);
    second.setNote(
        QStringLiteral("n2"), QString::fromUtf8(R"([{"insert":"text"},{"insert":"\n"}])"));
    QCOMPARE(m_toolbar->headingCombo()->currentText(), QStringLiteral("Normal"));

    QTextCursor cursor(m_editor->document());
    cursor.setPosition(positionOf(*m_editor, QStringLiteral("plain")));
    m_editor->setTextCursor(cursor);
    cursor.setPosition(positionOf(*m_editor, QStringLiteral("Title")));
    m_editor->setTextCursor(cursor);
    m_editor->toggleBold();
    QCOMPARE(m_toolbar->headingCombo()->currentText(), QStringLiteral("Normal"));
    QVERIFY(!m_toolbar->boldAction()->isChecked());

    // The buttons now act on the second editor only.
    const QString firstBefore = m_editor->content();
    QTextCursor all(second.document());
    all.setPosition(4, QTextCursor::KeepAnchor);
    second.setTextCursor(all);
    m_toolbar->boldAction()->trigger();
    QCOMPARE(m_editor->content(), firstBefore);
    QCOMPARE(second.content(),
        QString::fromUtf8(R"([{"attributes":{"bold":true},"insert":"text"},{"insert":"\n"}])"));
    m_toolbar->setEditor(nullptr);
}

QTEST_MAIN(TestEditorToolbar)
#include "tst_editortoolbar.moc"
