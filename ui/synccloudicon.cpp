#include "synccloudicon.h"

#include <QApplication>
#include <QEvent>

namespace {

struct Glyph
{
    char16_t codePoint;
    // How far the window-text colour is mixed towards the window colour; negative: fixed colour.
    double towardsWindow;
    QRgb fixed;
};

Glyph glyphFor(SyncCloudIcon::IconState state)
{
    switch (state) {
    case SyncCloudIcon::NotSignedIn:
        return { 0xE2BD, 0.55, 0 };
    case SyncCloudIcon::Synced:
        return { 0xE2BF, -1, qRgb(82, 176, 122) };
    case SyncCloudIcon::UnsyncedChanges:
        return { 0xE2C2, 0.20, 0 };
    case SyncCloudIcon::Syncing:
        return { 0xE2C3, 0.20, 0 };
    case SyncCloudIcon::SyncError:
        return { 0xE629, -1, qRgb(224, 122, 107) };
    case SyncCloudIcon::Offline:
        return { 0xE2C1, 0.45, 0 };
    }
    return { 0xE2BD, 0.55, 0 };
}

QColor mixed(const QColor &text, const QColor &window, double towardsWindow)
{
    const auto channel = [&](int windowValue, int textValue) {
        return int(windowValue * towardsWindow + textValue * (1 - towardsWindow));
    };
    return QColor(channel(window.red(), text.red()), channel(window.green(), text.green()),
        channel(window.blue(), text.blue()), 255);
}

} // namespace

SyncCloudIcon::SyncCloudIcon(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("syncCloudIcon"));
    setFixedWidth(24);
    setAlignment(Qt::AlignCenter);
    m_syncingTimer.setSingleShot(true);
    m_syncingTimer.setInterval(SyncingMinimumMs);
    connect(&m_syncingTimer, &QTimer::timeout, this, [this] {
        if (!m_hasDeferred)
            return;
        m_hasDeferred = false;
        display(m_deferredState, m_deferredToolTip);
    });
    display(NotSignedIn, tr("Not signed in"));
}

void SyncCloudIcon::setIconState(IconState state, const QString &toolTip)
{
    if (state == Syncing) {
        m_hasDeferred = false;
        display(state, toolTip);
        m_syncingTimer.start();
        return;
    }
    if (m_syncingTimer.isActive()) {
        m_hasDeferred = true;
        m_deferredState = state;
        m_deferredToolTip = toolTip;
        return;
    }
    display(state, toolTip);
}

void SyncCloudIcon::display(IconState state, const QString &toolTip)
{
    m_state = state;
    setText(QString(QChar(glyphFor(state).codePoint)));
    setToolTip(toolTip);
    // The glyph is a character of the icon font; a screen reader says the state instead.
    setAccessibleName(tr("Sync status: %1").arg(toolTip));
    applyStyle();
}

void SyncCloudIcon::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        applyStyle();
    QLabel::changeEvent(event);
}

void SyncCloudIcon::applyStyle()
{
    if (m_styling)
        return;
    m_styling = true;
    const Glyph glyph = glyphFor(m_state);
    // The application palette, not the label's own: the style sheet below rewrites that one.
    const QPalette colours = QApplication::palette(this);
    const QColor colour = glyph.towardsWindow < 0
        ? QColor(glyph.fixed)
        : mixed(colours.color(QPalette::WindowText), colours.color(QPalette::Window),
            glyph.towardsWindow);
    const QString style
        = QStringLiteral("font-family: 'Material Icons'; font-size: 17px; color: %1;")
              .arg(colour.name(QColor::HexRgb));
    if (style != styleSheet())
        setStyleSheet(style);
    m_styling = false;
}
