#include "settingsdialog.h"

#include "appstate.h"
#include "client.h"
#include "documentpalette.h"
#include "preferencesrepository.h"
#include "syncengine.h"
#include "thememanager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

const QString ThemeKey = QStringLiteral("theme_mode");
const QString StenoKey = QStringLiteral("steno_mode");
const QString CloseToTrayKey = QStringLiteral("close_to_tray");
const QString StartMinimizedKey = QStringLiteral("start_minimized");
const QString AutoSyncKey = QStringLiteral("auto_sync");
const QString IntervalKey = QStringLiteral("sync_interval_minutes");
const QString OfflineBannerKey = QStringLiteral("show_offline_notification");

QFont plexFont(int pixelSize, QFont::Weight weight)
{
    QFont font(QStringLiteral("IBM Plex Sans"));
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// The category glyphs, drawn at 20 × 20 in the list's text colour.
QIcon categoryIcon(int page, const QColor &colour)
{
    QPixmap pixmap(40, 40);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour, 1.6);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (page) {
    case SettingsDialog::AppearancePage: {
        // A circle half filled: light and dark.
        painter.drawEllipse(QRectF(3, 3, 14, 14));
        QPainterPath half;
        half.moveTo(10, 3);
        half.arcTo(QRectF(3, 3, 14, 14), 90, 180);
        half.closeSubpath();
        painter.fillPath(half, colour);
        break;
    }
    case SettingsDialog::EditorPage: {
        // A pencil over a line of text.
        painter.drawLine(QPointF(3, 17), QPointF(17, 17));
        QPainterPath pencil;
        pencil.moveTo(5, 14);
        pencil.lineTo(6, 10.5);
        pencil.lineTo(13.5, 3);
        pencil.lineTo(16, 5.5);
        pencil.lineTo(8.5, 13);
        pencil.closeSubpath();
        painter.drawPath(pencil);
        break;
    }
    case SettingsDialog::WindowPage:
        // A window with its title bar.
        painter.drawRoundedRect(QRectF(2.5, 3.5, 15, 13), 2, 2);
        painter.drawLine(QPointF(2.5, 7), QPointF(17.5, 7));
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(5, 5.3), 0.6, 0.6);
        painter.drawEllipse(QPointF(7.2, 5.3), 0.6, 0.6);
        break;
    case SettingsDialog::SyncPage: {
        // Two arrows chasing each other round.
        painter.drawArc(QRectF(3.5, 3.5, 13, 13), 30 * 16, 140 * 16);
        painter.drawArc(QRectF(3.5, 3.5, 13, 13), 210 * 16, 140 * 16);
        painter.drawLine(QPointF(15.6, 6.8), QPointF(15.9, 3.6));
        painter.drawLine(QPointF(15.6, 6.8), QPointF(12.5, 6.4));
        painter.drawLine(QPointF(4.4, 13.2), QPointF(4.1, 16.4));
        painter.drawLine(QPointF(4.4, 13.2), QPointF(7.5, 13.6));
        break;
    }
    case SettingsDialog::AccountPage:
        // A head and shoulders.
        painter.drawEllipse(QRectF(6.5, 2.5, 7, 7));
        painter.drawArc(QRectF(3, 11, 14, 12), 0, 180 * 16);
        break;
    default:
        break;
    }
    return QIcon(pixmap);
}

} // namespace

SettingsDialog::SettingsDialog(AppState *appState, QWidget *parent)
    : QDialog(parent), m_appState(appState)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(tr("Preferences"));
    setMinimumSize(720, 520);
    resize(780, 560);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_categories = new QListWidget(this);
    m_categories->setObjectName(QStringLiteral("settingsCategories"));
    m_categories->setFixedWidth(190);
    m_categories->setFrameShape(QFrame::NoFrame);
    // Tab reaches the categories and the arrows switch pages; a click leaves the focus alone.
    m_categories->setFocusPolicy(Qt::TabFocus);
    m_categories->setAccessibleName(tr("Categories"));
    m_categories->setSpacing(2);
    m_categories->setIconSize(QSize(20, 20));
    for (const QString &name :
        { tr("Appearance"), tr("Editor"), tr("Window"), tr("Sync"), tr("Account") })
        m_categories->addItem(name);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);

    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildAppearancePage());
    m_pages->addWidget(buildEditorPage());
    m_pages->addWidget(buildWindowPage());
    m_pages->addWidget(buildSyncPage());
    m_pages->addWidget(buildAccountPage());

    layout->addWidget(m_categories);
    layout->addWidget(line);
    layout->addWidget(m_pages, 1);

    m_categories->setCurrentRow(0);
    connect(
        m_categories, &QListWidget::currentRowChanged, this, &SettingsDialog::onCategoryChanged);

    if (BrevAccount::Client *account = m_appState->accountClient()) {
        connect(account, &BrevAccount::Client::authStateChanged, this, [this] {
            refreshSyncPage();
            refreshAccountPage();
        });
    }
    if (SyncEngine *engine = m_appState->syncEngine())
        connect(engine, &SyncEngine::stateChanged, this, &SettingsDialog::refreshSyncPage);
    if (ThemeManager *theme = m_appState->themeManager())
        connect(theme, &ThemeManager::themeChanged, this, &SettingsDialog::applyStyle);

    refreshSyncPage();
    refreshAccountPage();
    applyStyle();
}

void SettingsDialog::onCategoryChanged(int row)
{
    if (row < 0 || row >= m_pages->count())
        return;
    m_pages->setCurrentIndex(row);
    if (row == AccountPage)
        refreshAccountPage();
}

void SettingsDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        applyStyle();
    QDialog::changeEvent(event);
}

QVBoxLayout *SettingsDialog::startPage(QWidget *page, const QString &title)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(10);
    auto *heading = new QLabel(title, page);
    heading->setFont(plexFont(22, QFont::DemiBold));
    layout->addWidget(heading);
    layout->addSpacing(8);
    return layout;
}

void SettingsDialog::addSection(
    QVBoxLayout *layout, const QString &title, const QString &description)
{
    auto *header = new QWidget(layout->parentWidget());
    auto *column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto *heading = new QLabel(title, header);
    heading->setFont(plexFont(14, QFont::Medium));
    column->addWidget(heading);
    if (!description.isEmpty()) {
        auto *text = new QLabel(description, header);
        text->setWordWrap(true);
        text->setFont(plexFont(11, QFont::Normal));
        m_quietLabels.append(text);
        column->addWidget(text);
    }
    layout->addWidget(header);
}

QLabel *SettingsDialog::addHint(QVBoxLayout *layout, const QString &text)
{
    auto *hint = new QLabel(text, layout->parentWidget());
    hint->setWordWrap(true);
    hint->setFont(plexFont(11, QFont::Normal));
    m_quietLabels.append(hint);
    addIndented(layout, hint);
    return hint;
}

void SettingsDialog::addIndented(QVBoxLayout *layout, QWidget *control)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(12, 0, 0, 0);
    row->addWidget(control);
    row->addStretch(1);
    layout->addLayout(row);
}

void SettingsDialog::connectBool(QCheckBox *box, const QString &key, bool defaultValue)
{
    // Set before connecting, so that opening the dialog writes nothing.
    box->setChecked(m_appState->preferences()->boolValue(key, defaultValue));
    connect(box, &QCheckBox::toggled, this,
        [this, key](bool on) { m_appState->preferences()->setBool(key, on); });
}

QWidget *SettingsDialog::buildAppearancePage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = startPage(page, tr("Appearance"));
    PreferencesRepository *preferences = m_appState->preferences();

    addSection(layout, tr("Theme"),
        tr("Choose how Brevaro Notes looks. System follows your desktop's light or dark mode "
           "automatically."));
    m_themeCombo = new QComboBox(page);
    m_themeCombo->setObjectName(QStringLiteral("themeCombo"));
    m_themeCombo->setAccessibleName(tr("Theme"));
    m_themeCombo->addItem(tr("System"), QStringLiteral("system"));
    m_themeCombo->addItem(tr("Light"), QStringLiteral("light"));
    m_themeCombo->addItem(tr("Dark"), QStringLiteral("dark"));
    const int themeIndex
        = m_themeCombo->findData(preferences->stringValue(ThemeKey, QStringLiteral("system")));
    m_themeCombo->setCurrentIndex(qMax(0, themeIndex));
    connect(m_themeCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_appState->preferences()->setValue(ThemeKey, m_themeCombo->itemData(index).toString());
    });
    addIndented(layout, m_themeCombo);

    addSection(layout, tr("Font size"), QString());
    m_fontSizeCombo = new QComboBox(page);
    m_fontSizeCombo->setObjectName(QStringLiteral("fontSizeCombo"));
    m_fontSizeCombo->setAccessibleName(tr("Font size"));
    const QList<QPair<QString, int>> presets { { tr("Small"), 85 }, { tr("Default"), 100 },
        { tr("Medium"), 115 }, { tr("Large"), 130 }, { tr("Extra Large"), 150 } };
    for (const auto &[name, percent] : presets)
        m_fontSizeCombo->addItem(name, percent);
    ThemeManager *theme = m_appState->themeManager();
    const int fontIndex = m_fontSizeCombo->findData(theme ? theme->fontScale() : 100);
    m_fontSizeCombo->setCurrentIndex(fontIndex >= 0 ? fontIndex : m_fontSizeCombo->findData(100));
    const auto applyFontSize = [this](int index) {
        if (ThemeManager *manager = m_appState->themeManager())
            manager->setFontScale(m_fontSizeCombo->itemData(index).toInt());
    };
    connect(m_fontSizeCombo, &QComboBox::currentIndexChanged, this, applyFontSize);
    // A scale that is no preset shows "Default"; picking "Default" then still sets 100.
    connect(m_fontSizeCombo, &QComboBox::activated, this, applyFontSize);
    addIndented(layout, m_fontSizeCombo);
    layout->addStretch(1);
    return page;
}

QWidget *SettingsDialog::buildEditorPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = startPage(page, tr("Editor"));
    addSection(layout, tr("Layout"),
        tr("Steno mode flips the note list so the oldest note is at the top and the search bar "
           "moves to the bottom — a steno-pad feel for rapid capture."));
    auto *steno = new QCheckBox(tr("Enable Steno mode"), page);
    steno->setObjectName(QStringLiteral("stenoModeBox"));
    connectBool(steno, StenoKey, false);
    addIndented(layout, steno);
    layout->addStretch(1);
    return page;
}

QWidget *SettingsDialog::buildWindowPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = startPage(page, tr("Window"));
    addSection(layout, tr("System Tray"),
        tr("Keep Brevaro Notes running in the background for instant capture without a cold "
           "start."));
    auto *closeToTray = new QCheckBox(tr("Close to tray"), page);
    closeToTray->setObjectName(QStringLiteral("closeToTrayBox"));
    connectBool(closeToTray, CloseToTrayKey, false);
    addIndented(layout, closeToTray);
    addHint(layout,
        tr("When enabled, closing the window hides it to the system tray instead of quitting."));
    auto *startMinimized = new QCheckBox(tr("Start minimized to tray"), page);
    startMinimized->setObjectName(QStringLiteral("startMinimizedBox"));
    connectBool(startMinimized, StartMinimizedKey, false);
    addIndented(layout, startMinimized);
    addHint(
        layout, tr("Launch Brevaro Notes directly to the tray — useful for autostart at login."));
    layout->addStretch(1);
    return page;
}

QWidget *SettingsDialog::buildSyncPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = startPage(page, tr("Sync"));
    addSection(layout, tr("Status"), tr("Current sync state and a quick manual trigger."));
    auto *statusRow = new QWidget(page);
    auto *statusLayout = new QHBoxLayout(statusRow);
    statusLayout->setContentsMargins(12, 0, 0, 0);
    m_syncStatusLabel = new QLabel(statusRow);
    m_syncStatusLabel->setObjectName(QStringLiteral("syncStatusLabel"));
    m_syncNowButton = new QPushButton(tr("Sync now"), statusRow);
    m_syncNowButton->setObjectName(QStringLiteral("syncNowButton"));
    connect(m_syncNowButton, &QPushButton::clicked, this, [this] {
        if (SyncEngine *engine = m_appState->syncEngine(); engine && m_appState->isSignedIn())
            engine->sync();
    });
    statusLayout->addWidget(m_syncStatusLabel);
    statusLayout->addSpacing(12);
    statusLayout->addWidget(m_syncNowButton);
    statusLayout->addStretch(1);
    layout->addWidget(statusRow);
    layout->addSpacing(14);
    layout->addSpacing(10);

    addSection(layout, tr("Automatic Sync"),
        tr("Push local changes and pull updates from the server in the background."));
    m_autoSyncBox = new QCheckBox(tr("Enable automatic sync"), page);
    m_autoSyncBox->setObjectName(QStringLiteral("autoSyncBox"));
    connectBool(m_autoSyncBox, AutoSyncKey, true);
    addIndented(layout, m_autoSyncBox);
    auto *intervalRow = new QWidget(page);
    auto *intervalLayout = new QHBoxLayout(intervalRow);
    intervalLayout->setContentsMargins(12, 0, 0, 0);
    auto *intervalLabel = new QLabel(tr("Interval:"), intervalRow);
    m_intervalSpin = new QSpinBox(intervalRow);
    m_intervalSpin->setObjectName(QStringLiteral("intervalSpin"));
    m_intervalSpin->setRange(1, 120);
    m_intervalSpin->setSuffix(tr(" min"));
    intervalLabel->setBuddy(m_intervalSpin);
    m_intervalSpin->setValue(m_appState->syncIntervalMinutes());
    connect(m_intervalSpin, &QSpinBox::valueChanged, this, [this](int minutes) {
        m_appState->preferences()->setValue(IntervalKey, QString::number(minutes));
    });
    intervalLayout->addWidget(intervalLabel);
    intervalLayout->addWidget(m_intervalSpin);
    intervalLayout->addStretch(1);
    layout->addWidget(intervalRow);
    layout->addSpacing(14);
    layout->addSpacing(10);

    addSection(layout, tr("Notifications"), tr("Toast messages about sync state."));
    auto *banner = new QCheckBox(tr("Show a banner when offline"), page);
    banner->setObjectName(QStringLiteral("offlineBannerBox"));
    connectBool(banner, OfflineBannerKey, true);
    addIndented(layout, banner);
    layout->addStretch(1);
    return page;
}

QWidget *SettingsDialog::buildAccountPage()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = startPage(page, tr("Account"));
    auto *intro = new QLabel(
        tr("Your Brevaro account unlocks cloud sync and sharing across devices."), page);
    intro->setWordWrap(true);
    intro->setFont(plexFont(11, QFont::Normal));
    m_quietLabels.append(intro);
    layout->addWidget(intro);
    addSection(layout, tr("Brevaro Account"), QString());

    auto *signedInRow = new QWidget(page);
    auto *signedInLayout = new QHBoxLayout(signedInRow);
    signedInLayout->setContentsMargins(12, 0, 0, 0);
    signedInLayout->addWidget(new QLabel(tr("Signed in as"), signedInRow));
    signedInLayout->addSpacing(12);
    m_signedInValue = new QLabel(QStringLiteral("—"), signedInRow);
    m_signedInValue->setObjectName(QStringLiteral("signedInValue"));
    signedInLayout->addWidget(m_signedInValue);
    signedInLayout->addStretch(1);
    layout->addWidget(signedInRow);

    auto *buttons = new QWidget(page);
    auto *buttonLayout = new QHBoxLayout(buttons);
    buttonLayout->setContentsMargins(12, 0, 0, 0);
    m_manageButton = new QPushButton(tr("Manage Account…"), buttons);
    m_manageButton->setObjectName(QStringLiteral("manageAccountButton"));
    m_signInButton = new QPushButton(tr("Sign In…"), buttons);
    m_signInButton->setObjectName(QStringLiteral("signInButton"));
    m_signOutButton = new QPushButton(tr("Sign Out"), buttons);
    m_signOutButton->setObjectName(QStringLiteral("signOutButton"));
    connect(m_manageButton, &QPushButton::clicked, this, &SettingsDialog::manageAccountRequested);
    connect(m_signInButton, &QPushButton::clicked, this, &SettingsDialog::signInRequested);
    connect(m_signOutButton, &QPushButton::clicked, this, &SettingsDialog::signOutRequested);
    buttonLayout->addWidget(m_manageButton);
    buttonLayout->addWidget(m_signInButton);
    buttonLayout->addWidget(m_signOutButton);
    buttonLayout->addStretch(1);
    layout->addWidget(buttons);
    layout->addStretch(1);
    return page;
}

void SettingsDialog::refreshSyncPage()
{
    const bool signedIn = m_appState->isSignedIn();
    const SyncEngine *engine = m_appState->syncEngine();
    QString status = tr("Not signed in");
    if (signedIn && engine) {
        // No connection at all is shown as offline, as in the status bar.
        const bool offline = engine->state() == SyncEngine::Error && engine->lastErrorStatus() == 0;
        status = SyncEngine::statusText(offline ? SyncEngine::Offline : engine->state());
    }
    m_syncStatusLabel->setText(status);
    m_syncNowButton->setEnabled(signedIn && engine);
    m_autoSyncBox->setEnabled(signedIn);
    m_syncNowButton->setToolTip(signedIn
            ? tr("Push pending changes and pull the latest from the server.")
            : tr("Sign in to your Brevaro account to sync."));
}

void SettingsDialog::refreshAccountPage()
{
    const bool signedIn = m_appState->isSignedIn();
    m_signedInValue->setText(signedIn ? tr("Signed in") : tr("Not signed in"));
    m_manageButton->setEnabled(signedIn);
    m_signOutButton->setEnabled(signedIn);
    m_signInButton->setEnabled(!signedIn);
}

void SettingsDialog::applyStyle()
{
    if (m_styling)
        return;
    m_styling = true;
    const bool dark = isDarkPalette();
    const QStringList colours = dark
        ? QStringList { QStringLiteral("#1B1E22"), QStringLiteral("#D7DBE0"),
              QStringLiteral("#24272C"), QStringLiteral("#30343A"), QStringLiteral("#FFFFFF") }
        : QStringList { QStringLiteral("#F2F4F7"), QStringLiteral("#2B3138"),
              QStringLiteral("#E6E9EE"), QStringLiteral("#D9E1EA"), QStringLiteral("#1A1F26") };
    const QString style
        = QStringLiteral("QListWidget {  background: %1;  border: none;  padding: 14px 10px;  "
                         "font-family: 'IBM Plex Sans';  font-size: 13px;}QListWidget::item {  "
                         "color: %2;  padding: 9px 12px;  border-radius: 6px;}"
                         "QListWidget::item:hover { background: %3; }"
                         "QListWidget::item:selected { background: %4; color: %5; }")
              .arg(colours.at(0), colours.at(1), colours.at(2), colours.at(3), colours.at(4));
    if (m_categories->styleSheet() != style)
        m_categories->setStyleSheet(style);
    for (int row = 0; row < m_categories->count(); ++row)
        m_categories->item(row)->setIcon(categoryIcon(row, QColor(colours.at(1))));
    const QColor quiet = palette().color(QPalette::PlaceholderText);
    for (QLabel *label : std::as_const(m_quietLabels)) {
        QPalette labelPalette = label->palette();
        labelPalette.setColor(QPalette::WindowText, quiet);
        label->setPalette(labelPalette);
    }
    m_styling = false;
}
