#undef QT_NO_CAST_FROM_ASCII

#include "deltadocument.h"
#include "deltaformat.h"
#include "samplecontent.h"
#include "simplemarkdown.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

class TestSimpleMarkdown : public QObject
{
    Q_OBJECT

private slots:
    void convertsLines_data();
    void convertsLines();
    void sampleNotesHaveTheirTitlesAndAges();
    void sampleNotesUseTheBundledConstructs();
    void welcomeNotesAreInTheWrittenForm_data();
    void welcomeNotesAreInTheWrittenForm();
    void welcomeNotesHoldTheirConstructs();
};

void TestSimpleMarkdown::convertsLines_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("delta");

    QTest::addRow("empty text") << ""
                                << "[]";
    QTest::addRow("one empty line") << "\n"
                                    << R"~([{"insert":"\n"}])~";
    QTest::addRow("two empty lines") << "\n\n"
                                     << R"~([{"insert":"\n"},{"insert":"\n"}])~";
    QTest::addRow("no trailing newline") << "a"
                                         << R"~([{"insert":"a"},{"insert":"\n"}])~";
    QTest::addRow("headings")
        << "# A\n## B\n### C\n#### D\n"
        << R"~([{"insert":"A"},{"attributes":{"header":1},"insert":"\n"},{"insert":"B"},{"attributes":{"header":2},"insert":"\n"},{"insert":"C"},{"attributes":{"header":3},"insert":"\n"},{"insert":"#### D"},{"insert":"\n"}])~";
    QTest::addRow("heading without space is text") << "##Title"
                                                   << R"~([{"insert":"##Title"},{"insert":"\n"}])~";
    QTest::addRow("checkboxes")
        << "- [ ] a\n- [x] b\n- [X] c\n"
        << R"~([{"insert":"a"},{"attributes":{"list":"unchecked"},"insert":"\n"},{"insert":"b"},{"attributes":{"list":"checked"},"insert":"\n"},{"insert":"c"},{"attributes":{"list":"checked"},"insert":"\n"}])~";
    QTest::addRow("bullets")
        << "- a\n* b\n"
        << R"~([{"insert":"a"},{"attributes":{"list":"bullet"},"insert":"\n"},{"insert":"b"},{"attributes":{"list":"bullet"},"insert":"\n"}])~";
    QTest::addRow("quote")
        << "> wise words"
        << R"~([{"insert":"wise words"},{"attributes":{"blockquote":true},"insert":"\n"}])~";
    QTest::addRow("numbered with two spaces")
        << "1.  words here"
        << R"~([{"insert":"words here"},{"attributes":{"list":"ordered"},"insert":"\n"}])~";
    QTest::addRow("numbered with a leading space")
        << " 12. item"
        << R"~([{"insert":"item"},{"attributes":{"list":"ordered"},"insert":"\n"}])~";
    QTest::addRow("leading space before a dash is plain")
        << " - item"
        << R"~([{"insert":" - item"},{"insert":"\n"}])~";
    QTest::addRow("number without space is plain")
        << "3.5 apples"
        << R"~([{"insert":"3.5 apples"},{"insert":"\n"}])~";
    QTest::addRow("bold plain italic")
        << "**bold** plain words *it*"
        << R"~([{"attributes":{"bold":true},"insert":"bold"},{"insert":" plain words "},{"attributes":{"italic":true},"insert":"it"},{"insert":"\n"}])~";
    QTest::addRow("only bold markers") << "**"
                                       << R"~([{"insert":"\n"}])~";
    QTest::addRow("open marker runs to the end of the line")
        << "a **b\nc"
        << R"~([{"insert":"a "},{"attributes":{"bold":true},"insert":"b"},{"insert":"\n"},{"insert":"c"},{"insert":"\n"}])~";
    QTest::addRow("three asterisks")
        << "***x***"
        << R"~([{"attributes":{"bold":true,"italic":true},"insert":"x"},{"insert":"\n"}])~";
    QTest::addRow("formatting inside a list item")
        << "- **Tip:** rest"
        << R"~([{"attributes":{"bold":true},"insert":"Tip:"},{"insert":" rest"},{"attributes":{"list":"bullet"},"insert":"\n"}])~";
    QTest::addRow("other syntax is kept as text")
        << "[a](b) `c` _d_ \\*"
        << R"~([{"insert":"[a](b) `c` _d_ \\"},{"insert":"\n"}])~";
    QTest::addRow("carriage return stays in the text")
        << "# T\r\n"
        << R"~([{"insert":"T\r"},{"attributes":{"header":1},"insert":"\n"}])~";
}

void TestSimpleMarkdown::convertsLines()
{
    QFETCH(QString, markdown);
    QFETCH(QString, delta);
    QCOMPARE(simpleMarkdownToDelta(markdown), delta);
}

void TestSimpleMarkdown::sampleNotesHaveTheirTitlesAndAges()
{
    const QList<SampleNoteSource> samples = sampleNoteSources();
    const QList<QPair<int, QString>> expected = {
        { 0, "Things to Remember" },
        { 1, "Weekly Team Sync - Project Atlas" },
        { 2, "Weekly Journal - Friday Check-In" },
        { 8, "Clipped Article - New Noise-Canceling Headphones Reviewed" },
        { 14, "Gadget Notes - Portable E-Ink Tablet" },
        { 21, "Dinner Recipe - Sheet Pan Lemon Chicken" },
        { 28, "Book Draft - Chapter 4: The Cost of Convenience" },
    };
    QCOMPARE(samples.size(), expected.size());
    for (qsizetype i = 0; i < samples.size(); ++i) {
        QCOMPARE(samples.at(i).daysAgo, expected.at(i).first);
        QCOMPARE(
            samples.at(i).markdown.section(QLatin1Char('\n'), 0, 0), "## " + expected.at(i).second);
        const QList<Delta::Line> lines
            = Delta::lines(Delta::parseOperations(simpleMarkdownToDelta(samples.at(i).markdown)));
        QVERIFY(!lines.isEmpty());
        QCOMPARE(Delta::headerLevel(lines.first().blockAttributes.value("header")), 2);
        QCOMPARE(lines.first().segments.size(), 1);
        QCOMPARE(lines.first().segments.first().text, expected.at(i).second);
    }
}

void TestSimpleMarkdown::sampleNotesUseTheBundledConstructs()
{
    int quotes = 0;
    QSet<QString> lists;
    QSet<int> headers;
    bool bold = false;
    for (const SampleNoteSource &sample : sampleNoteSources()) {
        const auto ops = Delta::parseOperations(simpleMarkdownToDelta(sample.markdown));
        for (const Delta::Line &line : Delta::lines(ops)) {
            const Delta::BlockAttributes block = Delta::readBlockAttributes(line.blockAttributes);
            quotes += block.blockquote ? 1 : 0;
            if (!block.list.isEmpty())
                lists.insert(block.list);
            if (block.header)
                headers.insert(block.header);
            for (const Delta::Segment &segment : line.segments) {
                const Delta::InlineAttributes inline_
                    = Delta::readInlineAttributes(segment.attributes);
                bold = bold || inline_.bold;
                // A stray asterisk in the copy would switch italic on for the rest of the line.
                QVERIFY2(!inline_.italic, qPrintable(segment.text));
                QVERIFY2(!segment.text.contains(QLatin1Char('*')), qPrintable(segment.text));
            }
        }
    }
    QCOMPARE(quotes, 1);
    QCOMPARE(lists, (QSet<QString> { "bullet", "ordered", "unchecked" }));
    QCOMPARE(headers, (QSet<int> { 2, 3 }));
    QVERIFY(bold);
}

void TestSimpleMarkdown::welcomeNotesAreInTheWrittenForm_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QString>("title");

    QTest::addRow("trip packing list") << 0 << qint64(0) << "Trip Packing List";
    QTest::addRow("getting started") << 1 << qint64(100) << "Getting Started";
    QTest::addRow("welcome") << 2 << qint64(200) << "Welcome to Brevaro Notes";
}

void TestSimpleMarkdown::welcomeNotesAreInTheWrittenForm()
{
    QFETCH(int, index);
    QFETCH(qint64, offset);
    QFETCH(QString, title);

    const QList<WelcomeNoteSource> notes = welcomeNoteSources();
    QCOMPARE(notes.size(), 3);
    const WelcomeNoteSource &note = notes.at(index);
    QCOMPARE(note.offsetMs, offset);

    DeltaDocument document;
    document.setContent(note.deltaJson);
    QCOMPARE(document.document()->begin().text(), title);
    QCOMPARE(document.document()
                 ->begin()
                 .blockFormat()
                 .property(DeltaDocument::HeadingLevelProperty)
                 .toInt(),
        1);

    // The one deliberate difference: the stored divider value true is written back as "".
    QString expected = note.deltaJson;
    expected.replace(R"~({"divider":true})~", R"~({"divider":""})~");
    QCOMPARE(document.toJson(), expected);
    QCOMPARE(Delta::toText(Delta::parseOperations(note.deltaJson)), note.deltaJson);
}

void TestSimpleMarkdown::welcomeNotesHoldTheirConstructs()
{
    const QList<WelcomeNoteSource> notes = welcomeNoteSources();
    QCOMPARE(notes.size(), 3);

    const auto lines
        = [](const QString &json) { return Delta::lines(Delta::parseOperations(json)); };
    const auto isBoldLabel = [](const Delta::Line &line) {
        return !line.segments.isEmpty()
            && Delta::readInlineAttributes(line.segments.first().attributes).bold
            && Delta::readBlockAttributes(line.blockAttributes).header == 0;
    };

    int checked = 0, unchecked = 0, labels = 0;
    for (const Delta::Line &line : lines(notes.at(0).deltaJson)) {
        const QString list = Delta::readBlockAttributes(line.blockAttributes).list;
        checked += list == "checked";
        unchecked += list == "unchecked";
        labels += isBoldLabel(line);
    }
    QVERIFY(checked > 0);
    QVERIFY(unchecked > 0);
    QVERIFY(labels >= 2);

    QVERIFY(notes.at(1).deltaJson.contains(R"~({"insert":{"divider":true}})~"));
    labels = 0;
    for (const Delta::Line &line : lines(notes.at(1).deltaJson))
        labels += isBoldLabel(line);
    QVERIFY(labels >= 5);

    const QList<Delta::Line> welcome = lines(notes.at(2).deltaJson);
    QVERIFY(welcome.size() >= 3);
    for (qsizetype i = 1; i < welcome.size(); ++i) {
        QVERIFY(welcome.at(i).blockAttributes.isEmpty());
        QVERIFY(welcome.at(i).segments.first().attributes.isEmpty());
    }
}

QTEST_MAIN(TestSimpleMarkdown)
#include "tst_simplemarkdown.moc"
