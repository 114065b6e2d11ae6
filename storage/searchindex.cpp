#include "searchindex.h"

#include "searchtext.h"

#include <QDebug>
#include <QList>
#include <QPair>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool insertRow(QSqlQuery &insert, qint64 rowid, const QString &body)
{
    const SearchableText text = searchableText(body);
    insert.bindValue(0, rowid);
    insert.bindValue(1, text.title);
    insert.bindValue(2, text.body);
    return insert.exec();
}

} // namespace

namespace SearchIndex {

bool write(QSqlDatabase db, const QString &noteId, const QString &body)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT rowid FROM notes WHERE id = ?"));
    query.addBindValue(noteId);
    if (!query.exec())
        return false;
    if (!query.next())
        return true; // nothing to index
    const qint64 rowid = query.value(0).toLongLong();
    query.finish();
    query.prepare(QStringLiteral("DELETE FROM notes_text_fts WHERE rowid = ?"));
    query.addBindValue(rowid);
    if (!query.exec())
        return false;
    query.prepare(
        QStringLiteral("INSERT INTO notes_text_fts(rowid, title, body) VALUES (?, ?, ?)"));
    return insertRow(query, rowid, body);
}

bool writeNew(QSqlDatabase db, const QList<QPair<QString, QString>> &notes)
{
    if (notes.isEmpty())
        return true;
    QStringList rows;
    rows.reserve(notes.size());
    for (qsizetype i = 0; i < notes.size(); ++i)
        rows << QStringLiteral("(?, ?, ?)");
    QSqlQuery insert(db);
    bool ok = insert.prepare(
        QStringLiteral("INSERT INTO notes_text_fts(rowid, title, body) SELECT n.rowid, "
                       "v.column2, v.column3 FROM (VALUES %1) AS v JOIN notes n ON n.id = "
                       "v.column1")
            .arg(rows.join(QLatin1String(", "))));
    int position = 0;
    for (const auto &[noteId, body] : notes) {
        const SearchableText text = searchableText(body);
        insert.bindValue(position++, noteId);
        insert.bindValue(position++, text.title);
        insert.bindValue(position++, text.body);
    }
    if (ok && insert.exec())
        return true;
    ok = true;
    for (const auto &[noteId, body] : notes)
        ok = write(db, noteId, body) && ok;
    return ok;
}

int missingCount(QSqlDatabase db)
{
    // Counting the table that holds the index's rows is a b-tree count, not a scan of text.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT (SELECT count(*) FROM notes) - (SELECT count(*) FROM "
                                   "notes_text_fts_content)"))
        || !query.next())
        return -1;
    return int(query.value(0).toLongLong());
}

bool hasMissing(QSqlDatabase db)
{
    return missingCount(db) != 0;
}

int fillMissingSlice(QSqlDatabase db, qint64 &afterRowid, const QDeadlineTimer &deadline)
{
    // Looked up in the content table by its integer key, so each batch costs what it finds.
    constexpr int kBatch = 32;
    QSqlQuery find(db);
    QSqlQuery insert(db);
    if (!find.prepare(QStringLiteral(
            "SELECT n.rowid, n.body FROM notes n WHERE n.rowid > ? AND NOT EXISTS (SELECT 1 "
            "FROM notes_text_fts_content c WHERE c.id = n.rowid) ORDER BY n.rowid LIMIT ?"))
        || !insert.prepare(
            QStringLiteral("INSERT INTO notes_text_fts(rowid, title, body) VALUES (?, ?, ?)")))
        return -1;
    QSqlQuery control(db);
    if (!control.exec(QStringLiteral("SAVEPOINT search_index_fill")))
        return -1;
    int indexed = 0;
    qint64 cursor = afterRowid;
    bool ok = true;
    bool more = true;
    while (ok && more && (indexed == 0 || !deadline.hasExpired())) {
        find.bindValue(0, cursor);
        find.bindValue(1, kBatch);
        ok = find.exec();
        QList<QPair<qint64, QString>> rows;
        while (ok && find.next())
            rows.append({ find.value(0).toLongLong(), find.value(1).toString() });
        find.finish();
        more = rows.size() == kBatch;
        for (const auto &[rowid, body] : rows) {
            ok = ok && insertRow(insert, rowid, body);
            if (ok) {
                cursor = rowid;
                ++indexed;
            }
        }
    }
    if (!ok) {
        qWarning().noquote() << "SearchIndex::fillMissingSlice failed:" << insert.lastError().text()
                             << find.lastError().text();
        control.exec(QStringLiteral("ROLLBACK TO search_index_fill"));
        control.exec(QStringLiteral("RELEASE search_index_fill"));
        return -1;
    }
    if (!control.exec(QStringLiteral("RELEASE search_index_fill")))
        return -1;
    afterRowid = cursor;
    return indexed;
}

} // namespace SearchIndex
