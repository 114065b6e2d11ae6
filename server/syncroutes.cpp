#include "syncroutes.h"

#include "multipartform.h"
#include "servercontext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QSaveFile>
#include <QSet>
#include <QtDebug>

namespace {

qint64 sinceParameter(const HttpRequest &request, bool *ok)
{
    const QString since = request.queryValue(QStringLiteral("since"));
    *ok = true;
    if (since.isEmpty())
        return 0;
    const qint64 value = since.toLongLong(ok);
    return *ok && value >= 0 ? value : 0;
}

struct PulledNote
{
    QString id;
    QString notebookId;
    QByteArray body; // UTF-8
    qint64 version = 0;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    qint64 modifiedAt = 0;
    std::optional<qint64> deletedAt;
    QString ownerId;
    bool shared = false;
    QString permission;
};

void writeNote(QByteArray &out, const PulledNote &note)
{
    out += "{\"id\":";
    appendJsonString(out, note.id);
    out += ",\"notebook_id\":";
    appendJsonString(out, note.notebookId);
    out += ",\"body\":";
    appendJsonString(out, note.body);
    out += ",\"version\":";
    out += QByteArray::number(note.version);
    out += ",\"created_at\":";
    out += QByteArray::number(note.createdAt);
    out += ",\"updated_at\":";
    out += QByteArray::number(note.updatedAt);
    out += ",\"modified_at\":";
    out += QByteArray::number(note.modifiedAt);
    out += ",\"deleted_at\":";
    out += note.deletedAt ? QByteArray::number(*note.deletedAt) : QByteArrayLiteral("null");
    out += ",\"owner_id\":";
    appendJsonString(out, note.ownerId);
    out += note.shared ? ",\"is_shared\":true" : ",\"is_shared\":false";
    out += ",\"permission\":";
    appendJsonString(out, note.permission);
    out += '}';
}

} // namespace

std::optional<HttpReply> SyncRoutes::handle(const HttpRequest &request, const QStringList &rest)
{
    const QString first = rest.value(0);
    const bool known = (first == QLatin1String("sync") && rest.size() == 2)
        || ((first == QLatin1String("notebooks") || first == QLatin1String("attachments"))
            && rest.size() <= 2);
    if (!known)
        return std::nullopt;
    HttpReply reply;
    const auto user = m_context.authenticate(request, &reply);
    if (!user)
        return reply;
    const QString id = rest.value(1);
    const QByteArray &m = request.method;
    if (first == QLatin1String("sync")) {
        if (id == QLatin1String("push") && m == "POST")
            return push(request, *user);
        if (id == QLatin1String("pull") && m == "GET")
            return pull(request, *user);
        return HttpReply::error(404, QStringLiteral("Not found"));
    }
    if (rest.size() == 2 && !isUuid(id))
        return HttpReply::error(400, QStringLiteral("Invalid id"));
    if (first == QLatin1String("notebooks")) {
        if (rest.size() == 1 && m == "GET")
            return listNotebooks(*user);
        if (rest.size() == 1 && m == "POST")
            return createNotebook(request, *user);
        if (rest.size() == 2 && m == "PUT")
            return updateNotebook(request, *user, id.toLower());
        if (rest.size() == 2 && m == "DELETE")
            return deleteNotebook(*user, id.toLower());
    } else {
        if (rest.size() == 1 && m == "GET")
            return listAttachments(request, *user);
        if (rest.size() == 1 && m == "POST")
            return uploadAttachment(request, *user);
        if (rest.size() == 2 && m == "GET")
            return downloadAttachment(*user, id.toLower());
    }
    return HttpReply::error(405, QStringLiteral("Method not allowed"));
}

void SyncRoutes::recordDevice(const HttpRequest &request, const AuthUser &user)
{
    const qint64 now = nowMs();
    qint64 &seen = m_deviceSeen[user.sessionId];
    if (now - seen < 60 * 1000)
        return;
    seen = now;
    if (m_deviceSeen.size() > 100000)
        m_deviceSeen.clear();
    // One device per signed-in session: the program sends no device id of its own.
    const QString platform = QString::fromUtf8(request.header("X-Platform")).left(64);
    const QString appId = QString::fromUtf8(request.header("X-App-Id")).left(128);
    const QString appVersion = QString::fromUtf8(request.header("X-App-Version")).left(64);
    QString name = QString::fromUtf8(request.header("X-Device-Name")).left(128);
    if (name.isEmpty())
        name = platform.isEmpty() ? QStringLiteral("Brevaro Notes")
                                  : QStringLiteral("Brevaro Notes on %1").arg(platform);
    const QString fingerprint = QString::fromLatin1(
        QCryptographicHash::hash(user.sessionId.toLatin1(), QCryptographicHash::Sha256)
            .toHex()
            .left(32));
    m_context.db().run(
        QStringLiteral("INSERT INTO devices (id, user_id, device_name, platform, app_id, "
                       "app_version, last_sync_at, device_fingerprint, created_at) VALUES "
                       "(?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO UPDATE SET "
                       "platform = excluded.platform, app_id = excluded.app_id, "
                       "app_version = excluded.app_version, last_sync_at = excluded.last_sync_at"),
        { user.sessionId, user.userId, name, platform, appId, appVersion, now, fingerprint, now });
}

HttpReply SyncRoutes::push(const HttpRequest &request, const AuthUser &user)
{
    HttpReply reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    const QJsonValue changes = body->value(QStringLiteral("changes"));
    if (!changes.isArray())
        return HttpReply::error(400, QStringLiteral("\"changes\" must be an array"));
    recordDevice(request, user);
    ServerDatabase &db = m_context.db();
    // Written directly, like a pull: one object per change, in the order of the push.
    QByteArray results = "[";
    const qint64 now = nowMs();
    const bool inTransaction = db.transaction();
    const QString updateSql = QStringLiteral(
        "UPDATE notes SET notebook_id = ?, body = ?, version = ?, updated_at = ?, "
        "modified_at = ?, deleted_at = ?, changed_at = ? WHERE id = ? AND version < ?");
    const QString ownUpdateSql = updateSql + QStringLiteral(" AND owner_id = ?");
    for (const QJsonValue &value : changes.toArray()) {
        const QJsonObject change = value.toObject();
        const QString id = change.value(QStringLiteral("entity_id")).toString().toLower();
        auto result = [&results, &id](const char *status, qint64 version, const QString &msg) {
            if (results.size() > 1)
                results += ',';
            results += "{\"entity_id\":";
            appendJsonString(results, id);
            results += ",\"status\":\"";
            results += status;
            results += "\",\"version\":";
            results += QByteArray::number(version);
            results += ",\"message\":";
            appendJsonString(results, msg);
            results += '}';
        };
        if (change.value(QStringLiteral("entity_type")).toString() != QLatin1String("note")
            || !isUuid(id)) {
            result("error", 0, QStringLiteral("invalid change"));
            continue;
        }
        const QJsonValue versionValue = change.value(QStringLiteral("version"));
        const qint64 version
            = versionValue.isDouble() ? static_cast<qint64>(versionValue.toDouble()) : -1;
        const QJsonObject data = change.value(QStringLiteral("data")).toObject();
        const QJsonValue bodyValue = data.value(QStringLiteral("body"));
        if (version < 1 || !bodyValue.isString()) {
            result("error", 0, QStringLiteral("missing version or body"));
            continue;
        }
        const bool deleting
            = change.value(QStringLiteral("action")).toString() == QLatin1String("delete");
        QString notebookId = data.value(QStringLiteral("notebook_id")).toString().toLower();
        if (!notebookId.isEmpty() && !isUuid(notebookId))
            notebookId.clear();

        const qint64 createdAt = readTimeMs(data.value(QStringLiteral("created_at")), now);
        const qint64 updatedAt = readTimeMs(data.value(QStringLiteral("updated_at")), now);
        const qint64 modifiedAt = readTimeMs(data.value(QStringLiteral("modified_at")), updatedAt);
        QVariant deletedAt = deleting
            ? QVariant(readTimeMs(data.value(QStringLiteral("deleted_at")), now))
            : ServerDatabase::nullInt();
        const QString text = bodyValue.toString();

        // The usual case, an owner's newer version, in one statement; anything else (a new
        // note, a shared note, a conflict) is sorted out below.
        auto updated = db.run(ownUpdateSql,
            { notebookId, text, version, updatedAt, modifiedAt, deletedAt, now, id, version,
                user.userId });
        if (updated && updated->numRowsAffected() == 1) {
            result("ok", version, QString());
            continue;
        }
        updated.reset();

        auto existing = db.run(QStringLiteral("SELECT version, owner_id, notebook_id, deleted_at "
                                              "FROM notes WHERE id = ?"),
            { id });
        if (!existing) {
            result("error", 0, QStringLiteral("storage failure"));
            continue;
        }
        if (!existing->next()) {
            const bool inserted
                = bool(db.run(QStringLiteral("INSERT INTO notes (id, owner_id, notebook_id, body, "
                                             "version, created_at, updated_at, modified_at, "
                                             "deleted_at, changed_at) VALUES (?, ?, ?, ?, ?, ?, "
                                             "?, ?, ?, ?)"),
                    { id, user.userId, notebookId, text, version, createdAt, updatedAt, modifiedAt,
                        deletedAt, now }));
            if (inserted)
                result("ok", version, QString());
            else
                result("error", 0, QStringLiteral("storage failure"));
            continue;
        }
        const qint64 stored = existing->value(0).toLongLong();
        const QString owner = existing->value(1).toString();
        if (owner != user.userId) {
            const Access access = m_context.noteAccess(user.userId, id);
            // Only the owner moves a note to the trash; editors change its text.
            if (access != Access::Edit || deleting) {
                result("forbidden", stored,
                    access == Access::None ? QStringLiteral("not found")
                                           : QStringLiteral("read-only share"));
                continue;
            }
            // An editor changes the text; where the note lives and whether it is in the owner's
            // trash stay the owner's business.
            notebookId = existing->value(2).toString();
            if (!existing->value(3).isNull())
                deletedAt = existing->value(3).toLongLong();
        }
        existing.reset();
        if (version <= stored) {
            result("conflict", stored, QStringLiteral("server has version %1").arg(stored));
            continue;
        }
        // The version is checked again by the update itself: another server process sharing a
        // PostgreSQL database may have stored a newer one since the read above.
        auto shared = db.run(updateSql,
            { notebookId, text, version, updatedAt, modifiedAt, deletedAt, now, id, version });
        if (!shared)
            result("error", 0, QStringLiteral("storage failure"));
        else if (shared->numRowsAffected() != 1)
            result("conflict", stored, QStringLiteral("server has a newer version"));
        else
            result("ok", version, QString());
    }
    if (inTransaction && !db.commit()) {
        db.rollback();
        return HttpReply::error(503, QStringLiteral("Could not store the changes"));
    }
    reply = HttpReply();
    reply.contentType = "application/json";
    reply.body = "{\"results\":" + results + "]}";
    return reply;
}

HttpReply SyncRoutes::pull(const HttpRequest &request, const AuthUser &user)
{
    bool ok = false;
    const qint64 since = sinceParameter(request, &ok);
    if (!ok)
        return HttpReply::error(400, QStringLiteral("Invalid \"since\""));
    recordDevice(request, user);
    ServerDatabase &db = m_context.db();
    // Taken before reading, and compared with >=, so a change in the same millisecond comes
    // again next time rather than never.
    const qint64 timestamp = nowMs();

    QSet<QString> sharedOut;
    QSet<QString> sharedNotebooks;
    if (auto q = db.run(QStringLiteral("SELECT kind, entity_id FROM shares WHERE owner_id = ?"),
            { user.userId })) {
        while (q->next()) {
            QSet<QString> &set
                = q->value(0).toString() == QLatin1String("note") ? sharedOut : sharedNotebooks;
            set.insert(q->value(1).toString());
        }
    }

    QList<PulledNote> changes;
    if (m_ownPullSql.isEmpty()) {
        // SQLite hands the body over as the UTF-8 it stores when asked for bytes, which spares
        // two conversions of every body; PostgreSQL gives text.
        const QString columns = QStringLiteral("n.id, n.notebook_id, %1, n.version, n.created_at, "
                                               "n.updated_at, n.modified_at, n.deleted_at, "
                                               "n.owner_id")
                                    .arg(db.isPostgres() ? QStringLiteral("n.body")
                                                         : QStringLiteral("CAST(n.body AS BLOB)"));
        m_ownPullSql = QStringLiteral("SELECT %1 FROM notes n WHERE n.owner_id = ? AND "
                                      "n.changed_at >= ? ORDER BY n.changed_at")
                           .arg(columns);
        m_sharedPullSql = QStringLiteral("SELECT %1, s.permission FROM notes n JOIN shares s ON "
                                         "s.owner_id = n.owner_id AND ((s.kind = 'note' AND "
                                         "s.entity_id = n.id) OR (s.kind = 'notebook' AND "
                                         "s.entity_id = n.notebook_id)) WHERE s.shared_with = ? "
                                         "AND n.changed_at >= ? ORDER BY n.changed_at")
                              .arg(columns);
    }
    auto read = [](QSqlQuery &q, bool shared, const QString &ownerId, const QString &permission) {
        PulledNote note;
        note.id = q.value(0).toString();
        note.notebookId = q.value(1).toString();
        const QVariant body = q.value(2);
        note.body = body.typeId() == QMetaType::QByteArray ? body.toByteArray()
                                                           : body.toString().toUtf8();
        note.version = q.value(3).toLongLong();
        note.createdAt = q.value(4).toLongLong();
        note.updatedAt = q.value(5).toLongLong();
        note.modifiedAt = q.value(6).toLongLong();
        const QVariant deleted = q.value(7);
        if (!deleted.isNull())
            note.deletedAt = deleted.toLongLong();
        note.ownerId = ownerId;
        note.shared = shared;
        note.permission = permission;
        return note;
    };
    auto own = db.run(m_ownPullSql, { user.userId, since });
    if (!own)
        return HttpReply::error(503, QStringLiteral("Could not read notes"));
    while (own->next()) {
        PulledNote note = read(*own, false, QString(), QStringLiteral("owner"));
        note.shared = sharedOut.contains(note.id) || sharedNotebooks.contains(note.notebookId);
        changes.append(std::move(note));
    }
    own.reset();

    // Notes shared with this user, directly or through a notebook; the stronger share wins.
    auto in = db.run(m_sharedPullSql, { user.userId, since });
    if (!in)
        return HttpReply::error(503, QStringLiteral("Could not read notes"));
    QHash<QString, qsizetype> sharedIndex;
    while (in->next()) {
        const QString id = in->value(0).toString();
        const QString permission = in->value(9).toString();
        const auto found = sharedIndex.constFind(id);
        if (found != sharedIndex.constEnd()) {
            if (permission == QLatin1String("edit"))
                changes[*found].permission = permission;
            continue;
        }
        sharedIndex.insert(id, changes.size());
        changes.append(read(*in, true, in->value(8).toString(), permission));
    }
    in.reset();

    // Notes whose share was withdrawn come once more, empty and deleted, so the former
    // recipient's copy leaves their lists instead of lingering unsyncable.
    auto lost = db.run(QStringLiteral("SELECT n.id, n.notebook_id, n.version, n.created_at, "
                                      "r.revoked_at, n.owner_id FROM share_revocations r JOIN "
                                      "notes n ON n.id = r.note_id WHERE r.user_id = ? AND "
                                      "r.revoked_at >= ?"),
        { user.userId, since });
    QList<PulledNote> withdrawn;
    while (lost && lost->next()) {
        if (sharedIndex.contains(lost->value(0).toString()))
            continue;
        PulledNote note;
        note.id = lost->value(0).toString();
        note.notebookId = lost->value(1).toString();
        note.body = QByteArrayLiteral("[{\"insert\":\"\\n\"}]");
        note.version = lost->value(2).toLongLong();
        note.createdAt = lost->value(3).toLongLong();
        note.updatedAt = note.modifiedAt = lost->value(4).toLongLong();
        note.deletedAt = note.updatedAt;
        note.ownerId = lost->value(5).toString();
        withdrawn.append(std::move(note));
    }
    lost.reset();
    for (PulledNote &note : withdrawn) {
        if (m_context.noteAccess(user.userId, note.id) == Access::None)
            changes.append(std::move(note));
    }

    // Written directly rather than through QJsonObject: a full pull carries every note's body,
    // and building a document of them first costs more than reading them from storage.
    HttpReply reply;
    reply.contentType = "application/json";
    QByteArray &out = reply.body;
    qsizetype expected = 64;
    for (const PulledNote &note : std::as_const(changes))
        expected += note.body.size() + 300;
    out.reserve(expected);
    out += "{\"changes\":[";
    for (qsizetype i = 0; i < changes.size(); ++i) {
        if (i > 0)
            out += ',';
        writeNote(out, changes[i]);
    }
    out += "],\"timestamp\":";
    out += QByteArray::number(timestamp);
    out += '}';
    return reply;
}

HttpReply SyncRoutes::listNotebooks(const AuthUser &user)
{
    auto q = m_context.db().run(
        QStringLiteral("SELECT b.id, b.name, b.is_default, b.version, b.created_at, "
                       "b.updated_at, b.owner_id, (SELECT COUNT(*) FROM shares s WHERE s.kind = "
                       "'notebook' AND s.entity_id = b.id) FROM notebooks b WHERE "
                       "b.deleted_at IS NULL AND (b.owner_id = ? OR b.id IN (SELECT entity_id "
                       "FROM shares WHERE kind = 'notebook' AND shared_with = ?)) ORDER BY "
                       "b.name"),
        { user.userId, user.userId });
    if (!q)
        return HttpReply::error(503, QStringLiteral("Could not read notebooks"));
    QJsonArray list;
    while (q->next()) {
        const bool mine = q->value(6).toString() == user.userId;
        list.append(QJsonObject { { QStringLiteral("id"), q->value(0).toString() },
            { QStringLiteral("name"), q->value(1).toString() },
            { QStringLiteral("is_default"), q->value(2).toInt() != 0 },
            { QStringLiteral("is_shared"), !mine || q->value(7).toInt() > 0 },
            { QStringLiteral("version"), q->value(3).toLongLong() },
            { QStringLiteral("created_at"), q->value(4).toLongLong() },
            { QStringLiteral("updated_at"), q->value(5).toLongLong() },
            { QStringLiteral("owner_id"), mine ? QString() : q->value(6).toString() } });
    }
    return HttpReply::json(200, QJsonObject { { QStringLiteral("notebooks"), list } });
}

HttpReply SyncRoutes::createNotebook(const HttpRequest &request, const AuthUser &user)
{
    HttpReply reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    const QString id = body->value(QStringLiteral("id")).toString().toLower();
    const QString name = body->value(QStringLiteral("name")).toString().trimmed();
    if (!isUuid(id))
        return HttpReply::error(400, QStringLiteral("Invalid notebook id"));
    if (name.isEmpty() || name.size() > 500)
        return HttpReply::error(400, QStringLiteral("Invalid notebook name"));
    auto existing = m_context.db().run(
        QStringLiteral("SELECT owner_id, version, deleted_at FROM notebooks WHERE id = ?"), { id });
    if (!existing)
        return HttpReply::error(503, QStringLiteral("Could not store the notebook"));
    const qint64 now = nowMs();
    if (existing->next()) {
        if (existing->value(0).toString() != user.userId)
            return HttpReply::error(409, QStringLiteral("Notebook id already taken"));
        // A notebook deleted on another device and re-sent comes back to life.
        const qint64 version = existing->value(1).toLongLong() + 1;
        m_context.db().run(QStringLiteral("UPDATE notebooks SET name = ?, version = ?, "
                                          "updated_at = ?, deleted_at = NULL, changed_at = ? WHERE "
                                          "id = ?"),
            { name, version, now, now, id });
        return HttpReply::json(200,
            QJsonObject { { QStringLiteral("id"), id }, { QStringLiteral("version"), version } });
    }
    if (!m_context.db().run(QStringLiteral("INSERT INTO notebooks (id, owner_id, name, is_default, "
                                           "version, created_at, updated_at, deleted_at, "
                                           "changed_at) VALUES (?, ?, ?, 0, 1, ?, ?, NULL, ?)"),
            { id, user.userId, name, now, now, now }))
        return HttpReply::error(503, QStringLiteral("Could not store the notebook"));
    return HttpReply::json(
        201, QJsonObject { { QStringLiteral("id"), id }, { QStringLiteral("version"), 1 } });
}

HttpReply SyncRoutes::updateNotebook(
    const HttpRequest &request, const AuthUser &user, const QString &id)
{
    HttpReply reply;
    const auto body = parseJsonObject(request.body, &reply);
    if (!body)
        return reply;
    const Access access = m_context.notebookAccess(user.userId, id);
    if (access == Access::None)
        return HttpReply::error(404, QStringLiteral("Notebook not found"));
    if (access == Access::View)
        return HttpReply::error(403, QStringLiteral("This notebook is shared read-only"));
    const QString name = body->value(QStringLiteral("name")).toString().trimmed();
    const QJsonValue versionValue = body->value(QStringLiteral("version"));
    if (name.isEmpty() || name.size() > 500 || !versionValue.isDouble())
        return HttpReply::error(400, QStringLiteral("Name and version are required"));
    const qint64 version = static_cast<qint64>(versionValue.toDouble());
    const qint64 stored
        = m_context.db()
              .scalar(QStringLiteral("SELECT version FROM notebooks WHERE id = ?"), { id })
              .toLongLong();
    if (version <= stored)
        return HttpReply::json(409,
            QJsonObject {
                { QStringLiteral("error"), QStringLiteral("server has version %1").arg(stored) },
                { QStringLiteral("version"), stored } });
    const qint64 now = nowMs();
    m_context.db().run(QStringLiteral("UPDATE notebooks SET name = ?, version = ?, updated_at = ?, "
                                      "changed_at = ? WHERE id = ?"),
        { name, version, now, now, id });
    return HttpReply::json(
        200, QJsonObject { { QStringLiteral("id"), id }, { QStringLiteral("version"), version } });
}

HttpReply SyncRoutes::deleteNotebook(const AuthUser &user, const QString &id)
{
    const Access access = m_context.notebookAccess(user.userId, id);
    if (access == Access::None)
        return HttpReply::error(404, QStringLiteral("Notebook not found"));
    if (access != Access::Owner)
        return HttpReply::error(403, QStringLiteral("Only the owner can delete this notebook"));
    const qint64 now = nowMs();
    m_context.db().run(QStringLiteral("UPDATE notebooks SET deleted_at = ?, version = version + 1, "
                                      "changed_at = ? WHERE id = ?"),
        { now, now, id });
    m_context.removeShares(QStringLiteral("kind = 'notebook' AND entity_id = ?"), { id });
    return HttpReply::noContent();
}

QString SyncRoutes::attachmentPath(const QString &ownerId, const QString &attachmentId) const
{
    // Both parts are checked UUIDs, never text from the client as such.
    return QDir(m_context.config().dataDir)
        .filePath(QStringLiteral("attachments/%1/%2").arg(ownerId, attachmentId));
}

HttpReply SyncRoutes::listAttachments(const HttpRequest &request, const AuthUser &user)
{
    bool ok = false;
    const qint64 since = sinceParameter(request, &ok);
    if (!ok)
        return HttpReply::error(400, QStringLiteral("Invalid \"since\""));
    const qint64 timestamp = nowMs();
    auto q = m_context.db().run(
        QStringLiteral("SELECT a.id, a.note_id, a.filename, a.mime_type, a.size_bytes, "
                       "a.created_at FROM attachments a LEFT JOIN notes n ON n.id = a.note_id "
                       "WHERE (a.changed_at >= ? OR n.changed_at >= ?) AND (a.owner_id = ? OR "
                       "EXISTS (SELECT 1 FROM shares s WHERE s.shared_with = ? AND s.owner_id "
                       "= n.owner_id AND ((s.kind = 'note' AND s.entity_id = n.id) OR (s.kind "
                       "= 'notebook' AND s.entity_id = n.notebook_id)))) ORDER BY a.created_at"),
        { since, since, user.userId, user.userId });
    if (!q)
        return HttpReply::error(503, QStringLiteral("Could not read attachments"));
    QJsonArray list;
    while (q->next()) {
        list.append(QJsonObject { { QStringLiteral("id"), q->value(0).toString() },
            { QStringLiteral("note_id"), q->value(1).toString() },
            { QStringLiteral("filename"), q->value(2).toString() },
            { QStringLiteral("mime_type"), q->value(3).toString() },
            { QStringLiteral("size_bytes"), q->value(4).toLongLong() },
            { QStringLiteral("created_at"), q->value(5).toLongLong() } });
    }
    return HttpReply::json(200,
        QJsonObject {
            { QStringLiteral("attachments"), list }, { QStringLiteral("timestamp"), timestamp } });
}

HttpReply SyncRoutes::uploadAttachment(const HttpRequest &request, const AuthUser &user)
{
    const auto parts = parseMultipartForm(request.header("Content-Type"), request.body);
    if (!parts)
        return HttpReply::error(400, QStringLiteral("Expected a multipart/form-data body"));
    QString noteId;
    QString id;
    const FormPart *file = nullptr;
    for (const FormPart &part : *parts) {
        if (part.name == QLatin1String("note_id"))
            noteId = QString::fromUtf8(part.data).trimmed().toLower();
        else if (part.name == QLatin1String("id"))
            id = QString::fromUtf8(part.data).trimmed().toLower();
        else if (part.name == QLatin1String("file"))
            file = &part;
    }
    if (!isUuid(noteId) || !isUuid(id) || !file)
        return HttpReply::error(400, QStringLiteral("note_id, id and file are required"));

    // The attachment belongs to the note's owner, so everyone the note is shared with sees it.
    QString owner = user.userId;
    const Access access = m_context.noteAccess(user.userId, noteId, &owner);
    if (access == Access::View)
        return HttpReply::error(403, QStringLiteral("This note is shared read-only"));
    if (access == Access::None) {
        // A note not pushed yet; a note of somebody else that is not shared stays hidden.
        if (!m_context.db()
                 .scalar(QStringLiteral("SELECT id FROM notes WHERE id = ?"), { noteId })
                 .isNull())
            return HttpReply::error(404, QStringLiteral("Note not found"));
        owner = user.userId;
    }
    const QString existingOwner = m_context.db()
                                      .scalar(QStringLiteral("SELECT owner_id FROM attachments "
                                                             "WHERE id = ?"),
                                          { id })
                                      .toString();
    if (!existingOwner.isEmpty() && existingOwner != owner)
        return HttpReply::error(409, QStringLiteral("Attachment id already taken"));

    const QString path = attachmentPath(owner, id);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return HttpReply::error(503, QStringLiteral("Could not store the attachment"));
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file->data) != file->data.size()
        || !out.commit()) {
        qWarning().noquote() << "Attachment write failed:" << path << out.errorString();
        return HttpReply::error(503, QStringLiteral("Could not store the attachment"));
    }
    QString fileName = file->fileName.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    if (fileName.isEmpty())
        fileName = QStringLiteral("attachment");
    const QString mime = file->contentType.isEmpty()
        ? QStringLiteral("application/octet-stream")
        : QString::fromLatin1(file->contentType).left(200);
    const qint64 now = nowMs();
    m_context.db().run(
        QStringLiteral("INSERT INTO attachments (id, owner_id, note_id, filename, mime_type, "
                       "size_bytes, created_at, changed_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
                       "ON CONFLICT (id) DO UPDATE SET filename = excluded.filename, "
                       "mime_type = excluded.mime_type, size_bytes = excluded.size_bytes, "
                       "changed_at = excluded.changed_at"),
        { id, owner, noteId, fileName.left(255), mime, qint64(file->data.size()), now, now });
    return HttpReply::json(201,
        QJsonObject { { QStringLiteral("id"), id }, { QStringLiteral("note_id"), noteId },
            { QStringLiteral("filename"), fileName }, { QStringLiteral("mime_type"), mime },
            { QStringLiteral("size_bytes"), qint64(file->data.size()) },
            { QStringLiteral("created_at"), now } });
}

HttpReply SyncRoutes::downloadAttachment(const AuthUser &user, const QString &id)
{
    auto q = m_context.db().run(
        QStringLiteral("SELECT owner_id, note_id, mime_type FROM attachments WHERE id = ?"),
        { id });
    if (!q || !q->next())
        return HttpReply::error(404, QStringLiteral("Attachment not found"));
    const QString owner = q->value(0).toString();
    const QString noteId = q->value(1).toString();
    if (owner != user.userId && m_context.noteAccess(user.userId, noteId) == Access::None)
        return HttpReply::error(404, QStringLiteral("Attachment not found"));
    QFile file(attachmentPath(owner, id));
    if (!file.open(QIODevice::ReadOnly))
        return HttpReply::error(404, QStringLiteral("Attachment file missing"));
    HttpReply reply;
    reply.contentType = q->value(2).toString().toLatin1();
    reply.body = file.readAll();
    reply.addHeader("X-Content-Type-Options", "nosniff");
    reply.addHeader("Content-Disposition", "attachment");
    return reply;
}
