#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Clicks `answer` on the next message box shown, once, and remembers what it said. Modal boxes
// run their own event loop, so the answer has to come from a timer.
class MessageBoxAnswerer final : public QObject
{
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_title = box->windowTitle();
            m_text = box->text();
            ++m_shown;
            m_timer.stop();
            box->button(m_answer)->click();
        });
        m_timer.start();
    }
    int shown() const { return m_shown; }
    QString title() const { return m_title; }
    QString text() const { return m_text; }

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    int m_shown = 0;
    QString m_title;
    QString m_text;
};
