#include "databaserescue.h"

#include "notewriter.h"
#include "snapshotrepository.h"
#include "storagetime.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

namespace {

const QStringList CompanionSuffixes = { QStringLiteral("-wal"), QStringLiteral("-shm") };
constexpr int RecoverTimeoutMs = 120000;

// A script the tool finished ends with its COMMIT. A ".dump" that met damage ends with
// "ROLLBACK; -- due to errors" instead, which would throw away every row it did read: that
// ending becomes a COMMIT, keeping what was readable. False for a script cut short.
bool finishScript(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.size() < 8)
        return false;
    const qint64 tailStart = qMax<qint64>(0, file.size() - 64);
    file.seek(tailStart);
    const QByteArray tail = file.readAll();
    if (tail.trimmed().endsWith("COMMIT;"))
        return true;
    const QByteArray rollback = "ROLLBACK; -- due to errors";
    const qsizetype at = tail.lastIndexOf(rollback);
    if (at < 0 || !tail.mid(at + rollback.size()).trimmed().isEmpty())
        return false;
    return file.resize(tailStart + at) && file.seek(tailStart + at) && file.write("COMMIT;\n") == 8;
}

bool isUuid(const QString &text)
{
    return text.size() == 36 && !QUuid::fromString(text).isNull();
}

QDateTime timeOr(const QVariant &value, const QDateTime &fallback)
{
    const QDateTime time = fromStorageTime(value.toString());
    return time.isValid() ? time : fallback;
}

std::optional<QDateTime> optionalTime(const QVariant &value)
{
    if (value.isNull() || value.toString().isEmpty())
        return std::nullopt;
    const QDateTime time = fromStorageTime(value.toString());
    return time.isValid() ? std::optional<QDateTime>(time) : std::nullopt;
}

// The rows of `table` as records; nothing when the table did not survive.
template<typename Visit>
void forEachRow(QSqlDatabase &db, const QString &table, Visit visit)
{
    if (!db.tables().contains(table))
        return;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // The table name is one of our own constants, never text from the file.
    if (!query.exec(QStringLiteral("SELECT * FROM ") + table)) {
        qWarning().noquote() << "DatabaseRescue: can't read" << table << query.lastError().text();
        return;
    }
    while (query.next())
        visit(query.record());
}

} // namespace

namespace DatabaseRescue {

QString setAsidePath(const QString &databasePath, const QDateTime &when)
{
    const QFileInfo info(databasePath);
    const QString stem = info.absolutePath() + QLatin1Char('/') + info.completeBaseName()
        + QStringLiteral(".damaged-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString suffix
        = info.suffix().isEmpty() ? QString() : QString(QLatin1Char('.') + info.suffix());
    QString candidate = stem + suffix;
    for (int n = 2;
         QFileInfo::exists(candidate) || QFileInfo::exists(candidate + QStringLiteral("-wal")); ++n)
        candidate = stem + QStringLiteral("-%1").arg(n) + suffix;
    return candidate;
}

QString setAside(const QString &databasePath)
{
    if (!QFileInfo::exists(databasePath))
        return QString();
    const QString target = setAsidePath(databasePath, QDateTime::currentDateTime());
    if (!QFile::rename(databasePath, target)) {
        qCritical().noquote() << "Can't set the damaged database aside:" << databasePath;
        return QString();
    }
    for (const QString &suffix : CompanionSuffixes) {
        const QString companion = databasePath + suffix;
        if (QFileInfo::exists(companion) && !QFile::rename(companion, target + suffix)) {
            // Put the main file back: a database separated from its WAL would lose changes.
            qCritical().noquote() << "Can't set aside" << companion << "- database left in place";
            for (const QString &moved : CompanionSuffixes) {
                if (moved == suffix)
                    break;
                QFile::rename(target + moved, databasePath + moved);
            }
            QFile::rename(target, databasePath);
            return QString();
        }
    }
    qWarning().noquote() << "Damaged database set aside as" << target;
    return target;
}

bool recoverToFile(const QString &damagedPath, const QString &outputPath, QString *error)
{
    const auto failWith = [error](const QString &text) {
        qWarning().noquote() << "DatabaseRescue:" << text;
        if (error)
            *error = text;
        return false;
    };
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (tool.isEmpty())
        return failWith(QStringLiteral("the sqlite3 tool is not installed"));
    if (QFileInfo::exists(outputPath))
        return failWith(QStringLiteral("%1 already exists").arg(outputPath));

    // The tool would replay and checkpoint a WAL into the file it opens: it gets a copy.
    QTemporaryDir work(QFileInfo(outputPath).absolutePath() + QStringLiteral("/.recover-XXXXXX"));
    if (!work.isValid())
        return failWith(QStringLiteral("can't make a work folder beside %1").arg(outputPath));
    const QString copy = work.filePath(QStringLiteral("damaged.db"));
    if (!QFile::copy(damagedPath, copy))
        return failWith(QStringLiteral("can't copy %1").arg(damagedPath));
    for (const QString &suffix : CompanionSuffixes) {
        if (QFileInfo::exists(damagedPath + suffix))
            QFile::copy(damagedPath + suffix, copy + suffix);
    }

    // ".recover" reads around damage page by page, but needs SQLite's page-reading virtual
    // tables, which not every build of the tool has (it then stops at once with "SQL logic
    // error"). ".dump" is the fallback: it reads every table it can, stepping around corrupt
    // pages. Either one is only trusted when its script ran to the end.
    const QString sql = work.filePath(QStringLiteral("recovered.sql"));
    QString toolErrors;
    bool scripted = false;
    for (const QString &command : { QStringLiteral(".recover"), QStringLiteral(".dump") }) {
        QProcess dump;
        dump.setStandardOutputFile(sql);
        dump.start(tool, { copy, command });
        const bool finished = dump.waitForFinished(RecoverTimeoutMs);
        if (!finished) {
            dump.kill();
            dump.waitForFinished();
        }
        toolErrors += QString::fromLocal8Bit(dump.readAllStandardError()).trimmed();
        if (finished && dump.exitStatus() == QProcess::NormalExit && finishScript(sql)) {
            qInfo().noquote() << "DatabaseRescue: read" << damagedPath << "with sqlite3" << command;
            scripted = true;
            break;
        }
    }
    if (!scripted)
        return failWith(QStringLiteral("sqlite3 could not read the file: %1").arg(toolErrors));

    // Built in the work folder and moved into place whole.
    const QString built = work.filePath(QStringLiteral("recovered.db"));
    QProcess load;
    load.setStandardInputFile(sql);
    // Without -bail: a statement the new file rejects (a damaged index, say) costs that row
    // only, not the rest.
    load.start(tool, { built });
    if (!load.waitForFinished(RecoverTimeoutMs) || load.exitStatus() != QProcess::NormalExit
        || !QFileInfo::exists(built)) {
        load.kill();
        load.waitForFinished();
        return failWith(QStringLiteral("the recovered rows could not be written: %1")
                            .arg(QString::fromLocal8Bit(load.readAllStandardError()).trimmed()));
    }
    if (!QFile::rename(built, outputPath))
        return failWith(QStringLiteral("can't move the recovered database to %1").arg(outputPath));
    return true;
}

Recovered importRecovered(
    const QString &recoveredPath, NoteWriter *writer, SnapshotRepository *snapshots)
{
    Recovered result;
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(recoveredPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            qWarning().noquote() << "DatabaseRescue: can't read" << recoveredPath
                                 << db.lastError().text();
            result.notes = -1;
        } else {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            forEachRow(db, QStringLiteral("notebooks"), [&](const QSqlRecord &row) {
                Notebook notebook;
                notebook.id = row.value(QStringLiteral("id")).toString();
                notebook.name = row.value(QStringLiteral("name")).toString().trimmed();
                if (!isUuid(notebook.id) || notebook.name.isEmpty()) {
                    ++result.skipped;
                    return;
                }
                notebook.isShared = row.value(QStringLiteral("is_shared")).toInt() != 0;
                notebook.ownerId = row.value(QStringLiteral("owner_id")).toString();
                notebook.createdAt = timeOr(row.value(QStringLiteral("created_at")), now);
                notebook.updatedAt = timeOr(row.value(QStringLiteral("updated_at")), now);
                notebook.deletedAt = optionalTime(row.value(QStringLiteral("deleted_at")));
                notebook.version = qMax(1, row.value(QStringLiteral("version")).toInt());
                notebook.syncStatus
                    = syncStatusFromText(row.value(QStringLiteral("sync_status")).toString());
                if (writer->insertRestoredNotebook(notebook))
                    ++result.notebooks;
                else
                    ++result.skipped;
            });
            forEachRow(db, QStringLiteral("notes"), [&](const QSqlRecord &row) {
                Note note;
                note.id = row.value(QStringLiteral("id")).toString();
                if (!isUuid(note.id)) {
                    ++result.skipped;
                    return;
                }
                note.notebookId = row.value(QStringLiteral("notebook_id")).toString();
                if (!note.notebookId.isEmpty() && !isUuid(note.notebookId))
                    note.notebookId.clear();
                note.body = row.value(QStringLiteral("body")).toString();
                if (note.body.isEmpty())
                    note.body = NoteWriter::newNoteBody();
                note.createdAt = timeOr(row.value(QStringLiteral("created_at")), now);
                note.updatedAt = timeOr(row.value(QStringLiteral("updated_at")), note.createdAt);
                note.modifiedAt = timeOr(row.value(QStringLiteral("modified_at")), note.updatedAt);
                note.deletedAt = optionalTime(row.value(QStringLiteral("deleted_at")));
                note.version = qMax(1, row.value(QStringLiteral("version")).toInt());
                note.opVersion = row.value(QStringLiteral("op_version")).toInt();
                note.syncStatus
                    = syncStatusFromText(row.value(QStringLiteral("sync_status")).toString());
                note.isSample = row.value(QStringLiteral("is_sample")).toInt() != 0;
                note.ownerId = row.value(QStringLiteral("owner_id")).toString();
                note.isShared = row.value(QStringLiteral("is_shared")).toInt() != 0;
                note.permission = row.value(QStringLiteral("permission")).toString();
                if (writer->insertRestoredNote(note))
                    ++result.notes;
                else
                    ++result.skipped;
            });
            forEachRow(db, QStringLiteral("note_snapshots"), [&](const QSqlRecord &row) {
                Snapshot snapshot;
                snapshot.id = row.value(QStringLiteral("id")).toString();
                snapshot.noteId = row.value(QStringLiteral("note_id")).toString();
                snapshot.version = row.value(QStringLiteral("version")).toInt();
                snapshot.body = row.value(QStringLiteral("body")).toString();
                snapshot.createdAt = timeOr(row.value(QStringLiteral("created_at")), now);
                // The foreign key keeps snapshots of notes that did not survive out.
                if (isUuid(snapshot.id) && isUuid(snapshot.noteId) && !snapshot.body.isEmpty()
                    && snapshots->insert(snapshot))
                    ++result.snapshots;
                else
                    ++result.skipped;
            });
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    qInfo().noquote() << "Recovered" << result.notes << "notes," << result.notebooks
                      << "notebooks and" << result.snapshots << "snapshots;" << result.skipped
                      << "rows skipped";
    return result;
}

} // namespace DatabaseRescue
