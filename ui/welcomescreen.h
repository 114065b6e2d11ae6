#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The right pane while no note is open and nobody is signed in: the app icon, the product name,
// what to do first, and a button that starts a note.
class WelcomeScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WelcomeScreen)

public:
    explicit WelcomeScreen(QWidget *parent = nullptr);

    QPushButton *newNoteButton() const { return m_newNoteButton; }

signals:
    void newNoteRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyStyle();

    QLabel *m_iconLabel;
    QLabel *m_titleLabel;
    QLabel *m_hintLabel;
    QLabel *m_shortcutLabel;
    QPushButton *m_newNoteButton;
    bool m_styling = false;
};
