#include "noteeditor.h"

#include "attachmentrenderer.h"
#include "attachmentrepository.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "imagelightbox.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QUuid>

namespace {

// A display name from a row (sync, imports) becomes a file name only after losing any
// directory part and the characters no file system accepts.
QString safeFileName(const QString &filename, const QString &id)
{
    const int slash
        = qMax(filename.lastIndexOf(QLatin1Char('/')), filename.lastIndexOf(QLatin1Char('\\')));
    QString name = filename.mid(slash + 1).trimmed();
    static const QString forbidden = QStringLiteral("<>:\"|?*");
    for (QChar &c : name) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            c = QLatin1Char('_');
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return id + QLatin1String(".bin");
    return name;
}

bool hasLocalFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(
        urls.cbegin(), urls.cend(), [](const QUrl &url) { return url.isLocalFile(); });
}

} // namespace

void NoteEditor::setAttachmentRepository(AttachmentRepository *repository)
{
    if (m_attachmentRenderer && repository != m_attachments) {
        // The renderer reads from one store; a different store needs a fresh one.
        document()->documentLayout()->unregisterHandler(DeltaDocument::AttachmentObjectType);
        delete m_attachmentRenderer;
        m_attachmentRenderer = nullptr;
    }
    m_attachments = repository;
    if (!m_attachmentRenderer) {
        m_attachmentRenderer = new AttachmentRenderer(repository, this);
        document()->documentLayout()->registerHandler(
            DeltaDocument::AttachmentObjectType, m_attachmentRenderer);
    }
    setAcceptDrops(true);
}

void NoteEditor::refreshAttachments()
{
    if (m_attachmentRenderer)
        m_attachmentRenderer->clearCache();
    document()->markContentsDirty(0, document()->characterCount());
    viewport()->update();
}

void NoteEditor::insertAttachment()
{
    if (!m_attachments || m_noteId.isEmpty() || isReadOnly())
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Insert Attachment"), QString(),
        tr("All Files (*.*);;Images (*.png *.jpg *.jpeg *.gif *.webp *.bmp *.svg)"));
    if (!path.isEmpty())
        insertAttachmentFromPath(path);
}

bool NoteEditor::insertAttachmentFromPath(const QString &path)
{
    // A read-only view (a shared note, a snapshot preview) must not gain attachments.
    if (!m_attachments || m_noteId.isEmpty() || isReadOnly())
        return false;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "insertAttachmentFromPath: can't open" << path;
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty())
        return false;

    Attachment attachment;
    attachment.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    attachment.noteId = m_noteId;
    attachment.filename = QFileInfo(path).fileName();
    attachment.mimeType = QMimeDatabase().mimeTypeForFile(path).name();
    attachment.sizeBytes = bytes.size();
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    attachment.syncStatus = SyncStatus::Pending;

    if (!m_attachments->saveFile(attachment.id, bytes)) {
        qWarning().noquote() << "insertAttachmentFromPath: saveFile failed";
        return false;
    }
    if (!m_attachments->insert(attachment)) {
        qWarning().noquote() << "insertAttachmentFromPath: insert failed";
        // No row will ever name this file.
        QFile::remove(m_attachments->filePath(attachment.id));
        return false;
    }

    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    QTextCharFormat object;
    object.setObjectType(DeltaDocument::AttachmentObjectType);
    object.setProperty(DeltaDocument::EmbedKindProperty, QString(Delta::AttachmentKind));
    object.setProperty(DeltaDocument::EmbedValueProperty,
        QStringLiteral("brevaro-notes://attachment/%1").arg(attachment.id));
    cursor.insertText(QString(QChar::ObjectReplacementCharacter), object);
    QTextBlockFormat block = cursor.blockFormat();
    block.setLineHeight(0, QTextBlockFormat::SingleHeight);
    cursor.setBlockFormat(block);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
    return true;
}

QString NoteEditor::writeTemporaryCopy(const QString &id, const QString &filename, bool logFailures)
{
    // The id names a directory below: only a well-formed one may get that far.
    if (!m_attachments || !AttachmentRepository::isValidId(id))
        return QString();
    const QByteArray bytes = m_attachments->readFile(id);
    if (bytes.isEmpty())
        return QString();
    const QString directory = QDir::tempPath() + QLatin1String("/brevaro-notes/") + id;
    QDir().mkpath(directory);
    const QString path = directory + QLatin1Char('/') + safeFileName(filename, id);
    // Never write through a link someone else left in the shared temporary directory.
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (logFailures)
            qWarning().noquote() << "openAttachment: failed to open temp file" << path
                                 << file.errorString();
        return QString();
    }
    if (file.write(bytes) != bytes.size()) {
        if (logFailures)
            qWarning().noquote() << "openAttachment: short write for" << path;
        return QString();
    }
    file.close();
    return path;
}

bool NoteEditor::openAttachment(const QString &id, const QString &filename)
{
    const QString path = writeTemporaryCopy(id, filename, true);
    if (path.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void NoteEditor::copyAttachmentFile(const QString &id, const QString &filename)
{
    const QString path = writeTemporaryCopy(id, filename, false);
    if (path.isEmpty())
        return;
    auto *data = new QMimeData;
    data->setUrls({ QUrl::fromLocalFile(path) });
    QGuiApplication::clipboard()->setMimeData(data);
}

void NoteEditor::saveAttachmentAs(const QString &id, const QString &filename)
{
    if (!m_attachments)
        return;
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Attachment"),
        QDir::homePath() + QLatin1Char('/') + safeFileName(filename, id));
    if (!path.isEmpty())
        writeAttachmentTo(id, path);
}

bool NoteEditor::writeAttachmentTo(const QString &id, const QString &path)
{
    if (!m_attachments)
        return false;
    const QByteArray bytes = m_attachments->readFile(id);
    if (bytes.isEmpty()) {
        qWarning().noquote() << "saveAttachmentAs: empty/missing file for" << id;
        return false;
    }
    // Written aside and renamed into place: a failed save leaves an existing file intact.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "saveAttachmentAs: open failed" << file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        qWarning().noquote() << "saveAttachmentAs: write failed" << file.errorString();
        return false;
    }
    return true;
}

bool NoteEditor::documentRefersToAttachment(const QString &id) const
{
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.objectType() == DeltaDocument::AttachmentObjectType
                && AttachmentRenderer::idFromValue(
                       format.stringProperty(DeltaDocument::EmbedValueProperty))
                    == id)
                return true;
        }
    }
    return false;
}

void NoteEditor::removeAttachment(const QString &id)
{
    // A read-only view shows content that lives elsewhere (a shared note, a snapshot).
    if (!m_attachments || isReadOnly())
        return;
    const int position = textCursor().position();
    const auto objectAt = [this, &id](int at) {
        if (at < 0 || document()->characterAt(at) != QChar::ObjectReplacementCharacter)
            return false;
        QTextCursor probe(document());
        probe.setPosition(at);
        probe.setPosition(at + 1, QTextCursor::KeepAnchor);
        const QTextCharFormat format = probe.charFormat();
        return format.objectType() == DeltaDocument::AttachmentObjectType
            && AttachmentRenderer::idFromValue(
                   format.stringProperty(DeltaDocument::EmbedValueProperty))
            == id;
    };
    int at = -1;
    if (objectAt(position - 1))
        at = position - 1;
    else if (objectAt(position))
        at = position;
    if (at >= 0) {
        QTextCursor cursor(document());
        cursor.setPosition(at);
        cursor.setPosition(at + 1, QTextCursor::KeepAnchor);
        cursor.beginEditBlock();
        cursor.removeSelectedText();
        cursor.endEditBlock();
        setTextCursor(cursor);
    }
    // A copy pasted elsewhere in this note still shows the content; keep it for that one.
    if (!documentRefersToAttachment(id))
        m_attachments->deleteById(id);
}

QString NoteEditor::attachmentIdAtPosition(int position) const
{
    const auto idAt = [this](int at) -> QString {
        if (at < 0 || document()->characterAt(at) != QChar::ObjectReplacementCharacter)
            return QString();
        QTextCursor probe(document());
        probe.setPosition(at);
        probe.setPosition(at + 1, QTextCursor::KeepAnchor);
        const QTextCharFormat format = probe.charFormat();
        if (format.objectType() != DeltaDocument::AttachmentObjectType)
            return QString();
        return AttachmentRenderer::idFromValue(
            format.stringProperty(DeltaDocument::EmbedValueProperty));
    };
    if (position < 0)
        return QString();
    const QString id = idAt(position);
    if (!id.isEmpty() || position == 0)
        return id;
    return idAt(position - 1);
}

QString NoteEditor::attachmentIdAt(const QPoint &point) const
{
    return attachmentIdAtPosition(hitPosition(point));
}

QString NoteEditor::attachmentSizeText(qint64 bytes)
{
    const double kilobytes = double(bytes) / 1024.0;
    if (kilobytes < 1024.0)
        return QString::number(kilobytes, 'f', 1) + QLatin1String(" KB");
    return QString::number(kilobytes / 1024.0, 'f', 1) + QLatin1String(" MB");
}

QString NoteEditor::attachmentToolTip(const QString &id) const
{
    if (!m_attachments || id.isEmpty())
        return QString();
    const auto row = m_attachments->attachmentById(id);
    if (!row)
        return QString();
    return tr("%1 (%2)\n(Double-click to open, right-click for more)")
        .arg(row->filename, attachmentSizeText(row->sizeBytes));
}

bool NoteEditor::showImageAttachment(const QString &id, const QString &filename)
{
    const QImage image = QImage::fromData(m_attachments->readFile(id));
    if (image.isNull())
        return false;
    auto *lightbox = new ImageLightbox(image, filename, this);
    lightbox->setAttribute(Qt::WA_DeleteOnClose);
    lightbox->show();
    return true;
}

bool NoteEditor::openAttachmentByDoubleClick(const QString &id)
{
    if (!m_attachments)
        return false;
    const auto row = m_attachments->attachmentById(id);
    if (!row)
        return false;
    if (row->mimeType.startsWith(QLatin1String("image/")))
        return showImageAttachment(id, row->filename);
    return openAttachment(id, row->filename);
}

QMenu *NoteEditor::createAttachmentMenu(const QString &id, const QString &filename)
{
    auto *menu = new QMenu(this);
    connect(menu->addAction(tr("Open")), &QAction::triggered, this, [this, id, filename] {
        if (!m_attachments)
            return;
        const auto row = m_attachments->attachmentById(id);
        const bool image = row && row->mimeType.startsWith(QLatin1String("image/"));
        if (!image || !showImageAttachment(id, filename))
            openAttachment(id, filename);
    });
    connect(menu->addAction(tr("Save As…")), &QAction::triggered, this,
        [this, id, filename] { saveAttachmentAs(id, filename); });
    connect(menu->addAction(tr("Copy File")), &QAction::triggered, this,
        [this, id, filename] { copyAttachmentFile(id, filename); });
    if (!isReadOnly()) {
        menu->addSeparator();
        connect(menu->addAction(tr("Remove Attachment")), &QAction::triggered, this,
            [this, id] { removeAttachment(id); });
    }
    return menu;
}

void NoteEditor::dragEnterEvent(QDragEnterEvent *event)
{
    if (m_attachments && !isReadOnly() && hasLocalFile(event->mimeData())) {
        event->acceptProposedAction();
        return;
    }
    QTextEdit::dragEnterEvent(event);
}

void NoteEditor::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_attachments && !isReadOnly() && event->mimeData() && event->mimeData()->hasUrls()) {
        // The default handling draws the drop caret; the files are taken whatever it decides.
        QTextEdit::dragMoveEvent(event);
        event->acceptProposedAction();
        return;
    }
    QTextEdit::dragMoveEvent(event);
}

void NoteEditor::dropEvent(QDropEvent *event)
{
    const QMimeData *data = event->mimeData();
    if (m_attachments && !isReadOnly() && data && data->hasUrls()) {
        const QList<QUrl> urls = data->urls();
        QTextCursor target = cursorForPosition(event->position().toPoint());
        setTextCursor(target);
        bool inserted = false;
        for (const QUrl &url : urls) {
            if (url.isLocalFile())
                inserted = insertAttachmentFromPath(url.toLocalFile()) || inserted;
        }
        if (inserted) {
            // Ends the drag feedback the default drop would have cleared.
            QDragLeaveEvent leave;
            QTextEdit::dragLeaveEvent(&leave);
            event->acceptProposedAction();
            return;
        }
    }
    QTextEdit::dropEvent(event);
}
