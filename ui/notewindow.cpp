#include "notewindow.h"

#include "appstate.h"
#include "attachmentrepository.h"
#include "client.h"
#include "database.h"
#include "editortoolbar.h"
#include "findbar.h"
#include "notebookrepository.h"
#include "notecommands.h"
#include "noteeditor.h"
#include "noteheaderbar.h"
#include "noterepository.h"
#include "notetext.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "recoveryfile.h"
#include "snapshotrepository.h"
#include "statusbar.h"
#include "thememanager.h"
#include "versionhistorydialog.h"
#include "windowplacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QVBoxLayout>

namespace {

enum CopyFormat { PlainText, Markdown, Html };

} // namespace

NoteWindow::NoteWindow(AppState *appState, const QString &noteId, QWidget *parent)
    : QMainWindow(parent), m_appState(appState), m_noteId(noteId)
{
    setAttribute(Qt::WA_DeleteOnClose);
    WindowPlacement::placeNew(this, QSize(960, 760), false);

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_headerBar = new NoteHeaderBar(central);
    m_headerBar->showFocusToggle(false);
    m_headerBar->setChipToolTip(tr("Move to notebook…"));
    layout->addWidget(m_headerBar);

    m_toolbar = new EditorToolbar(central);
    layout->addWidget(m_toolbar);

    m_findBar = new FindBar(central);
    layout->addWidget(m_findBar);

    m_editor = new NoteEditor(central);
    m_editor->setAttachmentRepository(m_appState->attachments());
    m_toolbar->setEditor(m_editor);
    m_findBar->setEditor(m_editor);
    layout->addWidget(m_editor, 1);
    setCentralWidget(central);

    m_statusBar = new StatusBar(this);
    setStatusBar(m_statusBar);

    buildMenus();
    connect(m_editor, &NoteEditor::noteModified, this, [this] { storeNote(true); });
    connect(m_editor, &NoteEditor::noteLinkActivated, this, [this](const QString &noteId) {
        NoteCommands::openLinkedNote(m_appState, noteId,
            [this](const QString &text, int ms) { m_statusBar->showMessage(text, ms); });
    });
    connect(m_editor, &NoteEditor::savedStateChanged, m_statusBar, &StatusBar::setSaved);
    connect(m_editor, &NoteEditor::wordCountChanged, m_statusBar, &StatusBar::setWordCount);
    m_statusBar->followSync(m_appState);
    connectHeaderBar();
    connectAppState();
    restoreStoredGeometry();
    loadNote();
    // A note window is for writing: keys go to the note from the first moment.
    m_editor->setFocus();
}

NoteWindow::~NoteWindow() = default;

NoteWindow *NoteWindow::createForNote(AppState *appState, const QString &noteId)
{
    if (!appState || !appState->notes())
        return nullptr;
    const std::optional<Note> note = appState->notes()->noteById(noteId);
    if (!note) {
        qWarning().noquote() << "NoteWindow: no note with id" << noteId << "- no window opened";
        return nullptr;
    }
    if (note->deletedAt) {
        qWarning().noquote() << "NoteWindow: note" << noteId
                             << "is in the trash - no window opened";
        return nullptr;
    }
    auto *window = new NoteWindow(appState, noteId);
    QObject::connect(window, &NoteWindow::windowClosed, appState, &AppState::noteWindowClosed);
    return window;
}

void NoteWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *saveAction = file->addAction(tr("Save Snapshot"));
    saveAction->setShortcut(QKeySequence::Save);
    connect(saveAction, &QAction::triggered, this, &NoteWindow::saveSnapshot);
    QAction *exportAction = file->addAction(tr("Export..."));
    exportAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    connect(exportAction, &QAction::triggered, this, &NoteWindow::exportNote);
    file->addSeparator();
    QAction *closeAction = file->addAction(tr("Close"));
    closeAction->setShortcut(QKeySequence::Close);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);

    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    QAction *undo = edit->addAction(tr("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    connect(undo, &QAction::triggered, m_editor, &QTextEdit::undo);
    QAction *redo = edit->addAction(tr("Redo"));
    redo->setShortcut(QKeySequence::Redo);
    connect(redo, &QAction::triggered, m_editor, &QTextEdit::redo);
    edit->addSeparator();
    QAction *find = edit->addAction(tr("Find in Note..."));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        if (m_editor->hasNote())
            m_findBar->openBar();
    });

    QMenu *format = menuBar()->addMenu(tr("F&ormat"));
    const auto addFormat
        = [this, format](const QString &text, const QKeySequence &shortcut, auto command) {
              QAction *action = format->addAction(text);
              action->setShortcut(shortcut);
              connect(action, &QAction::triggered, m_editor, command);
              return action;
          };
    addFormat(tr("Bold"), QKeySequence::Bold, [this] { m_editor->toggleBold(); });
    addFormat(tr("Italic"), QKeySequence::Italic, [this] { m_editor->toggleItalic(); });
    addFormat(tr("Underline"), QKeySequence::Underline, [this] { m_editor->toggleUnderline(); });
    addFormat(tr("Strikethrough"), QKeySequence(QStringLiteral("Ctrl+Shift+X")),
        [this] { m_editor->toggleStrikethrough(); });
    format->addSeparator();
    addFormat(tr("Heading 1"), QKeySequence(QStringLiteral("Ctrl+1")),
        [this] { m_editor->setHeading(1); });
    addFormat(tr("Heading 2"), QKeySequence(QStringLiteral("Ctrl+2")),
        [this] { m_editor->setHeading(2); });
    addFormat(tr("Heading 3"), QKeySequence(QStringLiteral("Ctrl+3")),
        [this] { m_editor->setHeading(3); });
    addFormat(tr("Normal Text"), QKeySequence(QStringLiteral("Ctrl+0")),
        [this] { m_editor->setHeading(0); });
    format->addSeparator();
    addFormat(tr("Bullet List"), QKeySequence(QStringLiteral("Ctrl+Shift+8")),
        [this] { m_editor->toggleBulletList(); });
    addFormat(tr("Numbered List"), QKeySequence(QStringLiteral("Ctrl+Shift+7")),
        [this] { m_editor->toggleNumberedList(); });
    addFormat(tr("Checkbox List"), QKeySequence(QStringLiteral("Ctrl+Shift+9")),
        [this] { m_editor->toggleCheckboxList(); });
    format->addSeparator();
    addFormat(tr("Code Block"), QKeySequence(QStringLiteral("Ctrl+Shift+`")),
        [this] { m_editor->toggleCodeBlock(); });
    addFormat(tr("Blockquote"), QKeySequence(QStringLiteral("Ctrl+Shift+B")),
        [this] { m_editor->toggleBlockquote(); });
    format->addSeparator();
    addFormat(tr("Insert Divider"), QKeySequence(), [this] { m_editor->insertDivider(); });
    addFormat(tr("Insert Table..."), QKeySequence(QStringLiteral("Ctrl+T")), [this] {
        const NoteEditor::TablePrompt prompt = NoteEditor::promptInsertTable(this);
        if (prompt.accepted)
            m_editor->insertTable(prompt.rows, prompt.columns, prompt.header);
    });
    // Formatting only makes sense while the note can be edited.
    connect(format, &QMenu::aboutToShow, this, [this, format] {
        for (QAction *action : format->actions())
            action->setEnabled(editorEditable());
    });

    QMenu *note = menuBar()->addMenu(tr("&Note"));
    m_moveToTrashAction = note->addAction(tr("Move to Trash"));
    m_moveToTrashAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Backspace")));
    connect(m_moveToTrashAction, &QAction::triggered, this, [this] { moveToTrash(false); });

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    connect(help->addAction(tr("About Brevaro Notes")), &QAction::triggered, this, [this] {
        QMessageBox::about(
            this, tr("About"), tr("Brevaro Notes %1").arg(QApplication::applicationVersion()));
    });
}

void NoteWindow::connectHeaderBar()
{
    m_headerBar->setCanShare(m_appState->canShare());
    connect(m_appState, &AppState::canShareChanged, m_headerBar, &NoteHeaderBar::setCanShare);
    connect(m_headerBar, &NoteHeaderBar::shareRequested, this,
        [this] { NoteCommands::openNoteShareDialog(m_appState, m_noteId, this, true); });
    connect(m_headerBar, &NoteHeaderBar::notebookChipClicked, this, &NoteWindow::moveToNotebook);
    connect(
        m_headerBar, &NoteHeaderBar::moveToNotebookRequested, this, &NoteWindow::moveToNotebook);
    connect(m_headerBar, &NoteHeaderBar::exportRequested, this, [this] {
        saveNote();
        exportNote();
    });
    connect(
        m_headerBar, &NoteHeaderBar::copyAsPlainTextRequested, this, [this] { copyAs(PlainText); });
    connect(
        m_headerBar, &NoteHeaderBar::copyAsMarkdownRequested, this, [this] { copyAs(Markdown); });
    connect(m_headerBar, &NoteHeaderBar::copyAsHtmlRequested, this, [this] { copyAs(Html); });
    connect(m_headerBar, &NoteHeaderBar::historyRequested, this, &NoteWindow::showVersionHistory);
    connect(m_headerBar, &NoteHeaderBar::includeInTodosToggled, this,
        [this](bool enabled) { m_appState->notes()->setIncludeInTodos(m_noteId, enabled); });
    connect(m_headerBar, &NoteHeaderBar::printRequested, this, &NoteWindow::print);
    connect(m_headerBar, &NoteHeaderBar::deleteRequested, this, [this] { moveToTrash(true); });
}

void NoteWindow::connectAppState()
{
    connect(m_appState, &AppState::noteUpdatedExternally, this,
        [this](const QString &noteId, QObject *source) {
            if (source == this || noteId != m_noteId)
                return;
            // Edits typed here and not yet saved are never replaced by another view's version;
            // the save that follows keeps that version as a snapshot first.
            if (hasOwnUnsavedEdits())
                return;
            loadNote();
        });
    connect(m_appState, &AppState::noteDeletedExternally, this, [this](const QString &noteId) {
        if (noteId == m_noteId)
            close();
    });
    // Only writes of this note matter here: a sync that brings many notes must not make every
    // open window re-read its own.
    connect(m_appState, &AppState::notesWritten, this, [this](const QStringList &noteIds) {
        if (!noteIds.contains(m_noteId) || !m_editor->hasNote() || hasOwnUnsavedEdits())
            return;
        const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
        if (note && !note->deletedAt)
            loadNote();
    });
    // A notebook change touches at most the name shown; moved notes arrive as note writes.
    connect(m_appState, &AppState::notebooksChanged, this, &NoteWindow::refreshNotebookName);
    // Link, code and table colours are set when the body is loaded; a new theme needs a reload.
    if (m_appState->themeManager()) {
        connect(m_appState->themeManager(), &ThemeManager::themeChanged, this, [this] {
            if (!m_editor->hasNote())
                return;
            saveNote();
            if (!hasOwnUnsavedEdits())
                loadNote(true);
        });
    }
}

bool NoteWindow::hasOwnUnsavedEdits() const
{
    // After a save the editor still counts itself unsaved until its autosave timer runs out;
    // what it holds then is exactly what this window stored, so nothing would be lost.
    return !m_editor->isSaved() && m_editor->content() != m_storedBody;
}

QString NoteWindow::geometryKey() const
{
    return QStringLiteral("note_window_geom/%1").arg(m_noteId);
}

void NoteWindow::restoreStoredGeometry()
{
    const QString stored = m_appState->preferences()->stringValue(geometryKey());
    if (stored.isEmpty())
        return;
    const auto decoded = QByteArray::fromBase64Encoding(
        stored.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty()) {
        qWarning().noquote() << "NoteWindow: ignoring unreadable stored geometry for note"
                             << m_noteId;
        return;
    }
    if (!restoreGeometry(decoded.decoded)) {
        qWarning().noquote() << "NoteWindow: ignoring unreadable stored geometry for note"
                             << m_noteId;
        WindowPlacement::placeNew(this, QSize(960, 760), false);
        return;
    }
    WindowPlacement::keepOnScreen(this);
}

void NoteWindow::loadNote(bool forceReload)
{
    const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    if (!note) {
        m_editor->clearNote();
        m_toolbar->setActive(false);
        m_headerBar->setHasNote(false);
        m_lastSavedBody.clear();
        m_storedBody.clear();
        m_statusBar->setLocation(tr("No notebook"), -1);
        if (m_findBar->isVisible())
            m_findBar->closeBar();
        refreshTitle();
        return;
    }

    m_editor->setNote(note->id, note->body, forceReload);
    const bool editable = note->ownerId.isEmpty() || note->permission == QStringLiteral("edit");
    m_editor->setReadOnly(!editable);
    m_toolbar->setActive(editable);
    m_headerBar->setHasNote(editable);

    showNotebookName(note->notebookId);
    m_headerBar->setUpdatedAt(note->updatedAt);
    m_headerBar->setIncludeInTodos(m_appState->notes()->includeInTodos(note->id));
    m_headerBar->setShared(note->isShared);

    m_lastSavedBody = note->body;
    m_storedBody = note->body;
    refreshTitle();
}

void NoteWindow::refreshNotebookName()
{
    if (const std::optional<Note> note = m_appState->notes()->noteById(m_noteId))
        showNotebookName(note->notebookId);
}

void NoteWindow::showNotebookName(const QString &notebookId)
{
    QString name;
    if (!notebookId.isEmpty()) {
        if (const auto notebook = m_appState->notebooks()->notebookById(notebookId))
            name = notebook->name;
    }
    m_headerBar->setNotebookName(name);
    m_statusBar->setLocation(name.isEmpty() ? tr("No notebook") : name, -1);
}

void NoteWindow::refreshTitle()
{
    const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    if (!note) {
        setWindowTitle(tr("Brevaro Notes"));
        return;
    }
    QString title = noteTitle(note->body);
    if (title.isEmpty())
        title = tr("Untitled");
    setWindowTitle(tr("%1 — Brevaro Notes").arg(title));
}

bool NoteWindow::editorEditable() const
{
    return m_editor->hasNote() && !m_editor->isReadOnly();
}

void NoteWindow::saveNote()
{
    storeNote(false);
}

void NoteWindow::storeNote(bool autosave)
{
    // Whatever follows a save (closing, moving, printing) knows how a large note's write
    // still running in the background went.
    if (!autosave && m_appState->database())
        m_appState->database()->finishBackgroundWrites();
    if (!editorEditable() || m_editor->isSaved())
        return;
    std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    if (!note) {
        qWarning().noquote() << "NoteWindow: note" << m_noteId
                             << "no longer exists; its unsaved edits cannot be stored";
        return;
    }
    const QString body = m_editor->content();
    // Nothing typed since this window last stored the note: a newer version written by another
    // view meanwhile must not be replaced by this one.
    if (body == m_storedBody || body == note->body) {
        if (m_editor->saveFailed())
            m_editor->markSaved();
        return;
    }

    // Another view stored a version this window never showed; keep it in the history before
    // these edits replace it.
    if (!m_storedBody.isEmpty() && note->body != m_storedBody
        && !m_appState->snapshots()->takeSnapshot(*note, note->body))
        qWarning().noquote() << "NoteWindow: could not keep the other version of note" << m_noteId
                             << "as a snapshot";

    NoteWriter *writer = m_appState->writer();
    if (autosave && body.size() >= NoteWriter::BackgroundSaveFrom) {
        // Typing goes on while it commits; the editor says "saved" once it has.
        QPointer<NoteWindow> self(this);
        const quint64 edits = m_editor->editCount();
        if (writer->saveBodyInBackground(
                *note, body, [self, body, edits](bool saved, const Note &stored) {
                    if (self)
                        self->backgroundSaveDone(saved, stored, body, edits);
                }))
            m_editor->markSavePending();
        return;
    }
    if (!writer->saveBody(*note, body)) {
        if (!writer->lastError().failed())
            return;
        // The text stays here, unsaved, and is tried again; the status bar says why.
        qWarning().noquote() << "Note" << m_noteId << "not saved:" << writer->lastError().text;
        m_editor->markSaveFailed();
        m_statusBar->setSaveFailed(writer->lastError());
        return;
    }
    if (m_editor->saveFailed()) {
        qInfo().noquote() << "Note" << m_noteId << "saved after an earlier failure";
        m_editor->markSaved();
        m_appState->recoveryFile()->remove(m_noteId);
    }
    m_storedBody = body;
    m_headerBar->setUpdatedAt(note->updatedAt);
    m_appState->notifyNoteUpdated(m_noteId, this);
    refreshTitle();
}

void NoteWindow::backgroundSaveDone(
    bool saved, const Note &stored, const QString &body, quint64 edits)
{
    if (!saved) {
        const WriteError error = m_appState->writer()->lastError();
        qWarning().noquote() << "Note" << m_noteId << "not saved:" << error.text;
        m_editor->markSaveFailed();
        m_statusBar->setSaveFailed(error);
        return;
    }
    const bool failedBefore = m_editor->saveFailed();
    m_editor->markSavedAt(edits);
    if (failedBefore && !m_editor->saveFailed()) {
        qInfo().noquote() << "Note" << m_noteId << "saved after an earlier failure";
        m_appState->recoveryFile()->remove(m_noteId);
    }
    m_storedBody = body;
    m_headerBar->setUpdatedAt(stored.updatedAt);
    m_appState->notifyNoteUpdated(m_noteId, this);
    refreshTitle();
}

void NoteWindow::saveSnapshot()
{
    saveNote();
    if (!editorEditable())
        return;
    // One snapshot per version: pressing it twice without typing keeps one entry.
    const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    if (note && !note->deletedAt && m_appState->snapshots()->takeSnapshot(*note, note->body))
        m_lastSavedBody = note->body;
}

void NoteWindow::snapshotIfChanged()
{
    if (!editorEditable() || m_lastSavedBody.isEmpty())
        return;
    const QString body = m_editor->content();
    if (body.isEmpty() || body == m_lastSavedBody)
        return;
    const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    if (!note)
        return;
    if (m_appState->snapshots()->takeSnapshot(*note, body))
        m_lastSavedBody = body;
}

void NoteWindow::moveToTrash(bool confirm)
{
    const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    if (!note || note->deletedAt) {
        close();
        return;
    }
    if (confirm) {
        QString label = noteTitle(note->body);
        if (label.isEmpty())
            label = tr("this note");
        const auto answer = QMessageBox::question(this, tr("Move to Trash"),
            tr("Move \"%1\" to Trash?").arg(label), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    // Edits still waiting for the autosave go with the note into the trash.
    saveNote();
    m_appState->writer()->trashNote(m_noteId);
    close();
}

void NoteWindow::copyAs(int format)
{
    if (format == PlainText) {
        NoteCommands::copyPlainText(m_editor->toPlainText());
        return;
    }
    saveNote();
    const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
    NoteCommands::copyNote(note ? note->body : m_editor->content(),
        format == Markdown ? ExportFormat::Markdown : ExportFormat::Html);
}

void NoteWindow::showVersionHistory()
{
    if (!m_editor->hasNote())
        return;
    // The dialog restores through the store and announces it, so unsaved edits go first.
    saveNote();
    VersionHistoryDialog dialog(m_appState, m_noteId, this);
    dialog.exec();
}

void NoteWindow::print()
{
    saveNote();
    NoteCommands::printNote(m_appState, m_editor->hasNote() ? m_noteId : QString(),
        m_editor->document(), this, statusMessage());
}

void NoteWindow::exportNote()
{
    if (m_editor->hasNote())
        NoteCommands::askExportNote(m_appState, m_noteId, this, statusMessage());
}

void NoteWindow::moveToNotebook()
{
    if (!editorEditable())
        return;
    // Unsaved edits are stored first so that the reload after the move keeps them.
    saveNote();
    if (NoteCommands::askMoveNote(m_appState, m_noteId, this))
        loadNote();
}

NoteCommands::StatusMessage NoteWindow::statusMessage()
{
    return [status = QPointer<StatusBar>(m_statusBar)](const QString &text, int timeoutMs) {
        if (status)
            status->showMessage(text, timeoutMs);
    };
}

void NoteWindow::closeEvent(QCloseEvent *event)
{
    // A trash from this window closes it twice (the command and the trash notice); the work
    // below runs once.
    if (m_closed) {
        event->accept();
        return;
    }
    m_closed = true;

    saveNote();
    snapshotIfChanged();

    const bool unsaved = editorEditable() && m_editor->saveFailed();
    if (unsaved) {
        RecoveryFile::Entry entry;
        entry.noteId = m_noteId;
        entry.body = m_editor->content();
        if (const std::optional<Note> note = m_appState->notes()->noteById(m_noteId)) {
            entry.notebookId = note->notebookId;
            entry.baseVersion = note->version;
        }
        if (m_appState->recoveryFile()->keep(entry)) {
            qWarning().noquote() << "Unsaved text of note" << m_noteId << "kept in"
                                 << m_appState->recoveryFile()->path();
        } else {
            const QMessageBox::StandardButton answer
                = QMessageBox::warning(this, tr("Note Not Saved"),
                    tr("The changes to this note could not be saved, and there is no room to keep "
                       "them for later either.\n\nClose and lose them?"),
                    QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel);
            if (answer != QMessageBox::Discard) {
                m_closed = false;
                event->ignore();
                return;
            }
        }
    }

    bool keepGeometry = !m_noteId.isEmpty();
    // A note whose text could not be saved looks empty in the store; it is not removed.
    if (editorEditable() && !unsaved) {
        const std::optional<Note> note = m_appState->notes()->noteById(m_noteId);
        // A note left empty is not kept: never synced, it goes for good; otherwise the server
        // has to learn of its removal, so it goes to the trash.
        if (note && !note->deletedAt && isEmptyNote(note->body)) {
            keepGeometry = false;
            if (note->syncStatus == SyncStatus::Pending)
                m_appState->writer()->purgeNote(m_noteId);
            else
                m_appState->writer()->trashNote(m_noteId);
            m_appState->preferences()->remove(geometryKey());
        }
    }
    if (keepGeometry) {
        m_appState->preferences()->setValue(
            geometryKey(), QString::fromLatin1(saveGeometry().toBase64()));
    }
    emit windowClosed(m_noteId);
    event->accept();
}
