#pragma once

// Answering modal dialogs from a test. A modal dialog runs its own event loop, so the answer
// has to come from a timer that polls for the active modal widget.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <utility>

// Answers the modal dialogs that open next, one handler per dialog, in order. A handler sees
// the active modal widget and returns true once it has dealt with it.
class ModalScript final : public QObject
{
public:
    using Step = std::function<bool(QWidget *)>;

    explicit ModalScript(QList<Step> steps) : m_steps(std::move(steps))
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == m_last || m_steps.isEmpty())
                return;
            if (m_steps.first()(modal)) {
                m_last = modal;
                m_steps.removeFirst();
                ++m_done;
            }
        });
        m_timer.start();
    }
    int done() const { return m_done; }

private:
    QList<Step> m_steps;
    QTimer m_timer;
    QPointer<QWidget> m_last;
    int m_done = 0;
};

// A step that clicks `answer` on a message box, noting its title and text.
inline ModalScript::Step answerBox(
    QMessageBox::StandardButton answer, QString *title = nullptr, QString *text = nullptr)
{
    return [=](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return false;
        if (title)
            *title = box->windowTitle();
        if (text)
            *text = box->text();
        box->button(answer)->click();
        return true;
    };
}

// For a chain of dialogs that open one inside another's handler: polls with a timer of its
// own until `answer` takes a modal widget (returns true). A handler that opens the next dialog
// calls answerModal for it first, since its own timer is blocked while it runs.
inline void answerModal(QObject *context, const std::function<bool(QWidget *)> &answer)
{
    auto *timer = new QTimer(context);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, context, [timer, answer] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        if (answer(modal))
            timer->deleteLater();
        else
            timer->start();
    });
    timer->start();
}

// Clicks the given answers on the message boxes shown from now on, in order, and remembers
// what each said.
class MessageBoxAnswerer final : public QObject
{
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer)
        : MessageBoxAnswerer(QList<QMessageBox::StandardButton> { answer })
    { }
    explicit MessageBoxAnswerer(QList<QMessageBox::StandardButton> answers)
        : m_answers(std::move(answers))
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || m_answers.isEmpty())
                return;
            m_titles << box->windowTitle();
            m_texts << box->text();
            box->button(m_answers.takeFirst())->click();
        });
        m_timer.start();
    }
    int shown() const { return int(m_titles.size()); }
    // Of the first box shown.
    QString title() const { return m_titles.value(0); }
    QString text() const { return m_texts.value(0); }
    QStringList titles() const { return m_titles; }
    QStringList texts() const { return m_texts; }

private:
    QList<QMessageBox::StandardButton> m_answers;
    QTimer m_timer;
    QStringList m_titles;
    QStringList m_texts;
};
