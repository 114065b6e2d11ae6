#include "mainwindow.h"

#include "accountscreen.h"
#include "appstate.h"
#include "authclient.h"
#include "backupcommands.h"
#include "client.h"
#include "documentpalette.h"
#include "findbar.h"
#include "notecommands.h"
#include "noteeditor.h"
#include "noteheaderbar.h"
#include "preferencesrepository.h"
#include "samplenotes.h"
#include "searchscreen.h"
#include "serviceconfig.h"
#include "settingsdialog.h"
#include "sharedscreen.h"
#include "statusbar.h"
#include "syncengine.h"
#include "todosscreen.h"
#include "trashscreen.h"
#include "updateflows.h"
#include "welcomescreen.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>

QAction *MainWindow::addMenuAction(QMenu *menu, const QString &text, const QString &name,
    const QKeySequence &shortcut, Qt::ShortcutContext context)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(context);
    }
    return action;
}

QAction *MainWindow::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void MainWindow::createMenuBar()
{
    QMenuBar *bar = menuBar();
    const auto editorCommand = [this](QAction *action, void (NoteEditor::*command)()) {
        connect(action, &QAction::triggered, this, [this, command] {
            if (m_editor->hasNote() && !m_editor->isReadOnly())
                (m_editor->*command)();
        });
    };

    QMenu *file = bar->addMenu(tr("&File"));
    connect(addMenuAction(file, tr("New Note"), QStringLiteral("newNoteAction"),
                QKeySequence(QStringLiteral("Ctrl+N")), Qt::ApplicationShortcut),
        &QAction::triggered, this, &MainWindow::newNote);
    connect(addMenuAction(file, tr("New Note in Window"), QStringLiteral("newNoteInWindowAction"),
                QKeySequence(QStringLiteral("Ctrl+Shift+N")), Qt::ApplicationShortcut),
        &QAction::triggered, this, [this] { m_appState->createNoteInWindow(); });
    connect(addMenuAction(file, tr("Save Snapshot"), QStringLiteral("saveSnapshotAction"),
                QKeySequence::Save),
        &QAction::triggered, this, &MainWindow::saveSnapshot);
    file->addSeparator();
    connect(addMenuAction(file, tr("Import..."), QStringLiteral("importAction"),
                QKeySequence(QStringLiteral("Ctrl+I"))),
        &QAction::triggered, this, [this] { NoteCommands::openImportDialog(m_appState, this); });
    connect(addMenuAction(file, tr("Export..."), QStringLiteral("exportAction"),
                QKeySequence(QStringLiteral("Ctrl+E"))),
        &QAction::triggered, this, [this] { exportOpenNote(false); });
    file->addSeparator();
    connect(addMenuAction(file, tr("Print..."), QStringLiteral("printAction"), QKeySequence::Print),
        &QAction::triggered, this, &MainWindow::printOpenNote);
    connect(addMenuAction(file, tr("Print Preview..."), QStringLiteral("printPreviewAction"),
                QKeySequence(QStringLiteral("Ctrl+Shift+P"))),
        &QAction::triggered, this, &MainWindow::printPreviewOpenNote);
    file->addSeparator();
    connect(addMenuAction(file, tr("Backup Database..."), QStringLiteral("backupAction")),
        &QAction::triggered, this, [this] {
            const QString saved = BackupCommands::backupDatabase(m_appState, this);
            if (!saved.isEmpty())
                m_statusBar->showMessage(saved, 3000);
        });
    connect(addMenuAction(file, tr("Restore Database..."), QStringLiteral("restoreAction")),
        &QAction::triggered, this, [this] { BackupCommands::restoreDatabase(m_appState, this); });
    file->addSeparator();
    m_signInAction = addMenuAction(file, tr("Sign &In…"), QStringLiteral("signInAction"));
    connect(m_signInAction, &QAction::triggered, this,
        [this] { m_pages->setCurrentWidget(m_welcomePage); });
    m_manageAccountAction
        = addMenuAction(file, tr("&Manage Account…"), QStringLiteral("manageAccountAction"));
    connect(m_manageAccountAction, &QAction::triggered, this, &MainWindow::showAccountScreen);
    m_signOutAction = addMenuAction(file, tr("Sign &Out"), QStringLiteral("signOutAction"));
    connect(m_signOutAction, &QAction::triggered, this, &MainWindow::signOut);
    file->addSeparator();
    connect(addMenuAction(file, tr("Preferences…"), QStringLiteral("preferencesAction"),
                QKeySequence(QStringLiteral("Ctrl+,")), Qt::ApplicationShortcut),
        &QAction::triggered, this, &MainWindow::showSettings);
    file->addSeparator();
    connect(addMenuAction(file, tr("Quit"), QStringLiteral("quitAction"), QKeySequence::Quit),
        &QAction::triggered, this, &MainWindow::quitWithBookkeeping);

    QMenu *edit = bar->addMenu(tr("&Edit"));
    connect(addMenuAction(edit, tr("Undo"), QStringLiteral("undoAction"), QKeySequence::Undo),
        &QAction::triggered, this, [this] {
            if (!m_editor->isReadOnly())
                m_editor->undo();
        });
    connect(addMenuAction(edit, tr("Redo"), QStringLiteral("redoAction"), QKeySequence::Redo),
        &QAction::triggered, this, [this] {
            if (!m_editor->isReadOnly())
                m_editor->redo();
        });
    edit->addSeparator();
    connect(addMenuAction(edit, tr("Find in Note..."), QStringLiteral("findInNoteAction"),
                QKeySequence::Find),
        &QAction::triggered, this, [this] {
            if (m_editor->hasNote())
                m_findBar->openBar();
        });
    edit->addSeparator();
    QAction *editPreferences
        = addMenuAction(edit, tr("Preferences…"), QStringLiteral("editPreferencesAction"));
    editPreferences->setMenuRole(QAction::PreferencesRole);
    connect(editPreferences, &QAction::triggered, this, &MainWindow::showSettings);

    QMenu *format = bar->addMenu(tr("F&ormat"));
    editorCommand(
        addMenuAction(format, tr("Bold"), QStringLiteral("boldAction"), QKeySequence::Bold),
        &NoteEditor::toggleBold);
    QAction *italic
        = addMenuAction(format, tr("Italic"), QStringLiteral("italicAction"), QKeySequence::Italic);
    editorCommand(italic, &NoteEditor::toggleItalic);
    // Italic and Import share Ctrl+I: the editor takes the key while it has the focus, Import
    // everywhere else. Two enabled actions on one key would both stay silent.
    italic->setEnabled(false);
    // Focus also changes while the window is being destroyed: compare pointers only, never
    // through a half-destroyed MainWindow.
    const QPointer<NoteEditor> editor = m_editor;
    connect(qApp, &QApplication::focusChanged, italic,
        [editor, italic](QWidget *, QWidget *now) { italic->setEnabled(now && now == editor); });
    editorCommand(addMenuAction(format, tr("Underline"), QStringLiteral("underlineAction"),
                      QKeySequence::Underline),
        &NoteEditor::toggleUnderline);
    editorCommand(addMenuAction(format, tr("Strikethrough"), QStringLiteral("strikeAction"),
                      QKeySequence(QStringLiteral("Ctrl+Shift+X"))),
        &NoteEditor::toggleStrikethrough);
    editorCommand(addMenuAction(format, tr("Code"), QStringLiteral("codeAction"),
                      QKeySequence(QStringLiteral("Ctrl+`"))),
        &NoteEditor::toggleInlineCode);
    format->addSeparator();
    const auto heading
        = [&](const QString &text, const QString &name, const char *keys, int level) {
              connect(addMenuAction(format, text, name, QKeySequence(QLatin1String(keys))),
                  &QAction::triggered, this, [this, level] {
                      if (m_editor->hasNote() && !m_editor->isReadOnly())
                          m_editor->setHeading(level);
                  });
          };
    heading(tr("Heading 1"), QStringLiteral("heading1Action"), "Ctrl+1", 1);
    heading(tr("Heading 2"), QStringLiteral("heading2Action"), "Ctrl+2", 2);
    heading(tr("Heading 3"), QStringLiteral("heading3Action"), "Ctrl+3", 3);
    heading(tr("Normal Text"), QStringLiteral("normalTextAction"), "Ctrl+0", 0);
    format->addSeparator();
    editorCommand(addMenuAction(format, tr("Bullet List"), QStringLiteral("bulletListAction"),
                      QKeySequence(QStringLiteral("Ctrl+Shift+8"))),
        &NoteEditor::toggleBulletList);
    editorCommand(addMenuAction(format, tr("Numbered List"), QStringLiteral("numberedListAction"),
                      QKeySequence(QStringLiteral("Ctrl+Shift+7"))),
        &NoteEditor::toggleNumberedList);
    editorCommand(addMenuAction(format, tr("Checkbox List"), QStringLiteral("checkboxListAction"),
                      QKeySequence(QStringLiteral("Ctrl+Shift+9"))),
        &NoteEditor::toggleCheckboxList);
    format->addSeparator();
    editorCommand(addMenuAction(format, tr("Code Block"), QStringLiteral("codeBlockAction"),
                      QKeySequence(QStringLiteral("Ctrl+Shift+`"))),
        &NoteEditor::toggleCodeBlock);
    editorCommand(addMenuAction(format, tr("Blockquote"), QStringLiteral("blockquoteAction"),
                      QKeySequence(QStringLiteral("Ctrl+Shift+B"))),
        &NoteEditor::toggleBlockquote);
    format->addSeparator();
    const auto align
        = [&](const QString &text, const QString &name, const char *keys, Qt::Alignment alignment) {
              connect(addMenuAction(format, text, name, QKeySequence(QLatin1String(keys))),
                  &QAction::triggered, this, [this, alignment] {
                      if (m_editor->hasNote() && !m_editor->isReadOnly())
                          m_editor->setAlignment(alignment);
                  });
          };
    align(tr("Align Left"), QStringLiteral("alignLeftAction"), "Ctrl+Shift+L", Qt::AlignLeft);
    align(
        tr("Align Center"), QStringLiteral("alignCenterAction"), "Ctrl+Shift+E", Qt::AlignHCenter);
    align(tr("Align Right"), QStringLiteral("alignRightAction"), "Ctrl+Shift+R", Qt::AlignRight);
    format->addSeparator();
    editorCommand(addMenuAction(format, tr("Insert Link..."), QStringLiteral("insertLinkAction"),
                      QKeySequence(QStringLiteral("Ctrl+K"))),
        &NoteEditor::insertLink);
    editorCommand(
        addMenuAction(format, tr("Insert Divider"), QStringLiteral("insertDividerAction")),
        &NoteEditor::insertDivider);
    connect(addMenuAction(format, tr("Insert Table..."), QStringLiteral("insertTableAction"),
                QKeySequence(QStringLiteral("Ctrl+T"))),
        &QAction::triggered, this, [this] {
            if (!m_editor->hasNote() || m_editor->isReadOnly())
                return;
            const NoteEditor::TablePrompt prompt = NoteEditor::promptInsertTable(this);
            if (prompt.accepted)
                m_editor->insertTable(prompt.rows, prompt.columns, prompt.header);
        });

    QMenu *note = bar->addMenu(tr("&Note"));
    connect(addMenuAction(note, tr("Move to Notebook..."), QStringLiteral("moveToNotebookAction"),
                QKeySequence(QStringLiteral("Ctrl+M"))),
        &QAction::triggered, this, &MainWindow::moveOpenNoteToNotebook);
    connect(addMenuAction(note, tr("Version History..."), QStringLiteral("versionHistoryAction"),
                QKeySequence(QStringLiteral("Ctrl+H"))),
        &QAction::triggered, this, &MainWindow::showVersionHistory);
    connect(addMenuAction(note, tr("Open in New Window"), QStringLiteral("openInWindowAction"),
                QKeySequence(QStringLiteral("Ctrl+Shift+O"))),
        &QAction::triggered, this, [this] {
            if (m_editor->hasNote()) {
                saveCurrentNote();
                m_appState->openNoteWindow(m_editor->noteId());
            }
        });
    note->addSeparator();
    connect(addMenuAction(note, tr("Move to Trash…"), QStringLiteral("moveToTrashAction"),
                QKeySequence(QStringLiteral("Ctrl+D")), Qt::ApplicationShortcut),
        &QAction::triggered, this, [this] { deleteCurrentNote(true); });
    auto *quickDelete = new QAction(this);
    quickDelete->setObjectName(QStringLiteral("quickDeleteAction"));
    quickDelete->setShortcut(QKeySequence(QStringLiteral("Ctrl+Backspace")));
    quickDelete->setShortcutContext(Qt::ApplicationShortcut);
    addAction(quickDelete);
    connect(quickDelete, &QAction::triggered, this, [this] { deleteCurrentNote(false); });

    QMenu *view = bar->addMenu(tr("&View"));
    connect(addMenuAction(view, tr("To-Dos"), QStringLiteral("todosAction"),
                QKeySequence(QStringLiteral("Ctrl+Alt+T"))),
        &QAction::triggered, this, &MainWindow::showTodosScreen);
    connect(addMenuAction(view, tr("Find"), QStringLiteral("findAction"), QKeySequence(Qt::Key_F3)),
        &QAction::triggered, this, [this] {
            m_searchField->setFocus(Qt::ShortcutFocusReason);
            m_searchField->selectAll();
        });
    connect(addMenuAction(view, tr("Search All Notes..."), QStringLiteral("searchAllAction"),
                QKeySequence(QStringLiteral("Ctrl+Shift+F"))),
        &QAction::triggered, this, &MainWindow::showSearchScreen);
    connect(addMenuAction(view, tr("Trash"), QStringLiteral("trashAction"),
                QKeySequence(QStringLiteral("Ctrl+Alt+D"))),
        &QAction::triggered, this, &MainWindow::showTrashScreen);
    m_sharedWithMeAction = addMenuAction(view, tr("Shared with Me"),
        QStringLiteral("sharedWithMeAction"), QKeySequence(QStringLiteral("Ctrl+Alt+S")));
    connect(m_sharedWithMeAction, &QAction::triggered, this,
        [this] { showSharedScreen(SharedScreen::SharedWithMe); });
    m_sharedByMeAction = addMenuAction(view, tr("Shared by Me"), QStringLiteral("sharedByMeAction"),
        QKeySequence(QStringLiteral("Ctrl+Alt+Shift+S")));
    connect(m_sharedByMeAction, &QAction::triggered, this,
        [this] { showSharedScreen(SharedScreen::SharedByMe); });
    // Sharing needs a signed-in user whose group has other members.
    m_sharedWithMeAction->setVisible(m_appState->canShare());
    m_sharedByMeAction->setVisible(m_appState->canShare());
    view->addSeparator();
    m_focusModeAction = addMenuAction(view, tr("Focus Mode"), QStringLiteral("focusModeAction"),
        QKeySequence(QStringLiteral("Ctrl+\\")));
    m_focusModeAction->setCheckable(true);
    m_focusModeAction->setToolTip(
        tr("Hide the notebook and note lists to write without distractions"));
    connect(m_focusModeAction, &QAction::triggered, this, [this] { setFocusMode(!m_focusMode); });
    m_sidebarAction = addMenuAction(view, tr("Show Notebook Sidebar"),
        QStringLiteral("sidebarAction"), QKeySequence(QStringLiteral("Ctrl+Alt+B")));
    m_sidebarAction->setCheckable(true);
    m_sidebarAction->setChecked(true);
    connect(m_sidebarAction, &QAction::triggered, this,
        [this] { setNotebookSidebarVisible(!m_sidebarVisible); });
    view->addSeparator();
    m_syncNowAction = addMenuAction(view, tr("Sync Now"), QStringLiteral("syncNowAction"),
        QKeySequence(QStringLiteral("Ctrl+Alt+R")));
    connect(m_syncNowAction, &QAction::triggered, this, &MainWindow::syncNow);
    m_forceResyncAction
        = addMenuAction(view, tr("Force Full Resync…"), QStringLiteral("forceFullResyncAction"));
    connect(m_forceResyncAction, &QAction::triggered, this, &MainWindow::forceFullResync);

    QMenu *help = bar->addMenu(tr("&Help"));
    connect(addMenuAction(help, tr("About Brevaro Notes"), QStringLiteral("aboutAction")),
        &QAction::triggered, this, &MainWindow::showAbout);
    connect(addMenuAction(help, tr("Send &Feedback..."), QStringLiteral("feedbackAction")),
        &QAction::triggered, this, [this] {
            QDesktopServices::openUrl(feedbackPageUrl(m_appState->serviceConfig().feedbackBaseUrl));
        });
    connect(addMenuAction(help, tr("What's &New..."), QStringLiteral("whatsNewAction")),
        &QAction::triggered, this, [this] {
            BrevUpdate::showReleaseNotes(updateClientConfig(m_appState->serviceConfig()),
                tr("Brevaro Notes"), this, statusBarUpdateCallbacks());
        });
    connect(addMenuAction(help, tr("Check for &Updates..."), QStringLiteral("checkUpdatesAction")),
        &QAction::triggered, this, [this] {
            BrevUpdate::runUpdateCheck(updateClientConfig(m_appState->serviceConfig()),
                tr("Brevaro Notes"), this, statusBarUpdateCallbacks());
        });
    if (qgetenv("NOTES_DEV") == "1") {
        help->addSeparator();
        connect(addMenuAction(help, tr("Load &Sample Notes"), QStringLiteral("sampleNotesAction")),
            &QAction::triggered, this, &MainWindow::loadSampleNotes);
    }
    help->addSeparator();
    connect(addMenuAction(help, tr("About Qt"), QStringLiteral("aboutQtAction")),
        &QAction::triggered, qApp, &QApplication::aboutQt);
}

BrevUpdate::UpdateCallbacks MainWindow::statusBarUpdateCallbacks()
{
    // The flows may answer after this window is gone.
    const QPointer<StatusBar> bar(m_statusBar);
    BrevUpdate::UpdateCallbacks callbacks;
    callbacks.message = [bar](const QString &text) {
        if (bar)
            bar->showProgress(text);
    };
    callbacks.finished = [bar] {
        if (bar)
            bar->hideProgress();
    };
    callbacks.timedMessage = [bar](const QString &text, int milliseconds) {
        if (bar)
            bar->showMessage(text, milliseconds);
    };
    return callbacks;
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, tr("About Brevaro Notes"),
        tr("Brevaro Notes %1\n\nSearch-first, zero-friction note-taking.")
                .arg(QApplication::applicationVersion())
            + QStringLiteral("\n\n") + m_appState->serviceConfig().productWebsite);
}

void MainWindow::loadSampleNotes()
{
    const auto answer = QMessageBox::question(this, tr("Load Sample Notes"),
        tr("Insert 7 sample notes into this database?\n\nThey'll appear in the unorganized pool "
           "with staggered dates from today to 28 days ago. Existing notes are not modified."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    const int inserted = insertSampleNotes(m_appState);
    m_statusBar->showMessage(tr("Loaded %n sample note(s).", nullptr, inserted), 3000);
}

void MainWindow::raiseScreen(QWidget *screen, const QString &title, const QSize &size)
{
    screen->setWindowTitle(title);
    if (!screen->isVisible())
        screen->resize(size);
    screen->show();
    screen->raise();
    screen->activateWindow();
}

void MainWindow::showTodosScreen()
{
    if (!m_todosScreen)
        m_todosScreen = new TodosScreen(m_appState);
    m_todosScreen->refresh();
    raiseScreen(m_todosScreen, tr("To-Dos — Brevaro Notes"), QSize(600, 500));
}

void MainWindow::showSearchScreen()
{
    if (!m_searchScreen)
        m_searchScreen = new SearchScreen(m_appState);
    m_searchScreen->refresh();
    raiseScreen(m_searchScreen, tr("Search — Brevaro Notes"), QSize(600, 500));
    m_searchScreen->focusSearch();
}

void MainWindow::showTrashScreen()
{
    if (!m_trashScreen)
        m_trashScreen = new TrashScreen(m_appState);
    m_trashScreen->refresh();
    raiseScreen(m_trashScreen, tr("Trash — Brevaro Notes"), QSize(500, 400));
}

void MainWindow::showSharedScreen(int mode)
{
    const bool byMe = mode == SharedScreen::SharedByMe;
    QPointer<SharedScreen> &screen = byMe ? m_sharedByMeScreen : m_sharedWithMeScreen;
    if (!screen)
        screen = new SharedScreen(
            m_appState, byMe ? SharedScreen::SharedByMe : SharedScreen::SharedWithMe);
    screen->refresh();
    raiseScreen(screen,
        byMe ? tr("Shared by Me — Brevaro Notes") : tr("Shared with Me — Brevaro Notes"),
        QSize(600, 500));
}

void MainWindow::setupAccountConnections()
{
    connect(m_appState, &AppState::canShareChanged, this, [this](bool canShare) {
        m_sharedWithMeAction->setVisible(canShare);
        m_sharedByMeAction->setVisible(canShare);
        m_headerBar->setCanShare(canShare);
    });
    connect(m_welcomePage, &WelcomeScreen::signInRequested, this, &MainWindow::signIn);
    connect(m_welcomePage, &WelcomeScreen::dismissRequested, this,
        [this] { m_pages->setCurrentWidget(m_editorPage); });

    BrevAccount::Client *account = m_appState->accountClient();
    if (!account)
        return;
    connect(account, &BrevAccount::Client::authStateChanged, this, &MainWindow::onAuthStateChanged);
    connect(account->authClient(), &BrevAccount::AuthClient::loginFailed, this,
        [this](const QString &error) {
            m_welcomePage->setSigningIn(false);
            QMessageBox::warning(this, tr("Sign In Failed"), error);
        });
}

void MainWindow::onAuthStateChanged()
{
    const bool nowSignedIn = signedIn();
    if (nowSignedIn) {
        m_welcomePage->setSigningIn(false);
    } else {
        if (m_wasSignedIn && !m_signingOut)
            m_statusBar->showMessage(
                tr("Signed out: the server no longer accepts this sign-in. Sign in again to sync."),
                10000);
        // Its pages belong to the session that ended, and every call it made would be refused.
        if (m_accountScreen)
            m_accountScreen->close();
    }
    m_wasSignedIn = nowSignedIn;
    showEmptyOrEditor();
    updateAuthUI();
}

void MainWindow::updateAuthUI()
{
    const bool nowSignedIn = signedIn();
    m_signInAction->setVisible(!nowSignedIn);
    m_manageAccountAction->setVisible(nowSignedIn);
    m_signOutAction->setVisible(nowSignedIn);
    m_syncNowAction->setEnabled(nowSignedIn);
    m_forceResyncAction->setEnabled(nowSignedIn);
    updateOfflineBanner();
}

void MainWindow::setupSyncConnections()
{
    SyncEngine *engine = m_appState->syncEngine();
    if (!engine)
        return;
    connect(engine, &SyncEngine::stateChanged, this, &MainWindow::updateOfflineBanner);
    connect(engine, &SyncEngine::attachmentsChanged, this, [this] {
        m_editor->refreshAttachments();
        // Reloading shows the arrived files; unsaved words are stored first, not dropped.
        if (m_editor->hasNote()) {
            saveCurrentNote();
            openNote(m_editor->noteId(), true);
        }
    });
}

void MainWindow::updateOfflineBanner()
{
    const SyncEngine *engine = m_appState->syncEngine();
    // A retry keeps the banner until it has an answer, so an offline period does not flicker.
    if (engine && engine->state() == SyncEngine::Syncing && signedIn())
        return;
    const bool offline = engine && signedIn() && engine->state() == SyncEngine::Error
        && engine->lastErrorStatus() == 0
        && m_appState->preferences()->boolValue(QStringLiteral("show_offline_notification"), true);
    if (offline) {
        const bool dark = isDarkPalette();
        m_offlineBanner->setStyleSheet(
            QStringLiteral("QLabel#offlineBanner { background: %1; color: %2; padding: 5px 10px; "
                           "font-size: 9pt; border-bottom: 1px solid %3; }")
                .arg(dark ? QStringLiteral("#3A3226") : QStringLiteral("#FFF4E0"),
                    dark ? QStringLiteral("#F0D9B5") : QStringLiteral("#6B4E16"),
                    dark ? QStringLiteral("#4A4032") : QStringLiteral("#F0DDB8")));
    }
    m_offlineBanner->setVisible(offline);
}

void MainWindow::showSettings()
{
    if (!m_settingsDialog) {
        auto *dialog = new SettingsDialog(m_appState, this);
        connect(dialog, &SettingsDialog::signInRequested, this, [this] {
            m_pages->setCurrentWidget(m_welcomePage);
            signIn();
        });
        connect(dialog, &SettingsDialog::signOutRequested, this, &MainWindow::signOut);
        connect(
            dialog, &SettingsDialog::manageAccountRequested, this, &MainWindow::showAccountScreen);
        m_settingsDialog = dialog;
    }
    m_settingsDialog->show();
    m_settingsDialog->raise();
    m_settingsDialog->activateWindow();
}

void MainWindow::syncNow()
{
    if (SyncEngine *engine = m_appState->syncEngine(); engine && signedIn())
        engine->sync();
}

void MainWindow::forceFullResync()
{
    SyncEngine *engine = m_appState->syncEngine();
    if (!engine || !signedIn())
        return;
    const auto answer = QMessageBox::question(this, tr("Force Full Resync"),
        tr("Re-upload every local note and notebook to the server, and re-download everything "
           "the server has?\n\nThis is safe — no data is lost — but it can take a while if you "
           "have a lot of notes or attachments. Use this only if your local copy and the server "
           "seem out of sync."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    // Signed out while the question was open: nothing to sync with.
    if (answer != QMessageBox::Yes || !signedIn())
        return;
    const int marked = engine->forceFullResync();
    m_statusBar->showMessage(tr("Marked %n note(s) for re-sync.", nullptr, marked), 4000);
}

void MainWindow::signIn()
{
    BrevAccount::Client *account = m_appState->accountClient();
    if (!account || account->isAuthenticated())
        return;
    m_welcomePage->setSigningIn(true);
    account->authClient()->login();
}

void MainWindow::showAccountScreen()
{
    BrevAccount::Client *account = m_appState->accountClient();
    if (!account || !account->isAuthenticated())
        return;
    if (!m_accountScreen) {
        auto *screen = new BrevAccount::AccountScreen(account);
        connect(screen, &BrevAccount::AccountScreen::logoutRequested, this, &MainWindow::signOut);
        m_accountScreen = screen;
        screen->show();
        screen->refreshAll();
    }
    m_accountScreen->show();
    m_accountScreen->raise();
    m_accountScreen->activateWindow();
}

void MainWindow::signOut()
{
    BrevAccount::Client *account = m_appState->accountClient();
    if (!account || !account->isAuthenticated())
        return;
    m_signingOut = true;
    account->authClient()->logout();
    m_signingOut = false;
}

BrevAccount::AccountScreen *MainWindow::accountScreen() const
{
    return m_accountScreen;
}

void MainWindow::quitWithBookkeeping()
{
    PreferencesRepository *preferences = m_appState->preferences();
    preferences->setValue(QStringLiteral("restore_note_windows"),
        m_appState->openNoteWindowIds().join(QLatin1Char(',')));
    preferences->setBool(
        QStringLiteral("restore_todos_window"), m_todosScreen && m_todosScreen->isVisible());
    m_closeToTray = false;
    QApplication::closeAllWindows();
    // A window that kept an unsavable note open when asked stays, and so does the program.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window->isVisible() && qobject_cast<const QMainWindow *>(window))
            return;
    }
    QApplication::quit();
}

void MainWindow::updateTray()
{
    PreferencesRepository *preferences = m_appState->preferences();
    m_closeToTray = preferences->boolValue(QStringLiteral("close_to_tray"), false);
    const bool wanted
        = m_closeToTray || preferences->boolValue(QStringLiteral("start_minimized"), false);
    if (wanted && !QSystemTrayIcon::isSystemTrayAvailable()) {
        m_closeToTray = false;
        return;
    }
    if (wanted && !m_trayIcon) {
        QIcon icon(QStringLiteral(":/icons/app-icon.png"));
        if (icon.isNull())
            icon = windowIcon();
        if (icon.isNull())
            icon = style()->standardIcon(QStyle::SP_FileIcon);
        m_trayIcon = new QSystemTrayIcon(icon, this);
        m_trayIcon->setToolTip(tr("Brevaro Notes"));

        auto *menu = new QMenu(this);
        QAction *showHide = menu->addAction(tr("Show Brevaro Notes"));
        menu->addSeparator();
        connect(menu->addAction(tr("New Note")), &QAction::triggered, this,
            [this] { m_appState->createNoteInWindow(); });
        connect(menu->addAction(tr("Search…")), &QAction::triggered, this,
            &MainWindow::showSearchScreen);
        connect(
            menu->addAction(tr("To-Dos")), &QAction::triggered, this, &MainWindow::showTodosScreen);
        menu->addSeparator();
        // The same quit as File > Quit: windows save (or keep) their notes first.
        connect(menu->addAction(tr("Quit")), &QAction::triggered, this,
            &MainWindow::quitWithBookkeeping);
        connect(menu, &QMenu::aboutToShow, this, [this, showHide] {
            showHide->setText(isVisible() && !isMinimized() ? tr("Hide Brevaro Notes")
                                                            : tr("Show Brevaro Notes"));
        });
        const auto bringForward = [this] {
            showNormal();
            raise();
            activateWindow();
        };
        connect(showHide, &QAction::triggered, this, [this, bringForward] {
            if (isVisible() && !isMinimized() && isActiveWindow())
                hide();
            else
                bringForward();
        });
        connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [bringForward](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    bringForward();
            });
        m_trayIcon->setContextMenu(menu);
        m_trayIcon->show();
    } else if (!wanted && m_trayIcon) {
        m_trayIcon->hide();
        delete m_trayIcon->contextMenu();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
}
