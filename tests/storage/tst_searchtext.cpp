#include "notetext.h"
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
};

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
}

void TestSearchText::indexedTextIsThePlainText()
{
    QFETCH(QString, body);
    const QString plain = notePlainText(body);
    const qsizetype feed = plain.indexOf(QLatin1Char('\n'));
    const SearchableText indexed = searchableText(body);
    QCOMPARE(indexed.title, titleFromPlainText(plain));
    QCOMPARE(indexed.body, feed < 0 ? QString() : plain.mid(feed + 1));
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

QTEST_GUILESS_MAIN(TestSearchText)
#include "tst_searchtext.moc"
