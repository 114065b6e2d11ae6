#include "noteeditor.h"

#include "deltadocument.h"
#include "documentpalette.h"

#include <QDesktopServices>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <functional>

namespace {

QList<QTextBlock> selectedBlocks(const QTextCursor &cursor)
{
    QList<QTextBlock> blocks;
    QTextDocument *document = cursor.document();
    const QTextBlock last = document->findBlock(cursor.selectionEnd());
    for (QTextBlock block = document->findBlock(cursor.selectionStart()); block.isValid();
         block = block.next()) {
        blocks.append(block);
        if (block == last)
            break;
    }
    return blocks;
}

bool isObject(const QTextCharFormat &format)
{
    return format.objectType() != QTextFormat::NoObject;
}

// Applies `change` to the character format of every fragment in [start, end), piece by piece,
// so that each keeps what the change does not touch. Object characters are left alone.
void changeCharFormats(QTextDocument *document, int start, int end,
    const std::function<void(QTextCharFormat &)> &change)
{
    struct Piece
    {
        int start;
        int end;
        QTextCharFormat format;
    };
    QList<Piece> pieces;
    for (QTextBlock block = document->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = qMax(start, fragment.position());
            const int to = qMin(end, fragment.position() + fragment.length());
            if (from < to && !isObject(fragment.charFormat()))
                pieces.append({ from, to, fragment.charFormat() });
        }
    }
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    for (Piece &piece : pieces) {
        change(piece.format);
        cursor.setPosition(piece.start);
        cursor.setPosition(piece.end, QTextCursor::KeepAnchor);
        cursor.setCharFormat(piece.format);
    }
    cursor.endEditBlock();
}

QTextCharFormat linkFormat(const QString &address)
{
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(address);
    format.setFontUnderline(true);
    format.setForeground(DocumentPalette::linkColor());
    return format;
}

QTextBlockFormat plainBlockFormat()
{
    QTextBlockFormat format;
    DeltaDocument::applyBlockStyle(format);
    return format;
}

bool sameFrame(const QTextBlock &a, const QTextBlock &b)
{
    return QTextCursor(a).currentFrame() == QTextCursor(b).currentFrame();
}

struct Run
{
    QString text;
    QTextCharFormat format;
};

// A paragraph's content as formatted runs. Re-inserting runs never touches block formats or
// creates paragraphs, unlike a fragment that happens to span a whole block.
QList<Run> runsOf(const QTextBlock &block)
{
    QList<Run> runs;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        runs.append({ it.fragment().text(), it.fragment().charFormat() });
    return runs;
}

void insertRuns(QTextCursor &cursor, const QList<Run> &runs)
{
    for (const Run &run : runs)
        cursor.insertText(run.text, run.format);
}

QTextCharFormat charFormatAt(QTextDocument *document, int position)
{
    QTextCursor probe(document);
    probe.setPosition(qBound(0, position, document->characterCount() - 1));
    return probe.charFormat();
}

} // namespace

// Character commands

void NoteEditor::toggleBold()
{
    // A note shown read-only (shared for viewing, a history preview) is never changed by a
    // command, whichever menu or button calls it.
    if (isReadOnly())
        return;
    const bool bold = formatAtSelectionStart().fontWeight() > 699;
    QTextCharFormat format;
    format.setFontWeight(bold ? QFont::Normal : QFont::Bold);
    mergeCurrentCharFormat(format);
    updateFormatState();
}

void NoteEditor::toggleItalic()
{
    if (isReadOnly())
        return;
    QTextCharFormat format;
    format.setFontItalic(!formatAtSelectionStart().fontItalic());
    mergeCurrentCharFormat(format);
    updateFormatState();
}

void NoteEditor::toggleUnderline()
{
    if (isReadOnly())
        return;
    QTextCharFormat format;
    format.setFontUnderline(!formatAtSelectionStart().fontUnderline());
    mergeCurrentCharFormat(format);
    updateFormatState();
}

void NoteEditor::toggleStrikethrough()
{
    if (isReadOnly())
        return;
    QTextCharFormat format;
    format.setFontStrikeOut(!formatAtSelectionStart().fontStrikeOut());
    mergeCurrentCharFormat(format);
    updateFormatState();
}

void NoteEditor::toggleInlineCode()
{
    if (isReadOnly())
        return;
    const bool wasCode = formatAtSelectionStart().fontFixedPitch();
    const auto change = [wasCode](QTextCharFormat &format) {
        if (wasCode) {
            format.setFont(DeltaDocument::defaultCharFormat().font());
            format.setBackground(QColor(Qt::transparent));
            format.clearForeground();
        } else {
            const QTextCharFormat code = DeltaDocument::inlineCodeFormat();
            format.setFont(code.font());
            format.setForeground(code.foreground());
            format.setBackground(code.background());
        }
    };
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        changeCharFormats(document(), cursor.selectionStart(), cursor.selectionEnd(), change);
    } else {
        QTextCharFormat format = cursor.charFormat();
        change(format);
        setCurrentCharFormat(format);
    }
    updateFormatState();
}

// Paragraph commands

void NoteEditor::restyleBlock(QTextCursor &cursor, QTextBlockFormat format)
{
    DeltaDocument::applyBlockStyle(format);
    cursor.setBlockFormat(format);
    const QTextCharFormat base = DeltaDocument::baseCharFormat(format);
    cursor.setBlockCharFormat(base);
    const QTextBlock block = cursor.block();
    // The paragraph's text takes the new base format; links keep their address and objects
    // (dividers, attachments) their identity, since neither can be recovered afterwards.
    changeCharFormats(document(), block.position(), block.position() + block.length() - 1,
        [&base](QTextCharFormat &format) {
            const bool anchor = format.isAnchor() && !format.anchorHref().isEmpty();
            const QString href = format.anchorHref();
            format = base;
            if (anchor) {
                format.merge(linkFormat(href));
            }
        });
}

void NoteEditor::setHeading(int level)
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    const QList<QTextBlock> blocks = selectedBlocks(cursor);
    cursor.beginEditBlock();
    for (const QTextBlock &block : blocks) {
        QTextCursor blockCursor(block);
        QTextBlockFormat format = block.blockFormat();
        if (level >= 1 && level <= 6) {
            format.clearProperty(DeltaDocument::CodeBlockProperty);
            format.clearProperty(DeltaDocument::BlockquoteProperty);
            format.setProperty(DeltaDocument::HeadingLevelProperty, level);
            restyleBlock(blockCursor, format);
        } else {
            format.clearProperty(DeltaDocument::HeadingLevelProperty);
            DeltaDocument::applyBlockStyle(format);
            blockCursor.setBlockFormat(format);
            const QTextCharFormat body = DeltaDocument::defaultCharFormat();
            blockCursor.setBlockCharFormat(body);
            changeCharFormats(document(), block.position(), block.position() + block.length() - 1,
                [&body](QTextCharFormat &chars) {
                    const bool anchor = chars.isAnchor() && !chars.anchorHref().isEmpty();
                    const QString href = chars.anchorHref();
                    chars = body;
                    if (anchor)
                        chars.merge(linkFormat(href));
                });
        }
    }
    cursor.endEditBlock();
    updateFormatState();
}

void NoteEditor::toggleBlockProperty(int property)
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    const QList<QTextBlock> blocks = selectedBlocks(cursor);
    if (blocks.isEmpty())
        return;
    // A code block carrying a language name is on as well, so the toggle turns it off.
    const QTextBlockFormat first = blocks.first().blockFormat();
    const bool on = property == DeltaDocument::CodeBlockProperty ? first.hasProperty(property)
                                                                 : first.boolProperty(property);
    cursor.beginEditBlock();
    for (const QTextBlock &block : blocks) {
        QTextCursor blockCursor(block);
        QTextBlockFormat format = block.blockFormat();
        if (on) {
            format.clearProperty(property);
        } else {
            format.clearProperty(DeltaDocument::HeadingLevelProperty);
            format.clearProperty(DeltaDocument::ListTypeProperty);
            format.clearProperty(DeltaDocument::CodeBlockProperty);
            format.clearProperty(DeltaDocument::BlockquoteProperty);
            format.setProperty(property, true);
        }
        restyleBlock(blockCursor, format);
    }
    cursor.endEditBlock();
    updateFormatState();
}

void NoteEditor::toggleBlockquote()
{
    toggleBlockProperty(DeltaDocument::BlockquoteProperty);
}

void NoteEditor::toggleCodeBlock()
{
    toggleBlockProperty(DeltaDocument::CodeBlockProperty);
}

namespace {

bool isCheckboxType(const QString &type)
{
    return type == QLatin1String("checked") || type == QLatin1String("unchecked");
}

QString currentListType(const QTextBlock &block)
{
    const QTextBlockFormat format = block.blockFormat();
    if (format.marker() == QTextBlockFormat::MarkerType::Checked)
        return QStringLiteral("checked");
    if (format.marker() == QTextBlockFormat::MarkerType::Unchecked)
        return QStringLiteral("unchecked");
    return format.stringProperty(DeltaDocument::ListTypeProperty);
}

} // namespace

void NoteEditor::toggleList(const QString &type)
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    const QList<QTextBlock> blocks = selectedBlocks(cursor);
    if (blocks.isEmpty())
        return;
    // Ticked and unticked items are one kind of list: the checkbox toggle removes either.
    const QString firstType = currentListType(blocks.first());
    const bool remove = firstType == type || (isCheckboxType(type) && isCheckboxType(firstType));
    cursor.beginEditBlock();
    for (const QTextBlock &block : blocks) {
        QTextCursor blockCursor(block);
        QString newType = remove ? QString() : type;
        // Existing checkbox items keep their tick when the selection becomes a checkbox list.
        if (!remove && isCheckboxType(type) && isCheckboxType(currentListType(block)))
            newType = currentListType(block);
        DeltaDocument::applyListType(blockCursor, newType);
    }
    cursor.endEditBlock();
    updateFormatState();
}

void NoteEditor::toggleBulletList()
{
    toggleList(QStringLiteral("bullet"));
}

void NoteEditor::toggleNumberedList()
{
    toggleList(QStringLiteral("ordered"));
}

void NoteEditor::toggleCheckboxList()
{
    toggleList(QStringLiteral("unchecked"));
}

void NoteEditor::setAlignment(Qt::Alignment alignment)
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    QTextBlockFormat format;
    format.setAlignment(alignment & Qt::AlignHorizontal_Mask);
    cursor.beginEditBlock();
    for (const QTextBlock &block : selectedBlocks(cursor)) {
        QTextCursor blockCursor(block);
        blockCursor.mergeBlockFormat(format);
    }
    cursor.endEditBlock();
    updateFormatState();
}

// Insertions

void NoteEditor::insertDivider()
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    // Cells hold text only: a divider there would be dropped on the next save.
    if (cursor.currentTable())
        return;
    const QTextBlockFormat plain = plainBlockFormat();
    const QTextCharFormat body = DeltaDocument::defaultCharFormat();
    QTextCharFormat divider;
    divider.setObjectType(DeltaDocument::DividerObjectType);
    divider.setProperty(DeltaDocument::EmbedKindProperty, QStringLiteral("divider"));
    divider.setProperty(DeltaDocument::EmbedValueProperty, QStringLiteral("hr"));

    cursor.beginEditBlock();
    cursor.clearSelection();
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertBlock(plain, body);
    cursor.insertText(QString(QChar::ObjectReplacementCharacter), divider);
    cursor.insertBlock(plain, body);
    cursor.endEditBlock();
    setTextCursor(cursor);
    setCurrentCharFormat(body);
    updateFormatState();
}

// Links

void NoteEditor::applyLinkFormat(
    QTextCursor &cursor, const QString &text, const QString &address, bool textUnchanged)
{
    const QTextCharFormat link = linkFormat(address);
    cursor.beginEditBlock();
    if (cursor.hasSelection() && textUnchanged) {
        cursor.mergeCharFormat(link);
    } else {
        // The new text looks like the start of what it replaces (or of the text at the cursor).
        QTextCharFormat format = cursor.hasSelection()
            ? charFormatAt(cursor.document(), cursor.selectionStart() + 1)
            : cursor.charFormat();
        format.setAnchor(false);
        format.setAnchorHref(QString());
        format.setFontUnderline(false);
        format.clearForeground();
        format.merge(link);
        cursor.insertText(text.isEmpty() ? address : text, format);
        // Typing on after a fresh link must not lengthen it.
        QTextCharFormat after = format;
        after.setAnchor(false);
        after.setAnchorHref(QString());
        after.setFontUnderline(false);
        after.clearForeground();
        cursor.setCharFormat(after);
    }
    cursor.endEditBlock();
}

void NoteEditor::insertLink()
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    QString selected = cursor.selectedText();
    selected.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    const LinkPrompt prompt
        = promptLink(this, tr("Insert Link"), selected, QStringLiteral("https://"));
    if (!prompt.accepted)
        return;
    applyLinkFormat(
        cursor, prompt.text, prompt.address, cursor.hasSelection() && prompt.text == selected);
    setTextCursor(cursor);
    updateFormatState();
}

std::optional<NoteEditor::LinkRange> NoteEditor::linkAt(int position) const
{
    if (position < 0)
        return std::nullopt;
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return std::nullopt;
    QList<QTextFragment> fragments;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        fragments.append(it.fragment());
    for (int i = 0; i < fragments.size(); ++i) {
        const QTextFragment &fragment = fragments.at(i);
        const int start = fragment.position();
        const int end = start + fragment.length();
        const QTextCharFormat format = fragment.charFormat();
        if (position < start || position > end || !format.isAnchor()
            || format.anchorHref().isEmpty())
            continue;
        // A link whose text is partly bold spans several fragments: take all of it.
        const QString address = format.anchorHref();
        int first = i;
        int last = i;
        const auto sameLink = [&](int index) {
            const QTextCharFormat other = fragments.at(index).charFormat();
            return other.isAnchor() && other.anchorHref() == address;
        };
        while (first > 0 && sameLink(first - 1))
            --first;
        while (last + 1 < fragments.size() && sameLink(last + 1))
            ++last;
        return LinkRange { fragments.at(first).position(),
            fragments.at(last).position() + fragments.at(last).length(), address };
    }
    return std::nullopt;
}

void NoteEditor::openLink(const QString &address)
{
    QString target = address.trimmed();
    if (target.isEmpty())
        return;
    static const QString noteLink = QStringLiteral("brevaro-notes://note/");
    if (target.startsWith(noteLink, Qt::CaseInsensitive)) {
        // Our own scheme means nothing to the desktop: the note is opened here. A fragment or
        // query after the id is dropped.
        const QString id = target.mid(noteLink.size())
                               .section(QLatin1Char('#'), 0, 0)
                               .section(QLatin1Char('?'), 0, 0);
        if (!id.isEmpty() && !id.contains(QLatin1Char('/')))
            emit noteLinkActivated(id);
        return;
    }
    if (QUrl(target).scheme().isEmpty())
        target.prepend(QStringLiteral("https://"));
    QDesktopServices::openUrl(QUrl(target));
}

void NoteEditor::editLinkAt(int position)
{
    const auto link = linkAt(position);
    if (!link || isReadOnly())
        return;
    QTextCursor cursor(document());
    cursor.setPosition(link->start);
    cursor.setPosition(link->end, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    const LinkPrompt prompt = promptLink(this, tr("Edit Link"), text, link->address);
    if (!prompt.accepted || (prompt.text == text && prompt.address == link->address))
        return;
    applyLinkFormat(cursor, prompt.text, prompt.address, prompt.text == text);
    setTextCursor(cursor);
    updateFormatState();
}

void NoteEditor::removeLinkAt(int position)
{
    const auto link = linkAt(position);
    if (!link || isReadOnly())
        return;
    // The default text colour follows the palette, so a later theme change still applies.
    changeCharFormats(document(), link->start, link->end, [](QTextCharFormat &format) {
        format.setAnchor(false);
        format.setAnchorHref(QString());
        format.setFontUnderline(false);
        format.clearForeground();
    });
    updateFormatState();
}

// Paragraph editing keys

void NoteEditor::selectParagraphText()
{
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void NoteEditor::deletePreviousWord()
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        cursor.movePosition(QTextCursor::PreviousWord, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    setTextCursor(cursor);
}

void NoteEditor::duplicateParagraph()
{
    if (isReadOnly())
        return;
    const QTextBlock block = textCursor().block();
    const QList<Run> content = runsOf(block);
    QTextCursor cursor(block);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertBlock(block.blockFormat(), block.charFormat());
    insertRuns(cursor, content);
    cursor.endEditBlock();
    updateFormatState();
}

void NoteEditor::deleteParagraph()
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    const QTextBlock block = cursor.block();
    const QTextBlock previous = block.previous();
    const QTextBlock next = block.next();
    cursor.beginEditBlock();
    cursor.clearSelection();
    if (cursor.currentTable() == nullptr && next.isValid() && previous.isValid()
        && sameFrame(previous, block)) {
        // Removing the separator before the paragraph keeps both neighbours' formats intact.
        cursor.setPosition(block.position() - 1);
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.movePosition(QTextCursor::NextBlock);
    } else if (cursor.currentTable() == nullptr && next.isValid() && sameFrame(block, next)) {
        const QTextBlockFormat nextFormat = next.blockFormat();
        const QTextCharFormat nextChars = next.charFormat();
        cursor.setPosition(block.position());
        cursor.setPosition(next.position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.setBlockFormat(nextFormat);
        cursor.setBlockCharFormat(nextChars);
    } else {
        cursor.setPosition(block.position());
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
    updateFormatState();
}

void NoteEditor::moveParagraphUp()
{
    swapWithAdjacentParagraph(true);
}

void NoteEditor::moveParagraphDown()
{
    swapWithAdjacentParagraph(false);
}

void NoteEditor::swapWithAdjacentParagraph(bool up)
{
    if (isReadOnly())
        return;
    const QTextCursor current = textCursor();
    const QTextBlock block = current.block();
    const QTextBlock other = up ? block.previous() : block.next();
    // Paragraphs never move into, out of or across a table.
    if (!other.isValid() || !sameFrame(block, other))
        return;
    const int offset = current.position() - block.position();
    const QTextBlock first = up ? other : block;
    const QTextBlock second = up ? block : other;
    const QList<Run> firstContent = runsOf(first);
    const QList<Run> secondContent = runsOf(second);
    const QTextBlockFormat firstFormat = first.blockFormat();
    const QTextBlockFormat secondFormat = second.blockFormat();
    const QTextCharFormat firstChars = first.charFormat();
    const QTextCharFormat secondChars = second.charFormat();
    const int firstNumber = first.blockNumber();

    QTextCursor cursor(second);
    cursor.beginEditBlock();
    // The later paragraph first, so the earlier one's positions stay valid.
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.setBlockFormat(firstFormat);
    cursor.setBlockCharFormat(firstChars);
    insertRuns(cursor, firstContent);
    cursor.setPosition(document()->findBlockByNumber(firstNumber).position());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.setBlockFormat(secondFormat);
    cursor.setBlockCharFormat(secondChars);
    insertRuns(cursor, secondContent);
    cursor.endEditBlock();

    const QTextBlock moved = document()->findBlockByNumber(up ? firstNumber : firstNumber + 1);
    QTextCursor result(document());
    result.setPosition(moved.position() + qBound(0, offset, moved.length() - 1));
    setTextCursor(result);
    updateFormatState();
}
