#pragma once

#include <QJsonArray>
#include <QString>

// Every text insert as stored, newlines included; embeds contribute nothing.
QString renderPlainText(const QJsonArray &ops);
