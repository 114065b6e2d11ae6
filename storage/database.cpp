#include "database.h"

#include "backgroundwriter.h"
#include "schema.h"
#include "searchindex.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTimer>
#include <QUuid>

#if defined(NOTES_SYSTEM_SQLITE)
#include <sqlite3.h>
#endif

Database::Database(QObject *parent)
    : QObject(parent), m_connectionName(QUuid::createUuid().toString(QUuid::WithoutBraces))
{ }

Database::~Database()
{
    // A save still on the background writer commits before the file is let go.
    m_writer.reset();
    if (m_db.isOpen())
        m_db.close();
    // The handle must be released before the registry entry goes, or Qt warns it is in use.
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

bool Database::open(const QString &path)
{
    const QString directory = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(directory))
        QDir().mkpath(directory);

    if (QSqlDatabase::contains(m_connectionName))
        m_db = QSqlDatabase::database(m_connectionName, false);
    else
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!m_db.open()) {
        qCritical().noquote() << "Failed to open database:" << m_db.lastError().text();
        return false;
    }

    QSqlQuery pragma(m_db);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    qInfo().noquote() << "Database opened:" << path;
    return true;
}

Database::Health Database::checkFile(const QString &path, QString *problem)
{
    if (!QFileInfo::exists(path))
        return Health::Ok;
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    Health health = Health::Ok;
    QString words;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            health = Health::CannotOpen;
            words = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
                // "file is not a database" and friends: the file is there but unreadable.
                health = Health::Damaged;
                words = query.lastError().text();
            } else {
                QStringList rows;
                while (query.next())
                    rows.append(query.value(0).toString());
                if (rows != QStringList { QStringLiteral("ok") }) {
                    health = Health::Damaged;
                    words = rows.mid(0, 5).join(QLatin1Char('\n'));
                }
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (health != Health::Ok)
        qCritical().noquote() << "Database check failed:" << path << words;
    if (problem)
        *problem = words;
    return health;
}

bool Database::isOpen() const
{
    return m_db.isOpen();
}

bool Database::keepLogOnClose(QSqlDatabase db)
{
#if defined(NOTES_SYSTEM_SQLITE)
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.constData());
    int kept = 0;
    return connection
        && sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &kept) == SQLITE_OK
        && kept == 1;
#else
    Q_UNUSED(db);
    qWarning() << "This build cannot keep the write-ahead log out of the file when it closes";
    return false;
#endif
}

QSqlDatabase Database::connection() const
{
    if (m_writer)
        m_writer->wait();
    return m_db;
}

BackgroundWriter *Database::backgroundWriter()
{
    if (!m_writer && m_db.isOpen())
        m_writer = std::make_unique<BackgroundWriter>(m_db.databaseName(), BusyTimeoutMs);
    return m_writer.get();
}

void Database::finishBackgroundWrites()
{
    if (m_writer)
        m_writer->finish();
}

bool Database::holdWrites()
{
    if (m_writer) {
        m_writer->holdWrites();
        m_writer->wait();
    }
    // Closing the last connection would checkpoint the write-ahead log into the file.
    keepLogOnClose(m_db);
    QSqlQuery hold(m_db);
    if (hold.exec(QStringLiteral("PRAGMA query_only = 1")))
        return true;
    qWarning().noquote() << "Writes to the database could not be held:" << hold.lastError().text();
    return false;
}

bool Database::migrate()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS schema_version (  version INTEGER NOT NULL DEFAULT 0)"))) {
        qCritical().noquote() << "Failed to create schema_version table";
        return false;
    }
    if (!query.exec(QStringLiteral("SELECT version FROM schema_version LIMIT 1")))
        return false;

    int version = 0;
    if (query.next()) {
        version = query.value(0).toInt();
        if (version < 0)
            return false;
    } else {
        query.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (0)"));
    }
    query.finish();

    if (version == 0) {
        qInfo().noquote() << "Running migration 1: initial schema";
        if (!migrateToV1()) {
            emit migrationError(1, QStringLiteral("Failed to create initial schema"));
            return false;
        }
        if (!setVersion(1))
            return false;
        emit migrationApplied(1, QStringLiteral("initial schema"));
    }

    if (version < 2) {
        qInfo().noquote() << "Running migration 2: drop default notebook + FK on notes.notebook_id";
        if (!migrateToV2()) {
            emit migrationError(2, QStringLiteral("Failed to drop notebook FK"));
            return false;
        }
        if (!setVersion(2))
            return false;
        emit migrationApplied(2, QStringLiteral("drop default notebook + FK"));
    }

    if (version < 3) {
        qInfo().noquote() << "Running migration 3: plain-text search index";
        if (!migrateToV3()) {
            emit migrationError(3, QStringLiteral("Failed to create search index"));
            return false;
        }
        if (!setVersion(3))
            return false;
        emit migrationApplied(3, QStringLiteral("plain-text search index"));
    }

    if (version < 4) {
        qInfo().noquote() << "Running migration 4: full-text triggers on body changes only";
        if (!runSteps("migrateToV4", indexedColumnTriggerSteps())) {
            emit migrationError(4, QStringLiteral("Failed to replace full-text triggers"));
            return false;
        }
        if (!setVersion(4))
            return false;
        emit migrationApplied(4, QStringLiteral("full-text triggers on body changes"));
    }

    // The notes to index are found at every start, not only after migration 3: an older version
    // of the program writes notes without their search rows.
    m_searchIndexComplete = !SearchIndex::hasMissing(m_db);
    qInfo().noquote() << "Database at version" << CurrentVersion;
    return true;
}

bool Database::setVersion(int version)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE schema_version SET version = ?"));
    query.addBindValue(version);
    return query.exec();
}

bool Database::migrateToV1()
{
    if (!m_db.transaction())
        return false;

    QSqlQuery query(m_db);
    QString error;
    for (const char *statement : initialSchemaStatements()) {
        if (!query.exec(QString::fromLatin1(statement))) {
            error = query.lastError().text();
            break;
        }
    }
    query.finish();
    if (error.isEmpty() && !m_db.commit())
        error = m_db.lastError().text();
    if (!error.isEmpty()) {
        qCritical().noquote() << "Schema creation failed:" << error;
        m_db.rollback();
        return false;
    }
    return true;
}

bool Database::migrateToV3()
{
    return runSteps("migrateToV3", searchIndexSteps());
}

bool Database::runSteps(const char *name, const QList<MigrationStep> &steps)
{
    if (!m_db.transaction())
        return false;
    QSqlQuery query(m_db);
    for (const MigrationStep &step : steps) {
        if (!query.exec(QString::fromLatin1(step.sql))) {
            qCritical().noquote() << name << step.label << query.lastError().text();
            query.finish();
            m_db.rollback();
            return false;
        }
    }
    query.finish();
    if (!m_db.commit()) {
        m_db.rollback();
        return false;
    }
    return true;
}

void Database::startSearchIndexBuild()
{
    if (m_searchIndexComplete || m_searchIndexBuilding || !m_db.isOpen())
        return;
    m_indexTotal = SearchIndex::missingCount(m_db);
    if (m_indexTotal <= 0) {
        m_searchIndexComplete = m_indexTotal == 0;
        if (m_searchIndexComplete)
            emit searchIndexCompleted();
        return;
    }
    qInfo().noquote() << "Indexing" << m_indexTotal << "notes for search";
    m_searchIndexBuilding = true;
    m_indexCursor = 0;
    m_indexDone = 0;
    QTimer::singleShot(0, this, &Database::indexSlice);
}

void Database::indexSlice()
{
    // Short enough that typing and painting go on between slices.
    constexpr int kSliceMs = 12;
    const int indexed
        = SearchIndex::fillMissingSlice(m_db, m_indexCursor, QDeadlineTimer(kSliceMs));
    if (indexed < 0) {
        m_searchIndexBuilding = false;
        qWarning().noquote() << "Search index incomplete; it is completed at the next start";
        return;
    }
    m_indexDone = qMin(m_indexTotal, m_indexDone + indexed);
    if (indexed > 0) {
        emit searchIndexProgress(m_indexDone, m_indexTotal);
        QTimer::singleShot(0, this, &Database::indexSlice);
        return;
    }
    m_searchIndexBuilding = false;
    m_searchIndexComplete = true;
    qInfo().noquote() << "Indexed" << m_indexDone << "notes for search";
    emit searchIndexProgress(m_indexTotal, m_indexTotal);
    emit searchIndexCompleted();
}

bool Database::migrateToV2()
{
    // Rebuilding a table that others reference is only allowed with foreign keys off, and the
    // pragma has no effect inside a transaction.
    QSqlQuery pragma(m_db);
    pragma.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
    if (!m_db.transaction()) {
        pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
        return false;
    }

    QSqlQuery query(m_db);
    for (const MigrationStep &step : rebuildNotesSteps()) {
        if (!query.exec(QString::fromLatin1(step.sql))) {
            qCritical().noquote() << "migrateToV2" << step.label << query.lastError().text();
            query.finish();
            m_db.rollback();
            pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
            return false;
        }
    }
    query.finish();
    const bool committed = m_db.commit();
    if (!committed)
        m_db.rollback();
    pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    return committed;
}
