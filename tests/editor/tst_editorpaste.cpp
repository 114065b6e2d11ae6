#include "noteeditor.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>

namespace {

const QString Empty = QString::fromUtf8(R"([{"insert":"\n"}])");

} // namespace

class TestEditorPaste : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pasteChoosesRepresentation_data();
    void pasteChoosesRepresentation();
    void markdownDataIsAccepted();
    void pasteIsOneUndoStep();
    void pasteInReadOnlyEditorDoesNothing();
    void copyAndPasteKeepsEditorFormats();

private:
    // Pastes through the clipboard, as the user does, which takes ownership of the data.
    void paste(QMimeData *data)
    {
        QApplication::clipboard()->setMimeData(data);
        m_editor->paste();
    }

    NoteEditor *m_editor = nullptr;
};

void TestEditorPaste::init()
{
    m_editor = new NoteEditor;
    m_editor->resize(500, 300);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor));
}

void TestEditorPaste::cleanup()
{
    delete m_editor;
    m_editor = nullptr;
}

void TestEditorPaste::pasteChoosesRepresentation_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::addRow("markdown data wins over html")
        << QStringLiteral("# Title") << QStringLiteral("<p>ignored</p>")
        << QStringLiteral("ignored")
        << QString::fromUtf8(
               R"([{"attributes":{"bold":true},"insert":"Title"},{"attributes":{"header":1},"insert":"\n"}])");
    QTest::addRow("html heading and emphasis")
        << QString() << QStringLiteral("<h2>Plan</h2><p>do <b>this</b></p>")
        << QStringLiteral("Plan do this")
        << QString::fromUtf8(
               R"([{"attributes":{"bold":true},"insert":"Plan"},{"attributes":{"header":2},"insert":"\n"},{"insert":"do "},{"attributes":{"bold":true},"insert":"this"},{"insert":"\n"}])");
    QTest::addRow("plain text bullet is markdown")
        << QString() << QString() << QStringLiteral("- milk")
        << QString::fromUtf8(
               R"([{"insert":"milk"},{"attributes":{"list":"bullet"},"insert":"\n"}])");
    QTest::addRow("plain text link is markdown")
        << QString() << QString() << QStringLiteral("see [docs](https://d.example)")
        << QString::fromUtf8(
               R"([{"insert":"see "},{"attributes":{"link":"https://d.example"},"insert":"docs"},{"insert":"\n"}])");
    QTest::addRow("plain text starting with a div is html")
        << QString() << QString() << QStringLiteral("<div>boxed <i>word</i></div>")
        << QString::fromUtf8(
               R"([{"insert":"boxed "},{"attributes":{"italic":true},"insert":"word"},{"insert":"\n"}])");
    QTest::addRow("plain text with a tag later is not html")
        << QString() << QString() << QStringLiteral("a <div> b")
        << QString::fromUtf8(R"([{"insert":"a <div> b"},{"insert":"\n"}])");
    QTest::addRow("ordinary plain text")
        << QString() << QString() << QStringLiteral("just words")
        << QString::fromUtf8(R"([{"insert":"just words"},{"insert":"\n"}])");
    QTest::addRow("empty html fragment inserts nothing")
        << QString() << QStringLiteral("<p></p>") << QString() << Empty;
    QTest::addRow("html table")
        << QString() << QStringLiteral("<table><tr><th>H</th></tr><tr><td>a</td></tr></table>")
        << QString()
        << QString::fromUtf8(
               R"([{"insert":"\n"},{"insert":{"table":"{\"cells\":[[[{\"attributes\":{\"bold\":true},\"insert\":\"H\"}]],[[{\"insert\":\"a\"}]]],\"hasHeader\":true}"}},{"insert":"\n"}])");
}

void TestEditorPaste::pasteChoosesRepresentation()
{
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    QFETCH(QString, text);
    QFETCH(QString, expected);

    m_editor->setNote(QStringLiteral("n1"), Empty);
    auto *data = new QMimeData;
    if (!markdown.isEmpty())
        data->setData(QStringLiteral("text/markdown"), markdown.toUtf8());
    if (!html.isEmpty())
        data->setHtml(html);
    if (!text.isEmpty())
        data->setText(text);
    paste(data);
    QCOMPARE(m_editor->content(), expected);
}

void TestEditorPaste::markdownDataIsAccepted()
{
    m_editor->setNote(QStringLiteral("n1"), Empty);
    auto *data = new QMimeData;
    data->setData(QStringLiteral("text/markdown"), "*x*");
    QApplication::clipboard()->setMimeData(data);
    QVERIFY(m_editor->canPaste());
    auto *nothing = new QMimeData;
    nothing->setData(QStringLiteral("application/octet-stream"), "x");
    QApplication::clipboard()->setMimeData(nothing);
    QVERIFY(!m_editor->canPaste());
}

void TestEditorPaste::pasteIsOneUndoStep()
{
    m_editor->setNote(
        QStringLiteral("n1"), QString::fromUtf8(R"([{"insert":"start"},{"insert":"\n"}])"));
    m_editor->moveCursor(QTextCursor::End);
    auto *data = new QMimeData;
    data->setText(QStringLiteral("# One\n\n- a\n- b\n\n> quoted"));
    paste(data);
    QVERIFY(m_editor->content().contains(QString::fromUtf8(R"("list":"bullet")")));
    m_editor->undo();
    QCOMPARE(m_editor->content(), QString::fromUtf8(R"([{"insert":"start"},{"insert":"\n"}])"));
}

void TestEditorPaste::pasteInReadOnlyEditorDoesNothing()
{
    auto *data = new QMimeData;
    data->setText(QStringLiteral("- item"));
    paste(data);
    QCOMPARE(m_editor->toPlainText(), QString());
}

void TestEditorPaste::copyAndPasteKeepsEditorFormats()
{
    const QString body = QStringLiteral(
        R"([{"insert":"task"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"said"},{"attributes":{"blockquote":true},"insert":"\n"},{"insert":{"divider":"hr"}},{"insert":"\n"}])");
    m_editor->setNote(QStringLiteral("n1"), body);
    m_editor->selectAll();
    m_editor->copy();
    m_editor->setNote(QStringLiteral("n2"), Empty);
    m_editor->paste();
    QCOMPARE(m_editor->content(), body);
}

QTEST_MAIN(TestEditorPaste)
#include "tst_editorpaste.moc"
