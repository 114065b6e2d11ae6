#include "documentpalette.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

QPalette applicationPalette()
{
    return QGuiApplication::palette();
}

} // namespace

bool isDarkPalette()
{
    static const int darkLightness = QColor(QStringLiteral("#1E1E1E")).lightness();
    return applicationPalette().color(QPalette::Window).lightness() <= darkLightness;
}

namespace DocumentPalette {

QColor secondaryTextColor()
{
    return QColor(isDarkPalette() ? QStringLiteral("#C4C6CF") : QStringLiteral("#44474E"));
}

QColor codeBlockBackground()
{
    return QColor(isDarkPalette() ? QStringLiteral("#2A2D31") : QStringLiteral("#ECEEF1"));
}

QColor inlineCodeTextColor()
{
    return QColor(isDarkPalette() ? QStringLiteral("#D6E3F7") : QStringLiteral("#0E1B2C"));
}

QColor inlineCodeBackground()
{
    return QColor(isDarkPalette() ? QStringLiteral("#33445C") : QStringLiteral("#DCE6F4"));
}

QColor linkColor()
{
    // Only the display colour differs: the stored "link" attribute carries no colour.
    return QColor(isDarkPalette() ? QStringLiteral("#64B5F6") : QStringLiteral("#1565C0"));
}

QColor tableBorderColor()
{
    const QColor base = applicationPalette().color(QPalette::Active, QPalette::Base);
    return base.lightness() > 127 ? base.darker(150) : base.lighter(220);
}

QColor tableHeaderBackground()
{
    return applicationPalette().color(QPalette::Active, QPalette::AlternateBase);
}

} // namespace DocumentPalette

namespace DocumentPalette {

QColor blend(const QColor &from, const QColor &to, qreal amount)
{
    const auto mix = [amount](float a, float b) { return a + (b - a) * float(amount); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
        mix(from.blueF(), to.blueF()));
}

QColor controlOutline(const QPalette &palette)
{
    return blend(palette.color(QPalette::Active, QPalette::Base),
        palette.color(QPalette::Active, QPalette::Text), 0.6);
}

} // namespace DocumentPalette
