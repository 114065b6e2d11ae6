#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The right pane while no note is open and nobody is signed in: the app icon, the product name,
// what to do first, a button that starts a note, and the choice between signing in (to sync
// across devices) and going on without an account.
class WelcomeScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WelcomeScreen)

public:
    explicit WelcomeScreen(QWidget *parent = nullptr);

    QPushButton *newNoteButton() const { return m_newNoteButton; }
    QPushButton *signInButton() const { return m_signInButton; }
    QPushButton *continueButton() const { return m_continueButton; }

    // While the browser sign-in runs the page says where to finish it.
    void setSigningIn(bool signingIn);
    QString accountText() const;

signals:
    void newNoteRequested();
    void signInRequested();
    void dismissRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyStyle();

    QLabel *m_iconLabel;
    QLabel *m_titleLabel;
    QLabel *m_hintLabel;
    QLabel *m_shortcutLabel;
    QPushButton *m_newNoteButton;
    QLabel *m_accountLabel;
    QPushButton *m_signInButton;
    QPushButton *m_continueButton;
    bool m_styling = false;
};
