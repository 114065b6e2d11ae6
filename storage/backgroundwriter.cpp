#include "backgroundwriter.h"

#include "database.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <future>

struct BackgroundWriter::Pending
{
    std::promise<WriteError> promise;
    std::shared_future<WriteError> result { promise.get_future().share() };
    Done done;
    bool completed = false;
};

BackgroundWriter::BackgroundWriter(const QString &databasePath, int busyTimeoutMs, QObject *parent)
    : QObject(parent),
      m_path(databasePath),
      m_connectionName(QStringLiteral("background-writer-")
          + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_busyTimeoutMs(busyTimeoutMs),
      m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("BackgroundWriter"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

BackgroundWriter::~BackgroundWriter()
{
    finish();
    // The connection belongs to the writer's thread and is closed there.
    QMetaObject::invokeMethod(
        m_worker,
        [name = m_connectionName] {
            if (!QSqlDatabase::contains(name))
                return;
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void BackgroundWriter::start(Job job, Done done)
{
    finish();
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    m_pending = pending;
    QMetaObject::invokeMethod(m_worker, [this, pending, job = std::move(job)] {
        WriteError error;
        if (m_held) {
            error.kind = WriteError::Kind::ReadOnly;
            error.text = QStringLiteral("writes to the database are held");
        } else {
            QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
            if (!db.isValid()) {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
                db.setDatabaseName(m_path);
                db.setConnectOptions(
                    QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
            }
            if (!db.isOpen() && db.open())
                QSqlQuery(db).exec(QStringLiteral("PRAGMA foreign_keys=ON"));
            error = db.isOpen() ? job(db) : WriteError::fromSql(db.lastError());
        }
        // Queued to the owner first: once the result is set the owner may be gone (its
        // destructor waits for the result), and a queued call to a deleted object is dropped.
        QMetaObject::invokeMethod(
            this, [this, pending] { complete(pending); }, Qt::QueuedConnection);
        pending->promise.set_value(error);
    });
}

void BackgroundWriter::holdWrites()
{
    m_held = true;
    QMetaObject::invokeMethod(
        m_worker,
        [name = m_connectionName] {
            if (QSqlDatabase::contains(name))
                Database::keepLogOnClose(QSqlDatabase::database(name, false));
        },
        Qt::BlockingQueuedConnection);
}

void BackgroundWriter::wait() const
{
    if (m_pending)
        m_pending->result.wait();
}

void BackgroundWriter::finish()
{
    if (const std::shared_ptr<Pending> pending = m_pending) {
        pending->result.wait();
        complete(pending);
    }
}

void BackgroundWriter::complete(const std::shared_ptr<Pending> &pending)
{
    if (pending->completed)
        return;
    pending->completed = true;
    if (m_pending == pending)
        m_pending.reset();
    if (pending->done)
        pending->done(pending->result.get());
}
