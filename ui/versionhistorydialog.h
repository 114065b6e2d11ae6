#pragma once

#include <QDialog>
#include <QString>

class AppState;
class NoteEditor;
class QListWidget;
class QPushButton;

// Lists a note's snapshots, previews one read-only and restores one into the note. A restore
// keeps the current content as a snapshot first, then announces the note through
// AppState::notifyNoteUpdated (with this dialog as source) so open views reload it.
class VersionHistoryDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VersionHistoryDialog)

public:
    VersionHistoryDialog(AppState *state, const QString &noteId, QWidget *parent = nullptr);

    QString noteId() const { return m_noteId; }
    QListWidget *snapshotList() const { return m_list; }
    NoteEditor *previewEditor() const { return m_preview; }
    QPushButton *saveSnapshotButton() const { return m_saveButton; }
    QPushButton *restoreButton() const { return m_restoreButton; }

    // Keeps the note's stored body (not unsaved editor content) as a snapshot.
    void saveSnapshotNow();
    // Asks first; the list is refilled afterwards.
    void restoreSelected();

signals:
    // After the note's body was replaced by a snapshot and stored.
    void noteRestored(const QString &noteId);

private:
    // Fills the list; the snapshot of `selectVersion` (when listed) becomes current and is
    // previewed.
    void refill(int selectVersion = -1);
    void showPreviewHint();
    void onCurrentRowChanged(int row);

    AppState *m_state; // not owned
    QString m_noteId;
    QListWidget *m_list = nullptr;
    NoteEditor *m_preview = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_restoreButton = nullptr;
};
