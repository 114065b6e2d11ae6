#pragma once

#include "accountscreen.h"
#include "notecommands.h"
#include "notelistcache.h"
#include "updateflows.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

class AppState;
class EditorToolbar;
class FindBar;
class NoteEditor;
class NoteHeaderBar;
class NoteListWidget;
class NotebookListWidget;
class QAction;
class ReadableColumn;
class QLabel;
class QLineEdit;
class SettingsDialog;
class QMenu;
class QPoint;
class QSplitter;
class QStackedWidget;
class QSystemTrayIcon;
class QVBoxLayout;
class SearchListLoader;
class SearchScreen;
class SharedScreen;
class StatusBar;
class TodosScreen;
class TrashScreen;
class WelcomeScreen;

// The one main window: notebook sidebar, search field and note list, and the editor (or the
// welcome page), with the menus that carry the program's commands, the tray and its own
// geometry. It owns no data; everything goes through the application state.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(AppState *appState, QWidget *parent = nullptr);
    ~MainWindow() override;

    void openNote(const QString &noteId, bool forceReload = false);
    // Stores the editor's text now; a large note's save still running in the background is
    // finished first, so whatever follows (switching notes, closing) knows how it went.
    void saveCurrentNote();
    // The editor's autosave: as saveCurrentNote, but a large note is written in the
    // background so typing goes on while it commits.
    void autosaveCurrentNote();
    void snapshotIfChanged();
    // After a failed save: the editor's text goes to the recovery file before the editor lets
    // go of it. True when there was nothing to keep or it was kept.
    bool keepUnsavedText();
    // File > "Save Snapshot": saves, then keeps the saved body in the version history.
    void saveSnapshot();
    void newNote();
    void deleteCurrentNote(bool confirm);
    void refreshNoteList();
    // False while a search shows its first screenful and the rest is still being read.
    bool hasCompleteNoteList() const { return m_listCache.isComplete(); }
    void refreshNotebookList();
    void showEmptyOrEditor();
    // Shows the sign-in entry while signed out, the account entries while signed in.
    void updateAuthUI();
    // The slim banner over the note list while the last sync found no connection.
    void updateOfflineBanner();
    QLabel *offlineBanner() const { return m_offlineBanner; }

    // View > "Sync Now" and "Force Full Resync…": only while signed in.
    void syncNow();
    void forceFullResync();
    // "Preferences…": the one settings dialog, raised when already open.
    void showSettings();

    // The account commands: the browser sign-in, the account window, signing out.
    void signIn();
    void showAccountScreen();
    void signOut();

    void setFocusMode(bool on);
    bool focusMode() const { return m_focusMode; }
    void setNotebookSidebarVisible(bool visible);
    bool notebookSidebarVisible() const { return m_sidebarVisible; }
    QList<int> normalSplitterSizes() const { return m_normalSplitterSizes; }

    void showTodosScreen();
    void showSearchScreen();
    void showTrashScreen();
    void showSharedScreen(int mode);

    // The note commands of the menus, header bar and context menus.
    void moveOpenNoteToNotebook();
    // `saveFirst`: the header bar exports what the editor shows; the File menu the stored note.
    void exportOpenNote(bool saveFirst);
    void printOpenNote();
    void printPreviewOpenNote();
    void showVersionHistory();
    void newNotebook();
    void showNotebookContextMenu(const QString &notebookId, const QPoint &globalPos);
    void showNoteContextMenu(const QString &noteId, const QPoint &globalPos);
    // Moves the clicked note (not necessarily the open one) to the trash.
    void trashNote(const QString &noteId);
    // File > Quit: remembers the open note and to-dos windows for the next start, then closes
    // every window and leaves the event loop.
    void quitWithBookkeeping();

    AppState *appState() const { return m_appState; }
    QSplitter *splitter() const { return m_splitter; }
    QLineEdit *searchField() const { return m_searchField; }
    NoteListWidget *noteList() const { return m_noteList; }
    NotebookListWidget *notebookList() const { return m_notebookList; }
    NoteEditor *editor() const { return m_editor; }
    EditorToolbar *toolbar() const { return m_toolbar; }
    NoteHeaderBar *headerBar() const { return m_headerBar; }
    ReadableColumn *readableColumn() const { return m_readableColumn; }
    FindBar *findBar() const { return m_findBar; }
    StatusBar *noteStatusBar() const { return m_statusBar; }
    QStackedWidget *pages() const { return m_pages; }
    WelcomeScreen *welcomePage() const { return m_welcomePage; }
    QWidget *editorPage() const { return m_editorPage; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    TodosScreen *todosScreen() const;
    BrevAccount::AccountScreen *accountScreen() const;
    QAction *action(const QString &objectName) const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void backgroundSaveDone(bool saved, const Note &stored, const QString &body, quint64 edits);
    void createMenuBar();
    void createUI();
    void setupConnections();
    void followSearchIndex();
    void showListLocation();
    void setupHeaderBar();
    void restoreWindowState();
    void saveWindowState();
    void applyPaneLayout();
    void applyStenoMode();
    void updateTray();
    void onPreferenceChanged(const QString &key);
    void onFontScaleChanged(int percent);
    void onNotesChanged();
    void onNoteSelected(const QString &noteId);
    void onAuthStateChanged();
    void setupAccountConnections();
    void setupSyncConnections();
    void clearOpenNote();
    void refreshNotebookChip();
    NoteCommands::StatusMessage statusMessage();
    NoteCommands::NoteMenuHooks noteMenuHooks();
    NoteCommands::NotebookMenuHooks notebookMenuHooks();
    void loadSampleNotes();
    void showAbout();
    // Status-bar reporting for the update and release-notes commands of the Help menu.
    BrevUpdate::UpdateCallbacks statusBarUpdateCallbacks();
    bool signedIn() const;
    bool stenoMode() const;
    QString notebookName(const QString &notebookId) const;
    void fillNoteList(QList<NoteListEntry> entries);
    void raiseScreen(QWidget *screen, const QString &title, const QSize &size);
    QAction *addMenuAction(QMenu *menu, const QString &text, const QString &name,
        const QKeySequence &shortcut = {}, Qt::ShortcutContext context = Qt::WindowShortcut);

    AppState *m_appState; // not owned
    QSplitter *m_splitter = nullptr;
    QWidget *m_leftPane = nullptr;
    NotebookListWidget *m_notebookList = nullptr;
    QWidget *m_middlePane = nullptr;
    QVBoxLayout *m_middleLayout = nullptr;
    QWidget *m_searchBox = nullptr;
    QLineEdit *m_searchField = nullptr;
    NoteListWidget *m_noteList = nullptr;
    QLabel *m_offlineBanner = nullptr;
    QWidget *m_rightPane = nullptr;
    QStackedWidget *m_pages = nullptr;
    WelcomeScreen *m_welcomePage = nullptr;
    QWidget *m_editorPage = nullptr;
    NoteHeaderBar *m_headerBar = nullptr;
    EditorToolbar *m_toolbar = nullptr;
    FindBar *m_findBar = nullptr;
    NoteEditor *m_editor = nullptr;
    ReadableColumn *m_readableColumn = nullptr;
    StatusBar *m_statusBar = nullptr;
    QTimer m_searchTimer;

    bool m_focusMode = false;
    bool m_sidebarVisible = true;
    QList<int> m_normalSplitterSizes;
    QSystemTrayIcon *m_trayIcon = nullptr;
    bool m_closeToTray = false;
    QString m_lastSavedBody;

    QPointer<TodosScreen> m_todosScreen;
    QPointer<SearchScreen> m_searchScreen;
    QPointer<TrashScreen> m_trashScreen;
    QPointer<SharedScreen> m_sharedWithMeScreen;
    QPointer<SharedScreen> m_sharedByMeScreen;
    QPointer<BrevAccount::AccountScreen> m_accountScreen;

    QAction *m_focusModeAction = nullptr;
    QAction *m_sidebarAction = nullptr;
    QAction *m_sharedWithMeAction = nullptr;
    QAction *m_sharedByMeAction = nullptr;
    QAction *m_signInAction = nullptr;
    QAction *m_manageAccountAction = nullptr;
    QAction *m_signOutAction = nullptr;
    QAction *m_syncNowAction = nullptr;
    QAction *m_forceResyncAction = nullptr;
    QPointer<SettingsDialog> m_settingsDialog;
    // Tells a session the services ended from one the user ended, which needs no explaining.
    bool m_wasSignedIn = false;
    bool m_signingOut = false;

    // What the list shows, in display order.
    NoteListCache m_listCache;
    // Reads the rest of a search's list after its first screenful is shown.
    SearchListLoader *m_searchLoader = nullptr;
};
