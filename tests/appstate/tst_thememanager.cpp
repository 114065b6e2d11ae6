#include "database.h"
#include "fontscale.h"
#include "paths.h"
#include "preferencesrepository.h"
#include "testdatadir.h"
#include "thememanager.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_ThemeManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fontScaleIsClampedAndStored_data();
    void fontScaleIsClampedAndStored();
    void themeTextSelectsPalette_data();
    void themeTextSelectsPalette();
    void systemThemeFollowsDesktop();
    void palettesAreExact_data();
    void palettesAreExact();
    void roleFonts_data();
    void roleFonts();
    void applicationFontFollowsScale();
    void widgetsWithFontRoleAreRefonted();
    void restartKeepsFontScale();

private:
    std::unique_ptr<TestDataDir> m_dataDir;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<PreferencesRepository> m_preferences;
};

void tst_ThemeManager::initTestCase()
{
    // The theme manager captures the application font once as its base; make it 9 points.
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    QCOMPARE(ThemeManager::baseFont().pointSize(), 9);
}

void tst_ThemeManager::init()
{
    FontScale::setPercent(FontScale::Default);
    m_dataDir = std::make_unique<TestDataDir>();
    m_database = std::make_unique<Database>();
    QVERIFY(m_database->open(databasePath()));
    QVERIFY(m_database->migrate());
    m_preferences = std::make_unique<PreferencesRepository>(m_database.get());
}

void tst_ThemeManager::cleanup()
{
    m_preferences.reset();
    m_database.reset();
    m_dataDir.reset();
}

void tst_ThemeManager::fontScaleIsClampedAndStored_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("expected");
    QTest::addRow("below minimum") << 50 << 70;
    QTest::addRow("above maximum") << 200 << 160;
    QTest::addRow("lower bound") << 70 << 70;
    QTest::addRow("upper bound") << 160 << 160;
    QTest::addRow("preset in range") << 115 << 115;
    QTest::addRow("negative") << -5 << 70;
}

void tst_ThemeManager::fontScaleIsClampedAndStored()
{
    QFETCH(int, requested);
    QFETCH(int, expected);

    ThemeManager manager(m_preferences.get());
    QSignalSpy scaleSpy(&manager, &ThemeManager::fontScaleChanged);
    manager.setFontScale(requested);

    QCOMPARE(manager.fontScale(), expected);
    QCOMPARE(FontScale::percent(), expected);
    QCOMPARE(m_preferences->value("fontScale"), std::optional<QString>(QString::number(expected)));
    QCOMPARE(scaleSpy.count(), 1);
    QCOMPARE(scaleSpy.at(0).at(0).toInt(), expected);
}

void tst_ThemeManager::themeTextSelectsPalette_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("theme");
    QTest::addColumn<QString>("stored");
    QTest::addRow("light") << "light" << int(ThemeManager::Light) << "light";
    QTest::addRow("dark") << "dark" << int(ThemeManager::Dark) << "dark";
    QTest::addRow("system") << "system" << int(ThemeManager::System) << "system";
    QTest::addRow("capitalised Dark") << "Dark" << int(ThemeManager::System) << "system";
    QTest::addRow("upper-case LIGHT") << "LIGHT" << int(ThemeManager::System) << "system";
    QTest::addRow("empty") << "" << int(ThemeManager::System) << "system";
    QTest::addRow("padded") << " dark" << int(ThemeManager::System) << "system";
}

void tst_ThemeManager::themeTextSelectsPalette()
{
    QFETCH(QString, text);
    QFETCH(int, theme);
    QFETCH(QString, stored);

    ThemeManager manager(m_preferences.get());
    QSignalSpy themeSpy(&manager, &ThemeManager::themeChanged);
    manager.setThemeFromString(text);

    QCOMPARE(int(manager.theme()), theme);
    QCOMPARE(themeSpy.count(), 1);
    QCOMPARE(m_preferences->stringValue("theme_mode"), stored);

    const bool dark = theme == ThemeManager::Dark
        || (theme == ThemeManager::System && ThemeManager::systemPrefersDark());
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(dark ? "#1E1E1E" : "#FAFAFA"));
}

void tst_ThemeManager::systemThemeFollowsDesktop()
{
    ThemeManager manager(m_preferences.get());
    manager.setTheme(ThemeManager::Dark);
    manager.setTheme(ThemeManager::System);
    const QColor window = QApplication::palette().color(QPalette::Window);
    QCOMPARE(window, QColor(ThemeManager::systemPrefersDark() ? "#1E1E1E" : "#FAFAFA"));
    // Switching back from an explicit theme must not leave its palette behind.
    manager.setTheme(ThemeManager::Light);
    manager.setTheme(ThemeManager::System);
    QCOMPARE(QApplication::palette().color(QPalette::Window), window);
}

void tst_ThemeManager::palettesAreExact_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("light");
    QTest::addColumn<QString>("dark");
    const int active = QPalette::Active;
    const int inactive = QPalette::Inactive;
    const int disabled = QPalette::Disabled;
    QTest::addRow("window") << active << int(QPalette::Window) << "#FAFAFA"
                            << "#1E1E1E";
    QTest::addRow("base") << inactive << int(QPalette::Base) << "#FFFFFF"
                          << "#252525";
    QTest::addRow("alternate base") << active << int(QPalette::AlternateBase) << "#F5F7FA"
                                    << "#2A2A2A";
    QTest::addRow("highlight") << active << int(QPalette::Highlight) << "#1565C0"
                               << "#42A5F5";
    QTest::addRow("highlighted text") << active << int(QPalette::HighlightedText) << "#FFFFFF"
                                      << "#1E1E1E";
    QTest::addRow("placeholder") << active << int(QPalette::PlaceholderText) << "#78909C"
                                 << "#9E9E9E";
    QTest::addRow("dark") << active << int(QPalette::Dark) << "#B0BEC5"
                          << "#0D0D0D";
    QTest::addRow("light") << active << int(QPalette::Light) << "#FFFFFF"
                           << "#3A3A3A";
    QTest::addRow("disabled text") << disabled << int(QPalette::Text) << "#9E9E9E"
                                   << "#555555";
    QTest::addRow("disabled button text") << disabled << int(QPalette::ButtonText) << "#9E9E9E"
                                          << "#555555";
    QTest::addRow("disabled window keeps its colour")
        << disabled << int(QPalette::Window) << "#FAFAFA"
        << "#1E1E1E";
}

void tst_ThemeManager::palettesAreExact()
{
    QFETCH(int, group);
    QFETCH(int, role);
    QFETCH(QString, light);
    QFETCH(QString, dark);

    ThemeManager manager(nullptr);
    manager.setTheme(ThemeManager::Light);
    const auto colorGroup = QPalette::ColorGroup(group);
    const auto colorRole = QPalette::ColorRole(role);
    QCOMPARE(QApplication::palette().color(colorGroup, colorRole), QColor(light));
    manager.setTheme(ThemeManager::Dark);
    QCOMPARE(QApplication::palette().color(colorGroup, colorRole), QColor(dark));
}

void tst_ThemeManager::roleFonts_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");
    const int normal = ThemeManager::baseFont().weight();
    QTest::addRow("emphasis") << 100 << 1 << 9 << 500;
    QTest::addRow("small") << 100 << 2 << 8 << normal;
    QTest::addRow("small never below 7") << 70 << 2 << 7 << normal;
    QTest::addRow("heading 3") << 100 << 3 << 10 << 500;
    QTest::addRow("heading 4") << 100 << 4 << 13 << 600;
    QTest::addRow("heading 5") << 100 << 5 << 17 << 600;
    QTest::addRow("title role 6") << 100 << 6 << 23 << 700;
    QTest::addRow("title role 6 at 150 percent") << 150 << 6 << 27 << 700;
    QTest::addRow("monospace") << 130 << 7 << 11 << normal;
    QTest::addRow("unknown role") << 100 << 42 << 9 << normal;
}

void tst_ThemeManager::roleFonts()
{
    QFETCH(int, scale);
    QFETCH(int, role);
    QFETCH(int, pointSize);
    QFETCH(int, weight);

    ThemeManager manager(nullptr);
    manager.setFontScale(scale);
    const QFont font = manager.roleFont(role);
    QCOMPARE(font.pointSize(), pointSize);
    QCOMPARE(int(font.weight()), weight);
    if (role == 7)
        QCOMPARE(font.styleHint(), QFont::Monospace);
}

void tst_ThemeManager::applicationFontFollowsScale()
{
    ThemeManager manager(m_preferences.get());
    manager.setFontScale(150);
    QCOMPARE(QApplication::font().pointSize(), 13);
    manager.setFontScale(100);
    QCOMPARE(QApplication::font().pointSize(), 9);
}

void tst_ThemeManager::widgetsWithFontRoleAreRefonted()
{
    ThemeManager manager(nullptr);
    QLabel title;
    title.setProperty("brevFontRole", 6);
    QLabel note;
    note.setProperty("brevFontRole", 2);
    note.setProperty("brevFontItalic", true);
    note.setProperty("brevFontWeight", 300);
    QLabel plain;

    manager.setFontScale(130); // 9 * 130 / 100 = 11
    // A widget without a role follows the application font once the change is delivered; the
    // role fonts must survive that delivery.
    QTRY_COMPARE(plain.font().pointSize(), 11);
    QVERIFY(!plain.font().italic());

    QCOMPARE(title.font().pointSize(), 25);
    QCOMPARE(int(title.font().weight()), 700);
    QCOMPARE(note.font().pointSize(), 10);
    QVERIFY(note.font().italic());
    QCOMPARE(int(note.font().weight()), 300);
}

void tst_ThemeManager::restartKeepsFontScale()
{
    {
        ThemeManager first(m_preferences.get());
        first.setFontScale(130);
    }
    FontScale::setPercent(FontScale::Default);

    // A fresh connection to the same file, as after a restart.
    m_preferences.reset();
    m_database.reset();
    Database database;
    QVERIFY(database.open(databasePath()));
    QVERIFY(database.migrate());
    PreferencesRepository preferences(&database);
    ThemeManager second(&preferences);
    QCOMPARE(second.fontScale(), 130);
    QCOMPARE(FontScale::percent(), 130);
}

QTEST_MAIN(tst_ThemeManager)
#include "tst_thememanager.moc"
