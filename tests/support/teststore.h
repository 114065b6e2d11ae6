#pragma once

#include "attachmentrepository.h"
#include "importers.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "testdatabase.h"

#include <QDir>

// A migrated database in its own data directory with the repositories and the write path over
// it: what restore and the importers write into.
struct TestStore
{
    TestDatabase db;
    NoteRepository notes { db.database() };
    NotebookRepository notebooks { db.database() };
    AttachmentRepository attachments { db.database(),
        db.dataPath() + QStringLiteral("/attachments") };
    NoteWriter writer { db.database(), &notes, &notebooks };

    ImportTarget target() { return ImportTarget { &writer, &notes, &notebooks, &attachments }; }

    int noteCount() const { return int(notes.allNotes().size() + notes.trashedNotes().size()); }
    QStringList attachmentFiles() const
    {
        return QDir(attachments.directory()).entryList(QDir::Files, QDir::Name);
    }
    // Everything in the data directory but the database: staging leftovers show up here.
    QStringList strayEntries() const
    {
        QStringList entries
            = QDir(db.dataPath())
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        entries.removeIf([](const QString &name) {
            return name.startsWith(QLatin1String("test.db"))
                || name.startsWith(QLatin1String("brevaro_notes_"))
                || name == QLatin1String("attachments");
        });
        return entries;
    }
};
