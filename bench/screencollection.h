#pragma once

// A generated collection for the screen benchmarks and screenshots: notebooks, notes with
// headings, paragraphs, bullet and checkbox lists, Markdown boxes and "TODO:" lines, some
// trashed and some shared. Deterministic for a given seed.
#include "database.h"
#include "deltaformat.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "paths.h"
#include "preferencesrepository.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QStringList>
#include <QUuid>

namespace ScreenCollection {

inline QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

inline QString sentence(QRandomGenerator &random, int words)
{
    static const QStringList Words = { QStringLiteral("meeting"), QStringLiteral("project"),
        QStringLiteral("budget"), QStringLiteral("garden"), QStringLiteral("release"),
        QStringLiteral("recipe"), QStringLiteral("travel"), QStringLiteral("invoice"),
        QStringLiteral("draft"), QStringLiteral("review"), QStringLiteral("family"),
        QStringLiteral("weekend"), QStringLiteral("design"), QStringLiteral("server"),
        QStringLiteral("chapter"), QStringLiteral("ideas"), QStringLiteral("shopping"),
        QStringLiteral("dentist"), QStringLiteral("tickets"), QStringLiteral("backup") };
    QStringList parts;
    for (int i = 0; i < words; ++i)
        parts.append(Words.at(random.bounded(int(Words.size()))));
    QString text = parts.join(QLatin1Char(' '));
    text[0] = text[0].toUpper();
    return text;
}

inline void addLine(QJsonArray &ops, const QString &text, const QJsonObject &block = {})
{
    ops.append(QJsonObject { { QStringLiteral("insert"), text } });
    QJsonObject newline { { QStringLiteral("insert"), QStringLiteral("\n") } };
    if (!block.isEmpty())
        newline.insert(QStringLiteral("attributes"), block);
    ops.append(newline);
}

inline QString makeBody(QRandomGenerator &random)
{
    QJsonArray ops;
    addLine(ops, sentence(random, 3), { { QStringLiteral("header"), 1 } });
    const int sections = random.bounded(10) == 0 ? 6 + random.bounded(10) : 1 + random.bounded(3);
    for (int s = 0; s < sections; ++s) {
        if (s > 0)
            addLine(ops, sentence(random, 2), { { QStringLiteral("header"), 2 } });
        ops.append(QJsonObject {
            { QStringLiteral("insert"), sentence(random, 2) + QLatin1Char(' ') },
            { QStringLiteral("attributes"), QJsonObject { { QStringLiteral("bold"), true } } } });
        addLine(ops, sentence(random, 8 + random.bounded(30)));
        const int kind = random.bounded(6);
        const int items = 2 + random.bounded(5);
        for (int i = 0; i < items; ++i) {
            switch (kind) {
            case 0:
                addLine(ops, sentence(random, 3 + random.bounded(5)),
                    { { QStringLiteral("list"), QStringLiteral("bullet") } });
                break;
            case 1:
                addLine(ops, sentence(random, 3 + random.bounded(5)),
                    { { QStringLiteral("list"),
                        random.bounded(3) == 0 ? QStringLiteral("checked")
                                               : QStringLiteral("unchecked") } });
                break;
            case 2:
                addLine(ops,
                    (random.bounded(4) == 0 ? QStringLiteral("- [x] ") : QStringLiteral("- [ ] "))
                        + sentence(random, 2 + random.bounded(4)));
                break;
            default:
                break;
            }
        }
        if (random.bounded(5) == 0)
            addLine(ops, QStringLiteral("TODO: ") + sentence(random, 3 + random.bounded(4)));
    }
    return Delta::toText(ops);
}

// Fills the database under NOTES_DATA_DIR with `noteCount` notes; a tenth of them trashed and a
// few shared each way. False when the database cannot be written.
inline bool generate(int noteCount, quint32 seed = 20240611)
{
    Database database;
    if (!database.open(databasePath()) || !database.migrate())
        return false;
    NotebookRepository notebooks(&database);
    NoteRepository notes(&database);
    PreferencesRepository preferences(&database);
    preferences.setBool(QStringLiteral("has_seen_welcome"), true);

    QRandomGenerator random(seed);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList notebookIds;
    for (int i = 0; i < 8; ++i) {
        Notebook notebook;
        notebook.id = newId();
        notebook.name = sentence(random, 1) + QLatin1Char(' ') + QString::number(i + 1);
        notebook.createdAt = notebook.updatedAt = now.addDays(-400);
        if (!notebooks.insert(notebook))
            return false;
        notebookIds.append(notebook.id);
    }

    QSqlDatabase connection = database.connection();
    connection.transaction();
    for (int i = 0; i < noteCount; ++i) {
        Note note;
        note.id = newId();
        if (random.bounded(3) != 0)
            note.notebookId = notebookIds.at(random.bounded(int(notebookIds.size())));
        note.body = makeBody(random);
        // Spread over a year, with a handful in the last hours so relative dates vary.
        const qint64 age = i < 5 ? qint64(i) * 1800 + 30 : qint64(random.bounded(365 * 24 * 3600));
        const QDateTime when = now.addSecs(-age);
        note.createdAt = note.updatedAt = note.modifiedAt = when;
        note.syncStatus = random.bounded(8) == 0 ? SyncStatus::Pending : SyncStatus::Synced;
        if (random.bounded(10) == 0)
            note.deletedAt = when.addSecs(60);
        if (random.bounded(40) == 0) {
            note.ownerId = QStringLiteral("user-") + QString::number(random.bounded(5));
            note.permission = random.bounded(2) ? QStringLiteral("edit") : QStringLiteral("read");
        } else if (random.bounded(40) == 0) {
            note.isShared = true;
        }
        if (!notes.insert(note)) {
            connection.rollback();
            return false;
        }
    }
    return connection.commit();
}

} // namespace ScreenCollection
