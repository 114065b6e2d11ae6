#pragma once

#include <QString>
#include <QStringList>

// Note bodies for tests, as delta text.

// One paragraph holding `text` (which may itself hold line breaks).
QString bodyOf(const QString &text);
// Each line as a text operation and its own line feed; a line starting "[ ] " or "[x] " becomes
// an unchecked or checked checkbox item.
QString bodyOfLines(const QStringList &lines);
