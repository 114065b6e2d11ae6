#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// Tasks are read out of note bodies, never entered as such: checkbox-list items, lines that look
// like Markdown checkboxes ("- [ ] text", "- [x] text") and lines starting with "TODO:".
struct Task
{
    enum class Source {
        CheckboxList = 0,
        MarkdownCheckbox = 1,
        TodoLine = 2,
    };

    // note id, line index and the first 8 hex digits of the MD5 of the text: stable under
    // ticking, new when the text changes.
    QString id;
    QString noteId;
    QString text;
    bool completed = false;
    Source source = Source::CheckboxList;
    int lineIndex = 0; // counts every line feed of the body's text inserts
    int charOffset = 0; // where the line's text starts; each embed counts as one character
    QDateTime extractedAt;
    QDateTime noteUpdatedAt;
};

// The note's tasks in line order. A body that is not a delta document has no tasks.
QList<Task> extractTasks(
    const QString &noteId, const QString &body, const QDateTime &noteUpdatedAt);

// "%1_%2_%3" of note id, line index and the short digest of the text.
QString taskId(const QString &noteId, int lineIndex, const QString &text);

// The body with the checkbox-list item ending at line `lineIndex` ticked or unticked, every
// other operation kept as stored. Empty when nothing can be changed: the body is not a JSON
// array, the line does not exist, its line feed shares an operation with text, or the line is
// not a checkbox-list item at all (a stale line index must not turn another line into one).
QString setCheckboxLine(const QString &body, int lineIndex, bool checked);
