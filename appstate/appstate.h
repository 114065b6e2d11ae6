#pragma once

#include "serviceconfig.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class AttachmentRepository;
class Database;
class NoteRepository;
class NotebookRepository;
class PreferencesRepository;
class SnapshotRepository;
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
    // hands it in. The window is shown by AppState; if it has a windowClosed(QString) signal,
    // its entry is dropped when that fires (and always when the window is destroyed).
    using NoteWindowFactory = std::function<QWidget *(AppState *state, const QString &noteId)>;

    explicit AppState(QObject *parent = nullptr);
    ~AppState() override;

    // Opens and migrates the database and builds every service. False only when the database
    // cannot be opened or migrated.
    bool initialize();

    Database *database() const { return m_database; }
    NoteRepository *notes() const { return m_notes; }
    NotebookRepository *notebooks() const { return m_notebooks; }
    PreferencesRepository *preferences() const { return m_preferences; }
    SnapshotRepository *snapshots() const { return m_snapshots; }
    AttachmentRepository *attachments() const { return m_attachments; }
    ThemeManager *themeManager() const { return m_themeManager; }
    const ServiceConfig &serviceConfig() const { return m_serviceConfig; }

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

signals:
    void databaseReady();
    void currentNotebookChanged(const QString &notebookId);
    void currentNoteChanged(const QString &noteId);
    void notesChanged();
    void notebooksChanged();
    void noteUpdatedExternally(const QString &noteId, QObject *source);
    void noteDeletedExternally(const QString &noteId);

private slots:
    void onNoteWindowClosed(const QString &noteId);

private:
    void forgetNoteWindow(const QString &noteId, const QWidget *window);

    Database *m_database = nullptr;
    NoteRepository *m_notes = nullptr;
    NotebookRepository *m_notebooks = nullptr;
    PreferencesRepository *m_preferences = nullptr;
    SnapshotRepository *m_snapshots = nullptr;
    AttachmentRepository *m_attachments = nullptr;
    ThemeManager *m_themeManager = nullptr;
    ServiceConfig m_serviceConfig;
    QString m_currentNotebookId;
    QString m_currentNoteId;
    QHash<QString, QPointer<QWidget>> m_noteWindows;
    NoteWindowFactory m_noteWindowFactory;
};
