#include "deltadocument.h"

#include "deltaconversion.h"
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

int DeltaDocument::HeadingMetrics::pixelSize() const
{
    return FontScale::scaledPixels(size);
}

DeltaDocument::DeltaDocument(QObject *parent)
    : QObject(parent),
      m_document(new QTextDocument(this)),
      m_writeCache(std::make_unique<WriteCache>())
{
    QFont font = m_document->defaultFont();
    font.setPixelSize(FontScale::scaledPixels(16));
    m_document->setDefaultFont(font);
    m_document->setDocumentMargin(16);
    connect(m_document, &QTextDocument::contentsChanged, this, &DeltaDocument::contentsChanged);
}

DeltaDocument::~DeltaDocument() = default;

void DeltaDocument::setDelta(const QJsonArray &ops)
{
    {
        const QSignalBlocker blocker(m_document);
        // Recording undo steps for a load is wasted work; the history is emptied anyway.
        const bool undoEnabled = m_document->isUndoRedoEnabled();
        m_document->setUndoRedoEnabled(false);
        m_document->clear();
        const Delta::Operations parsed = Delta::parseOperations(ops);
        if (!parsed.isEmpty()) {
            QTextCursor(m_document).setBlockFormat(blockFormatFromAttributes(QJsonObject()));
            DeltaConversion::loadLines(m_document, Delta::lines(parsed));
        }
        m_document->setUndoRedoEnabled(undoEnabled);
    }
    m_document->clearUndoRedoStacks();
}

void DeltaDocument::setContent(const QString &text)
{
    if (text.isEmpty()) {
        {
            const QSignalBlocker blocker(m_document);
            m_document->clear();
        }
        m_document->clearUndoRedoStacks();
        return;
    }
    const std::optional<QJsonArray> ops = Delta::parseArray(text);
    if (!ops) {
        qWarning() << "DeltaDocument::setContent: body is not a delta document, shown as text";
        {
            const QSignalBlocker blocker(m_document);
            m_document->setPlainText(text);
        }
        m_document->clearUndoRedoStacks();
        return;
    }
    setDelta(*ops);
}

QString DeltaDocument::toJson() const
{
    return QString::fromUtf8(writeDocumentText(m_document, *m_writeCache));
}

QString DeltaDocument::toPlainText() const
{
    QString text = m_document->toPlainText();
    for (QChar &ch : text) {
        switch (ch.unicode()) {
        case StoredCarriageReturn:
            ch = QLatin1Char('\r');
            break;
        case StoredParagraphSeparator:
            ch = QChar(QChar::ParagraphSeparator);
            break;
        case StoredFrameStart:
            ch = QChar(0xFDD0);
            break;
        case StoredFrameEnd:
            ch = QChar(0xFDD1);
            break;
        default:
            break;
        }
    }
    return text;
}
