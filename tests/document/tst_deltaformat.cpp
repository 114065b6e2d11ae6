#include "deltaformat.h"

#include <QJsonDocument>
#include <QtTest>

using namespace Delta;

class TestDeltaFormat : public QObject
{
    Q_OBJECT

private slots:
    void parseArrayRejectsNonDeltas_data();
    void parseArrayRejectsNonDeltas();
    void operationKinds_data();
    void operationKinds();
    void linesSplitRunsAtNewlines_data();
    void linesSplitRunsAtNewlines();
    void inlineAttributes_data();
    void inlineAttributes();
    void blockAttributes_data();
    void blockAttributes();
    void embedValues_data();
    void embedValues();
    void tableShapes_data();
    void tableShapes();
    void cellParagraphs_data();
    void cellParagraphs();
    void writtenTableForm();
    void serialisationIsCompactAndSorted_data();
    void serialisationIsCompactAndSorted();
    void storedOperationsRoundTrip_data();
    void storedOperationsRoundTrip();
};

void TestDeltaFormat::parseArrayRejectsNonDeltas_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isDelta");
    QTest::addRow("empty document") << emptyDocument() << true;
    QTest::addRow("empty array") << QStringLiteral("[]") << true;
    QTest::addRow("plain word") << QStringLiteral("hello") << false;
    QTest::addRow("object top level") << QStringLiteral("{\"insert\":\"x\"}") << false;
    QTest::addRow("string top level") << QStringLiteral("\"x\"") << false;
    QTest::addRow("number too large") << QStringLiteral("[{\"retain\":1e400}]") << false;
    QTest::addRow("truncated") << QStringLiteral("[{\"insert\":\"x\"") << false;
    QTest::addRow("nested too deep")
        << QString(5000, QLatin1Char('[')) + QString(5000, QLatin1Char(']')) << false;
}

void TestDeltaFormat::parseArrayRejectsNonDeltas()
{
    QFETCH(QString, text);
    QFETCH(bool, isDelta);
    QCOMPARE(parseArray(text).has_value(), isDelta);
    if (!isDelta)
        QVERIFY(parseOperations(text).isEmpty());
}

void TestDeltaFormat::operationKinds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("types");
    const auto t = [](OperationType type) { return int(type); };
    QTest::addRow("non-objects skipped") << QStringLiteral("[1,\"x\",null,[],{\"insert\":\"a\"}]")
                                         << QList<int> { t(OperationType::Text) };
    QTest::addRow("string insert wins over retain") << QStringLiteral(
        "[{\"insert\":\"a\",\"retain\":3}]") << QList<int> { t(OperationType::Text) };
    QTest::addRow("object insert is an embed") << QStringLiteral(
        "[{\"insert\":{\"divider\":\"hr\"}}]") << QList<int> { t(OperationType::Embed) };
    QTest::addRow("numeric insert falls to retain") << QStringLiteral(
        "[{\"insert\":5,\"retain\":2}]") << QList<int> { t(OperationType::Retain) };
    QTest::addRow("delete") << QStringLiteral("[{\"delete\":2}]")
                            << QList<int> { t(OperationType::Delete) };
    QTest::addRow("no members is an empty run")
        << QStringLiteral("[{}]") << QList<int> { t(OperationType::Text) };
    QTest::addRow("array insert is an empty run")
        << QStringLiteral("[{\"insert\":[1,2]}]") << QList<int> { t(OperationType::Text) };
}

void TestDeltaFormat::operationKinds()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, types);
    const Operations ops = parseOperations(text);
    QList<int> actual;
    for (const Operation &op : ops)
        actual.append(int(op.type));
    QCOMPARE(actual, types);
}

void TestDeltaFormat::linesSplitRunsAtNewlines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lineTexts");
    QTest::addColumn<QStringList>("blockAttributes");
    QTest::addRow("one empty line")
        << emptyDocument() << QStringList { QString() } << QStringList { QStringLiteral("{}") };
    QTest::addRow("run with inner newline and no trailing newline")
        << QStringLiteral("[{\"insert\":\"a\\nb\",\"attributes\":{\"bold\":true}}]")
        << QStringList { QStringLiteral("a"), QStringLiteral("b") }
        << QStringList { QStringLiteral("{\"bold\":true}"), QStringLiteral("{}") };
    QTest::addRow("line separator and carriage return stay in text")
        << QStringLiteral("[{\"insert\":\"a\\u2028b\\rc\\n\"}]")
        << QStringList { QStringLiteral("a\u2028b\rc") } << QStringList { QStringLiteral("{}") };
    QTest::addRow("retain between runs is dropped")
        << QStringLiteral("[{\"insert\":\"a\"},{\"retain\":4},{\"insert\":\"b\\n\"}]")
        << QStringList { QStringLiteral("ab") } << QStringList { QStringLiteral("{}") };
    QTest::addRow("embed then newline") << QStringLiteral(
        "[{\"insert\":{\"divider\":\"hr\"}},{\"insert\":\"\\n\",\"attributes\":{\"x\":1}}]")
                                        << QStringList { QStringLiteral("[divider]") }
                                        << QStringList { QStringLiteral("{\"x\":1}") };
}

void TestDeltaFormat::linesSplitRunsAtNewlines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lineTexts);
    QFETCH(QStringList, blockAttributes);
    const QList<Line> result = lines(parseOperations(text));
    QStringList texts;
    QStringList attributes;
    for (const Line &line : result) {
        QString lineText;
        for (const Segment &segment : line.segments)
            lineText += segment.isEmbed ? QLatin1Char('[') + segment.embedKind + QLatin1Char(']')
                                        : segment.text;
        texts.append(lineText);
        attributes.append(toText(line.blockAttributes));
    }
    QCOMPARE(texts, lineTexts);
    QCOMPARE(attributes, blockAttributes);
}

void TestDeltaFormat::inlineAttributes_data()
{
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QString>("written");
    QTest::addRow("all known keys but code")
        << QStringLiteral("{\"bold\":true,\"italic\":true,\"strike\":true,\"underline\":true}")
        << QStringLiteral("{\"bold\":true,\"italic\":true,\"strike\":true,\"underline\":true}");
    QTest::addRow("code drops bold")
        << QStringLiteral("{\"bold\":true,\"code\":true,\"italic\":true}")
        << QStringLiteral("{\"code\":true,\"italic\":true}");
    QTest::addRow("bold false kept as unrecognised")
        << QStringLiteral("{\"bold\":false}") << QStringLiteral("{\"bold\":false}");
    QTest::addRow("bold as string kept as unrecognised")
        << QStringLiteral("{\"bold\":\"yes\"}") << QStringLiteral("{\"bold\":\"yes\"}");
    QTest::addRow("block keys on a run dropped") << QStringLiteral(
        "{\"blockquote\":true,\"code-block\":true,\"header\":1,\"list\":\"bullet\"}")
                                                 << QStringLiteral("{}");
    QTest::addRow("align on a run kept")
        << QStringLiteral("{\"align\":\"center\"}") << QStringLiteral("{\"align\":\"center\"}");
    QTest::addRow("link hides underline")
        << QStringLiteral("{\"link\":\"https://a.example\",\"underline\":true}")
        << QStringLiteral("{\"link\":\"https://a.example\"}");
    QTest::addRow("non-string link reads empty and is not written")
        << QStringLiteral("{\"link\":5}") << QStringLiteral("{}");
    QTest::addRow("unknown key with nested value")
        << QStringLiteral("{\"color\":{\"r\":1},\"italic\":true}")
        << QStringLiteral("{\"color\":{\"r\":1},\"italic\":true}");
}

void TestDeltaFormat::inlineAttributes()
{
    QFETCH(QString, attributes);
    QFETCH(QString, written);
    const QJsonObject object = QJsonDocument::fromJson(attributes.toUtf8()).object();
    QCOMPARE(toText(writeInlineAttributes(readInlineAttributes(object))), written);
}

void TestDeltaFormat::blockAttributes_data()
{
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QString>("written");
    QTest::addRow("header 3 survives")
        << QStringLiteral("{\"header\":3}") << QStringLiteral("{\"header\":3}");
    QTest::addRow("header 7 dropped") << QStringLiteral("{\"header\":7}") << QStringLiteral("{}");
    QTest::addRow("header 2.5 dropped")
        << QStringLiteral("{\"header\":2.5}") << QStringLiteral("{}");
    QTest::addRow("header as string dropped")
        << QStringLiteral("{\"header\":\"1\"}") << QStringLiteral("{}");
    QTest::addRow("unknown list type kept")
        << QStringLiteral("{\"list\":\"dash\"}") << QStringLiteral("{\"list\":\"dash\"}");
    QTest::addRow("code-block language kept")
        << QStringLiteral("{\"code-block\":\"cpp\"}") << QStringLiteral("{\"code-block\":\"cpp\"}");
    QTest::addRow("code-block number reads true")
        << QStringLiteral("{\"code-block\":3}") << QStringLiteral("{\"code-block\":true}");
    QTest::addRow("blockquote any value reads true")
        << QStringLiteral("{\"blockquote\":\"x\"}") << QStringLiteral("{\"blockquote\":true}");
    QTest::addRow("align justify")
        << QStringLiteral("{\"align\":\"justify\"}") << QStringLiteral("{\"align\":\"justify\"}");
    QTest::addRow("align left not written")
        << QStringLiteral("{\"align\":\"left\"}") << QStringLiteral("{}");
    QTest::addRow("inline keys on a line dropped")
        << QStringLiteral("{\"bold\":true,\"code\":true,\"link\":\"x\"}") << QStringLiteral("{}");
    QTest::addRow("indent kept") << QStringLiteral("{\"indent\":2,\"list\":\"ordered\"}")
                                 << QStringLiteral("{\"indent\":2,\"list\":\"ordered\"}");
}

void TestDeltaFormat::blockAttributes()
{
    QFETCH(QString, attributes);
    QFETCH(QString, written);
    const QJsonObject object = QJsonDocument::fromJson(attributes.toUtf8()).object();
    QCOMPARE(toText(writeBlockAttributes(readBlockAttributes(object))), written);
}

void TestDeltaFormat::embedValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("supported");
    QTest::addRow("bare attachment id gets the prefix")
        << QStringLiteral("[{\"insert\":{\"brevaro-notes-attachment\":\"42\"}}]")
        << QStringLiteral("brevaro-notes-attachment")
        << QStringLiteral("brevaro-notes://attachment/42") << true;
    QTest::addRow("prefix test is case-sensitive")
        << QStringLiteral(
               "[{\"insert\":{\"brevaro-notes-attachment\":\"BREVARO-NOTES://attachment/1\"}}]")
        << QStringLiteral("brevaro-notes-attachment")
        << QStringLiteral("brevaro-notes://attachment/BREVARO-NOTES://attachment/1") << true;
    QTest::addRow("image with web address unsupported")
        << QStringLiteral("[{\"insert\":{\"image\":\"https://x.example/a.png\"}}]")
        << QStringLiteral("image") << QStringLiteral("https://x.example/a.png") << false;
    QTest::addRow("divider true reads empty") << QStringLiteral("[{\"insert\":{\"divider\":true}}]")
                                              << QStringLiteral("divider") << QString() << true;
    QTest::addRow("several keys take the first ascending")
        << QStringLiteral("[{\"insert\":{\"video\":\"v\",\"divider\":\"hr\"}}]")
        << QStringLiteral("divider") << QStringLiteral("hr") << true;
    QTest::addRow("unknown kind unsupported")
        << QStringLiteral("[{\"insert\":{\"formula\":\"x\"}}]") << QStringLiteral("formula")
        << QStringLiteral("x") << false;
}

void TestDeltaFormat::embedValues()
{
    QFETCH(QString, text);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(bool, supported);
    const QList<Line> result = lines(parseOperations(text));
    QCOMPARE(result.size(), 1);
    QCOMPARE(result.first().segments.size(), 1);
    const Segment segment = result.first().segments.first();
    QVERIFY(segment.isEmbed);
    QCOMPARE(segment.embedKind, kind);
    QCOMPARE(segment.embedValue, value);
    QCOMPARE(isSupportedEmbed(segment.embedKind, segment.embedValue), supported);
}

void TestDeltaFormat::tableShapes_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("isObject");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("hasHeader");
    QTest::addRow("ragged rows 2 3 1")
        << QStringLiteral("{\"cells\":[[\"a\",\"b\"],[\"c\",\"d\",\"e\"],[\"f\"]]}") << true << 3
        << 3 << true;
    QTest::addRow("hasHeader false")
        << QStringLiteral("{\"cells\":[[\"a\"]],\"hasHeader\":false}") << true << 1 << 1 << false;
    QTest::addRow("hasHeader not boolean means true")
        << QStringLiteral("{\"cells\":[[\"a\"]],\"hasHeader\":0}") << true << 1 << 1 << true;
    QTest::addRow("row not an array is empty")
        << QStringLiteral("{\"cells\":[5,[\"a\",\"b\"]]}") << true << 2 << 2 << true;
    QTest::addRow("all rows empty")
        << QStringLiteral("{\"cells\":[[],[]]}") << true << 2 << 0 << true;
    QTest::addRow("cells missing") << QStringLiteral("{}") << true << 0 << 0 << true;
    QTest::addRow("array is not a table") << QStringLiteral("[[\"a\"]]") << false << 0 << 0 << true;
    QTest::addRow("not json") << QStringLiteral("cells") << false << 0 << 0 << true;
}

void TestDeltaFormat::tableShapes()
{
    QFETCH(QString, value);
    QFETCH(bool, isObject);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(bool, hasHeader);
    const std::optional<Table> table = parseTable(value);
    QCOMPARE(table.has_value(), isObject);
    if (!table)
        return;
    QCOMPARE(table->rowCount(), rows);
    QCOMPARE(table->columnCount(), columns);
    QCOMPARE(table->hasHeader, hasHeader);
    QCOMPARE(table->cell(rows, columns).kind, TableCell::Kind::Empty);
}

void TestDeltaFormat::cellParagraphs_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QStringList>("paragraphs");
    QTest::addRow("plain string") << QStringLiteral("\"a\\nb\"")
                                  << QStringList { QStringLiteral("a"), QStringLiteral("b") };
    QTest::addRow("run that is a newline")
        << QStringLiteral("[{\"insert\":\"a\"},{\"insert\":\"\\n\"},{\"insert\":\"b\"}]")
        << QStringList { QStringLiteral("a"), QStringLiteral("b") };
    QTest::addRow("newline inside a run")
        << QStringLiteral("[{\"insert\":\"a\\nb\\n\"}]")
        << QStringList { QStringLiteral("a"), QStringLiteral("b"), QString() };
    QTest::addRow("embeds in cells ignored")
        << QStringLiteral("[{\"insert\":{\"divider\":\"hr\"}},{\"insert\":\"a\"}]")
        << QStringList { QStringLiteral("a") };
    QTest::addRow("number cell is empty") << QStringLiteral("7") << QStringList { QString() };
}

void TestDeltaFormat::cellParagraphs()
{
    QFETCH(QString, cell);
    QFETCH(QStringList, paragraphs);
    const std::optional<Table> table = parseTable(QStringLiteral("{\"cells\":[[%1]]}").arg(cell));
    QVERIFY(table);
    QStringList actual;
    for (const QList<TableRun> &paragraph : table->cell(0, 0).paragraphs()) {
        QString text;
        for (const TableRun &run : paragraph)
            text += run.text;
        actual.append(text);
    }
    QCOMPARE(actual, paragraphs);
}

void TestDeltaFormat::writtenTableForm()
{
    const std::optional<Table> table
        = parseTable(QStringLiteral("{\"hasHeader\":false,\"cells\":[[\"a\\nb\",[{\"insert\":\"x\","
                                    "\"attributes\":{\"bold\":true,"
                                    "\"header\":1}}]],[\"c\"]]}"));
    QVERIFY(table);
    QCOMPARE(writeTable(*table),
        QStringLiteral("{\"cells\":[[[{\"insert\":\"a\"},{\"insert\":\"\\n\"},{\"insert\":\"b\"}],"
                       "[{\"attributes\":{\"bold\":true},\"insert\":\"x\"}]],"
                       "[[{\"insert\":\"c\"}],[]]],\"hasHeader\":false}"));
}

void TestDeltaFormat::serialisationIsCompactAndSorted_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("written");
    QTest::addRow("keys ascending")
        << QStringLiteral("[{\"insert\":\"a\",\"attributes\":{\"z\":1,\"b\":2}}]")
        << QStringLiteral("[{\"attributes\":{\"b\":2,\"z\":1},\"insert\":\"a\"}]");
    QTest::addRow("integral numbers without fraction") << QStringLiteral(
        "[{\"retain\":1.0},{\"delete\":3}]") << QStringLiteral("[{\"retain\":1},{\"delete\":3}]");
    QTest::addRow("whitespace removed") << QStringLiteral("[ { \"insert\" : \"a b\" } ]")
                                        << QStringLiteral("[{\"insert\":\"a b\"}]");
    QTest::addRow("control characters escaped")
        << QStringLiteral("[{\"insert\":\"a\\tb\\u0001\\n\"}]")
        << QStringLiteral("[{\"insert\":\"a\\tb\\u0001\\n\"}]");
    QTest::addRow("non-ascii kept as is") << QStringLiteral("[{\"insert\":\"\\u00e9\\u4e2d\"}]")
                                          << QStringLiteral("[{\"insert\":\"\u00e9\u4e2d\"}]");
}

void TestDeltaFormat::serialisationIsCompactAndSorted()
{
    QFETCH(QString, input);
    QFETCH(QString, written);
    const std::optional<QJsonArray> array = parseArray(input);
    QVERIFY(array);
    QCOMPARE(toText(*array), written);
    QCOMPARE(toText(parseOperations(input)), written);
}

void TestDeltaFormat::storedOperationsRoundTrip_data()
{
    QTest::addColumn<QString>("input");
    QTest::addRow("empty document") << emptyDocument();
    QTest::addRow("mixed formatting") << QStringLiteral(
        "[{\"attributes\":{\"bold\":true},\"insert\":\"a\"},{\"attributes\":{\"header\":2},"
        "\"insert\":\"\\n\"},{\"insert\":{\"divider\":\"hr\"}},{\"insert\":\"\\n\"}]");
    QTest::addRow("huge numbers") << QStringLiteral(
        "[{\"attributes\":{\"x\":1e300},\"insert\":\"a\"}]");
    QTest::addRow("unicode keys") << QStringLiteral(
        "[{\"attributes\":{\"\u00e9\":1,\"a\":2},\"insert\":\"x\"}]");
}

void TestDeltaFormat::storedOperationsRoundTrip()
{
    QFETCH(QString, input);
    const QString once = toText(parseOperations(input));
    QCOMPARE(toText(parseOperations(once)), once);
}

QTEST_GUILESS_MAIN(TestDeltaFormat)
#include "tst_deltaformat.moc"
