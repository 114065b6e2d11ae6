#pragma once

#include "noteexport.h"

#include <QString>

#include <functional>
#include <optional>

class AppState;
class QMenu;
class QMimeData;
class QPoint;
class QTextDocument;
class QWidget;

// The note and notebook commands shared by the main window and the note windows: the ask* and
// menu functions run the dialogs with `parent` and then change the store through
// AppState::writer(). Lists refresh themselves from AppState's signals.
namespace NoteCommands {

// Shows a status-bar message for the given milliseconds; may be empty.
using StatusMessage = std::function<void(const QString &text, int timeoutMs)>;

// Opens the note a link points to in a window of its own, or says it is not there.
void openLinkedNote(AppState *state, const QString &noteId, const StatusMessage &message);

// The note's title, or "Untitled" when it is empty or the note does not exist.
QString noteTitleOrUntitled(AppState *state, const QString &noteId);

// The clipboard forms of a body: Markdown as text; HTML as HTML with the Markdown as text;
// anything else as plain text. Ownership passes to the caller (or the clipboard).
QMimeData *noteMimeData(const QString &body, ExportFormat format);
void copyNote(const QString &body, ExportFormat format);
void copyPlainText(const QString &text);

// Writes the note like exportNote; with `includeAttachments` and attachments present, also a
// ZIP bundle beside it ("<name>.zip") holding the exported file and the attachment files.
ExportResult exportNoteToPath(AppState *state, const Note &note, const QString &path,
    ExportFormat format, bool includeAttachments);

// --- commands with dialogs ---

// "New Notebook" dialog, then creates it and makes it the current notebook. The new id or "".
QString askNewNotebook(AppState *state, QWidget *parent);
bool askRenameNotebook(AppState *state, const QString &notebookId, QWidget *parent);
// Asks "Delete Notebook" (Yes/No), then deletes it (its notes move to no notebook, all or
// nothing) and clears the current notebook.
bool askDeleteNotebook(AppState *state, const QString &notebookId, QWidget *parent);
// "Move to Notebook" dialog for the note, then moves it.
bool askMoveNote(AppState *state, const QString &noteId, QWidget *parent);
// Export dialog, save dialog titled "Export Note", export; "Exported to %1" through `status` or
// an "Export Failed" warning. Reads the note as stored: save the open note first. nullopt when
// the note is missing or the user cancelled.
std::optional<ExportResult> askExportNote(
    AppState *state, const QString &noteId, QWidget *parent, const StatusMessage &status);
// Print dialog titled "Print Note" for a paper copy of `document` (the open note's editor
// document; save the note first). With no note: "No note selected". True when printed.
bool printNote(AppState *state, const QString &noteId, const QTextDocument *document,
    QWidget *parent, const StatusMessage &status);
// Modal preview titled "Print Preview — %1", 900 x 700.
void printPreviewNote(AppState *state, const QString &noteId, const QTextDocument *document,
    QWidget *parent, const StatusMessage &status);
// Opens the import wizard (modeless, deletes itself on close).
QWidget *openImportDialog(AppState *state, QWidget *parent);

// --- sharing ---

// The share dialog ("Share Note") for one of the user's own notes: modeless, deleted on close;
// a change syncs. A note window's dialog reads "Remove Selected" on its remove buttons. Null
// (after telling the user) for a note somebody else owns, or while sharing is unavailable.
QWidget *openNoteShareDialog(
    AppState *state, const QString &noteId, QWidget *parent, bool fromNoteWindow = false);
// The share dialog ("Share Notebook") for a notebook; a change syncs and calls `changed`.
QWidget *openNotebookShareDialog(AppState *state, const QString &notebookId, QWidget *parent,
    const std::function<void()> &changed = {});

// --- context menus ---

struct NoteMenuHooks
{
    // Opens the note's share dialog; leave empty while sharing is unavailable.
    std::function<void(const QString &noteId)> share;
    // Moves the note to the trash; empty: through the notes repository.
    std::function<void(const QString &noteId)> moveToTrash;
};

struct NotebookMenuHooks
{
    // Opens the notebook's share dialog; leave empty while sharing is unavailable.
    std::function<void(const QString &notebookId)> share;
    // Called after a rename or delete went through.
    std::function<void()> changed;
};

// "Open in New Window" (when note windows can be made), "Move to Notebook" submenu, the share
// entry for the user's own notes, "Move to Trash". Owned by `parent`; the caller shows it.
QMenu *noteContextMenu(
    AppState *state, const QString &noteId, QWidget *parent, const NoteMenuHooks &hooks = {});
// "Rename Notebook…", "Share Notebook…" (with a share hook), "Delete Notebook".
QMenu *notebookContextMenu(AppState *state, const QString &notebookId, QWidget *parent,
    const NotebookMenuHooks &hooks = {});
// Build, show at `globalPos`, and delete the menu once it closes.
void showNoteContextMenu(AppState *state, const QString &noteId, const QPoint &globalPos,
    QWidget *parent, const NoteMenuHooks &hooks = {});
void showNotebookContextMenu(AppState *state, const QString &notebookId, const QPoint &globalPos,
    QWidget *parent, const NotebookMenuHooks &hooks = {});

} // namespace NoteCommands
