#include "searchlistloader.h"

#include "database.h"

#include <QDebug>
#include <QSqlError>
#include <QUuid>

SearchListLoader::SearchListLoader(Database *database, QObject *parent)
    : QObject(parent), m_path(database->connection().databaseName())
{
    m_pool.setMaxThreadCount(1);
    // A timer, unlike a queued call, runs after the paint events already posted.
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(1);
    connect(&m_startTimer, &QTimer::timeout, this, &SearchListLoader::startReading);
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
    m_startTimer.stop();
}

void SearchListLoader::load(const QString &text, quint64 tag)
{
    ++m_generation;
    m_pendingText = text;
    m_pendingTag = tag;
    m_startTimer.start();
}

void SearchListLoader::startReading()
{
    const quint64 generation = m_generation;
    const QString text = m_pendingText;
    const quint64 tag = m_pendingTag;
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
