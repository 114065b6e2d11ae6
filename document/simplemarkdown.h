#pragma once

#include <QString>

// A small line-based Markdown reader for the bundled sample notes: headings, bullet, numbered
// and checkbox items, quotations, bold and italic. Returns a compact delta document.
QString simpleMarkdownToDelta(const QString &markdown);
