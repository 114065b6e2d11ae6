#pragma once

#include <QWidget>

class AppState;
class NoteListWidget;
class QLabel;

// The notes shared with the user, or the notes the user shares; one window per mode.
class SharedScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SharedScreen)

public:
    enum Mode {
        SharedWithMe = 0,
        SharedByMe = 1,
    };

    SharedScreen(AppState *appState, Mode mode, QWidget *parent = nullptr);

    Mode mode() const { return m_mode; }
    void refresh();

private:
    AppState *m_appState; // not owned
    Mode m_mode;
    NoteListWidget *m_noteList;
    QLabel *m_emptyLabel;
};
