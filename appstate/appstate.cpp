#include "appstate.h"

#include "accountclient.h"
#include "apiclient.h"
#include "attachmentrepository.h"
#include "client.h"
#include "database.h"
#include "databaserescue.h"
#include "jwt.h"
#include "note.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notesharingservice.h"
#include "notewriter.h"
#include "paths.h"
#include "preferencesrepository.h"
#include "recoveryfile.h"
#include "samplenotes.h"
#include "snapshotrepository.h"
#include "syncengine.h"
#include "thememanager.h"
#include "tokenmanager.h"
#include "tokenstore.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#include <QWidget>
#include <utility>

namespace {

const QString LastNotebookKey = QStringLiteral("lastNotebookId");
const QString LastNoteKey = QStringLiteral("lastNoteId");
const QString AutoSyncKey = QStringLiteral("auto_sync");
const QString SyncIntervalKey = QStringLiteral("sync_interval_minutes");
constexpr int DefaultSyncIntervalMinutes = 5;

} // namespace

AppState::AppState(QObject *parent) : AppState(::dataDirectory(), parent)
{ }

AppState::AppState(const QString &dataDirectory, QObject *parent)
    : QObject(parent),
      m_dataDirectory(dataDirectory),
      m_recoveryFile(std::make_unique<RecoveryFile>(RecoveryFile::pathIn(dataDirectory)))
{ }

AppState::~AppState()
{
    // The check reads the file on its own connection; it must end before the state does.
    if (m_checkThread) {
        m_checkThread->wait();
        delete m_checkThread;
    }
    // Windows close while the repositories (our children) still exist, so they can save.
    const auto windows = m_noteWindows;
    m_noteWindows.clear();
    for (const QPointer<QWidget> &window : windows) {
        if (!window)
            continue;
        disconnect(window, nullptr, this, nullptr);
        window->close();
        // Closing only schedules the deletion; the window must not outlive the state it uses.
        delete window.data();
    }
    // The services go now, in reverse order of their members, before QObject's destructor.
}

void AppState::setTokenStore(std::unique_ptr<BrevAccount::TokenStore> store)
{
    m_tokenStore = std::move(store);
}

void AppState::setServiceConfig(const ServiceConfig &config)
{
    m_serviceConfig = config;
    m_serviceConfigGiven = true;
}

bool AppState::initialize()
{
    m_database = std::make_unique<Database>();
    const QString path = databasePath(m_dataDirectory);
    m_databaseFailure = DatabaseFailure();
    m_databaseFailure.path = path;
    qInfo().noquote() << "Opening database at:" << path;
    // Checked before the writable open: that open would already change a damaged file. A large
    // file is checked once the window is up instead, so it does not hold up the start.
    m_deferredCheckPending = false;
    const qint64 size = QFileInfo(path).size();
    const bool deferCheck = m_deferredCheckBytes >= 0 && size >= m_deferredCheckBytes;
    QString problem;
    switch (deferCheck ? Database::Health::Ok : Database::checkFile(path, &problem)) {
    case Database::Health::Ok:
        break;
    case Database::Health::CannotOpen:
        m_databaseFailure.kind = DatabaseFailure::Kind::CannotOpen;
        m_databaseFailure.detail = problem;
        return false;
    case Database::Health::Damaged:
        m_databaseFailure.kind = DatabaseFailure::Kind::Damaged;
        m_databaseFailure.detail = problem;
        return false;
    }
    if (!m_database->open(path)) {
        m_databaseFailure.kind = DatabaseFailure::Kind::CannotOpen;
        m_databaseFailure.detail = m_database->connection().lastError().text();
        return false;
    }
    if (!m_database->migrate()) {
        m_databaseFailure.kind = DatabaseFailure::Kind::MigrationFailed;
        m_databaseFailure.detail = m_database->connection().lastError().text();
        // Nothing may hold the file open while the user decides what happens to it.
        m_database.reset();
        return false;
    }
    m_databaseFailure = DatabaseFailure();
    if (deferCheck) {
        m_deferredCheckPending = true;
        qInfo().noquote() << "Database check of" << size / (1024 * 1024)
                          << "MB left until the window is up";
    }

    Database *database = m_database.get();
    m_notes = std::make_unique<NoteRepository>(database);
    m_notebooks = std::make_unique<NotebookRepository>(database);
    m_preferences = std::make_unique<PreferencesRepository>(database);
    m_snapshots = std::make_unique<SnapshotRepository>(database);
    m_attachments = std::make_unique<AttachmentRepository>(
        database, m_dataDirectory + QStringLiteral("/attachments"));
    m_writer = std::make_unique<NoteWriter>(database, m_notes.get(), m_notebooks.get());

    NoteRepository *notes = m_notes.get();
    connect(notes, &NoteRepository::notesChanged, this, &AppState::notesChanged);
    connect(notes, &NoteRepository::notesWritten, this, &AppState::notesWritten);
    connect(m_notebooks.get(), &NotebookRepository::notebooksChanged, this,
        &AppState::notebooksChanged);
    connect(notes, &NoteRepository::noteDeleted, this, &AppState::noteDeletedExternally);
    // The purge has already removed the attachment rows; their files go now.
    connect(notes, &NoteRepository::notePurged, m_attachments.get(),
        [this](const QString &noteId, const QStringList &attachmentIds) {
            m_attachments->deleteForNote(noteId, attachmentIds);
        });

    m_themeManager = std::make_unique<ThemeManager>(m_preferences.get());
    m_themeManager->setThemeFromString(
        m_preferences->stringValue(QStringLiteral("theme_mode"), QStringLiteral("system")));

    startAccountClient();

    if (const auto notebookId = m_preferences->value(LastNotebookKey))
        m_currentNotebookId = *notebookId;
    if (const auto noteId = m_preferences->value(LastNoteKey))
        m_currentNoteId = *noteId;

    seedWelcomeNotes(this);

    emit databaseReady();
    return true;
}

void AppState::startDeferredCheck()
{
    if (!m_deferredCheckPending || m_checkThread || !m_database)
        return;
    m_deferredCheckPending = false;
    const QString path = databasePath(m_dataDirectory);
    struct Outcome
    {
        Database::Health health = Database::Health::Ok;
        QString problem;
    };
    auto outcome = std::make_shared<Outcome>();
    m_checkThread = QThread::create(
        [path, outcome] { outcome->health = Database::checkFile(path, &outcome->problem); });
    connect(m_checkThread, &QThread::finished, this, [this, path, outcome] {
        m_checkThread->wait();
        delete m_checkThread;
        m_checkThread = nullptr;
        if (outcome->health == Database::Health::Ok) {
            qInfo().noquote() << "Database check passed:" << path;
            emit databaseChecked(true);
            return;
        }
        m_databaseFailure.kind = outcome->health == Database::Health::Damaged
            ? DatabaseFailure::Kind::Damaged
            : DatabaseFailure::Kind::CannotOpen;
        m_databaseFailure.path = path;
        m_databaseFailure.detail = outcome->problem;
        m_databaseFailure.foundInUse = true;
        // Nothing more goes into a damaged file while the user decides what becomes of it:
        // saves fail as on a read-only file, and the windows keep (or set aside) their text.
        if (m_database)
            m_database->holdWrites();
        emit databaseChecked(false);
        emit databaseCheckFailed();
    });
    m_checkThread->start(QThread::LowPriority);
}

QString AppState::setAsideDatabase()
{
    if (m_notes)
        return QString(); // only before a collection is open
    m_database.reset();
    return DatabaseRescue::setAside(databasePath(m_dataDirectory));
}

int AppState::recoverNotesFrom(const QString &damagedPath)
{
    if (!m_writer || damagedPath.isEmpty())
        return -1;
    const QString recovered = damagedPath + QStringLiteral(".recovered");
    QString error;
    if (!DatabaseRescue::recoverToFile(damagedPath, recovered, &error)) {
        qWarning().noquote() << "Nothing recovered from" << damagedPath << error;
        return -1;
    }
    const DatabaseRescue::Recovered result
        = DatabaseRescue::importRecovered(recovered, m_writer.get(), m_snapshots.get());
    // The recovered copy served its purpose; the damaged original stays where it was set aside.
    QFile::remove(recovered);
    return result.notes;
}

void AppState::startAccountClient()
{
    if (!m_serviceConfigGiven)
        m_serviceConfig = ServiceConfig::fromEnvironment();
    qInfo().noquote() << "Auth:" << m_serviceConfig.authBaseUrl
                      << "Account:" << m_serviceConfig.accountApiUrl
                      << "Sync:" << m_serviceConfig.syncApiUrl;

    std::unique_ptr<BrevAccount::TokenStore> store = std::move(m_tokenStore);
    if (!store)
        store = BrevAccount::createTokenStore(m_serviceConfig.appIdentifier);
    m_accountClient = std::make_unique<BrevAccount::Client>(
        accountClientConfig(m_serviceConfig), std::move(store));
    m_accountClient->syncApi()->setBaseUrl(QUrl(m_serviceConfig.syncApiUrl));
    startSyncEngine();
    m_noteSharing = std::make_unique<NoteSharingService>(
        m_accountClient->syncApi(), NoteSharingService::Kind::Notes);
    m_notebookSharing = std::make_unique<NoteSharingService>(
        m_accountClient->syncApi(), NoteSharingService::Kind::Notebooks);

    // Every way out of a session (Sign Out, a refused refresh, a 401 the refresh could not
    // mend) arrives here as a state other than Authenticated.
    connect(m_accountClient.get(), &BrevAccount::Client::authStateChanged, this,
        [this](BrevAccount::AuthState state) {
            applyAutoSync(true);
            if (state == BrevAccount::Authenticated) {
                refreshCanShare();
            } else {
                ++m_canShareRequest;
                setCanShare(false);
            }
        });
    connect(m_accountClient->accountClient(), &BrevAccount::AccountClient::accountDetailsChanged,
        this, &AppState::refreshCanShare);
    m_accountClient->initialize();
}

bool AppState::isSignedIn() const
{
    return m_accountClient && m_accountClient->isAuthenticated();
}

void AppState::startSyncEngine()
{
    m_syncEngine
        = std::make_unique<SyncEngine>(m_accountClient->syncApi(), m_writer.get(), m_notes.get(),
            m_notebooks.get(), m_attachments.get(), m_snapshots.get(), m_preferences.get());
    SyncEngine *engine = m_syncEngine.get();
    connect(engine, &SyncEngine::dataChanged, this, [this] {
        emit notesChanged();
        emit notebooksChanged();
    });
    // The pulls write through the repositories too, so a change announced while a cycle runs
    // may be the cycle's own: it is looked at when the cycle ends, when anything still pending
    // (an edit made meanwhile, read too late for the push) gets one more debounced sync.
    const auto localChange = [this] {
        if (!m_syncEngine)
            return;
        if (m_syncEngine->isCycleRunning())
            m_changedDuringCycle = true;
        else
            scheduleAutomaticSync();
    };
    connect(m_notes.get(), &NoteRepository::notesChanged, this, localChange);
    connect(m_notebooks.get(), &NotebookRepository::notebooksChanged, this, localChange);
    connect(engine, &SyncEngine::stateChanged, this, [this](int state) {
        if (state == SyncEngine::Syncing)
            m_changedDuringCycle = false;
    });
    connect(engine, &SyncEngine::syncCompleted, this, [this] {
        const bool changed = std::exchange(m_changedDuringCycle, false);
        if (changed && m_syncEngine->state() == SyncEngine::Pending)
            scheduleAutomaticSync();
    });
    connect(m_preferences.get(), &PreferencesRepository::changed, this, [this](const QString &key) {
        if (key == AutoSyncKey || key == SyncIntervalKey)
            applyAutoSync(false);
    });
}

bool AppState::autoSyncEnabled() const
{
    return !m_preferences || m_preferences->boolValue(AutoSyncKey, true);
}

int AppState::syncIntervalMinutes() const
{
    if (!m_preferences)
        return DefaultSyncIntervalMinutes;
    bool ok = false;
    const int minutes = m_preferences->stringValue(SyncIntervalKey).trimmed().toInt(&ok);
    return ok ? qBound(1, minutes, 120) : DefaultSyncIntervalMinutes;
}

void AppState::applyAutoSync(bool signInChanged)
{
    if (!m_syncEngine)
        return;
    if (!isSignedIn() || !autoSyncEnabled()) {
        m_syncEngine->stopAutoSync();
        return;
    }
    const int intervalMs = syncIntervalMinutes() * 60000;
    // A new interval alone re-times the timer; signing in or turning sync on also syncs now.
    if (!signInChanged && m_syncEngine->isAutoSyncActive())
        m_syncEngine->setAutoSyncInterval(intervalMs);
    else
        m_syncEngine->startAutoSync(intervalMs);
}

void AppState::scheduleAutomaticSync()
{
    if (!m_syncEngine || !isSignedIn())
        return;
    if (autoSyncEnabled())
        m_syncEngine->scheduleSync();
    else
        m_syncEngine->markPending();
}

void AppState::refreshCanShare()
{
    const quint64 request = ++m_canShareRequest;
    const QString groupId = isSignedIn()
        ? BrevAccount::jwtBrevaroClaim(
            m_accountClient->tokenManager()->accessToken(), QStringLiteral("group_id"))
        : QString();
    if (groupId.isEmpty()) {
        setCanShare(false);
        return;
    }
    QPointer<AppState> self(this);
    m_accountClient->accountClient()->getGroup([self, request](const BrevAccount::Group &group) {
        // An answer for a session that has since ended, or overtaken by a newer request, says
        // nothing about the user now signed in.
        if (!self || request != self->m_canShareRequest || !self->isSignedIn())
            return;
        self->setCanShare(group.members.size() > 1);
    });
}

void AppState::setCanShare(bool canShare)
{
    if (canShare == m_canShare)
        return;
    m_canShare = canShare;
    emit canShareChanged(canShare);
}

void AppState::setCurrentNotebookId(const QString &id)
{
    if (id == m_currentNotebookId)
        return;
    m_currentNotebookId = id;
    if (m_preferences)
        m_preferences->setValue(LastNotebookKey, id);
    emit currentNotebookChanged(id);
}

void AppState::setCurrentNoteId(const QString &id)
{
    if (id == m_currentNoteId)
        return;
    m_currentNoteId = id;
    if (m_preferences)
        m_preferences->setValue(LastNoteKey, id);
    emit currentNoteChanged(id);
}

void AppState::notifyNoteUpdated(const QString &noteId, QObject *source)
{
    emit noteUpdatedExternally(noteId, source);
}

void AppState::setNoteWindowFactory(NoteWindowFactory factory)
{
    m_noteWindowFactory = std::move(factory);
}

QWidget *AppState::createNoteInWindow()
{
    if (!m_writer)
        return nullptr;
    const std::optional<Note> note = m_writer->createNote(m_currentNotebookId);
    return note ? openNoteWindow(note->id) : nullptr;
}

QWidget *AppState::openNoteWindow(const QString &noteId)
{
    QPointer<QWidget> window = m_noteWindows.value(noteId);
    if (!window) {
        if (!m_noteWindowFactory) {
            qInfo().noquote() << "AppState: note windows are not available; not opening note"
                              << noteId;
            return nullptr;
        }
        window = m_noteWindowFactory(this, noteId);
        if (!window) {
            qWarning().noquote() << "AppState: could not open a window for note" << noteId;
            return nullptr;
        }
        m_noteWindows.insert(noteId, window);
        // A window that deletes itself without announcing it must not stay listed.
        QWidget *raw = window;
        connect(window, &QObject::destroyed, this,
            [this, noteId, raw] { forgetNoteWindow(noteId, raw); });
        window->show();
    }
    window->raise();
    window->activateWindow();
    return window;
}

QStringList AppState::openNoteWindowIds() const
{
    QStringList ids;
    for (auto it = m_noteWindows.cbegin(); it != m_noteWindows.cend(); ++it) {
        if (it.value())
            ids.append(it.key());
    }
    return ids;
}

void AppState::restoreNoteWindows()
{
    if (!m_preferences)
        return;
    const QString key = QStringLiteral("restore_note_windows");
    const QString stored = m_preferences->stringValue(key);
    if (stored.isEmpty())
        return;
    const QStringList ids = stored.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &id : ids)
        openNoteWindow(id);
    m_preferences->remove(key);
}

void AppState::noteWindowClosed(const QString &noteId)
{
    m_noteWindows.remove(noteId);
}

void AppState::forgetNoteWindow(const QString &noteId, const QWidget *window)
{
    const auto it = m_noteWindows.find(noteId);
    if (it != m_noteWindows.end() && (it.value().isNull() || it.value() == window))
        m_noteWindows.erase(it);
}
