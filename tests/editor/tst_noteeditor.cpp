#include "deltadocument.h"
#include "modalanswers.h"
#include "noteeditor.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextTable>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <functional>

using EditorCommand = std::function<void(NoteEditor &)>;
Q_DECLARE_METATYPE(EditorCommand)

namespace {

const QString Plain = QStringLiteral(R"([{"insert":"hello world"},{"insert":"\n"}])");
const QString TwoLines
    = QStringLiteral(R"([{"insert":"alpha"},{"insert":"\n"},{"insert":"beta"},{"insert":"\n"}])");

QString json(const char *text)
{
    return QString::fromUtf8(text);
}

void select(NoteEditor &editor, int anchor, int position)
{
    QTextCursor cursor(editor.document());
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
}

// Answers the next modal dialog: fills its line edits in order, then presses OK.
void answerNextDialog(QObject *context, const QStringList &fields)
{
    answerModal(context, [fields](QWidget *modal) {
        auto *dialog = qobject_cast<QDialog *>(modal);
        if (!dialog)
            return false;
        const auto edits = dialog->findChildren<QLineEdit *>();
        for (int i = 0; i < edits.size() && i < fields.size(); ++i)
            edits.at(i)->setText(fields.at(i));
        dialog->accept();
        return true;
    });
}

QTextTable *firstTable(NoteEditor &editor)
{
    for (QTextBlock block = editor.document()->begin(); block.isValid(); block = block.next()) {
        if (QTextTable *table = QTextCursor(block).currentTable())
            return table;
    }
    return nullptr;
}

QPoint pointOf(NoteEditor &editor, int position)
{
    QTextCursor cursor(editor.document());
    cursor.setPosition(position);
    return editor.cursorRect(cursor).center() + QPoint(2, 0);
}

} // namespace

class TestNoteEditor : public QObject
{
    Q_OBJECT

public slots:
    void handleUrl(const QUrl &url) { m_openedUrls.append(url); }

private slots:
    void init();
    void cleanup();

    void newEditorIsReadOnlyWithoutNote();
    void setNoteShowsContentAndIsSaved();
    void echoOfOwnSaveDoesNotReload();
    void reloadKeepsCursor_data();
    void reloadKeepsCursor();
    void reloadOfAnotherNotePutsCursorAtStart();
    void clearNoteMakesReadOnly();
    void quickKeystrokesGiveOneSaveAfterAPause();
    void steadyTypingIsSavedWithinTheCeiling();
    void loadingDoesNotCountAsEdit();
    void wordCount_data();
    void wordCount();
    void keyboardShortcuts_data();
    void keyboardShortcuts();
    void commandsWriteDelta_data();
    void commandsWriteDelta();
    void listKeys_data();
    void listKeys();
    void tabMovesThroughTableAndAddsRow();
    void shiftTabStopsAtFirstCell();
    void tableCommands_data();
    void tableCommands();
    void tableNotNested();
    void tripleClickSelectsParagraph_data();
    void tripleClickSelectsParagraph();
    void insertLinkWithDialog();
    void editAndRemoveLink();
    void ctrlClickOpensLink();
    void linkToolTip();
    void insertDeltaSkipsTrailingEmptyLine();
    void formatStateFollowsCursor();
    void checkboxClickChangesOnlyThatItem_data();
    void checkboxClickChangesOnlyThatItem();
    void readOnlyNoteIgnoresCommands();
    void contextMenus_data();
    void contextMenus();
    void tablePromptReturnsChoices();
    void dividerSpansTextWidth();
    void editorKeysWinOverWindowShortcuts();

private:
    NoteEditor *m_editor = nullptr;
    QList<QUrl> m_openedUrls;
};

void TestNoteEditor::init()
{
    m_editor = new NoteEditor;
    m_editor->resize(600, 400);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor));
    m_openedUrls.clear();
}

void TestNoteEditor::cleanup()
{
    delete m_editor;
    m_editor = nullptr;
}

void TestNoteEditor::newEditorIsReadOnlyWithoutNote()
{
    QVERIFY(m_editor->isReadOnly());
    QVERIFY(m_editor->isSaved());
    QCOMPARE(
        m_editor->placeholderText(), QStringLiteral("Select a note or press Ctrl+N to create one"));
    QTest::keyClicks(m_editor, QStringLiteral("x"));
    QCOMPARE(m_editor->document()->toPlainText(), QString());
}

void TestNoteEditor::setNoteShowsContentAndIsSaved()
{
    QSignalSpy saved(m_editor, &NoteEditor::savedStateChanged);
    QSignalSpy words(m_editor, &NoteEditor::wordCountChanged);
    m_editor->setNote(QStringLiteral("n1"), Plain);
    QVERIFY(!m_editor->isReadOnly());
    QCOMPARE(m_editor->placeholderText(), QStringLiteral("Start typing..."));
    QCOMPARE(m_editor->content(), Plain);
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.last().at(0).toBool(), true);
    QCOMPARE(words.last().at(0).toInt(), 2);
    QCOMPARE(m_editor->textCursor().position(), 0);
    QVERIFY(!m_editor->document()->isUndoAvailable());
}

void TestNoteEditor::echoOfOwnSaveDoesNotReload()
{
    m_editor->setNote(QStringLiteral("n1"), Plain);
    m_editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(m_editor, QStringLiteral("!"));
    QSignalSpy modified(m_editor, &NoteEditor::noteModified);
    QVERIFY(modified.wait(3000));
    const QString stored = m_editor->content();
    const int position = m_editor->textCursor().position();
    m_editor->setNote(QStringLiteral("n1"), stored);
    QCOMPARE(m_editor->textCursor().position(), position);
    // Reloading would have emptied the undo history.
    QVERIFY(m_editor->document()->isUndoAvailable());
}

void TestNoteEditor::reloadKeepsCursor_data()
{
    QTest::addColumn<QString>("reloaded");
    QTest::addColumn<int>("expected");
    QTest::addRow("longer content")
        << json(R"([{"insert":"hello brave new world"},{"insert":"\n"}])") << 7;
    QTest::addRow("shorter content clamps") << json(R"([{"insert":"hey"},{"insert":"\n"}])") << 3;
}

void TestNoteEditor::reloadKeepsCursor()
{
    QFETCH(QString, reloaded);
    QFETCH(int, expected);
    m_editor->setNote(QStringLiteral("n1"), Plain);
    select(*m_editor, 7, 7);
    m_editor->setNote(QStringLiteral("n1"), reloaded);
    QCOMPARE(m_editor->content(), reloaded);
    QCOMPARE(m_editor->textCursor().position(), expected);
}

void TestNoteEditor::reloadOfAnotherNotePutsCursorAtStart()
{
    QString lines;
    for (int i = 0; i < 200; ++i)
        lines += QStringLiteral("line %1\\n").arg(i);
    const QString body = QStringLiteral("[{\"insert\":\"%1\"}]").arg(lines);
    m_editor->setNote(QStringLiteral("n1"), body);
    m_editor->moveCursor(QTextCursor::End);
    m_editor->verticalScrollBar()->setValue(m_editor->verticalScrollBar()->maximum() / 2);
    const int scroll = m_editor->verticalScrollBar()->value();
    QVERIFY(scroll > 0);
    m_editor->setNote(QStringLiteral("n1"), body, true);
    QCOMPARE(m_editor->verticalScrollBar()->value(), scroll);
    m_editor->setNote(QStringLiteral("n2"), body);
    QCOMPARE(m_editor->textCursor().position(), 0);
    QCOMPARE(m_editor->verticalScrollBar()->value(), 0);
}

void TestNoteEditor::clearNoteMakesReadOnly()
{
    m_editor->setNote(QStringLiteral("n1"), Plain);
    QSignalSpy words(m_editor, &NoteEditor::wordCountChanged);
    m_editor->clearNote();
    QVERIFY(m_editor->isReadOnly());
    QVERIFY(m_editor->noteId().isEmpty());
    QCOMPARE(m_editor->document()->toPlainText(), QString());
    QCOMPARE(words.last().at(0).toInt(), 0);
}

void TestNoteEditor::quickKeystrokesGiveOneSaveAfterAPause()
{
    m_editor->setNote(QStringLiteral("n1"), Plain);
    QSignalSpy modified(m_editor, &NoteEditor::noteModified);
    QSignalSpy saved(m_editor, &NoteEditor::savedStateChanged);
    QTest::keyClicks(m_editor, QStringLiteral("abcdefghij"));
    QCOMPARE(modified.count(), 0);
    QVERIFY(!m_editor->isSaved());
    QCOMPARE(saved.last().at(0).toBool(), false);
    QTRY_COMPARE_WITH_TIMEOUT(modified.count(), 1, 3000);
    QVERIFY(m_editor->isSaved());
    QCOMPARE(saved.last().at(0).toBool(), true);
    QVERIFY(m_editor->content().contains(QStringLiteral("abcdefghijhello")));
}

void TestNoteEditor::steadyTypingIsSavedWithinTheCeiling()
{
    m_editor->setNote(QStringLiteral("n1"), Plain);
    QSignalSpy modified(m_editor, &NoteEditor::noteModified);
    // A key every 200 ms never leaves the one second of quiet the normal save waits for.
    QTimer typist;
    typist.setInterval(200);
    connect(&typist, &QTimer::timeout, m_editor, [this] { QTest::keyClick(m_editor, Qt::Key_X); });
    QElapsedTimer sinceFirstKey;
    QTest::keyClick(m_editor, Qt::Key_X);
    sinceFirstKey.start();
    typist.start();
    QTRY_COMPARE_WITH_TIMEOUT(modified.count(), 1, NoteEditor::AutosaveCeilingMs + 2000);
    QVERIFY(typist.isActive());
    QVERIFY2(sinceFirstKey.elapsed() < NoteEditor::AutosaveCeilingMs + 1000,
        qPrintable(QString::number(sinceFirstKey.elapsed())));
    // The next burst starts its own ceiling rather than saving on every key.
    QTest::qWait(400);
    QCOMPARE(modified.count(), 1);
    QVERIFY(!m_editor->isSaved());
    typist.stop();
    QTRY_COMPARE(modified.count(), 2);
}

void TestNoteEditor::loadingDoesNotCountAsEdit()
{
    QSignalSpy saved(m_editor, &NoteEditor::savedStateChanged);
    m_editor->setNote(QStringLiteral("n1"), TwoLines);
    m_editor->setNote(QStringLiteral("n2"), Plain);
    for (const QList<QVariant> &args : saved)
        QCOMPARE(args.at(0).toBool(), true);
    QVERIFY(m_editor->isSaved());
}

void TestNoteEditor::wordCount_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("words");
    QTest::addRow("empty note") << json(R"([{"insert":"\n"}])") << 0;
    QTest::addRow("only spaces") << json(R"([{"insert":"   \t \n"}])") << 0;
    QTest::addRow("words across lines")
        << json(R"([{"insert":"one two\nthree\n\nfour  five\n"}])") << 5;
    QTest::addRow("formatted runs inside a word")
        << json(R"([{"attributes":{"bold":true},"insert":"to"},{"insert":"gether\n"}])") << 1;
}

void TestNoteEditor::wordCount()
{
    QFETCH(QString, body);
    QFETCH(int, words);
    m_editor->setNote(QStringLiteral("n1"), body);
    QCOMPARE(m_editor->wordCount(), words);
    // Typing a separate word counts it immediately.
    QSignalSpy spy(m_editor, &NoteEditor::wordCountChanged);
    m_editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(m_editor, QStringLiteral(" extra"));
    QCOMPARE(spy.last().at(0).toInt(), words + 1);
}

void TestNoteEditor::keyboardShortcuts_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const int alt = Qt::AltModifier;
    const QString boldHello = json(
        R"([{"attributes":{"bold":true},"insert":"hello"},{"insert":" world"},{"insert":"\n"}])");

    QTest::addRow("Ctrl+B bolds the selection")
        << Plain << 0 << 5 << int(Qt::Key_B) << ctrl << QString() << boldHello;
    QTest::addRow("Ctrl+B on bold text unbolds it")
        << boldHello << 0 << 5 << int(Qt::Key_B) << ctrl << QString() << Plain;
    QTest::addRow("Ctrl+I italic")
        << Plain << 0 << 5 << int(Qt::Key_I) << ctrl << QString()
        << json(
               R"([{"attributes":{"italic":true},"insert":"hello"},{"insert":" world"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+U underline")
        << Plain << 0 << 5 << int(Qt::Key_U) << ctrl << QString()
        << json(
               R"([{"attributes":{"underline":true},"insert":"hello"},{"insert":" world"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+` inline code")
        << Plain << 6 << 11 << int(Qt::Key_QuoteLeft) << ctrl << QString()
        << json(
               R"([{"insert":"hello "},{"attributes":{"code":true},"insert":"world"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+X strike")
        << Plain << 0 << 5 << int(Qt::Key_X) << ctrlShift << QString()
        << json(
               R"([{"attributes":{"strike":true},"insert":"hello"},{"insert":" world"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+B without selection bolds what is typed")
        << Plain << 11 << 11 << int(Qt::Key_B) << ctrl << QStringLiteral("!")
        << json(
               R"([{"insert":"hello world"},{"attributes":{"bold":true},"insert":"!"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+1 heading 1")
        << Plain << 3 << 3 << int(Qt::Key_1) << ctrl << QString()
        << json(
               R"([{"attributes":{"bold":true},"insert":"hello world"},{"attributes":{"header":1},"insert":"\n"}])");
    QTest::addRow("Ctrl+2 heading 2")
        << Plain << 3 << 3 << int(Qt::Key_2) << ctrl << QString()
        << json(
               R"([{"attributes":{"bold":true},"insert":"hello world"},{"attributes":{"header":2},"insert":"\n"}])");
    QTest::addRow("Ctrl+3 heading 3")
        << Plain << 3 << 3 << int(Qt::Key_3) << ctrl << QString()
        << json(R"([{"insert":"hello world"},{"attributes":{"header":3},"insert":"\n"}])");
    QTest::addRow("Ctrl+0 normal text") << json(
        R"([{"attributes":{"bold":true},"insert":"hello world"},{"attributes":{"header":1},"insert":"\n"}])")
                                        << 3 << 3 << int(Qt::Key_0) << ctrl << QString() << Plain;
    QTest::addRow("Ctrl+L selects the paragraph text")
        << TwoLines << 8 << 8 << int(Qt::Key_L) << ctrl << QStringLiteral("x")
        << json(R"([{"insert":"alpha"},{"insert":"\n"},{"insert":"x"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+W deletes the previous word")
        << Plain << 11 << 11 << int(Qt::Key_W) << ctrl << QString()
        << json(R"([{"insert":"hello "},{"insert":"\n"}])");
    QTest::addRow("Ctrl+W deletes the selection")
        << Plain << 0 << 6 << int(Qt::Key_W) << ctrl << QString()
        << json(R"([{"insert":"world"},{"insert":"\n"}])");
    const QString ordered
        = json(R"([{"insert":"hello world"},{"attributes":{"list":"ordered"},"insert":"\n"}])");
    const QString bullet
        = json(R"([{"insert":"hello world"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    const QString checkbox
        = json(R"([{"insert":"hello world"},{"attributes":{"list":"unchecked"},"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+7 numbered list")
        << Plain << 0 << 0 << int(Qt::Key_7) << ctrlShift << QString() << ordered;
    QTest::addRow("Ctrl+Shift+& numbered list (US layout)")
        << Plain << 0 << 0 << int(Qt::Key_Ampersand) << ctrlShift << QString() << ordered;
    QTest::addRow("Ctrl+Shift+8 bullet list")
        << Plain << 0 << 0 << int(Qt::Key_8) << ctrlShift << QString() << bullet;
    QTest::addRow("Ctrl+Shift+* bullet list (US layout)")
        << Plain << 0 << 0 << int(Qt::Key_Asterisk) << ctrlShift << QString() << bullet;
    QTest::addRow("Ctrl+Shift+9 checkbox list")
        << Plain << 0 << 0 << int(Qt::Key_9) << ctrlShift << QString() << checkbox;
    QTest::addRow("Ctrl+Shift+( checkbox list (US layout)")
        << Plain << 0 << 0 << int(Qt::Key_ParenLeft) << ctrlShift << QString() << checkbox;
    QTest::addRow("Ctrl+Shift+8 on a bullet item leaves the list")
        << bullet << 0 << 0 << int(Qt::Key_8) << ctrlShift << QString() << Plain;
    QTest::addRow("Ctrl+Shift+9 on a ticked item leaves the list")
        << json(R"([{"insert":"hello world"},{"attributes":{"list":"checked"},"insert":"\n"}])")
        << 0 << 0 << int(Qt::Key_9) << ctrlShift << QString() << Plain;
    QTest::addRow("Ctrl+Shift+B blockquote")
        << Plain << 0 << 0 << int(Qt::Key_B) << ctrlShift << QString()
        << json(R"([{"insert":"hello world"},{"attributes":{"blockquote":true},"insert":"\n"}])");
    const QString codeBlock = json(
        R"([{"attributes":{"code":true},"insert":"hello world"},{"attributes":{"code-block":true},"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+` code block")
        << Plain << 0 << 0 << int(Qt::Key_QuoteLeft) << ctrlShift << QString() << codeBlock;
    QTest::addRow("Ctrl+Shift+~ code block (US layout)")
        << Plain << 0 << 0 << int(Qt::Key_AsciiTilde) << ctrlShift << QString() << codeBlock;
    QTest::addRow("Ctrl+Shift+` on a code block with a language ends it")
        << json(
               R"([{"attributes":{"code":true},"insert":"x = 1"},{"attributes":{"code-block":"python"},"insert":"\n"}])")
        << 0 << 0 << int(Qt::Key_QuoteLeft) << ctrlShift << QString()
        << json(R"([{"insert":"x = 1"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+D duplicates the paragraph")
        << Plain << 2 << 2 << int(Qt::Key_D) << ctrlShift << QString()
        << json(
               R"([{"insert":"hello world"},{"insert":"\n"},{"insert":"hello world"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+D keeps the list")
        << bullet << 2 << 2 << int(Qt::Key_D) << ctrlShift << QString()
        << json(
               R"([{"insert":"hello world"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"hello world"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+K deletes the first paragraph")
        << TwoLines << 1 << 1 << int(Qt::Key_K) << ctrlShift << QString()
        << json(R"([{"insert":"beta"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+K deletes the last paragraph's text")
        << TwoLines << 8 << 8 << int(Qt::Key_K) << ctrlShift << QString()
        << json(R"([{"insert":"alpha"},{"insert":"\n"},{"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+K deletes a middle paragraph")
        << json(
               R"([{"attributes":{"bold":true},"insert":"a"},{"attributes":{"header":1},"insert":"\n"},{"insert":"b"},{"insert":"\n"},{"insert":"c"},{"attributes":{"list":"bullet"},"insert":"\n"}])")
        << 3 << 3 << int(Qt::Key_K) << ctrlShift << QString()
        << json(
               R"([{"attributes":{"bold":true},"insert":"a"},{"attributes":{"header":1},"insert":"\n"},{"insert":"c"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+K keeps the next paragraph's heading")
        << json(
               R"([{"insert":"alpha"},{"insert":"\n"},{"insert":"beta"},{"attributes":{"header":3},"insert":"\n"}])")
        << 1 << 1 << int(Qt::Key_K) << ctrlShift << QString()
        << json(R"([{"insert":"beta"},{"attributes":{"header":3},"insert":"\n"}])");
    QTest::addRow("Alt+Up swaps with the previous paragraph")
        << json(
               R"([{"insert":"alpha"},{"insert":"\n"},{"attributes":{"bold":true},"insert":"beta"},{"attributes":{"list":"bullet"},"insert":"\n"}])")
        << 8 << 8 << int(Qt::Key_Up) << alt << QStringLiteral("X")
        << json(
               R"([{"attributes":{"bold":true},"insert":"beXta"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"alpha"},{"insert":"\n"}])");
    QTest::addRow("Alt+Down swaps with the next paragraph")
        << TwoLines << 5 << 5 << int(Qt::Key_Down) << alt << QStringLiteral("X")
        << json(R"([{"insert":"beta"},{"insert":"\n"},{"insert":"alphaX"},{"insert":"\n"}])");
    QTest::addRow("Alt+Up on the first paragraph does nothing")
        << TwoLines << 1 << 1 << int(Qt::Key_Up) << alt << QString() << TwoLines;
    QTest::addRow("Ctrl+Shift+E centres")
        << Plain << 0 << 0 << int(Qt::Key_E) << ctrlShift << QString()
        << json(R"([{"insert":"hello world"},{"attributes":{"align":"center"},"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+R aligns right")
        << Plain << 0 << 0 << int(Qt::Key_R) << ctrlShift << QString()
        << json(R"([{"insert":"hello world"},{"attributes":{"align":"right"},"insert":"\n"}])");
    QTest::addRow("Ctrl+Shift+L aligns left")
        << json(R"([{"insert":"hello world"},{"attributes":{"align":"right"},"insert":"\n"}])") << 0
        << 0 << int(Qt::Key_L) << ctrlShift << QString() << Plain;
}

void TestNoteEditor::keyboardShortcuts()
{
    QFETCH(QString, body);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    m_editor->setNote(QStringLiteral("n1"), body);
    select(*m_editor, anchor, position);
    QTest::keyClick(m_editor, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (!typed.isEmpty())
        QTest::keyClicks(m_editor, typed);
    QCOMPARE(m_editor->content(), expected);
}

void TestNoteEditor::commandsWriteDelta_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<EditorCommand>("command");
    QTest::addColumn<QString>("expected");

    const QString heading1 = json(
        R"([{"attributes":{"bold":true},"insert":"hello world"},{"attributes":{"header":1},"insert":"\n"}])");
    QTest::addRow("heading removes bold words") << json(
        R"([{"insert":"hello "},{"attributes":{"italic":true},"insert":"world"},{"insert":"\n"}])")
                                                << 0 << 0 << EditorCommand([](NoteEditor &e) {
                                                       e.setHeading(1);
                                                   })
                                                << heading1;
    QTest::addRow("heading keeps a link")
        << json(
               R"([{"insert":"see "},{"attributes":{"link":"https://a.example"},"insert":"site"},{"insert":"\n"}])")
        << 0 << 0 << EditorCommand([](NoteEditor &e) { e.setHeading(3); })
        << json(
               R"([{"insert":"see "},{"attributes":{"link":"https://a.example"},"insert":"site"},{"attributes":{"header":3},"insert":"\n"}])");
    QTest::addRow("heading over two paragraphs")
        << TwoLines << 1 << 8 << EditorCommand([](NoteEditor &e) { e.setHeading(3); })
        << json(
               R"([{"insert":"alpha"},{"attributes":{"header":3},"insert":"\n"},{"insert":"beta"},{"attributes":{"header":3},"insert":"\n"}])");
    QTest::addRow("bullet list over mixed paragraphs")
        << json(
               R"([{"insert":"alpha"},{"insert":"\n"},{"insert":"beta"},{"attributes":{"list":"bullet"},"insert":"\n"}])")
        << 1 << 8 << EditorCommand([](NoteEditor &e) { e.toggleBulletList(); })
        << json(
               R"([{"insert":"alpha"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"beta"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("bullet toggle on selected bullet items") << json(
        R"([{"insert":"alpha"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"beta"},{"attributes":{"list":"bullet"},"insert":"\n"}])")
                                                            << 1 << 8
                                                            << EditorCommand([](NoteEditor &e) {
                                                                   e.toggleBulletList();
                                                               })
                                                            << TwoLines;
    QTest::addRow("checkbox list keeps ticks")
        << json(
               R"([{"insert":"alpha"},{"insert":"\n"},{"insert":"beta"},{"attributes":{"list":"checked"},"insert":"\n"}])")
        << 8 << 1 << EditorCommand([](NoteEditor &e) { e.toggleCheckboxList(); })
        << json(
               R"([{"insert":"alpha"},{"attributes":{"list":"unchecked"},"insert":"\n"},{"insert":"beta"},{"attributes":{"list":"checked"},"insert":"\n"}])");
    QTest::addRow("checkbox toggle on a ticked first item leaves the list")
        << json(
               R"([{"insert":"alpha"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"beta"},{"attributes":{"list":"unchecked"},"insert":"\n"}])")
        << 1 << 8 << EditorCommand([](NoteEditor &e) { e.toggleCheckboxList(); }) << TwoLines;
    QTest::addRow("blockquote replaces heading")
        << heading1 << 0 << 0 << EditorCommand([](NoteEditor &e) { e.toggleBlockquote(); })
        << json(R"([{"insert":"hello world"},{"attributes":{"blockquote":true},"insert":"\n"}])");
    QTest::addRow("blockquote toggled off")
        << json(R"([{"insert":"hello world"},{"attributes":{"blockquote":true},"insert":"\n"}])")
        << 0 << 0 << EditorCommand([](NoteEditor &e) { e.toggleBlockquote(); }) << Plain;
    QTest::addRow("inline code toggled off") << json(
        R"([{"attributes":{"code":true},"insert":"hello"},{"insert":" world"},{"insert":"\n"}])")
                                             << 0 << 5 << EditorCommand([](NoteEditor &e) {
                                                    e.toggleInlineCode();
                                                })
                                             << Plain;
    QTest::addRow("alignment justify") << Plain << 0 << 0 << EditorCommand([](NoteEditor &e) {
        e.setAlignment(Qt::AlignJustify | Qt::AlignTop);
    }) << json(R"([{"insert":"hello world"},{"attributes":{"align":"justify"},"insert":"\n"}])");
    QTest::addRow("divider after the paragraph")
        << Plain << 3 << 3 << EditorCommand([](NoteEditor &e) { e.insertDivider(); })
        << json(
               R"([{"insert":"hello world"},{"insert":"\n"},{"insert":{"divider":"hr"}},{"insert":"\n"},{"insert":"\n"}])");
    QTest::addRow("divider after a list item is no list item")
        << json(R"([{"insert":"hello world"},{"attributes":{"list":"bullet"},"insert":"\n"}])") << 3
        << 3 << EditorCommand([](NoteEditor &e) { e.insertDivider(); })
        << json(
               R"([{"insert":"hello world"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":{"divider":"hr"}},{"insert":"\n"},{"insert":"\n"}])");
    QTest::addRow("heading keeps a divider")
        << json(R"([{"insert":{"divider":"hr"}},{"insert":"\n"}])") << 0 << 0
        << EditorCommand([](NoteEditor &e) { e.setHeading(2); })
        << json(R"([{"insert":{"divider":"hr"}},{"attributes":{"header":2},"insert":"\n"}])");
    QTest::addRow("table with header into empty note") << json(
        R"([{"insert":"\n"}])") << 0 << 0 << EditorCommand([](NoteEditor &e) {
        e.insertTable(2, 2, true);
    }) << json(R"([{"insert":"\n"},{"insert":{"table":"{\"cells\":[[[],[]],[[],[]]],\"hasHeader\":true}"}},{"insert":"\n"}])");
    QTest::addRow("table after text without header")
        << Plain << 2 << 2 << EditorCommand([](NoteEditor &e) { e.insertTable(1, 2, false); })
        << json(
               R"([{"insert":"hello world"},{"insert":"\n"},{"insert":{"table":"{\"cells\":[[[],[]]],\"hasHeader\":false}"}},{"insert":"\n"}])");
    QTest::addRow("table of zero rows is nothing")
        << Plain << 2 << 2 << EditorCommand([](NoteEditor &e) { e.insertTable(0, 2, false); })
        << Plain;
    QTest::addRow("delta inserted at the cursor")
        << Plain << 6 << 6 << EditorCommand([](NoteEditor &e) {
               e.insertDelta(
                   QJsonDocument::fromJson(R"([{"attributes":{"bold":true},"insert":"big "}])")
                       .array());
           })
        << json(
               R"([{"insert":"hello "},{"attributes":{"bold":true},"insert":"big "},{"insert":"world"},{"insert":"\n"}])");
    QTest::addRow("remove link") << json(
        R"([{"insert":"see "},{"attributes":{"link":"https://a.example"},"insert":"site"},{"insert":"\n"}])")
                                 << 0 << 0
                                 << EditorCommand([](NoteEditor &e) { e.removeLinkAt(5); })
                                 << json(R"([{"insert":"see site"},{"insert":"\n"}])");
}

void TestNoteEditor::commandsWriteDelta()
{
    QFETCH(QString, body);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(EditorCommand, command);
    QFETCH(QString, expected);

    m_editor->setNote(QStringLiteral("n1"), body);
    const QString initial = m_editor->content();
    select(*m_editor, anchor, position);
    command(*m_editor);
    QCOMPARE(m_editor->content(), expected);
    if (expected != initial) {
        // Every command is one step of the undo history.
        m_editor->undo();
        QCOMPARE(m_editor->content(), initial);
        m_editor->redo();
        QCOMPARE(m_editor->content(), expected);
    }
}

void TestNoteEditor::listKeys_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    const QString twoBullets = json(
        R"([{"insert":"one"},{"attributes":{"list":"bullet"},"insert":"\n"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("Return on an empty bullet item leaves the list")
        << twoBullets << 4 << int(Qt::Key_Return) << QString()
        << json(
               R"([{"insert":"one"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"\n"}])");
    QTest::addRow("Enter on an empty checkbox item leaves the list")
        << json(
               R"([{"insert":"one"},{"attributes":{"list":"unchecked"},"insert":"\n"},{"attributes":{"list":"unchecked"},"insert":"\n"}])")
        << 4 << int(Qt::Key_Enter) << QString()
        << json(
               R"([{"insert":"one"},{"attributes":{"list":"unchecked"},"insert":"\n"},{"insert":"\n"}])");
    QTest::addRow("Return at the end of an item continues the list")
        << json(R"([{"insert":"one"},{"attributes":{"list":"bullet"},"insert":"\n"}])") << 3
        << int(Qt::Key_Return) << QStringLiteral("two")
        << json(
               R"([{"insert":"one"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"two"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("Return after a ticked item starts an unticked one")
        << json(R"([{"insert":"one"},{"attributes":{"list":"checked"},"insert":"\n"}])") << 3
        << int(Qt::Key_Return) << QStringLiteral("two")
        << json(
               R"([{"insert":"one"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"two"},{"attributes":{"list":"unchecked"},"insert":"\n"}])");
    QTest::addRow("Return at the start of an item opens a plain line above")
        << json(R"([{"insert":"one"},{"attributes":{"list":"bullet"},"insert":"\n"}])") << 0
        << int(Qt::Key_Return) << QStringLiteral("x")
        << json(
               R"([{"insert":"x"},{"insert":"\n"},{"insert":"one"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("Return at the end of a heading continues with body text")
        << json(
               R"([{"attributes":{"bold":true},"insert":"Title"},{"attributes":{"header":1},"insert":"\n"}])")
        << 5 << int(Qt::Key_Return) << QStringLiteral("x")
        << json(
               R"([{"attributes":{"bold":true},"insert":"Title"},{"attributes":{"header":1},"insert":"\n"},{"insert":"x"},{"insert":"\n"}])");
    QTest::addRow("Backspace on an empty first item removes it")
        << json(
               R"([{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"next"},{"attributes":{"blockquote":true},"insert":"\n"}])")
        << 0 << int(Qt::Key_Backspace) << QString()
        << json(R"([{"insert":"next"},{"attributes":{"blockquote":true},"insert":"\n"}])");
    QTest::addRow("Backspace on an empty first item keeps the next item's list")
        << json(
               R"([{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"next"},{"attributes":{"list":"ordered"},"insert":"\n"}])")
        << 0 << int(Qt::Key_Backspace) << QString()
        << json(R"([{"insert":"next"},{"attributes":{"list":"ordered"},"insert":"\n"}])");
    QTest::addRow("Backspace at the start of an item leaves the list")
        << json(
               R"([{"insert":"a"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"b"},{"attributes":{"list":"checked"},"insert":"\n"}])")
        << 2 << int(Qt::Key_Backspace) << QString()
        << json(
               R"([{"insert":"a"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"b"},{"insert":"\n"}])");
    QTest::addRow("Backspace inside an item deletes a character")
        << json(R"([{"insert":"ab"},{"attributes":{"list":"bullet"},"insert":"\n"}])") << 2
        << int(Qt::Key_Backspace) << QString()
        << json(R"([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
}

void TestNoteEditor::listKeys()
{
    QFETCH(QString, body);
    QFETCH(int, position);
    QFETCH(int, key);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    m_editor->setNote(QStringLiteral("n1"), body);
    select(*m_editor, position, position);
    QTest::keyClick(m_editor, Qt::Key(key));
    if (!typed.isEmpty())
        QTest::keyClicks(m_editor, typed);
    QCOMPARE(m_editor->content(), expected);
    m_editor->undo();
    if (!typed.isEmpty()) {
        while (m_editor->document()->isUndoAvailable() && m_editor->content() != body)
            m_editor->undo();
    }
    QCOMPARE(m_editor->content(), body);
}

void TestNoteEditor::tabMovesThroughTableAndAddsRow()
{
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":{"table":"{\"cells\":[[\"a\",\"b\"],[\"c\",\"d\"]],\"hasHeader\":false}"}},{"insert":"\n"}])"));
    QTextTable *table = firstTable(*m_editor);
    QVERIFY(table);
    m_editor->setTextCursor(table->cellAt(0, 0).firstCursorPosition());
    const QList<QPair<int, int>> expected { { 0, 1 }, { 1, 0 }, { 1, 1 } };
    for (const auto &cell : expected) {
        QTest::keyClick(m_editor, Qt::Key_Tab);
        const QTextTableCell current = table->cellAt(m_editor->textCursor());
        QCOMPARE(current.row(), cell.first);
        QCOMPARE(current.column(), cell.second);
    }
    QTest::keyClick(m_editor, Qt::Key_Tab);
    QCOMPARE(table->rows(), 3);
    QCOMPARE(table->cellAt(m_editor->textCursor()).row(), 2);
    QCOMPARE(table->cellAt(m_editor->textCursor()).column(), 0);
    QTest::keyClicks(m_editor, QStringLiteral("e"));
    QCOMPARE(m_editor->content(),
        json(
            R"([{"insert":{"table":"{\"cells\":[[[{\"insert\":\"a\"}],[{\"insert\":\"b\"}]],[[{\"insert\":\"c\"}],[{\"insert\":\"d\"}]],[[{\"insert\":\"e\"}],[]]],\"hasHeader\":false}"}},{"insert":"\n"}])"));
    QVERIFY(!m_editor->toPlainText().contains(QLatin1Char('\t')));
}

void TestNoteEditor::shiftTabStopsAtFirstCell()
{
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":{"table":"{\"cells\":[[\"a\",\"b\"]],\"hasHeader\":false}"}},{"insert":"\n"}])"));
    QTextTable *table = firstTable(*m_editor);
    QVERIFY(table);
    m_editor->setTextCursor(table->cellAt(0, 1).firstCursorPosition());
    QTest::keyClick(m_editor, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(table->cellAt(m_editor->textCursor()).column(), 0);
    const QString before = m_editor->content();
    QTest::keyClick(m_editor, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(table->cellAt(m_editor->textCursor()).column(), 0);
    QCOMPARE(m_editor->content(), before);
}

void TestNoteEditor::tableCommands_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<EditorCommand>("command");
    QTest::addColumn<QString>("expected");

    const QString twoByTwo = json(
        R"([{"insert":{"table":"{\"cells\":[[\"a\",\"b\"],[\"c\",\"d\"]],\"hasHeader\":false}"}},{"insert":"\n"}])");
    const auto table = [](const char *cells) {
        return QStringLiteral(
            R"([{"insert":{"table":"{\"cells\":%1,\"hasHeader\":false}"}},{"insert":"\n"}])")
            .arg(QString::fromUtf8(cells));
    };
    QTest::addRow("row above")
        << twoByTwo << 1 << 0 << EditorCommand([](NoteEditor &e) { e.insertTableRowAbove(); })
        << table(
               R"([[[{\"insert\":\"a\"}],[{\"insert\":\"b\"}]],[[],[]],[[{\"insert\":\"c\"}],[{\"insert\":\"d\"}]]])");
    QTest::addRow("row below")
        << twoByTwo << 1 << 0 << EditorCommand([](NoteEditor &e) { e.insertTableRowBelow(); })
        << table(
               R"([[[{\"insert\":\"a\"}],[{\"insert\":\"b\"}]],[[{\"insert\":\"c\"}],[{\"insert\":\"d\"}]],[[],[]]])");
    QTest::addRow("column before")
        << twoByTwo << 0 << 1 << EditorCommand([](NoteEditor &e) { e.insertTableColumnBefore(); })
        << table(
               R"([[[{\"insert\":\"a\"}],[],[{\"insert\":\"b\"}]],[[{\"insert\":\"c\"}],[],[{\"insert\":\"d\"}]]])");
    QTest::addRow("column after")
        << twoByTwo << 0 << 1 << EditorCommand([](NoteEditor &e) { e.insertTableColumnAfter(); })
        << table(
               R"([[[{\"insert\":\"a\"}],[{\"insert\":\"b\"}],[]],[[{\"insert\":\"c\"}],[{\"insert\":\"d\"}],[]]])");
    QTest::addRow("delete row") << twoByTwo << 0 << 0
                                << EditorCommand([](NoteEditor &e) { e.deleteTableRow(); })
                                << table(R"([[[{\"insert\":\"c\"}],[{\"insert\":\"d\"}]]])");
    QTest::addRow("delete column")
        << twoByTwo << 0 << 0 << EditorCommand([](NoteEditor &e) { e.deleteTableColumn(); })
        << table(R"([[[{\"insert\":\"b\"}]],[[{\"insert\":\"d\"}]]])");
    QTest::addRow("delete row of a one-row table deletes it")
        << json(
               R"([{"insert":"before"},{"insert":"\n"},{"insert":{"table":"{\"cells\":[[\"a\"]],\"hasHeader\":false}"}},{"insert":"\n"},{"insert":"after"},{"insert":"\n"}])")
        << 0 << 0 << EditorCommand([](NoteEditor &e) { e.deleteTableRow(); })
        << json(R"([{"insert":"before"},{"insert":"\n"},{"insert":"after"},{"insert":"\n"}])");
    QTest::addRow("delete table between paragraphs")
        << json(
               R"([{"insert":"before"},{"insert":"\n"},{"insert":{"table":"{\"cells\":[[\"a\",\"b\"]],\"hasHeader\":false}"}},{"insert":"\n"},{"insert":"after"},{"insert":"\n"}])")
        << 0 << 1 << EditorCommand([](NoteEditor &e) { e.deleteTable(); })
        << json(R"([{"insert":"before"},{"insert":"\n"},{"insert":"after"},{"insert":"\n"}])");
    QTest::addRow("delete table that is the whole note")
        << twoByTwo << 0 << 0 << EditorCommand([](NoteEditor &e) { e.deleteTable(); })
        << json(R"([{"insert":"\n"}])");
}

void TestNoteEditor::tableCommands()
{
    QFETCH(QString, body);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(EditorCommand, command);
    QFETCH(QString, expected);

    m_editor->setNote(QStringLiteral("n1"), body);
    const QString initial = m_editor->content();
    QTextTable *table = firstTable(*m_editor);
    QVERIFY(table);
    m_editor->setTextCursor(table->cellAt(row, column).firstCursorPosition());
    command(*m_editor);
    QCOMPARE(m_editor->content(), expected);
    m_editor->undo();
    QCOMPARE(m_editor->content(), initial);
}

void TestNoteEditor::tableNotNested()
{
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":{"table":"{\"cells\":[[\"a\"]],\"hasHeader\":false}"}},{"insert":"\n"}])"));
    const QString before = m_editor->content();
    m_editor->setTextCursor(firstTable(*m_editor)->cellAt(0, 0).firstCursorPosition());
    m_editor->insertTable(2, 2, true);
    QCOMPARE(m_editor->content(), before);
}

void TestNoteEditor::tripleClickSelectsParagraph_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("selectsParagraph");
    QTest::addRow("third click on the spot") << 0 << true;
    QTest::addRow("third click 3 pixels away") << 3 << true;
    QTest::addRow("third click 4 pixels away") << 4 << false;
}

void TestNoteEditor::tripleClickSelectsParagraph()
{
    QFETCH(int, offset);
    QFETCH(bool, selectsParagraph);
    m_editor->setNote(QStringLiteral("n1"),
        json(R"([{"insert":"first line\nsecond paragraph has words\nthird\n"}])"));
    const QPoint point = pointOf(*m_editor, 20);
    QTest::mouseDClick(m_editor->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseClick(m_editor->viewport(), Qt::LeftButton, {}, point + QPoint(offset, 0));
    const QString selected = m_editor->textCursor().selectedText();
    QCOMPARE(selected == QStringLiteral("second paragraph has words"), selectsParagraph);
}

void TestNoteEditor::insertLinkWithDialog()
{
    m_editor->setNote(QStringLiteral("n1"), Plain);
    select(*m_editor, 6, 11);
    answerNextDialog(this, { QStringLiteral("world"), QStringLiteral("  example.org  ") });
    m_editor->insertLink();
    QCOMPARE(m_editor->content(),
        json(
            R"([{"insert":"hello "},{"attributes":{"link":"example.org"},"insert":"world"},{"insert":"\n"}])"));

    select(*m_editor, 0, 0);
    answerNextDialog(this, { QString(), QStringLiteral("https://b.example") });
    m_editor->insertLink();
    QTest::keyClicks(m_editor, QStringLiteral(" "));
    QCOMPARE(m_editor->content(),
        json(
            R"([{"attributes":{"link":"https://b.example"},"insert":"https://b.example"},{"insert":" hello "},{"attributes":{"link":"example.org"},"insert":"world"},{"insert":"\n"}])"));

    // An empty address is not accepted.
    const QString before = m_editor->content();
    answerNextDialog(this, { QStringLiteral("x"), QStringLiteral("   ") });
    m_editor->insertLink();
    QCOMPARE(m_editor->content(), before);
}

void TestNoteEditor::editAndRemoveLink()
{
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":"see "},{"attributes":{"link":"https://a.example"},"insert":"si"},{"attributes":{"bold":true,"link":"https://a.example"},"insert":"te"},{"insert":" now\n"}])"));
    const auto link = m_editor->linkAt(5);
    QVERIFY(link);
    QCOMPARE(link->start, 4);
    QCOMPARE(link->end, 8);
    QCOMPARE(link->address, QStringLiteral("https://a.example"));
    QVERIFY(!m_editor->linkAt(1));

    answerNextDialog(this, { QStringLiteral("page"), QStringLiteral("https://b.example") });
    m_editor->editLinkAt(5);
    QCOMPARE(m_editor->content(),
        json(
            R"([{"insert":"see "},{"attributes":{"link":"https://b.example"},"insert":"page"},{"insert":" now"},{"insert":"\n"}])"));
    m_editor->removeLinkAt(5);
    QCOMPARE(m_editor->content(), json(R"([{"insert":"see page now"},{"insert":"\n"}])"));
}

void TestNoteEditor::ctrlClickOpensLink()
{
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "handleUrl");
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":"see "},{"attributes":{"link":"a.example/page"},"insert":"the site"},{"insert":"\n"}])"));
    const QPoint point = pointOf(*m_editor, 7);
    QTest::mouseClick(m_editor->viewport(), Qt::LeftButton, {}, point);
    QVERIFY(m_openedUrls.isEmpty());
    QTest::mouseClick(m_editor->viewport(), Qt::LeftButton, Qt::ControlModifier, point);
    QCOMPARE(m_openedUrls.size(), 1);
    QCOMPARE(m_openedUrls.first(), QUrl(QStringLiteral("https://a.example/page")));

    // A link to another note stays inside the program; the desktop is not asked.
    QSignalSpy noteLink(m_editor, &NoteEditor::noteLinkActivated);
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":"see "},{"attributes":{"link":"brevaro-notes://note/abc-1#part"},"insert":"the note"},{"insert":"\n"}])"));
    QTest::mouseClick(m_editor->viewport(), Qt::LeftButton, Qt::ControlModifier, point);
    QCOMPARE(noteLink.size(), 1);
    QCOMPARE(noteLink.first().first().toString(), QStringLiteral("abc-1"));
    QCOMPARE(m_openedUrls.size(), 1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestNoteEditor::linkToolTip()
{
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"insert":"see "},{"attributes":{"link":"https://a.example"},"insert":"the site"},{"insert":"\n"}])"));
    const QPoint point = pointOf(*m_editor, 7);
    QHelpEvent help(QEvent::ToolTip, point, m_editor->viewport()->mapToGlobal(point));
    QApplication::sendEvent(m_editor->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("https://a.example\n(Ctrl+click to open)"));
}

void TestNoteEditor::insertDeltaSkipsTrailingEmptyLine()
{
    m_editor->setNote(QStringLiteral("n1"), Plain);
    select(*m_editor, 11, 11);
    m_editor->insertDelta(QJsonDocument::fromJson(R"([{"insert":"\n"}])").array());
    QCOMPARE(m_editor->content(), Plain);
    QVERIFY(!m_editor->document()->isUndoAvailable());
    m_editor->insertDelta(QJsonArray {});
    QCOMPARE(m_editor->content(), Plain);
}

void TestNoteEditor::formatStateFollowsCursor()
{
    m_editor->setNote(QStringLiteral("n1"),
        json(
            R"([{"attributes":{"bold":true},"insert":"Big"},{"attributes":{"header":2},"insert":"\n"},{"attributes":{"italic":true},"insert":"it"},{"insert":"x"},{"attributes":{"align":"center","list":"checked"},"insert":"\n"},{"insert":"c"},{"attributes":{"code-block":true},"insert":"\n"}])"));
    QSignalSpy spy(m_editor, &NoteEditor::formatStateChanged);
    select(*m_editor, 1, 1);
    QVERIFY(!spy.isEmpty());
    QList<QVariant> args = spy.last();
    QCOMPARE(args.at(0).toBool(), true); // bold
    QCOMPARE(args.at(5).toInt(), 2); // heading
    select(*m_editor, 5, 5);
    args = spy.last();
    QCOMPARE(args.at(0).toBool(), false);
    QCOMPARE(args.at(1).toBool(), true); // italic
    QCOMPARE(args.at(5).toInt(), 0);
    QCOMPARE(args.at(6).toString(), QStringLiteral("checked"));
    QCOMPARE(args.at(10).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    select(*m_editor, 8, 8);
    args = spy.last();
    QCOMPARE(args.at(4).toBool(), true); // code
    QCOMPARE(args.at(7).toBool(), true); // code block
    QCOMPARE(args.at(9).toBool(), false); // in table
}

namespace {

// A heading, a paragraph, two checkbox items and a table: every kind of line a cursor can sit in.
const char *const MixedNote
    = R"([{"insert":"Packing"},{"attributes":{"header":1},"insert":"\n"},)"
      R"({"insert":"Bring what the weather needs."},{"insert":"\n"},)"
      R"({"insert":"Socks"},{"attributes":{"list":"checked"},"insert":"\n"},)"
      R"({"insert":"Rain jacket"},{"attributes":{"list":"unchecked"},"insert":"\n"},)"
      R"({"insert":{"table":"{\"cells\":[[\"a\",\"b\"]],\"hasHeader\":false}"}},)"
      R"({"insert":"\n"}])";

// The point on the drawn box of the block holding `text`, found along its first line.
QPoint markerOf(NoteEditor &editor, const QString &text)
{
    const QTextCursor found = editor.document()->find(text);
    if (found.isNull())
        return {};
    const int y = editor.cursorRect(found).center().y();
    for (int x = 0; x < 200; ++x) {
        const QTextBlock block = editor.document()->documentLayout()->blockWithMarkerAt(QPointF(
            x + editor.horizontalScrollBar()->value(), y + editor.verticalScrollBar()->value()));
        if (block.isValid() && block == found.block())
            return QPoint(x, y);
    }
    return {};
}

} // namespace

void TestNoteEditor::checkboxClickChangesOnlyThatItem_data()
{
    QTest::addColumn<QString>("cursorIn");
    QTest::addColumn<bool>("readOnly");
    QTest::addRow("cursor in a paragraph") << QStringLiteral("weather") << false;
    QTest::addRow("cursor in a heading") << QStringLiteral("Packing") << false;
    QTest::addRow("cursor in another checkbox item") << QStringLiteral("Socks") << false;
    QTest::addRow("cursor in a table cell") << QStringLiteral("b") << false;
    QTest::addRow("cursor in the clicked item") << QStringLiteral("jacket") << false;
    QTest::addRow("read-only note") << QStringLiteral("weather") << true;
}

void TestNoteEditor::checkboxClickChangesOnlyThatItem()
{
    QFETCH(QString, cursorIn);
    QFETCH(bool, readOnly);
    m_editor->setNote(QStringLiteral("n1"), json(MixedNote));
    m_editor->setReadOnly(readOnly);
    // The loaded note as the editor writes it (headings gain their bold): the reference.
    const QString original = m_editor->content();
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor));

    // Place the cursor by a real click, as a user would, inside the chosen line.
    QTextCursor target = m_editor->document()->find(cursorIn);
    QVERIFY(!target.isNull());
    QTest::mouseClick(
        m_editor->viewport(), Qt::LeftButton, {}, m_editor->cursorRect(target).center());
    const int cursorBefore = m_editor->textCursor().position();
    QCOMPARE(m_editor->textCursor().block(), target.block());

    const QPoint box = markerOf(*m_editor, QStringLiteral("Rain jacket"));
    QVERIFY(!box.isNull());
    QString ticked = original;
    ticked.replace(QStringLiteral(R"({"insert":"Rain jacket"},{"attributes":{"list":"unchecked"})"),
        QStringLiteral(R"({"insert":"Rain jacket"},{"attributes":{"list":"checked"})"));
    if (readOnly)
        ticked = original;

    // The pointer passes over the box before it is pressed, as it does for a real user.
    QTest::mouseMove(m_editor->viewport(), box);
    QTest::mouseClick(m_editor->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(m_editor->content(), ticked);
    QCOMPARE(m_editor->textCursor().position(), cursorBefore);

    // Two quick clicks are two ticks, even though the second arrives as a double click.
    QTest::mouseDClick(m_editor->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(m_editor->content(), ticked);
    QCOMPARE(m_editor->textCursor().position(), cursorBefore);

    QTest::mouseClick(m_editor->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(m_editor->content(), original);
    if (readOnly)
        return;
    // Undo takes back exactly the last tick.
    m_editor->undo();
    QCOMPARE(m_editor->content(), ticked);
}

void TestNoteEditor::readOnlyNoteIgnoresCommands()
{
    m_editor->setNote(QStringLiteral("n1"), TwoLines);
    m_editor->setReadOnly(true);
    select(*m_editor, 0, 8);
    const QList<EditorCommand> commands {
        [](NoteEditor &e) { e.toggleBold(); },
        [](NoteEditor &e) { e.toggleInlineCode(); },
        [](NoteEditor &e) { e.setHeading(1); },
        [](NoteEditor &e) { e.toggleCodeBlock(); },
        [](NoteEditor &e) { e.toggleCheckboxList(); },
        [](NoteEditor &e) { e.setAlignment(Qt::AlignRight); },
        [](NoteEditor &e) { e.insertDivider(); },
        [](NoteEditor &e) { e.insertTable(2, 2, true); },
        [](NoteEditor &e) { e.duplicateParagraph(); },
        [](NoteEditor &e) { e.deleteParagraph(); },
        [](NoteEditor &e) { e.moveParagraphDown(); },
    };
    for (const EditorCommand &command : commands)
        command(*m_editor);
    QTest::keyClick(m_editor, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(m_editor->content(), TwoLines);
}

void TestNoteEditor::editorKeysWinOverWindowShortcuts()
{
    QWidget window;
    auto *editor = new NoteEditor(&window);
    editor->resize(300, 200);
    int triggered = 0;
    auto *bold = new QAction(&window);
    bold->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    window.addAction(bold);
    connect(bold, &QAction::triggered, this, [&triggered] { ++triggered; });
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    editor->setNote(QStringLiteral("n1"), Plain);
    editor->setFocus();
    select(*editor, 0, 5);
    QTest::keyClick(editor, Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(triggered, 0);
    QVERIFY(editor->content().contains(
        QStringLiteral(R"({"attributes":{"bold":true},"insert":"hello"})")));
}

void TestNoteEditor::contextMenus_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("at");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("expected");

    const QString linked = json(
        R"([{"insert":"see "},{"attributes":{"link":"https://a.example"},"insert":"site"},{"insert":"\n"}])");
    QTest::addRow("on a link") << linked << QStringLiteral("site")
                               << QStringList { QStringLiteral("Open Link"),
                                      QStringLiteral("Copy Link Address"), QString(),
                                      QStringLiteral("Edit Link…"), QStringLiteral("Remove Link") }
                               << QStringLiteral("Remove Link")
                               << json(R"([{"insert":"see site"},{"insert":"\n"}])");
    QTest::addRow("in a table")
        << json(
               R"([{"insert":{"table":"{\"cells\":[[\"a\",\"b\"],[\"c\",\"d\"]],\"hasHeader\":false}"}},{"insert":"\n"}])")
        << QStringLiteral("c")
        << QStringList { QStringLiteral("Insert Row Above"), QStringLiteral("Insert Row Below"),
               QString(), QStringLiteral("Insert Column Before"),
               QStringLiteral("Insert Column After"), QString(), QStringLiteral("Delete Row"),
               QStringLiteral("Delete Column"), QString(), QStringLiteral("Delete Table") }
        << QStringLiteral("Delete Row")
        << json(
               R"([{"insert":{"table":"{\"cells\":[[[{\"insert\":\"a\"}],[{\"insert\":\"b\"}]]],\"hasHeader\":false}"}},{"insert":"\n"}])");
}

void TestNoteEditor::contextMenus()
{
    QFETCH(QString, body);
    QFETCH(QString, at);
    QFETCH(QStringList, entries);
    QFETCH(QString, trigger);
    QFETCH(QString, expected);

    m_editor->setNote(QStringLiteral("n1"), body);
    const QPoint point = pointOf(*m_editor, int(m_editor->toPlainText().indexOf(at)));
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, point, m_editor->viewport()->mapToGlobal(point));
    QApplication::sendEvent(m_editor->viewport(), &event);
    QMenu *menu = m_editor->findChild<QMenu *>();
    QVERIFY(menu);
    QStringList texts;
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        texts << (action->isSeparator() ? QString() : action->text());
        if (action->text() == trigger)
            chosen = action;
    }
    QCOMPARE(texts, entries);
    QVERIFY(chosen);
    chosen->trigger();
    menu->close();
    QCOMPARE(m_editor->content(), expected);
}

void TestNoteEditor::tablePromptReturnsChoices()
{
    int offeredRows = 0;
    answerModal(this, [&offeredRows](QWidget *modal) {
        auto *dialog = qobject_cast<QDialog *>(modal);
        if (!dialog)
            return false;
        const auto spins = dialog->findChildren<QSpinBox *>();
        if (spins.size() == 2) {
            offeredRows = spins.at(0)->value();
            spins.at(0)->setValue(500);
            spins.at(1)->setValue(4);
        }
        if (auto *header = dialog->findChild<QCheckBox *>())
            header->setChecked(false);
        dialog->accept();
        return true;
    });
    const NoteEditor::TablePrompt prompt = NoteEditor::promptInsertTable(m_editor);
    QCOMPARE(offeredRows, 3);
    QVERIFY(prompt.accepted);
    QCOMPARE(prompt.rows, 100);
    QCOMPARE(prompt.columns, 4);
    QCOMPARE(prompt.header, false);
}

void TestNoteEditor::dividerSpansTextWidth()
{
    m_editor->setNote(
        QStringLiteral("n1"), json(R"([{"insert":{"divider":"hr"}},{"insert":"\n"}])"));
    QTextDocument *document = m_editor->document();
    const QTextBlock block = document->firstBlock();
    const QTextLine line = block.layout()->lineAt(0);
    QVERIFY(line.isValid());
    const qreal textWidth = document->textWidth() - 2 * document->documentMargin();
    QVERIFY(line.naturalTextWidth() > textWidth - 4);
    QVERIFY(line.naturalTextWidth() <= textWidth);
    QCOMPARE(block.layout()->lineCount(), 1);
}

QTEST_MAIN(TestNoteEditor)
#include "tst_noteeditor.moc"
