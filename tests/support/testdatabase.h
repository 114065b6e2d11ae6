#pragma once

#include "testdatadir.h"

#include "database.h"
#include "note.h"
#include "notebook.h"

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
