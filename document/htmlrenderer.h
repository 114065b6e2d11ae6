#pragma once

#include <QJsonArray>
#include <QString>

// A delta document as a standalone HTML page, for export and the "copy as HTML" command. Text and
// addresses are escaped; links whose scheme could run script in a browser lose their anchor and
// keep their text.
QString renderHtml(const QJsonArray &ops);
