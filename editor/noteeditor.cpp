#include "noteeditor.h"

#include "attachmentrenderer.h"
#include "attachmentrepository.h"
#include "deltadocument.h"
#include "dividerrenderer.h"
#include "fontscale.h"
#include "unsupportedcontentrenderer.h"
#include "wordcounter.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>

#include <QTextDocument>
#include <QTextTable>
#include <QToolTip>
#include <utility>

NoteEditor::NoteEditor(QWidget *parent)
    : QTextEdit(parent),
      m_delta(new DeltaDocument(this)),
      m_dividerRenderer(new DividerRenderer(this)),
      m_unsupportedRenderer(new UnsupportedContentRenderer(this))
{
    setDocument(m_delta->document());
    document()->documentLayout()->registerHandler(
        DeltaDocument::DividerObjectType, m_dividerRenderer);
    document()->documentLayout()->registerHandler(
        DeltaDocument::TableObjectType, m_unsupportedRenderer);
    document()->documentLayout()->registerHandler(
        DeltaDocument::UnknownObjectType, m_unsupportedRenderer);
    setAcceptRichText(true);
    setTabChangesFocus(false);
    setAccessibleName(tr("Note text"));
    viewport()->setMouseTracking(true);
    QFont bodyFont = font();
    bodyFont.setPixelSize(FontScale::scaledPixels(16));
    setFont(bodyFont);
    setReadOnly(true);
    setPlaceholderFor(false);

    m_autosaveTimer.setSingleShot(true);
    m_autosaveTimer.setInterval(AutosaveDelayMs);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &NoteEditor::onAutosaveTimeout);
    m_autosaveCeiling.setSingleShot(true);
    m_autosaveCeiling.setInterval(AutosaveCeilingMs);
    connect(&m_autosaveCeiling, &QTimer::timeout, this, &NoteEditor::onAutosaveTimeout);
    m_saveRetryTimer.setSingleShot(true);
    m_saveRetryTimer.setInterval(SaveRetryMs);
    connect(&m_saveRetryTimer, &QTimer::timeout, this, &NoteEditor::onAutosaveTimeout);
    connect(m_delta, &DeltaDocument::contentsChanged, this, &NoteEditor::onContentsChanged);
    connect(this, &QTextEdit::cursorPositionChanged, this, &NoteEditor::updateFormatState);
}

NoteEditor::~NoteEditor()
{
    // The layout outlives nothing here, but unregister so it never calls a dead handler.
    if (document() && document()->documentLayout()) {
        document()->documentLayout()->unregisterHandler(DeltaDocument::DividerObjectType);
        document()->documentLayout()->unregisterHandler(DeltaDocument::TableObjectType);
        document()->documentLayout()->unregisterHandler(DeltaDocument::UnknownObjectType);
        document()->documentLayout()->unregisterHandler(DeltaDocument::AttachmentObjectType);
    }
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
    m_autosaveCeiling.stop();
    m_saveRetryTimer.stop();
    m_saveFailed = false;
    // No half-built frames: the viewport paints once, after the new content is in place.
    setUpdatesEnabled(false);
    if (m_attachmentRenderer)
        m_attachmentRenderer->clearCache();
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
    // The first conversion of a note converts every paragraph (tens of ms for a long note);
    // done shortly after opening, it is not the first autosave, in the middle of typing.
    QTimer::singleShot(WarmUpDelayMs, this, [this, noteId] {
        if (noteId == m_noteId)
            m_delta->toJson();
    });
}

void NoteEditor::clearNote()
{
    m_loading = true;
    m_noteId.clear();
    m_autosaveTimer.stop();
    m_autosaveCeiling.stop();
    m_saveRetryTimer.stop();
    m_saveFailed = false;
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
    ++m_editCount;
    m_saved = false;
    emit savedStateChanged(false);
    m_autosaveTimer.start();
    if (!m_autosaveCeiling.isActive())
        m_autosaveCeiling.start();
    emit wordCountChanged(wordCount());
}

void NoteEditor::onAutosaveTimeout()
{
    m_autosaveTimer.stop();
    m_autosaveCeiling.stop();
    m_saveRetryTimer.stop();
    m_saveFailed = false;
    m_savePending = false;
    emit noteModified();
    // The owner reported a failure from its handler, or will report how its save went: the
    // text is still only here.
    if (m_saveFailed || std::exchange(m_savePending, false))
        return;
    m_saved = true;
    emit savedStateChanged(true);
}

void NoteEditor::markSaveFailed()
{
    if (m_noteId.isEmpty())
        return;
    m_saveFailed = true;
    m_saved = false;
    m_saveRetryTimer.start();
}

void NoteEditor::markSavedAt(quint64 edits)
{
    if (edits == m_editCount)
        markSaved();
}

void NoteEditor::markSaved()
{
    m_saveRetryTimer.stop();
    m_saveFailed = false;
    if (m_noteId.isEmpty() || m_saved)
        return;
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
    if (event->button() == Qt::LeftButton && !(event->modifiers() & Qt::ControlModifier)) {
        const QTextBlock box = checkboxBlockAt(pos);
        if (box.isValid()) {
            if (!isReadOnly())
                toggleCheckbox(box);
            m_checkboxPressed = true;
            event->accept();
            return;
        }
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

QTextBlock NoteEditor::checkboxBlockAt(const QPoint &viewportPos) const
{
    const QPointF documentPos = QPointF(viewportPos)
        + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QTextBlock block = document()->documentLayout()->blockWithMarkerAt(documentPos);
    const auto marker = block.blockFormat().marker();
    if (marker != QTextBlockFormat::MarkerType::Checked
        && marker != QTextBlockFormat::MarkerType::Unchecked)
        return {};
    return block;
}

void NoteEditor::toggleCheckbox(const QTextBlock &block)
{
    QTextBlockFormat format = block.blockFormat();
    const bool checked = format.marker() == QTextBlockFormat::MarkerType::Checked;
    // Marker and stored list type change together, so either reading of the item agrees.
    format.setMarker(
        checked ? QTextBlockFormat::MarkerType::Unchecked : QTextBlockFormat::MarkerType::Checked);
    format.setProperty(DeltaDocument::ListTypeProperty,
        checked ? QStringLiteral("unchecked") : QStringLiteral("checked"));
    // A cursor of its own: the user's cursor and selection stay where they are.
    QTextCursor cursor(block);
    cursor.beginEditBlock();
    cursor.setBlockFormat(format);
    cursor.endEditBlock();
    updateFormatState();
}

void NoteEditor::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_checkboxPressed && event->button() == Qt::LeftButton) {
        m_checkboxPressed = false;
        event->accept();
        return;
    }
    // Qt's text control ticks a box on a release over the box it last saw hovered, and writes
    // that block's format onto the block holding the cursor: another line would change. A drag
    // that ends on a box therefore ends at the start of that item's text instead.
    const QTextBlock box = checkboxBlockAt(event->position().toPoint());
    if (box.isValid()) {
        const QPointF textStart = cursorRect(QTextCursor(box)).center();
        QMouseEvent moved(event->type(), textStart, viewport()->mapToGlobal(textStart),
            event->button(), event->buttons(), event->modifiers(), event->pointingDevice());
        QTextEdit::mouseReleaseEvent(&moved);
        event->setAccepted(moved.isAccepted());
        return;
    }
    QTextEdit::mouseReleaseEvent(event);
}

void NoteEditor::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second click of a quick pair on a box arrives as a press, which ticked it already,
    // and then as this event: it must not reach the text control's word selection.
    if (event->button() == Qt::LeftButton
        && checkboxBlockAt(event->position().toPoint()).isValid()) {
        m_checkboxPressed = true;
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_tripleClickClock.start();
        m_doubleClickPos = event->position().toPoint();
        if (m_attachments) {
            const QString id = attachmentIdAt(m_doubleClickPos);
            if (!id.isEmpty() && openAttachmentByDoubleClick(id)) {
                event->accept();
                return;
            }
        }
    }
    QTextEdit::mouseDoubleClickEvent(event);
}

void NoteEditor::mouseMoveEvent(QMouseEvent *event)
{
    QTextEdit::mouseMoveEvent(event);
    const int position = hitPosition(event->position().toPoint());
    const bool overAttachment = m_attachments && !attachmentIdAtPosition(position).isEmpty();
    const bool overLink = (event->modifiers() & Qt::ControlModifier) && position >= 0
        && linkAt(position).has_value();
    viewport()->setCursor(overAttachment || overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
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
        QString attachmentTip = attachmentToolTip(attachmentIdAtPosition(position));
        if (!attachmentTip.isEmpty()) {
            // File names come from other devices and imports: never let one read as markup.
            if (Qt::mightBeRichText(attachmentTip))
                attachmentTip = Qt::convertFromPlainText(attachmentTip, Qt::WhiteSpaceNormal);
            QToolTip::showText(help->globalPos(), attachmentTip, viewport());
            return true;
        }
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
    const QString attachmentId = m_attachments ? attachmentIdAtPosition(hit) : QString();
    const auto attachment
        = attachmentId.isEmpty() ? std::nullopt : m_attachments->attachmentById(attachmentId);
    const auto link = linkAt(hit >= 0 ? hit : textCursor().position());
    QMenu *menu = nullptr;
    if (attachment) {
        // Remove Attachment looks beside the cursor, so it goes exactly to the click.
        setTextCursor(clicked);
        menu = createAttachmentMenu(attachment->id, attachment->filename);
    } else if (link && !isReadOnly()) {
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
