#include "noteeditor.h"

#include "converters.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "dividerrenderer.h"
#include "fontscale.h"
#include "wordcounter.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextList>
#include <QTextTable>
#include <QToolTip>

#include <memory>

namespace {

const QString MarkdownMime = QStringLiteral("text/markdown");
// The editor's own copy format: the selection as delta text, so copy and paste inside the
// program keeps checkboxes, quotes, code blocks and dividers that HTML cannot carry.
const QString DeltaMime = QStringLiteral("application/x-brevaro-notes-delta");

} // namespace

NoteEditor::NoteEditor(QWidget *parent)
    : QTextEdit(parent),
      m_delta(new DeltaDocument(this)),
      m_dividerRenderer(new DividerRenderer(this))
{
    setDocument(m_delta->document());
    document()->documentLayout()->registerHandler(
        DeltaDocument::DividerObjectType, m_dividerRenderer);
    setAcceptRichText(true);
    setTabChangesFocus(false);
    viewport()->setMouseTracking(true);
    QFont bodyFont = font();
    bodyFont.setPixelSize(FontScale::scaledPixels(16));
    setFont(bodyFont);
    setReadOnly(true);
    setPlaceholderFor(false);

    m_autosaveTimer.setSingleShot(true);
    m_autosaveTimer.setInterval(AutosaveDelayMs);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &NoteEditor::onAutosaveTimeout);
    connect(m_delta, &DeltaDocument::contentsChanged, this, &NoteEditor::onContentsChanged);
    connect(this, &QTextEdit::cursorPositionChanged, this, &NoteEditor::updateFormatState);
}

NoteEditor::~NoteEditor()
{
    // The layout outlives nothing here, but unregister so it never calls a dead handler.
    if (document() && document()->documentLayout())
        document()->documentLayout()->unregisterHandler(DeltaDocument::DividerObjectType);
}

void NoteEditor::setPlaceholderFor(bool noteShown)
{
    setPlaceholderText(
        noteShown ? tr("Start typing...") : tr("Select a note or press Ctrl+N to create one"));
}

void NoteEditor::setNote(const QString &noteId, const QString &content, bool force)
{
    if (!force && !noteId.isEmpty() && noteId == m_noteId && m_saved
        && content == m_delta->toJson())
        return;

    const bool sameNote = !m_noteId.isEmpty() && noteId == m_noteId;
    int anchor = 0;
    int position = 0;
    int scroll = 0;
    if (sameNote) {
        anchor = textCursor().anchor();
        position = textCursor().position();
        scroll = verticalScrollBar()->value();
    }

    m_loading = true;
    m_noteId = noteId;
    m_autosaveTimer.stop();
    // No half-built frames: the viewport paints once, after the new content is in place.
    setUpdatesEnabled(false);
    m_delta->setContent(content);
    setReadOnly(false);
    setPlaceholderFor(true);
    m_loading = false;
    m_saved = true;

    QTextCursor cursor(document());
    if (sameNote) {
        const int last = qMax(0, document()->characterCount() - 1);
        cursor.setPosition(qBound(0, anchor, last));
        cursor.setPosition(qBound(0, position, last), QTextCursor::KeepAnchor);
    }
    setTextCursor(cursor);
    if (sameNote && scroll > 0) {
        // Large documents are laid out lazily: lay out far enough for the old offset to exist.
        document()->documentLayout()->hitTest(
            QPointF(0, scroll + viewport()->height()), Qt::FuzzyHit);
        verticalScrollBar()->setValue(scroll);
    } else if (!sameNote) {
        verticalScrollBar()->setValue(0);
    }
    setUpdatesEnabled(true);

    emit savedStateChanged(true);
    emit wordCountChanged(wordCount());
    updateFormatState();
}

void NoteEditor::clearNote()
{
    m_loading = true;
    m_noteId.clear();
    m_autosaveTimer.stop();
    m_delta->setContent(QString());
    setReadOnly(true);
    setPlaceholderFor(false);
    m_loading = false;
    m_saved = true;
    emit savedStateChanged(true);
    emit wordCountChanged(0);
}

QString NoteEditor::content() const
{
    return m_delta->toJson();
}

int NoteEditor::wordCount() const
{
    return WordCounter::count(document());
}

void NoteEditor::onContentsChanged()
{
    if (m_loading || m_noteId.isEmpty())
        return;
    m_saved = false;
    emit savedStateChanged(false);
    m_autosaveTimer.start();
    emit wordCountChanged(wordCount());
}

void NoteEditor::onAutosaveTimeout()
{
    emit noteModified();
    m_saved = true;
    emit savedStateChanged(true);
}

QTextCharFormat NoteEditor::formatAtSelectionStart() const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return cursor.charFormat();
    QTextCursor probe(document());
    probe.setPosition(qMin(cursor.selectionStart() + 1, document()->characterCount() - 1));
    return probe.charFormat();
}

void NoteEditor::updateFormatState()
{
    const QTextCursor cursor = textCursor();
    const QTextCharFormat chars = formatAtSelectionStart();
    const QTextBlockFormat block = cursor.blockFormat();
    emit formatStateChanged(chars.fontWeight() >= QFont::Bold, chars.fontItalic(),
        chars.fontUnderline() && !chars.isAnchor(), chars.fontStrikeOut(), chars.fontFixedPitch(),
        block.intProperty(DeltaDocument::HeadingLevelProperty),
        block.stringProperty(DeltaDocument::ListTypeProperty),
        block.hasProperty(DeltaDocument::CodeBlockProperty),
        block.boolProperty(DeltaDocument::BlockquoteProperty), cursor.currentTable() != nullptr,
        block.alignment());
    emit cursorFormatChanged();
}

void NoteEditor::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    // Dividers span the text width, which only the layout's own relayout on resize recomputes
    // for wrapped lines; objects need an explicit nudge.
    if (document()->textWidth() > 0)
        document()->markContentsDirty(0, document()->characterCount());
}

// Keyboard

namespace {

enum class KeyCommand {
    None,
    Heading0,
    Heading1,
    Heading2,
    Heading3,
    Bold,
    Italic,
    Underline,
    InlineCode,
    SelectParagraph,
    DeleteWord,
    NumberedList,
    BulletList,
    CheckboxList,
    Blockquote,
    CodeBlock,
    Strikethrough,
    Duplicate,
    DeleteParagraph,
    MoveUp,
    MoveDown,
    InsertLink,
    InsertTable,
    AlignLeft,
    AlignCenter,
    AlignRight,
};

KeyCommand keyCommand(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers()
        & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    if (mods == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_0:
            return KeyCommand::Heading0;
        case Qt::Key_1:
            return KeyCommand::Heading1;
        case Qt::Key_2:
            return KeyCommand::Heading2;
        case Qt::Key_3:
            return KeyCommand::Heading3;
        case Qt::Key_B:
            return KeyCommand::Bold;
        case Qt::Key_I:
            return KeyCommand::Italic;
        case Qt::Key_U:
            return KeyCommand::Underline;
        case Qt::Key_QuoteLeft:
            return KeyCommand::InlineCode;
        case Qt::Key_L:
            return KeyCommand::SelectParagraph;
        case Qt::Key_W:
            return KeyCommand::DeleteWord;
        case Qt::Key_K:
            return KeyCommand::InsertLink;
        case Qt::Key_T:
            return KeyCommand::InsertTable;
        default:
            return KeyCommand::None;
        }
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
        // Shifted digits and the grave accent arrive as their shifted symbols on most layouts.
        switch (key) {
        case Qt::Key_7:
        case Qt::Key_Ampersand:
            return KeyCommand::NumberedList;
        case Qt::Key_8:
        case Qt::Key_Asterisk:
            return KeyCommand::BulletList;
        case Qt::Key_9:
        case Qt::Key_ParenLeft:
            return KeyCommand::CheckboxList;
        case Qt::Key_B:
            return KeyCommand::Blockquote;
        case Qt::Key_QuoteLeft:
        case Qt::Key_AsciiTilde:
            return KeyCommand::CodeBlock;
        case Qt::Key_X:
            return KeyCommand::Strikethrough;
        case Qt::Key_D:
            return KeyCommand::Duplicate;
        case Qt::Key_K:
            return KeyCommand::DeleteParagraph;
        case Qt::Key_L:
            return KeyCommand::AlignLeft;
        case Qt::Key_E:
            return KeyCommand::AlignCenter;
        case Qt::Key_R:
            return KeyCommand::AlignRight;
        default:
            return KeyCommand::None;
        }
    }
    if (mods == Qt::AltModifier) {
        if (key == Qt::Key_Up)
            return KeyCommand::MoveUp;
        if (key == Qt::Key_Down)
            return KeyCommand::MoveDown;
    }
    return KeyCommand::None;
}

bool isPlainKey(const QKeyEvent *event)
{
    return (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool isListParagraph(const QTextBlock &block)
{
    const QTextBlockFormat format = block.blockFormat();
    return block.textList() || format.marker() != QTextBlockFormat::MarkerType::NoMarker
        || !format.stringProperty(DeltaDocument::ListTypeProperty).isEmpty();
}

} // namespace

bool NoteEditor::event(QEvent *event)
{
    // Claim the editor's own keys before window shortcuts see them, so that a menu bound to the
    // same key does not run the command a second time and the editor works without menus.
    if (event->type() == QEvent::ShortcutOverride && !isReadOnly()) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (keyCommand(keyEvent) != KeyCommand::None) {
            event->accept();
            return true;
        }
    }
    return QTextEdit::event(event);
}

bool NoteEditor::handleShortcut(QKeyEvent *event)
{
    switch (keyCommand(event)) {
    case KeyCommand::None:
        return false;
    case KeyCommand::Heading0:
        setHeading(0);
        break;
    case KeyCommand::Heading1:
        setHeading(1);
        break;
    case KeyCommand::Heading2:
        setHeading(2);
        break;
    case KeyCommand::Heading3:
        setHeading(3);
        break;
    case KeyCommand::Bold:
        toggleBold();
        break;
    case KeyCommand::Italic:
        toggleItalic();
        break;
    case KeyCommand::Underline:
        toggleUnderline();
        break;
    case KeyCommand::InlineCode:
        toggleInlineCode();
        break;
    case KeyCommand::SelectParagraph:
        selectParagraphText();
        break;
    case KeyCommand::DeleteWord:
        deletePreviousWord();
        break;
    case KeyCommand::NumberedList:
        toggleNumberedList();
        break;
    case KeyCommand::BulletList:
        toggleBulletList();
        break;
    case KeyCommand::CheckboxList:
        toggleCheckboxList();
        break;
    case KeyCommand::Blockquote:
        toggleBlockquote();
        break;
    case KeyCommand::CodeBlock:
        toggleCodeBlock();
        break;
    case KeyCommand::Strikethrough:
        toggleStrikethrough();
        break;
    case KeyCommand::Duplicate:
        duplicateParagraph();
        break;
    case KeyCommand::DeleteParagraph:
        deleteParagraph();
        break;
    case KeyCommand::MoveUp:
        moveParagraphUp();
        break;
    case KeyCommand::MoveDown:
        moveParagraphDown();
        break;
    case KeyCommand::InsertLink:
        insertLink();
        break;
    case KeyCommand::InsertTable:
        if (!textCursor().currentTable()) {
            const TablePrompt prompt = promptInsertTable(window());
            if (prompt.accepted)
                insertTable(prompt.rows, prompt.columns, prompt.header);
        }
        break;
    case KeyCommand::AlignLeft:
        setAlignment(Qt::AlignLeft);
        break;
    case KeyCommand::AlignCenter:
        setAlignment(Qt::AlignHCenter);
        break;
    case KeyCommand::AlignRight:
        setAlignment(Qt::AlignRight);
        break;
    }
    return true;
}

void NoteEditor::keyPressEvent(QKeyEvent *event)
{
    if (isReadOnly()) {
        QTextEdit::keyPressEvent(event);
        return;
    }
    bool handled = false;
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && isPlainKey(event))
        handled = handleReturn();
    else if (key == Qt::Key_Backspace && isPlainKey(event))
        handled = handleBackspace();
    else if (key == Qt::Key_Tab && isPlainKey(event) && textCursor().currentTable())
        handled = moveToAdjacentCell(true);
    else if ((key == Qt::Key_Backtab
                 || (key == Qt::Key_Tab && event->modifiers() == Qt::ShiftModifier))
        && textCursor().currentTable())
        handled = moveToAdjacentCell(false);
    else
        handled = handleShortcut(event);

    if (handled) {
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

bool NoteEditor::handleReturn()
{
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection())
        return false;
    const QTextBlock block = cursor.block();
    const bool empty = block.length() <= 1;

    if (isListParagraph(block)) {
        if (empty) {
            cursor.beginEditBlock();
            DeltaDocument::applyListType(cursor, QString());
            cursor.endEditBlock();
            setTextCursor(cursor);
            updateFormatState();
            return true;
        }
        if (cursor.atBlockStart()) {
            cursor.beginEditBlock();
            cursor.insertBlock();
            QTextCursor above(cursor.block().previous());
            DeltaDocument::applyListType(above, QString());
            cursor.endEditBlock();
            setTextCursor(above);
            updateFormatState();
            return true;
        }
        // A new item after a ticked one starts unticked.
        if (block.blockFormat().marker() == QTextBlockFormat::MarkerType::Checked) {
            cursor.beginEditBlock();
            cursor.insertBlock();
            QTextBlockFormat format = cursor.blockFormat();
            format.setMarker(QTextBlockFormat::MarkerType::Unchecked);
            format.setProperty(DeltaDocument::ListTypeProperty, QStringLiteral("unchecked"));
            cursor.setBlockFormat(format);
            cursor.endEditBlock();
            setTextCursor(cursor);
            updateFormatState();
            return true;
        }
        return false;
    }

    // Return at the end of a heading continues with body text, not a second heading.
    if (block.blockFormat().hasProperty(DeltaDocument::HeadingLevelProperty) && cursor.atBlockEnd()
        && !empty) {
        QTextBlockFormat plain = block.blockFormat();
        plain.clearProperty(DeltaDocument::HeadingLevelProperty);
        DeltaDocument::applyBlockStyle(plain);
        const QTextCharFormat chars = DeltaDocument::baseCharFormat(plain);
        cursor.beginEditBlock();
        cursor.insertBlock(plain, chars);
        cursor.endEditBlock();
        setTextCursor(cursor);
        setCurrentCharFormat(chars);
        updateFormatState();
        return true;
    }
    return false;
}

bool NoteEditor::handleBackspace()
{
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection() || !cursor.atBlockStart())
        return false;
    const QTextBlock block = cursor.block();
    if (!isListParagraph(block))
        return false;

    const QTextBlock next = block.next();
    if (block == document()->firstBlock() && block.length() <= 1 && next.isValid()
        && !QTextCursor(next).currentTable()) {
        const QTextBlockFormat nextFormat = next.blockFormat();
        const QTextCharFormat nextChars = next.charFormat();
        cursor.beginEditBlock();
        cursor.setPosition(next.position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.setBlockFormat(nextFormat);
        cursor.setBlockCharFormat(nextChars);
        cursor.endEditBlock();
        setTextCursor(cursor);
        updateFormatState();
        return true;
    }

    // The text control would only unhook the paragraph from its list and keep the stored list
    // type and checkbox marker, which would come back on the next load: leave the list fully.
    cursor.beginEditBlock();
    DeltaDocument::applyListType(cursor, QString());
    cursor.endEditBlock();
    setTextCursor(cursor);
    updateFormatState();
    return true;
}

bool NoteEditor::moveToAdjacentCell(bool forward)
{
    QTextCursor cursor = textCursor();
    QTextTable *table = cursor.currentTable();
    if (!table)
        return false;
    const QTextTableCell cell = table->cellAt(cursor);
    const int columns = table->columns();
    int index = cell.row() * columns + cell.column();
    if (forward) {
        ++index;
        if (index >= table->rows() * columns) {
            table->appendRows(1);
            index = (table->rows() - 1) * columns;
        }
    } else {
        if (index == 0)
            return true;
        --index;
    }
    const QTextTableCell target = table->cellAt(index / columns, index % columns);
    setTextCursor(target.lastCursorPosition());
    updateFormatState();
    return true;
}

// Mouse

void NoteEditor::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier)) {
        const int position = hitPosition(pos);
        if (position >= 0) {
            if (const auto link = linkAt(position)) {
                openLink(link->address);
                event->accept();
                return;
            }
        }
    }
    if (event->button() == Qt::LeftButton && !(event->modifiers() & Qt::ControlModifier)
        && !isReadOnly() && toggleCheckboxAt(pos)) {
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && m_tripleClickClock.isValid()
        && m_tripleClickClock.elapsed() < QApplication::doubleClickInterval()
        && (pos - m_doubleClickPos).manhattanLength() < 4) {
        m_tripleClickClock.invalidate();
        QTextCursor cursor = cursorForPosition(pos);
        cursor.movePosition(QTextCursor::StartOfBlock);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        setTextCursor(cursor);
        event->accept();
        return;
    }
    QTextEdit::mousePressEvent(event);
}

bool NoteEditor::toggleCheckboxAt(const QPoint &viewportPos)
{
    const QPointF documentPos = QPointF(viewportPos)
        + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QTextBlock block = document()->documentLayout()->blockWithMarkerAt(documentPos);
    if (!block.isValid())
        return false;
    QTextBlockFormat format = block.blockFormat();
    const bool checked = format.marker() == QTextBlockFormat::MarkerType::Checked;
    if (!checked && format.marker() != QTextBlockFormat::MarkerType::Unchecked)
        return false;
    // Marker and stored list type change together, so either reading of the item agrees.
    format.setMarker(
        checked ? QTextBlockFormat::MarkerType::Unchecked : QTextBlockFormat::MarkerType::Checked);
    format.setProperty(DeltaDocument::ListTypeProperty,
        checked ? QStringLiteral("unchecked") : QStringLiteral("checked"));
    QTextCursor cursor(block);
    cursor.beginEditBlock();
    cursor.setBlockFormat(format);
    cursor.endEditBlock();
    updateFormatState();
    return true;
}

void NoteEditor::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_tripleClickClock.start();
        m_doubleClickPos = event->position().toPoint();
    }
    QTextEdit::mouseDoubleClickEvent(event);
}

void NoteEditor::mouseMoveEvent(QMouseEvent *event)
{
    QTextEdit::mouseMoveEvent(event);
    const int position = hitPosition(event->position().toPoint());
    const bool overLink = (event->modifiers() & Qt::ControlModifier) && position >= 0
        && linkAt(position).has_value();
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
}

int NoteEditor::hitPosition(const QPoint &viewportPos) const
{
    const QPointF documentPos = QPointF(viewportPos)
        + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    return document()->documentLayout()->hitTest(documentPos, Qt::ExactHit);
}

bool NoteEditor::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int position = hitPosition(help->pos());
        const auto link = position >= 0 ? linkAt(position) : std::nullopt;
        if (link)
            QToolTip::showText(
                help->globalPos(), tr("%1\n(Ctrl+click to open)").arg(link->address), viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QTextEdit::viewportEvent(event);
}

void NoteEditor::contextMenuEvent(QContextMenuEvent *event)
{
    const QPoint pos = event->pos();
    const QTextCursor clicked = cursorForPosition(pos);
    QTextCursor cursor = textCursor();
    // Right-clicking inside the selection keeps it, so that Copy and Cut act on it.
    const bool insideSelection = cursor.hasSelection()
        && clicked.position() >= cursor.selectionStart()
        && clicked.position() <= cursor.selectionEnd();
    if (!insideSelection)
        setTextCursor(clicked);

    const int hit = hitPosition(pos);
    const auto link = linkAt(hit >= 0 ? hit : textCursor().position());
    QMenu *menu = nullptr;
    if (link && !isReadOnly()) {
        menu = new QMenu(this);
        const LinkRange range = *link;
        connect(menu->addAction(tr("Open Link")), &QAction::triggered, this,
            [this, range] { openLink(range.address); });
        connect(menu->addAction(tr("Copy Link Address")), &QAction::triggered, this,
            [range] { QGuiApplication::clipboard()->setText(range.address); });
        menu->addSeparator();
        connect(menu->addAction(tr("Edit Link…")), &QAction::triggered, this,
            [this, range] { editLinkAt(range.start); });
        connect(menu->addAction(tr("Remove Link")), &QAction::triggered, this,
            [this, range] { removeLinkAt(range.start); });
    } else if (textCursor().currentTable() && !isReadOnly()) {
        menu = new QMenu(this);
        connect(menu->addAction(tr("Insert Row Above")), &QAction::triggered, this,
            &NoteEditor::insertTableRowAbove);
        connect(menu->addAction(tr("Insert Row Below")), &QAction::triggered, this,
            &NoteEditor::insertTableRowBelow);
        menu->addSeparator();
        connect(menu->addAction(tr("Insert Column Before")), &QAction::triggered, this,
            &NoteEditor::insertTableColumnBefore);
        connect(menu->addAction(tr("Insert Column After")), &QAction::triggered, this,
            &NoteEditor::insertTableColumnAfter);
        menu->addSeparator();
        connect(menu->addAction(tr("Delete Row")), &QAction::triggered, this,
            &NoteEditor::deleteTableRow);
        connect(menu->addAction(tr("Delete Column")), &QAction::triggered, this,
            &NoteEditor::deleteTableColumn);
        menu->addSeparator();
        connect(menu->addAction(tr("Delete Table")), &QAction::triggered, this,
            &NoteEditor::deleteTable);
    } else {
        menu = createStandardContextMenu(pos);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

// Paste

bool NoteEditor::canInsertFromMimeData(const QMimeData *source) const
{
    if (source && (source->hasFormat(MarkdownMime) || source->hasFormat(DeltaMime)))
        return true;
    return QTextEdit::canInsertFromMimeData(source);
}

void NoteEditor::insertFromMimeData(const QMimeData *source)
{
    if (!source || isReadOnly())
        return;
    if (source->hasFormat(DeltaMime)) {
        if (const auto ops = Delta::parseArray(source->data(DeltaMime))) {
            insertDelta(*ops);
            return;
        }
    }
    if (source->hasFormat(MarkdownMime)) {
        insertDelta(markdownToDelta(QString::fromUtf8(source->data(MarkdownMime))));
        return;
    }
    if (source->hasHtml()) {
        insertDelta(htmlToDelta(source->html()));
        return;
    }
    if (source->hasText()) {
        const QString text = source->text();
        if (looksLikeHtml(text)) {
            insertDelta(htmlToDelta(text));
            return;
        }
        if (looksLikeMarkdown(text)) {
            insertDelta(markdownToDelta(text));
            return;
        }
    }
    QTextEdit::insertFromMimeData(source);
}

QMimeData *NoteEditor::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return QTextEdit::createMimeDataFromSelection();
    // The text edit's own mime data only ever reports its fixed formats, so its text forms are
    // copied into plain mime data that can carry the delta beside them.
    const std::unique_ptr<QMimeData> base(QTextEdit::createMimeDataFromSelection());
    auto *data = new QMimeData;
    for (const QString &format : { QStringLiteral("text/plain"), QStringLiteral("text/html"),
             QStringLiteral("text/markdown") }) {
        if (base->hasFormat(format))
            data->setData(format, base->data(format));
    }
    DeltaDocument copy;
    QTextCursor target(copy.document());
    target.insertFragment(cursor.selection());
    data->setData(DeltaMime, copy.toJson().toUtf8());
    return data;
}
