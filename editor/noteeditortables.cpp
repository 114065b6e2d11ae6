#include "noteeditor.h"

#include "deltadocument.h"
#include "documentpalette.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>

#include <functional>

namespace {

QTextBlock besideTable(QTextTable *table, bool before)
{
    QTextCursor cursor(table->document());
    if (before) {
        cursor.setPosition(table->firstPosition());
        cursor.movePosition(QTextCursor::PreviousBlock);
    } else {
        cursor.setPosition(table->lastPosition());
        cursor.movePosition(QTextCursor::NextBlock);
    }
    return cursor.currentTable() == table ? QTextBlock() : cursor.block();
}

// Runs a structural edit of a table as one undo step. Removing the first row rewrites the
// paragraph before the table, which would lose its placeholder mark and turn into a saved
// blank line; the marks are put back afterwards.
void editTable(QTextTable *table, const std::function<void()> &edit)
{
    bool placeholder[2];
    for (int side = 0; side < 2; ++side) {
        const QTextBlock block = besideTable(table, side == 0);
        placeholder[side] = block.isValid()
            && block.blockFormat().hasProperty(DeltaDocument::TablePlaceholderProperty);
    }
    QTextCursor cursor(table->document());
    cursor.beginEditBlock();
    edit();
    for (int side = 0; side < 2; ++side) {
        const QTextBlock block = besideTable(table, side == 0);
        if (!placeholder[side] || !block.isValid()
            || block.blockFormat().hasProperty(DeltaDocument::TablePlaceholderProperty))
            continue;
        QTextCursor blockCursor(block);
        QTextBlockFormat format = block.blockFormat();
        format.setProperty(DeltaDocument::TablePlaceholderProperty, true);
        blockCursor.setBlockFormat(format);
    }
    cursor.endEditBlock();
}

void clearRowBackground(QTextTable *table, int row)
{
    for (int column = 0; column < table->columns(); ++column) {
        QTextTableCell cell = table->cellAt(row, column);
        QTextCharFormat format = cell.format();
        format.clearBackground();
        cell.setFormat(format);
    }
}

} // namespace

void NoteEditor::insertTable(int rows, int columns, bool header)
{
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    if (rows <= 0 || columns <= 0 || cursor.currentTable())
        return;
    cursor.beginEditBlock();
    cursor.clearSelection();
    // At the end of a paragraph the table goes below it; the empty paragraphs the insertion
    // needs around the table are placeholders, so no blank line is saved with it.
    cursor.movePosition(QTextCursor::EndOfBlock);
    QTextTable *table = DeltaDocument::insertTableAt(
        cursor, rows, columns, DeltaDocument::makeTableFormat(header));
    if (table && header)
        styleHeaderRow(table);
    cursor.endEditBlock();
    if (table)
        setTextCursor(table->cellAt(0, 0).firstCursorPosition());
    setFocus();
    updateFormatState();
}

// Read-only notes are never changed by a table command, whichever menu calls it.
QTextTable *NoteEditor::tableForCommand() const
{
    return isReadOnly() ? nullptr : textCursor().currentTable();
}

void NoteEditor::styleHeaderRow(QTextTable *table)
{
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (int column = 0; column < table->columns(); ++column) {
        QTextTableCell cell = table->cellAt(0, column);
        QTextCharFormat cellFormat = cell.format();
        cellFormat.setBackground(DocumentPalette::tableHeaderBackground());
        cell.setFormat(cellFormat);
        QTextCursor first = cell.firstCursorPosition();
        first.mergeBlockCharFormat(bold);
        if (cell.firstPosition() == cell.lastPosition())
            first.mergeCharFormat(bold);
    }
}

void NoteEditor::insertTableRowAbove()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    const int row = table->cellAt(textCursor()).row();
    editTable(table, [&] {
        table->insertRows(row, 1);
        if (row == 0 && table->format().headerRowCount() > 0) {
            // The new first row is the header now; the old one becomes an ordinary row.
            clearRowBackground(table, 1);
            styleHeaderRow(table);
        }
    });
    updateFormatState();
}

void NoteEditor::insertTableRowBelow()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    const int row = table->cellAt(textCursor()).row();
    editTable(table, [&] {
        table->insertRows(row + 1, 1);
        // New rows copy the row above; below the header they must look like body rows.
        if (row == 0 && table->format().headerRowCount() > 0) {
            clearRowBackground(table, 1);
        }
    });
    updateFormatState();
}

void NoteEditor::insertTableColumnBefore()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    const int column = table->cellAt(textCursor()).column();
    editTable(table, [&] {
        table->insertColumns(column, 1);
        if (table->format().headerRowCount() > 0)
            styleHeaderRow(table);
    });
    updateFormatState();
}

void NoteEditor::insertTableColumnAfter()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    const int column = table->cellAt(textCursor()).column();
    editTable(table, [&] {
        table->insertColumns(column + 1, 1);
        if (table->format().headerRowCount() > 0)
            styleHeaderRow(table);
    });
    updateFormatState();
}

void NoteEditor::deleteTableRow()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    if (table->rows() <= 1) {
        deleteTable();
        return;
    }
    const int row = table->cellAt(textCursor()).row();
    editTable(table, [&] { table->removeRows(row, 1); });
    updateFormatState();
}

void NoteEditor::deleteTableColumn()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    if (table->columns() <= 1) {
        deleteTable();
        return;
    }
    const int column = table->cellAt(textCursor()).column();
    editTable(table, [&] { table->removeColumns(column, 1); });
    updateFormatState();
}

void NoteEditor::deleteTable()
{
    QTextTable *table = tableForCommand();
    if (!table)
        return;
    QTextCursor cursor(document());
    cursor.setPosition(qMax(0, table->firstPosition() - 1));
    cursor.setPosition(
        qMin(table->lastPosition() + 1, document()->characterCount() - 1), QTextCursor::KeepAnchor);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    cursor.endEditBlock();
    setTextCursor(cursor);
    updateFormatState();
}
