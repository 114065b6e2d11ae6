#include "jsonreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestServerJson : public QObject
{
    Q_OBJECT

private slots:
    void readsLikeQJsonDocument_data();
    void readsLikeQJsonDocument();
    void damagedPushesAreNeverMisread_data();
    void damagedPushesAreNeverMisread();
};

// The server reads request bodies with its own JSON reader; what it accepts must mean exactly
// what QJsonDocument makes of it.
namespace {

// A push as the program sends it: note bodies are delta text, JSON inside a JSON string.
QByteArray pushBody()
{
    const QString delta = QString::fromUtf8(
        R"([{"insert":"Caf\u00e9 \"quoted\" back\\slash"},{"insert":"\n","attributes":{"header":1}},)"
        R"({"insert":"tab\there é € 😀\n"}])");
    QJsonArray changes;
    for (int i = 0; i < 2; ++i)
        changes.append(QJsonObject { { QStringLiteral("entity_type"), QStringLiteral("note") },
            { QStringLiteral("entity_id"),
                QStringLiteral("0e4c3c5e-8d7a-4c3f-9d2a-1b2c3d4e5f6%1").arg(i) },
            { QStringLiteral("version"), 3 + i },
            { QStringLiteral("data"),
                QJsonObject { { QStringLiteral("body"), delta },
                    { QStringLiteral("updated_at"), 1700000000123LL },
                    { QStringLiteral("deleted_at"), QJsonValue::Null } } } });
    return QJsonDocument(QJsonObject { { QStringLiteral("changes"), changes } })
        .toJson(QJsonDocument::Indented);
}

// Empty when the reader's verdict on |json| is QJsonDocument's: the same refusals, the same
// values for what both accept.
QString difference(const QByteArray &json)
{
    QString error;
    const auto mine = readJson(json, &error);
    QJsonParseError qtError;
    const QJsonDocument qt = QJsonDocument::fromJson(json, &qtError);
    if (!mine) {
        if (error.isEmpty())
            return QStringLiteral("refused without a reason");
        return qtError.error == QJsonParseError::NoError
            ? QStringLiteral("refused what QJsonDocument accepts: ") + error
            : QString();
    }
    if (qtError.error != QJsonParseError::NoError)
        return QStringLiteral("accepted what QJsonDocument refuses: ") + qtError.errorString();
    const QJsonDocument read
        = mine->isObject() ? QJsonDocument(mine->toObject()) : QJsonDocument(mine->toArray());
    if (read != qt || read.toJson() != qt.toJson())
        return QStringLiteral("values differ: %1 vs %2")
            .arg(QString::fromUtf8(read.toJson(QJsonDocument::Compact)),
                QString::fromUtf8(qt.toJson(QJsonDocument::Compact)));
    return {};
}

} // namespace

void TestServerJson::readsLikeQJsonDocument_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addRow("push with delta bodies") << pushBody();
    QTest::addRow("nested containers")
        << QByteArray(R"({"a":[1,2,{"b":null}],"c":{"d":true,"e":false},"":[],"x":{}})");
    QTest::addRow("every escape") << QByteArray(
        R"(["\" \\ \/ \b \f \n \r \t \u00e9 \u20AC \u0000"])");
    QTest::addRow("surrogate pair escape") << QByteArray(R"(["\ud83d\ude00"])");
    QTest::addRow("lone surrogate escape") << QByteArray(R"(["\ud800x", "\udc00"])");
    QTest::addRow("raw UTF-8 of every length")
        << QByteArray("[\"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"]");
    QTest::addRow("raw control character") << QByteArray("[\"a\x01\x1f b\"]");
    QTest::addRow("raw NUL") << QByteArray("[\"a\0b\"]", 7);
    QTest::addRow("numbers") << QByteArray("[0,-0,12,-12,1.5,-1.5e3,1E+2,2e-2,9223372036854775807,"
                                           "-9223372036854775808,9223372036854775808,0.1]");
    QTest::addRow("duplicate keys") << QByteArray(R"({"a":1,"a":"two"})");
    QTest::addRow("byte order mark") << QByteArray("\xef\xbb\xbf{}");
    QTest::addRow("whitespace everywhere") << QByteArray(" \t\n{ \"a\" :\r [ 1 , 2 ] } \n");
    QTest::addRow("nested to the limit") << QByteArray(1024, '[') + QByteArray(1024, ']');

    QTest::addRow("nested beyond the limit") << QByteArray(1025, '[') + QByteArray(1025, ']');
    QTest::addRow("deep nesting left open") << QByteArray(100000, '[');
    QTest::addRow("truncated") << QByteArray(R"({"changes": [)");
    QTest::addRow("trailing comma in array") << QByteArray("[1,]");
    QTest::addRow("trailing comma in object") << QByteArray(R"({"a":1,})");
    QTest::addRow("unterminated string") << QByteArray(R"(["abc)");
    QTest::addRow("backslash at the end") << QByteArray(R"(["abc\)");
    QTest::addRow("unknown escape") << QByteArray(R"(["\x"])");
    QTest::addRow("short unicode escape") << QByteArray(R"(["\u12"])");
    QTest::addRow("non-hex unicode escape") << QByteArray(R"(["\u12g4"])");
    QTest::addRow("overlong UTF-8") << QByteArray("[\"\xc0\xaf\"]");
    QTest::addRow("encoded surrogate") << QByteArray("[\"\xed\xa0\x80\"]");
    QTest::addRow("truncated UTF-8") << QByteArray("[\"\xe2\x82\"]");
    QTest::addRow("beyond U+10FFFF") << QByteArray("[\"\xf4\x90\x80\x80\"]");
    QTest::addRow("stray continuation byte") << QByteArray("[\"\x80\"]");
    QTest::addRow("leading zero") << QByteArray("[01]");
    QTest::addRow("bare minus") << QByteArray("[-]");
    QTest::addRow("plus sign") << QByteArray("[+1]");
    QTest::addRow("infinite number") << QByteArray("[1e400]");
    QTest::addRow("fraction without digits") << QByteArray("[1.]");
    QTest::addRow("fraction without an integer part") << QByteArray("[.5]");
    QTest::addRow("misspelt literal") << QByteArray("[tru]");
    QTest::addRow("garbage after the document") << QByteArray("{} x");
    QTest::addRow("top-level string") << QByteArray(R"("text")");
    QTest::addRow("top-level number") << QByteArray("12");
    QTest::addRow("unquoted key") << QByteArray("{a:1}");
    QTest::addRow("missing colon") << QByteArray(R"({"a" 1})");
    QTest::addRow("single quotes") << QByteArray("['a']");
}

void TestServerJson::readsLikeQJsonDocument()
{
    QFETCH(QByteArray, json);
    const QString found = difference(json);
    QVERIFY2(found.isEmpty(), qPrintable(found));
}

void TestServerJson::damagedPushesAreNeverMisread_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::addRow("cut short") << QByteArray();
    QTest::addRow("quote") << QByteArray("\"");
    QTest::addRow("backslash") << QByteArray("\\");
    QTest::addRow("closing brace") << QByteArray("}");
    QTest::addRow("comma") << QByteArray(",");
    QTest::addRow("invalid UTF-8 byte") << QByteArray("\xff");
    QTest::addRow("start of a multi-byte sequence") << QByteArray("\xe2");
}

void TestServerJson::damagedPushesAreNeverMisread()
{
    // Every position of a realistic push, damaged one way: the reader never reads past the end
    // and never takes what QJsonDocument refuses.
    QFETCH(QByteArray, replacement);
    const QByteArray push = pushBody();
    for (qsizetype i = 0; i < push.size(); ++i) {
        const QByteArray damaged
            = replacement.isEmpty() ? push.left(i) : QByteArray(push).replace(i, 1, replacement);
        const QString found = difference(damaged);
        QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("at byte %1: %2").arg(i).arg(found)));
    }
}

QTEST_GUILESS_MAIN(TestServerJson)
#include "tst_serverjson.moc"
