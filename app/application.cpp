#include "application.h"

#include "appstate.h"
#include "database.h"
#include "instancemessage.h"
#include "mainwindow.h"
#include "notesstyle.h"
#include "notewindow.h"
#include "paths.h"
#include "preferencesrepository.h"
#include "recoveryfile.h"
#include "singleinstance.h"
#include "startupprompts.h"
#include "transfercommand.h"
#include "updateflows.h"
#include "versionnumber.h"

#include <QEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QMainWindow>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

namespace {

const QString InstanceServerName = QStringLiteral("brevaro-notes-instance");
const QString DisplayName = QStringLiteral("Brevaro Notes");
constexpr int UpdateCheckDelayMs = 1500;

// Without a screen (the offscreen and minimal platforms) nobody could answer a message box, and
// waiting for one would hang the process; the log carries the message instead.
bool canShowDialogs()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

} // namespace

Application::Application(int &argc, char **argv, QElapsedTimer started)
    : QApplication(argc, argv), m_started(started)
{
    setOrganizationName(QStringLiteral("Brevaro"));
    setOrganizationDomain(QStringLiteral("brevaro.app"));
    setApplicationName(QStringLiteral("Notes"));
    setApplicationVersion(QStringLiteral("1.1.0"));
    // Lets the desktop match windows to the installed menu entry (Wayland's app id).
    setDesktopFileName(QStringLiteral("app.brevaro.notes"));

    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/IBMPlexSans.ttf"));
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/IBMPlexSans-Italic.ttf"));
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/IBMPlexMono-Medium.ttf"));
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/MaterialIcons-Regular.otf"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app-icon.png")));
    // Before any widget exists, so every window is polished by it.
    setStyle(new NotesStyle);

    if (!m_started.isValid())
        m_started.start();
}

Application::~Application()
{
    // Top-level windows go before the state they read from.
    delete m_mainWindow;
}

int Application::run()
{
    m_singleInstance = new SingleInstance(InstanceServerName, this);

    const TransferCommand transfer = parseTransferCommand(arguments());
    if (transfer.kind != TransferCommand::Kind::None) {
        // A running copy holds the same database open: writing beside it would race its
        // saves, so the command waits for the user to close it. The probe sends no request.
        if (transfer.error.isEmpty() && !m_singleInstance->tryBecomePrimary(QString())) {
            QTextStream(stderr) << tr("Brevaro Notes is running. Quit it first, then run "
                                      "--backup, --restore or --import again.")
                                << Qt::endl;
            return 1;
        }
        return runTransferCommand(transfer, dataDirectory());
    }

    const QString message = buildInstanceMessage(arguments());
    if (!m_singleInstance->tryBecomePrimary(message)) {
        qInfo().noquote() << "Handed" << message << "to the running instance";
        return 0;
    }

    m_appState = new AppState(dataDirectory(), this);
    if (!m_appState->initialize() && !resolveDatabaseError())
        return 1;

    connect(m_singleInstance, &SingleInstance::messageReceived, this,
        &Application::handleInstanceMessage);

    startSession(parseInstanceRequest(arguments()));

    const BrevUpdate::UpdateConfig updateConfig = updateClientConfig(m_appState->serviceConfig());
    // Stored before the notes are fetched, so they are offered once per upgrade even when the
    // download server cannot be reached.
    const QString whatsNewKey = QStringLiteral("last_whats_new_version");
    if (VersionNumber::parse(m_appState->preferences()->stringValue(whatsNewKey))
        < VersionNumber::parse(updateConfig.currentVersion)) {
        m_appState->preferences()->setValue(whatsNewKey, updateConfig.currentVersion);
        BrevUpdate::showWhatsNew(updateConfig, DisplayName, m_mainWindow);
    }
    QTimer::singleShot(UpdateCheckDelayMs, this, [this, updateConfig] {
        BrevUpdate::runSilentUpdateCheck(updateConfig, DisplayName, m_mainWindow);
    });

    return exec();
}

void Application::startSession(const InstanceRequest &request)
{
    // Note windows live in the window library, above the state, so they are made here.
    m_appState->setNoteWindowFactory([](AppState *state, const QString &noteId) -> QWidget * {
        NoteWindow *window = NoteWindow::createForNote(state, noteId);
        if (window)
            qInfo().noquote() << "Opened a note window for note" << noteId;
        return window;
    });

    QWidget *requestedWindow = nullptr;
    if (request.newNote)
        requestedWindow = m_appState->createNoteInWindow();
    else if (!request.noteId.isEmpty())
        requestedWindow = m_appState->openNoteWindow(request.noteId);

    m_mainWindow = new MainWindow(m_appState);
    m_mainWindow->installEventFilter(this);
    // Notes without search rows are indexed, and a large file is checked, once the first
    // window is up (see eventFilter); a window that starts hidden is not waited for long.
    QTimer::singleShot(StartSearchIndexAfterMs, m_appState, [state = m_appState] {
        state->database()->startSearchIndexBuild();
        state->startDeferredCheck();
    });
    // Queued: carrying out the answer replaces the state that announces the failure.
    connect(m_appState, &AppState::databaseCheckFailed, this,
        &Application::handleLateDatabaseFailure, Qt::QueuedConnection);

    const bool startMinimized
        = m_appState->preferences()->boolValue(QStringLiteral("start_minimized"), false);
    const bool noteRequested = request.newNote || !request.noteId.isEmpty();
    // A requested note window that could not be opened must not leave the program running with
    // nothing on screen.
    if (noteRequested && !requestedWindow)
        qInfo() << "The requested note window is not open; showing the main window";
    if ((!noteRequested && !startMinimized) || (noteRequested && !requestedWindow))
        m_mainWindow->show();

    m_appState->restoreNoteWindows();
    offerUnsavedNotes();

    const QString restoreTodos = QStringLiteral("restore_todos_window");
    if (m_appState->preferences()->boolValue(restoreTodos, false)) {
        m_mainWindow->showTodosScreen();
        m_appState->preferences()->remove(restoreTodos);
    }
}

void Application::handleLateDatabaseFailure()
{
    const AppState::DatabaseFailure failure = m_appState->databaseFailure();
    qCritical().noquote() << "Database Error:" << StartupPrompts::databaseErrorText(failure)
                          << "\nData directory:" << m_appState->dataDirectory();
    // Nobody to ask: the program stops as a start with a damaged file does; the windows keep
    // what they could not save in the recovery file.
    if (!canShowDialogs()) {
        closeAllWindows();
        exit(1);
        return;
    }
    const StartupPrompts::DatabaseChoice choice
        = StartupPrompts::askDatabaseError(failure, m_mainWindow);
    if (choice == StartupPrompts::DatabaseChoice::Quit) {
        m_mainWindow->quitWithBookkeeping();
        return;
    }
    // The collection is reopened as a start would open it: windows and services go (unsaved
    // text to the recovery file, since the file takes no writes now), the file is checked
    // before anything opens it, and the answer already given is carried out.
    closeAllWindows();
    // A window whose text could be neither saved nor kept stays open when asked: it is the
    // only copy of that text, so the collection stays as it is (writes held) until it closes.
    const QWidgetList windows = topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window->isVisible() && qobject_cast<const QMainWindow *>(window)) {
            qWarning() << "A window kept its unsaved note open; the database is left as it is";
            return;
        }
    }
    delete m_mainWindow;
    m_mainWindow = nullptr;
    delete m_appState;
    m_appState = new AppState(dataDirectory(), this);
    m_appState->setDeferredCheckThreshold(-1);
    if (!m_appState->initialize()) {
        QString report;
        const bool open = StartupPrompts::resolveDatabaseFailure(
            m_appState, [choice](const AppState::DatabaseFailure &) { return choice; }, &report);
        qWarning().noquote() << report;
        QMessageBox::information(nullptr, tr("Database Error"), report);
        if (!open) {
            exit(1);
            return;
        }
    }
    startSession(InstanceRequest());
}

void Application::handleInstanceMessage(const QString &message)
{
    // An empty message is a probe (a command-line backup checking for a running copy).
    if (message.isEmpty())
        return;
    // When the note window cannot be opened, the main window comes forward instead, so the
    // request is never answered with nothing at all.
    if (message == QStringLiteral("new-note")) {
        if (m_appState->createNoteInWindow())
            return;
    } else if (message.startsWith(QStringLiteral("note:"))) {
        if (m_appState->openNoteWindow(message.mid(5)))
            return;
    }
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}

bool Application::resolveDatabaseError()
{
    const AppState::DatabaseFailure failure = m_appState->databaseFailure();
    qCritical().noquote() << "Database Error:" << StartupPrompts::databaseErrorText(failure)
                          << "\nData directory:" << m_appState->dataDirectory();
    // Without anyone to ask, the file is left exactly as it is.
    if (!canShowDialogs())
        return false;
    QString report;
    const bool open = StartupPrompts::resolveDatabaseFailure(
        m_appState,
        [](const AppState::DatabaseFailure &shown) {
            return StartupPrompts::askDatabaseError(shown, nullptr);
        },
        &report);
    qWarning().noquote() << report;
    if (open || StartupPrompts::canStartOver(failure)) {
        QMessageBox::information(nullptr, tr("Database Error"), report);
    }
    return open;
}

void Application::offerUnsavedNotes()
{
    const QList<RecoveryFile::Entry> kept = m_appState->recoveryFile()->entries();
    if (kept.isEmpty())
        return;
    qWarning().noquote() << "Unsaved text of" << kept.size() << "note(s) kept from the last run in"
                         << m_appState->recoveryFile()->path();
    // Kept for a run that can ask.
    if (!canShowDialogs())
        return;
    const int restored = StartupPrompts::offerUnsavedNotes(
        m_appState, [this](const RecoveryFile::Entry &entry, const std::optional<Note> &stored) {
            return StartupPrompts::askUnsavedNote(entry, stored, m_mainWindow);
        });
    qInfo().noquote() << "Restored" << restored << "kept note text(s)";
}

bool Application::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mainWindow && event->type() == QEvent::Paint) {
        m_mainWindow->removeEventFilter(this);
        qInfo().noquote() << "Main window first painted" << m_started.elapsed() << "ms after start";
        m_appState->database()->startSearchIndexBuild();
        m_appState->startDeferredCheck();
    }
    return QApplication::eventFilter(watched, event);
}
