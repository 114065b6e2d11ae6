#pragma once

#include <QStatusBar>
#include <QTimer>

class QLabel;
class SyncCloudIcon;

// The bottom bar of the main window and the note windows: where the user is, whether the open
// note is saved, its word count, whether the user is signed in (the cloud glyph) and short
// messages from commands.
class StatusBar final : public QStatusBar
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusBar)

public:
    enum SaveState { NoSaveState = 0, Saving = 1, Saved = 2 };

    static constexpr int SavingDelayMs = 1500;

    explicit StatusBar(QWidget *parent = nullptr);

    // A negative count shows the text alone.
    void setLocation(const QString &text, int count);
    // Unsaved edits show "Saving..." only when they stay unsaved for a while; saving shows
    // "Saved" until the next edit.
    void setSaved(bool saved);
    void setWordCount(int count);
    void showMessage(const QString &text, int milliseconds);
    // Signed out: the plain cloud, "Not signed in"; signed in: the tick, "Signed in".
    void setSignedIn(bool signedIn);

    QString locationText() const;
    QString saveAndWordsText() const;
    SaveState saveState() const { return m_saveState; }
    SyncCloudIcon *syncIcon() const { return m_syncIcon; }

private:
    void render();

    QLabel *m_locationLabel;
    QLabel *m_saveLabel;
    QLabel *m_separatorLabel;
    SyncCloudIcon *m_syncIcon;
    SaveState m_saveState = NoSaveState;
    int m_wordCount = -1;
    QTimer m_saveTimer;
};
