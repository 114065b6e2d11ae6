#include "testdatabase.h"

#include <QSqlError>
#include <QSqlQuery>
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
