#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <QString>

#include <optional>

// Reads a request body (an object or an array) into a QJsonValue with the values
// QJsonDocument::fromJson gives. Pushes carry note bodies that are JSON text inside JSON
// strings, full of escapes, which QJsonDocument decodes one character at a time; RapidJSON reads
// them several times faster. What RapidJSON refuses goes to QJsonDocument, so the server keeps
// accepting what the program's own writer produces (lone surrogates, for one). On refusal
// returns nullopt and sets |error| to a short description.
std::optional<QJsonValue> readJson(QByteArrayView json, QString *error);
