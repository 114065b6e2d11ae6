#pragma once

#include "attachmentrepository.h"
#include "database.h"
#include "importers.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

inline void fuzzRequire(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// One data directory for the whole run: every input is imported into it, and what an import
// may and may not leave behind is checked after each.
struct FuzzImportStore
{
    QTemporaryDir dir;
    Database database;
    NoteRepository *notes = nullptr;
    NotebookRepository *notebooks = nullptr;
    AttachmentRepository *attachments = nullptr;
    NoteWriter *writer = nullptr;

    FuzzImportStore()
    {
        fuzzRequire(dir.isValid() && database.open(dir.filePath(QStringLiteral("fuzz.db")))
                && database.migrate(),
            "can't make the data directory");
        notes = new NoteRepository(&database);
        notebooks = new NotebookRepository(&database);
        attachments
            = new AttachmentRepository(&database, dir.filePath(QStringLiteral("data/attachments")));
        writer = new NoteWriter(&database, notes, notebooks);
    }

    // Counted in SQL: the store grows over a run, and reading every body back would slow it.
    int count(const char *table)
    {
        QSqlQuery query(database.connection());
        query.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)));
        return query.next() ? query.value(0).toInt() : -1;
    }

    void check(const QByteArray &archive, const Importer &importer)
    {
        const QString path = dir.filePath(QStringLiteral("input"));
        QFile file(path);
        fuzzRequire(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "can't write input");
        file.write(archive);
        file.close();

        const int notesBefore = count("notes");
        const int notebooksBefore = count("notebooks");
        const ImportTarget target { writer, notes, notebooks, attachments };
        // Notebooks are made once the whole archive has been read, just before the notes; an
        // import that fails before that point must leave none.
        bool reachedNotes = false;
        const ImportResult result
            = importer(target, path, [&](int current, int total, const QString &text) {
                  if (current == 0 && total >= 0 && text.startsWith(QLatin1String("Importing ")))
                      reachedNotes = true;
              });
        fuzzRequire(count("notes") == notesBefore + result.imported, "notes counted wrongly");
        fuzzRequire(reachedNotes || count("notebooks") == notebooksBefore,
            "a failed import left notebooks");
        fuzzRequire(result.errors == 0 || !result.errorMessage.isEmpty(), "an error unexplained");
        const QStringList top
            = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString &name : top) {
            fuzzRequire(name == QLatin1String("input") || name == QLatin1String("data")
                    || name.startsWith(QLatin1String("fuzz.db")),
                "something was written outside the data directory");
        }
        const QStringList inData
            = QDir(dir.filePath(QStringLiteral("data")))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        fuzzRequire(inData.isEmpty() || inData == QStringList { QStringLiteral("attachments") },
            "staging left behind");
        for (const QString &name :
            QDir(attachments->directory())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            fuzzRequire(AttachmentRepository::isValidId(name), "an attachment not named by an id");
    }
};
