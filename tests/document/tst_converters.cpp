#undef QT_NO_CAST_FROM_ASCII

#include "converters.h"
#include "deltaformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace {

QString text(const QJsonArray &ops)
{
    return Delta::toText(ops);
}

const char *const EmptyDelta = R"~([{"insert":"\n"}])~";

// Line texts with their block attributes, "text|{attributes}", for compact comparisons.
QStringList lineSummary(const QJsonArray &ops)
{
    QStringList result;
    for (const Delta::Line &line : Delta::lines(Delta::parseOperations(ops))) {
        QString content;
        for (const Delta::Segment &segment : line.segments)
            content += segment.isEmbed ? "[" + segment.embedKind + "]" : segment.text;
        result.append(content + "|" + Delta::toText(line.blockAttributes));
    }
    return result;
}

std::optional<Delta::Table> firstTable(const QJsonArray &ops)
{
    for (const Delta::Operation &op : Delta::parseOperations(ops)) {
        if (op.isEmbed() && op.embedKind == Delta::TableKind)
            return Delta::parseTable(op.embedValue);
    }
    return std::nullopt;
}

} // namespace

class TestConverters : public QObject
{
    Q_OBJECT

private slots:
    void detectsHtml_data();
    void detectsHtml();
    void detectsMarkdown_data();
    void detectsMarkdown();
    void cleansHtml_data();
    void cleansHtml();
    void emptyInputGivesEmptyDocument_data();
    void emptyInputGivesEmptyDocument();
    void convertsSavedArticle();
    void convertsInlineFormats_data();
    void convertsInlineFormats();
    void convertsImages();
    void convertsTables_data();
    void convertsTables();
    void flattensNestedLists();
    void convertsGithubMarkdown();
    void keepsTaskListState();
    void longMarkdownReadsLikeShortMarkdown();
    void boundsHostileMarkup_data();
    void boundsHostileMarkup();
};

void TestConverters::detectsHtml_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("expected");

    QTest::addRow("empty") << "" << false;
    QTest::addRow("blank") << "  \n " << false;
    QTest::addRow("doctype") << "<!DOCTYPE html><title>x</title>" << true;
    QTest::addRow("doctype needs html") << "<!doctype svg>" << false;
    QTest::addRow("html element, leading space") << "  <HTML lang=en>" << true;
    QTest::addRow("body") << "<body>" << true;
    QTest::addRow("head") << "<head>" << true;
    QTest::addRow("header is not head") << "<headerx>" << false;
    QTest::addRow("div first") << "<div>hi</div>" << true;
    QTest::addRow("known tag later") << "<x-widget> and <em>this</em>" << true;
    QTest::addRow("tag not at start") << "Note: <div>hi</div>" << false;
    QTest::addRow("unknown tags only") << "<foo><bar>" << false;
    QTest::addRow("tag name must end") << "<pre-release>" << true;
    QTest::addRow("word starting like a tag") << "<brand new>" << false;
    QTest::addRow("comparison") << "<3 you" << false;
}

void TestConverters::detectsHtml()
{
    QFETCH(QString, input);
    QFETCH(bool, expected);
    QCOMPARE(looksLikeHtml(input), expected);
}

void TestConverters::detectsMarkdown_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("expected");

    QTest::addRow("empty") << "" << false;
    QTest::addRow("plain sentence") << "Just a sentence. Nothing else." << false;
    QTest::addRow("heading") << "intro\n## Title" << true;
    QTest::addRow("hash without space") << "#hashtag" << false;
    QTest::addRow("seven hashes") << "####### x" << false;
    QTest::addRow("bullet") << "- milk" << true;
    QTest::addRow("bullet plus") << "   + eggs" << true;
    QTest::addRow("bullet indented four") << "    - code" << false;
    QTest::addRow("dash alone") << "- " << false;
    QTest::addRow("numbered") << "text\n12. twelve" << true;
    QTest::addRow("number without dot space") << "3.14 is pi" << false;
    QTest::addRow("quote") << "> wise" << true;
    QTest::addRow("fence") << "```\ncode" << true;
    QTest::addRow("table row") << "| a | b |" << true;
    QTest::addRow("single pipe") << "a | b" << false;
    QTest::addRow("link") << "see [docs](https://example.com) now" << true;
    QTest::addRow("brackets without address") << "see [docs] (later)" << false;
    QTest::addRow("rule") << "above\n---\nbelow" << true;
    QTest::addRow("setext underline") << "Title\n=====" << true;
    QTest::addRow("two dashes") << "--" << false;
    QTest::addRow("emphasis alone is not enough") << "some **bold** text" << false;
}

void TestConverters::detectsMarkdown()
{
    QFETCH(QString, input);
    QFETCH(bool, expected);
    QCOMPARE(looksLikeMarkdown(input), expected);
}

void TestConverters::cleansHtml_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::addRow("nothing to remove") << "<p>a</p>"
                                       << "<p>a</p>";
    QTest::addRow("script with content") << "a<script type=\"x\">var s = '<p>';</script>b"
                                         << "ab";
    QTest::addRow("case-insensitive") << "a<SCRIPT>x</Script>b"
                                      << "ab";
    QTest::addRow("across lines") << "a<style>\np{}\n</style>b"
                                  << "ab";
    QTest::addRow("all kinds")
        << "<nav>n</nav><header>h</header><footer>f</footer><aside>s</aside><iframe src=x></iframe>"
           "<noscript>ns</noscript><p>kept</p>"
        << "<p>kept</p>";
    QTest::addRow("lazy: ends at the first closing tag") << "<nav>a<nav>b</nav>c</nav>d"
                                                         << "c</nav>d";
    QTest::addRow("unclosed element stays") << "<script>alert(1)"
                                            << "<script>alert(1)";
    QTest::addRow("unclosed then closed pair") << "<aside>x<p>y</p><aside>z</aside>w"
                                               << "w";
    QTest::addRow("name prefix counts") << "<navigation>x</nav>y"
                                        << "y";
    QTest::addRow("closing tag must match exactly") << "<nav>x</nav >y</nav>z"
                                                    << "z";
    QTest::addRow("head is not header") << "<head><title>t</title></head>"
                                        << "<head><title>t</title></head>";
    QTest::addRow("opening tag without end") << "<script"
                                             << "<script";
    QTest::addRow("many unclosed openings")
        << QString("<script").repeated(5) + "x" << QString("<script").repeated(5) + "x";
}

void TestConverters::cleansHtml()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(cleanHtml(input), expected);
}

void TestConverters::emptyInputGivesEmptyDocument_data()
{
    QTest::addColumn<bool>("markdown");
    QTest::addColumn<QString>("input");

    QTest::addRow("html empty") << false << "";
    QTest::addRow("html blank") << false << " \n\t";
    QTest::addRow("html only a script") << false << "<script>x</script>";
    QTest::addRow("html empty fragment") << false << "<html><body></body></html>";
    QTest::addRow("markdown empty") << true << "";
    QTest::addRow("markdown blank") << true << "\n   \n";
}

void TestConverters::emptyInputGivesEmptyDocument()
{
    QFETCH(bool, markdown);
    QFETCH(QString, input);
    QCOMPARE(text(markdown ? markdownToDelta(input) : htmlToDelta(input)), EmptyDelta);
}

void TestConverters::convertsSavedArticle()
{
    const QString page = R"~(<!DOCTYPE html>
<html><head><title>Review</title><style>body { font: 14px sans-serif }</style>
<script>window.tracker = "<b>tracking</b>";</script></head>
<body>
<header><nav><a href="/">Home</a> | <a href="/tech">Tech</a></nav></header>
<article>
<h1>New Headphones Reviewed</h1>
<p>By <strong>Jane Doe</strong>. Read the <a href="https://example.com/full">full review</a>.</p>
<h3>Verdict</h3>
<p>Worth it.</p>
</article>
<aside>Related stories</aside>
<footer>Copyright 2024</footer>
<script>document.write("injected")</script>
</body></html>)~";

    const QJsonArray ops = htmlToDelta(page);
    const QString json = text(ops);
    for (const char *gone : { "tracking", "Home", "Tech", "Related", "Copyright", "injected" })
        QVERIFY2(!json.contains(gone), gone);
    const QString expected1 = R"~(New Headphones Reviewed|{"header":1})~";
    const QString expected2 = R"~(Verdict|{"header":3})~";

    QCOMPARE(lineSummary(ops),
        QStringList(
            { expected1, "By Jane Doe. Read the full review.|{}", expected2, "Worth it. |{}" }));
    const QString expected3 = R"~({"attributes":{"bold":true},"insert":"Jane Doe"})~";
    QVERIFY(json.contains(expected3));
    const QString expected4
        = R"~({"attributes":{"link":"https://example.com/full"},"insert":"full review"})~";
    QVERIFY(json.contains(expected4));
}

void TestConverters::convertsInlineFormats_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("delta");

    QTest::addRow("bold italic underline strike")
        << "<p><b>b</b><i>i</i><u>u</u><s>s</s></p>"
        << R"~([{"attributes":{"bold":true},"insert":"b"},{"attributes":{"italic":true},"insert":"i"},{"attributes":{"underline":true},"insert":"u"},{"attributes":{"strike":true},"insert":"s"},{"insert":"\n"}])~";
    QTest::addRow("link is not underlined")
        << "<p><a href=\"https://x.org/a?b=1\">x</a></p>"
        << R"~([{"attributes":{"link":"https://x.org/a?b=1"},"insert":"x"},{"insert":"\n"}])~";
    QTest::addRow("anchor without address is plain") << "<p><a name=\"top\">x</a></p>"
                                                     << R"~([{"insert":"x"},{"insert":"\n"}])~";
    QTest::addRow("inline code")
        << "<p>run <code>make</code></p>"
        << R"~([{"insert":"run "},{"attributes":{"code":true},"insert":"make"},{"insert":"\n"}])~";
    QTest::addRow("heading levels")
        << "<h2>two</h2><h6>six</h6>"
        << R"~([{"attributes":{"bold":true},"insert":"two"},{"attributes":{"header":2},"insert":"\n"},{"insert":"six"},{"attributes":{"header":6},"insert":"\n"}])~";
    QTest::addRow("quotes and alignment are dropped")
        << "<blockquote>q</blockquote><p align=\"center\">c</p>"
        << R"~([{"insert":"q"},{"insert":"\n"},{"insert":"c"},{"insert":"\n"}])~";
    QTest::addRow("ordered styles")
        << "<ol type=\"a\"><li>a</li></ol><ol type=\"I\"><li>b</li></ol>"
        << R"~([{"insert":"a"},{"attributes":{"list":"ordered"},"insert":"\n"},{"insert":"b"},{"attributes":{"list":"ordered"},"insert":"\n"}])~";
}

void TestConverters::convertsInlineFormats()
{
    QFETCH(QString, html);
    QFETCH(QString, delta);
    QCOMPARE(text(htmlToDelta(html)), delta);
}

void TestConverters::convertsImages()
{
    const QJsonArray ops = htmlToDelta(
        R"~(<p>a<img src="brevaro-notes://attachment/42"><img src="https://x.org/i.png"><img src="Brevaro-notes://attachment/1"></p>)~");
    const QString expected5
        = R"~([{"insert":"a"},{"insert":{"brevaro-notes-attachment":"brevaro-notes://attachment/42"}},{"insert":{"image":"https://x.org/i.png"}},{"insert":{"image":"Brevaro-notes://attachment/1"}},{"insert":"\n"}])~";
    QCOMPARE(text(ops), expected5);
}

void TestConverters::convertsTables_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("cells");

    QTest::addRow("header row and two body rows")
        << "<table><thead><tr><th>Item</th><th>Qty</th></tr></thead>"
           "<tbody><tr><td>Milk</td><td><i>2</i></td></tr><tr><td>Eggs</td><td>12</td></tr></"
           "tbody></table>"
        << R"~([[[{"attributes":{"bold":true},"insert":"Item"}],[{"attributes":{"bold":true},"insert":"Qty"}]],[[{"insert":"Milk"}],[{"attributes":{"italic":true},"insert":"2"}]],[[{"insert":"Eggs"}],[{"insert":"12"}]]])~";
    QTest::addRow("no header row") << "<table><tr><td>a</td><td>b</td></tr></table>"
                                   << R"~([[[{"insert":"a"}],[{"insert":"b"}]]])~";
    QTest::addRow("paragraphs in a cell and an empty cell")
        << "<table><tr><td><p>one</p><p><b>two</b></p></td><td></td></tr></table>"
        << R"~([[[{"insert":"one"},{"insert":"\n"},{"attributes":{"bold":true},"insert":"two"}],[]]])~";
    QTest::addRow("ragged rows")
        << "<table><tr><td>a</td></tr><tr><td>b</td><td>c</td></tr></table>"
        << R"~([[[{"insert":"a"}],[]],[[{"insert":"b"}],[{"insert":"c"}]]])~";
    QTest::addRow("spanned cell written once")
        << "<table><tr><td colspan=\"2\">wide</td></tr><tr><td>a</td><td>b</td></tr></table>"
        << R"~([[[{"insert":"wide"}],[]],[[{"insert":"a"}],[{"insert":"b"}]]])~";
    QTest::addRow("nested table flattened into its cell")
        << "<table><tr><td>out<table><tr><td>in1</td><td>in2</td></tr></table></td></tr></table>"
        << R"~([[[{"insert":"out"},{"insert":"\n"},{"insert":"in1"},{"insert":"\n"},{"insert":"in2"},{"insert":"\n"}]]])~";
}

void TestConverters::convertsTables()
{
    QFETCH(QString, html);
    QFETCH(QString, cells);

    const QJsonArray ops = htmlToDelta(html);
    const Delta::Operations parsed = Delta::parseOperations(ops);
    int tables = 0;
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        const Delta::Operation &op = parsed.at(i);
        if (!op.isEmbed())
            continue;
        ++tables;
        QCOMPARE(op.embedKind, QString(Delta::TableKind));
        const QJsonObject value = QJsonDocument::fromJson(op.embedValue.toUtf8()).object();
        QCOMPARE(value.value("hasHeader"), QJsonValue(true));
        QCOMPARE(Delta::toText(value.value("cells").toArray()), cells);
        // Written the way the editor writes it: compact, keys in order.
        QCOMPARE(Delta::toText(value), op.embedValue);
        // The table stands alone on its line.
        QVERIFY(i + 1 < parsed.size());
        QCOMPARE(parsed.at(i + 1).text, QStringLiteral("\n"));
        QVERIFY(parsed.at(i + 1).attributes.isEmpty());
    }
    QCOMPARE(tables, 1);
}

void TestConverters::flattensNestedLists()
{
    const QJsonArray ops
        = htmlToDelta("<ul><li>one<ul><li>inner<ol><li>deep</li></ol></li></ul></li>"
                      "<li>two</li></ul>");
    const QString expected7 = R"~(one|{"list":"bullet"})~";
    const QString expected8 = R"~(inner|{"list":"bullet"})~";
    const QString expected9 = R"~(deep|{"list":"ordered"})~";
    const QString expected10 = R"~(two|{"list":"bullet"})~";
    QCOMPARE(lineSummary(ops), QStringList({ expected7, expected8, expected9, expected10 }));
}

void TestConverters::convertsGithubMarkdown()
{
    const QString markdown = R"~(# Release plan

Some **bold**, *italic*, ~~gone~~ and `code` with a [link](https://example.com).

- plain item
  - nested item

1. one
2. two

```cpp
int main() { return 0; }
```

| Name | Qty |
|------|----:|
| Milk | 2 |
)~";
    const QJsonArray ops = markdownToDelta(markdown);
    const QString json = text(ops);
    const QStringList lines = lineSummary(ops);
    const QString expected11 = R"~(Release plan|{"header":1})~";
    QCOMPARE(lines.at(0), expected11);
    QCOMPARE(lines.at(1), "Some bold, italic, gone and code with a link.|{}");
    const QString expected12 = R"~({"attributes":{"strike":true},"insert":"gone"})~";
    QVERIFY(json.contains(expected12));
    const QString expected13 = R"~({"attributes":{"code":true},"insert":"code"})~";
    QVERIFY(json.contains(expected13));
    const QString expected14 = R"~({"attributes":{"link":"https://example.com"},"insert":"link"})~";
    QVERIFY(json.contains(expected14));
    const QString expected15 = R"~(plain item|{"list":"bullet"})~";
    const QString expected16 = R"~(nested item|{"list":"bullet"})~";
    const QString expected17 = R"~(one|{"list":"ordered"})~";
    const QString expected18 = R"~(two|{"list":"ordered"})~";
    QCOMPARE(lines.mid(2, 4), QStringList({ expected15, expected16, expected17, expected18 }));
    const QString expected19
        = R"~({"attributes":{"code":true},"insert":"int main() { return 0; }"})~";
    QVERIFY(json.contains(expected19));

    const std::optional<Delta::Table> table = firstTable(ops);
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->columnCount(), 2);
    QVERIFY(table->hasHeader);
    QCOMPARE(table->cell(0, 0).plainText(), "Name");
    QCOMPARE(table->cell(1, 1).plainText(), "2");
}

void TestConverters::keepsTaskListState()
{
    const QJsonArray ops = markdownToDelta("- [ ] write docs\n- [x] ship build\n- plain\n");
    const QString expected20 = R"~(write docs|{"list":"unchecked"})~";
    const QString expected21 = R"~(ship build|{"list":"checked"})~";
    const QString expected22 = R"~(plain|{"list":"bullet"})~";
    QCOMPARE(lineSummary(ops).mid(0, 3), QStringList({ expected20, expected21, expected22 }));
}

void TestConverters::longMarkdownReadsLikeShortMarkdown()
{
    // Long texts are read in pieces; the lines must come out as if read in one go.
    const QString unit
        = "## Heading\n\nA paragraph with **bold** and a [link](https://e.org).\n\n"
          "- item one\n- item two\n\n```\ncode *not* emphasis\n\nstill code\n```\n\n";
    const QStringList single = lineSummary(markdownToDelta(unit));
    const QStringList many = lineSummary(markdownToDelta(unit.repeated(200)));
    QCOMPARE(many.size(), single.size() * 200);
    for (qsizetype i = 0; i < many.size(); ++i)
        QCOMPARE(many.at(i), single.at(i % single.size()));

    const QString longList = QString("- item *a*\n").repeated(3000);
    const QStringList items = lineSummary(markdownToDelta(longList));
    const QString expected23 = R"~(item a|{"list":"bullet"})~";
    QCOMPARE(items.count(expected23), 3000);
}

void TestConverters::boundsHostileMarkup_data()
{
    QTest::addColumn<bool>("markdown");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("mustContain");

    QTest::addRow("deeply nested divs") << false << QString("<div>").repeated(50000) + "deep text"
                                        << "deep text";
    QTest::addRow("deeply nested lists") << false << QString("<ul><li>").repeated(5000) + "leaf"
                                         << "leaf";
    QTest::addRow("unclosed scripts")
        << false << QString("<p>x</p><script>").repeated(20000) + "end"
        << "x";
    QTest::addRow("long html list")
        << false << "<ul>" + QString("<li>entry</li>").repeated(20000) + "</ul>"
        << "entry";
    QTest::addRow("quotes in attributes")
        << false << QString("<p title=\"a>b\">t</p>").repeated(2000) << "t";
    QTest::addRow("markdown emphasis storm") << true << QString("*a* ").repeated(50000) << "a";
    QTest::addRow("markdown html block") << true << QString("<div>").repeated(50000) << "<div>";
    QTest::addRow("markdown soft lines")
        << true << QString("line of text\n").repeated(20000) << "line of text";
    QTest::addRow("markdown nested quotes") << true << QString(">").repeated(100000) + " x"
                                            << "x";
    QTest::addRow("invalid utf-16") << false << QString("<p>a") + QChar(0xD800) + "b</p>"
                                    << "a";
}

void TestConverters::boundsHostileMarkup()
{
    QFETCH(bool, markdown);
    QFETCH(QString, input);
    QFETCH(QString, mustContain);

    const QJsonArray ops = markdown ? markdownToDelta(input) : htmlToDelta(input);
    QVERIFY(!ops.isEmpty());
    QVERIFY(Delta::toText(ops).contains(mustContain));
}

QTEST_MAIN(TestConverters)
#include "tst_converters.moc"
