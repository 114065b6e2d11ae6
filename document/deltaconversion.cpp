#include "deltaconversion.h"

#include "deltadocument.h"
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

namespace DeltaConversion {

bool needsMapping(const QString &text)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\r' || c == QChar::ParagraphSeparator || c == ObjectChar.unicode()
            || (c >= 0xFDD0 && c <= StoredFrameEnd))
            return true;
    }
    return false;
}

QString toDocumentText(const QString &text)
{
    if (!needsMapping(text))
        return text;
    QString result = text;
    for (QChar &ch : result) {
        switch (ch.unicode()) {
        case u'\r':
            ch = QChar(StoredCarriageReturn);
            break;
        case QChar::ParagraphSeparator:
            ch = QChar(StoredParagraphSeparator);
            break;
        case 0xFDD0:
            ch = QChar(StoredFrameStart);
            break;
        case 0xFDD1:
            ch = QChar(StoredFrameEnd);
            break;
        case StoredCarriageReturn:
        case StoredParagraphSeparator:
        case StoredFrameStart:
        case StoredFrameEnd:
            ch = QChar::ReplacementCharacter;
            break;
        default:
            break;
        }
    }
    return result;
}

QString fromDocumentText(const QString &text)
{
    if (!needsMapping(text))
        return text;
    QString result;
    result.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case ObjectChar.unicode():
            break;
        case StoredCarriageReturn:
            result.append(QLatin1Char('\r'));
            break;
        case StoredParagraphSeparator:
            result.append(QChar(QChar::ParagraphSeparator));
            break;
        case StoredFrameStart:
            result.append(QChar(0xFDD0));
            break;
        case StoredFrameEnd:
            result.append(QChar(0xFDD1));
            break;
        default:
            result.append(ch);
        }
    }
    return result;
}

bool isOwnObjectType(int type)
{
    return type == DeltaDocument::AttachmentObjectType || type == DeltaDocument::DividerObjectType
        || type == DeltaDocument::TableObjectType || type == DeltaDocument::UnknownObjectType;
}

QJsonObject jsonObjectProperty(const QTextFormat &format, int property)
{
    const QVariant value = format.property(property);
    return value.metaType() == QMetaType::fromType<QJsonObject>() ? value.value<QJsonObject>()
                                                                  : QJsonObject();
}

QTextTable *tableOf(const QTextDocument *document, const QTextBlock &block)
{
    QTextTable *result = nullptr;
    for (QTextFrame *frame = document->frameAt(block.position()); frame;
         frame = frame->parentFrame()) {
        if (auto *table = qobject_cast<QTextTable *>(frame))
            result = table;
    }
    return result;
}

bool isEmptyIgnoringObjects(const QTextBlock &block)
{
    const QString text = block.text();
    for (const QChar ch : text) {
        if (ch != ObjectChar)
            return false;
    }
    return true;
}

void setObjectType(QTextCharFormat &format, const QString &kind, const QString &value)
{
    if (kind == Delta::AttachmentKind
        || (kind == Delta::ImageKind && value.startsWith(Delta::AttachmentPrefix)))
        format.setObjectType(DeltaDocument::AttachmentObjectType);
    else if (kind == Delta::DividerKind)
        format.setObjectType(DeltaDocument::DividerObjectType);
    else if (kind == Delta::TableKind)
        format.setObjectType(DeltaDocument::TableObjectType);
    else
        // Whatever this version cannot show (another kind, an image from outside) is still the
        // user's content: it stays in the document and goes back into the body at every save.
        format.setObjectType(DeltaDocument::UnknownObjectType);
}

QTextCharFormat embedFormat(const QString &kind, const QString &value, const QJsonValue &raw)
{
    QTextCharFormat format;
    format.setProperty(DeltaDocument::EmbedKindProperty, kind);
    format.setProperty(DeltaDocument::EmbedValueProperty, value);
    setObjectType(format, kind, value);
    // Kinds this version does not read survive only as they were stored.
    if (format.objectType() == DeltaDocument::UnknownObjectType
        || (format.objectType() == DeltaDocument::TableObjectType && !raw.isString()
            && !raw.isUndefined()))
        format.setProperty(DeltaDocument::EmbedRawValueProperty, QVariant::fromValue(raw));
    return format;
}

} // namespace DeltaConversion
