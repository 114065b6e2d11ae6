#pragma once

#include <QLabel>
#include <QTimer>

// The cloud glyph at the right of the status bar: signed out, or the state of sync, in a colour
// of its own, with a tool tip that says it in words.
class SyncCloudIcon final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncCloudIcon)

public:
    enum IconState {
        NotSignedIn = 0,
        Synced = 1,
        UnsyncedChanges = 2,
        Syncing = 3,
        SyncError = 4,
        Offline = 5,
    };

    // A sync that ends at once still shows the syncing glyph this long.
    static constexpr int SyncingMinimumMs = 600;

    explicit SyncCloudIcon(QWidget *parent = nullptr);

    void setIconState(IconState state, const QString &toolTip);
    IconState iconState() const { return m_state; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void display(IconState state, const QString &toolTip);
    void applyStyle();

    IconState m_state = NotSignedIn;
    QTimer m_syncingTimer;
    bool m_hasDeferred = false;
    IconState m_deferredState = NotSignedIn;
    QString m_deferredToolTip;
    bool m_styling = false;
};
