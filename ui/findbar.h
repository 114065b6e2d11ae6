#pragma once

#include <QList>
#include <QPointer>
#include <QTextCursor>
#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextEdit;
class QToolButton;

// Find in the open note: a slim bar above the editor that highlights every match, steps through
// them with Enter and Shift+Enter and closes with Escape.
class FindBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FindBar)

public:
    // Matches past this many are not highlighted or counted; stepping still finds them.
    static constexpr int MaxMatches = 5000;

    explicit FindBar(QWidget *parent = nullptr);

    void setEditor(QTextEdit *editor);
    // Shows the bar with the editor's one-line selection (if any) as the search text.
    void openBar();
    void closeBar();
    // Shows the bar filled with a search of the note list (`typed` as the user typed it) and
    // highlights where that search finds the note, leaving the focus where it is. Editing the
    // field goes back to finding the text as written.
    void showSearchMatches(const QString &typed);
    void findNext();
    void findPrevious();

    QLineEdit *field() const { return m_field; }
    QString countText() const;
    int matchCount() const { return int(m_matches.size()); }
    int currentMatch() const { return m_current; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void search();
    void step(int direction);
    void showMatches();
    void updateStyle();

    QPointer<QTextEdit> m_editor; // not owned
    QLineEdit *m_field;
    QLabel *m_countLabel;
    QToolButton *m_previousButton;
    QToolButton *m_nextButton;
    QToolButton *m_closeButton;
    QList<QTextCursor> m_matches;
    QString m_searchText; // the field text that means "as the note list search finds it"
    int m_current = -1;
    // Typing into the note while the bar is open moves the matches; they are found again once
    // the typing pauses.
    QTimer m_researchTimer;
};
