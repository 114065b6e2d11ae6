#pragma once

#include <QDateTime>
#include <QFrame>
#include <QTimer>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

// The 40-pixel bar above a note editor: focus toggle, notebook chip, "Updated …" label and the
// note's actions. It only shows state and emits requests; its owner carries them out.
class NoteHeaderBar final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteHeaderBar)

public:
    explicit NoteHeaderBar(QWidget *parent = nullptr);

    // Sharing is available to the signed-in user: the share button is visible exactly then, and
    // enabled only while a note is loaded too.
    void setCanShare(bool canShare);
    bool canShare() const { return m_canShare; }
    // A note is loaded and editable: enables copy, history, more and the chip. False also
    // clears the date label.
    void setHasNote(bool hasNote);
    bool hasNote() const { return m_hasNote; }
    void setFocusMode(bool focusMode);
    bool focusMode() const { return m_focusMode; }
    // Sets the "Include in To-Dos" check without emitting includeInTodosToggled.
    void setIncludeInTodos(bool include);
    bool includeInTodos() const;
    // The share glyph turns to the highlight colour and the tool tip to "Manage sharing".
    void setShared(bool shared);
    bool isShared() const { return m_shared; }
    // Shows "Updated …" for a stored UTC time and keeps the relative date current (once a
    // minute) while the bar is visible; an invalid time clears the label.
    void setUpdatedAt(const QDateTime &updatedAt);
    QDateTime updatedAt() const { return m_updatedAt; }
    // An empty name shows "No notebook".
    void setNotebookName(const QString &name);
    void setChipToolTip(const QString &toolTip);
    // For owners that have nothing to do on a chip click: the chip still names the notebook
    // but no longer looks or acts like a button.
    void setChipClickable(bool clickable);
    bool chipClickable() const { return m_chipClickable; }
    void showFocusToggle(bool show);

    QToolButton *focusToggle() const { return m_focusToggle; }
    QPushButton *notebookChip() const { return m_chip; }
    QLabel *dateLabel() const { return m_dateLabel; }
    QToolButton *copyButton() const { return m_copyButton; }
    QToolButton *shareButton() const { return m_shareButton; }
    QToolButton *historyButton() const { return m_historyButton; }
    QToolButton *moreButton() const { return m_moreButton; }
    QMenu *copyMenu() const { return m_copyMenu; }
    QMenu *moreMenu() const { return m_moreMenu; }
    QAction *includeInTodosAction() const { return m_includeInTodos; }
    QAction *moveToNotebookAction() const { return m_moveToNotebook; }
    QAction *exportAction() const { return m_export; }
    QAction *printAction() const { return m_print; }
    QAction *deleteAction() const { return m_delete; }

signals:
    void focusToggleClicked();
    void notebookChipClicked();
    void copyAsPlainTextRequested();
    void copyAsMarkdownRequested();
    void copyAsHtmlRequested();
    void shareRequested();
    void historyRequested();
    void includeInTodosToggled(bool enabled);
    void moveToNotebookRequested();
    void exportRequested();
    void printRequested();
    void deleteRequested();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QToolButton *makeIconButton(const QString &toolTip, const QString &name);
    void updateEnabledState();
    void applyChipStyle();
    void rebuildIcons();
    void refreshUpdatedText();

    bool m_canShare = false;
    bool m_hasNote = false;
    bool m_shared = false;
    bool m_focusMode = false;
    bool m_chipClickable = true;
    bool m_rebuilding = false;
    QDateTime m_updatedAt;
    QTimer m_updatedTimer;

    QToolButton *m_focusToggle = nullptr;
    QPushButton *m_chip = nullptr;
    QLabel *m_dateLabel = nullptr;
    QToolButton *m_copyButton = nullptr;
    QToolButton *m_shareButton = nullptr;
    QToolButton *m_historyButton = nullptr;
    QToolButton *m_moreButton = nullptr;
    QMenu *m_copyMenu = nullptr;
    QMenu *m_moreMenu = nullptr;
    QAction *m_includeInTodos = nullptr;
    QAction *m_moveToNotebook = nullptr;
    QAction *m_export = nullptr;
    QAction *m_print = nullptr;
    QAction *m_delete = nullptr;
};
