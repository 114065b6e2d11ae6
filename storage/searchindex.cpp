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

bool hasMissing(QSqlDatabase db)
{
    // Counting the table that holds the index's rows is a b-tree count, not a scan of text.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT (SELECT count(*) FROM notes) - (SELECT count(*) FROM "
                                   "notes_text_fts_content)"))
        || !query.next())
        return true;
    return query.value(0).toLongLong() != 0;
}

int fillMissing(QSqlDatabase db, const std::function<void(int, int)> &progress)
{
    QList<qint64> rowids;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT rowid FROM notes WHERE rowid NOT IN (SELECT rowid "
                                       "FROM notes_text_fts)")))
            return -1;
        while (query.next())
            rowids.append(query.value(0).toLongLong());
    }
    const int total = int(rowids.size());
    // Short transactions, so a long first build keeps what it did if it is stopped.
    constexpr int kBatch = 500;
    QSqlQuery read(db);
    QSqlQuery insert(db);
    if (!read.prepare(QStringLiteral("SELECT body FROM notes WHERE rowid = ?"))
        || !insert.prepare(
            QStringLiteral("INSERT INTO notes_text_fts(rowid, title, body) VALUES (?, ?, ?)")))
        return -1;
    QSqlQuery control(db);
    for (int start = 0; start < total; start += kBatch) {
        control.exec(QStringLiteral("SAVEPOINT search_index_fill"));
        bool ok = true;
        for (int i = start; i < qMin(total, start + kBatch) && ok; ++i) {
            read.bindValue(0, rowids.at(i));
            ok = read.exec() && read.next();
            const QString body = ok ? read.value(0).toString() : QString();
            read.finish();
            ok = ok && insertRow(insert, rowids.at(i), body);
        }
        if (!ok) {
            qWarning().noquote() << "SearchIndex::fillMissing failed:" << insert.lastError().text()
                                 << read.lastError().text();
            control.exec(QStringLiteral("ROLLBACK TO search_index_fill"));
            control.exec(QStringLiteral("RELEASE search_index_fill"));
            return -1;
        }
        control.exec(QStringLiteral("RELEASE search_index_fill"));
        if (progress)
            progress(qMin(total, start + kBatch), total);
    }
    return total;
}

} // namespace SearchIndex
