#include "deltaconversion.h"

#include "deltadocument.h"
#include "deltaformat.h"
#include "documentpalette.h"
#include "fontscale.h"

#include <QDebug>
#include <QFont>
#include <QHash>
#include <QJsonDocument>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

using namespace DeltaConversion;

namespace {

class Writer
{
public:
    explicit Writer(const QTextDocument *document) : m_document(document) { }

    QJsonArray write()
    {
        const QTextTable *lastTable = nullptr;
        for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
            if (QTextTable *table = tableOf(m_document, block)) {
                if (table != lastTable) {
                    writeTable(table);
                    lastTable = table;
                }
                continue;
            }
            if (isSkippedPlaceholder(block))
                continue;
            writeParagraph(block);
        }
        return m_ops;
    }

    // The same operations as write(), already in their stored text form. A paragraph whose
    // text, fragment formats and block format are those of a paragraph the last call wrote
    // takes that paragraph's text from the cache, so a keystroke re-converts one paragraph.
    QByteArray writeText(WriteCache &cache)
    {
        cache.validate(m_document);
        QHash<QString, QByteArray> used;
        used.reserve(cache.paragraphs.size() + 16);
        QByteArray out;
        out.reserve(cache.lastSize + 64);
        out.append('[');
        const auto append = [&out](const QByteArray &ops) {
            if (out.size() > 1)
                out.append(',');
            out.append(ops);
        };
        const QTextTable *lastTable = nullptr;
        for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
            if (QTextTable *table = tableOf(m_document, block)) {
                if (table != lastTable) {
                    writeTable(table);
                    append(takeOpsText());
                    lastTable = table;
                }
                continue;
            }
            if (isSkippedPlaceholder(block))
                continue;
            const QString key = paragraphKey(block);
            auto found = used.constFind(key);
            if (found == used.constEnd()) {
                auto cached = cache.paragraphs.find(key);
                if (cached != cache.paragraphs.end()) {
                    found = used.insert(key, std::move(*cached));
                } else {
                    writeParagraph(block);
                    found = used.insert(key, takeOpsText());
                }
            }
            append(*found);
        }
        out.append(']');
        // Only what this document holds now is kept: the cache never outgrows the note.
        cache.paragraphs = std::move(used);
        cache.lastSize = out.size();
        return out;
    }

private:
    // Everything writeParagraph reads: the block format, each fragment's format and length,
    // and the text. Format indexes name the same format for the document's lifetime (the
    // cache checks that), so equal keys give equal operations.
    static QString paragraphKey(const QTextBlock &block)
    {
        QList<QPair<int, int>> fragments;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            fragments.append({ fragment.charFormatIndex(), fragment.length() });
        }
        const QString text = block.text();
        QString key;
        key.reserve(4 + fragments.size() * 4 + text.size());
        const auto appendInt = [&key](int value) {
            key.append(QChar(char16_t(quint32(value) >> 16)));
            key.append(QChar(char16_t(quint32(value) & 0xffff)));
        };
        appendInt(block.blockFormatIndex());
        appendInt(int(fragments.size()));
        for (const auto &[format, length] : fragments) {
            appendInt(format);
            appendInt(length);
        }
        key.append(text);
        return key;
    }

    // The operations gathered since the last call, as the comma-separated body of their array.
    QByteArray takeOpsText()
    {
        QByteArray text = Delta::toUtf8(m_ops);
        m_ops = QJsonArray();
        return text.mid(1, text.size() - 2);
    }

    bool isSkippedPlaceholder(const QTextBlock &block) const
    {
        if (!block.blockFormat().hasProperty(DeltaDocument::TablePlaceholderProperty)
            || !isEmptyIgnoringObjects(block))
            return false;
        const QTextBlock next = block.next();
        const QTextBlock previous = block.previous();
        return (next.isValid() && tableOf(m_document, next))
            || (previous.isValid() && tableOf(m_document, previous));
    }

    void writeParagraph(const QTextBlock &block)
    {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (isOwnObjectType(format.objectType())) {
                const QString text = fragment.text();
                for (const QChar ch : text) {
                    if (ch == ObjectChar)
                        appendEmbed(format);
                    else
                        appendText(QString(ch), charAttributes(fragment.charFormatIndex(), format));
                }
            } else {
                appendText(fragment.text(), charAttributes(fragment.charFormatIndex(), format));
            }
        }
        flushRun();
        QJsonObject op { { QStringLiteral("insert"), QStringLiteral("\n") } };
        const QJsonObject attributes
            = DeltaDocument::attributesFromBlockFormat(block.blockFormat());
        if (!attributes.isEmpty())
            op.insert(QStringLiteral("attributes"), attributes);
        m_ops.append(op);
    }

    // Fragments refer to a few shared formats; their attributes are computed once per format.
    const QJsonObject &charAttributes(int formatIndex, const QTextCharFormat &format)
    {
        auto it = m_charAttributes.constFind(formatIndex);
        if (it == m_charAttributes.constEnd())
            it = m_charAttributes.insert(
                formatIndex, DeltaDocument::attributesFromCharFormat(format));
        return *it;
    }

    QJsonObject blockAttributes(const QTextBlock &block)
    {
        const int index = block.blockFormatIndex();
        auto it = m_blockAttributes.constFind(index);
        if (it == m_blockAttributes.constEnd())
            it = m_blockAttributes.insert(
                index, DeltaDocument::attributesFromBlockFormat(block.blockFormat()));
        return *it;
    }

    void appendText(const QString &documentText, const QJsonObject &attributes)
    {
        const QString text = fromDocumentText(documentText);
        if (text.isEmpty())
            return;
        if (m_hasRun && attributes != m_runAttributes)
            flushRun();
        m_runText += text;
        m_runAttributes = attributes;
        m_hasRun = true;
    }

    void appendEmbed(const QTextCharFormat &format)
    {
        const QString kind = format.stringProperty(DeltaDocument::EmbedKindProperty);
        if (kind.isEmpty())
            return;
        flushRun();
        const QVariant raw = format.property(DeltaDocument::EmbedRawValueProperty);
        const QJsonValue value = raw.metaType() == QMetaType::fromType<QJsonValue>()
            ? raw.value<QJsonValue>()
            : QJsonValue(format.stringProperty(DeltaDocument::EmbedValueProperty));
        m_ops.append(QJsonObject { { QStringLiteral("insert"), QJsonObject { { kind, value } } } });
    }

    void flushRun()
    {
        if (!m_hasRun)
            return;
        QJsonObject op { { QStringLiteral("insert"), m_runText } };
        if (!m_runAttributes.isEmpty())
            op.insert(QStringLiteral("attributes"), m_runAttributes);
        m_ops.append(op);
        m_runText.clear();
        m_runAttributes = QJsonObject();
        m_hasRun = false;
    }

    void writeTable(QTextTable *table)
    {
        QJsonArray rows;
        for (int r = 0; r < table->rows(); ++r) {
            QJsonArray row;
            for (int c = 0; c < table->columns(); ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                // A merged cell's content is written once, at its own row and column.
                if (cell.row() != r || cell.column() != c)
                    row.append(QJsonArray());
                else
                    row.append(cellDelta(cell));
            }
            rows.append(row);
        }
        const QJsonObject value { { QStringLiteral("cells"), rows },
            { QStringLiteral("hasHeader"), table->format().headerRowCount() > 0 } };
        m_ops.append(QJsonObject { { QStringLiteral("insert"),
            QJsonObject { { QStringLiteral("table"), Delta::toText(value) } } } });
        m_ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") } });
    }

    QJsonArray cellDelta(const QTextTableCell &cell)
    {
        QList<QList<Delta::TableRun>> paragraphs;
        const int last = cell.lastCursorPosition().position();
        for (QTextBlock block = cell.firstCursorPosition().block();
             block.isValid() && block.position() <= last; block = block.next()) {
            QList<Delta::TableRun> runs;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const QString text = fromDocumentText(fragment.text());
                if (text.isEmpty())
                    continue;
                const QJsonObject &attributes
                    = charAttributes(fragment.charFormatIndex(), fragment.charFormat());
                if (!runs.isEmpty() && runs.last().attributes == attributes)
                    runs.last().text += text;
                else
                    runs.append(Delta::TableRun { text, attributes });
            }
            paragraphs.append(runs);
        }
        return Delta::cellDelta(paragraphs);
    }

    const QTextDocument *m_document;
    QHash<int, QJsonObject> m_charAttributes;
    QHash<int, QJsonObject> m_blockAttributes;
    QJsonArray m_ops;
    QString m_runText;
    QJsonObject m_runAttributes;
    bool m_hasRun = false;
};

} // namespace

QJsonArray DeltaConversion::writeDocument(const QTextDocument *document)
{
    return Writer(document).write();
}

void DeltaConversion::WriteCache::validate(const QTextDocument *document)
{
    // New formats are only ever appended to a document's collection; a reload (or a clear)
    // starts a new one, and then nothing cached can be trusted.
    const QList<QTextFormat> current = document->allFormats();
    bool same = current.size() >= formats.size();
    for (qsizetype i = 0; same && i < formats.size(); ++i)
        same = formats.at(i) == current.at(i);
    if (!same)
        paragraphs.clear();
    formats = current;
}

QByteArray DeltaConversion::writeDocumentText(const QTextDocument *document, WriteCache &cache)
{
    return Writer(document).writeText(cache);
}
