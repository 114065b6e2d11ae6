#include "testdatabase.h"

#include "preferencesrepository.h"

#include <QSignalSpy>
#include <QtTest>

class TestPreferencesRepository : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void boolValue_data();
    void boolValue();
    void intValue_data();
    void intValue();
    void storedNullReadsEmpty();
    void setValueSignalsOnlyChanges();
    void typedSettersStoreText();
    void removeAlwaysSignals();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<PreferencesRepository> m_prefs;
};

void TestPreferencesRepository::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_prefs = std::make_unique<PreferencesRepository>(m_db->database());
}

void TestPreferencesRepository::cleanup()
{
    m_prefs.reset();
    m_db.reset();
}

void TestPreferencesRepository::boolValue_data()
{
    QTest::addColumn<QString>("stored"); // null = key missing
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");
    QTest::addRow("one") << "1" << false << true;
    QTest::addRow("true") << "true" << false << true;
    QTest::addRow("yes") << "yes" << false << true;
    QTest::addRow("capitalised Yes") << "Yes" << true << false;
    QTest::addRow("upper-case TRUE") << "TRUE" << true << false;
    QTest::addRow("zero") << "0" << true << false;
    QTest::addRow("empty text") << "" << true << false;
    QTest::addRow("missing, default true") << QString() << true << true;
    QTest::addRow("missing, default false") << QString() << false << false;
}

void TestPreferencesRepository::boolValue()
{
    QFETCH(QString, stored);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);
    if (!stored.isNull())
        QVERIFY(m_prefs->setValue("flag", stored));
    QCOMPARE(m_prefs->boolValue("flag", defaultValue), expected);
}

void TestPreferencesRepository::intValue_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    QTest::addRow("number") << "120" << 120;
    QTest::addRow("negative") << "-5" << -5;
    QTest::addRow("trailing letters") << "12px" << 42;
    QTest::addRow("decimal fraction") << "1.5" << 42;
    QTest::addRow("empty text") << "" << 42;
    QTest::addRow("beyond int range") << "99999999999" << 42;
    QTest::addRow("missing") << QString() << 42;
}

void TestPreferencesRepository::intValue()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    if (!stored.isNull())
        QVERIFY(m_prefs->setValue("n", stored));
    QCOMPARE(m_prefs->intValue("n", 42), expected);
}

void TestPreferencesRepository::storedNullReadsEmpty()
{
    QVERIFY(m_db->exec("INSERT INTO preferences (key, value) VALUES ('k', NULL)"));
    QCOMPARE(m_prefs->value("k"), std::optional<QString>(QString("")));
    QCOMPARE(m_prefs->stringValue("k", "fallback"), QString());
    QCOMPARE(m_prefs->stringValue("absent", "fallback"), QString("fallback"));
    QVERIFY(!m_prefs->value("absent"));
}

void TestPreferencesRepository::setValueSignalsOnlyChanges()
{
    QSignalSpy changed(m_prefs.get(), &PreferencesRepository::changed);
    QVERIFY(m_prefs->setValue("theme_mode", "dark"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QString("theme_mode"));
    QVERIFY(m_prefs->setValue("theme_mode", "dark"));
    QCOMPARE(changed.count(), 1);
    QVERIFY(m_prefs->setValue("theme_mode", "light"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(m_prefs->stringValue("theme_mode"), QString("light"));
    QCOMPARE(m_db->scalar("SELECT count(*) FROM preferences"), 1);
}

void TestPreferencesRepository::typedSettersStoreText()
{
    QVERIFY(m_prefs->setBool("close_to_tray", true));
    QVERIFY(m_prefs->setInt("fontScale", 130));
    QCOMPARE(m_prefs->value("close_to_tray"), std::optional<QString>(QString("1")));
    QCOMPARE(m_prefs->value("fontScale"), std::optional<QString>(QString("130")));
    QSignalSpy changed(m_prefs.get(), &PreferencesRepository::changed);
    QVERIFY(m_prefs->setBool("close_to_tray", true));
    QVERIFY(m_prefs->setBool("close_to_tray", false));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_prefs->value("close_to_tray"), std::optional<QString>(QString("0")));
}

void TestPreferencesRepository::removeAlwaysSignals()
{
    QSignalSpy changed(m_prefs.get(), &PreferencesRepository::changed);
    QVERIFY(m_prefs->remove("never_set"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QString("never_set"));
    QVERIFY(m_prefs->setValue("lastNoteId", "abc"));
    QVERIFY(m_prefs->remove("lastNoteId"));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!m_prefs->value("lastNoteId"));
}

QTEST_GUILESS_MAIN(TestPreferencesRepository)
#include "tst_preferencesrepository.moc"
