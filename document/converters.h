#pragma once

#include <QJsonArray>
#include <QString>

// Conversions of pasted or imported HTML and Markdown into delta operations. All are pure and
// never fail: the converters always return at least one operation.

bool looksLikeHtml(const QString &text);
bool looksLikeMarkdown(const QString &text);
// Drops script, style and page-chrome elements together with their content.
QString cleanHtml(const QString &html);
QJsonArray htmlToDelta(const QString &html);
QJsonArray markdownToDelta(const QString &markdown);
