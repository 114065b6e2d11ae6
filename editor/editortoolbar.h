#pragma once

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QToolBar>

class NoteEditor;
class QAction;
class QComboBox;

// The formatting toolbar above a note editor. Its buttons call the editor's commands and their
// checked states follow the editor's formatStateChanged.
class EditorToolbar final : public QToolBar
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EditorToolbar)

public:
    explicit EditorToolbar(QWidget *parent = nullptr);

    void setActive(bool on);
    void setEditor(NoteEditor *editor);
    NoteEditor *editor() const { return m_editor; }

    QAction *boldAction() const { return m_bold; }
    QAction *italicAction() const { return m_italic; }
    QAction *underlineAction() const { return m_underline; }
    QAction *strikeAction() const { return m_strike; }
    QAction *codeAction() const { return m_code; }
    QAction *bulletListAction() const { return m_bulletList; }
    QAction *numberedListAction() const { return m_numberedList; }
    QAction *checkboxListAction() const { return m_checkboxList; }
    QAction *codeBlockAction() const { return m_codeBlock; }
    QAction *blockquoteAction() const { return m_blockquote; }
    QAction *alignLeftAction() const { return m_alignLeft; }
    QAction *alignCenterAction() const { return m_alignCenter; }
    QAction *alignRightAction() const { return m_alignRight; }
    QAction *linkAction() const { return m_link; }
    QAction *dividerAction() const { return m_divider; }
    QAction *tableAction() const { return m_table; }
    QAction *attachmentAction() const { return m_attachment; }
    QComboBox *headingCombo() const { return m_heading; }

    void updateState(bool bold, bool italic, bool underline, bool strike, bool code, int heading,
        const QString &listType, bool codeBlock, bool blockquote, bool inTable,
        Qt::Alignment alignment);

protected:
    void changeEvent(QEvent *event) override;

private:
    QAction *addButton(const QString &name, const QString &toolTip, bool checkable);
    void rebuildIcons();
    void onHeadingChanged(int index);
    void onAlign(Qt::Alignment alignment);
    void onInsertLink();
    void onInsertTable();
    void onInsertAttachment();

    QPointer<NoteEditor> m_editor; // not owned
    QList<QMetaObject::Connection> m_editorConnections;
    bool m_updating = false;

    QAction *m_bold = nullptr;
    QAction *m_italic = nullptr;
    QAction *m_underline = nullptr;
    QAction *m_strike = nullptr;
    QAction *m_code = nullptr;
    QComboBox *m_heading = nullptr;
    QAction *m_bulletList = nullptr;
    QAction *m_numberedList = nullptr;
    QAction *m_checkboxList = nullptr;
    QAction *m_codeBlock = nullptr;
    QAction *m_blockquote = nullptr;
    QAction *m_alignLeft = nullptr;
    QAction *m_alignCenter = nullptr;
    QAction *m_alignRight = nullptr;
    QAction *m_link = nullptr;
    QAction *m_divider = nullptr;
    QAction *m_table = nullptr;
    QAction *m_attachment = nullptr;
};
