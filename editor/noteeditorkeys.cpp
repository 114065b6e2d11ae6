#include "noteeditor.h"

#include "deltadocument.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <QTextTable>

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
    InsertAttachment,
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
        case Qt::Key_A:
            return KeyCommand::InsertAttachment;
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
    case KeyCommand::InsertAttachment:
        insertAttachment();
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
    // Tab types a tab and moves between table cells, so Ctrl+Tab and Ctrl+Shift+Tab are the way
    // out of the editor for someone using the keyboard alone.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        && (event->modifiers() & Qt::ControlModifier)) {
        const bool back
            = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
        // The text edit refuses to pass the focus on while Tab is its own; the widget does.
        QWidget::focusNextPrevChild(!back);
        event->accept();
        return;
    }
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
