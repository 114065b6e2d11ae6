#pragma once

#include "testdatadir.h"

#include "database.h"
#include "note.h"
#include "notebook.h"
#include "writeerror.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>

class QProcess;

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
// None lifts either. Locked comes from another program: OtherProgramLock.
bool setWriteFault(Database *database, WriteError::Kind fault);
// Another program (the sqlite3 tool) holding the write lock of a database file, as a second
// program would; released by release() or on destruction.
class OtherProgramLock final
{
public:
    OtherProgramLock();
    ~OtherProgramLock();
    OtherProgramLock(const OtherProgramLock &) = delete;
    OtherProgramLock &operator=(const OtherProgramLock &) = delete;

    static bool toolAvailable();
    // Starts the tool on `path` and returns once its exclusive transaction holds the lock;
    // false (with a test warning) when it could not take it.
    bool hold(const QString &path);
    // Ends the transaction (nothing written) and the program.
    bool release();

private:
    bool runAndConfirm(const QByteArray &command, const QByteArray &marker);

    std::unique_ptr<QProcess> m_process;
};

// Overwrites `count` pages of the closed database file at `path`, from page `first` (1-based),
// with a fixed garbage pattern. False when the file is too short or cannot be written.
bool overwritePages(const QString &path, int first, int count);
