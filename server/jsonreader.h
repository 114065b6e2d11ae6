#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <QString>

#include <optional>

// Reads a JSON document (an object or an array, as QJsonDocument accepts) into a QJsonValue.
// Request bodies carry note bodies that are themselves JSON text, full of escaped quotes; this
// reader decodes such strings in one pass where QJsonDocument goes character by character, which
// made parsing the largest single cost of a push. What it accepts gives the values
// QJsonDocument::fromJson gives; it is stricter only where that is lenient beyond RFC 8259
// (escapes such as \x, numbers such as "1." or ".5"). On refusal returns nullopt and sets
// |error| to a short description.
std::optional<QJsonValue> readJson(QByteArrayView json, QString *error);
