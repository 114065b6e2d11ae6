#pragma once

#include <QJsonArray>
#include <QString>

// A delta document as Markdown, for export and the "copy as Markdown" command. Text is written as
// it is, without escaping; underline, lists' numbering and alignment are not rendered.
QString renderMarkdown(const QJsonArray &ops);
