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

// Migration 3: the index of the text people read (titles and plain text, see searchtext.h),
// beside notes_fts. Its rows are written by NoteRepository, which computes the text; these
// triggers only drop a note's row when its body changes or the note goes, so a writer that
// does not know the index (an older version of the program) leaves a note unindexed until
// the next start fills it in, never indexed under text it no longer holds.
QList<MigrationStep> searchIndexSteps();
