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

// Empty when the reader's verdict on |json| is acceptable: anything it accepts, QJsonDocument
// accepts with the same values. It may refuse what QJsonDocument only takes by leniency (escapes
// such as \x, numbers such as "1." or ".5"), which RFC 8259 does not allow either.
QString difference(const QByteArray &json, bool *accepted)
{
    QString error;
    const auto mine = readJson(json, &error);
    *accepted = bool(mine);
    if (!mine)
        return error.isEmpty() ? QStringLiteral("refused without a reason") : QString();
    QJsonParseError qtError;
    const QJsonDocument qt = QJsonDocument::fromJson(json, &qtError);
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
    QTest::addColumn<bool>("valid");
    QTest::addRow("push with delta bodies") << pushBody() << true;
    QTest::addRow("nested containers")
        << QByteArray(R"({"a":[1,2,{"b":null}],"c":{"d":true,"e":false},"":[],"x":{}})") << true;
    QTest::addRow("every escape") << QByteArray(
        R"(["\" \\ \/ \b \f \n \r \t \u00e9 \u20AC \u0000"])")
                                  << true;
    QTest::addRow("surrogate pair escape") << QByteArray(R"(["\ud83d\ude00"])") << true;
    QTest::addRow("lone surrogate escape") << QByteArray(R"(["\ud800x", "\udc00"])") << true;
    QTest::addRow("raw UTF-8 of every length")
        << QByteArray("[\"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"]") << true;
    QTest::addRow("raw control character") << QByteArray("[\"a\x01\x1f b\"]") << true;
    QTest::addRow("raw NUL") << QByteArray("[\"a\0b\"]", 7) << true;
    QTest::addRow("numbers") << QByteArray("[0,-0,12,-12,1.5,-1.5e3,1E+2,2e-2,9223372036854775807,"
                                           "-9223372036854775808,9223372036854775808,0.1]")
                             << true;
    QTest::addRow("duplicate keys") << QByteArray(R"({"a":1,"a":"two"})") << true;
    QTest::addRow("byte order mark") << QByteArray("\xef\xbb\xbf{}") << true;
    QTest::addRow("whitespace everywhere") << QByteArray(" \t\n{ \"a\" :\r [ 1 , 2 ] } \n") << true;
    QTest::addRow("nested to the limit") << QByteArray(1024, '[') + QByteArray(1024, ']') << true;

    QTest::addRow("nested beyond the limit")
        << QByteArray(1025, '[') + QByteArray(1025, ']') << false;
    QTest::addRow("deep nesting left open") << QByteArray(100000, '[') << false;
    QTest::addRow("truncated") << QByteArray(R"({"changes": [)") << false;
    QTest::addRow("trailing comma in array") << QByteArray("[1,]") << false;
    QTest::addRow("trailing comma in object") << QByteArray(R"({"a":1,})") << false;
    QTest::addRow("unterminated string") << QByteArray(R"(["abc)") << false;
    QTest::addRow("backslash at the end") << QByteArray(R"(["abc\)") << false;
    QTest::addRow("unknown escape") << QByteArray(R"(["\x"])") << false;
    QTest::addRow("short unicode escape") << QByteArray(R"(["\u12"])") << false;
    QTest::addRow("non-hex unicode escape") << QByteArray(R"(["\u12g4"])") << false;
    QTest::addRow("overlong UTF-8") << QByteArray("[\"\xc0\xaf\"]") << false;
    QTest::addRow("encoded surrogate") << QByteArray("[\"\xed\xa0\x80\"]") << false;
    QTest::addRow("truncated UTF-8") << QByteArray("[\"\xe2\x82\"]") << false;
    QTest::addRow("beyond U+10FFFF") << QByteArray("[\"\xf4\x90\x80\x80\"]") << false;
    QTest::addRow("stray continuation byte") << QByteArray("[\"\x80\"]") << false;
    QTest::addRow("leading zero") << QByteArray("[01]") << false;
    QTest::addRow("bare minus") << QByteArray("[-]") << false;
    QTest::addRow("plus sign") << QByteArray("[+1]") << false;
    QTest::addRow("infinite number") << QByteArray("[1e400]") << false;
    QTest::addRow("number too small for a double") << QByteArray("[1e-400]") << false;
    QTest::addRow("fraction without digits") << QByteArray("[1.]") << false;
    QTest::addRow("fraction without an integer part") << QByteArray("[.5]") << false;
    QTest::addRow("misspelt literal") << QByteArray("[tru]") << false;
    QTest::addRow("garbage after the document") << QByteArray("{} x") << false;
    QTest::addRow("top-level string") << QByteArray(R"("text")") << false;
    QTest::addRow("top-level number") << QByteArray("12") << false;
    QTest::addRow("unquoted key") << QByteArray("{a:1}") << false;
    QTest::addRow("missing colon") << QByteArray(R"({"a" 1})") << false;
    QTest::addRow("single quotes") << QByteArray("['a']") << false;
}

void TestServerJson::readsLikeQJsonDocument()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, valid);
    bool accepted = false;
    const QString found = difference(json, &accepted);
    QVERIFY2(found.isEmpty(), qPrintable(found));
    QCOMPARE(accepted, valid);
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
        bool accepted = false;
        const QString found = difference(damaged, &accepted);
        QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("at byte %1: %2").arg(i).arg(found)));
    }
}

QTEST_GUILESS_MAIN(TestServerJson)
#include "tst_serverjson.moc"
