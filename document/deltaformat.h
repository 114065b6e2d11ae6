#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// The note body format: a JSON array of insert operations carrying formatting attributes.
// Every reader of note bodies goes through parseOperations() (and lines() / parseTable() where
// it needs them); every writer serialises through toText(), which produces the compact form
// with object keys in ascending order that stored bodies, sync and backups compare byte for byte.
namespace Delta {

// "[{\"insert\":\"\\n\"}]": one empty line, the body of every new note.
QString emptyDocument();

inline constexpr QLatin1StringView AttachmentPrefix { "brevaro-notes://attachment/" };

inline constexpr QLatin1StringView DividerKind { "divider" };
inline constexpr QLatin1StringView TableKind { "table" };
inline constexpr QLatin1StringView AttachmentKind { "brevaro-notes-attachment" };
inline constexpr QLatin1StringView ImageKind { "image" };

enum class OperationType { Text, Embed, Retain, Delete };

struct Operation
{
    OperationType type = OperationType::Text;
    QString text; // Text
    QString embedKind; // Embed: the first key of the insert object in ascending order
    QString embedValue; // Embed: the value read as a string ("" when it is not one)
    QJsonValue rawEmbedValue; // Embed: the value as stored
    QJsonObject attributes; // only when "attributes" is an object; readers ignore it on embeds
    qint64 length = 0; // Retain / Delete

    bool isText() const { return type == OperationType::Text; }
    bool isEmbed() const { return type == OperationType::Embed; }
};

using Operations = QList<Operation>;

// Parses a body. Returns nullopt when the text is not valid JSON or its top level is not an
// array (such a body is not a delta document). Never throws, never recurses without bound.
std::optional<QJsonArray> parseArray(const QString &text);
std::optional<QJsonArray> parseArray(const QByteArray &utf8);

// Reads the operations of an array by the reading rules: non-object elements are skipped, the
// kind is decided by "insert" (string, then object), then "retain", then "delete"; an object
// with none of these is an empty text run.
Operations parseOperations(const QJsonArray &ops);
// parseArray() then parseOperations(); an empty list for anything that is not a delta document.
Operations parseOperations(const QString &text);

// Serialises compactly with the members of every object in ascending key order; integral
// numbers are written without a fraction, non-finite numbers as null.
QString toText(const QJsonArray &ops);
QString toText(const QJsonObject &object);
QByteArray toUtf8(const QJsonArray &ops);
// The operations as stored (retains and deletes included), then toText().
QJsonArray toJsonArray(const Operations &ops);
QString toText(const Operations &ops);

// One piece of a line: a text run (split at "\n") or an embed.
struct Segment
{
    bool isEmbed = false;
    QString text; // text run
    QJsonObject attributes; // text run: the run's inline attributes (uninterpreted)
    QString embedKind;
    QString embedValue; // read as a string; attachment values already carry the prefix
    QJsonValue rawEmbedValue;
};

struct Line
{
    QList<Segment> segments;
    QJsonObject blockAttributes; // uninterpreted attributes of the operation holding the "\n"
    bool terminated = true; // false for the final line that had no "\n"
};

// Splits the operations into lines: each "\n" inside a text run ends a line; a final line
// without "\n" is only produced when it has content. Retains and deletes are dropped.
QList<Line> lines(const Operations &ops);

// Interpreted inline attributes of a text run. Keys that are not interpreted (and the five
// boolean keys with a value other than true) stay in `extra`; block keys are dropped.
struct InlineAttributes
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool code = false;
    bool hasLink = false;
    QString link;
    QJsonObject extra;
};

InlineAttributes readInlineAttributes(const QJsonObject &attributes);
// Known keys written ("link" only when non-empty), then every key of `extra` not already present.
QJsonObject writeInlineAttributes(const InlineAttributes &attributes);

// Interpreted block attributes of a line. Inline keys are dropped; others stay in `extra`.
struct BlockAttributes
{
    int header = 0; // 1 to 6, 0 for none
    QString list; // "bullet", "ordered", "checked", "unchecked" or any other non-empty text
    bool codeBlock = false;
    QString codeBlockLanguage; // the string value of "code-block" when it was one
    bool blockquote = false;
    QString align; // "center", "right", "justify" or empty for left
    QJsonObject extra;
};

BlockAttributes readBlockAttributes(const QJsonObject &attributes);
QJsonObject writeBlockAttributes(const BlockAttributes &attributes);

// "header" value as a level 1 to 6, or 0 (a non-integral or out-of-range value is no heading).
int headerLevel(const QJsonValue &value);
// True only for the JSON boolean true.
bool isTrue(const QJsonValue &value);
// The value read as a string: a non-string reads as the empty string.
QString stringValue(const QJsonValue &value);
// A "brevaro-notes-attachment" value with the reference prefix put in front when it lacks it.
QString attachmentReference(const QString &value);
// The attachment id of a reference ("" when the value does not start with the prefix).
QString attachmentIdFromReference(const QString &reference);
// Whether an embed of this kind and value is shown and written back by the editor.
bool isSupportedEmbed(const QString &kind, const QString &value);

// A run inside a table cell.
struct TableRun
{
    QString text;
    QJsonObject attributes;
};

struct TableCell
{
    enum class Kind { Empty, Plain, Runs };
    Kind kind = Kind::Empty;
    QString text; // Plain: the string as stored
    QList<TableRun> runs; // Runs: the non-empty text runs in order (embeds dropped)

    // Paragraphs of the cell: "\n" inside a run (or a run that is exactly "\n") starts a new one.
    QList<QList<TableRun>> paragraphs() const;
    // The cell as text, paragraphs joined by "\n".
    QString plainText() const;
};

struct Table
{
    QList<QList<TableCell>> rows; // as stored: rows may differ in length
    bool hasHeader = true;

    int rowCount() const { return int(rows.size()); }
    int columnCount() const; // length of the longest row
    bool isEmpty() const { return columnCount() == 0; }
    // Cell (row, column), an empty cell when the row is shorter.
    TableCell cell(int row, int column) const;
};

// Reads a "table" embed value. nullopt when it is not a JSON object; a missing or non-array
// "cells" gives no rows; a missing or non-boolean "hasHeader" means true.
std::optional<Table> parseTable(const QString &value);

// A cell delta in the written form: runs with their attributes, a "\n" insert before every
// paragraph after the first, no trailing "\n".
QJsonArray cellDelta(const QList<QList<TableRun>> &paragraphs);
// The "table" embed value: compact {"cells":[...],"hasHeader":...}, every cell a cell delta,
// every row padded to the column count.
QString writeTable(const Table &table);

} // namespace Delta
