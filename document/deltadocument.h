#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTextFormat>

#include <memory>

class QFont;
class QTextCursor;
class QTextDocument;
class QTextTable;

namespace DeltaConversion {
struct WriteCache;
}

// Owns the rich-text document the note editor shows and converts it from and to the delta note
// format. The custom format properties below are shared with the editor, the attachment
// renderer and paste handling.
class DeltaDocument final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeltaDocument)

public:
    enum Property {
        HeadingLevelProperty = QTextFormat::UserProperty + 1, // block: int 1 to 6
        ListTypeProperty = QTextFormat::UserProperty + 2, // block: the "list" string
        CodeBlockProperty = QTextFormat::UserProperty + 3, // block: true or language string
        BlockquoteProperty = QTextFormat::UserProperty + 4, // block: bool
        TablePlaceholderProperty = QTextFormat::UserProperty + 5, // block: made by a table insert
        ExtraBlockAttributesProperty = QTextFormat::UserProperty + 10, // block: QJsonObject
        ExtraInlineAttributesProperty = QTextFormat::UserProperty + 20, // char: QJsonObject
        TableInsertMarkProperty = QTextFormat::UserProperty + 99, // block: only during insertion
        EmbedKindProperty = QTextFormat::UserProperty + 100, // char of an object: kind
        EmbedValueProperty = QTextFormat::UserProperty + 101, // char of an object: value
        // char of an object: the value as stored (QJsonValue), written back unchanged
        EmbedRawValueProperty = QTextFormat::UserProperty + 102,
    };
    Q_ENUM(Property)

    enum ObjectType {
        AttachmentObjectType = QTextFormat::UserObject + 1,
        DividerObjectType = QTextFormat::UserObject + 2,
        // A "table" embed that is not built: not alone on its line, too large, or unreadable.
        TableObjectType = QTextFormat::UserObject + 3,
        // An embed of a kind this version does not know (a newer version wrote it): kept as it is.
        UnknownObjectType = QTextFormat::UserObject + 4,
    };
    Q_ENUM(ObjectType)

    struct HeadingMetrics
    {
        int size = 16; // unscaled pixel size N
        int weight = 400;
        int lineHeight = 150; // proportional, percent
        int topMargin = 0;
        int bottomMargin = 8;
        bool secondaryColor = false;

        int pixelSize() const; // N scaled by the current font scale, at least 1
    };

    // Tables with more cells than this are kept as an inline table object, unexpanded, so that
    // a hostile or damaged body cannot stall the editor; they are written back unchanged.
    static constexpr qint64 MaximumTableCells = 20000;

    explicit DeltaDocument(QObject *parent = nullptr);
    ~DeltaDocument() override;

    QTextDocument *document() const { return m_document; }

    // Loads operations; no contentsChanged is emitted and the undo history is cleared.
    void setDelta(const QJsonArray &ops);
    // Loads a note body: empty clears; text that is not a JSON array is shown as plain text.
    void setContent(const QString &text);
    // The document in the normal written delta form (compact JSON).
    QString toJson() const;
    QString toPlainText() const;

    // Metrics of heading levels 1 to 6; any other level gives the paragraph metrics.
    static HeadingMetrics headingMetrics(int level);

    static QTextBlockFormat blockFormatFromAttributes(const QJsonObject &attributes);
    static QTextCharFormat charFormatFromAttributes(const QJsonObject &attributes);
    static QJsonObject attributesFromBlockFormat(const QTextBlockFormat &format);
    static QJsonObject attributesFromCharFormat(const QTextCharFormat &format);
    // Margins, line height and background for the block's heading/code/quote/paragraph kind.
    static void applyBlockStyle(QTextBlockFormat &format);
    // The character format text on such a block starts from (heading font, code face, body).
    static QTextCharFormat baseCharFormat(const QTextBlockFormat &format);
    static QTextCharFormat defaultCharFormat();
    static QTextCharFormat inlineCodeFormat();
    static QFont monospaceFont(int pixelSize);
    // Puts the cursor's paragraph into a list of the given "list" type; empty leaves any list.
    static void applyListType(QTextCursor &cursor, const QString &type);
    static QTextTableFormat makeTableFormat(bool hasHeader);
    // Inserts a table and marks the paragraphs the insertion created beside it as placeholders.
    static QTextTable *insertTableAt(
        QTextCursor &cursor, int rows, int columns, const QTextTableFormat &format);
    static bool isDarkPalette();

signals:
    void contentsChanged();

private:
    QTextDocument *m_document = nullptr;
    // Autosave converts a long note at every save: unchanged paragraphs come from here.
    std::unique_ptr<DeltaConversion::WriteCache> m_writeCache;
};
