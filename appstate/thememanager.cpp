#include "thememanager.h"

#include "fontscale.h"
#include "preferencesrepository.h"

#include <QApplication>
#include <QColor>
#include <QGuiApplication>
#include <QStyleHints>
#include <QVariant>
#include <QWidget>

namespace {

const QString ThemeKey = QStringLiteral("theme_mode");
const QString FontScaleKey = QStringLiteral("fontScale");

struct PaletteColors
{
    const char *window, *windowText, *base, *alternateBase, *text, *button, *buttonText, *highlight,
        *highlightedText, *toolTipBase, *toolTipText, *placeholderText, *mid, *light, *dark,
        *disabledText;
};

QPalette buildPalette(const PaletteColors &c)
{
    QPalette palette;
    const auto set = [&palette](QPalette::ColorRole role, const char *name) {
        palette.setColor(QPalette::All, role, QColor(QLatin1String(name)));
    };
    set(QPalette::Window, c.window);
    set(QPalette::WindowText, c.windowText);
    set(QPalette::Base, c.base);
    set(QPalette::AlternateBase, c.alternateBase);
    set(QPalette::Text, c.text);
    set(QPalette::Button, c.button);
    set(QPalette::ButtonText, c.buttonText);
    set(QPalette::Highlight, c.highlight);
    set(QPalette::HighlightedText, c.highlightedText);
    set(QPalette::ToolTipBase, c.toolTipBase);
    set(QPalette::ToolTipText, c.toolTipText);
    set(QPalette::PlaceholderText, c.placeholderText);
    set(QPalette::Mid, c.mid);
    set(QPalette::Light, c.light);
    set(QPalette::Dark, c.dark);
    const QColor disabled { QLatin1String(c.disabledText) };
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    return palette;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
// Before Qt reported the colour scheme directly, the platform's own palette (as it stood before
// this program installed one) is the desktop's choice.
bool platformPaletteIsDark()
{
    static const bool dark = [] {
        const QPalette platform = QGuiApplication::palette();
        return platform.color(QPalette::Window).lightness()
            < platform.color(QPalette::WindowText).lightness();
    }();
    return dark;
}
#endif

} // namespace

ThemeManager::ThemeManager(PreferencesRepository *preferences, QObject *parent)
    : QObject(parent), m_preferences(preferences)
{
    systemPrefersDark();
    baseFont();
    if (m_preferences) {
        bool ok = false;
        const int stored = m_preferences->stringValue(FontScaleKey).toInt(&ok, 10);
        if (ok)
            FontScale::setPercent(stored);
    }
}

QFont ThemeManager::baseFont()
{
    static const QFont base = QGuiApplication::font();
    return base;
}

bool ThemeManager::systemPrefersDark()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark;
#else
    return platformPaletteIsDark();
#endif
}

QPalette ThemeManager::lightPalette()
{
    return buildPalette({ "#FAFAFA", "#212121", "#FFFFFF", "#F5F7FA", "#212121", "#FAFAFA",
        "#212121", "#1565C0", "#FFFFFF", "#FFFFFF", "#212121", "#78909C", "#E0E0E0", "#FFFFFF",
        "#B0BEC5", "#9E9E9E" });
}

QPalette ThemeManager::darkPalette()
{
    return buildPalette({ "#1E1E1E", "#E0E0E0", "#252525", "#2A2A2A", "#E0E0E0", "#252525",
        "#E0E0E0", "#42A5F5", "#1E1E1E", "#252525", "#E0E0E0", "#9E9E9E", "#3A3A3A", "#3A3A3A",
        "#0D0D0D", "#555555" });
}

QString ThemeManager::themeText(Theme theme)
{
    switch (theme) {
    case Light:
        return QStringLiteral("light");
    case Dark:
        return QStringLiteral("dark");
    case System:
        break;
    }
    return QStringLiteral("system");
}

ThemeManager::Theme ThemeManager::themeFromString(const QString &text)
{
    if (text == QStringLiteral("light"))
        return Light;
    if (text == QStringLiteral("dark"))
        return Dark;
    return System;
}

void ThemeManager::setThemeFromString(const QString &text)
{
    setTheme(themeFromString(text));
}

void ThemeManager::setTheme(Theme theme)
{
    m_theme = theme;
    const bool dark = theme == Dark || (theme == System && systemPrefersDark());
    QFont font = baseFont();
    font.setPointSize(qMax(1, scaledPointSize()));
    // QApplication's setters also carry the change to every existing widget.
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QApplication::setPalette(dark ? darkPalette() : lightPalette());
        QApplication::setFont(font);
    } else {
        QGuiApplication::setPalette(dark ? darkPalette() : lightPalette());
        QGuiApplication::setFont(font);
    }

    if (m_preferences)
        m_preferences->setValue(ThemeKey, themeText(theme));
    emit themeChanged(theme);
}

int ThemeManager::fontScale() const
{
    return FontScale::percent();
}

void ThemeManager::setFontScale(int percent)
{
    const int clamped = FontScale::setPercent(percent);
    if (m_preferences)
        m_preferences->setInt(FontScaleKey, clamped);
    setTheme(m_theme);
    refontWidgets();
    emit fontScaleChanged(clamped);
}

int ThemeManager::scaledPointSize() const
{
    int base = baseFont().pointSize();
    if (base <= 0)
        base = 10;
    return base * FontScale::percent() / 100;
}

QFont ThemeManager::roleFont(int role) const
{
    const int size = scaledPointSize();
    const bool tiny = size < 2;
    QFont font = baseFont();
    switch (role) {
    case 1:
        font.setPointSize(qMax(1, size));
        font.setWeight(QFont::Weight(500));
        break;
    case 2:
        font.setPointSize(qMax(7, tiny ? 0 : size - 1));
        break;
    case 3:
        font.setPointSize(tiny ? 2 : size + 1);
        font.setWeight(QFont::Weight(500));
        break;
    case 4:
        font.setPointSize(tiny ? 5 : size + 4);
        font.setWeight(QFont::Weight(600));
        break;
    case 5:
        font.setPointSize(tiny ? 9 : size + 8);
        font.setWeight(QFont::Weight(600));
        break;
    case 6:
        font.setPointSize(tiny ? 15 : size + 14);
        font.setWeight(QFont::Weight(700));
        break;
    case 7:
        font = QFont(QStringLiteral("monospace"));
        font.setStyleHint(QFont::Monospace);
        font.setPointSize(qMax(1, size));
        break;
    default:
        font.setPointSize(qMax(1, size));
        break;
    }
    return font;
}

void ThemeManager::refontWidgets() const
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    const auto widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        const QVariant role = widget->property("brevFontRole");
        if (!role.isValid())
            continue;
        bool ok = false;
        const int roleNumber = role.toInt(&ok);
        if (!ok)
            continue;
        QFont font = roleFont(roleNumber);
        const QVariant italic = widget->property("brevFontItalic");
        if (italic.isValid() && italic.toBool())
            font.setItalic(true);
        const QVariant weight = widget->property("brevFontWeight");
        if (weight.isValid())
            font.setWeight(QFont::Weight(weight.toInt()));
        widget->setFont(font);
    }
}
