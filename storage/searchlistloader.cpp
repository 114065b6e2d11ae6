#include "searchlistloader.h"

#include "database.h"

#include <QDebug>
#include <QSqlError>
#include <QUuid>

SearchListLoader::SearchListLoader(Database *database, QObject *parent)
    : QObject(parent), m_path(database->connection().databaseName())
{
    m_pool.setMaxThreadCount(1);
}

SearchListLoader::~SearchListLoader()
{
    cancel();
    m_pool.clear();
    m_pool.waitForDone();
}

void SearchListLoader::cancel()
{
    ++m_generation;
}

void SearchListLoader::load(const QString &text, quint64 tag)
{
    const quint64 generation = ++m_generation;
    // Requests that were overtaken before they started are dropped unread.
    m_pool.clear();
    m_pool.start([this, text, tag, generation] {
        if (generation != m_generation)
            return;
        const QString name = QStringLiteral("search-") + QUuid::createUuid().toString();
        QList<NoteListEntry> entries;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_path);
            if (db.open())
                entries = NoteRepository::searchListEntriesOn(db, text);
            else
                qWarning().noquote() << "Search list not read:" << db.lastError().text();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (generation != m_generation)
            return;
        // Delivered on the loader's thread, where the generation is checked once more: a newer
        // request may have come while the event was queued.
        QMetaObject::invokeMethod(
            this,
            [this, text, tag, generation, entries = std::move(entries)] {
                if (generation == m_generation)
                    emit loaded(text, tag, entries);
            },
            Qt::QueuedConnection);
    });
}
