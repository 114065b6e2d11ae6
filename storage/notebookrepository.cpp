#include "notebookrepository.h"

#include "database.h"
#include "sqlutil.h"
#include "storagetime.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

#include <utility>

using SqlUtil::nonNull;
using SqlUtil::textOrNull;

namespace {

Notebook notebookFromRow(const QSqlQuery &query)
{
    Notebook notebook;
    notebook.id = query.value(QStringLiteral("id")).toString();
    notebook.name = query.value(QStringLiteral("name")).toString();
    notebook.isDefault = query.value(QStringLiteral("is_default")).toBool();
    notebook.isShared = query.value(QStringLiteral("is_shared")).toBool();
    notebook.ownerId = query.value(QStringLiteral("owner_id")).toString();
    notebook.createdAt = fromStorageTime(query.value(QStringLiteral("created_at")).toString());
    notebook.updatedAt = fromStorageTime(query.value(QStringLiteral("updated_at")).toString());
    const QString deletedAt = query.value(QStringLiteral("deleted_at")).toString();
    if (!deletedAt.isEmpty())
        notebook.deletedAt = fromStorageTime(deletedAt);
    notebook.version = query.value(QStringLiteral("version")).toInt();
    notebook.syncStatus = syncStatusFromText(query.value(QStringLiteral("sync_status")).toString());
    return notebook;
}

QVariant deletedAtValue(const Notebook &notebook)
{
    return notebook.deletedAt ? QVariant(toStorageTime(*notebook.deletedAt)) : QVariant();
}

} // namespace

NotebookRepository::NotebookRepository(Database *database, QObject *parent)
    : QObject(parent), m_database(database)
{ }

QList<Notebook> NotebookRepository::allNotebooks() const
{
    QList<Notebook> notebooks;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("SELECT * FROM notebooks WHERE deleted_at IS NULL ORDER BY "
                           "is_default DESC, name ASC")))
        return notebooks;
    while (query.next())
        notebooks.append(notebookFromRow(query));
    return notebooks;
}

std::optional<Notebook> NotebookRepository::notebookById(const QString &id) const
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query, QStringLiteral("SELECT * FROM notebooks WHERE id = ?"), { id })
        || !query.next())
        return std::nullopt;
    return notebookFromRow(query);
}

QList<Notebook> NotebookRepository::pendingNotebooks() const
{
    QList<Notebook> notebooks;
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("SELECT * FROM notebooks WHERE sync_status = 'pending' ORDER BY "
                           "is_default DESC, name ASC")))
        return notebooks;
    while (query.next())
        notebooks.append(notebookFromRow(query));
    return notebooks;
}

bool NotebookRepository::insert(const Notebook &notebook)
{
    QSqlQuery query(m_database->connection());
    const bool ok = SqlUtil::run(query,
        QStringLiteral("INSERT INTO notebooks (id, name, is_default, is_shared, owner_id, "
                       "created_at, updated_at, deleted_at, version, sync_status) VALUES (?, ?, ?, "
                       "?, ?, ?, ?, ?, ?, ?)"),
        { notebook.id, nonNull(notebook.name), notebook.isDefault ? 1 : 0,
            notebook.isShared ? 1 : 0, textOrNull(notebook.ownerId),
            toStorageTime(notebook.createdAt), toStorageTime(notebook.updatedAt),
            deletedAtValue(notebook), notebook.version, syncStatusText(notebook.syncStatus) });
    if (!ok) {
        qWarning().noquote() << "NotebookRepository::insert failed:" << query.lastError().text();
        return false;
    }
    announceChange();
    return true;
}

bool NotebookRepository::update(const Notebook &notebook)
{
    QSqlQuery query(m_database->connection());
    const bool ok = SqlUtil::run(query,
        QStringLiteral("UPDATE notebooks SET name=?, is_default=?, is_shared=?, owner_id=?, "
                       "updated_at=?, deleted_at=?, version=?, sync_status=? WHERE id=?"),
        { nonNull(notebook.name), notebook.isDefault ? 1 : 0, notebook.isShared ? 1 : 0,
            textOrNull(notebook.ownerId), toStorageTime(notebook.updatedAt),
            deletedAtValue(notebook), notebook.version, syncStatusText(notebook.syncStatus),
            notebook.id });
    if (!ok) {
        qWarning().noquote() << "NotebookRepository::update failed:" << query.lastError().text();
        return false;
    }
    announceChange();
    return true;
}

bool NotebookRepository::softDelete(const QString &id)
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notebooks SET deleted_at=?, sync_status='pending' WHERE id=?"),
            { toStorageTime(QDateTime::currentDateTimeUtc()), id }))
        return false;
    announceChange();
    return true;
}

int NotebookRepository::markAllPending()
{
    QSqlQuery query(m_database->connection());
    if (!SqlUtil::run(query,
            QStringLiteral("UPDATE notebooks SET sync_status='pending' WHERE deleted_at "
                           "IS NULL AND sync_status != 'pending'")))
        return 0;
    return query.numRowsAffected();
}

void NotebookRepository::announceChange()
{
    if (m_batchDepth > 0)
        m_changedInBatch = true;
    else
        emit notebooksChanged();
}

void NotebookRepository::beginBatch()
{
    ++m_batchDepth;
}

void NotebookRepository::endBatch(bool announce)
{
    Q_ASSERT(m_batchDepth > 0);
    if (m_batchDepth <= 0 || --m_batchDepth > 0)
        return;
    const bool changed = std::exchange(m_changedInBatch, false);
    if (announce && changed)
        emit notebooksChanged();
}
