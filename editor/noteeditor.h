#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPoint>
#include <QString>
#include <QTextEdit>
#include <QTimer>

#include <optional>

class AttachmentRenderer;
class AttachmentRepository;
class DeltaDocument;
class DividerRenderer;
class UnsupportedContentRenderer;
class QMenu;
class QTextBlock;
class QTextTable;

// The rich-text widget that edits one note. It never writes to storage: when the note needs
// saving it emits noteModified and the owner reads content().
class NoteEditor final : public QTextEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteEditor)

public:
    struct TablePrompt
    {
        int rows = 3;
        int columns = 3;
        bool header = true;
        bool accepted = false;
    };

    struct LinkPrompt
    {
        QString text;
        QString address;
        bool accepted = false;
    };

    struct LinkRange
    {
        int start = 0;
        int end = 0;
        QString address;
    };

    static constexpr int AutosaveDelayMs = 1000;
    // While changes keep coming, a note is saved at the latest this long after its first
    // unsaved change: a crash during a long burst of typing loses only seconds.
    static constexpr int AutosaveCeilingMs = 5000;
    // After a failed save the edits stay unsaved and the save is tried again this often, or a
    // second after the next change, whichever comes first.
    static constexpr int SaveRetryMs = 3000;
    // A moment after a note is shown its content is converted once, so that the saves while
    // typing convert only the paragraphs that changed.
    static constexpr int WarmUpDelayMs = 250;

    explicit NoteEditor(QWidget *parent = nullptr);
    ~NoteEditor() override;

    // Shows a note. Without force, the editor's own just-saved content for the same note is
    // ignored so that the cursor does not jump; reloading the same note keeps cursor and scroll.
    void setNote(const QString &noteId, const QString &content, bool force = false);
    void clearNote();
    QString noteId() const { return m_noteId; }
    bool hasNote() const { return !m_noteId.isEmpty(); }
    bool isSaved() const { return m_saved; }
    // The owner could not store the content (disk full, read-only, locked): the editor stays
    // unsaved, noteModified comes again after SaveRetryMs, and no "saved" is reported. Called
    // from the owner's noteModified handler or after a save the owner started itself.
    void markSaveFailed();
    // A save after a failed one went through: the edits are saved.
    void markSaved();
    bool saveFailed() const { return m_saveFailed; }
    // Called from the owner's noteModified handler when the save finishes later: the editor
    // does not report "saved" until markSavedAt() with the edit count the save started at
    // (edits made meanwhile keep it unsaved), or markSaveFailed().
    void markSavePending() { m_savePending = true; }
    void markSavedAt(quint64 edits);
    // Counts changes of the content; what a pending save saw.
    quint64 editCount() const { return m_editCount; }
    // The document as delta text; the owner stores this.
    QString content() const;
    int wordCount() const;
    DeltaDocument *deltaDocument() const { return m_delta; }
    // Narrows the text column by this many pixels on each side (focus mode keeps lines
    // readable); the scroll bars stay at the widget's edges.
    void setSideMargins(int pixels) { setViewportMargins(pixels, 0, pixels, 0); }

    void toggleBold();
    void toggleItalic();
    void toggleUnderline();
    void toggleStrikethrough();
    void toggleInlineCode();

    void setHeading(int level);
    void toggleBlockquote();
    void toggleCodeBlock();
    void toggleList(const QString &type);
    void toggleBulletList();
    void toggleNumberedList();
    void toggleCheckboxList();
    // Hides QTextEdit::setAlignment: applies to every selected paragraph in one undo step.
    void setAlignment(Qt::Alignment alignment);

    void insertDivider();
    static TablePrompt promptInsertTable(QWidget *parent);
    void insertTable(int rows, int columns, bool header);
    void insertLink();
    static LinkPrompt promptLink(
        QWidget *parent, const QString &title, const QString &text, const QString &address);
    // Inserts delta operations at the cursor in one undo step (paste).
    void insertDelta(const QJsonArray &ops);

    // Attachments need the store; without it every attachment operation does nothing.
    void setAttachmentRepository(AttachmentRepository *repository);
    AttachmentRepository *attachmentRepository() const { return m_attachments; }
    AttachmentRenderer *attachmentRenderer() const { return m_attachmentRenderer; }
    // Redraws every attachment from the store (after sync brought files or rows).
    void refreshAttachments();
    void insertAttachment();
    bool insertAttachmentFromPath(const QString &path);
    // Opens a temporary copy with the desktop's handler for its type.
    bool openAttachment(const QString &id, const QString &filename);
    void saveAttachmentAs(const QString &id, const QString &filename);
    // Writes the attachment's content to a file the user chose; false when nothing was written.
    bool writeAttachmentTo(const QString &id, const QString &path);
    void copyAttachmentFile(const QString &id, const QString &filename);
    void removeAttachment(const QString &id);
    // The id of the attachment object under a viewport point, or empty.
    QString attachmentIdAt(const QPoint &point) const;
    // "12.5 KB" or "3.0 MB".
    static QString attachmentSizeText(qint64 bytes);
    QString attachmentToolTip(const QString &id) const;

    std::optional<LinkRange> linkAt(int position) const;
    void openLink(const QString &address);
    void editLinkAt(int position);
    void removeLinkAt(int position);

    void insertTableRowAbove();
    void insertTableRowBelow();
    void insertTableColumnBefore();
    void insertTableColumnAfter();
    void deleteTableRow();
    void deleteTableColumn();
    void deleteTable();

    void selectParagraphText();
    void deletePreviousWord();
    void duplicateParagraph();
    void deleteParagraph();
    void moveParagraphUp();
    void moveParagraphDown();

signals:
    void noteModified();
    // A Ctrl+click on a link to another note ("brevaro-notes://note/<id>"); the window decides
    // how to show it.
    void noteLinkActivated(const QString &noteId);
    void savedStateChanged(bool saved);
    void wordCountChanged(int count);
    void cursorFormatChanged();
    void formatStateChanged(bool bold, bool italic, bool underline, bool strike, bool code,
        int heading, const QString &listType, bool codeBlock, bool blockquote, bool inTable,
        Qt::Alignment alignment);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    void onContentsChanged();
    void onAutosaveTimeout();
    void updateFormatState();
    bool handleShortcut(QKeyEvent *event);
    bool handleReturn();
    bool handleBackspace();
    bool moveToAdjacentCell(bool forward);
    void toggleBlockProperty(int property);
    void restyleBlock(QTextCursor &cursor, QTextBlockFormat format);
    void applyLinkFormat(
        QTextCursor &cursor, const QString &text, const QString &address, bool textUnchanged);
    void swapWithAdjacentParagraph(bool up);
    void styleHeaderRow(QTextTable *table);
    QTextTable *tableForCommand() const;
    QTextCharFormat formatAtSelectionStart() const;
    // The character position under a viewport point, or -1 off the text.
    int hitPosition(const QPoint &viewportPos) const;
    // The checkbox item whose drawn box is under a viewport point, or an invalid block.
    QTextBlock checkboxBlockAt(const QPoint &viewportPos) const;
    void toggleCheckbox(const QTextBlock &block);
    void setPlaceholderFor(bool hasNote);
    // The attachment id of the object at a document position (or the one before it).
    QString attachmentIdAtPosition(int position) const;
    // Shows an image attachment in the viewer; false when its content does not decode.
    bool showImageAttachment(const QString &id, const QString &filename);
    // The double-click rule: false leaves the click to the default word selection.
    bool openAttachmentByDoubleClick(const QString &id);
    // Whether any attachment object in the document still refers to the id.
    bool documentRefersToAttachment(const QString &id) const;
    // A copy of the attachment in the temporary directory, or empty.
    QString writeTemporaryCopy(const QString &id, const QString &filename, bool logFailures);
    QMenu *createAttachmentMenu(const QString &id, const QString &filename);

    DeltaDocument *m_delta = nullptr;
    DividerRenderer *m_dividerRenderer = nullptr;
    UnsupportedContentRenderer *m_unsupportedRenderer = nullptr;
    AttachmentRepository *m_attachments = nullptr; // not owned
    AttachmentRenderer *m_attachmentRenderer = nullptr;
    QString m_noteId;
    bool m_loading = false;
    bool m_saved = true;
    bool m_saveFailed = false;
    bool m_savePending = false;
    quint64 m_editCount = 0;
    QTimer m_autosaveTimer;
    QTimer m_autosaveCeiling;
    QTimer m_saveRetryTimer;
    QElapsedTimer m_tripleClickClock;
    QPoint m_doubleClickPos;
    // Set by a press on a checkbox: its release must not reach the text control.
    bool m_checkboxPressed = false;
};
