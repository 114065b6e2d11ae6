#pragma once

#include "attachment.h"
#include "note.h"
#include "notebook.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

class AttachmentRepository;
class NoteRepository;
class NoteWriter;
class NotebookRepository;
class PreferencesRepository;
class SnapshotRepository;

namespace BrevAccount {
class ApiClient;
}

// Keeps the local store and the notes server in step. One cycle is a fixed chain of
// asynchronous steps, each started from the previous one's reply: push notebooks, push all
// pending notes in one request, push attachments, pull notes, pull notebooks, pull attachments.
// Only one cycle runs at a time; a sync asked for meanwhile runs once the cycle is done.
// Everything the server sends is written through NoteWriter, each pull in one transaction.
class SyncEngine final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncEngine)

public:
    enum SyncState { Idle = 0, Pending = 1, Syncing = 2, Error = 3, Offline = 4 };
    Q_ENUM(SyncState)

    static constexpr int DebounceMs = 2000;
    static constexpr int AutoSyncIntervalMs = 300000;
    // How long a pull loop works before it lets the window paint.
    static constexpr int EventSliceMs = 50;

    static inline const QString LastSyncKey = QStringLiteral("lastSyncTimestampMs");
    static inline const QString LastAttachmentSyncKey = QStringLiteral("lastAttachmentSyncMs");

    // Nothing is owned. `api` is the sync service's client.
    SyncEngine(BrevAccount::ApiClient *api, NoteWriter *writer, NoteRepository *notes,
        NotebookRepository *notebooks, AttachmentRepository *attachments,
        SnapshotRepository *snapshots, PreferencesRepository *preferences,
        QObject *parent = nullptr);

    SyncState state() const { return m_state; }
    QString lastError() const { return m_lastError; }
    // The HTTP status behind lastError(): 0 when the server could not be reached.
    int lastErrorStatus() const { return m_lastErrorStatus; }
    bool isCycleRunning() const { return m_running; }
    bool isAutoSyncActive() const { return m_periodic.isActive(); }
    int autoSyncInterval() const { return m_periodic.interval(); }
    // A new period for the running (or next) automatic sync, without syncing now.
    void setAutoSyncInterval(int ms) { m_periodic.setInterval(qMax(1, ms)); }
    static QString statusText(int state);

    // The quiet time after the last scheduleSync before a cycle starts (tests shorten it).
    void setDebounceInterval(int ms) { m_debounce.setInterval(ms); }
    int debounceInterval() const { return m_debounce.interval(); }

    // Forgets both pull timestamps, marks every note and notebook not in the trash pending and
    // syncs. The number of notes marked.
    int forceFullResync();

public slots:
    void sync();
    void scheduleSync();
    // Shows local changes as unsynced without syncing (automatic sync turned off).
    void markPending();
    void startAutoSync(int intervalMs = AutoSyncIntervalMs);
    void stopAutoSync();

signals:
    // Carries a SyncState value.
    void stateChanged(int state);
    void syncCompleted();
    void syncFailed(const QString &error);
    void dataChanged();
    void syncProgress(const QString &label, int current, int total);
    void attachmentsChanged();

private:
    void setState(SyncState state);
    void onAuthenticationRequired();
    // Ends the cycle in Error with `message`; false when the cycle already ended that way.
    void failCycle(const QString &message, int status);
    // True (and the cycle ended) when the sign-in was lost during the step just finished.
    bool stopIfAuthenticationLost();
    // Progress and painting during long loops; true when events were processed (and so other
    // code may have written notes meanwhile).
    bool keepResponsive(const QString &label, int current, int total);

    void pushNotebooks();
    void pushNextNotebook();
    void createNotebookOnServer(const Notebook &notebook);
    void markNotebookSynced(const Notebook &sent, int version);
    void pushNotes();
    void onPushReply(bool ok, int status, const QJsonObject &body);
    void pushAttachments();
    void pushNextAttachment();
    void pullNotes();
    void applyPulledNotes(const QJsonObject &body);
    void pullNotebooks();
    void applyNotebookList(const QJsonObject &body);
    void pullAttachments();
    void downloadNextAttachment();
    void finishSync();

    QString sinceValue(const QString &key) const;
    void storeTimestamp(const QString &key, qint64 timestamp);

    BrevAccount::ApiClient *m_api; // not owned
    NoteWriter *m_writer; // not owned
    NoteRepository *m_notes; // not owned
    NotebookRepository *m_notebooks; // not owned
    AttachmentRepository *m_attachments; // not owned
    SnapshotRepository *m_snapshots; // not owned
    PreferencesRepository *m_preferences; // not owned

    QTimer m_periodic;
    QTimer m_debounce;
    SyncState m_state = Idle;
    QString m_lastError;
    int m_lastErrorStatus = 0;

    bool m_running = false;
    bool m_resyncRequested = false;
    bool m_dataChanged = false;
    bool m_attachmentSaved = false;
    bool m_authLost = false;
    // A push the server refused for good: the pulls still run, the cycle ends in Error.
    QString m_pushError;
    int m_pushErrorStatus = 0;

    QQueue<Notebook> m_notebookQueue;
    QHash<QString, Note> m_pushedNotes;
    QQueue<Attachment> m_uploadQueue;
    QQueue<Attachment> m_downloadQueue;
    int m_uploadTotal = 0;
    int m_uploaded = 0;
    int m_downloadTotal = 0;
    int m_downloaded = 0;
    int m_downloadFailures = 0;
    qint64 m_attachmentTimestamp = 0;
    QElapsedTimer m_slice;
};
