#undef QT_NO_CAST_FROM_ASCII

#include "deltaformat.h"
#include "htmlrenderer.h"
#include "markdownrenderer.h"
#include "plaintextrenderer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace {

QJsonArray ops(const char *json)
{
    return QJsonDocument::fromJson(QByteArray(json)).array();
}

QString page(const QString &body)
{
    return QStringLiteral("<html><body>\n") + body + QStringLiteral("</body></html>");
}

QString tableOp(const char *tableJson)
{
    return QString::fromUtf8(QJsonDocument(
        QJsonArray {
            QJsonObject { { QStringLiteral("insert"),
                QJsonObject { { QStringLiteral("table"), QString::fromUtf8(tableJson) } } } },
            QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") } } })
                                 .toJson(QJsonDocument::Compact));
}

} // namespace

class TestRenderers : public QObject
{
    Q_OBJECT

private slots:
    void markdown_data();
    void markdown();
    void html_data();
    void html();
    void plainText_data();
    void plainText();
    void tables_data();
    void tables();
    void hostileInputNeverBreaksOut_data();
    void hostileInputNeverBreaksOut();
    void largeTablesStayBounded();
};

void TestRenderers::markdown_data()
{
    QTest::addColumn<QString>("delta");
    QTest::addColumn<QString>("expected");

    QTest::addRow("empty document") << R"~([{"insert":"\n"}])~"
                                    << "";
    QTest::addRow("empty array") << "[]"
                                 << "";
    QTest::addRow("paragraph") << R"~([{"insert":"Hello\n"}])~"
                               << "Hello\n";
    QTest::addRow("bold heading has no asterisks")
        << R"~([{"attributes":{"bold":true},"insert":"Title"},{"attributes":{"header":1},"insert":"\n"}])~"
        << "# Title\n";
    QTest::addRow("heading level 6")
        << R"~([{"insert":"Small"},{"attributes":{"header":6},"insert":"\n"}])~"
        << "###### Small\n";
    QTest::addRow("heading level 7 is a paragraph")
        << R"~([{"insert":"Big"},{"attributes":{"header":7},"insert":"\n"}])~"
        << "Big\n";
    QTest::addRow("empty heading is dropped")
        << R"~([{"insert":"  "},{"attributes":{"header":2},"insert":"\n"},{"insert":"Text\n"}])~"
        << "Text\n";
    QTest::addRow("empty heading keeps previous kind")
        << R"~([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"},{"attributes":{"header":2},"insert":"\n"},{"insert":"b"},{"attributes":{"list":"bullet"},"insert":"\n"}])~"
        << "- a\n- b\n";
    QTest::addRow("bold italic")
        << R"~([{"attributes":{"bold":true,"italic":true},"insert":"both"},{"insert":"\n"}])~"
        << "***both***\n";
    QTest::addRow("inline order: bold italic code strike link")
        << R"~([{"attributes":{"bold":true,"code":true,"strike":true,"link":"https://x.org"},"insert":"t"},{"insert":"\n"}])~"
        << "[~~`**t**`~~](https://x.org)\n";
    QTest::addRow("underline not rendered")
        << R"~([{"attributes":{"underline":true},"insert":"u"},{"insert":"\n"}])~"
        << "u\n";
    QTest::addRow("bold false is not bold")
        << R"~([{"attributes":{"bold":false},"insert":"x"},{"insert":"\n"}])~"
        << "x\n";
    QTest::addRow("text is not escaped") << R"~([{"insert":"a *b* <c> [d]\n"}])~"
                                         << "a *b* <c> [d]\n";
    QTest::addRow("three bullets then a paragraph")
        << R"~([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"b"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"c"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"after\n"}])~"
        << "- a\n- b\n- c\n\nafter\n";
    QTest::addRow("paragraph then bullets")
        << R"~([{"insert":"before\n"},{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"}])~"
        << "before\n\n- a\n";
    QTest::addRow("blank paragraph between paragraphs gives one blank line")
        << R"~([{"insert":"a\n\n\nb\n"}])~"
        << "a\n\nb\n";
    QTest::addRow("blank paragraph after list")
        << R"~([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"\n"},{"insert":"b"},{"attributes":{"list":"ordered"},"insert":"\n"}])~"
        << "- a\n\n1. b\n";
    QTest::addRow("list kinds")
        << R"~([{"insert":"o"},{"attributes":{"list":"ordered"},"insert":"\n"},{"insert":"p"},{"attributes":{"list":"ordered"},"insert":"\n"},{"insert":"c"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"u"},{"attributes":{"list":"unchecked"},"insert":"\n"},{"insert":"d"},{"attributes":{"list":"dash"},"insert":"\n"}])~"
        << "1. o\n1. p\n- [x] c\n- [ ] u\nd\n";
    QTest::addRow("list directly after code gets a blank line")
        << R"~([{"insert":"x"},{"attributes":{"code-block":true},"insert":"\n"},{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"}])~"
        << "    x\n\n- a\n";
    QTest::addRow("code block with code runs")
        << R"~([{"attributes":{"code":true},"insert":"int a;"},{"attributes":{"code-block":"cpp"},"insert":"\n"},{"attributes":{"code":true},"insert":"a++;"},{"attributes":{"code-block":"cpp"},"insert":"\n"},{"insert":"done\n"}])~"
        << "    `int a;`\n    `a++;`\n\ndone\n";
    QTest::addRow("list wins over code block")
        << R"~([{"insert":"x"},{"attributes":{"code-block":true,"list":"bullet"},"insert":"\n"}])~"
        << "- x\n";
    QTest::addRow("quote")
        << R"~([{"insert":"wise"},{"attributes":{"blockquote":true},"insert":"\n"},{"insert":"next\n"}])~"
        << "> wise\n\nnext\n";
    QTest::addRow("quote needs true")
        << R"~([{"insert":"wise"},{"attributes":{"blockquote":1},"insert":"\n"}])~"
        << "wise\n";
    QTest::addRow("divider after list")
        << R"~([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":{"divider":"hr"}},{"insert":"\n"},{"insert":"b\n"}])~"
        << "- a\n\n---\n\nb\n";
    QTest::addRow("divider mid-line flushes the text before it")
        << R"~([{"insert":"a"},{"insert":{"divider":true}},{"insert":"b"},{"attributes":{"header":2},"insert":"\n"}])~"
        << "a\n\n---\n\n## b\n";
    QTest::addRow("attachments and images vanish")
        << R"~([{"insert":"see "},{"insert":{"brevaro-notes-attachment":"brevaro-notes://attachment/1"}},{"insert":{"image":"https://x/y.png"}},{"insert":"\n"}])~"
        << "see\n";
    QTest::addRow("final line without newline") << R"~([{"insert":"a\nb"}])~"
                                                << "a\n\nb\n";
    QTest::addRow("retain and delete ignored")
        << R"~([{"retain":5},{"insert":"a"},{"delete":2},{"insert":"\n"}])~"
        << "a\n";
    QTest::addRow("non-object elements skipped") << R"~([1,"x",null,[],{"insert":"a\n"}])~"
                                                 << "a\n";
    QTest::addRow("link with non-string address")
        << R"~([{"attributes":{"link":5},"insert":"l"},{"insert":"\n"}])~"
        << "[l]()\n";
    QTest::addRow("trailing spaces trimmed at the end") << R"~([{"insert":"a   \n\n"}])~"
                                                        << "a\n";
}

void TestRenderers::markdown()
{
    QFETCH(QString, delta);
    QFETCH(QString, expected);
    QCOMPARE(renderMarkdown(ops(delta.toUtf8().constData())), expected);
}

void TestRenderers::html_data()
{
    QTest::addColumn<QString>("delta");
    QTest::addColumn<QString>("expected");

    QTest::addRow("empty document") << R"~([{"insert":"\n"}])~" << page("<p></p>\n");
    QTest::addRow("empty array") << "[]" << page(QString());
    QTest::addRow("bold heading keeps strong")
        << R"~([{"attributes":{"bold":true},"insert":"Title"},{"attributes":{"header":1},"insert":"\n"}])~"
        << page("<h1><strong>Title</strong></h1>\n");
    QTest::addRow("bold italic nests strong in em")
        << R"~([{"attributes":{"bold":true,"italic":true},"insert":"x"},{"insert":"\n"}])~"
        << page("<p><em><strong>x</strong></em></p>\n");
    QTest::addRow("all inline formats")
        << R"~([{"attributes":{"bold":true,"italic":true,"underline":true,"strike":true,"code":true,"link":"https://a.b/?q=1&r=2"},"insert":"x"},{"insert":"\n"}])~"
        << page("<p><a "
                "href=\"https://a.b/?q=1&amp;r=2\"><code><del><u><em><strong>x</strong></em></u>"
                "</del></code></a></p>\n");
    QTest::addRow("text escaped")
        << R"~([{"insert":"<script>alert(\"1\")</script> & co\n"}])~"
        << page("<p>&lt;script&gt;alert(&quot;1&quot;)&lt;/script&gt; &amp; co</p>\n");
    QTest::addRow("quote and code")
        << R"~([{"insert":"q"},{"attributes":{"blockquote":true},"insert":"\n"},{"insert":"c"},{"attributes":{"code-block":true},"insert":"\n"}])~"
        << page("<blockquote>q</blockquote>\n<pre><code>c</code></pre>\n");
    QTest::addRow("lists and alignment are plain paragraphs")
        << R"~([{"insert":"a"},{"attributes":{"list":"bullet","align":"center"},"insert":"\n"}])~"
        << page("<p>a</p>\n");
    QTest::addRow("divider")
        << R"~([{"insert":"a\n"},{"insert":{"divider":true}},{"insert":"\n"}])~"
        << page("<p>a</p>\n<hr>\n<p></p>\n");
    QTest::addRow("attachments vanish")
        << R"~([{"insert":{"brevaro-notes-attachment":"42"}},{"insert":"\n"}])~"
        << page("<p></p>\n");
}

void TestRenderers::html()
{
    QFETCH(QString, delta);
    QFETCH(QString, expected);
    QCOMPARE(renderHtml(ops(delta.toUtf8().constData())), expected);
}

void TestRenderers::plainText_data()
{
    QTest::addColumn<QString>("delta");
    QTest::addColumn<QString>("expected");

    QTest::addRow("empty document") << R"~([{"insert":"\n"}])~"
                                    << "\n";
    QTest::addRow("text as stored")
        << R"~([{"attributes":{"bold":true},"insert":"a"},{"insert":"\r\nb\u2028c"},{"attributes":{"header":1},"insert":"\n"}])~"
        << "a\r\nb\u2028c\n";
    QTest::addRow("embeds contribute nothing")
        << R"~([{"insert":"x"},{"insert":{"divider":true}},{"insert":{"table":"{\"cells\":[[\"a\"]]}"}},{"insert":"\n"}])~"
        << "x\n";
    QTest::addRow("non-string insert is empty") << R"~([{"insert":5},{"insert":"a\n"}])~"
                                                << "a\n";
}

void TestRenderers::plainText()
{
    QFETCH(QString, delta);
    QFETCH(QString, expected);
    QCOMPARE(renderPlainText(ops(delta.toUtf8().constData())), expected);
}

void TestRenderers::tables_data()
{
    QTest::addColumn<QString>("delta");
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html");

    const QString tableOpen
        = QStringLiteral("<table border=\"1\" cellpadding=\"6\" cellspacing=\"0\" "
                         "style=\"border-collapse:collapse\">\n");

    QTest::addRow("header row of strings")
        << tableOp(R"~({"cells":[["Name","Qty"],["Milk","2"]],"hasHeader":true})~")
        << "| Name | Qty |\n| --- | --- |\n| Milk | 2 |\n"
        << page(tableOpen
               + "  <tr><th>Name</th><th>Qty</th></tr>\n  "
                 "<tr><td>Milk</td><td>2</td></tr>\n</table>\n<p></p>\n");
    QTest::addRow("no header row still gets a separator")
        << tableOp(R"~({"cells":[["a","b"],["c","d"]],"hasHeader":false})~")
        << "| a | b |\n| --- | --- |\n| c | d |\n"
        << page(tableOpen
               + "  <tr><td>a</td><td>b</td></tr>\n  "
                 "<tr><td>c</td><td>d</td></tr>\n</table>\n<p></p>\n");
    QTest::addRow("short rows padded in markdown only")
        << tableOp(R"~({"cells":[["a","b"],["c","d","e"],["f"]]})~")
        << "| a | b |  |\n| --- | --- | --- |\n| c | d | e |\n| f |  |  |\n"
        << page(tableOpen
               + "  <tr><th>a</th><th>b</th></tr>\n  <tr><td>c</td><td>d</td><td>e</td></tr>\n"
                 "  <tr><td>f</td></tr>\n</table>\n<p></p>\n");
    QTest::addRow("pipes and newlines in cells")
        << tableOp(R"~({"cells":[["a|b","x\ny"]],"hasHeader":false})~")
        << "| a\\|b | x y |\n| --- | --- |\n"
        << page(tableOpen + "  <tr><td>a|b</td><td>x\ny</td></tr>\n</table>\n<p></p>\n");
    QTest::addRow("cell deltas with formats") << tableOp(
        R"~({"cells":[[[{"insert":"H","attributes":{"bold":true}}],[{"insert":"c","attributes":{"code":true,"bold":true}}]],[[{"insert":"one"},{"insert":"\n"},{"insert":"two","attributes":{"italic":true}}],[{"insert":"l|k","attributes":{"link":"https://e.org/?a=\"b\""}}]]]})~")
                                              << "| H | `c` |\n| --- | --- |\n| one*two* | "
                                                 "[l\\|k](https://e.org/?a=\"b\") |\n"
                                              << page(tableOpen
                                                     + "  "
                                                       "<tr><th><strong>H</strong></"
                                                       "th><th><code><strong>c</strong></code></"
                                                       "th></tr>\n"
                                                       "  <tr><td>one<br><em>two</em></td><td><a "
                                                       "href=\"https://e.org/"
                                                       "?a=&quot;b&quot;\">l|k</a></td></tr>\n"
                                                       "</table>\n<p></p>\n");
    QTest::addRow("bold kept in body cells")
        << tableOp(
               R"~({"cells":[["h"],[[{"insert":"b","attributes":{"bold":true,"code":true}}]]]})~")
        << "| h |\n| --- |\n| **`b`** |\n"
        << page(tableOpen
               + "  <tr><th>h</th></tr>\n  "
                 "<tr><td><code><strong>b</strong></code></td></tr>\n</table>\n<p></p>\n");
    QTest::addRow("newline inside a cell run") << tableOp(
        R"~({"cells":[[[{"insert":"a\nb","attributes":{"bold":true}}]]],"hasHeader":false})~")
                                               << "| **a b** |\n| --- |\n"
                                               << page(tableOpen
                                                      + "  "
                                                        "<tr><td><strong>a<br>b</strong></td></"
                                                        "tr>\n</table>\n<p></p>\n");
    QTest::addRow("empty and odd cells")
        << tableOp(R"~({"cells":[["",5,null,[]],"notarow"],"hasHeader":"yes"})~")
        << "|  |  |  |  |\n| --- | --- | --- | --- |\n|  |  |  |  |\n"
        << page(tableOpen
               + "  <tr><th>&nbsp;</th><th>&nbsp;</th><th>&nbsp;</th><th>&nbsp;</th></tr>\n"
                 "  <tr></tr>\n</table>\n<p></p>\n");
    QTest::addRow("all rows empty")
        << tableOp(R"~({"cells":[[],[]]})~") << ""
        << page(tableOpen + "  <tr></tr>\n  <tr></tr>\n</table>\n<p></p>\n");
    QTest::addRow("no rows") << tableOp(R"~({"cells":[]})~") << "" << page("<p></p>\n");
    QTest::addRow("not an object") << tableOp("[1,2]") << "" << page("<p></p>\n");
    QTest::addRow("not json") << tableOp("{oops") << "" << page("<p></p>\n");
    QTest::addRow("table after bullet list")
        << QStringLiteral(R"~([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"},)~")
            + tableOp(R"~({"cells":[["x"]]})~").mid(1)
        << "- a\n\n| x |\n| --- |\n"
        << page(QStringLiteral("<p>a</p>\n") + tableOpen
               + "  <tr><th>x</th></tr>\n</table>\n<p></p>\n");
    QTest::addRow("table then paragraph")
        << tableOp(R"~({"cells":[["x"]]})~").chopped(1)
            + QStringLiteral(R"~(,{"insert":"after\n"}])~")
        << "| x |\n| --- |\n\nafter\n"
        << page(tableOpen + "  <tr><th>x</th></tr>\n</table>\n<p></p>\n<p>after</p>\n");
}

void TestRenderers::tables()
{
    QFETCH(QString, delta);
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    const QJsonArray parsed = QJsonDocument::fromJson(delta.toUtf8()).array();
    QVERIFY(!parsed.isEmpty());
    QCOMPARE(renderMarkdown(parsed), markdown);
    QCOMPARE(renderHtml(parsed), html);
}

void TestRenderers::hostileInputNeverBreaksOut_data()
{
    QTest::addColumn<QString>("delta");
    QTest::addColumn<QString>("expected");

    QTest::addRow("quote in address stays inside href")
        << R"~([{"attributes":{"link":"https://x.org/\" onmouseover=\"alert(1)"},"insert":"t"},{"insert":"\n"}])~"
        << page("<p><a href=\"https://x.org/&quot; onmouseover=&quot;alert(1)\">t</a></p>\n");
    QTest::addRow("javascript link loses its anchor")
        << R"~([{"attributes":{"link":"javascript:alert(document.cookie)"},"insert":"click"},{"insert":"\n"}])~"
        << page("<p>click</p>\n");
    QTest::addRow("obfuscated javascript link")
        << R"~([{"attributes":{"link":" \u0001JaVa\tScR\nipt:alert(1)","bold":true},"insert":"x"},{"insert":"\n"}])~"
        << page("<p><strong>x</strong></p>\n");
    QTest::addRow("vbscript and data links")
        << R"~([{"attributes":{"link":"vbscript:msgbox"},"insert":"a"},{"attributes":{"link":"data:text/html,<script>alert(1)</script>"},"insert":"b"},{"insert":"\n"}])~"
        << page("<p>ab</p>\n");
    QTest::addRow("relative, fragment and mail links kept")
        << R"~([{"attributes":{"link":"notes/a:b.html"},"insert":"r"},{"attributes":{"link":"#top"},"insert":"f"},{"attributes":{"link":"MAILTO:a@b.c"},"insert":"m"},{"insert":"\n"}])~"
        << page("<p><a href=\"notes/a:b.html\">r</a><a href=\"#top\">f</a><a "
                "href=\"MAILTO:a@b.c\">m</a></p>\n");
    QTest::addRow("javascript link in a table cell") << tableOp(
        R"~({"cells":[[[{"insert":"x","attributes":{"link":"javascript:alert(1)"}}]]],"hasHeader":false})~")
                                                     << page(QStringLiteral(
                                                            "<table border=\"1\" cellpadding=\"6\" "
                                                            "cellspacing=\"0\" "
                                                            "style=\"border-collapse:collapse\">\n "
                                                            " <tr><td>x</td></tr>\n</table>\n<p></"
                                                            "p>\n"));
    QTest::addRow("heading level is never taken from text")
        << R"~([{"insert":"x"},{"attributes":{"header":"1><script>"},"insert":"\n"}])~"
        << page("<p>x</p>\n");
}

void TestRenderers::hostileInputNeverBreaksOut()
{
    QFETCH(QString, delta);
    QFETCH(QString, expected);
    QCOMPARE(renderHtml(QJsonDocument::fromJson(delta.toUtf8()).array()), expected);
}

void TestRenderers::largeTablesStayBounded()
{
    // Many short rows and one very long row: padding every row would write a billion cells.
    QJsonArray rows;
    for (int i = 0; i < 20000; ++i)
        rows.append(QJsonArray());
    QJsonArray longRow;
    for (int i = 0; i < 50000; ++i)
        longRow.append(QStringLiteral("c"));
    rows.append(longRow);
    const QString table = Delta::toText(
        QJsonObject { { QStringLiteral("cells"), rows }, { QStringLiteral("hasHeader"), false } });
    const QJsonArray delta { QJsonObject { { QStringLiteral("insert"),
                                 QJsonObject { { QStringLiteral("table"), table } } } },
        QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") } } };

    const QString markdown = renderMarkdown(delta);
    QVERIFY(markdown.size() < 2000000);
    QVERIFY(markdown.endsWith(QStringLiteral("| c |\n")));
    QCOMPARE(markdown.count(QStringLiteral(" --- |")), 50000);
    QCOMPARE(renderHtml(delta).count(QStringLiteral("<td>c</td>")), 50000);
}

QTEST_GUILESS_MAIN(TestRenderers)
#include "tst_renderers.moc"
