#include "mainwindow.h"

#include "appstate.h"
#include "attachmentrepository.h"
#include "database.h"
#include "deltaformat.h"
#include "editortoolbar.h"
#include "findbar.h"
#include "fontscale.h"
#include "notebooklistwidget.h"
#include "notebookrepository.h"
#include "notecommands.h"
#include "noteeditor.h"
#include "noteheaderbar.h"
#include "notelistcache.h"
#include "notelistwidget.h"
#include "notetext.h"
#include "notewriter.h"
#include "plaintextrenderer.h"
#include "preferencesrepository.h"
#include "readablecolumn.h"
#include "recoveryfile.h"
#include "screenhelpers.h"
#include "searchlistloader.h"
#include "searchquery.h"
#include "searchscreen.h"
#include "sharedscreen.h"
#include "snapshotrepository.h"
#include "statusbar.h"
#include "thememanager.h"
#include "todosscreen.h"
#include "trashscreen.h"
#include "versionhistorydialog.h"
#include "welcomescreen.h"
#include "windowplacement.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace {

const QString SettingsGroup = QStringLiteral("mainWindow");

QVBoxLayout *bareColumn(QWidget *widget)
{
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// "1,2,3" with exactly three non-negative decimal integers; anything else is no sizes at all.
QList<int> parseSplitterSizes(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return {};
    QList<int> sizes;
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok || value < 0)
            return {};
        sizes.append(value);
    }
    return sizes;
}

} // namespace

MainWindow::MainWindow(AppState *appState, QWidget *parent)
    : QMainWindow(parent), m_appState(appState), m_listCache(appState->notes())
{
    setWindowTitle(tr("Brevaro Notes"));
    createMenuBar();
    createUI();
    setupConnections();
    restoreWindowState();
    refreshNoteList();
    refreshNotebookList();

    QSettings settings;
    settings.beginGroup(SettingsGroup);
    m_sidebarVisible = settings.value(QStringLiteral("notebookSidebarVisible"), true).toBool();
    m_focusMode = settings.value(QStringLiteral("focusMode"), false).toBool();
    settings.endGroup();
    {
        const QSignalBlocker focusBlocker(m_focusModeAction);
        const QSignalBlocker sidebarBlocker(m_sidebarAction);
        m_focusModeAction->setChecked(m_focusMode);
        m_sidebarAction->setChecked(m_sidebarVisible);
    }
    applyPaneLayout();

    const QString restoredNote = m_appState->currentNoteId();
    if (!restoredNote.isEmpty()) {
        m_noteList->selectNote(restoredNote);
        if (m_editor->noteId() != restoredNote)
            openNote(restoredNote);
    }

    connect(m_appState->preferences(), &PreferencesRepository::changed, this,
        &MainWindow::onPreferenceChanged);
    connect(m_appState->themeManager(), &ThemeManager::fontScaleChanged, this,
        &MainWindow::onFontScaleChanged);

    applyStenoMode();
    updateTray();
    m_wasSignedIn = signedIn();
    m_statusBar->followSync(m_appState);
    followSearchIndex();
    setupSyncConnections();
    updateAuthUI();
    showEmptyOrEditor();
}

MainWindow::~MainWindow()
{
    // The screens are top-level windows without a parent.
    delete m_todosScreen;
    delete m_searchScreen;
    delete m_trashScreen;
    delete m_sharedWithMeScreen;
    delete m_sharedByMeScreen;
    delete m_accountScreen;
}

TodosScreen *MainWindow::todosScreen() const
{
    return m_todosScreen;
}

void MainWindow::createUI()
{
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setHandleWidth(1);
    m_splitter->setChildrenCollapsible(false);

    m_leftPane = new QWidget(m_splitter);
    m_notebookList = new NotebookListWidget(m_leftPane);
    bareColumn(m_leftPane)->addWidget(m_notebookList);

    m_middlePane = new QWidget(m_splitter);
    m_middleLayout = bareColumn(m_middlePane);
    m_searchBox = new QWidget(m_middlePane);
    auto *searchLayout = new QHBoxLayout(m_searchBox);
    searchLayout->setContentsMargins(8, 8, 8, 8);
    m_searchField = new QLineEdit(m_searchBox);
    m_searchField->setPlaceholderText(tr("Search..."));
    m_searchField->setAccessibleName(tr("Search notes"));
    m_searchField->setClearButtonEnabled(true);
    ScreenHelpers::nameClearButton(m_searchField);
    searchLayout->addWidget(m_searchField);
    m_noteList = new NoteListWidget(m_middlePane);
    m_offlineBanner = new QLabel(
        tr("Offline — your changes are kept and sync when the server is back."), m_middlePane);
    m_offlineBanner->setObjectName(QStringLiteral("offlineBanner"));
    m_offlineBanner->setWordWrap(true);
    m_offlineBanner->hide();
    m_middleLayout->addWidget(m_searchBox);
    m_middleLayout->addWidget(m_offlineBanner);
    m_middleLayout->addWidget(m_noteList);

    QPointer<AppState> state(m_appState);
    m_noteList->setNotebookNameResolver([this](const QString &id) { return notebookName(id); });
    m_noteList->setPlainTextLoader([state](const QStringList &ids) {
        return state && state->notes() ? state->notes()->plainTextsByIds(ids)
                                       : QHash<QString, QString>();
    });

    m_rightPane = new QWidget(m_splitter);
    m_pages = new QStackedWidget(m_rightPane);
    bareColumn(m_rightPane)->addWidget(m_pages);
    m_welcomePage = new WelcomeScreen(m_pages);
    m_editorPage = new QWidget(m_pages);
    m_headerBar = new NoteHeaderBar(m_editorPage);
    m_toolbar = new EditorToolbar(m_editorPage);
    m_findBar = new FindBar(m_editorPage);
    m_editor = new NoteEditor(m_editorPage);
    m_readableColumn = new ReadableColumn(m_editor);
    m_editor->setAttachmentRepository(m_appState->attachments());
    m_toolbar->setEditor(m_editor);
    m_toolbar->setActive(false);
    m_findBar->setEditor(m_editor);
    QVBoxLayout *editorLayout = bareColumn(m_editorPage);
    editorLayout->addWidget(m_headerBar);
    editorLayout->addWidget(m_toolbar);
    editorLayout->addWidget(m_findBar);
    editorLayout->addWidget(m_editor, 1);
    m_pages->addWidget(m_welcomePage);
    m_pages->addWidget(m_editorPage);

    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setStretchFactor(2, 1);
    m_splitter->setSizes({ 200, 260, 800 });
    setCentralWidget(m_splitter);

    m_statusBar = new StatusBar(this);
    setStatusBar(m_statusBar);

    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(300);
}

void MainWindow::setupConnections()
{
    connect(m_searchField, &QLineEdit::textChanged, this, [this] { m_searchTimer.start(); });
    connect(&m_searchTimer, &QTimer::timeout, this, &MainWindow::refreshNoteList);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
        if (!m_focusMode && m_sidebarVisible && m_leftPane->isVisible()
            && m_middlePane->isVisible())
            m_normalSplitterSizes = m_splitter->sizes();
    });

    connect(m_notebookList, &NotebookListWidget::allNotesSelected, this, [this] {
        m_appState->setCurrentNotebookId(QString());
        refreshNoteList();
    });
    connect(m_notebookList, &NotebookListWidget::notebookSelected, this,
        [this](const QString &notebookId) {
            m_appState->setCurrentNotebookId(notebookId);
            refreshNoteList();
        });
    connect(m_notebookList, &NotebookListWidget::trashSelected, this, &MainWindow::showTrashScreen);
    connect(
        m_notebookList, &NotebookListWidget::newNotebookRequested, this, &MainWindow::newNotebook);
    connect(m_notebookList, &NotebookListWidget::notebookContextMenuRequested, this,
        &MainWindow::showNotebookContextMenu);
    connect(m_notebookList, &NotebookListWidget::noteDroppedOnNotebook, this,
        [this](const QString &noteId, const QString &notebookId) {
            m_appState->writer()->moveNote(noteId, notebookId);
        });

    connect(m_noteList, &NoteListWidget::noteSelected, this, &MainWindow::onNoteSelected);
    connect(m_noteList, &NoteListWidget::noteDoubleClicked, this,
        [this](const QString &noteId) { m_appState->openNoteWindow(noteId); });
    connect(m_noteList, &NoteListWidget::noteActivated, this,
        [this] { m_editor->setFocus(Qt::OtherFocusReason); });
    connect(m_noteList, &NoteListWidget::noteDeleteRequested, this,
        [this] { deleteCurrentNote(false); });
    connect(m_noteList, &NoteListWidget::noteContextMenuRequested, this,
        &MainWindow::showNoteContextMenu);

    connect(m_editor, &NoteEditor::noteModified, this, &MainWindow::autosaveCurrentNote);
    connect(m_editor, &NoteEditor::noteLinkActivated, this, [this](const QString &noteId) {
        NoteCommands::openLinkedNote(m_appState, noteId,
            [this](const QString &text, int ms) { m_statusBar->showMessage(text, ms); });
    });
    connect(m_editor, &NoteEditor::savedStateChanged, m_statusBar, &StatusBar::setSaved);
    connect(m_editor, &NoteEditor::wordCountChanged, m_statusBar, &StatusBar::setWordCount);

    connect(m_appState, &AppState::notesChanged, this, &MainWindow::onNotesChanged);
    connect(m_appState, &AppState::notebooksChanged, this, [this] {
        refreshNotebookList();
        m_noteList->notebookNamesChanged();
    });
    connect(m_appState, &AppState::noteUpdatedExternally, this,
        [this](const QString &noteId, QObject *source) {
            if (source != this && noteId == m_editor->noteId())
                openNote(noteId);
        });
    connect(m_appState, &AppState::noteDeletedExternally, this, [this](const QString &noteId) {
        if (noteId == m_editor->noteId()) {
            clearOpenNote();
            showEmptyOrEditor();
        }
    });

    connect(m_welcomePage, &WelcomeScreen::newNoteRequested, this, &MainWindow::newNote);
    setupAccountConnections();
    setupHeaderBar();
}

void MainWindow::setupHeaderBar()
{
    m_headerBar->setHasNote(false);
    m_headerBar->setCanShare(m_appState->canShare());

    connect(m_headerBar, &NoteHeaderBar::focusToggleClicked, this,
        [this] { setFocusMode(!m_focusMode); });
    connect(m_headerBar, &NoteHeaderBar::notebookChipClicked, this, [this] {
        const std::optional<Note> note = m_appState->notes()->noteById(m_editor->noteId());
        if (!note)
            return;
        m_appState->setCurrentNotebookId(note->notebookId);
        refreshNoteList();
        refreshNotebookList();
    });
    connect(m_headerBar, &NoteHeaderBar::copyAsPlainTextRequested, this, [this] {
        if (m_editor->hasNote())
            NoteCommands::copyPlainText(
                renderPlainText(Delta::parseArray(m_editor->content()).value_or(QJsonArray())));
    });
    const auto copyStored = [this](ExportFormat format) {
        saveCurrentNote();
        if (const std::optional<Note> note = m_appState->notes()->noteById(m_editor->noteId()))
            NoteCommands::copyNote(note->body, format);
    };
    connect(m_headerBar, &NoteHeaderBar::copyAsMarkdownRequested, this,
        [copyStored] { copyStored(ExportFormat::Markdown); });
    connect(m_headerBar, &NoteHeaderBar::copyAsHtmlRequested, this,
        [copyStored] { copyStored(ExportFormat::Html); });
    connect(m_headerBar, &NoteHeaderBar::shareRequested, this, [this] {
        if (m_editor->hasNote())
            NoteCommands::openNoteShareDialog(m_appState, m_editor->noteId(), this);
    });
    connect(m_headerBar, &NoteHeaderBar::historyRequested, this, &MainWindow::showVersionHistory);
    connect(m_headerBar, &NoteHeaderBar::includeInTodosToggled, this, [this](bool enabled) {
        if (m_editor->hasNote())
            m_appState->notes()->setIncludeInTodos(m_editor->noteId(), enabled);
    });
    connect(m_headerBar, &NoteHeaderBar::moveToNotebookRequested, this,
        &MainWindow::moveOpenNoteToNotebook);
    connect(m_headerBar, &NoteHeaderBar::exportRequested, this, [this] { exportOpenNote(true); });
    connect(m_headerBar, &NoteHeaderBar::printRequested, this, &MainWindow::printOpenNote);
    connect(
        m_headerBar, &NoteHeaderBar::deleteRequested, this, [this] { deleteCurrentNote(false); });
}

NoteCommands::StatusMessage MainWindow::statusMessage()
{
    return [status = QPointer<StatusBar>(m_statusBar)](const QString &text, int timeoutMs) {
        if (status)
            status->showMessage(text, timeoutMs);
    };
}

NoteCommands::NoteMenuHooks MainWindow::noteMenuHooks()
{
    NoteCommands::NoteMenuHooks hooks;
    QPointer<MainWindow> self(this);
    hooks.moveToTrash = [self](const QString &noteId) {
        if (self)
            self->trashNote(noteId);
    };
    if (m_appState->canShare()) {
        hooks.share = [self](const QString &noteId) {
            if (self)
                NoteCommands::openNoteShareDialog(self->m_appState, noteId, self);
        };
    }
    return hooks;
}

NoteCommands::NotebookMenuHooks MainWindow::notebookMenuHooks()
{
    NoteCommands::NotebookMenuHooks hooks;
    QPointer<MainWindow> self(this);
    hooks.changed = [self] {
        if (!self)
            return;
        // A delete also clears the current notebook: the list goes back to All Notes.
        self->refreshNoteList();
        self->refreshNotebookList();
        self->refreshNotebookChip();
    };
    if (m_appState->canShare()) {
        hooks.share = [self](const QString &notebookId) {
            if (!self)
                return;
            QPointer<MainWindow> window = self;
            NoteCommands::openNotebookShareDialog(self->m_appState, notebookId, self, [window] {
                if (window)
                    window->refreshNotebookList();
            });
        };
    }
    return hooks;
}

void MainWindow::moveOpenNoteToNotebook()
{
    if (!m_editor->hasNote() || m_editor->isReadOnly())
        return;
    saveCurrentNote();
    if (NoteCommands::askMoveNote(m_appState, m_editor->noteId(), this))
        refreshNotebookChip();
}

void MainWindow::exportOpenNote(bool saveFirst)
{
    if (!m_editor->hasNote())
        return;
    if (saveFirst)
        saveCurrentNote();
    NoteCommands::askExportNote(m_appState, m_editor->noteId(), this, statusMessage());
}

void MainWindow::printOpenNote()
{
    saveCurrentNote();
    NoteCommands::printNote(m_appState, m_editor->hasNote() ? m_editor->noteId() : QString(),
        m_editor->document(), this, statusMessage());
}

void MainWindow::printPreviewOpenNote()
{
    saveCurrentNote();
    NoteCommands::printPreviewNote(m_appState, m_editor->hasNote() ? m_editor->noteId() : QString(),
        m_editor->document(), this, statusMessage());
}

void MainWindow::showVersionHistory()
{
    if (!m_editor->hasNote())
        return;
    // A restore goes through the store: unsaved edits are stored first and kept in the history.
    saveCurrentNote();
    snapshotIfChanged();
    VersionHistoryDialog dialog(m_appState, m_editor->noteId(), this);
    connect(&dialog, &VersionHistoryDialog::noteRestored, this, [this](const QString &noteId) {
        if (noteId == m_editor->noteId())
            openNote(noteId, true);
    });
    dialog.exec();
}

void MainWindow::newNotebook()
{
    if (NoteCommands::askNewNotebook(m_appState, this).isEmpty())
        return;
    refreshNoteList();
    refreshNotebookList();
}

void MainWindow::showNotebookContextMenu(const QString &notebookId, const QPoint &globalPos)
{
    NoteCommands::showNotebookContextMenu(
        m_appState, notebookId, globalPos, this, notebookMenuHooks());
}

void MainWindow::showNoteContextMenu(const QString &noteId, const QPoint &globalPos)
{
    NoteCommands::showNoteContextMenu(m_appState, noteId, globalPos, this, noteMenuHooks());
}

void MainWindow::trashNote(const QString &noteId)
{
    if (noteId.isEmpty())
        return;
    if (const auto note = m_appState->notes()->noteById(noteId);
        note && NoteWriter::isReadOnlyShare(*note))
        return;
    if (noteId == m_editor->noteId()) {
        // Edits still waiting for the autosave go with the note into the trash.
        saveCurrentNote();
        clearOpenNote();
    }
    m_appState->writer()->trashNote(noteId);
    showEmptyOrEditor();
}

void MainWindow::refreshNotebookChip()
{
    if (!m_editor->hasNote())
        return;
    if (const std::optional<Note> note = m_appState->notes()->noteById(m_editor->noteId()))
        m_headerBar->setNotebookName(notebookName(note->notebookId));
}

void MainWindow::onNoteSelected(const QString &noteId)
{
    if (noteId == m_editor->noteId())
        return;
    if (m_editor->hasNote() && !m_editor->isSaved()) {
        saveCurrentNote();
        snapshotIfChanged();
        if (!keepUnsavedText()) {
            // Neither the database nor the recovery file takes the text: it stays on screen,
            // the only place it still exists.
            m_noteList->selectNote(m_editor->noteId());
            m_statusBar->showMessage(tr("This note could not be saved, so it stays open."), 5000);
            return;
        }
    }
    m_appState->setCurrentNoteId(noteId);
    openNote(noteId);
    // A note picked from a search opens showing where the search found it.
    const QString search = m_searchField->text().trimmed();
    if (!search.isEmpty() && m_editor->noteId() == noteId)
        m_findBar->showSearchMatches(search);
}

void MainWindow::followSearchIndex()
{
    Database *database = m_appState->database();
    if (!database)
        return;
    m_statusBar->followSearchIndex(database);
    m_searchLoader = new SearchListLoader(database, this);
    connect(m_searchLoader, &SearchListLoader::loaded, this,
        [this](const QString &text, quint64 tag, const QList<NoteListEntry> &entries) {
            const bool reordered = !m_listCache.isRanked();
            if (!m_listCache.completeSearch(text, tag, entries))
                return;
            m_noteList->setEntries(m_listCache.entries());
            // The newest matches stood in for the ranking; the best ones are at the top.
            if (reordered)
                m_noteList->scrollToTop();
            showListLocation();
        });
    // What a search found before the index was complete may have left notes out.
    connect(database, &Database::searchIndexCompleted, this, [this] {
        if (m_searchField->text().trimmed().isEmpty())
            return;
        m_listCache.invalidate();
        refreshNoteList();
    });
}

void MainWindow::onNotesChanged()
{
    refreshNoteList();
    refreshNotebookList();
    if (m_editor->hasNote() && m_editor->isSaved()) {
        const QString id = m_editor->noteId();
        if (m_appState->notes()->noteById(id))
            openNote(id);
    } else {
        // Unsaved edits stay; a move made elsewhere still shows on the chip.
        refreshNotebookChip();
    }
}

void MainWindow::openNote(const QString &noteId, bool forceReload)
{
    const std::optional<Note> note
        = noteId.isEmpty() ? std::nullopt : m_appState->notes()->noteById(noteId);
    if (!note) {
        clearOpenNote();
        showEmptyOrEditor();
        return;
    }
    m_editor->setNote(note->id, note->body, forceReload);
    const bool readOnly = !note->ownerId.isEmpty() && note->permission != QLatin1String("edit");
    m_editor->setReadOnly(readOnly);
    m_toolbar->setActive(!readOnly);
    m_headerBar->setHasNote(!readOnly);
    m_headerBar->setNotebookName(notebookName(note->notebookId));
    m_headerBar->setUpdatedAt(note->updatedAt);
    m_headerBar->setIncludeInTodos(m_appState->notes()->includeInTodos(note->id));
    m_headerBar->setShared(note->isShared);
    m_lastSavedBody = note->body;
    showEmptyOrEditor();
}

void MainWindow::clearOpenNote()
{
    m_editor->clearNote();
    m_toolbar->setActive(false);
    m_headerBar->setHasNote(false);
    m_lastSavedBody.clear();
    if (m_findBar->isVisible())
        m_findBar->closeBar();
}

void MainWindow::saveCurrentNote()
{
    if (m_appState->database())
        m_appState->database()->finishBackgroundWrites();
    if (!m_editor->hasNote() || m_editor->isReadOnly() || m_editor->isSaved())
        return;
    std::optional<Note> note = m_appState->notes()->noteById(m_editor->noteId());
    if (!note)
        return;
    // The list re-sorts on the repository's signal; the header is told here.
    NoteWriter *writer = m_appState->writer();
    if (writer->saveBody(*note, m_editor->content()) || !writer->lastError().failed()) {
        m_headerBar->setUpdatedAt(note->updatedAt);
        if (m_editor->saveFailed()) {
            qInfo().noquote() << "Note" << note->id << "saved after an earlier failure";
            m_editor->markSaved();
            m_appState->recoveryFile()->remove(note->id);
        }
        return;
    }
    // The text stays in the editor, unsaved, and is tried again; the user is told why.
    qWarning().noquote() << "Note" << note->id << "not saved:" << writer->lastError().text;
    m_editor->markSaveFailed();
    m_statusBar->setSaveFailed(writer->lastError());
}

void MainWindow::autosaveCurrentNote()
{
    if (!m_editor->hasNote() || m_editor->isReadOnly() || m_editor->isSaved())
        return;
    const QString body = m_editor->content();
    const std::optional<Note> note = body.size() < NoteWriter::BackgroundSaveFrom
        ? std::nullopt
        : m_appState->notes()->noteById(m_editor->noteId());
    if (!note) {
        saveCurrentNote();
        return;
    }
    // The editor says "saved" only once the write is committed.
    QPointer<MainWindow> self(this);
    const quint64 edits = m_editor->editCount();
    if (m_appState->writer()->saveBodyInBackground(
            *note, body, [self, body, edits](bool saved, const Note &stored) {
                if (self)
                    self->backgroundSaveDone(saved, stored, body, edits);
            }))
        m_editor->markSavePending();
}

void MainWindow::backgroundSaveDone(
    bool saved, const Note &stored, const QString &body, quint64 edits)
{
    const bool shown = m_editor->hasNote() && m_editor->noteId() == stored.id;
    if (saved) {
        if (!shown)
            return;
        m_headerBar->setUpdatedAt(stored.updatedAt);
        const bool failedBefore = m_editor->saveFailed();
        m_editor->markSavedAt(edits);
        if (failedBefore && !m_editor->saveFailed()) {
            qInfo().noquote() << "Note" << stored.id << "saved after an earlier failure";
            m_appState->recoveryFile()->remove(stored.id);
        }
        return;
    }
    const WriteError error = m_appState->writer()->lastError();
    qWarning().noquote() << "Note" << stored.id << "not saved:" << error.text;
    m_statusBar->setSaveFailed(error);
    if (shown) {
        m_editor->markSaveFailed();
        return;
    }
    // The editor has let go of the note: its text goes to the recovery file.
    RecoveryFile::Entry entry;
    entry.noteId = stored.id;
    entry.body = body;
    entry.notebookId = stored.notebookId;
    entry.baseVersion = stored.version - 1;
    if (m_appState->recoveryFile()->keep(entry))
        qWarning().noquote() << "Unsaved text of note" << stored.id << "kept in"
                             << m_appState->recoveryFile()->path();
}

bool MainWindow::keepUnsavedText()
{
    if (!m_editor->hasNote() || m_editor->isReadOnly() || !m_editor->saveFailed())
        return true;
    RecoveryFile::Entry entry;
    entry.noteId = m_editor->noteId();
    entry.body = m_editor->content();
    if (const std::optional<Note> note = m_appState->notes()->noteById(entry.noteId)) {
        entry.notebookId = note->notebookId;
        entry.baseVersion = note->version;
    }
    RecoveryFile *file = m_appState->recoveryFile();
    if (!file->keep(entry))
        return false;
    qWarning().noquote() << "Unsaved text of note" << entry.noteId << "kept in" << file->path();
    return true;
}

void MainWindow::snapshotIfChanged()
{
    if (!m_editor->hasNote() || m_editor->isReadOnly() || m_lastSavedBody.isEmpty())
        return;
    const QString body = m_editor->content();
    if (body.isEmpty() || body == m_lastSavedBody)
        return;
    const std::optional<Note> note = m_appState->notes()->noteById(m_editor->noteId());
    if (!note)
        return;
    if (m_appState->snapshots()->takeSnapshot(*note, body))
        m_lastSavedBody = body;
}

void MainWindow::saveSnapshot()
{
    saveCurrentNote();
    if (!m_editor->hasNote() || m_editor->isReadOnly())
        return;
    // One snapshot per version: pressing it twice without typing keeps one entry.
    const std::optional<Note> note = m_appState->notes()->noteById(m_editor->noteId());
    if (note && m_appState->snapshots()->takeSnapshot(*note, note->body))
        m_lastSavedBody = note->body;
}

void MainWindow::newNote()
{
    saveCurrentNote();
    const std::optional<Note> created
        = m_appState->writer()->createNote(m_appState->currentNotebookId());
    if (!created)
        return;
    const QString id = created->id;
    // The insert refreshed the list, so the new note has a row to select.
    m_noteList->selectNote(id);
    if (m_editor->noteId() != id) {
        openNote(id);
        m_appState->setCurrentNoteId(id);
    }
    m_editor->setFocus(Qt::OtherFocusReason);
}

void MainWindow::deleteCurrentNote(bool confirm)
{
    const QString noteId = m_noteList->currentNoteId();
    if (noteId.isEmpty())
        return;
    if (confirm) {
        const std::optional<Note> note = m_appState->notes()->noteById(noteId);
        QString label = note ? noteTitle(note->body) : QString();
        if (label.isEmpty())
            label = tr("this note");
        const auto answer = QMessageBox::question(this, tr("Move to Trash"),
            tr("Move \"%1\" to Trash?").arg(label), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    const int row = m_noteList->currentRow();
    if (noteId == m_editor->noteId()) {
        // Edits still waiting for the autosave go with the note into the trash.
        saveCurrentNote();
        clearOpenNote();
    }
    m_appState->writer()->trashNote(noteId);
    if (m_noteList->count() == 0) {
        showEmptyOrEditor();
        return;
    }
    m_noteList->setCurrentRow(qMin(row, m_noteList->count() - 1));
    const QString next = m_noteList->currentNoteId();
    if (!next.isEmpty() && next != m_editor->noteId()) {
        openNote(next);
        m_appState->setCurrentNoteId(next);
    } else if (next.isEmpty()) {
        showEmptyOrEditor();
    }
}

void MainWindow::refreshNoteList()
{
    const QString search = m_searchField->text().trimmed();
    m_noteList->setMatchTerms(
        search.isEmpty() ? QStringList() : searchQueryFromInput(search).highlights);
    if (m_listCache.refresh(
            m_appState->currentNotebookId(), search, search.isEmpty() && stenoMode())) {
        m_noteList->setEntries(m_listCache.entries());
        if (m_searchLoader && !m_listCache.isComplete())
            m_searchLoader->load(search, m_listCache.serial());
    }
    if (m_searchLoader && m_listCache.isComplete())
        m_searchLoader->cancel();
    const bool indexing
        = m_appState->database() && !m_appState->database()->isSearchIndexComplete();
    m_noteList->setEmptyText(!search.isEmpty()
            ? (indexing ? tr("No notes match \u201C%1\u201D yet: notes are still being indexed "
                             "for search.")
                        : tr("No notes match \u201C%1\u201D"))
                  .arg(search)
            : m_appState->currentNotebookId().isEmpty()
            ? tr("No notes yet.\nPress Ctrl+N to write one.")
            : tr("No notes in this notebook.\nPress Ctrl+N to write one."));
    showListLocation();
}

void MainWindow::showListLocation()
{
    const QString notebookId = m_appState->currentNotebookId();
    QString location = notebookId.isEmpty() ? QString() : notebookName(notebookId);
    if (location.isEmpty())
        location = tr("All Notes");
    // A search still reading its full list shows no count rather than a wrong one.
    m_statusBar->setLocation(
        location, m_listCache.isComplete() ? int(m_listCache.entries().size()) : -1);
}

void MainWindow::refreshNotebookList()
{
    NoteRepository *notes = m_appState->notes();
    m_notebookList->setNotebooks(m_appState->notebooks()->allNotebooks(),
        notes->noteCountsByNotebook(), m_appState->currentNotebookId(), notes->trashedCount());
}

void MainWindow::showEmptyOrEditor()
{
    m_pages->setCurrentWidget(
        m_editor->hasNote() || signedIn() ? m_editorPage : static_cast<QWidget *>(m_welcomePage));
}

bool MainWindow::signedIn() const
{
    return m_appState->isSignedIn();
}

bool MainWindow::stenoMode() const
{
    return m_appState->preferences()->boolValue(QStringLiteral("steno_mode"), false);
}

QString MainWindow::notebookName(const QString &notebookId) const
{
    if (notebookId.isEmpty() || !m_appState->notebooks())
        return QString();
    const std::optional<Notebook> notebook = m_appState->notebooks()->notebookById(notebookId);
    return notebook ? notebook->name : QString();
}

void MainWindow::setFocusMode(bool on)
{
    m_focusMode = on;
    {
        const QSignalBlocker blocker(m_focusModeAction);
        m_focusModeAction->setChecked(on);
    }
    applyPaneLayout();
    QSettings settings;
    settings.setValue(SettingsGroup + QStringLiteral("/focusMode"), on);
}

void MainWindow::setNotebookSidebarVisible(bool visible)
{
    m_sidebarVisible = visible;
    {
        const QSignalBlocker blocker(m_sidebarAction);
        m_sidebarAction->setChecked(visible);
    }
    applyPaneLayout();
    QSettings settings;
    settings.setValue(SettingsGroup + QStringLiteral("/notebookSidebarVisible"), visible);
}

void MainWindow::applyPaneLayout()
{
    const bool leftVisible = !m_focusMode && m_sidebarVisible;
    const bool middleVisible = !m_focusMode;
    m_leftPane->setVisible(leftVisible);
    m_middlePane->setVisible(middleVisible);
    m_headerBar->setFocusMode(m_focusMode);
    m_readableColumn->setEnabled(m_focusMode);
    if (m_splitter->count() != 3)
        return;
    const int windowWidth = width();
    const QList<int> base = m_normalSplitterSizes.size() == 3
        ? m_normalSplitterSizes
        : QList<int> { 200, 260, qMax(windowWidth - 460, 400) };
    const int left = leftVisible ? base.at(0) : 0;
    const int middle = middleVisible ? base.at(1) : 0;
    int right = windowWidth - left - middle;
    if (right < 101)
        right = 100;
    m_splitter->setSizes({ left, middle, right });
}

void MainWindow::applyStenoMode()
{
    const bool steno = stenoMode();
    m_middleLayout->removeWidget(m_searchBox);
    m_middleLayout->removeWidget(m_offlineBanner);
    m_middleLayout->removeWidget(m_noteList);
    // The banner always sits right above the list.
    if (steno) {
        m_middleLayout->addWidget(m_offlineBanner);
        m_middleLayout->addWidget(m_noteList);
        m_middleLayout->addWidget(m_searchBox);
    } else {
        m_middleLayout->addWidget(m_searchBox);
        m_middleLayout->addWidget(m_offlineBanner);
        m_middleLayout->addWidget(m_noteList);
    }
    refreshNoteList();
}

void MainWindow::onPreferenceChanged(const QString &key)
{
    if (key == QLatin1String("theme_mode")) {
        m_appState->themeManager()->setThemeFromString(m_appState->preferences()->stringValue(
            QStringLiteral("theme_mode"), QStringLiteral("system")));
        m_noteList->viewport()->update();
        m_notebookList->viewport()->update();
        updateOfflineBanner();
        // Link, code and table colours are set when a body is loaded; load it again.
        if (m_editor->hasNote()) {
            const QString id = m_editor->noteId();
            saveCurrentNote();
            openNote(id, true);
        }
    } else if (key == QLatin1String("steno_mode")) {
        applyStenoMode();
    } else if (key == QLatin1String("show_offline_notification")) {
        updateOfflineBanner();
    } else if (key == QLatin1String("close_to_tray") || key == QLatin1String("start_minimized")) {
        updateTray();
    }
}

void MainWindow::onFontScaleChanged(int percent)
{
    QFont font = m_editor->font();
    font.setPixelSize(qMax(1, 16 * percent / 100));
    m_editor->setFont(font);
    if (m_editor->hasNote()) {
        const QString id = m_editor->noteId();
        saveCurrentNote();
        openNote(id, true);
    }
    // Row heights follow the scale: the views lay their rows out again.
    m_noteList->setEntries(m_listCache.entries());
    m_noteList->doItemsLayout();
    refreshNotebookList();
    m_notebookList->doItemsLayout();
}

void MainWindow::restoreWindowState()
{
    QSettings settings;
    settings.beginGroup(SettingsGroup);
    const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray();
    const QByteArray state = settings.value(QStringLiteral("windowState")).toByteArray();
    const QString sizes = settings.value(QStringLiteral("normalSplitterSizes")).toString();
    settings.endGroup();
    // 1280 x 1024 unless the screen is smaller; a restored window whose monitor is gone comes
    // back onto one that is there.
    if (!geometry.isEmpty() && restoreGeometry(geometry))
        WindowPlacement::keepOnScreen(this);
    else
        WindowPlacement::placeNew(this, QSize(1280, 1024), true);
    if (!state.isEmpty())
        restoreState(state, 0);
    if (!sizes.isEmpty())
        m_normalSplitterSizes = parseSplitterSizes(sizes);
}

void MainWindow::saveWindowState()
{
    QSettings settings;
    settings.beginGroup(SettingsGroup);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("windowState"), saveState(0));
    if (!m_focusMode && m_sidebarVisible && m_leftPane->isVisible() && m_middlePane->isVisible())
        m_normalSplitterSizes = m_splitter->sizes();
    if (m_normalSplitterSizes.size() == 3) {
        settings.setValue(QStringLiteral("normalSplitterSizes"),
            QStringLiteral("%1,%2,%3")
                .arg(m_normalSplitterSizes.at(0))
                .arg(m_normalSplitterSizes.at(1))
                .arg(m_normalSplitterSizes.at(2)));
    }
    settings.endGroup();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveWindowState();
    saveCurrentNote();
    snapshotIfChanged();
    if (!keepUnsavedText()) {
        const QMessageBox::StandardButton answer = QMessageBox::warning(this, tr("Note Not Saved"),
            tr("The changes to this note could not be saved, and there is no room to keep them "
               "for later either.\n\nClose and lose them?"),
            QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Discard) {
            event->ignore();
            return;
        }
    }
    if (m_closeToTray && m_trayIcon && m_trayIcon->isVisible()) {
        event->ignore();
        hide();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // Before the first show the splitter has no width to share out; lay the panes out again
    // once the window has its real size.
    if (!isVisible())
        applyPaneLayout();
}
