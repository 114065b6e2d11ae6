#pragma once

#include "testdatadir.h"

#include "database.h"
#include "note.h"
#include "notebook.h"
#include "writeerror.h"

#include <QDateTime>
#include <QString>

#include <memory>

// A migrated database in its own temporary NOTES_DATA_DIR, for tests of the repositories and
// of everything built on them.
class TestDatabase final
{
public:
    TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    bool isValid() const { return m_valid; }
    Database *database() const { return m_database.get(); }
    QString dataPath() const { return m_dir.path(); }

    // Runs one statement on the test connection; false (with a test warning) when it fails.
    bool exec(const QString &sql) const;
    // The single integer the statement returns, or -1.
    int scalar(const QString &sql) const;

    // A fresh note with a new id, the empty document body unless given, all times `time`.
    static Note makeNote(const QString &body = QString(), const QString &notebookId = QString(),
        const QDateTime &time = QDateTime::currentDateTimeUtc());
    static Notebook makeNotebook(const QString &name);

private:
    TestDataDir m_dir;
    std::unique_ptr<Database> m_database;
    bool m_valid = false;
};

// Makes the connection of `database` refuse writes as a full disk does (DiskFull: no page
// beyond those the file has; a write needing more fails) or a read-only file does (ReadOnly);
// None lifts either. Locked is not offered: it waits out SQLite's busy timeout.
bool setWriteFault(Database *database, WriteError::Kind fault);
// Overwrites `count` pages of the closed database file at `path`, from page `first` (1-based),
// with a fixed garbage pattern. False when the file is too short or cannot be written.
bool overwritePages(const QString &path, int first, int count);
