#pragma once

#include "attachment.h"
#include "note.h"
#include "notebook.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Reading and writing the sync service's JSON. Readers never trust the server: a value of the
// wrong type or form is refused or replaced by its default, and `problem` says what was wrong.
namespace SyncWire {

// A number of milliseconds since the epoch, an ISO 8601 text (UTC unless it names an offset)
// or a text of digits; invalid for anything else, for "" and null.
QDateTime parseTime(const QJsonValue &value);
// Milliseconds in a JSON number; 0 for anything else.
qint64 parseMillis(const QJsonValue &value);

// True when `body` is a JSON list of operations with an "insert" each.
bool isDeltaBody(const QString &body);
// A body that is not delta JSON kept as the plain text of a one-paragraph document.
QString plainTextBody(const QString &text);

// One element of a pull's "changes"; nullopt (with `problem`) when it has no usable id or body.
// Missing times are taken from the others, or from now. `bodyConverted` tells whether the body
// was not delta JSON and is kept as plain text.
std::optional<Note> parsePulledNote(
    const QJsonValue &value, QString *problem, bool *bodyConverted = nullptr);
// One element of "/notebooks"; nullopt without a well-formed id or a name.
std::optional<Notebook> parseNotebook(const QJsonValue &value, QString *problem);
// One element of "/attachments"; nullopt without a well-formed id and note id.
std::optional<Attachment> parseAttachment(const QJsonValue &value, QString *problem);

// One element of a push's "changes".
QJsonObject noteChange(const Note &note);

// A display name safe for a header and for saving: no directory part, no quotes or line breaks.
QString safeFileName(const QString &name);

} // namespace SyncWire
