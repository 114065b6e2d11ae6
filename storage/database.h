#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>

// The one SQLite connection of the application and the schema it carries (version 3).
class Database final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Database)

public:
    static constexpr int CurrentVersion = 3;

    explicit Database(QObject *parent = nullptr);
    ~Database() override;

    bool open(const QString &path);
    bool migrate();

    enum class Health { Ok, CannotOpen, Damaged };
    // Runs SQLite's quick check on the file at `path` over a read-only connection of its own,
    // before anything opens it for writing: a damaged file is then never checkpointed,
    // converted or otherwise touched. A missing file is Ok (it is about to be created).
    // `problem` receives SQLite's words when the answer is not Ok.
    static Health checkFile(const QString &path, QString *problem = nullptr);

    bool isOpen() const;
    // Repositories run their statements on this connection.
    QSqlDatabase connection() const;
    QString connectionName() const { return m_connectionName; }

signals:
    void migrationApplied(int version, const QString &name);
    void migrationError(int version, const QString &error);
    // While migrate() indexes notes written without the search index (first start after the
    // upgrade): `done` of `total` notes, after every few hundred.
    void searchIndexProgress(int done, int total);

private:
    bool migrateToV1();
    bool migrateToV2();
    bool migrateToV3();
    bool setVersion(int version);

    QString m_connectionName;
    QSqlDatabase m_db;
};
