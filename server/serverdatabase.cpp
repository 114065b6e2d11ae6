#include "serverdatabase.h"

#include "serverconfig.h"

#include <QDir>
#include <QSqlError>
#include <QUuid>
#include <QtDebug>

#include <utility>

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

namespace {
// Bounds the statement cache: every query text in the server is fixed, so this is only a guard
// against a future caller that builds SQL from data.
constexpr size_t maxCachedTexts = 512;
constexpr size_t maxIdlePerText = 4;
} // namespace

ServerDatabase::Result::Result(Result &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)),
      m_generation(other.m_generation),
      m_sql(std::move(other.m_sql)),
      m_query(std::move(other.m_query)),
      m_valid(std::exchange(other.m_valid, false))
{ }

ServerDatabase::Result &ServerDatabase::Result::operator=(Result &&other) noexcept
{
    if (this != &other) {
        reset();
        m_db = std::exchange(other.m_db, nullptr);
        m_generation = other.m_generation;
        m_sql = std::move(other.m_sql);
        m_query = std::move(other.m_query);
        m_valid = std::exchange(other.m_valid, false);
    }
    return *this;
}

void ServerDatabase::Result::reset()
{
    m_valid = false;
    if (m_db && m_query && m_db->m_generation == m_generation)
        m_db->giveBack(m_sql, std::move(*m_query));
    m_db = nullptr;
    m_query.reset();
}

void ServerDatabase::giveBack(const QString &sql, QSqlQuery &&query)
{
    // Resetting ends the statement's read transaction; an unfinished SELECT would otherwise pin
    // an old snapshot of the database.
    query.finish();
    std::vector<QSqlQuery> &idle = m_idle[sql];
    if (idle.size() < maxIdlePerText)
        idle.push_back(std::move(query));
}

void ServerDatabase::close()
{
    ++m_generation;
    m_idle.clear();
    if (m_connectionName.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

QString ServerDatabase::storableText(const QString &text) const
{
    // A lone surrogate would be stored as bytes that are not UTF-8 (SQLite even pairs it with
    // the next character, losing that one), and PostgreSQL text cannot hold NUL at all; both
    // become U+FFFD rather than fail or damage the rest of the note.
    QString clean;
    clean.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            clean += c;
            clean += text.at(++i);
        } else if (c.isSurrogate() || (m_postgres && c.isNull())) {
            clean += QChar::ReplacementCharacter;
        } else {
            clean += c;
        }
    }
    return clean;
}

ServerDatabase::Result ServerDatabase::run(const QString &sql, const QVariantList &args)
{
    Result result;
    // PostgreSQL cannot prepare schema statements; those carry no parameters anyway.
    if (args.isEmpty()) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(sql)) {
            qWarning().noquote() << "ServerDatabase::exec failed:" << q.lastError().text() << sql;
            return result;
        }
        result.m_query = std::move(q);
        result.m_valid = true;
        return result;
    }
    std::optional<QSqlQuery> prepared;
    auto idle = m_idle.find(sql);
    if (idle != m_idle.end() && !idle->second.empty()) {
        prepared.emplace(std::move(idle->second.back()));
        idle->second.pop_back();
    } else {
        prepared.emplace(m_db);
        prepared->setForwardOnly(true);
        if (!prepared->prepare(sql)) {
            const QSqlQuery &q = *prepared;
            qWarning().noquote() << "ServerDatabase::prepare failed:" << q.lastError().text()
                                 << sql;
            return result;
        }
    }
    QSqlQuery &q = *prepared;
    for (int i = 0; i < args.size(); ++i) {
        const QVariant &a = args[i];
        if (a.metaType() != QMetaType::fromType<QString>() || a.isNull()) {
            q.bindValue(i, a);
            continue;
        }
        // Qt binds a null QString as SQL NULL; every text column here means "empty" instead.
        const QString text = a.toString();
        if (text.isNull())
            q.bindValue(i, QString::fromLatin1(""));
        else if (!QStringView(text).isValidUtf16() || (m_postgres && text.contains(QChar(0))))
            q.bindValue(i, storableText(text));
        else
            q.bindValue(i, a);
    }
    if (!q.exec()) {
        // Not kept: a statement that failed (a lost connection, a schema change) is prepared
        // afresh next time.
        qWarning().noquote() << "ServerDatabase::exec failed:" << q.lastError().text() << sql;
        return result;
    }
    if (m_idle.size() < maxCachedTexts || idle != m_idle.end()) {
        result.m_db = this;
        result.m_generation = m_generation;
        result.m_sql = sql;
    }
    result.m_query = std::move(prepared);
    result.m_valid = true;
    return result;
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
        "CREATE INDEX IF NOT EXISTS shares_owner ON shares (owner_id)",
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
