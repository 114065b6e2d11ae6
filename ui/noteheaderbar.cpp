#include "noteheaderbar.h"

#include "documentpalette.h"
#include "listpainting.h"
#include "notetext.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

namespace {

const QString ChipStyleTemplate = QStringLiteral(
    "QPushButton {  background-color: %1;  color: %3;  border: none;  border-radius: 10px;  "
    "padding: 3px 10px 3px 8px;  font-family: 'IBM Plex Sans';  font-size: 12px;  font-weight: "
    "500;  text-align: left;}QPushButton:hover { background-color: %2; }");

struct ChipColours
{
    QColor background;
    QColor hover;
    QColor text;
};

ChipColours chipColours()
{
    if (isDarkPalette())
        return { QColor(0x2A, 0x2D, 0x31), QColor(0x34, 0x38, 0x3D), QColor(0xD7, 0xDB, 0xE0) };
    return { QColor(0xEF, 0xF1, 0xF4), QColor(0xE4, 0xE7, 0xEC), QColor(0x2B, 0x31, 0x38) };
}

enum class HeaderGlyph { SidebarsShown, SidebarsHidden, Copy, Share, History, More };

// Outlines on a 24-unit grid, stroked like the list glyphs so the whole window shares one hand.
void drawHeaderGlyph(QPainter &p, HeaderGlyph glyph, const QColor &colour)
{
    QPen pen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case HeaderGlyph::SidebarsShown:
        // A window with its side panel drawn in.
        p.drawRoundedRect(QRectF(3, 4.5, 18, 15), 2.5, 2.5);
        p.drawLine(QPointF(9, 4.5), QPointF(9, 19.5));
        p.drawLine(QPointF(5.2, 8.5), QPointF(7, 8.5));
        p.drawLine(QPointF(5.2, 11), QPointF(7, 11));
        break;
    case HeaderGlyph::SidebarsHidden:
        // The same window with the panel folded away: an open frame and an arrow out of it.
        p.drawRoundedRect(QRectF(3, 4.5, 18, 15), 2.5, 2.5);
        p.drawLine(QPointF(7.5, 12), QPointF(14.5, 12));
        p.drawPolyline(QPolygonF({ QPointF(12, 9.5), QPointF(14.5, 12), QPointF(12, 14.5) }));
        p.drawLine(QPointF(17.5, 8.5), QPointF(17.5, 15.5));
        break;
    case HeaderGlyph::Copy:
        p.drawRoundedRect(QRectF(8.5, 8.5, 11.5, 12.5), 2, 2);
        p.drawPolyline(QPolygonF(
            { QPointF(15.5, 5.5), QPointF(15.5, 4.5), QPointF(14.5, 3.5), QPointF(5.5, 3.5),
                QPointF(4.5, 4.5), QPointF(4.5, 15), QPointF(5.5, 16), QPointF(6, 16) }));
        break;
    case HeaderGlyph::Share: {
        const QPointF a(17.5, 5.5), b(6.5, 12), c(17.5, 18.5);
        p.drawLine(QPointF(15.2, 6.9), QPointF(8.8, 10.6));
        p.drawLine(QPointF(8.8, 13.4), QPointF(15.2, 17.1));
        for (const QPointF &centre : { a, b, c })
            p.drawEllipse(centre, 2.7, 2.7);
        break;
    }
    case HeaderGlyph::History: {
        // A clock face whose rim turns back on itself, as in "earlier versions".
        QPainterPath rim;
        rim.arcMoveTo(QRectF(3.5, 3.5, 17, 17), 160);
        rim.arcTo(QRectF(3.5, 3.5, 17, 17), 160, -320);
        p.drawPath(rim);
        p.drawPolyline(QPolygonF({ QPointF(2.4, 7.8), QPointF(4.1, 9.4), QPointF(6.3, 8.1) }));
        p.drawPolyline(QPolygonF({ QPointF(12, 7.5), QPointF(12, 12), QPointF(15, 14) }));
        break;
    }
    case HeaderGlyph::More:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        for (const qreal x : { 5.5, 12.0, 18.5 })
            p.drawEllipse(QPointF(x, 12), 1.8, 1.8);
        break;
    }
}

// Glyphs are drawn at twice their logical size so they stay crisp on high-density screens.
QPixmap glyphCanvas(int logicalSize)
{
    QPixmap pixmap(logicalSize * 2, logicalSize * 2);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon headerIcon(HeaderGlyph glyph, const QColor &colour)
{
    QPixmap pixmap = glyphCanvas(18);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(18.0 / 24.0, 18.0 / 24.0);
    drawHeaderGlyph(p, glyph, colour);
    p.end();
    return QIcon(pixmap);
}

QIcon chipIcon(const QColor &colour)
{
    // Drawn at the chip's own icon size so it is not scaled down from the 18-pixel canvas.
    QPixmap pixmap = glyphCanvas(14);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    ListPainting::drawGlyph(&p, ListPainting::Glyph::Notebook, QRectF(0, 0, 14, 14), colour, 1.3);
    p.end();
    return QIcon(pixmap);
}

} // namespace

NoteHeaderBar::NoteHeaderBar(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    setFixedHeight(40);

    m_updatedTimer.setInterval(60 * 1000);
    connect(&m_updatedTimer, &QTimer::timeout, this, &NoteHeaderBar::refreshUpdatedText);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 10, 6);
    layout->setSpacing(6);

    m_focusToggle = new QToolButton(this);
    m_focusToggle->setAutoRaise(true);
    m_focusToggle->setFixedSize(28, 28);
    m_focusToggle->setIconSize(QSize(18, 18));
    // Reached with Tab, but a click leaves the keyboard focus in the editor.
    m_focusToggle->setFocusPolicy(Qt::TabFocus);
    m_focusToggle->setCursor(Qt::PointingHandCursor);
    m_focusToggle->setToolTip(tr("Toggle sidebars (Ctrl+\\)"));
    m_focusToggle->setAccessibleName(tr("Toggle sidebars"));
    connect(m_focusToggle, &QToolButton::clicked, this, &NoteHeaderBar::focusToggleClicked);
    layout->addWidget(m_focusToggle);

    m_chip = new QPushButton(tr("Unorganized"), this);
    m_chip->setFlat(true);
    m_chip->setIconSize(QSize(14, 14));
    m_chip->setCursor(Qt::PointingHandCursor);
    m_chip->setFocusPolicy(Qt::TabFocus);
    m_chip->setToolTip(tr("Open this notebook"));
    connect(m_chip, &QPushButton::clicked, this, &NoteHeaderBar::notebookChipClicked);
    layout->addWidget(m_chip);

    layout->addStretch(1);

    m_dateLabel = new QLabel(this);
    QFont dateFont(QStringLiteral("IBM Plex Mono"));
    dateFont.setPixelSize(11);
    m_dateLabel->setFont(dateFont);
    m_dateLabel->setForegroundRole(QPalette::PlaceholderText);
    m_dateLabel->setContentsMargins(0, 0, 10, 0);
    layout->addWidget(m_dateLabel);

    m_copyMenu = new QMenu(this);
    connect(m_copyMenu->addAction(tr("Copy as Plain Text")), &QAction::triggered, this,
        &NoteHeaderBar::copyAsPlainTextRequested);
    connect(m_copyMenu->addAction(tr("Copy as Markdown")), &QAction::triggered, this,
        &NoteHeaderBar::copyAsMarkdownRequested);
    connect(m_copyMenu->addAction(tr("Copy as HTML")), &QAction::triggered, this,
        &NoteHeaderBar::copyAsHtmlRequested);

    m_copyButton = makeIconButton(tr("Copy…"), tr("Copy"));
    m_copyButton->setMenu(m_copyMenu);
    m_copyButton->setPopupMode(QToolButton::InstantPopup);
    layout->addWidget(m_copyButton);

    m_shareButton = makeIconButton(tr("Share note"), tr("Share note"));
    m_shareButton->setVisible(false);
    connect(m_shareButton, &QToolButton::clicked, this, &NoteHeaderBar::shareRequested);
    layout->addWidget(m_shareButton);

    m_historyButton = makeIconButton(tr("Version history"), tr("Version history"));
    connect(m_historyButton, &QToolButton::clicked, this, &NoteHeaderBar::historyRequested);
    layout->addWidget(m_historyButton);

    m_moreMenu = new QMenu(this);
    m_includeInTodos = m_moreMenu->addAction(tr("Include in To-Dos"));
    m_includeInTodos->setCheckable(true);
    m_includeInTodos->setChecked(true);
    connect(m_includeInTodos, &QAction::toggled, this, &NoteHeaderBar::includeInTodosToggled);
    m_moreMenu->addSeparator();
    m_moveToNotebook = m_moreMenu->addAction(tr("Move to Notebook…"));
    connect(m_moveToNotebook, &QAction::triggered, this, &NoteHeaderBar::moveToNotebookRequested);
    m_export = m_moreMenu->addAction(tr("Export…"));
    connect(m_export, &QAction::triggered, this, &NoteHeaderBar::exportRequested);
    m_print = m_moreMenu->addAction(tr("Print…"));
    // Shown as a hint only; the window's own menu owns the real shortcut.
    m_print->setShortcut(QKeySequence::Print);
    m_print->setShortcutContext(Qt::WidgetShortcut);
    connect(m_print, &QAction::triggered, this, &NoteHeaderBar::printRequested);
    m_moreMenu->addSeparator();
    m_delete = m_moreMenu->addAction(tr("Move to Trash"));
    connect(m_delete, &QAction::triggered, this, &NoteHeaderBar::deleteRequested);

    m_moreButton = makeIconButton(tr("More actions"), tr("More actions"));
    m_moreButton->setMenu(m_moreMenu);
    m_moreButton->setPopupMode(QToolButton::InstantPopup);
    layout->addWidget(m_moreButton);

    rebuildIcons();
    updateEnabledState();
}

QToolButton *NoteHeaderBar::makeIconButton(const QString &toolTip, const QString &name)
{
    auto *button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setFixedSize(32, 28);
    button->setCursor(Qt::PointingHandCursor);
    // Reached with Tab, but a click leaves the keyboard focus in the editor.
    button->setFocusPolicy(Qt::TabFocus);
    button->setIconSize(QSize(18, 18));
    button->setToolTip(toolTip);
    // What a screen reader says for the glyph.
    button->setAccessibleName(name);
    // The menu buttons open on a plain click; their arrow would only crowd the glyph.
    button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    return button;
}

void NoteHeaderBar::setCanShare(bool canShare)
{
    m_canShare = canShare;
    updateEnabledState();
}

void NoteHeaderBar::setHasNote(bool hasNote)
{
    m_hasNote = hasNote;
    if (!hasNote)
        setUpdatedAt(QDateTime());
    updateEnabledState();
}

void NoteHeaderBar::setFocusMode(bool focusMode)
{
    m_focusMode = focusMode;
    rebuildIcons();
}

void NoteHeaderBar::setIncludeInTodos(bool include)
{
    const QSignalBlocker blocker(m_includeInTodos);
    m_includeInTodos->setChecked(include);
}

bool NoteHeaderBar::includeInTodos() const
{
    return m_includeInTodos->isChecked();
}

void NoteHeaderBar::setShared(bool shared)
{
    if (shared == m_shared)
        return;
    m_shared = shared;
    m_shareButton->setToolTip(shared ? tr("Manage sharing") : tr("Share note"));
    m_shareButton->setAccessibleName(m_shareButton->toolTip());
    rebuildIcons();
}

void NoteHeaderBar::setUpdatedAt(const QDateTime &updatedAt)
{
    m_updatedAt = updatedAt;
    refreshUpdatedText();
    if (m_updatedAt.isValid() && isVisible())
        m_updatedTimer.start();
    else
        m_updatedTimer.stop();
}

void NoteHeaderBar::refreshUpdatedText()
{
    if (!m_updatedAt.isValid()) {
        m_dateLabel->clear();
        return;
    }
    m_dateLabel->setText(tr("Updated %1").arg(formatRelativeDate(m_updatedAt)));
}

void NoteHeaderBar::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    // The minutes passed while hidden show at once.
    refreshUpdatedText();
    if (m_updatedAt.isValid())
        m_updatedTimer.start();
}

void NoteHeaderBar::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    m_updatedTimer.stop();
}

void NoteHeaderBar::setNotebookName(const QString &name)
{
    m_chip->setText(name.isEmpty() ? tr("No notebook") : name);
}

void NoteHeaderBar::setChipToolTip(const QString &toolTip)
{
    m_chip->setToolTip(toolTip);
}

void NoteHeaderBar::setChipClickable(bool clickable)
{
    m_chipClickable = clickable;
    m_chip->setAttribute(Qt::WA_TransparentForMouseEvents, !clickable);
    m_chip->setFocusPolicy(clickable ? Qt::TabFocus : Qt::NoFocus);
    m_chip->setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    applyChipStyle();
}

void NoteHeaderBar::showFocusToggle(bool show)
{
    m_focusToggle->setVisible(show);
}

void NoteHeaderBar::updateEnabledState()
{
    m_copyButton->setEnabled(m_hasNote);
    m_historyButton->setEnabled(m_hasNote);
    m_moreButton->setEnabled(m_hasNote);
    m_chip->setEnabled(m_hasNote);
    m_shareButton->setVisible(m_canShare);
    m_shareButton->setEnabled(m_canShare && m_hasNote);
}

void NoteHeaderBar::applyChipStyle()
{
    const ChipColours colours = chipColours();
    m_chip->setStyleSheet(ChipStyleTemplate.arg(
        colours.background.name(), colours.hover.name(), colours.text.name()));
    m_chip->setIcon(chipIcon(colours.text));
}

void NoteHeaderBar::rebuildIcons()
{
    // Setting a style sheet sends change events back here; one rebuild at a time is enough.
    if (m_rebuilding)
        return;
    m_rebuilding = true;
    const QPalette palette = QApplication::palette();
    const QColor ink = palette.color(QPalette::Active, QPalette::WindowText);
    m_focusToggle->setIcon(
        headerIcon(m_focusMode ? HeaderGlyph::SidebarsHidden : HeaderGlyph::SidebarsShown, ink));
    m_copyButton->setIcon(headerIcon(HeaderGlyph::Copy, ink));
    m_shareButton->setIcon(headerIcon(
        HeaderGlyph::Share, m_shared ? palette.color(QPalette::Active, QPalette::Highlight) : ink));
    m_historyButton->setIcon(headerIcon(HeaderGlyph::History, ink));
    m_moreButton->setIcon(headerIcon(HeaderGlyph::More, ink));
    applyChipStyle();
    m_rebuilding = false;
}

void NoteHeaderBar::changeEvent(QEvent *event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        rebuildIcons();
}
