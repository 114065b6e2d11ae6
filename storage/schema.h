#pragma once

#include <QList>

// The schema's statement texts, kept verbatim: databases written by other versions of the
// program hold the same texts in sqlite_master.

// Migration 1, in execution order.
QList<const char *> initialSchemaStatements();
// The trigger of migration 1 that indexes a new note's body in notes_fts, for putting it back
// after a bulk insert that wrote those rows itself (NoteRepository::beginBulkInsert).
const char *notesInsertTriggerStatement();

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

// Migration 4: the update triggers of both full-text tables fire only when the body changes,
// so marking notes synced (10,000 at a time after a first pull) no longer rewrites their index
// rows. The tables themselves stay as they are.
QList<MigrationStep> indexedColumnTriggerSteps();
