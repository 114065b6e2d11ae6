#include "notetext.h"
#include "searchquery.h"
#include "searchtext.h"

#include <QtTest>

// Storage indexes notes by its own reading of a body; it must be the text the reader sees,
// as the document library's plain-text rules give it.
class TestSearchText : public QObject
{
    Q_OBJECT

private slots:
    void indexedTextIsThePlainText_data();
    void indexedTextIsThePlainText();
    void unspacedScriptsAreSplit();
    void matchesAreMarkedWhereSearchFindsThem_data();
    void matchesAreMarkedWhereSearchFindsThem();
};

namespace {

// The text with every match of `typed` in brackets.
QString marked(const QString &text, const QString &typed)
{
    QString out = text;
    const QList<TextMatch> matches = findMatches(text, searchQueryFromInput(typed).highlights);
    for (auto it = matches.crbegin(); it != matches.crend(); ++it) {
        out.insert(it->start + it->length, QLatin1Char(']'));
        out.insert(it->start, QLatin1Char('['));
    }
    return out;
}

} // namespace

void TestSearchText::indexedTextIsThePlainText_data()
{
    QTest::addColumn<QString>("body");
    QTest::addRow("formatted delta")
        << "[{\"insert\":\"  Trip \"},{\"attributes\":{\"header\":2},\"insert\":\"\\n\"},"
           "{\"attributes\":{\"bold\":true,\"link\":\"https://x.example\"},\"insert\":\"pack\"},"
           "{\"insert\":{\"image\":\"brevaro-notes://attachment/abc\"}},{\"insert\":\"\\nend\"}]";
    QTest::addRow("retain delete and odd elements")
        << "[{\"retain\":3},{\"delete\":1},7,\"text\",{\"insert\":5},{\"insert\":\"kept\\n\"}]";
    QTest::addRow("no line feed") << "[{\"insert\":\"only a title\"}]";
    QTest::addRow("json object is plain text") << "{\"insert\":\"x\"}";
    QTest::addRow("broken json is plain text") << "[{\"insert\":\"half";
    QTest::addRow("plain text with lines") << "first line\nsecond line\nthird";
    QTest::addRow("empty") << "";
    QTest::addRow("empty document") << "[{\"insert\":\"\\n\"}]";
    QTest::addRow("repeated key keeps the last")
        << "[{\"insert\":\"a\",\"insert\":\"b\\n\"},{\"insert\":\"c\",\"insert\":5},"
           "{\"insert\":{\"insert\":\"d\"}},{\"insert\":[\"e\"],\"insert\":\"f\"}]";
    QTest::addRow("escapes and pairs")
        << "[{\"ins\\u0065rt\":\"\\u00e9\\ud83d\\ude00 \\\"q\\\" \\\\ \u00e9\U0001F600\\n\"}]";
    QTest::addRow("lone surrogate escapes")
        << "[{\"insert\":\"a\\ud800b\"},{\"insert\":\"\\udc00c\\n\"}]";
    QTest::addRow("control character") << "[{\"insert\":\"a\tb\u0001\"}]";
    QTest::addRow("NUL inside") << QStringLiteral("[{\"insert\":\"a") + QChar(0) + "b\"}]";
    QTest::addRow("huge number") << "[{\"insert\":\"a\",\"attributes\":{\"n\":1e400}}]";
    QTest::addRow("text after the array") << "[{\"insert\":\"a\"}] x";
    QTest::addRow("space before the array") << " [{\"insert\":\"a\"}]";
    QTest::addRow("deeper than the reader goes")
        << "[{\"insert\":\"a\"}," + QString(1100, u'[') + QString(1100, u']') + "]";
    QTest::addRow("deep but readable")
        << "[{\"insert\":\"a\"}," + QString(900, u'[') + QString(900, u']') + "]";
}

void TestSearchText::indexedTextIsThePlainText()
{
    QFETCH(QString, body);
    const QString plain = notePlainText(body);
    const qsizetype feed = plain.indexOf(QLatin1Char('\n'));
    const SearchableText indexed = searchableText(body);
    QCOMPARE(indexed.title, titleFromPlainText(plain));
    QCOMPARE(indexed.body, feed < 0 ? QString() : plain.mid(feed + 1));
    QCOMPARE(bodyPlainText(body), plain);
    // As the database stores it.
    QCOMPARE(bodyPlainText(body.toUtf8()), plain);
    // Damaged at every character, a body still reads as the document library reads it.
    if (body.size() > 1200)
        return;
    for (qsizetype at = 0; at < body.size(); ++at) {
        for (const QString &damaged :
            { QString(body).remove(at, 1), QString(body).replace(at, 1, QLatin1Char('"')),
                QString(body).insert(at, QLatin1Char('\\')) }) {
            QCOMPARE(bodyPlainText(damaged), notePlainText(damaged));
            // A pair cut in half has no UTF-8 form to store.
            if (damaged.isValidUtf16())
                QCOMPARE(bodyPlainText(damaged.toUtf8()), notePlainText(damaged));
        }
    }
}

void TestSearchText::unspacedScriptsAreSplit()
{
    QCOMPARE(separateUnspacedScripts(QStringLiteral("東京に Tokyo")),
        QStringLiteral(" 東  京  に  Tokyo"));
    QCOMPARE(separateUnspacedScripts(QStringLiteral("ภาษา")), QStringLiteral(" ภ  า  ษ  า "));
    // A character beyond the basic plane stays whole.
    QCOMPARE(separateUnspacedScripts(QString::fromUtf8("a\xF0\xA0\x80\x8B"
                                                       "b")),
        QString::fromUtf8("a \xF0\xA0\x80\x8B b"));
    QCOMPARE(separateUnspacedScripts(QStringLiteral("résumé C++")), QStringLiteral("résumé C++"));
}

void TestSearchText::matchesAreMarkedWhereSearchFindsThem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addRow("accents and case folded") << "Résumé for Müller"
                                             << "resume muller"
                                             << "[Résumé] for [Müller]";
    QTest::addRow("decomposed accent keeps its mark") << "Re\u0301sume\u0301 sent"
                                                      << "résumé"
                                                      << "[Re\u0301sume\u0301] sent";
    QTest::addRow("last word is a prefix, shown whole") << "Descaling the kettle"
                                                        << "desc"
                                                        << "[Descaling] the kettle";
    QTest::addRow("finished words match whole words only") << "kettles and a kettle"
                                                           << "kettle and"
                                                           << "kettles [and] a [kettle]";
    QTest::addRow("inside a word is no match") << "teakettle"
                                               << "kettle"
                                               << "teakettle";
    QTest::addRow("inner punctuation as written") << "Send an e-mail, don't wait"
                                                  << "e-mail don't"
                                                  << "Send an [e-mail], [don't] wait";
    QTest::addRow("phrase") << "new york and york new"
                            << "\"new york\""
                            << "[new york] and york new";
    QTest::addRow("excluded word not shown") << "tea and coffee"
                                             << "tea -coffee"
                                             << "[tea] and coffee";
    QTest::addRow("substring of unspaced script") << "東京都に行きました"
                                                  << "京都"
                                                  << "東[京都]に行きました";
    QTest::addRow("operators are not words") << "cats or dogs"
                                             << "cats OR dogs"
                                             << "[cats] or [dogs]";
    QTest::addRow("overlapping terms once") << "kettle"
                                            << "ket kettle"
                                            << "[kettle]";
    QTest::addRow("passage starts near a far match")
        << QStringLiteral("word ").repeated(40) + QStringLiteral("the\n\nkettle boils") << "kettle"
        << QStringLiteral("\u2026") + QStringLiteral("word ").repeated(2)
            + QStringLiteral("the [kettle] boils");
}

void TestSearchText::matchesAreMarkedWhereSearchFindsThem()
{
    QFETCH(QString, text);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    const QStringList terms = searchQueryFromInput(typed).highlights;
    const QString passage = matchingPassage(text, terms);
    QCOMPARE(marked(passage, typed), expected);
    // The list takes the passage and its matches from one pass over the text.
    const Passage withMatches = passageOf(text, terms);
    QCOMPARE(withMatches.text, passage);
    QCOMPARE(withMatches.matches, findMatches(passage, terms));
}

QTEST_GUILESS_MAIN(TestSearchText)
#include "tst_searchtext.moc"
