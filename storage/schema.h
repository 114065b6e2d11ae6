#pragma once

#include <QList>

// The schema's statement texts, kept verbatim: databases written by other versions of the
// program hold the same texts in sqlite_master.

// Migration 1, in execution order.
QList<const char *> initialSchemaStatements();

struct MigrationStep
{
    const char *label; // names the step in the error log
    const char *sql;
};

// Migration 2: rebuilds notes without the old foreign key to the default notebook.
QList<MigrationStep> rebuildNotesSteps();
