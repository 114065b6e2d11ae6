#include "deltaconversion.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "documentpalette.h"
#include "fontscale.h"

#include <QGuiApplication>
#include <QPalette>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <QtTest>

namespace {

QString normalised(const QString &body)
{
    DeltaDocument document;
    document.setContent(body);
    return document.toJson();
}

QString tableEmbed(const QString &tableJson)
{
    QJsonObject op { { QStringLiteral("insert"),
        QJsonObject { { QStringLiteral("table"), tableJson } } } };
    return Delta::toText(QJsonObject(op));
}

// Random documents built from every construct the format knows, including damaged ones.
QString generatedDocument(QRandomGenerator &random)
{
    static const QStringList words { QStringLiteral("alpha"), QStringLiteral("b\u00e9ta"),
        QStringLiteral("\u4e2d\u6587"), QStringLiteral(" "), QStringLiteral("x\ry"),
        QStringLiteral("\u2028"), QStringLiteral("\U0001F600"), QStringLiteral("\n") };
    static const QStringList inlineKeys { QStringLiteral("bold"), QStringLiteral("italic"),
        QStringLiteral("underline"), QStringLiteral("strike"), QStringLiteral("code"),
        QStringLiteral("link"), QStringLiteral("color"), QStringLiteral("header") };
    static const QStringList blockKeys { QStringLiteral("header"), QStringLiteral("list"),
        QStringLiteral("code-block"), QStringLiteral("blockquote"), QStringLiteral("align"),
        QStringLiteral("indent"), QStringLiteral("bold") };
    static const QStringList lists { QStringLiteral("bullet"), QStringLiteral("ordered"),
        QStringLiteral("checked"), QStringLiteral("unchecked"), QStringLiteral("dash") };
    static const QStringList aligns { QStringLiteral("center"), QStringLiteral("right"),
        QStringLiteral("justify"), QStringLiteral("left") };
    const auto pick
        = [&random](const QStringList &list) { return list.at(random.bounded(int(list.size()))); };
    const auto anyValue = [&random]() -> QJsonValue {
        switch (random.bounded(4)) {
        case 0:
            return true;
        case 1:
            return false;
        case 2:
            return random.bounded(9);
        default:
            return QStringLiteral("v");
        }
    };

    QJsonArray ops;
    const int count = random.bounded(1, 30);
    for (int i = 0; i < count; ++i) {
        QJsonObject op;
        const int kind = random.bounded(10);
        if (kind < 6) {
            QString text;
            for (int w = random.bounded(1, 4); w > 0; --w)
                text += pick(words);
            op.insert(QStringLiteral("insert"), text);
            QJsonObject attributes;
            for (int a = random.bounded(3); a > 0; --a) {
                const QString key = pick(inlineKeys);
                attributes.insert(key,
                    key == QLatin1String("link")
                        ? QJsonValue(QStringLiteral("https://e.example"))
                        : (random.bounded(4) ? QJsonValue(true) : anyValue()));
            }
            if (!attributes.isEmpty())
                op.insert(QStringLiteral("attributes"), attributes);
        } else if (kind < 8) {
            op.insert(QStringLiteral("insert"), QStringLiteral("\n"));
            QJsonObject attributes;
            for (int a = random.bounded(3); a > 0; --a) {
                const QString key = pick(blockKeys);
                if (key == QLatin1String("header"))
                    attributes.insert(key, random.bounded(9));
                else if (key == QLatin1String("list"))
                    attributes.insert(key, pick(lists));
                else if (key == QLatin1String("align"))
                    attributes.insert(key, pick(aligns));
                else
                    attributes.insert(key, anyValue());
            }
            if (!attributes.isEmpty())
                op.insert(QStringLiteral("attributes"), attributes);
        } else if (kind == 8) {
            static const QList<QJsonObject> embeds {
                QJsonObject { { QStringLiteral("divider"), QStringLiteral("hr") } },
                QJsonObject { { QStringLiteral("divider"), true } },
                QJsonObject {
                    { QStringLiteral("brevaro-notes-attachment"), QStringLiteral("id1") } },
                QJsonObject {
                    { QStringLiteral("image"), QStringLiteral("brevaro-notes://attachment/i") } },
                QJsonObject {
                    { QStringLiteral("image"), QStringLiteral("https://x.example/a.png") } },
                QJsonObject { { QStringLiteral("video"), QStringLiteral("v") } }
            };
            op.insert(QStringLiteral("insert"), embeds.at(random.bounded(int(embeds.size()))));
        } else {
            QJsonArray rows;
            for (int r = random.bounded(4); r > 0; --r) {
                QJsonArray row;
                for (int c = random.bounded(4); c > 0; --c) {
                    if (random.bounded(2))
                        row.append(pick(words));
                    else
                        row.append(
                            QJsonArray { QJsonObject { { QStringLiteral("insert"), pick(words) },
                                { QStringLiteral("attributes"),
                                    QJsonObject { { pick(inlineKeys), true } } } } });
                }
                rows.append(row);
            }
            QJsonObject table { { QStringLiteral("cells"), rows } };
            if (random.bounded(2))
                table.insert(QStringLiteral("hasHeader"), bool(random.bounded(2)));
            op.insert(QStringLiteral("insert"),
                QJsonObject { { QStringLiteral("table"), Delta::toText(table) } });
        }
        ops.append(op);
    }
    return Delta::toText(ops);
}

} // namespace

class TestDeltaDocument : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writtenForm_data();
    void writtenForm();
    void roundTripIsStable_data();
    void roundTripIsStable();
    void loadingIsSilentAndClearsUndo();
    void headingMetricsFollowFontScale_data();
    void headingMetricsFollowFontScale();
    void blockStyles_data();
    void blockStyles();
    void paletteColours_data();
    void paletteColours();
    void codeRunLoadsAsInlineCode();
    void listsJoinAndRestart();
    void checkboxClickIsWritten();
    void tablePlaceholders_data();
    void tablePlaceholders();
    void typingAfterTableIsWritten();
    void insertTableAtMarksNewParagraphs();
    void headerCellsAreStyled();
    void embedsCarryObjectTypes();
    void oversizedTableIsKeptUnchanged();
    void hostileBodiesDoNotCrash_data();
    void hostileBodiesDoNotCrash();
    void repeatedWritesMatchFullConversion_data();
    void repeatedWritesMatchFullConversion();
};

void TestDeltaDocument::init()
{
    FontScale::setPercent(FontScale::Default);
    QGuiApplication::setPalette(QPalette(QColor(QStringLiteral("#FAFAFA"))));
}

void TestDeltaDocument::writtenForm_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("written");
    const QString nl = QStringLiteral("{\"insert\":\"\\n\"}");
    const auto doc = [](const QStringList &ops) {
        return QLatin1Char('[') + ops.join(QLatin1Char(',')) + QLatin1Char(']');
    };

    QTest::addRow("empty document") << Delta::emptyDocument() << Delta::emptyDocument();
    QTest::addRow("empty array") << QStringLiteral("[]") << Delta::emptyDocument();
    QTest::addRow("only a retain") << QStringLiteral("[{\"retain\":5}]") << Delta::emptyDocument();
    QTest::addRow("empty text") << QString() << Delta::emptyDocument();
    QTest::addRow("not json") << QStringLiteral("hello")
                              << doc({ QStringLiteral("{\"insert\":\"hello\"}"), nl });
    QTest::addRow("object top level") << QStringLiteral(
        "{\"a\":1}") << doc({ QStringLiteral("{\"insert\":\"{\\\"a\\\":1}\"}"), nl });
    QTest::addRow("bold run across a newline")
        << QStringLiteral("[{\"insert\":\"a\\nb\",\"attributes\":{\"bold\":true}}]")
        << doc({ QStringLiteral("{\"attributes\":{\"bold\":true},\"insert\":\"a\"}"), nl,
               QStringLiteral("{\"attributes\":{\"bold\":true},\"insert\":\"b\"}"), nl });
    QTest::addRow("newline sharing a run is split") << QStringLiteral(
        "[{\"insert\":\"ab\\n\"}]") << doc({ QStringLiteral("{\"insert\":\"ab\"}"), nl });
    QTest::addRow("equal runs merge")
        << QStringLiteral("[{\"insert\":\"a\",\"attributes\":{\"italic\":true}},{\"insert\":\"b\","
                          "\"attributes\":{\"italic\":true}},{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"attributes\":{\"italic\":true},\"insert\":\"ab\"}"), nl });
    for (int level = 1; level <= 6; ++level) {
        const QString text = level <= 2
            ? QStringLiteral("{\"attributes\":{\"bold\":true},\"insert\":\"H\"}")
            : QStringLiteral("{\"insert\":\"H\"}");
        QTest::addRow("heading %d", level)
            << QStringLiteral(
                   "[{\"insert\":\"H\"},{\"insert\":\"\\n\",\"attributes\":{\"header\":%1}}]")
                   .arg(level)
            << doc({ text,
                   QStringLiteral("{\"attributes\":{\"header\":%1},\"insert\":\"\\n\"}")
                       .arg(level) });
    }
    QTest::addRow("heading 7 dropped")
        << QStringLiteral("[{\"insert\":\"H\"},{\"insert\":\"\\n\",\"attributes\":{\"header\":7}}]")
        << doc({ QStringLiteral("{\"insert\":\"H\"}"), nl });
    QTest::addRow("inline styles") << QStringLiteral(
        "[{\"insert\":\"s\",\"attributes\":{\"italic\":true,\"underline\":true,\"strike\":true}},"
        "{\"insert\":\"\\n\"}]")
                                   << doc({ QStringLiteral(
                                                "{\"attributes\":{\"italic\":true,\"strike\":true,"
                                                "\"underline\":true},\"insert\":\"s\"}"),
                                          nl });
    QTest::addRow("bold and code keeps code only")
        << QStringLiteral("[{\"insert\":\"c\",\"attributes\":{\"bold\":true,\"code\":true}},{"
                          "\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"attributes\":{\"code\":true},\"insert\":\"c\"}"), nl });
    QTest::addRow("code then italic keeps both")
        << QStringLiteral("[{\"insert\":\"c\",\"attributes\":{\"code\":true,\"italic\":true}},{"
                          "\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral(
                     "{\"attributes\":{\"code\":true,\"italic\":true},\"insert\":\"c\"}"),
               nl });
    QTest::addRow("link drops its underline")
        << QStringLiteral("[{\"insert\":\"l\",\"attributes\":{\"link\":\"https://"
                          "a.example\",\"underline\":true}},"
                          "{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral(
                     "{\"attributes\":{\"link\":\"https://a.example\"},\"insert\":\"l\"}"),
               nl });
    QTest::addRow("bold false kept")
        << QStringLiteral(
               "[{\"insert\":\"x\",\"attributes\":{\"bold\":false}},{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"attributes\":{\"bold\":false},\"insert\":\"x\"}"), nl });
    QTest::addRow("unknown inline attribute kept")
        << QStringLiteral("[{\"insert\":\"x\",\"attributes\":{\"color\":\"#ff0000\",\"bold\":true}}"
                          ",{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral(
                     "{\"attributes\":{\"bold\":true,\"color\":\"#ff0000\"},\"insert\":\"x\"}"),
               nl });
    QTest::addRow("unknown block attribute kept")
        << QStringLiteral("[{\"insert\":\"x\"},{\"insert\":\"\\n\",\"attributes\":{\"indent\":1,"
                          "\"list\":\"bullet\"}}]")
        << doc({ QStringLiteral("{\"insert\":\"x\"}"),
               QStringLiteral(
                   "{\"attributes\":{\"indent\":1,\"list\":\"bullet\"},\"insert\":\"\\n\"}") });
    QTest::addRow("inline keys on a line dropped")
        << QStringLiteral(
               "[{\"insert\":\"x\"},{\"insert\":\"\\n\",\"attributes\":{\"bold\":true}}]")
        << doc({ QStringLiteral("{\"insert\":\"x\"}"), nl });
    for (const char *type : { "bullet", "ordered", "checked", "unchecked", "dash" }) {
        QTest::addRow("list %s", type)
            << QStringLiteral(
                   "[{\"insert\":\"i\"},{\"insert\":\"\\n\",\"attributes\":{\"list\":\"%1\"}}]")
                   .arg(QLatin1String(type))
            << doc({ QStringLiteral("{\"insert\":\"i\"}"),
                   QStringLiteral("{\"attributes\":{\"list\":\"%1\"},\"insert\":\"\\n\"}")
                       .arg(QLatin1String(type)) });
    }
    QTest::addRow("code block text gains code")
        << QStringLiteral("[{\"insert\":\"int "
                          "x;\"},{\"insert\":\"\\n\",\"attributes\":{\"code-block\":true}}]")
        << doc({ QStringLiteral("{\"attributes\":{\"code\":true},\"insert\":\"int x;\"}"),
               QStringLiteral("{\"attributes\":{\"code-block\":true},\"insert\":\"\\n\"}") });
    QTest::addRow("code block language kept")
        << QStringLiteral("[{\"insert\":\"\\n\",\"attributes\":{\"code-block\":\"cpp\"}}]")
        << doc({ QStringLiteral("{\"attributes\":{\"code-block\":\"cpp\"},\"insert\":\"\\n\"}") });
    QTest::addRow("blockquote")
        << QStringLiteral(
               "[{\"insert\":\"q\"},{\"insert\":\"\\n\",\"attributes\":{\"blockquote\":1}}]")
        << doc({ QStringLiteral("{\"insert\":\"q\"}"),
               QStringLiteral("{\"attributes\":{\"blockquote\":true},\"insert\":\"\\n\"}") });
    for (const char *align : { "center", "right", "justify" }) {
        QTest::addRow("align %s", align)
            << QStringLiteral(
                   "[{\"insert\":\"a\"},{\"insert\":\"\\n\",\"attributes\":{\"align\":\"%1\"}}]")
                   .arg(QLatin1String(align))
            << doc({ QStringLiteral("{\"insert\":\"a\"}"),
                   QStringLiteral("{\"attributes\":{\"align\":\"%1\"},\"insert\":\"\\n\"}")
                       .arg(QLatin1String(align)) });
    }
    QTest::addRow("align left not written") << QStringLiteral(
        "[{\"insert\":\"a\"},{\"insert\":\"\\n\",\"attributes\":{\"align\":\"left\"}}]")
                                            << doc({ QStringLiteral("{\"insert\":\"a\"}"), nl });
    QTest::addRow("divider true becomes empty string")
        << QStringLiteral("[{\"insert\":{\"divider\":true}},{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"insert\":{\"divider\":\"\"}}"), nl });
    QTest::addRow("divider hr with attributes dropped") << QStringLiteral(
        "[{\"insert\":{\"divider\":\"hr\"},\"attributes\":{\"bold\":true}},{"
        "\"insert\":\"\\n\"}]") << doc({ QStringLiteral("{\"insert\":{\"divider\":\"hr\"}}"), nl });
    QTest::addRow("attachment id gains prefix")
        << QStringLiteral(
               "[{\"insert\":{\"brevaro-notes-attachment\":\"42\"}},{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"insert\":{\"brevaro-notes-attachment\":\"brevaro-notes://"
                                "attachment/42\"}}"),
               nl });
    QTest::addRow("attachment image kept")
        << QStringLiteral(
               "[{\"insert\":{\"image\":\"brevaro-notes://attachment/7\"}},{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"insert\":{\"image\":\"brevaro-notes://attachment/7\"}}"), nl });
    // What this version cannot show is still the user's: it is written back as it was stored.
    const QString webImage = QStringLiteral("{\"insert\":{\"image\":\"https://x.example/p.png\"}}");
    QTest::addRow("web image kept") << doc({ QStringLiteral("{\"insert\":\"a\"}"), webImage, nl })
                                    << doc({ QStringLiteral("{\"insert\":\"a\"}"), webImage, nl });
    QTest::addRow("unknown embed kept")
        << QStringLiteral("[{\"insert\":{\"video\":\"v\"}},{\"insert\":\"\\n\"}]")
        << doc({ QStringLiteral("{\"insert\":{\"video\":\"v\"}}"), nl });
    const QString newerEmbed
        = QStringLiteral("{\"insert\":{\"poll\":{\"options\":[\"a\",2,null],\"q\":\"Lunch?\"}}}");
    QTest::addRow("unknown embed with an object value kept")
        << doc({ QStringLiteral("{\"insert\":\"x\\n\"}"), newerEmbed, nl })
        << doc({ QStringLiteral("{\"insert\":\"x\"}"), nl, newerEmbed, nl });
    QTest::addRow("object character in text removed") << QStringLiteral(
        "[{\"insert\":\"a\\ufffcb\\n\"}]") << doc({ QStringLiteral("{\"insert\":\"ab\"}"), nl });
    QTest::addRow("carriage return and separators kept")
        << QStringLiteral("[{\"insert\":\"a\\rb\\u2028c\\u2029d\\ufdd0e\\n\"}]")
        << doc({ QStringLiteral("{\"insert\":\"a\\rb\u2028c\u2029d\ufdd0e\"}"), nl });

    const QString ragged
        = QStringLiteral("{\"cells\":[[\"a\",\"b\"],[\"c\",\"d\",\"e\"],[\"f\"]]}");
    const QString raggedWritten = QStringLiteral(
        "{\"cells\":[[[{\"attributes\":{\"bold\":true},\"insert\":\"a\"}],[{\"attributes\":{"
        "\"bold\":true},"
        "\"insert\":\"b\"}],[]],[[{\"insert\":\"c\"}],[{\"insert\":\"d\"}],[{\"insert\":\"e\"}]],"
        "[[{\"insert\":\"f\"}],[],[]]],\"hasHeader\":true}");
    QTest::addRow("table alone in the note")
        << doc({ tableEmbed(ragged), nl }) << doc({ tableEmbed(raggedWritten), nl });
    QTest::addRow("table without trailing newline")
        << doc({ tableEmbed(ragged) }) << doc({ tableEmbed(raggedWritten), nl });
    QTest::addRow("table between paragraphs")
        << doc({ QStringLiteral("{\"insert\":\"x\\n\"}"), tableEmbed(ragged),
               QStringLiteral("{\"insert\":\"\\ny\\n\"}") })
        << doc({ QStringLiteral("{\"insert\":\"x\"}"), nl, tableEmbed(raggedWritten), nl,
               QStringLiteral("{\"insert\":\"y\"}"), nl });
    QTest::addRow("two tables in a row")
        << doc({ tableEmbed(ragged), nl, tableEmbed(ragged), nl })
        << doc({ tableEmbed(raggedWritten), nl, tableEmbed(raggedWritten), nl });
    QTest::addRow("table line attributes vanish") << doc({ tableEmbed(ragged),
        QStringLiteral("{\"attributes\":{\"header\":1},\"insert\":\"\\n\"}") })
                                                  << doc({ tableEmbed(raggedWritten), nl });
    QTest::addRow("table without header and styled cells")
        << doc({ tableEmbed(QStringLiteral(
                     "{\"cells\":[[[{\"insert\":\"a\\nb\",\"attributes\":{\"italic\":true}}]]],"
                     "\"hasHeader\":false}")),
               nl })
        << doc({ tableEmbed(QStringLiteral("{\"cells\":[[[{\"attributes\":{\"italic\":true},"
                                           "\"insert\":\"a\"},{\"insert\":\"\\n\"},"
                                           "{\"attributes\":{\"italic\":true},\"insert\":\"b\"}]]],"
                                           "\"hasHeader\":false}")),
               nl });
    QTest::addRow("empty table removed") << doc({ QStringLiteral("{\"insert\":\"a\\n\"}"),
        tableEmbed(QStringLiteral("{\"cells\":[[],[]]}")), nl })
                                         << doc({ QStringLiteral("{\"insert\":\"a\"}"), nl });
    QTest::addRow("table value not an object kept")
        << doc({ QStringLiteral("{\"insert\":\"a\\n\"}"), tableEmbed(QStringLiteral("[1]")), nl })
        << doc({ QStringLiteral("{\"insert\":\"a\"}"), nl, tableEmbed(QStringLiteral("[1]")), nl });
    QTest::addRow("damaged table kept with its lines")
        << QStringLiteral("[{\"insert\":\"before\\n\"},{\"insert\":{\"table\":\"{broken\"}},"
                          "{\"insert\":\"\\nafter\\n\"}]")
        << doc({ QStringLiteral("{\"insert\":\"before\"}"), nl,
               tableEmbed(QStringLiteral("{broken")), nl, QStringLiteral("{\"insert\":\"after\"}"),
               nl });
    QTest::addRow("table sharing its line kept unchanged")
        << doc({ QStringLiteral("{\"insert\":\"a\"}"),
               tableEmbed(QStringLiteral("{\"cells\":[[\"z\"]]}")), nl })
        << doc({ QStringLiteral("{\"insert\":\"a\"}"),
               tableEmbed(QStringLiteral("{\"cells\":[[\"z\"]]}")), nl });
}

void TestDeltaDocument::writtenForm()
{
    QFETCH(QString, input);
    QFETCH(QString, written);
    const QString once = normalised(input);
    QCOMPARE(once, written);
    QCOMPARE(normalised(once), once);
}

void TestDeltaDocument::roundTripIsStable_data()
{
    QTest::addColumn<QString>("input");
    QRandomGenerator random(20240611);
    for (int i = 0; i < 300; ++i)
        QTest::addRow("generated %d", i) << generatedDocument(random);
    QTest::addRow("mixed list kinds") << QStringLiteral(
        "[{\"insert\":\"a\\n\",\"attributes\":{\"list\":\"ordered\"}},{\"insert\":\"b\\n\","
        "\"attributes\":{\"list\":\"bullet\"}},{\"insert\":\"c\\n\",\"attributes\":{\"list\":"
        "\"ordered\"}}]");
    QTest::addRow("heading over code block") << QStringLiteral(
        "[{\"insert\":\"x\\n\",\"attributes\":{\"header\":2,\"code-block\":true}}]");
}

void TestDeltaDocument::roundTripIsStable()
{
    QFETCH(QString, input);
    const QString once = normalised(input);
    QVERIFY(Delta::parseArray(once).has_value());
    QCOMPARE(normalised(once), once);
}

void TestDeltaDocument::loadingIsSilentAndClearsUndo()
{
    DeltaDocument document;
    QSignalSpy changed(&document, &DeltaDocument::contentsChanged);
    document.setContent(QStringLiteral("[{\"insert\":\"hello\\n\"}]"));
    document.setContent(QStringLiteral("not json"));
    document.setContent(QString());
    QCOMPARE(changed.count(), 0);
    QVERIFY(!document.document()->isUndoAvailable());

    QTextCursor cursor(document.document());
    cursor.insertText(QStringLiteral("typed"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(document.toPlainText(), QStringLiteral("typed"));
    document.setContent(Delta::emptyDocument());
    QVERIFY(!document.document()->isUndoAvailable());
}

void TestDeltaDocument::headingMetricsFollowFontScale_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("weight");
    QTest::addRow("h1 at 100") << 100 << 1 << 28 << 700;
    QTest::addRow("h2 at 100") << 100 << 2 << 22 << 700;
    QTest::addRow("h3 at 100") << 100 << 3 << 18 << 600;
    QTest::addRow("h6 at 100") << 100 << 6 << 13 << 600;
    QTest::addRow("paragraph at 100") << 100 << 0 << 16 << 400;
    QTest::addRow("h1 at 150") << 150 << 1 << 42 << 700;
    QTest::addRow("h6 at 85 truncates") << 85 << 6 << 11 << 600;
    QTest::addRow("paragraph at 70") << 70 << 0 << 11 << 400;
}

void TestDeltaDocument::headingMetricsFollowFontScale()
{
    QFETCH(int, scale);
    QFETCH(int, level);
    QFETCH(int, pixelSize);
    QFETCH(int, weight);
    FontScale::setPercent(scale);
    const DeltaDocument::HeadingMetrics metrics = DeltaDocument::headingMetrics(level);
    QCOMPARE(metrics.pixelSize(), pixelSize);
    QCOMPARE(metrics.weight, weight);

    DeltaDocument document;
    const QString header
        = level ? QStringLiteral(",\"attributes\":{\"header\":%1}").arg(level) : QString();
    document.setContent(QStringLiteral("[{\"insert\":\"T\"},{\"insert\":\"\\n\"%1}]").arg(header));
    const QTextBlock block = document.document()->begin();
    const QTextCharFormat text = block.begin().fragment().charFormat();
    QCOMPARE(text.intProperty(QTextFormat::FontPixelSize), pixelSize);
    if (level)
        QCOMPARE(text.fontWeight(), weight);
    QCOMPARE(block.blockFormat().lineHeight(), qreal(metrics.lineHeight));
    QCOMPARE(block.blockFormat().topMargin(), qreal(metrics.topMargin));
    QCOMPARE(block.blockFormat().bottomMargin(), qreal(metrics.bottomMargin));
}

void TestDeltaDocument::blockStyles_data()
{
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<int>("lineHeight");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<bool>("background");
    QTest::addRow("code block") << QStringLiteral("{\"code-block\":true}") << 8 << 8 << 140 << 12
                                << 12 << true;
    QTest::addRow("quote") << QStringLiteral("{\"blockquote\":true}") << 0 << 8 << 150 << 16 << 0
                           << false;
    QTest::addRow("heading wins over code") << QStringLiteral("{\"code-block\":true,\"header\":1}")
                                            << 24 << 12 << 130 << 0 << 0 << false;
    QTest::addRow("paragraph") << QStringLiteral("{}") << 0 << 8 << 150 << 0 << 0 << false;
}

void TestDeltaDocument::blockStyles()
{
    QFETCH(QString, attributes);
    QFETCH(int, top);
    QFETCH(int, bottom);
    QFETCH(int, lineHeight);
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(bool, background);
    const QTextBlockFormat format = DeltaDocument::blockFormatFromAttributes(
        QJsonDocument::fromJson(attributes.toUtf8()).object());
    QCOMPARE(format.topMargin(), qreal(top));
    QCOMPARE(format.bottomMargin(), qreal(bottom));
    QCOMPARE(format.lineHeight(), qreal(lineHeight));
    QCOMPARE(format.lineHeightType(), int(QTextBlockFormat::ProportionalHeight));
    QCOMPARE(format.leftMargin(), qreal(left));
    QCOMPARE(format.rightMargin(), qreal(right));
    QCOMPARE(format.hasProperty(QTextFormat::BackgroundBrush), background);
}

void TestDeltaDocument::paletteColours_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QString>("secondary");
    QTest::addColumn<QString>("codeBackground");
    QTest::addColumn<QString>("inlineText");
    QTest::addColumn<QString>("inlineBackground");
    QTest::addColumn<QString>("link");
    QTest::addRow("dark theme window")
        << QStringLiteral("#1E1E1E") << true << QStringLiteral("#c4c6cf")
        << QStringLiteral("#2a2d31") << QStringLiteral("#d6e3f7") << QStringLiteral("#33445c")
        << QStringLiteral("#64b5f6");
    QTest::addRow("darker than dark")
        << QStringLiteral("#000000") << true << QStringLiteral("#c4c6cf")
        << QStringLiteral("#2a2d31") << QStringLiteral("#d6e3f7") << QStringLiteral("#33445c")
        << QStringLiteral("#64b5f6");
    QTest::addRow("just lighter than dark")
        << QStringLiteral("#1F1F1F") << false << QStringLiteral("#44474e")
        << QStringLiteral("#eceef1") << QStringLiteral("#0e1b2c") << QStringLiteral("#dce6f4")
        << QStringLiteral("#1565c0");
    QTest::addRow("light theme window")
        << QStringLiteral("#FAFAFA") << false << QStringLiteral("#44474e")
        << QStringLiteral("#eceef1") << QStringLiteral("#0e1b2c") << QStringLiteral("#dce6f4")
        << QStringLiteral("#1565c0");
}

void TestDeltaDocument::paletteColours()
{
    QFETCH(QString, window);
    QFETCH(bool, dark);
    QFETCH(QString, secondary);
    QFETCH(QString, codeBackground);
    QFETCH(QString, inlineText);
    QFETCH(QString, inlineBackground);
    QFETCH(QString, link);
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Window, QColor(window));
    QGuiApplication::setPalette(palette);
    QCOMPARE(isDarkPalette(), dark);
    QCOMPARE(DeltaDocument::isDarkPalette(), dark);

    DeltaDocument document;
    document.setContent(QStringLiteral(
        "[{\"insert\":\"k\"},{\"insert\":\"\\n\",\"attributes\":{\"code-block\":true}},"
        "{\"insert\":\"c\",\"attributes\":{\"code\":true}},{\"insert\":\"\\n\"},"
        "{\"insert\":\"h\"},{\"insert\":\"\\n\",\"attributes\":{\"header\":6}},"
        "{\"insert\":\"l\",\"attributes\":{\"link\":\"https://"
        "a.example\"}},{\"insert\":\"\\n\"}]"));
    QTextBlock block = document.document()->begin();
    QCOMPARE(block.blockFormat().background().color().name(), codeBackground);
    QCOMPARE(block.charFormat().foreground().color().name(), secondary);
    block = block.next();
    const QTextCharFormat code = block.begin().fragment().charFormat();
    QCOMPARE(code.foreground().color().name(), inlineText);
    QCOMPARE(code.background().color().name(), inlineBackground);
    block = block.next();
    QCOMPARE(block.begin().fragment().charFormat().foreground().color().name(), secondary);
    block = block.next();
    const QTextCharFormat linkFormat = block.begin().fragment().charFormat();
    QCOMPARE(linkFormat.foreground().color().name(), link);
    QVERIFY(linkFormat.isAnchor());
    QCOMPARE(linkFormat.anchorHref(), QStringLiteral("https://a.example"));
    // The colour is only shown: the stored body is the same in both themes.
    QVERIFY(!document.toJson().contains(QLatin1String("color")));
}

void TestDeltaDocument::codeRunLoadsAsInlineCode()
{
    DeltaDocument document;
    document.setContent(QStringLiteral("[{\"insert\":\"x\",\"attributes\":{\"bold\":true,\"code\":"
                                       "true,\"italic\":true}},{\"insert\":\"\\n\"}]"));
    const QTextCharFormat format = document.document()->begin().begin().fragment().charFormat();
    QVERIFY(format.fontFixedPitch());
    QVERIFY(format.fontItalic());
    QCOMPARE(format.fontWeight(), 400);
    QCOMPARE(format.intProperty(QTextFormat::FontPixelSize), 14);
    QCOMPARE(format.fontFamilies().toStringList(), QStringList { QStringLiteral("monospace") });
}

void TestDeltaDocument::listsJoinAndRestart()
{
    DeltaDocument document;
    document.setContent(
        QStringLiteral("[{\"insert\":\"b\\n\",\"attributes\":{\"list\":\"bullet\"}},"
                       "{\"insert\":\"c\\n\",\"attributes\":{\"list\":\"unchecked\"}},"
                       "{\"insert\":\"n1\\n\",\"attributes\":{\"list\":\"ordered\"}},"
                       "{\"insert\":\"p\\n\"},"
                       "{\"insert\":\"n2\\n\",\"attributes\":{\"list\":\"ordered\"}},"
                       "{\"insert\":\"n3\\n\",\"attributes\":{\"list\":\"ordered\"}}]"));
    QList<QTextBlock> blocks;
    for (QTextBlock block = document.document()->begin(); block.isValid(); block = block.next())
        blocks.append(block);
    QCOMPARE(blocks.size(), 6);
    QVERIFY(blocks[0].textList());
    QCOMPARE(blocks[0].textList(), blocks[1].textList());
    QCOMPARE(blocks[0].textList()->format().style(), QTextListFormat::ListDisc);
    QCOMPARE(blocks[1].blockFormat().marker(), QTextBlockFormat::MarkerType::Unchecked);
    QVERIFY(blocks[2].textList() != blocks[1].textList());
    QCOMPARE(blocks[2].textList()->format().style(), QTextListFormat::ListDecimal);
    QVERIFY(!blocks[3].textList());
    QVERIFY(blocks[4].textList() != blocks[2].textList());
    QCOMPARE(blocks[4].textList(), blocks[5].textList());
    QCOMPARE(blocks[4].textList()->itemNumber(blocks[4]), 0);
    QCOMPARE(blocks[0].textList()->format().indent(), 1);

    QTextCursor cursor(blocks[2]);
    DeltaDocument::applyListType(cursor, QString());
    QVERIFY(!cursor.block().textList());
    QVERIFY(!cursor.blockFormat().hasProperty(DeltaDocument::ListTypeProperty));
}

void TestDeltaDocument::checkboxClickIsWritten()
{
    DeltaDocument document;
    document.setContent(
        QStringLiteral("[{\"insert\":\"task\\n\",\"attributes\":{\"list\":\"unchecked\"}}]"));
    QTextCursor cursor(document.document());
    QTextBlockFormat format = cursor.blockFormat();
    format.setMarker(QTextBlockFormat::MarkerType::Checked);
    cursor.setBlockFormat(format);
    QCOMPARE(document.toJson(),
        QStringLiteral(
            "[{\"insert\":\"task\"},{\"attributes\":{\"list\":\"checked\"},\"insert\":\"\\n\"}]"));
}

void TestDeltaDocument::tablePlaceholders_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("blocksOutsideTables");
    const QString table = tableEmbed(QStringLiteral("{\"cells\":[[\"a\"]]}"));
    const QString nl = QStringLiteral("{\"insert\":\"\\n\"}");
    QTest::addRow("table at start")
        << QStringLiteral("[%1,%2,{\"insert\":\"end\\n\"}]").arg(table, nl) << 3;
    QTest::addRow("table at end")
        << QStringLiteral("[{\"insert\":\"start\\n\"},%1,%2]").arg(table, nl) << 2;
    QTest::addRow("table alone") << QStringLiteral("[%1,%2]").arg(table, nl) << 2;
}

void TestDeltaDocument::tablePlaceholders()
{
    QFETCH(QString, input);
    QFETCH(int, blocksOutsideTables);
    DeltaDocument document;
    QString body = input;
    const QString first = normalised(body);
    for (int round = 0; round < 4; ++round) {
        document.setContent(body);
        body = document.toJson();
        QCOMPARE(body, first);
    }
    int outside = 0;
    for (QTextBlock block = document.document()->begin(); block.isValid(); block = block.next()) {
        if (!QTextCursor(block).currentTable())
            ++outside;
    }
    QCOMPARE(outside, blocksOutsideTables);
}

void TestDeltaDocument::typingAfterTableIsWritten()
{
    DeltaDocument document;
    document.setContent(
        QStringLiteral("[%1,{\"insert\":\"\\n\"}]")
            .arg(tableEmbed(QStringLiteral("{\"cells\":[[\"a\"]],\"hasHeader\":false}"))));
    QTextCursor cursor(document.document());
    cursor.movePosition(QTextCursor::End);
    QVERIFY(!cursor.currentTable());
    cursor.insertText(QStringLiteral("after"));
    const QString written = document.toJson();
    QVERIFY2(written.endsWith(QStringLiteral(
                 "{\"insert\":\"\\n\"},{\"insert\":\"after\"},{\"insert\":\"\\n\"}]")),
        qPrintable(written));
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(QStringLiteral("before"));
    QVERIFY2(document.toJson().startsWith(
                 QStringLiteral("[{\"insert\":\"before\"},{\"insert\":\"\\n\"},")),
        qPrintable(document.toJson()));
}

void TestDeltaDocument::insertTableAtMarksNewParagraphs()
{
    DeltaDocument document;
    document.setContent(QStringLiteral("[{\"insert\":\"abc\\n\"}]"));
    QTextCursor cursor(document.document());
    cursor.movePosition(QTextCursor::EndOfBlock);
    QTextTable *table
        = DeltaDocument::insertTableAt(cursor, 2, 3, DeltaDocument::makeTableFormat(true));
    QVERIFY(table);
    QCOMPARE(table->rows(), 2);
    QCOMPARE(table->columns(), 3);
    QCOMPARE(table->format().headerRowCount(), 1);
    QCOMPARE(table->format().border(), 1.0);
    QCOMPARE(table->format().cellPadding(), 6.0);
    const QTextBlock first = document.document()->begin();
    QCOMPARE(first.text(), QStringLiteral("abc"));
    QVERIFY(!first.blockFormat().hasProperty(DeltaDocument::TablePlaceholderProperty));
    const QTextBlock last = document.document()->lastBlock();
    QVERIFY(!QTextCursor(last).currentTable());
    QVERIFY(last.blockFormat().boolProperty(DeltaDocument::TablePlaceholderProperty));
    for (QTextBlock block = first; block.isValid(); block = block.next())
        QVERIFY(!block.blockFormat().hasProperty(DeltaDocument::TableInsertMarkProperty));
    QVERIFY(document.toJson().endsWith(
        QStringLiteral("\"hasHeader\\\":true}\"}},{\"insert\":\"\\n\"}]")));
    QVERIFY(!DeltaDocument::insertTableAt(cursor, 0, 3, DeltaDocument::makeTableFormat(true)));
}

void TestDeltaDocument::headerCellsAreStyled()
{
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Active, QPalette::AlternateBase, QColor(QStringLiteral("#F5F7FA")));
    QGuiApplication::setPalette(palette);
    DeltaDocument document;
    document.setContent(
        QStringLiteral("[%1]").arg(tableEmbed(QStringLiteral("{\"cells\":[[\"h\"],[\"b\"]]}"))));
    QTextCursor cursor(document.document());
    cursor.movePosition(QTextCursor::NextBlock);
    QTextTable *table = cursor.currentTable();
    QVERIFY(table);
    QCOMPARE(table->cellAt(0, 0).format().background().color().name(), QStringLiteral("#f5f7fa"));
    QCOMPARE(table->cellAt(0, 0).firstCursorPosition().charFormat().fontWeight(), 700);
    QVERIFY(!table->cellAt(1, 0).format().hasProperty(QTextFormat::BackgroundBrush));
}

void TestDeltaDocument::embedsCarryObjectTypes()
{
    DeltaDocument document;
    document.setContent(QStringLiteral(
        "[{\"insert\":{\"brevaro-notes-attachment\":\"a1\"}},{\"insert\":{\"image\":\"brevaro-"
        "notes://attachment/i\"}},"
        "{\"insert\":\"\\n\"},{\"insert\":{\"divider\":\"hr\"}},{\"insert\":\"\\n\"},"
        "{\"insert\":\"t\"},%1,{\"insert\":\"\\n\"}]")
                            .arg(tableEmbed(QStringLiteral("{\"cells\":[[\"z\"]]}"))));
    QList<QPair<int, QString>> objects;
    for (QTextBlock block = document.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat() || format.objectType() != QTextFormat::NoObject) {
                for (int i = 0; i < it.fragment().length(); ++i)
                    objects.append({ format.objectType(),
                        format.stringProperty(DeltaDocument::EmbedValueProperty) });
            }
        }
    }
    const QList<QPair<int, QString>> expected {
        { DeltaDocument::AttachmentObjectType, QStringLiteral("brevaro-notes://attachment/a1") },
        { DeltaDocument::AttachmentObjectType, QStringLiteral("brevaro-notes://attachment/i") },
        { DeltaDocument::DividerObjectType, QStringLiteral("hr") },
        { DeltaDocument::TableObjectType, QStringLiteral("{\"cells\":[[\"z\"]]}") }
    };
    QCOMPARE(objects, expected);
    const QTextBlockFormat attachmentLine = document.document()->begin().blockFormat();
    QCOMPARE(attachmentLine.lineHeight(), 0.0);
    QCOMPARE(attachmentLine.lineHeightType(), int(QTextBlockFormat::SingleHeight));
}

void TestDeltaDocument::oversizedTableIsKeptUnchanged()
{
    QJsonArray row;
    for (int c = 0; c < 300; ++c)
        row.append(QStringLiteral("c"));
    QJsonArray rows;
    for (int r = 0; r < 100; ++r)
        rows.append(row);
    const QString value = Delta::toText(QJsonObject { { QStringLiteral("cells"), rows } });
    const QString body = QStringLiteral("[%1,{\"insert\":\"\\n\"}]").arg(tableEmbed(value));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("table of 100 by 300")));
    DeltaDocument document;
    document.setContent(body);
    QCOMPARE(document.toJson(), body);
}

void TestDeltaDocument::hostileBodiesDoNotCrash_data()
{
    QTest::addColumn<QString>("input");
    QTest::addRow("deep nesting") << QString(100000, QLatin1Char('['))
            + QString(100000, QLatin1Char(']'));
    QTest::addRow("deep nesting in attributes")
        << QStringLiteral("[{\"insert\":\"a\",\"attributes\":{\"x\":%1%2}}]")
               .arg(QString(1000, QLatin1Char('[')), QString(1000, QLatin1Char(']')));
    QTest::addRow("huge numbers") << QStringLiteral(
        "[{\"insert\":\"a\",\"attributes\":{\"header\":1e308,\"x\":-1e308}},"
        "{\"insert\":\"\\n\",\"attributes\":{\"header\":-9223372036854775808}},{\"retain\":1e308}"
        "]");
    QTest::addRow("non-string inserts")
        << QStringLiteral("[{\"insert\":5},{\"insert\":null},{\"insert\":true},{\"insert\":[\"a\"]}"
                          ",{\"insert\":{}}]");
    QTest::addRow("wrong attribute types") << QStringLiteral(
        "[{\"insert\":\"a\",\"attributes\":[1]},{\"insert\":\"\\n\",\"attributes\":\"x\"},"
        "{\"insert\":\"b\",\"attributes\":{\"link\":{\"a\":1},\"list\":5}},"
        "{\"insert\":\"\\n\",\"attributes\":{\"list\":[],\"code-block\":{},\"align\":1}}]");
    QTest::addRow("table cells of every type") << QStringLiteral("[%1]").arg(
        tableEmbed(QStringLiteral("{\"cells\":[[1,null,true,{},[5,{\"insert\":{\"x\":1}},{"
                                  "\"insert\":\"\\n\"}],\"\"],\"row\","
                                  "[[{\"insert\":\"\\n\\n\"}]]],\"hasHeader\":\"no\"}")));
    QTest::addRow("table value nested deep") << QStringLiteral("[%1]").arg(
        tableEmbed(QStringLiteral("{\"cells\":%1%2}")
                       .arg(QString(3000, QLatin1Char('[')), QString(3000, QLatin1Char(']')))));
    QTest::addRow("thousands of table cells") << [] {
        QJsonArray rows;
        for (int r = 0; r < 80; ++r) {
            QJsonArray row;
            for (int c = 0; c < 50; ++c)
                row.append(QJsonArray {
                    QJsonObject { { QStringLiteral("insert"), QStringLiteral("x\ny") } } });
            rows.append(row);
        }
        return QStringLiteral("[%1]").arg(
            tableEmbed(Delta::toText(QJsonObject { { QStringLiteral("cells"), rows } })));
    }();
    QTest::addRow("invalid utf-8") << QString::fromUtf8("[{\"insert\":\"\xff\xfe\xc3\"}]");
    QTest::addRow("lone surrogates")
        << QStringLiteral("[{\"insert\":\"\\ud800a\\udc00\\n\",\"attributes\":{\"\\ud800\":1}}]");
    QTest::addRow("frame characters in text")
        << QStringLiteral("[{\"insert\":\"\\ufdd0\\ufdd1\\ufdd2\\ufffc\\u2029\\r\\n\"}]");
    QTest::addRow("table inside a table cell value")
        << QStringLiteral("[%1]").arg(tableEmbed(QStringLiteral(
               "{\"cells\":[[[{\"insert\":{\"table\":\"{\\\"cells\\\":[[\\\"a\\\"]]}\"}}]]]}")));
}

void TestDeltaDocument::hostileBodiesDoNotCrash()
{
    QFETCH(QString, input);
    const QString once = normalised(input);
    QVERIFY(!once.isEmpty());
    QCOMPARE(normalised(once), once);
}

void TestDeltaDocument::repeatedWritesMatchFullConversion_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<quint32>("seed");
    QRandomGenerator random(20261208);
    for (int i = 0; i < 120; ++i)
        QTest::addRow("generated %d", i) << generatedDocument(random) << random.generate();
}

// toJson reuses the paragraphs an earlier call converted; after any run of edits it must still
// write exactly what converting the whole document writes, and undoing them gives back the
// body it started from.
void TestDeltaDocument::repeatedWritesMatchFullConversion()
{
    QFETCH(QString, input);
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    DeltaDocument document;
    document.setContent(input);
    QTextDocument *text = document.document();
    const QString start = document.toJson();
    QCOMPARE(start, Delta::toText(DeltaConversion::writeDocument(text)));

    const auto randomPosition = [&] { return random.bounded(text->characterCount()); };
    for (int step = 0; step < 12; ++step) {
        QTextCursor cursor(text);
        cursor.setPosition(qMin(randomPosition(), text->characterCount() - 1));
        const QTextCursor source(text->findBlock(randomPosition()));
        switch (random.bounded(6)) {
        case 0:
            cursor.insertText(QStringLiteral("typed"));
            break;
        case 1:
            cursor.deleteChar();
            break;
        case 2:
            cursor.insertBlock();
            break;
        case 3: {
            // Copies a character with its format from elsewhere: embeds and links included.
            QTextCursor from(text);
            from.setPosition(qMin(randomPosition(), text->characterCount() - 2));
            from.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
            cursor.insertText(from.selectedText(), from.charFormat());
            break;
        }
        case 4:
            cursor.setBlockFormat(source.blockFormat());
            break;
        default: {
            cursor.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
            QTextCharFormat bold;
            bold.setFontWeight(QFont::Bold);
            cursor.mergeCharFormat(bold);
            break;
        }
        }
        QCOMPARE(document.toJson(), Delta::toText(DeltaConversion::writeDocument(text)));
    }
    while (text->isUndoAvailable())
        text->undo();
    QCOMPARE(document.toJson(), Delta::toText(DeltaConversion::writeDocument(text)));
    QCOMPARE(document.toJson(), start);

    // A different body in the same document: nothing from the first may leak into it.
    document.setContent(generatedDocument(random));
    QCOMPARE(document.toJson(), Delta::toText(DeltaConversion::writeDocument(text)));
}

QTEST_MAIN(TestDeltaDocument)
#include "tst_deltadocument.moc"
