#pragma once

#include <QDateTime>
#include <QString>

// How a note is named and summarised wherever it is shown by title: lists, window titles,
// export file names and the screens. Pure functions over the stored body text.

// The concatenated text runs of a delta body (embeds contribute nothing). An empty body gives
// "", a body that is not a JSON array is taken as plain text and returned as it is.
QString notePlainText(const QString &body);

// The plain text up to the first line feed, trimmed.
QString titleFromPlainText(const QString &plainText);
// The text after the first line feed, trimmed, line feeds turned into spaces, cut to 120
// characters followed by "..." when longer; "" when there is no line feed.
QString previewFromPlainText(const QString &plainText);

QString noteTitle(const QString &body);
QString notePreview(const QString &body);

// Title and preview from one parse of the body.
struct NoteSummary
{
    QString title;
    QString preview;
};
NoteSummary noteSummary(const QString &body);

// True when the note holds nothing worth keeping: no non-blank text run and no embed.
bool isEmptyNote(const QString &body);

// "just now", "5m ago", "3h ago", "Yesterday", a weekday, "Mar 4" or "Mar 4, 2023" for a stored
// UTC time shown in local time; "" for an invalid time. `now` is there for deterministic callers.
QString formatRelativeDate(
    const QDateTime &time, const QDateTime &now = QDateTime::currentDateTimeUtc());
