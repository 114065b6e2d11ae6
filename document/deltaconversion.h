#pragma once

// Shared by DeltaDocument's loader and writer: the mapping of characters a text document
// cannot hold as they are, and the formats of embedded objects. Not for use outside document/.

#include "deltaformat.h"

#include <QByteArray>
#include <QChar>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QTextCharFormat>
#include <QTextFormat>

class QTextBlock;
class QTextDocument;
class QTextFormat;
class QTextTable;

namespace DeltaConversion {

inline constexpr QChar ObjectChar = QChar::ObjectReplacementCharacter;

// Characters that QTextCursor::insertText would turn into paragraph or frame breaks stand in
// the document as noncharacters and are mapped back on writing, so a body keeps them exactly.
inline constexpr char16_t StoredCarriageReturn = 0xFDD2;
inline constexpr char16_t StoredParagraphSeparator = 0xFDD3;
inline constexpr char16_t StoredFrameStart = 0xFDD4;
inline constexpr char16_t StoredFrameEnd = 0xFDD5;

bool needsMapping(const QString &text);
QString toDocumentText(const QString &text);
// Drops object characters: embeds are written from their formats.
QString fromDocumentText(const QString &text);
bool isOwnObjectType(int type);
QJsonObject jsonObjectProperty(const QTextFormat &format, int property);
// The outermost table holding the block, or null.
QTextTable *tableOf(const QTextDocument *document, const QTextBlock &block);
bool isEmptyIgnoringObjects(const QTextBlock &block);
void setObjectType(QTextCharFormat &format, const QString &kind, const QString &value);
QTextCharFormat embedFormat(const QString &kind, const QString &value, const QJsonValue &raw);

// Appends the lines to the (cleared) document in one edit block (deltaloader.cpp).
void loadLines(QTextDocument *document, const QList<Delta::Line> &lines);
// The document as delta operations (deltawriter.cpp).
QJsonArray writeDocument(const QTextDocument *document);

// What the last writeDocumentText of one document produced, paragraph by paragraph.
struct WriteCache
{
    QHash<QString, QByteArray> paragraphs;
    // The document's formats when the cache was filled: paragraphs are keyed by format index.
    QList<QTextFormat> formats;
    qsizetype lastSize = 0;

    void validate(const QTextDocument *document);
};
// Delta::toUtf8(writeDocument(document)), byte for byte, re-converting only the paragraphs
// that changed since the last call with the same cache.
QByteArray writeDocumentText(const QTextDocument *document, WriteCache &cache);

} // namespace DeltaConversion
