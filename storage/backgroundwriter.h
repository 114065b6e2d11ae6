#pragma once

#include "writeerror.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// Runs a write on a thread of its own, over its own connection to the database file, so a
// large note's save (its row, both search indexes and the commit: 50 ms for a 1 MB note) does
// not hold the window. One write at a time. Database::connection() waits for it before the GUI
// connection runs anything else, so every later read and write sees it, in order.
class BackgroundWriter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BackgroundWriter)

public:
    // Runs on the writer's thread; what it returns goes to the Done of its start().
    using Job = std::function<WriteError(QSqlDatabase db)>;
    // Runs on the thread that called start(), from its event loop or from finish().
    using Done = std::function<void(const WriteError &error)>;

    BackgroundWriter(const QString &databasePath, int busyTimeoutMs, QObject *parent = nullptr);
    // Finishes the pending write (its Done runs) and closes the connection.
    ~BackgroundWriter() override;

    // Finishes any write still pending first.
    void start(Job job, Done done);
    bool isPending() const { return m_pending != nullptr; }
    // Blocks until the pending write is committed or has failed; its Done still comes from the
    // event loop.
    void wait() const;
    // Blocks until then and runs its Done now.
    void finish();
    // Later writes fail without touching the file (a damaged file stays as it was found), and
    // the connection closes without checkpointing the log into it.
    void holdWrites();

private:
    struct Pending;
    void complete(const std::shared_ptr<Pending> &pending);

    QString m_path;
    QString m_connectionName;
    int m_busyTimeoutMs;
    QThread m_thread;
    QObject *m_worker = nullptr; // lives in m_thread
    std::shared_ptr<Pending> m_pending;
    std::atomic_bool m_held = false;
};
