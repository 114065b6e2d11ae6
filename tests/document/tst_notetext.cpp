#include "notetext.h"

#include <QLocale>
#include <QTest>

class TestNoteText : public QObject
{
    Q_OBJECT

private slots:
    void textRules_data();
    void textRules();
    void previewLength_data();
    void previewLength();
    void relativeDate_data();
    void relativeDate();
    void relativeDateOfInvalidTimeIsEmpty();
};

void TestNoteText::textRules_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<bool>("empty");

    const auto s = [](const char *text) { return QString::fromUtf8(text); };

    QTest::addRow("empty body") << QString() << QString() << QString() << QString() << true;
    QTest::addRow("empty document")
        << s(R"([{"insert":"\n"}])") << s("\n") << QString() << QString() << true;
    QTest::addRow("empty array") << s("[]") << QString() << QString() << QString() << true;
    QTest::addRow("title and body lines")
        << s(R"([{"insert":"Shopping"},{"attributes":{"header":1},"insert":"\n"},)"
             R"({"insert":"Milk\nEggs\n"}])")
        << s("Shopping\nMilk\nEggs\n") << s("Shopping") << s("Milk Eggs") << false;
    QTest::addRow("blank first line")
        << s(R"([{"insert":"   \nSecond line\nThird\n"}])") << s("   \nSecond line\nThird\n")
        << QString() << s("Second line Third") << false;
    QTest::addRow("title is trimmed") << s(R"([{"insert":"  Hello \t\n"}])") << s("  Hello \t\n")
                                      << s("Hello") << QString() << false;
    QTest::addRow("no line feed has no preview")
        << s(R"([{"insert":"Just a title"}])") << s("Just a title") << s("Just a title")
        << QString() << false;
    QTest::addRow("non-JSON body") << s("Hello\nplain world") << s("Hello\nplain world")
                                   << s("Hello") << s("plain world") << false;
    QTest::addRow("truncated JSON") << s(R"([{"insert":"Hi)") << s(R"([{"insert":"Hi)")
                                    << s(R"([{"insert":"Hi)") << QString() << false;
    QTest::addRow("JSON object is not a document")
        << s(R"({"insert":"x"})") << s(R"({"insert":"x"})") << s(R"({"insert":"x"})") << QString()
        << false;
    QTest::addRow("blank non-JSON body")
        << s(" \n\t ") << s(" \n\t ") << QString() << QString() << true;
    QTest::addRow("embeds contribute no text")
        << s(R"([{"insert":"Trip\n"},{"insert":{"divider":"hr"}},{"insert":"\n"},)"
             R"({"insert":{"image":"brevaro-notes://attachment/42"}},{"insert":"Pack\n"}])")
        << s("Trip\n\nPack\n") << s("Trip") << s("Pack") << false;
    QTest::addRow("embed alone is not empty")
        << s(R"([{"insert":{"brevaro-notes-attachment":"brevaro-notes://attachment/7"}},)"
             R"({"insert":"\n"}])")
        << s("\n") << QString() << QString() << false;
    QTest::addRow("blank runs only are empty")
        << s(R"([{"insert":"  "},{"insert":"\n \n","attributes":{"list":"bullet"}}])")
        << s("  \n \n") << QString() << QString() << true;
    QTest::addRow("non-objects, retains and deletes skipped")
        << s(R"([1,"x",null,{"retain":3},{"delete":2},{"insert":"A\nb\n"}])") << s("A\nb\n")
        << s("A") << s("b") << false;
    QTest::addRow("unicode and U+2028 stay in a line")
        << s("[{\"insert\":\"Caf\u00e9 \u2028 bar\\n\u00fcber\\n\"}]")
        << s("Caf\u00e9 \u2028 bar\n\u00fcber\n") << s("Caf\u00e9 \u2028 bar") << s("\u00fcber")
        << false;
}

void TestNoteText::textRules()
{
    QFETCH(QString, body);
    QFETCH(QString, plain);
    QFETCH(QString, title);
    QFETCH(QString, preview);
    QFETCH(bool, empty);

    QCOMPARE(notePlainText(body), plain);
    QCOMPARE(noteTitle(body), title);
    QCOMPARE(notePreview(body), preview);
    QCOMPARE(isEmptyNote(body), empty);
    const NoteSummary summary = noteSummary(body);
    QCOMPARE(summary.title, title);
    QCOMPARE(summary.preview, preview);
}

void TestNoteText::previewLength_data()
{
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("preview");

    const QString x120(120, QLatin1Char('x'));
    QTest::addRow("119 characters")
        << QString(119, QLatin1Char('x')) << QString(119, QLatin1Char('x'));
    QTest::addRow("exactly 120 characters") << x120 << x120;
    QTest::addRow("121 characters") << x120 + QLatin1Char('y') << x120 + QLatin1String("...");
    QTest::addRow("line feeds become spaces before cutting")
        << QString(60, QLatin1Char('a')) + QLatin1Char('\n') + QString(70, QLatin1Char('b'))
        << QString(60, QLatin1Char('a')) + QLatin1Char(' ') + QString(59, QLatin1Char('b'))
            + QLatin1String("...");
    QTest::addRow("surrounding blanks trimmed first")
        << QLatin1String("\n\n  ") + x120 + QLatin1String("  \n\n") << x120;
    QTest::addRow("surrogate pair never split")
        << QString(119, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x98\x80") + QLatin1Char('z')
        << QString(119, QLatin1Char('x')) + QLatin1String("...");
}

void TestNoteText::previewLength()
{
    QFETCH(QString, rest);
    QFETCH(QString, preview);
    const QString plain = QLatin1String("Title\n") + rest;
    QCOMPARE(previewFromPlainText(plain), preview);
    QCOMPARE(titleFromPlainText(plain), QLatin1String("Title"));
}

void TestNoteText::relativeDate_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("text");

    // Built in local time so the cases hold in every time zone; passed on as UTC like stored times.
    const QDateTime noon(QDate(2024, 6, 15), QTime(12, 0), Qt::LocalTime);
    const auto ago = [&](qint64 secs) { return noon.addSecs(-secs).toUTC(); };
    const auto at = [](int y, int m, int d, int h, int min) {
        return QDateTime(QDate(y, m, d), QTime(h, min), Qt::LocalTime).toUTC();
    };
    const auto weekday = [](const QDate &date) {
        return QLocale().dayName(date.dayOfWeek(), QLocale::LongFormat);
    };

    QTest::addRow("same moment") << ago(0) << noon << QStringLiteral("just now");
    QTest::addRow("59 seconds") << ago(59) << noon << QStringLiteral("just now");
    QTest::addRow("60 seconds") << ago(60) << noon << QStringLiteral("1m ago");
    QTest::addRow("3599 seconds") << ago(3599) << noon << QStringLiteral("59m ago");
    QTest::addRow("3600 seconds") << ago(3600) << noon << QStringLiteral("1h ago");
    QTest::addRow("86399 seconds")
        << at(2024, 6, 15, 0, 30).addSecs(-82800) << at(2024, 6, 15, 0, 30).addSecs(3599)
        << QStringLiteral("23h ago");
    QTest::addRow("yesterday evening, over a day ago")
        << at(2024, 6, 14, 10, 0) << noon << QStringLiteral("Yesterday");
    QTest::addRow("25 hours ago, two dates back")
        << at(2024, 6, 13, 23, 30) << at(2024, 6, 15, 0, 30) << weekday(QDate(2024, 6, 13));
    QTest::addRow("3 days") << ago(3 * 86400) << noon << weekday(QDate(2024, 6, 12));
    QTest::addRow("6 days") << ago(6 * 86400) << noon << weekday(QDate(2024, 6, 9));
    QTest::addRow("exactly 7 days") << ago(7 * 86400) << noon << QStringLiteral("Jun 8");
    QTest::addRow("earlier this year") << at(2024, 1, 3, 9, 0) << noon << QStringLiteral("Jan 3");
    QTest::addRow("other year") << at(2023, 12, 25, 9, 0) << noon << QStringLiteral("Dec 25, 2023");
    QTest::addRow("one second in the future")
        << noon.addSecs(1).toUTC() << noon << QStringLiteral("Jun 15");
    QTest::addRow("future other year")
        << at(2025, 1, 2, 8, 0) << noon << QStringLiteral("Jan 2, 2025");
}

void TestNoteText::relativeDate()
{
    QFETCH(QDateTime, time);
    QFETCH(QDateTime, now);
    QFETCH(QString, text);
    QCOMPARE(formatRelativeDate(time, now), text);
}

void TestNoteText::relativeDateOfInvalidTimeIsEmpty()
{
    QCOMPARE(formatRelativeDate(QDateTime()), QString());
    QCOMPARE(formatRelativeDate(QDateTime(), QDateTime::currentDateTimeUtc()), QString());
}

QTEST_APPLESS_MAIN(TestNoteText)
#include "tst_notetext.moc"
