#include "notecommands.h"

#include "appstate.h"
#include "attachmentrepository.h"
#include "exportdialog.h"
#include "importdialog.h"
#include "markdownrenderer.h"
#include "movetonotebookdialog.h"
#include "notebookdialog.h"
#include "notebookrepository.h"
#include "notebundle.h"
#include "noterepository.h"
#include "notesharingservice.h"
#include "notetext.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "printdocument.h"
#include "sharemembersdialog.h"
#include "syncengine.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QStandardPaths>
#include <QTextDocument>

#include <memory>

// The main window and the note windows show these texts, so they share its translation
// context (written out at each call for lupdate to find).
namespace NoteCommands {

void openLinkedNote(AppState *state, const QString &noteId, const StatusMessage &message)
{
    const std::optional<Note> note = state->notes()->noteById(noteId);
    if (!note || note->deletedAt) {
        message(note ? QCoreApplication::translate("MainWindow", "The linked note is in the trash.")
                     : QCoreApplication::translate(
                         "MainWindow", "The linked note is not in this collection."),
            5000);
        return;
    }
    state->openNoteWindow(noteId);
}

namespace {

void tell(const StatusMessage &status, const QString &message, int timeoutMs)
{
    if (status)
        status(message, timeoutMs);
}

// Where the export file dialog opens next time.
const QString LastExportFolderKey = QStringLiteral("last_export_folder");

QString exportFormatFilter(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Markdown:
        return QCoreApplication::translate("MainWindow", "Markdown (*.md)");
    case ExportFormat::Html:
        return QCoreApplication::translate("MainWindow", "HTML (*.html)");
    case ExportFormat::Pdf:
        return QCoreApplication::translate("MainWindow", "PDF (*.pdf)");
    case ExportFormat::PlainText:
        break;
    }
    return QCoreApplication::translate("MainWindow", "Plain Text (*.txt)");
}

} // namespace

QString noteTitleOrUntitled(AppState *state, const QString &noteId)
{
    const std::optional<Note> note = state->notes()->noteById(noteId);
    const QString title = note ? noteTitle(note->body) : QString();
    return title.isEmpty() ? QCoreApplication::translate("MainWindow", "Untitled") : title;
}

QMimeData *noteMimeData(const QString &body, ExportFormat format)
{
    auto *data = new QMimeData;
    switch (format) {
    case ExportFormat::Html:
        data->setHtml(renderNote(body, ExportFormat::Html));
        data->setText(renderNote(body, ExportFormat::Markdown));
        break;
    case ExportFormat::Markdown:
        data->setText(renderNote(body, ExportFormat::Markdown));
        break;
    case ExportFormat::Pdf:
    case ExportFormat::PlainText:
        data->setText(renderNote(body, ExportFormat::PlainText));
        break;
    }
    return data;
}

void copyNote(const QString &body, ExportFormat format)
{
    QGuiApplication::clipboard()->setMimeData(noteMimeData(body, format));
}

void copyPlainText(const QString &plainText)
{
    QGuiApplication::clipboard()->setText(plainText);
}

ExportResult exportNoteToPath(AppState *state, const Note &note, const QString &path,
    ExportFormat format, bool includeAttachments)
{
    ExportResult result = exportNote(note, path, format, state->attachments());
    if (!result.ok || !includeAttachments)
        return result;
    return writeNoteBundle(note, result.path, *state->attachments());
}

QString askNewNotebook(AppState *state, QWidget *parent)
{
    const QString name = NotebookDialog::getName(
        QCoreApplication::translate("MainWindow", "New Notebook"), QString(), parent);
    if (name.isEmpty())
        return QString();
    const std::optional<Notebook> notebook = state->writer()->createNotebook(name);
    if (!notebook)
        return QString();
    state->setCurrentNotebookId(notebook->id);
    return notebook->id;
}

bool askRenameNotebook(AppState *state, const QString &notebookId, QWidget *parent)
{
    const std::optional<Notebook> notebook = state->notebooks()->notebookById(notebookId);
    if (!notebook)
        return false;
    const QString name = NotebookDialog::getName(
        QCoreApplication::translate("MainWindow", "Rename Notebook"), notebook->name, parent);
    return state->writer()->renameNotebook(notebookId, name);
}

bool askDeleteNotebook(AppState *state, const QString &notebookId, QWidget *parent)
{
    const std::optional<Notebook> notebook = state->notebooks()->notebookById(notebookId);
    if (!notebook)
        return false;
    const QMessageBox::StandardButton answer = QMessageBox::question(parent,
        QCoreApplication::translate("MainWindow", "Delete Notebook"),
        QCoreApplication::translate(
            "MainWindow", "Delete \"%1\"? Its notes will move to All Notes.")
            .arg(notebook->name),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    if (!state->writer()->deleteNotebook(notebookId))
        return false;
    state->setCurrentNotebookId(QString());
    return true;
}

bool askMoveNote(AppState *state, const QString &noteId, QWidget *parent)
{
    const std::optional<Note> note = state->notes()->noteById(noteId);
    if (!note)
        return false;
    const std::optional<QString> target = MoveToNotebookDialog::chooseNotebook(
        state->notebooks()->allNotebooks(), note->notebookId, parent);
    if (!target)
        return false;
    return state->writer()->moveNote(noteId, *target);
}

std::optional<ExportResult> askExportNote(
    AppState *state, const QString &noteId, QWidget *parent, const StatusMessage &status)
{
    const std::optional<Note> note = state->notes()->noteById(noteId);
    if (!note)
        return std::nullopt;
    ExportDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const ExportFormat format = exportFormatFromInt(dialog.format());
    const bool includeAttachments = dialog.includeAttachments();

    // The last folder exported to, else the documents folder; a dialog given a folder that does
    // not exist would open in the working directory instead.
    QString directory = state->preferences()->stringValue(LastExportFolderKey);
    if (directory.isEmpty() || !QDir(directory).exists())
        directory = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (directory.isEmpty() || !QDir(directory).exists())
        directory = QDir::homePath();
    const QString extension = exportFileExtension(format);
    QFileDialog fileDialog(
        parent, QCoreApplication::translate("MainWindow", "Export Note"), directory);
    fileDialog.setAcceptMode(QFileDialog::AcceptSave);
    fileDialog.setFileMode(QFileDialog::AnyFile);
    fileDialog.setNameFilters(
        { exportFormatFilter(format), QCoreApplication::translate("MainWindow", "All Files (*)") });
    fileDialog.setDefaultSuffix(extension.mid(1));
    fileDialog.setLabelText(
        QFileDialog::Accept, QCoreApplication::translate("MainWindow", "Export"));
    fileDialog.selectFile(suggestedExportPath(directory, *note, format));
    if (fileDialog.exec() != QDialog::Accepted || fileDialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = fileDialog.selectedFiles().constFirst();
    if (path.isEmpty())
        return std::nullopt;
    state->preferences()->setValue(LastExportFolderKey, QFileInfo(path).absolutePath());

    const ExportResult result = exportNoteToPath(state, *note, path, format, includeAttachments);
    if (result.ok)
        tell(status,
            QCoreApplication::translate("MainWindow", "Exported to %1")
                .arg(QDir::toNativeSeparators(result.path)),
            3000);
    else
        QMessageBox::warning(parent, QCoreApplication::translate("MainWindow", "Export Failed"),
            result.error, QMessageBox::Ok);
    return result;
}

bool printNote(AppState *state, const QString &noteId, const QTextDocument *document,
    QWidget *parent, const StatusMessage &status)
{
    if (noteId.isEmpty() || !document) {
        tell(status, QCoreApplication::translate("MainWindow", "No note selected"), 3000);
        return false;
    }
    const QString title = noteTitleOrUntitled(state, noteId);
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(title);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QCoreApplication::translate("MainWindow", "Print Note"));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    preparePrintDocument(*document, attachmentLookupFor(state->attachments()))->print(&printer);
    tell(status, QCoreApplication::translate("MainWindow", "Printed %1").arg(title), 3000);
    return true;
}

void printPreviewNote(AppState *state, const QString &noteId, const QTextDocument *document,
    QWidget *parent, const StatusMessage &status)
{
    if (noteId.isEmpty() || !document) {
        tell(status, QCoreApplication::translate("MainWindow", "No note selected"), 3000);
        return;
    }
    const QString title = noteTitleOrUntitled(state, noteId);
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(title);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setWindowTitle(
        QCoreApplication::translate("MainWindow", "Print Preview — %1").arg(title));
    preview.resize(900, 700);
    const PrintedAttachmentLookup lookup = attachmentLookupFor(state->attachments());
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
        [document, lookup](
            QPrinter *device) { preparePrintDocument(*document, lookup)->print(device); });
    preview.exec();
}

QWidget *openImportDialog(AppState *state, QWidget *parent)
{
    auto *dialog = new ImportDialog(state, parent);
    dialog->show();
    return dialog;
}

namespace {

// Texts both share dialogs have in common; the caller adds title, heading and the rest.
BrevAccount::ShareDialogTexts commonShareTexts()
{
    BrevAccount::ShareDialogTexts texts;
    texts.accessHeader = QCoreApplication::translate("MainWindow", "Shared with");
    texts.emptyText = QCoreApplication::translate("MainWindow", "Not shared with anyone yet.");
    texts.shareButton = QCoreApplication::translate("MainWindow", "Share");
    texts.removeTooltip = QCoreApplication::translate("MainWindow", "Remove access");
    texts.closeButton = QCoreApplication::translate("MainWindow", "Close");
    texts.permission = QStringLiteral("edit");
    texts.shareFailedTitle = QCoreApplication::translate("MainWindow", "Share Failed");
    texts.removeFailedTitle = QCoreApplication::translate("MainWindow", "Remove Failed");
    texts.removeConfirmTitle = QCoreApplication::translate("MainWindow", "Remove Share");
    return texts;
}

QWidget *showShareDialog(AppState *state, BrevAccount::SharingBackend *backend,
    const QString &entityId, const BrevAccount::ShareDialogTexts &texts, QWidget *parent,
    bool notOnServerYet, const std::function<void()> &changed)
{
    auto *dialog = new BrevAccount::ShareMembersDialog(
        state->accountClient(), backend, entityId, texts, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // An item with changes not yet pushed may be unknown to the server: push now and ask again
    // once the cycle is through, rather than show "not found" for a note the user just wrote.
    if (notOnServerYet && state->syncEngine() && state->isSignedIn()) {
        SyncEngine *engine = state->syncEngine();
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = QObject::connect(engine, &SyncEngine::syncCompleted, dialog, [dialog, once] {
            QObject::disconnect(*once);
            dialog->refresh();
        });
        engine->sync();
    }
    QObject::connect(
        dialog, &BrevAccount::ShareMembersDialog::sharingChanged, state, [state, changed] {
            if (state->syncEngine())
                state->syncEngine()->sync();
            if (changed)
                changed();
        });
    dialog->show();
    return dialog;
}

} // namespace

QWidget *openNoteShareDialog(
    AppState *state, const QString &noteId, QWidget *parent, bool fromNoteWindow)
{
    const auto note = state->notes()->noteById(noteId);
    if (!note || !state->canShare() || !state->noteSharing())
        return nullptr;
    if (!note->ownerId.isEmpty()) {
        QMessageBox::information(parent, QCoreApplication::translate("MainWindow", "Share Note"),
            QCoreApplication::translate("MainWindow", "Only the owner can share this note."));
        return nullptr;
    }
    BrevAccount::ShareDialogTexts texts = commonShareTexts();
    texts.windowTitle = QCoreApplication::translate("MainWindow", "Share Note");
    texts.heading = QCoreApplication::translate("MainWindow", "Sharing: %1")
                        .arg(noteTitleOrUntitled(state, noteId));
    texts.description = QCoreApplication::translate("MainWindow",
        "Share this note with members of your Brevaro family group. They'll see the latest "
        "version synced to their devices.");
    if (fromNoteWindow)
        texts.removeTooltip = QCoreApplication::translate("MainWindow", "Remove Selected");
    texts.removeConfirmText
        = QCoreApplication::translate("MainWindow", "Remove %1's access to this note?");
    return showShareDialog(state, state->noteSharing(), noteId, texts, parent,
        note->syncStatus != SyncStatus::Synced, {});
}

QWidget *openNotebookShareDialog(AppState *state, const QString &notebookId, QWidget *parent,
    const std::function<void()> &changed)
{
    const auto notebook = state->notebooks()->notebookById(notebookId);
    if (!notebook || !state->canShare() || !state->notebookSharing())
        return nullptr;
    if (!notebook->ownerId.isEmpty()) {
        QMessageBox::information(parent,
            QCoreApplication::translate("MainWindow", "Share Notebook"),
            QCoreApplication::translate("MainWindow", "Only the owner can share this notebook."));
        return nullptr;
    }
    BrevAccount::ShareDialogTexts texts = commonShareTexts();
    texts.windowTitle = QCoreApplication::translate("MainWindow", "Share Notebook");
    texts.heading = QCoreApplication::translate("MainWindow", "Sharing: %1").arg(notebook->name);
    texts.description = QCoreApplication::translate("MainWindow",
        "Share this notebook with members of your Brevaro family group. They'll see every note "
        "inside it on their devices.");
    texts.removeConfirmText
        = QCoreApplication::translate("MainWindow", "Remove %1's access to this notebook?");
    return showShareDialog(state, state->notebookSharing(), notebookId, texts, parent,
        notebook->syncStatus != SyncStatus::Synced, changed);
}

QMenu *noteContextMenu(
    AppState *state, const QString &noteId, QWidget *parent, const NoteMenuHooks &hooks)
{
    auto *menu = new QMenu(parent);
    const std::optional<Note> note = state->notes()->noteById(noteId);
    if (!note)
        return menu;

    if (state->noteWindowsAvailable()) {
        menu->addAction(QCoreApplication::translate("MainWindow", "Open in New Window"), menu,
            [state, noteId] { state->openNoteWindow(noteId); });
    }

    QMenu *moveMenu = menu->addMenu(QCoreApplication::translate("MainWindow", "Move to Notebook"));
    auto *group = new QActionGroup(moveMenu);
    const auto addTarget = [&](const QString &name, const QString &notebookId) {
        QAction *action = moveMenu->addAction(name);
        action->setCheckable(true);
        action->setChecked(notebookId == note->notebookId);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, menu,
            [state, noteId, notebookId] { state->writer()->moveNote(noteId, notebookId); });
    };
    // As in the move dialog, a note can always leave its notebook.
    addTarget(QCoreApplication::translate("MainWindow", "No notebook"), QString());
    const QList<Notebook> notebooks = state->notebooks()->allNotebooks();
    if (!notebooks.isEmpty())
        moveMenu->addSeparator();
    for (const Notebook &notebook : notebooks)
        addTarget(notebook.name, notebook.id);
    // A note shared with the user read-only stays where its owner keeps it.
    const bool readOnly = NoteWriter::isReadOnlyShare(*note);
    moveMenu->setEnabled(!readOnly);

    if (hooks.share && note->ownerId.isEmpty()) {
        menu->addSeparator();
        const auto share = hooks.share;
        menu->addAction(note->isShared
                ? QCoreApplication::translate("MainWindow", "Manage Sharing…")
                : QCoreApplication::translate("MainWindow", "Share…"),
            menu, [share, noteId] { share(noteId); });
    }

    menu->addSeparator();
    const auto trash = hooks.moveToTrash;
    QAction *trashAction = menu->addAction(
        QCoreApplication::translate("MainWindow", "Move to Trash"), menu, [state, noteId, trash] {
            if (trash)
                trash(noteId);
            else
                state->writer()->trashNote(noteId);
        });
    trashAction->setEnabled(!readOnly);
    return menu;
}

QMenu *notebookContextMenu(
    AppState *state, const QString &notebookId, QWidget *parent, const NotebookMenuHooks &hooks)
{
    auto *menu = new QMenu(parent);
    const auto changed = hooks.changed;
    // The dialogs belong to the menu's parent: the menu itself is gone once it has closed.
    QPointer<QWidget> owner(parent);
    menu->addAction(QCoreApplication::translate("MainWindow", "Rename Notebook…"), menu,
        [state, notebookId, owner, changed] {
            if (askRenameNotebook(state, notebookId, owner) && changed)
                changed();
        });
    if (hooks.share) {
        const auto share = hooks.share;
        menu->addAction(QCoreApplication::translate("MainWindow", "Share Notebook…"), menu,
            [share, notebookId] { share(notebookId); });
    }
    menu->addSeparator();
    menu->addAction(QCoreApplication::translate("MainWindow", "Delete Notebook"), menu,
        [state, notebookId, owner, changed] {
            if (askDeleteNotebook(state, notebookId, owner) && changed)
                changed();
        });
    return menu;
}

void showNoteContextMenu(AppState *state, const QString &noteId, const QPoint &globalPos,
    QWidget *parent, const NoteMenuHooks &hooks)
{
    QMenu *menu = noteContextMenu(state, noteId, parent, hooks);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

void showNotebookContextMenu(AppState *state, const QString &notebookId, const QPoint &globalPos,
    QWidget *parent, const NotebookMenuHooks &hooks)
{
    QMenu *menu = notebookContextMenu(state, notebookId, parent, hooks);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

} // namespace NoteCommands
