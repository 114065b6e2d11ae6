#pragma once

#include "notecommands.h"

#include <QMainWindow>
#include <QString>

class AppState;
class EditorToolbar;
class FindBar;
class NoteEditor;
class NoteHeaderBar;
class QAction;
class StatusBar;

// A detached top-level window that edits one note: header bar, formatting toolbar, editor and
// status bar. It saves like the main window, follows changes made in other views, remembers its
// geometry per note and deletes itself when closed.
class NoteWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteWindow)

public:
    NoteWindow(AppState *appState, const QString &noteId, QWidget *parent = nullptr);
    ~NoteWindow() override;

    // The window for a note that exists and is not in the trash; otherwise null, with a log
    // line, so that nobody is shown an empty window for a note that is not there.
    static NoteWindow *createForNote(AppState *appState, const QString &noteId);

    QString noteId() const { return m_noteId; }
    NoteHeaderBar *headerBar() const { return m_headerBar; }
    EditorToolbar *toolbar() const { return m_toolbar; }
    NoteEditor *editor() const { return m_editor; }
    StatusBar *noteStatusBar() const { return m_statusBar; }
    FindBar *findBar() const { return m_findBar; }
    // The body as it was when loaded or last snapshotted.
    QString lastSavedBody() const { return m_lastSavedBody; }
    QAction *moveToTrashAction() const { return m_moveToTrashAction; }

    // Writes the editor's unsaved edits to the note.
    void saveNote();
    // Keeps the editor's body as a snapshot when it differs from the last loaded or kept one.
    void snapshotIfChanged();
    // File > "Save Snapshot": saves, then keeps the saved body in the version history.
    void saveSnapshot();
    void loadNote(bool forceReload = false);
    // Moves the note to the trash; with `confirm`, asks first. Closes the window when done.
    void moveToTrash(bool confirm);

signals:
    void windowClosed(const QString &noteId);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // saveNote(); an autosave hands a large note to the background writer.
    void storeNote(bool autosave);
    void backgroundSaveDone(bool saved, const Note &stored, const QString &body, quint64 edits);
    void buildMenus();
    void connectHeaderBar();
    void connectAppState();
    void restoreStoredGeometry();
    void refreshTitle();
    void refreshNotebookName();
    void showNotebookName(const QString &notebookId);
    bool editorEditable() const;
    bool hasOwnUnsavedEdits() const;
    void copyAs(int format);
    void showVersionHistory();
    void print();
    void exportNote();
    void moveToNotebook();
    NoteCommands::StatusMessage statusMessage();
    QString geometryKey() const;

    AppState *m_appState; // not owned
    QString m_noteId;
    NoteHeaderBar *m_headerBar = nullptr;
    EditorToolbar *m_toolbar = nullptr;
    NoteEditor *m_editor = nullptr;
    FindBar *m_findBar = nullptr;
    StatusBar *m_statusBar = nullptr;
    QAction *m_moveToTrashAction = nullptr;
    QString m_lastSavedBody;
    // The body as this window last read or wrote it: a different stored body at save time
    // means another view wrote the note meanwhile.
    QString m_storedBody;
    bool m_closed = false;
};
