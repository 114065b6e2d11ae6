#pragma once

#include <QFont>
#include <QObject>
#include <QPalette>
#include <QString>

class PreferencesRepository;

// Installs the light or dark palette and owns the process-wide font scale; both persist in the
// preferences. Widgets that carry the dynamic properties brevFontRole (int), brevFontItalic
// (bool) and brevFontWeight (int) are re-fonted whenever the scale changes.
class ThemeManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThemeManager)

public:
    enum Theme { System = 0, Light = 1, Dark = 2 };
    Q_ENUM(Theme)

    // Reads "fontScale" from the preferences (which may be null) as the initial scale.
    explicit ThemeManager(PreferencesRepository *preferences, QObject *parent = nullptr);

    Theme theme() const { return m_theme; }
    void setTheme(Theme theme);
    // "light" and "dark" (exactly); anything else means System.
    void setThemeFromString(const QString &text);

    int fontScale() const;
    void setFontScale(int percent);

    // The font for a widget role: 1 emphasised, 2 small, 3 to 6 headings of rising size,
    // 7 monospace; any other role is the plain scaled font.
    QFont roleFont(int role) const;
    // The base point size scaled by the current percentage (integer division).
    int scaledPointSize() const;

    static QString themeText(Theme theme);
    static Theme themeFromString(const QString &text);
    static QPalette lightPalette();
    static QPalette darkPalette();
    // Whether the desktop asks for a dark look.
    static bool systemPrefersDark();
    // The application font as it was before any scaling, captured on the first call.
    static QFont baseFont();

signals:
    void themeChanged(ThemeManager::Theme theme);
    void fontScaleChanged(int percent);

private:
    void refontWidgets() const;

    Theme m_theme = System;
    PreferencesRepository *m_preferences; // not owned
};
