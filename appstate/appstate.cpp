#include "appstate.h"

#include "attachmentrepository.h"
#include "database.h"
#include "note.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "paths.h"
#include "preferencesrepository.h"
#include "samplenotes.h"
#include "snapshotrepository.h"
#include "thememanager.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QUuid>
#include <QWidget>

namespace {

const QString LastNotebookKey = QStringLiteral("lastNotebookId");
const QString LastNoteKey = QStringLiteral("lastNoteId");
const QString EmptyNoteBody = QStringLiteral("[{\"insert\":\"\\n\"}]");

} // namespace

AppState::AppState(QObject *parent) : QObject(parent)
{ }

AppState::~AppState()
{
    // Windows close while the repositories (our children) still exist, so they can save.
    const auto windows = m_noteWindows;
    m_noteWindows.clear();
    for (const QPointer<QWidget> &window : windows) {
        if (!window)
            continue;
        disconnect(window, nullptr, this, nullptr);
        window->close();
    }
}

bool AppState::initialize()
{
    m_database = new Database(this);
    const QString path = databasePath();
    qInfo().noquote() << "Opening database at:" << path;
    if (!m_database->open(path))
        return false;
    if (!m_database->migrate())
        return false;

    m_notes = new NoteRepository(m_database, this);
    m_notebooks = new NotebookRepository(m_database, this);
    m_preferences = new PreferencesRepository(m_database, this);
    m_snapshots = new SnapshotRepository(m_database, this);
    m_attachments = new AttachmentRepository(m_database, this);

    connect(m_notes, &NoteRepository::notesChanged, this, &AppState::notesChanged);
    connect(m_notebooks, &NotebookRepository::notebooksChanged, this, &AppState::notebooksChanged);
    connect(m_notes, &NoteRepository::noteDeleted, this, &AppState::noteDeletedExternally);
    // The purge has already removed the attachment rows; their files go now.
    connect(m_notes, &NoteRepository::notePurged, m_attachments,
        [this](const QString &noteId, const QStringList &attachmentIds) {
            m_attachments->deleteForNote(noteId, attachmentIds);
        });

    m_themeManager = new ThemeManager(m_preferences, this);
    m_themeManager->setThemeFromString(
        m_preferences->stringValue(QStringLiteral("theme_mode"), QStringLiteral("system")));

    m_serviceConfig = ServiceConfig::fromEnvironment();
    qInfo().noquote() << "Auth:" << m_serviceConfig.authBaseUrl
                      << "Account:" << m_serviceConfig.accountApiUrl
                      << "Sync:" << m_serviceConfig.syncApiUrl;

    if (const auto notebookId = m_preferences->value(LastNotebookKey))
        m_currentNotebookId = *notebookId;
    if (const auto noteId = m_preferences->value(LastNoteKey))
        m_currentNoteId = *noteId;

    seedWelcomeNotes(this);

    emit databaseReady();
    return true;
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
    if (!m_notes)
        return nullptr;
    Note note;
    note.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    note.notebookId = m_currentNotebookId;
    note.body = EmptyNoteBody;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    note.createdAt = now;
    note.updatedAt = now;
    note.modifiedAt = now;
    if (!m_notes->insert(note))
        return nullptr;
    return openNoteWindow(note.id);
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

        const int closedIndex = window->metaObject()->indexOfSignal("windowClosed(QString)");
        if (closedIndex >= 0) {
            const QMetaMethod closedSignal = window->metaObject()->method(closedIndex);
            const QMetaMethod removeSlot
                = metaObject()->method(metaObject()->indexOfSlot("onNoteWindowClosed(QString)"));
            connect(window, closedSignal, this, removeSlot);
        }
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

void AppState::onNoteWindowClosed(const QString &noteId)
{
    m_noteWindows.remove(noteId);
}

void AppState::forgetNoteWindow(const QString &noteId, const QWidget *window)
{
    const auto it = m_noteWindows.find(noteId);
    if (it != m_noteWindows.end() && (it.value().isNull() || it.value() == window))
        m_noteWindows.erase(it);
}
