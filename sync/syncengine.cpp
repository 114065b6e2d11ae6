#include "syncengine.h"

#include "apiclient.h"
#include "attachmentrepository.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "snapshotrepository.h"
#include "syncwire.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QPointer>
#include <QSet>
#include <QUrlQuery>

#include <memory>

namespace {

// Statuses after which the same request may well succeed later: the change stays pending and
// the cycle goes no further than the failed step allows.
bool isRetryable(int status)
{
    return status == 0 || status == 401 || status == 408 || status == 429 || status >= 500;
}

QString notebookPath(const QString &id)
{
    return QStringLiteral("/notebooks/%1").arg(id);
}

} // namespace

SyncEngine::SyncEngine(BrevAccount::ApiClient *api, NoteWriter *writer, NoteRepository *notes,
    NotebookRepository *notebooks, AttachmentRepository *attachments, SnapshotRepository *snapshots,
    PreferencesRepository *preferences, QObject *parent)
    : QObject(parent),
      m_api(api),
      m_writer(writer),
      m_notes(notes),
      m_notebooks(notebooks),
      m_attachments(attachments),
      m_snapshots(snapshots),
      m_preferences(preferences)
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(DebounceMs);
    connect(&m_debounce, &QTimer::timeout, this, &SyncEngine::sync);
    connect(&m_periodic, &QTimer::timeout, this, &SyncEngine::sync);
    connect(m_api, &BrevAccount::ApiClient::authenticationRequired, this,
        &SyncEngine::onAuthenticationRequired);
}

QString SyncEngine::statusText(int state)
{
    switch (state) {
    case Idle:
        return tr("Synced");
    case Pending:
        return tr("Unsynced changes");
    case Syncing:
        return tr("Syncing...");
    case Error:
        return tr("Sync error");
    case Offline:
        return tr("Offline");
    default:
        return tr("Unknown");
    }
}

void SyncEngine::setState(SyncState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void SyncEngine::sync()
{
    if (m_running) {
        m_resyncRequested = true;
        return;
    }
    m_debounce.stop();
    m_running = true;
    m_resyncRequested = false;
    m_dataChanged = false;
    m_attachmentSaved = false;
    m_authLost = false;
    m_pushError.clear();
    m_pushErrorStatus = 0;
    setState(Syncing);
    pushNotebooks();
}

void SyncEngine::scheduleSync()
{
    if (m_state == Idle)
        setState(Pending);
    m_debounce.start();
}

void SyncEngine::markPending()
{
    if (m_state == Idle)
        setState(Pending);
}

void SyncEngine::startAutoSync(int intervalMs)
{
    m_periodic.start(qMax(1, intervalMs));
    sync();
}

void SyncEngine::stopAutoSync()
{
    m_periodic.stop();
    // A debounced sync after sign-out could only fail.
    m_debounce.stop();
}

int SyncEngine::forceFullResync()
{
    const bool wasActive = m_periodic.isActive();
    m_periodic.stop();
    m_preferences->remove(LastSyncKey);
    m_preferences->remove(LastAttachmentSyncKey);
    const int marked = qMax(0, m_writer->markAllPending());
    // Keeps the period the user chose.
    if (wasActive)
        m_periodic.start();
    sync();
    return marked;
}

void SyncEngine::onAuthenticationRequired()
{
    m_lastError = tr("Authentication required");
    m_lastErrorStatus = 401;
    setState(Error);
    emit syncFailed(m_lastError);
    // The step whose request failed reports its own failure; the chain stops after it.
    if (m_running)
        m_authLost = true;
}

void SyncEngine::failCycle(const QString &message, int status)
{
    m_running = false;
    m_lastError = message;
    m_lastErrorStatus = status;
    setState(Error);
    emit syncFailed(message);
    if (m_dataChanged)
        emit dataChanged();
}

bool SyncEngine::stopIfAuthenticationLost()
{
    if (!m_authLost)
        return false;
    qWarning().noquote() << "SyncEngine: sign-in lost, cycle stopped";
    m_running = false;
    setState(Error);
    if (m_dataChanged)
        emit dataChanged();
    return true;
}

bool SyncEngine::keepResponsive(const QString &label, int current, int total)
{
    if (m_slice.elapsed() < EventSliceMs)
        return false;
    emit syncProgress(label, current, total);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_slice.restart();
    return true;
}

QString SyncEngine::sinceValue(const QString &key) const
{
    const QString stored = m_preferences->stringValue(key).trimmed();
    if (stored.isEmpty())
        return {};
    bool ok = false;
    const qint64 value = stored.toLongLong(&ok);
    if (!ok || value <= 0) {
        qWarning().noquote() << "SyncEngine: ignoring unusable" << key << stored.left(40)
                             << "- pulling everything";
        return {};
    }
    return QString::number(value);
}

void SyncEngine::storeTimestamp(const QString &key, qint64 timestamp)
{
    if (timestamp <= 0)
        return;
    const qint64 previous = sinceValue(key).toLongLong();
    // Stored all the same: asking from an earlier time only brings changes again, which the
    // version rule absorbs, whereas keeping the later one could skip changes for good.
    if (previous > timestamp)
        qWarning().noquote() << "SyncEngine: server timestamp went backwards for" << key << "from"
                             << previous << "to" << timestamp;
    m_preferences->setValue(key, QString::number(timestamp));
}

// 1. Notebooks

void SyncEngine::pushNotebooks()
{
    m_notebookQueue.clear();
    for (const Notebook &notebook : m_notebooks->pendingNotebooks())
        m_notebookQueue.enqueue(notebook);
    if (!m_notebookQueue.isEmpty())
        emit syncProgress(tr("Uploading notebooks"), 0, int(m_notebookQueue.size()));
    pushNextNotebook();
}

void SyncEngine::pushNextNotebook()
{
    if (stopIfAuthenticationLost())
        return;
    if (m_notebookQueue.isEmpty()) {
        pushNotes();
        return;
    }
    const Notebook notebook = m_notebookQueue.dequeue();
    QPointer<SyncEngine> self(this);
    if (notebook.deletedAt) {
        m_api->deleteResource(
            notebookPath(notebook.id), [self, notebook](bool ok, int status, const QJsonObject &) {
                if (!self)
                    return;
                if (ok || status == 404)
                    self->markNotebookSynced(notebook, notebook.version);
                else
                    qWarning().noquote() << "SyncEngine: notebook delete failed" << notebook.id
                                         << "status" << status;
                self->pushNextNotebook();
            });
        return;
    }
    const QJsonObject payload { { QStringLiteral("name"), notebook.name },
        { QStringLiteral("version"), notebook.version } };
    m_api->put(notebookPath(notebook.id), payload,
        [self, notebook](bool ok, int status, const QJsonObject &body) {
            if (!self)
                return;
            if (ok) {
                const QJsonValue version = body.value(QLatin1String("version"));
                self->markNotebookSynced(notebook,
                    version.isDouble() ? version.toInt(notebook.version) : notebook.version);
                self->m_dataChanged = true;
            } else if (status == 404) {
                self->createNotebookOnServer(notebook);
                return;
            } else if (status == 409) {
                // The server's copy wins at the notebook pull.
                self->markNotebookSynced(notebook, notebook.version);
            } else {
                qWarning().noquote()
                    << "SyncEngine: notebook put failed" << notebook.id << "status" << status;
            }
            self->pushNextNotebook();
        });
}

void SyncEngine::createNotebookOnServer(const Notebook &notebook)
{
    QPointer<SyncEngine> self(this);
    const QJsonObject payload { { QStringLiteral("id"), notebook.id },
        { QStringLiteral("name"), notebook.name } };
    m_api->post(QStringLiteral("/notebooks"), payload,
        [self, notebook](bool ok, int status, const QJsonObject &body) {
            if (!self)
                return;
            if (ok) {
                const QJsonValue version = body.value(QLatin1String("version"));
                self->markNotebookSynced(notebook, version.isDouble() ? version.toInt(1) : 1);
                self->m_dataChanged = true;
            } else {
                qWarning().noquote()
                    << "SyncEngine: notebook post failed" << notebook.id << "status" << status;
            }
            self->pushNextNotebook();
        });
}

void SyncEngine::markNotebookSynced(const Notebook &sent, int version)
{
    if (!m_writer->markNotebookSynced(sent, version))
        qDebug().noquote() << "SyncEngine: notebook" << sent.id
                           << "changed while it was sent; it stays pending";
}

// 2. Notes

void SyncEngine::pushNotes()
{
    const QList<Note> pending = m_notes->pendingNotes();
    m_pushedNotes.clear();
    if (pending.isEmpty()) {
        pushAttachments();
        return;
    }
    emit syncProgress(tr("Uploading notes"), 0, int(pending.size()));
    QJsonArray changes;
    for (const Note &note : pending) {
        changes.append(SyncWire::noteChange(note));
        m_pushedNotes.insert(note.id, note);
    }
    QPointer<SyncEngine> self(this);
    m_api->post(QStringLiteral("/sync/push"),
        QJsonObject { { QStringLiteral("changes"), changes } },
        [self](bool ok, int status, const QJsonObject &body) {
            if (self)
                self->onPushReply(ok, status, body);
        });
}

void SyncEngine::onPushReply(bool ok, int status, const QJsonObject &body)
{
    if (!ok) {
        m_pushedNotes.clear();
        const QString message = tr("Note push failed (HTTP %1)").arg(status);
        if (isRetryable(status) || m_authLost) {
            failCycle(message, status);
            return;
        }
        // Refused for good (a batch too large, a note the server will not take): the notes stay
        // pending, but changes from other devices must still arrive.
        qWarning().noquote() << "SyncEngine:" << message << "- pulling all the same";
        m_pushError = message;
        m_pushErrorStatus = status;
        pushAttachments();
        return;
    }
    const QJsonValue results = body.value(QLatin1String("results"));
    if (!results.isArray())
        qWarning().noquote() << "SyncEngine: push reply without a results list; notes stay pending";
    const QJsonArray list = results.toArray();
    m_writer->inTransaction([&] {
        for (const QJsonValue &value : list) {
            const QJsonObject result = value.toObject();
            const QString id = result.value(QLatin1String("entity_id")).toString();
            const auto sent = m_pushedNotes.constFind(id);
            if (sent == m_pushedNotes.constEnd()) {
                qWarning().noquote()
                    << "SyncEngine: push result for a note not sent:" << id.left(80);
                continue;
            }
            const QString outcome = result.value(QLatin1String("status")).toString();
            if (outcome == QLatin1String("ok")) {
                const QJsonValue version = result.value(QLatin1String("version"));
                const double number = version.toDouble(-1);
                int accepted = sent->version;
                if (version.isDouble() && number >= 0 && number <= 2147483647.0)
                    accepted = int(number);
                else
                    qWarning().noquote() << "SyncEngine: push result for" << id
                                         << "without a usable version; keeping" << accepted;
                if (m_writer->markNoteSynced(*sent, accepted))
                    m_dataChanged = true;
                else
                    qDebug().noquote() << "SyncEngine: note" << id
                                       << "changed while it was sent; it stays pending";
            } else if (outcome == QLatin1String("conflict")) {
                qWarning().noquote() << "SyncEngine: note conflict" << id
                                     << result.value(QLatin1String("message")).toString();
            } else {
                qWarning().noquote()
                    << "SyncEngine: unknown push status" << outcome.left(40) << "for" << id;
            }
        }
        return true;
    });
    m_pushedNotes.clear();
    if (stopIfAuthenticationLost())
        return;
    pushAttachments();
}

// 3. Attachments up

void SyncEngine::pushAttachments()
{
    m_uploadQueue.clear();
    for (const Attachment &attachment : m_attachments->pendingAttachments())
        m_uploadQueue.enqueue(attachment);
    m_uploadTotal = int(m_uploadQueue.size());
    m_uploaded = 0;
    if (m_uploadTotal > 0)
        emit syncProgress(tr("Uploading attachments"), 0, m_uploadTotal);
    pushNextAttachment();
}

void SyncEngine::pushNextAttachment()
{
    if (stopIfAuthenticationLost())
        return;
    if (m_uploadQueue.isEmpty()) {
        pullNotes();
        return;
    }
    const Attachment attachment = m_uploadQueue.dequeue();
    const QString path = m_attachments->filePath(attachment.id);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "SyncEngine: attachment upload skipped, file missing:"
                             << (path.isEmpty() ? attachment.id : path);
        m_attachments->markSynced(attachment.id);
        ++m_uploaded;
        emit syncProgress(tr("Uploading attachments"), m_uploaded, m_uploadTotal);
        pushNextAttachment();
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    const QString noteId = attachment.noteId;
    const QString id = attachment.id;
    const QString fileName = SyncWire::safeFileName(attachment.filename);
    const QString mimeType = attachment.mimeType.isEmpty()
        ? QStringLiteral("application/octet-stream")
        : attachment.mimeType;
    // Built afresh for each attempt: a body that was sent cannot be sent again.
    auto build = [noteId, id, fileName, mimeType, bytes]() -> QHttpMultiPart * {
        auto *multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart notePart;
        notePart.setHeader(QNetworkRequest::ContentDispositionHeader,
            QStringLiteral("form-data; name=\"note_id\""));
        notePart.setBody(noteId.toUtf8());
        multipart->append(notePart);
        QHttpPart idPart;
        idPart.setHeader(
            QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"id\""));
        idPart.setBody(id.toUtf8());
        multipart->append(idPart);
        QHttpPart filePart;
        filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
            QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(fileName));
        filePart.setHeader(QNetworkRequest::ContentTypeHeader, mimeType);
        filePart.setBody(bytes);
        multipart->append(filePart);
        return multipart;
    };
    QPointer<SyncEngine> self(this);
    m_api->postMultipart(QStringLiteral("/attachments"),
        BrevAccount::ApiClient::MultipartBuilder(build),
        [self, id](bool ok, int status, const QJsonObject &) {
            if (!self)
                return;
            ++self->m_uploaded;
            emit self->syncProgress(
                tr("Uploading attachments"), self->m_uploaded, self->m_uploadTotal);
            if (ok) {
                self->m_attachments->markSynced(id);
                self->m_dataChanged = true;
            } else if (status >= 400 && status <= 499 && !isRetryable(status)) {
                qWarning().noquote()
                    << "SyncEngine: attachment upload failed, marking synced to stop retry" << id
                    << "status" << status;
                self->m_attachments->markSynced(id);
            } else {
                qWarning().noquote()
                    << "SyncEngine: attachment upload failed" << id << "status" << status;
            }
            self->pushNextAttachment();
        });
}

// 4. Notes down

void SyncEngine::pullNotes()
{
    emit syncProgress(tr("Downloading notes"), 0, 0);
    QUrlQuery query;
    const QString since = sinceValue(LastSyncKey);
    if (!since.isEmpty())
        query.addQueryItem(QStringLiteral("since"), since);
    QPointer<SyncEngine> self(this);
    m_api->get(
        QStringLiteral("/sync/pull"),
        [self](bool ok, int status, const QJsonObject &body) {
            if (!self)
                return;
            if (!ok) {
                self->failCycle(tr("Pull failed (HTTP %1)").arg(status), status);
                return;
            }
            self->applyPulledNotes(body);
        },
        query);
}

void SyncEngine::applyPulledNotes(const QJsonObject &body)
{
    const QJsonValue changesValue = body.value(QLatin1String("changes"));
    if (!changesValue.isUndefined() && !changesValue.isNull() && !changesValue.isArray())
        qWarning().noquote() << "SyncEngine: pull reply whose changes are not a list; ignored";
    const QJsonArray changes = changesValue.toArray();
    const QString label = tr("Downloading notes");
    bool saved = true;
    if (!changes.isEmpty()) {
        int written = 0;
        QSet<QString> seen;
        // Local copies are read a few hundred at a time; whatever ran while events were
        // processed may have written notes, so the copies are read again after that.
        constexpr int LookAhead = 400;
        QHash<QString, Note> known;
        QSet<QString> looked;
        const auto lookUp = [&](int from) {
            QStringList ids;
            for (int j = from; j < changes.size() && ids.size() < LookAhead; ++j) {
                const QString id = changes.at(j).toObject().value(QLatin1String("id")).toString();
                if (!id.isEmpty() && !looked.contains(id)) {
                    ids.append(id);
                    looked.insert(id);
                }
            }
            for (const Note &note : m_notes->notesByIds(ids))
                known.insert(note.id, note);
        };
        m_slice.start();
        saved = m_writer->inBulkTransaction([&] {
            for (int i = 0; i < changes.size(); ++i) {
                if (keepResponsive(label, i, int(changes.size()))) {
                    known.clear();
                    looked.clear();
                }
                QString problem;
                bool converted = false;
                const std::optional<Note> incoming
                    = SyncWire::parsePulledNote(changes.at(i), &problem, &converted);
                if (!problem.isEmpty())
                    qWarning().noquote() << "SyncEngine: pulled change" << i << ":" << problem;
                if (!incoming)
                    continue;
                if (seen.contains(incoming->id))
                    qWarning().noquote()
                        << "SyncEngine: note" << incoming->id << "listed twice in one pull";
                seen.insert(incoming->id);

                if (!looked.contains(incoming->id))
                    lookUp(i);
                const auto found = known.constFind(incoming->id);
                const std::optional<Note> local
                    = found != known.constEnd() ? std::optional<Note>(found.value()) : std::nullopt;
                if (local && incoming->version < local->version)
                    continue;
                if (local && local->body != incoming->body
                    && (local->syncStatus != SyncStatus::Synced || converted)) {
                    // The server wins, but the words written here stay in the note's history.
                    qWarning().noquote()
                        << "SyncEngine: note conflict" << local->id << "local version"
                        << local->version << "replaced by server version" << incoming->version
                        << "- local text kept as a snapshot";
                    if (!m_snapshots->takeSnapshot(*local, local->body)) {
                        qWarning().noquote() << "SyncEngine: can't keep the local text of"
                                             << local->id << "- the local note stays";
                        continue;
                    }
                }
                if (m_writer->storePulledNote(*incoming, local)) {
                    ++written;
                    known.insert(incoming->id, *incoming);
                } else
                    qWarning().noquote() << "SyncEngine: can't store pulled note" << incoming->id;
            }
            // The commit that follows is one long step of its own: the window paints first.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            return true;
        });
        if (saved && written > 0)
            m_dataChanged = true;
    }
    if (!saved) {
        failCycle(tr("Pull failed (could not save the changes)"), 0);
        return;
    }
    const QJsonValue timestamp = body.value(QLatin1String("timestamp"));
    if (!timestamp.isUndefined() && SyncWire::parseMillis(timestamp) <= 0)
        qWarning().noquote() << "SyncEngine: pull reply with an unusable timestamp; not stored";
    storeTimestamp(LastSyncKey, SyncWire::parseMillis(timestamp));
    pullNotebooks();
}

// 5. Notebooks down

void SyncEngine::pullNotebooks()
{
    emit syncProgress(tr("Downloading notebooks"), 0, 0);
    QPointer<SyncEngine> self(this);
    m_api->get(QStringLiteral("/notebooks"), [self](bool ok, int status, const QJsonObject &body) {
        if (!self)
            return;
        if (!ok) {
            self->failCycle(tr("Notebook list failed (HTTP %1)").arg(status), status);
            return;
        }
        self->applyNotebookList(body);
    });
}

void SyncEngine::applyNotebookList(const QJsonObject &body)
{
    const QJsonValue listValue = body.value(QLatin1String("notebooks"));
    if (!listValue.isUndefined() && !listValue.isArray())
        qWarning().noquote() << "SyncEngine: notebook list that is not a list; ignored";
    const QJsonArray list = listValue.toArray();
    if (!list.isEmpty()) {
        int written = 0;
        const bool saved = m_writer->inTransaction([&] {
            for (const QJsonValue &value : list) {
                QString problem;
                const std::optional<Notebook> incoming = SyncWire::parseNotebook(value, &problem);
                if (!problem.isEmpty())
                    qWarning().noquote() << "SyncEngine: notebook list:" << problem;
                if (!incoming)
                    continue;
                const std::optional<Notebook> local = m_notebooks->notebookById(incoming->id);
                // A notebook changed here and not yet sent keeps its local state.
                if (local && local->syncStatus != SyncStatus::Synced)
                    continue;
                if (m_writer->storePulledNotebook(*incoming))
                    ++written;
            }
            return true;
        });
        if (!saved) {
            failCycle(tr("Notebook list failed (could not save the changes)"), 0);
            return;
        }
        if (written > 0)
            m_dataChanged = true;
    }
    pullAttachments();
}

// 6. Attachments down

void SyncEngine::pullAttachments()
{
    const QString label = tr("Checking attachments");
    emit syncProgress(label, 0, 0);
    QUrlQuery query;
    const QString since = sinceValue(LastAttachmentSyncKey);
    if (!since.isEmpty())
        query.addQueryItem(QStringLiteral("since"), since);
    QPointer<SyncEngine> self(this);
    m_api->get(
        QStringLiteral("/attachments"),
        [self, label](bool ok, int status, const QJsonObject &body) {
            if (!self)
                return;
            if (!ok) {
                qWarning().noquote() << "SyncEngine: attachment list failed, status" << status;
                self->finishSync();
                return;
            }
            self->m_downloadQueue.clear();
            const QJsonArray list = body.value(QLatin1String("attachments")).toArray();
            QSet<QString> queued;
            self->m_slice.start();
            for (int i = 0; i < list.size(); ++i) {
                self->keepResponsive(label, i, int(list.size()));
                QString problem;
                const std::optional<Attachment> attachment
                    = SyncWire::parseAttachment(list.at(i), &problem);
                if (!problem.isEmpty())
                    qWarning().noquote() << "SyncEngine: attachment list:" << problem;
                if (!attachment || queued.contains(attachment->id))
                    continue;
                if (self->m_attachments->attachmentById(attachment->id)
                    && QFileInfo::exists(self->m_attachments->filePath(attachment->id)))
                    continue;
                queued.insert(attachment->id);
                self->m_downloadQueue.enqueue(*attachment);
            }
            // Stored only once every listed attachment has arrived, so one that failed is
            // asked for again next time.
            self->m_attachmentTimestamp
                = SyncWire::parseMillis(body.value(QLatin1String("timestamp")));
            self->m_downloadTotal = int(self->m_downloadQueue.size());
            self->m_downloaded = 0;
            self->m_downloadFailures = 0;
            self->m_attachmentSaved = false;
            if (self->m_downloadTotal > 0)
                emit self->syncProgress(tr("Downloading attachments"), 0, self->m_downloadTotal);
            self->downloadNextAttachment();
        },
        query);
}

void SyncEngine::downloadNextAttachment()
{
    if (stopIfAuthenticationLost())
        return;
    if (m_downloadQueue.isEmpty()) {
        if (m_attachmentSaved) {
            emit attachmentsChanged();
            m_dataChanged = true;
        }
        if (m_downloadFailures == 0)
            storeTimestamp(LastAttachmentSyncKey, m_attachmentTimestamp);
        else
            qWarning().noquote() << "SyncEngine:" << m_downloadFailures
                                 << "attachment(s) did not arrive; asking again next time";
        finishSync();
        return;
    }
    const Attachment attachment = m_downloadQueue.dequeue();
    QPointer<SyncEngine> self(this);
    m_api->getBinary(QStringLiteral("/attachments/%1").arg(attachment.id),
        [self, attachment](bool ok, int status, const QByteArray &bytes) {
            if (!self)
                return;
            ++self->m_downloaded;
            emit self->syncProgress(
                tr("Downloading attachments"), self->m_downloaded, self->m_downloadTotal);
            if (!ok || bytes.isEmpty()) {
                qWarning().noquote() << "SyncEngine: attachment download failed" << attachment.id
                                     << "status" << status;
                ++self->m_downloadFailures;
            } else if (!self->m_attachments->saveFile(attachment.id, bytes)) {
                qWarning().noquote() << "SyncEngine: attachment save failed" << attachment.id;
                ++self->m_downloadFailures;
            } else {
                self->m_attachmentSaved = true;
                if (!self->m_attachments->attachmentById(attachment.id)
                    && !self->m_attachments->insert(attachment)) {
                    // Usually its note has not arrived yet; the record follows next time.
                    qWarning().noquote()
                        << "SyncEngine: attachment record not stored" << attachment.id;
                    ++self->m_downloadFailures;
                }
            }
            self->downloadNextAttachment();
        });
}

void SyncEngine::finishSync()
{
    m_running = false;
    if (!m_pushError.isEmpty()) {
        failCycle(m_pushError, m_pushErrorStatus);
        return;
    }
    const bool pending
        = m_notes->hasPendingNotes() || !m_attachments->pendingAttachments().isEmpty();
    setState(pending ? Pending : Idle);
    m_lastErrorStatus = 0;
    emit syncCompleted();
    if (m_dataChanged)
        emit dataChanged();
    if (m_resyncRequested) {
        m_resyncRequested = false;
        sync();
    }
}
