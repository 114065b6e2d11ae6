#include "noteeditor.h"

#include "converters.h"
#include "deltadocument.h"
#include "deltaformat.h"

#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFrame>

#include <memory>

namespace {

const QString MarkdownMime = QStringLiteral("text/markdown");
// The editor's own copy format: the selection as delta text, so copy and paste inside the
// program keeps checkboxes, quotes, code blocks and dividers that HTML cannot carry.
const QString DeltaMime = QStringLiteral("application/x-brevaro-notes-delta");

} // namespace

void NoteEditor::insertDelta(const QJsonArray &ops)
{
    if (ops.isEmpty() || isReadOnly())
        return;
    DeltaDocument source;
    source.document()->setDefaultFont(document()->defaultFont());
    source.setDelta(ops);
    QTextDocument *doc = source.document();
    int end = doc->characterCount() - 1;
    while (end > 0 && doc->characterAt(end - 1) == QChar::ParagraphSeparator)
        --end;
    if (end <= 0)
        return;
    QTextCursor all(doc);
    all.setPosition(end, QTextCursor::KeepAnchor);
    const QTextDocumentFragment fragment = all.selection();

    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    // Tables cannot nest: inside a cell, pasted content arrives as its text.
    const bool hasTable = !doc->rootFrame()->childFrames().isEmpty();
    if (cursor.currentTable() && hasTable)
        cursor.insertText(fragment.toPlainText());
    else
        cursor.insertFragment(fragment);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
    updateFormatState();
}

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
