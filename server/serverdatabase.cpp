#include "serverdatabase.h"

#include "serverconfig.h"

#include <QDir>
#include <QSqlError>
#include <QUuid>
#include <QtDebug>

ServerDatabase::~ServerDatabase()
{
    close();
}

bool ServerDatabase::open(const ServerConfig &config)
{
    close();
    m_connectionName = QStringLiteral("notes_server_") + QUuid::createUuid().toString(QUuid::Id128);
    m_postgres = config.databaseKind == QLatin1String("postgres");
    if (m_postgres) {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
        m_db.setHostName(config.pgHost);
        m_db.setPort(config.pgPort);
        m_db.setDatabaseName(config.pgDatabase);
        m_db.setUserName(config.pgUser);
        m_db.setPassword(config.pgPassword);
    } else if (config.databaseKind == QLatin1String("sqlite")) {
        if (!QDir().mkpath(config.dataDir)) {
            m_error = QStringLiteral("Cannot create data directory %1").arg(config.dataDir);
            return false;
        }
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        m_db.setDatabaseName(QDir(config.dataDir).filePath(QStringLiteral("server.db")));
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        m_error = QStringLiteral("Unknown database kind \"%1\" (use sqlite or postgres)")
                      .arg(config.databaseKind);
        return false;
    }
    if (!m_db.open()) {
        m_error = m_db.lastError().text();
        return false;
    }
    if (!m_postgres) {
        // WAL lets readers run beside the writer; NORMAL sync is safe with WAL.
        run(QStringLiteral("PRAGMA journal_mode=WAL"));
        run(QStringLiteral("PRAGMA synchronous=NORMAL"));
        run(QStringLiteral("PRAGMA foreign_keys=ON"));
    }
    return createSchema();
}

void ServerDatabase::close()
{
    if (m_connectionName.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

std::optional<QSqlQuery> ServerDatabase::run(const QString &sql, const QVariantList &args)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // PostgreSQL cannot prepare schema statements; those carry no parameters anyway.
    if (args.isEmpty()) {
        if (!q.exec(sql)) {
            qWarning().noquote() << "ServerDatabase::exec failed:" << q.lastError().text() << sql;
            return std::nullopt;
        }
        return q;
    }
    if (!q.prepare(sql)) {
        qWarning().noquote() << "ServerDatabase::prepare failed:" << q.lastError().text() << sql;
        return std::nullopt;
    }
    for (const QVariant &a : args) {
        // Qt binds a null QString as SQL NULL; every text column here means "empty" instead.
        if (a.metaType() == QMetaType::fromType<QString>() && !a.isNull() && a.toString().isNull())
            q.addBindValue(QString::fromLatin1(""));
        else
            q.addBindValue(a);
    }
    if (!q.exec()) {
        qWarning().noquote() << "ServerDatabase::exec failed:" << q.lastError().text() << sql;
        return std::nullopt;
    }
    return q;
}

QVariant ServerDatabase::scalar(const QString &sql, const QVariantList &args)
{
    auto q = run(sql, args);
    if (q && q->next())
        return q->value(0);
    return {};
}

bool ServerDatabase::transaction()
{
    return m_db.transaction();
}

bool ServerDatabase::commit()
{
    return m_db.commit();
}

void ServerDatabase::rollback()
{
    m_db.rollback();
}

QVariant ServerDatabase::nullInt()
{
    return QVariant(QMetaType::fromType<qlonglong>());
}

bool ServerDatabase::createSchema()
{
    static const char *const statements[] = {
        "CREATE TABLE IF NOT EXISTS users (id TEXT PRIMARY KEY, email TEXT NOT NULL UNIQUE, "
        "display_name TEXT NOT NULL DEFAULT '', password_hash TEXT NOT NULL, "
        "disabled INTEGER NOT NULL DEFAULT 0, created_at BIGINT NOT NULL, "
        "deletion_requested_at BIGINT)",
        "CREATE TABLE IF NOT EXISTS sessions (id TEXT PRIMARY KEY, user_id TEXT NOT NULL, "
        "user_agent TEXT NOT NULL DEFAULT '', ip_address TEXT NOT NULL DEFAULT '', "
        "created_at BIGINT NOT NULL, last_active_at BIGINT NOT NULL, "
        "revoked INTEGER NOT NULL DEFAULT 0)",
        "CREATE INDEX IF NOT EXISTS sessions_user ON sessions (user_id)",
        "CREATE TABLE IF NOT EXISTS refresh_tokens (token_hash TEXT PRIMARY KEY, "
        "session_id TEXT NOT NULL, used INTEGER NOT NULL DEFAULT 0, created_at BIGINT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS user_groups (id TEXT PRIMARY KEY, name TEXT NOT NULL, "
        "max_seats INTEGER NOT NULL, created_at BIGINT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS group_members (user_id TEXT PRIMARY KEY, "
        "group_id TEXT NOT NULL, role TEXT NOT NULL, joined_at BIGINT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS invitations (id TEXT PRIMARY KEY, group_id TEXT NOT NULL, "
        "invited_email TEXT NOT NULL DEFAULT '', invite_code TEXT NOT NULL UNIQUE, "
        "status TEXT NOT NULL, created_at BIGINT NOT NULL, expires_at BIGINT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS devices (id TEXT PRIMARY KEY, user_id TEXT NOT NULL, "
        "device_name TEXT NOT NULL DEFAULT '', platform TEXT NOT NULL DEFAULT '', "
        "app_id TEXT NOT NULL DEFAULT '', app_version TEXT NOT NULL DEFAULT '', "
        "last_sync_at BIGINT NOT NULL, device_fingerprint TEXT NOT NULL DEFAULT '', "
        "created_at BIGINT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS notebooks (id TEXT PRIMARY KEY, owner_id TEXT NOT NULL, "
        "name TEXT NOT NULL, is_default INTEGER NOT NULL DEFAULT 0, version BIGINT NOT NULL, "
        "created_at BIGINT NOT NULL, updated_at BIGINT NOT NULL, deleted_at BIGINT, "
        "changed_at BIGINT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS notebooks_owner ON notebooks (owner_id)",
        "CREATE TABLE IF NOT EXISTS notes (id TEXT PRIMARY KEY, owner_id TEXT NOT NULL, "
        "notebook_id TEXT NOT NULL DEFAULT '', body TEXT NOT NULL, version BIGINT NOT NULL, "
        "created_at BIGINT NOT NULL, updated_at BIGINT NOT NULL, modified_at BIGINT NOT NULL, "
        "deleted_at BIGINT, changed_at BIGINT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS notes_owner_changed ON notes (owner_id, changed_at)",
        "CREATE INDEX IF NOT EXISTS notes_notebook ON notes (notebook_id)",
        "CREATE TABLE IF NOT EXISTS attachments (id TEXT PRIMARY KEY, owner_id TEXT NOT NULL, "
        "note_id TEXT NOT NULL, filename TEXT NOT NULL, mime_type TEXT NOT NULL, "
        "size_bytes BIGINT NOT NULL, created_at BIGINT NOT NULL, changed_at BIGINT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS attachments_note ON attachments (note_id)",
        "CREATE TABLE IF NOT EXISTS shares (id TEXT PRIMARY KEY, kind TEXT NOT NULL, "
        "entity_id TEXT NOT NULL, owner_id TEXT NOT NULL, shared_with TEXT NOT NULL, "
        "permission TEXT NOT NULL, created_at BIGINT NOT NULL, "
        "UNIQUE (kind, entity_id, shared_with))",
        "CREATE INDEX IF NOT EXISTS shares_target ON shares (shared_with)",
        "CREATE TABLE IF NOT EXISTS share_revocations (user_id TEXT NOT NULL, "
        "note_id TEXT NOT NULL, revoked_at BIGINT NOT NULL, PRIMARY KEY (user_id, note_id))",
    };
    for (const char *sql : statements) {
        if (!run(QString::fromLatin1(sql))) {
            m_error = QStringLiteral("Cannot create the database schema");
            return false;
        }
    }
    return true;
}
