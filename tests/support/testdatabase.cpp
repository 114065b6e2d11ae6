#include "testdatabase.h"

#include "backgroundwriter.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QtTest>

TestDatabase::TestDatabase() : m_database(std::make_unique<Database>())
{
    m_valid = m_dir.isValid() && m_database->open(m_dir.filePath(QStringLiteral("test.db")))
        && m_database->migrate();
}

bool TestDatabase::exec(const QString &sql) const
{
    QSqlQuery query(m_database->connection());
    if (query.exec(sql))
        return true;
    qWarning().noquote() << "test statement failed:" << sql << query.lastError().text();
    return false;
}

int TestDatabase::scalar(const QString &sql) const
{
    QSqlQuery query(m_database->connection());
    if (!query.exec(sql) || !query.next())
        return -1;
    return query.value(0).toInt();
}

Note TestDatabase::makeNote(const QString &body, const QString &notebookId, const QDateTime &time)
{
    Note note;
    note.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    note.notebookId = notebookId;
    note.body = body.isNull() ? QStringLiteral("[{\"insert\":\"\\n\"}]") : body;
    note.createdAt = time;
    note.updatedAt = time;
    note.modifiedAt = time;
    return note;
}

Notebook TestDatabase::makeNotebook(const QString &name)
{
    Notebook notebook;
    notebook.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    notebook.name = name;
    notebook.createdAt = QDateTime::currentDateTimeUtc();
    notebook.updatedAt = notebook.createdAt;
    return notebook;
}

namespace {

bool applyWriteFault(QSqlDatabase db, WriteError::Kind fault)
{
    QSqlQuery query(db);
    int pages = 0;
    if (query.exec(QStringLiteral("PRAGMA page_count")) && query.next())
        pages = query.value(0).toInt();
    query.finish();
    // max_page_count never goes below the pages in use, so a large value lifts the limit.
    const int limit = fault == WriteError::Kind::DiskFull ? pages : 1073741823;
    const bool readOnly = fault == WriteError::Kind::ReadOnly;
    return pages > 0 && query.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(limit))
        && query.exec(QStringLiteral("PRAGMA query_only = %1").arg(readOnly ? 1 : 0));
}

} // namespace

bool setWriteFault(Database *database, WriteError::Kind fault)
{
    if (!applyWriteFault(database->connection(), fault))
        return false;
    // The connection that writes large notes in the background meets the same fault.
    BackgroundWriter *writer = database->backgroundWriter();
    bool applied = false;
    writer->start(
        [fault, &applied](QSqlDatabase db) {
            applied = applyWriteFault(db, fault);
            return WriteError();
        },
        {});
    writer->finish();
    return applied;
}

bool overwritePages(const QString &path, int first, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray header = file.read(100);
    if (header.size() < 100)
        return false;
    // The page size sits big-endian at offset 16; 1 stands for 65536.
    int pageSize = (quint8(header.at(16)) << 8) | quint8(header.at(17));
    if (pageSize == 1)
        pageSize = 65536;
    const qint64 start = qint64(first - 1) * pageSize;
    const qint64 length = qint64(count) * pageSize;
    if (pageSize < 512 || start + length > file.size())
        return false;
    QByteArray garbage(int(length), '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 131 + 17) & 0xff);
    return file.seek(start) && file.write(garbage) == length;
}

OtherProgramLock::OtherProgramLock() = default;

OtherProgramLock::~OtherProgramLock()
{
    release();
}

bool OtherProgramLock::toolAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty();
}

bool OtherProgramLock::runAndConfirm(const QByteArray &command, const QByteArray &marker)
{
    // The tool answers on a pipe line by line; the marker printed after the command says it ran.
    m_process->write(command + "\n.print " + marker + "\n");
    QByteArray out;
    const QDeadlineTimer deadline(10000);
    while (!out.contains(marker) && !deadline.hasExpired()) {
        m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        out += m_process->readAllStandardOutput();
    }
    const QByteArray errors = m_process->readAllStandardError();
    if (!out.contains(marker) || !errors.isEmpty()) {
        qWarning().noquote() << "sqlite3 did not run" << command << ":" << errors;
        return false;
    }
    return true;
}

bool OtherProgramLock::hold(const QString &path)
{
    release();
    m_process = std::make_unique<QProcess>();
    m_process->start(QStringLiteral("sqlite3"), { path });
    if (!m_process->waitForStarted(10000)) {
        qWarning().noquote() << "sqlite3 did not start:" << m_process->errorString();
        m_process.reset();
        return false;
    }
    return runAndConfirm("BEGIN EXCLUSIVE;", "holding");
}

bool OtherProgramLock::release()
{
    if (!m_process)
        return true;
    const bool ended = runAndConfirm("ROLLBACK;", "released");
    m_process->closeWriteChannel();
    if (!m_process->waitForFinished(10000))
        m_process->kill();
    m_process.reset();
    return ended;
}
