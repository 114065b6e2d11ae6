#include "appstate.h"
#include "mainwindow.h"
#include "noterepository.h"
#include "testaccount.h"
#include "testdatadir.h"
#include "windowplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Runs on a virtual 1366 x 768 laptop screen with a 1440 x 900 monitor to its right.
class tst_WindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void placement_data();
    void placement();
    void mainWindowLandsOnAScreen_data();
    void mainWindowLandsOnAScreen();
};

void tst_WindowPlacement::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Notes"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

// Areas as the screens leave them for windows (a 30-pixel panel at the bottom of each), and a
// 30-pixel title bar over every window.
void tst_WindowPlacement::placement_data()
{
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("expected");
    const QRect desktop(0, 0, 1920, 1170);
    const QRect laptop(0, 0, 1366, 738);
    const QRect monitor(1366, 0, 1440, 870);

    QTest::addRow("first start on a desktop keeps 1280 x 1024")
        << QList<QRect> { desktop } << QRect() << QRect(320, 88, 1280, 1024);
    QTest::addRow("first start on a 1366 x 768 laptop fits its height")
        << QList<QRect> { laptop } << QRect() << QRect(43, 30, 1280, 708);
    QTest::addRow("first start on a 1440 x 900 screen fits its height")
        << QList<QRect> { QRect(0, 0, 1440, 870) } << QRect() << QRect(80, 30, 1280, 840);
    QTest::addRow("restored on the laptop is kept") << QList<QRect> { laptop,
        monitor } << QRect(100, 100, 800, 600) << QRect(100, 100, 800, 600);
    QTest::addRow("restored on the monitor is kept") << QList<QRect> { laptop,
        monitor } << QRect(1500, 50, 1000, 700) << QRect(1500, 50, 1000, 700);
    QTest::addRow("monitor unplugged: centred on the laptop")
        << QList<QRect> { laptop } << QRect(1500, 50, 1000, 600) << QRect(183, 84, 1000, 600);
    QTest::addRow("monitor unplugged, window taller than the laptop: shrunk")
        << QList<QRect> { laptop } << QRect(1500, 50, 1000, 840) << QRect(183, 30, 1000, 708);
    QTest::addRow("hanging over the bottom edge: moved up just enough")
        << QList<QRect> { laptop } << QRect(200, 300, 1000, 600) << QRect(200, 138, 1000, 600);
    QTest::addRow("title bar above the top edge: moved down") << QList<QRect> { laptop,
        monitor } << QRect(1400, 0, 900, 500) << QRect(1400, 30, 900, 500);
    QTest::addRow("straddling both screens: onto the one it covers most") << QList<QRect> { laptop,
        monitor } << QRect(1200, 100, 800, 500) << QRect(1366, 100, 800, 500);
}

void tst_WindowPlacement::placement()
{
    QFETCH(QList<QRect>, areas);
    QFETCH(QRect, stored);
    QFETCH(QRect, expected);
    const QMargins titleBar(0, 30, 0, 0);
    const QRect placed = stored.isNull()
        ? WindowPlacement::initialGeometry(QSize(1280, 1024), areas.first(), titleBar)
        : WindowPlacement::restoredGeometry(stored, areas, areas.first(), titleBar);
    QCOMPARE(placed, expected);
    bool onAScreen = false;
    for (const QRect &area : areas)
        onAScreen = onAScreen || area.contains(placed.marginsAdded(titleBar));
    QVERIFY(onAScreen);
}

void tst_WindowPlacement::mainWindowLandsOnAScreen_data()
{
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<bool>("kept");
    QTest::addRow("first start") << QRect() << false;
    QTest::addRow("on the monitor") << QRect(1500, 100, 1000, 700) << true;
    QTest::addRow("monitor unplugged") << QRect(3200, 100, 1000, 700) << false;
}

void tst_WindowPlacement::mainWindowLandsOnAScreen()
{
    QFETCH(QRect, stored);
    QFETCH(bool, kept);
    const QList<QScreen *> screens = QGuiApplication::screens();
    QCOMPARE(screens.size(), 2);
    const QRect laptop = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(laptop.size(), QSize(1366, 768));

    TestDataDir dataDir;
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    if (!stored.isNull()) {
        // Saved as a real run saves it: from a window shown at that place.
        QWidget earlier;
        earlier.setGeometry(stored);
        earlier.show();
        QVERIFY(QTest::qWaitForWindowExposed(&earlier));
        QSettings().setValue(QStringLiteral("mainWindow/geometry"), earlier.saveGeometry());
    }
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(state.initialize());
    MainWindow window(&state);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QRect framed = window.geometry().marginsAdded(WindowPlacement::estimatedFrame(&window));
    bool onAScreen = false;
    for (const QScreen *screen : screens)
        onAScreen = onAScreen || screen->availableGeometry().contains(framed);
    QVERIFY2(onAScreen,
        qPrintable(QStringLiteral("window at %1,%2 %3x%4")
                       .arg(framed.x())
                       .arg(framed.y())
                       .arg(framed.width())
                       .arg(framed.height())));
    if (kept) {
        QCOMPARE(window.geometry(), stored);
    } else if (stored.isNull()) {
        // 1280 wide fits the laptop, 1024 high does not.
        QCOMPARE(window.width(), 1280);
        QCOMPARE(framed.bottom(), laptop.bottom());
        QCOMPARE(window.x(), (laptop.width() - 1280) / 2);
    } else {
        QVERIFY(laptop.contains(framed));
    }
    // The status bar is on the screen, not below its edge.
    const QRect statusBar(
        window.statusBar()->mapToGlobal(QPoint(0, 0)), window.statusBar()->size());
    QVERIFY(laptop.contains(statusBar) || screens.last()->availableGeometry().contains(statusBar));
}

QTEST_MAIN(tst_WindowPlacement)
#include "tst_windowplacement.moc"
