#pragma once

#include "serviceconfig.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace BrevAccount {
class Client;
class TokenStore;
} // namespace BrevAccount

class AttachmentRepository;
class Database;
class NoteRepository;
class NoteWriter;
class NoteSharingService;
class NotebookRepository;
class PreferencesRepository;
class QThread;
class RecoveryFile;
class SnapshotRepository;
class SyncEngine;
class ThemeManager;
class QWidget;

// Owns the database, the repositories and the theme, remembers the current notebook and note
// across runs, tracks detached note windows and re-broadcasts data changes to every window.
class AppState final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppState)

public:
    // Builds the window that shows one note. It lives above this library, so the executable
    // hands it in. The window is shown by AppState and forgotten when it is destroyed; the
    // factory connects the window's closing to noteWindowClosed.
    using NoteWindowFactory = std::function<QWidget *(AppState *state, const QString &noteId)>;

    // Over the user's data directory (NOTES_DATA_DIR or the per-user one).
    explicit AppState(QObject *parent = nullptr);
    // Over `dataDirectory`, made when missing.
    explicit AppState(const QString &dataDirectory, QObject *parent = nullptr);
    ~AppState() override;

    // Before initialize: where the account client keeps the sign-in tokens. Without one it uses
    // the platform's credential store (tests hand in their own, away from the user's keyring).
    void setTokenStore(std::unique_ptr<BrevAccount::TokenStore> store);
    // Before initialize: the service addresses to use instead of the environment's.
    void setServiceConfig(const ServiceConfig &config);

    // Opens, checks and migrates the database and builds every service. False only when the
    // database cannot be opened, fails SQLite's quick check or cannot be migrated; then
    // databaseFailure() says which and the file is left exactly as it was. A file of
    // DeferredCheckBytes or more is checked later, by startDeferredCheck.
    bool initialize();

    // SQLite's quick check reads the whole file: above this size it would hold up the first
    // window, so it runs once the window is up.
    static constexpr qint64 DeferredCheckBytes = 32 * 1024 * 1024;
    // Before initialize: files of `bytes` or more are checked later; a negative value checks
    // every file before opening it (tests lower it, a restart after a failed check uses -1).
    void setDeferredCheckThreshold(qint64 bytes) { m_deferredCheckBytes = bytes; }
    // Runs the check initialize left for later on a thread of its own with a read-only
    // connection, and reports with databaseChecked. A failed check holds every write (the
    // connection turns query-only, so saves fail and keep their text) and is announced by
    // databaseCheckFailed with databaseFailure() filled in. Does nothing when no check waits.
    void startDeferredCheck();
    bool isDeferredCheckPending() const { return m_deferredCheckPending; }

    struct DatabaseFailure
    {
        enum class Kind { None, CannotOpen, Damaged, MigrationFailed };
        Kind kind = Kind::None;
        QString path;
        // SQLite's own words, for the log and the details of the message.
        QString detail;
        // Found by the check that runs once the window is up, on a file already in use.
        bool foundInUse = false;
    };
    DatabaseFailure databaseFailure() const { return m_databaseFailure; }
    // After a failed initialize: renames the database file (with its WAL and shared-memory
    // files) to a dated name beside it, so the next initialize starts a new collection. The
    // file is never deleted or written. The new path, or empty when the rename failed.
    QString setAsideDatabase();
    // After a successful initialize: reads the notes, notebooks and snapshots SQLite can still
    // recover from the set-aside file into this collection. The number of notes brought back,
    // or -1 when nothing could be read (logged).
    int recoverNotesFrom(const QString &damagedPath);

    // Where windows keep note texts the database would not take.
    RecoveryFile *recoveryFile() const { return m_recoveryFile.get(); }

    QString dataDirectory() const { return m_dataDirectory; }
    Database *database() const { return m_database.get(); }
    NoteRepository *notes() const { return m_notes.get(); }
    NotebookRepository *notebooks() const { return m_notebooks.get(); }
    PreferencesRepository *preferences() const { return m_preferences.get(); }
    SnapshotRepository *snapshots() const { return m_snapshots.get(); }
    AttachmentRepository *attachments() const { return m_attachments.get(); }
    // Every change of a note or notebook goes through it.
    NoteWriter *writer() const { return m_writer.get(); }
    ThemeManager *themeManager() const { return m_themeManager.get(); }
    const ServiceConfig &serviceConfig() const { return m_serviceConfig; }
    // Sign-in state, tokens and the auth, account and sync API clients.
    BrevAccount::Client *accountClient() const { return m_accountClient.get(); }
    bool isSignedIn() const;
    // Keeps the store and the notes server in step while the user is signed in.
    SyncEngine *syncEngine() const { return m_syncEngine.get(); }
    // "auto_sync" (default on) and "sync_interval_minutes" (1 to 120, default 5).
    bool autoSyncEnabled() const;
    int syncIntervalMinutes() const;

    // Sharing of notes and of notebooks with group members, over the sync API.
    NoteSharingService *noteSharing() const { return m_noteSharing.get(); }
    NoteSharingService *notebookSharing() const { return m_notebookSharing.get(); }

    // Sharing is available: the signed-in user's group has other members.
    bool canShare() const { return m_canShare; }
    void refreshCanShare();

    QString currentNotebookId() const { return m_currentNotebookId; }
    void setCurrentNotebookId(const QString &id);
    QString currentNoteId() const { return m_currentNoteId; }
    void setCurrentNoteId(const QString &id);

    void notifyNoteUpdated(const QString &noteId, QObject *source);

    void setNoteWindowFactory(NoteWindowFactory factory);
    bool noteWindowsAvailable() const { return bool(m_noteWindowFactory); }
    // Inserts a new empty note in the current notebook and opens it in its own window. Returns
    // the window, or null when the insert failed or no window could be made.
    QWidget *createNoteInWindow();
    // Raises the note's window, creating it first when it is not open.
    QWidget *openNoteWindow(const QString &noteId);
    QStringList openNoteWindowIds() const;
    // Reopens the note windows listed in "restore_note_windows" at the last quit, then forgets
    // the list.
    void restoreNoteWindows();
    // Drops the note's window from the open ones (connected to the window's closing).
    void noteWindowClosed(const QString &noteId);

signals:
    void databaseReady();
    void databaseChecked(bool sound);
    void databaseCheckFailed();
    void currentNotebookChanged(const QString &notebookId);
    void currentNoteChanged(const QString &noteId);
    void notesChanged();
    // Which notes a write changed (forwarded from NoteRepository::notesWritten), sent just
    // before notesChanged.
    void notesWritten(const QStringList &noteIds);
    void notebooksChanged();
    void canShareChanged(bool canShare);
    void noteUpdatedExternally(const QString &noteId, QObject *source);
    void noteDeletedExternally(const QString &noteId);

private:
    void forgetNoteWindow(const QString &noteId, const QWidget *window);
    void startAccountClient();
    void setCanShare(bool canShare);
    void startSyncEngine();
    // Starts, re-times or stops the periodic sync after a sign-in or preference change.
    void applyAutoSync(bool signInChanged);
    // A local change: a debounced sync, when signed in with automatic sync on.
    void scheduleAutomaticSync();

    QString m_dataDirectory;
    std::unique_ptr<RecoveryFile> m_recoveryFile;
    DatabaseFailure m_databaseFailure;
    qint64 m_deferredCheckBytes = DeferredCheckBytes;
    bool m_deferredCheckPending = false;
    QThread *m_checkThread = nullptr; // owned; waited for before the state goes
    // Built in this order by initialize and destroyed in the reverse one, so every service
    // goes before what it uses and the database closes last.
    std::unique_ptr<Database> m_database;
    std::unique_ptr<NoteRepository> m_notes;
    std::unique_ptr<NotebookRepository> m_notebooks;
    std::unique_ptr<PreferencesRepository> m_preferences;
    std::unique_ptr<SnapshotRepository> m_snapshots;
    std::unique_ptr<AttachmentRepository> m_attachments;
    std::unique_ptr<NoteWriter> m_writer;
    std::unique_ptr<ThemeManager> m_themeManager;
    std::unique_ptr<BrevAccount::Client> m_accountClient;
    // After the account client, so it goes first: it uses the client's sync API.
    std::unique_ptr<SyncEngine> m_syncEngine;
    std::unique_ptr<NoteSharingService> m_noteSharing;
    std::unique_ptr<NoteSharingService> m_notebookSharing;
    // A note or notebook changed while a sync cycle ran.
    bool m_changedDuringCycle = false;
    ServiceConfig m_serviceConfig;
    bool m_serviceConfigGiven = false;
    std::unique_ptr<BrevAccount::TokenStore> m_tokenStore; // until initialize hands it on
    bool m_canShare = false;
    // Bumped on every sign-in change and group request, so a late group answer is dropped.
    quint64 m_canShareRequest = 0;
    QString m_currentNotebookId;
    QString m_currentNoteId;
    QHash<QString, QPointer<QWidget>> m_noteWindows;
    NoteWindowFactory m_noteWindowFactory;
};
