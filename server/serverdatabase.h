#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <optional>
#include <unordered_map>
#include <vector>

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

    // A statement that ran: the query to read from while it lives. Prepared statements are
    // kept per SQL text and reused, so each request does not parse its SQL again; the query
    // goes back (finished, so it holds no read snapshot) when this is destroyed or reset.
    class Result final
    {
    public:
        Result() = default;
        Result(Result &&other) noexcept;
        Result &operator=(Result &&other) noexcept;
        Result(const Result &) = delete;
        Result &operator=(const Result &) = delete;
        ~Result() { reset(); }

        explicit operator bool() const { return m_valid; }
        QSqlQuery *operator->() { return &*m_query; }
        QSqlQuery &operator*() { return *m_query; }
        void reset();

    private:
        friend class ServerDatabase;
        ServerDatabase *m_db = nullptr; // not owned; null for statements that are not kept
        quint64 m_generation = 0;
        QString m_sql;
        std::optional<QSqlQuery> m_query;
        bool m_valid = false;
    };

    // Prepares (or reuses), binds and runs one statement; an empty result (and a logged
    // warning) on failure.
    Result run(const QString &sql, const QVariantList &args = {});
    // First column of the first row, or an invalid QVariant.
    QVariant scalar(const QString &sql, const QVariantList &args = {});

    bool transaction();
    bool commit();
    void rollback();

    // A typed NULL: the PostgreSQL driver needs a type even for NULL parameters.
    static QVariant nullInt();

private:
    bool createSchema();
    QString storableText(const QString &text) const;
    void giveBack(const QString &sql, QSqlQuery &&query);

    QSqlDatabase m_db;
    // Idle prepared statements by SQL text. Nested use of one text takes a second statement.
    std::unordered_map<QString, std::vector<QSqlQuery>> m_idle;
    // Changes when the connection closes, so results that outlive it are not given back.
    quint64 m_generation = 0;
    QString m_connectionName;
    QString m_error;
    bool m_postgres = false;
};
