#include "documentpalette.h"
#include "listpainting.h"
#include "notesstyle.h"
#include "thememanager.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QTest>

#include <cmath>

namespace {

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor &colour)
{
    const auto channel
        = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF())
        + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

constexpr double Text = 4.5;
constexpr double LargeOrControl = 3.0;

} // namespace

// Every colour pair the windows draw with on the dark palette, read from the code that draws
// them: text reaches 4.5:1, control outlines and large marks 3:1.
class TestPaletteContrast : public QObject
{
    Q_OBJECT

private slots:
    void darkPairsAreReadable_data();
    void darkPairsAreReadable();
};

void TestPaletteContrast::darkPairsAreReadable_data()
{
    QTest::addColumn<QColor>("foreground");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<double>("minimum");

    QApplication::setPalette(ThemeManager::darkPalette());
    QVERIFY(isDarkPalette());
    const QPalette p = QApplication::palette();
    const auto c = [&p](QPalette::ColorRole role) { return p.color(QPalette::Active, role); };

    QTest::addRow("text on base") << c(QPalette::Text) << c(QPalette::Base) << Text;
    QTest::addRow("window text on window")
        << c(QPalette::WindowText) << c(QPalette::Window) << Text;
    QTest::addRow("button text on button")
        << c(QPalette::ButtonText) << c(QPalette::Button) << Text;
    QTest::addRow("placeholder on base")
        << c(QPalette::PlaceholderText) << c(QPalette::Base) << Text;
    QTest::addRow("header date on window")
        << c(QPalette::PlaceholderText) << c(QPalette::Window) << Text;
    QTest::addRow("highlighted text")
        << c(QPalette::HighlightedText) << c(QPalette::Highlight) << Text;
    QTest::addRow("tool tip") << c(QPalette::ToolTipText) << c(QPalette::ToolTipBase) << Text;

    QTest::addRow("link on base") << DocumentPalette::linkColor() << c(QPalette::Base) << Text;
    QTest::addRow("heading 6 on base")
        << DocumentPalette::secondaryTextColor() << c(QPalette::Base) << Text;
    QTest::addRow("code block") << DocumentPalette::secondaryTextColor()
                                << DocumentPalette::codeBlockBackground() << Text;
    QTest::addRow("inline code") << DocumentPalette::inlineCodeTextColor()
                                 << DocumentPalette::inlineCodeBackground() << Text;

    const ListPainting::Colours rows = ListPainting::coloursFor(p);
    const QList<QPair<const char *, QColor>> rowTexts { { "text", rows.text },
        { "muted", rows.muted }, { "secondary", rows.secondary }, { "faint", rows.faint } };
    const QList<QPair<const char *, QColor>> rowBackgrounds { { "row", rows.background },
        { "hovered row", rows.hover }, { "selected row", rows.selected } };
    for (const auto &[textName, textColour] : rowTexts) {
        for (const auto &[backgroundName, backgroundColour] : rowBackgrounds)
            QTest::addRow("list %s on %s", textName, backgroundName)
                << textColour << backgroundColour << Text;
    }
    QTest::addRow("list accent on selected row") << rows.accent << rows.selected << LargeOrControl;

    const QColor outline = DocumentPalette::controlOutline(p);
    QTest::addRow("control outline on base") << outline << c(QPalette::Base) << LargeOrControl;
    QTest::addRow("control outline on window") << outline << c(QPalette::Window) << LargeOrControl;
    QTest::addRow("ticked box on base")
        << c(QPalette::Highlight) << c(QPalette::Base) << LargeOrControl;
    QTest::addRow("tick on ticked box")
        << c(QPalette::HighlightedText) << c(QPalette::Highlight) << LargeOrControl;
    QTest::addRow("scroll handle on base")
        << NotesStyle::scrollHandleColour(p, false) << c(QPalette::Base) << LargeOrControl;
}

void TestPaletteContrast::darkPairsAreReadable()
{
    QFETCH(QColor, foreground);
    QFETCH(QColor, background);
    QFETCH(double, minimum);
    const double ratio = contrast(foreground, background);
    QVERIFY2(ratio >= minimum,
        qPrintable(QStringLiteral("%1 on %2: %3:1")
                       .arg(foreground.name(), background.name())
                       .arg(ratio, 0, 'f', 2)));
}

QTEST_MAIN(TestPaletteContrast)
#include "tst_palettecontrast.moc"
