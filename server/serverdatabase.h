#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <optional>

struct ServerConfig;

// The server's one database connection: SQLite in the data directory or PostgreSQL, with the
// same schema and the same positional-placeholder queries on both.
class ServerDatabase final
{
public:
    ServerDatabase() = default;
    ~ServerDatabase();
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;

    bool open(const ServerConfig &config);
    void close();
    QString errorString() const { return m_error; }
    bool isPostgres() const { return m_postgres; }

    // Prepares, binds and runs one statement; nullopt (and a logged warning) on failure.
    std::optional<QSqlQuery> run(const QString &sql, const QVariantList &args = {});
    // First column of the first row, or an invalid QVariant.
    QVariant scalar(const QString &sql, const QVariantList &args = {});

    bool transaction();
    bool commit();
    void rollback();

    // A typed NULL: the PostgreSQL driver needs a type even for NULL parameters.
    static QVariant nullInt();

private:
    bool createSchema();

    QSqlDatabase m_db;
    QString m_connectionName;
    QString m_error;
    bool m_postgres = false;
};
