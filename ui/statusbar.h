#pragma once

#include "writeerror.h"

#include <QStatusBar>
#include <QTimer>

class AppState;
class Database;
class QLabel;
class QProgressBar;
class SyncCloudIcon;

// The bottom bar of the main window and the note windows: where the user is, whether the open
// note is saved, its word count, whether the user is signed in (the cloud glyph) and short
// messages from commands.
class StatusBar final : public QStatusBar
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusBar)

public:
    enum SaveState { NoSaveState = 0, Saving = 1, Saved = 2, NotSaved = 3 };

    static constexpr int SavingDelayMs = 1500;

    explicit StatusBar(QWidget *parent = nullptr);

    // A negative count shows the text alone.
    void setLocation(const QString &text, int count);
    // Unsaved edits show "Saving..." only when they stay unsaved for a while; saving shows
    // "Saved" until the next edit.
    void setSaved(bool saved);
    // A save failed: says so, and why, until a save goes through (setSaved(true)); further
    // edits do not hide it.
    void setSaveFailed(const WriteError &error);
    static QString saveFailureText(const WriteError &error);
    void setWordCount(int count);
    void showMessage(const QString &text, int milliseconds);
    // Signed out: the plain cloud, "Not signed in"; signed in: `syncState` (a SyncEngine state)
    // when there is a sync engine (>= 0), else the tick with "Signed in".
    void setSignedIn(bool signedIn, int syncState = -1);
    // A SyncEngine state as glyph and tool tip.
    void setSyncState(int syncState);
    // The engine's progress: the syncing glyph, the step and its counts in the tool tip.
    void setSyncProgress(const QString &label, int current, int total);
    // Shows the sign-in and sync state of `appState` from now on: the glyph with its tool tip,
    // and the step of a cycle that takes long beside the busy bar.
    void followSync(AppState *appState);
    // A cycle running this long shows its step beside the busy bar.
    static constexpr int SyncProgressDelayMs = 1000;

    // The first build of the search index, when it is still running a second after it
    // started: "Indexing notes for search" with the share done, until it completes.
    void followSearchIndex(Database *database);
    static constexpr int SearchIndexProgressDelayMs = 1000;

    // A long task's text beside the busy bar, until hideProgress or showMessage.
    void showProgress(const QString &text);
    void hideProgress();

    QString locationText() const;
    QString saveAndWordsText() const;
    SaveState saveState() const { return m_saveState; }
    SyncCloudIcon *syncIcon() const { return m_syncIcon; }
    QLabel *progressLabel() const { return m_progressLabel; }
    QProgressBar *busyBar() const { return m_busyBar; }

private:
    void render();

    QLabel *m_locationLabel;
    QLabel *m_progressLabel;
    QProgressBar *m_busyBar;
    QLabel *m_saveLabel;
    QLabel *m_separatorLabel;
    SyncCloudIcon *m_syncIcon;
    SaveState m_saveState = NoSaveState;
    WriteError m_saveError;
    int m_wordCount = -1;
    QTimer m_saveTimer;
    AppState *m_appState = nullptr; // not owned
    QTimer m_syncProgressDelay;
    QString m_syncStep;
    bool m_showingSyncProgress = false;
    bool m_showingIndexProgress = false;
};
