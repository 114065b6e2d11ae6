#include "editortoolbar.h"

#include "noteeditor.h"
#include "paperclip.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QToolButton>

#include <functional>

namespace {

// Icons are drawn at twice their logical size so they stay crisp on high-density screens.
QIcon drawnIcon(const std::function<void(QPainter &)> &draw)
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor color = QApplication::palette().color(QPalette::Active, QPalette::WindowText);
    painter.setPen(color);
    draw(painter);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

struct GlyphStyle
{
    int pixelSize = 13;
    bool italic = false;
    bool underline = false;
    bool strike = false;
};

QIcon glyphIcon(const QString &glyph, GlyphStyle style)
{
    return drawnIcon([&](QPainter &painter) {
        QFont font(QStringLiteral("IBM Plex Sans"));
        font.setWeight(QFont::Bold);
        font.setPixelSize(style.pixelSize);
        font.setItalic(style.italic);
        font.setUnderline(style.underline);
        font.setStrikeOut(style.strike);
        painter.setFont(font);
        painter.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, glyph);
    });
}

QPen linePen(QPainter &painter, qreal width)
{
    QPen pen(painter.pen().color(), width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QIcon alignIcon(Qt::Alignment alignment)
{
    return drawnIcon([alignment](QPainter &painter) {
        painter.setPen(linePen(painter, 1.6));
        const qreal ys[] = { 3.5, 6.5, 9.5, 12.5 };
        for (int i = 0; i < 4; ++i) {
            const qreal length = (i % 2 == 0) ? 12.0 : 8.0;
            qreal x = 2.0;
            if (alignment & Qt::AlignHCenter)
                x = 2.0 + (12.0 - length) / 2.0;
            else if ((alignment & Qt::AlignRight) && length < 12.0)
                x = 6.0;
            painter.drawLine(QPointF(x, ys[i]), QPointF(x + length, ys[i]));
        }
    });
}

QIcon checkboxIcon()
{
    return drawnIcon([](QPainter &painter) {
        painter.setPen(linePen(painter, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
        QPainterPath tick;
        tick.moveTo(5.5, 8);
        tick.lineTo(7.5, 10.2);
        tick.lineTo(10.8, 5.8);
        painter.drawPath(tick);
    });
}

QIcon linkIcon()
{
    return drawnIcon([](QPainter &painter) {
        painter.setPen(linePen(painter, 1.5));
        painter.setBrush(Qt::NoBrush);
        for (const QPointF centre : { QPointF(5.5, 8), QPointF(10.5, 8) }) {
            painter.save();
            painter.translate(centre);
            painter.rotate(-45);
            painter.drawRoundedRect(QRectF(-4.2, -2.3, 8.4, 4.6), 2.3, 2.3);
            painter.restore();
        }
        painter.drawLine(QPointF(6.5, 8), QPointF(9.5, 8));
    });
}

QIcon paperclipIcon()
{
    QFont font(QStringLiteral("IBM Plex Sans"));
    font.setWeight(QFont::Bold);
    font.setPixelSize(14);
    if (Paperclip::glyphAvailable(font))
        return glyphIcon(Paperclip::glyph(), { 14 });
    return drawnIcon([](QPainter &painter) { Paperclip::draw(painter, QRectF(1, 1, 14, 14)); });
}

} // namespace

EditorToolbar::EditorToolbar(QWidget *parent) : QToolBar(parent)
{
    setMovable(false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);

    m_bold = addButton(tr("Bold"), tr("Bold (Ctrl+B)"), true);
    m_italic = addButton(tr("Italic"), tr("Italic (Ctrl+I)"), true);
    m_underline = addButton(tr("Underline"), tr("Underline (Ctrl+U)"), true);
    m_strike = addButton(tr("Strikethrough"), tr("Strikethrough (Ctrl+Shift+X)"), true);
    m_code = addButton(tr("Inline Code"), tr("Inline Code (Ctrl+`)"), true);
    addSeparator();

    m_heading = new QComboBox(this);
    m_heading->setToolTip(tr("Heading Level"));
    m_heading->setAccessibleName(tr("Heading Level"));
    m_heading->setMinimumWidth(100);
    m_heading->addItem(tr("Normal"), 0);
    for (int level = 1; level <= 6; ++level)
        m_heading->addItem(tr("Heading %1").arg(level), level);
    addWidget(m_heading);
    connect(m_heading, &QComboBox::currentIndexChanged, this, &EditorToolbar::onHeadingChanged);
    addSeparator();

    m_bulletList = addButton(tr("Bullet List"), tr("Bullet List (Ctrl+Shift+8)"), true);
    m_numberedList = addButton(tr("Numbered List"), tr("Numbered List (Ctrl+Shift+7)"), true);
    m_checkboxList = addButton(tr("Checkbox List"), tr("Checkbox List (Ctrl+Shift+9)"), true);
    addSeparator();

    m_codeBlock = addButton(tr("Code Block"), tr("Code Block (Ctrl+Shift+`)"), true);
    m_blockquote = addButton(tr("Blockquote"), tr("Blockquote (Ctrl+Shift+B)"), true);
    addSeparator();

    m_alignLeft = addButton(tr("Align Left"), tr("Align Left (Ctrl+Shift+L)"), true);
    m_alignCenter = addButton(tr("Align Center"), tr("Align Center (Ctrl+Shift+E)"), true);
    m_alignRight = addButton(tr("Align Right"), tr("Align Right (Ctrl+Shift+R)"), true);
    addSeparator();

    m_link = addButton(tr("Insert Link"), tr("Insert Link (Ctrl+K)"), false);
    m_divider = addButton(tr("Insert Divider"), tr("Insert Divider"), false);
    m_table = addButton(tr("Insert Table"), tr("Insert Table (Ctrl+T)"), false);
    m_attachment
        = addButton(tr("Insert Attachment"), tr("Insert Attachment (Ctrl+Shift+A)"), false);

    rebuildIcons();

    // The button that shows the buttons a narrow window has no room for; Qt leaves it unnamed.
    if (auto *more = findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(tr("More formatting"));
        more->setToolTip(tr("More formatting"));
    }

    setEnabled(false);
    setVisible(false);
}

QAction *EditorToolbar::addButton(const QString &name, const QString &toolTip, bool checkable)
{
    // The buttons show only their drawn icons; the text is what a screen reader says.
    QAction *action = addAction(name);
    action->setToolTip(toolTip);
    action->setCheckable(checkable);
    return action;
}

void EditorToolbar::rebuildIcons()
{
    m_bold->setIcon(glyphIcon(QStringLiteral("B"), { 13 }));
    m_italic->setIcon(glyphIcon(QStringLiteral("I"), { 13, true }));
    m_underline->setIcon(glyphIcon(QStringLiteral("U"), { 13, false, true }));
    m_strike->setIcon(glyphIcon(QStringLiteral("S"), { 13, false, false, true }));
    m_code->setIcon(glyphIcon(QStringLiteral("<>"), { 10 }));
    m_bulletList->setIcon(glyphIcon(QString(QChar(0x2022)), { 18 }));
    m_numberedList->setIcon(glyphIcon(QStringLiteral("1."), { 12 }));
    m_checkboxList->setIcon(checkboxIcon());
    m_codeBlock->setIcon(glyphIcon(QStringLiteral("{ }"), { 10 }));
    m_blockquote->setIcon(glyphIcon(QString(QChar(0x201C)), { 18 }));
    m_alignLeft->setIcon(alignIcon(Qt::AlignLeft));
    m_alignCenter->setIcon(alignIcon(Qt::AlignHCenter));
    m_alignRight->setIcon(alignIcon(Qt::AlignRight));
    m_link->setIcon(linkIcon());
    m_divider->setIcon(glyphIcon(QString(QChar(0x2014)), { 16 }));
    m_table->setIcon(glyphIcon(QString(QChar(0x229E)), { 18 }));
    m_attachment->setIcon(paperclipIcon());
}

void EditorToolbar::changeEvent(QEvent *event)
{
    // Icons carry the window-text colour baked in: redraw them when the theme changes.
    if (event->type() == QEvent::PaletteChange && m_bold)
        rebuildIcons();
    QToolBar::changeEvent(event);
}

void EditorToolbar::setActive(bool on)
{
    setEnabled(on);
    setVisible(on);
}

void EditorToolbar::setEditor(NoteEditor *editor)
{
    for (const QMetaObject::Connection &connection : std::as_const(m_editorConnections))
        disconnect(connection);
    m_editorConnections.clear();
    m_editor = editor;
    if (!editor)
        return;

    auto bind = [this, editor](QAction *action, void (NoteEditor::*command)()) {
        m_editorConnections.append(connect(action, &QAction::triggered, editor, command));
    };
    m_editorConnections.append(
        connect(editor, &NoteEditor::formatStateChanged, this, &EditorToolbar::updateState));
    bind(m_bold, &NoteEditor::toggleBold);
    bind(m_italic, &NoteEditor::toggleItalic);
    bind(m_underline, &NoteEditor::toggleUnderline);
    bind(m_strike, &NoteEditor::toggleStrikethrough);
    bind(m_code, &NoteEditor::toggleInlineCode);
    bind(m_bulletList, &NoteEditor::toggleBulletList);
    bind(m_numberedList, &NoteEditor::toggleNumberedList);
    bind(m_checkboxList, &NoteEditor::toggleCheckboxList);
    bind(m_codeBlock, &NoteEditor::toggleCodeBlock);
    bind(m_blockquote, &NoteEditor::toggleBlockquote);
    bind(m_divider, &NoteEditor::insertDivider);
    m_editorConnections.append(
        connect(m_alignLeft, &QAction::triggered, this, [this] { onAlign(Qt::AlignLeft); }));
    m_editorConnections.append(
        connect(m_alignCenter, &QAction::triggered, this, [this] { onAlign(Qt::AlignHCenter); }));
    m_editorConnections.append(
        connect(m_alignRight, &QAction::triggered, this, [this] { onAlign(Qt::AlignRight); }));
    m_editorConnections.append(
        connect(m_link, &QAction::triggered, this, &EditorToolbar::onInsertLink));
    m_editorConnections.append(
        connect(m_table, &QAction::triggered, this, &EditorToolbar::onInsertTable));
    m_editorConnections.append(
        connect(m_attachment, &QAction::triggered, this, &EditorToolbar::onInsertAttachment));
}

void EditorToolbar::onHeadingChanged(int index)
{
    if (m_updating || !m_editor || index < 0)
        return;
    m_editor->setHeading(m_heading->itemData(index).toInt());
    m_editor->setFocus();
}

void EditorToolbar::onAlign(Qt::Alignment alignment)
{
    if (m_editor)
        m_editor->setAlignment(alignment);
}

void EditorToolbar::onInsertLink()
{
    if (m_editor)
        m_editor->insertLink();
}

void EditorToolbar::onInsertTable()
{
    if (!m_editor)
        return;
    const NoteEditor::TablePrompt prompt = NoteEditor::promptInsertTable(m_editor->window());
    if (prompt.accepted && m_editor)
        m_editor->insertTable(prompt.rows, prompt.columns, prompt.header);
}

void EditorToolbar::onInsertAttachment()
{
    if (m_editor)
        m_editor->insertAttachment();
}

void EditorToolbar::updateState(bool bold, bool italic, bool underline, bool strike, bool code,
    int heading, const QString &listType, bool codeBlock, bool blockquote, bool inTable,
    Qt::Alignment alignment)
{
    m_updating = true;
    m_bold->setChecked(bold);
    m_italic->setChecked(italic);
    m_underline->setChecked(underline);
    m_strike->setChecked(strike);
    m_code->setChecked(code);
    m_alignLeft->setChecked(!(alignment & (Qt::AlignHCenter | Qt::AlignRight)));
    m_alignCenter->setChecked(alignment & Qt::AlignHCenter);
    m_alignRight->setChecked(alignment & Qt::AlignRight);
    const int index = m_heading->findData(heading);
    m_heading->setCurrentIndex(index >= 0 ? index : 0);
    m_bulletList->setChecked(listType == QLatin1String("bullet"));
    m_numberedList->setChecked(listType == QLatin1String("ordered"));
    m_checkboxList->setChecked(
        listType == QLatin1String("checked") || listType == QLatin1String("unchecked"));
    m_codeBlock->setChecked(codeBlock);
    m_blockquote->setChecked(blockquote);
    m_table->setEnabled(!inTable);
    m_table->setToolTip(
        inTable ? tr("Nested tables are not supported") : tr("Insert Table (Ctrl+T)"));
    m_updating = false;
}
