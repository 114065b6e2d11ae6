#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

class AttachmentRepository;
class QTextDocument;

// What an attachment embed shows on paper: its image when it is one, else a label.
struct PrintedAttachment
{
    QImage image;
    QString label;
};
// Called with the embed's kind ("image" or "brevaro-notes-attachment") and value.
using PrintedAttachmentLookup
    = std::function<PrintedAttachment(const QString &kind, const QString &value)>;

// Images and labels from the attachment store; an empty lookup when `attachments` is null.
PrintedAttachmentLookup attachmentLookupFor(const AttachmentRepository *attachments);

// A copy of an editor document made for paper: a 36 point margin, pixel sizes turned into
// point sizes (pixel size x 72 / 96), colours meant for a dark window lightened for white paper,
// dividers as rules and attachments as their images or labels (custom objects have no painter
// outside the editor).
std::unique_ptr<QTextDocument> preparePrintDocument(
    const QTextDocument &source, const PrintedAttachmentLookup &attachments = {});
