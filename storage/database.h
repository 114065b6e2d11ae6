#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class BackgroundWriter;
struct MigrationStep;

// The one SQLite connection of the application and the schema it carries (version 4).
class Database final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Database)

public:
    static constexpr int CurrentVersion = 4;

    // How long a statement waits for another program's lock before failing as Locked. The
    // connection works on the GUI thread, so the driver's 5 s would freeze the window at every
    // save attempt; a failed save keeps its text and is tried again anyway.
    static constexpr int BusyTimeoutMs = 200;

    explicit Database(QObject *parent = nullptr);
    ~Database() override;

    bool open(const QString &path);
    bool migrate();

    // Indexes the notes that have no search row (the first start after the index came, or
    // notes an older version wrote), a slice per turn of the event loop, so it never holds up
    // the first window. Each slice commits: a build stopped half-way goes on from where it was.
    void startSearchIndexBuild();
    // False while notes are waiting for their search row: searches may miss them meanwhile.
    bool isSearchIndexComplete() const { return m_searchIndexComplete; }

    enum class Health { Ok, CannotOpen, Damaged };
    // Runs SQLite's quick check on the file at `path` over a read-only connection of its own,
    // before anything opens it for writing: a damaged file is then never checkpointed,
    // converted or otherwise touched. A missing file is Ok (it is about to be created).
    // `problem` receives SQLite's words when the answer is not Ok.
    static Health checkFile(const QString &path, QString *problem = nullptr);

    bool isOpen() const;
    // Repositories run their statements on this connection. A write still running on the
    // background writer is waited for first, so whatever follows sees it.
    QSqlDatabase connection() const;
    // A second connection on a thread of its own, for saves too large for the GUI thread;
    // made on first use, null while the database is not open.
    BackgroundWriter *backgroundWriter();
    // Runs what the background writer has finished (its completions) now.
    void finishBackgroundWrites();
    // Nothing more is written through either connection (a damaged file is kept as found), and
    // closing leaves the write-ahead log beside the file instead of checkpointing it in.
    bool holdWrites();
    // Asks SQLite not to checkpoint the log into the file when `db`, an open connection of this
    // program, is closed. False where the build cannot (Windows: Qt's own SQLite).
    static bool keepLogOnClose(QSqlDatabase db);
    QString connectionName() const { return m_connectionName; }

signals:
    void migrationApplied(int version, const QString &name);
    void migrationError(int version, const QString &error);
    // During the build started by startSearchIndexBuild: `done` of `total` notes, after every
    // slice.
    void searchIndexProgress(int done, int total);
    void searchIndexCompleted();

private:
    bool migrateToV1();
    bool migrateToV2();
    bool migrateToV3();
    bool runSteps(const char *name, const QList<MigrationStep> &steps);
    void indexSlice();
    bool setVersion(int version);

    QString m_connectionName;
    QSqlDatabase m_db;
    std::unique_ptr<BackgroundWriter> m_writer;
    bool m_searchIndexComplete = true;
    bool m_searchIndexBuilding = false;
    qint64 m_indexCursor = 0; // the build's last indexed rowid
    int m_indexDone = 0;
    int m_indexTotal = 0;
};
