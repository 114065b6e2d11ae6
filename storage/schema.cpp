#include "schema.h"

namespace {

const char kCreateNotebooks[] = "CREATE TABLE IF NOT EXISTS notebooks ("
                                "  id          TEXT PRIMARY KEY,"
                                "  name        TEXT NOT NULL,"
                                "  is_default  INTEGER NOT NULL DEFAULT 0,"
                                "  is_shared   INTEGER NOT NULL DEFAULT 0,"
                                "  owner_id    TEXT,"
                                "  created_at  TEXT NOT NULL,"
                                "  updated_at  TEXT NOT NULL,"
                                "  deleted_at  TEXT,"
                                "  version     INTEGER NOT NULL DEFAULT 1,"
                                "  sync_status TEXT NOT NULL DEFAULT 'pending')";

const char kIdxNotebooksDeletedAt[]
    = "CREATE INDEX IF NOT EXISTS idx_notebooks_deleted_at ON notebooks(deleted_at)";

const char kIdxNotebooksSyncStatus[]
    = "CREATE INDEX IF NOT EXISTS idx_notebooks_sync_status ON notebooks(sync_status)";

const char kCreateNotes[] = "CREATE TABLE IF NOT EXISTS notes ("
                            "  id          TEXT PRIMARY KEY,"
                            "  notebook_id TEXT NOT NULL DEFAULT '',"
                            "  body        TEXT NOT NULL DEFAULT '',"
                            "  created_at  TEXT NOT NULL,"
                            "  updated_at  TEXT NOT NULL,"
                            "  modified_at TEXT NOT NULL,"
                            "  deleted_at  TEXT,"
                            "  version     INTEGER NOT NULL DEFAULT 1,"
                            "  op_version  INTEGER NOT NULL DEFAULT 0,"
                            "  sync_status TEXT NOT NULL DEFAULT 'pending',"
                            "  is_sample   INTEGER NOT NULL DEFAULT 0,"
                            "  owner_id    TEXT,"
                            "  is_shared   INTEGER NOT NULL DEFAULT 0,"
                            "  permission  TEXT)";

const char kIdxNotesNotebookId[]
    = "CREATE INDEX IF NOT EXISTS idx_notes_notebook_id ON notes(notebook_id)";

const char kIdxNotesUpdatedAt[]
    = "CREATE INDEX IF NOT EXISTS idx_notes_updated_at ON notes(updated_at)";

const char kIdxNotesModifiedAt[]
    = "CREATE INDEX IF NOT EXISTS idx_notes_modified_at ON notes(modified_at)";

const char kIdxNotesDeletedAt[]
    = "CREATE INDEX IF NOT EXISTS idx_notes_deleted_at ON notes(deleted_at)";

const char kIdxNotesSyncStatus[]
    = "CREATE INDEX IF NOT EXISTS idx_notes_sync_status ON notes(sync_status)";

const char kCreateNotesFts[] = "CREATE VIRTUAL TABLE IF NOT EXISTS notes_fts USING fts5("
                               "  body,"
                               "  content='notes',"
                               "  content_rowid='rowid')";

const char kTriggerNotesAi[]
    = "CREATE TRIGGER IF NOT EXISTS notes_ai AFTER INSERT ON notes BEGIN"
      "  INSERT INTO notes_fts(rowid, body) VALUES (new.rowid, new.body);END";

const char kTriggerNotesAd[]
    = "CREATE TRIGGER IF NOT EXISTS notes_ad AFTER DELETE ON notes BEGIN"
      "  INSERT INTO notes_fts(notes_fts, rowid, body) VALUES ('delete', old.rowid, old.body);END";

const char kTriggerNotesAu[]
    = "CREATE TRIGGER IF NOT EXISTS notes_au AFTER UPDATE ON notes BEGIN"
      "  INSERT INTO notes_fts(notes_fts, rowid, body) VALUES ('delete', old.rowid, old.body);"
      "  INSERT INTO notes_fts(rowid, body) VALUES (new.rowid, new.body);END";

const char kCreateNoteOperations[] = "CREATE TABLE IF NOT EXISTS note_operations ("
                                     "  id              TEXT PRIMARY KEY,"
                                     "  note_id         TEXT NOT NULL REFERENCES notes(id),"
                                     "  base_version    INTEGER NOT NULL,"
                                     "  result_version  INTEGER NOT NULL,"
                                     "  operation       TEXT NOT NULL,"
                                     "  created_at      TEXT NOT NULL,"
                                     "  synced          INTEGER NOT NULL DEFAULT 0)";

const char kIdxNoteOperationsVersion[] = "CREATE INDEX IF NOT EXISTS idx_note_operations_version "
                                         "ON note_operations(note_id, result_version)";

const char kIdxNoteOperationsSynced[]
    = "CREATE INDEX IF NOT EXISTS idx_note_operations_synced ON note_operations(synced)";

const char kCreateNoteSnapshots[] = "CREATE TABLE IF NOT EXISTS note_snapshots ("
                                    "  id          TEXT PRIMARY KEY,"
                                    "  note_id     TEXT NOT NULL REFERENCES notes(id),"
                                    "  version     INTEGER NOT NULL,"
                                    "  body        TEXT NOT NULL,"
                                    "  created_at  TEXT NOT NULL,"
                                    "  UNIQUE(note_id, version))";

const char kIdxNoteSnapshotsVersion[] = "CREATE INDEX IF NOT EXISTS idx_note_snapshots_version ON "
                                        "note_snapshots(note_id, version DESC)";

const char kCreateAttachments[] = "CREATE TABLE IF NOT EXISTS attachments ("
                                  "  id          TEXT PRIMARY KEY,"
                                  "  note_id     TEXT NOT NULL REFERENCES notes(id),"
                                  "  filename    TEXT NOT NULL,"
                                  "  mime_type   TEXT NOT NULL,"
                                  "  size_bytes  INTEGER NOT NULL,"
                                  "  created_at  TEXT NOT NULL,"
                                  "  sync_status TEXT NOT NULL DEFAULT 'pending')";

const char kIdxAttachmentsNoteId[]
    = "CREATE INDEX IF NOT EXISTS idx_attachments_note_id ON attachments(note_id)";

const char kCreateSyncQueue[] = "CREATE TABLE IF NOT EXISTS sync_queue ("
                                "  id          INTEGER PRIMARY KEY AUTOINCREMENT,"
                                "  entity_type TEXT NOT NULL,"
                                "  entity_id   TEXT NOT NULL,"
                                "  action      TEXT NOT NULL,"
                                "  payload     TEXT,"
                                "  created_at  TEXT NOT NULL,"
                                "  attempts    INTEGER NOT NULL DEFAULT 0)";

const char kIdxSyncQueueEntity[]
    = "CREATE INDEX IF NOT EXISTS idx_sync_queue_entity ON sync_queue(entity_type, entity_id)";

const char kCreateTasks[] = "CREATE TABLE IF NOT EXISTS tasks ("
                            "  id              TEXT PRIMARY KEY,"
                            "  note_id         TEXT NOT NULL REFERENCES notes(id),"
                            "  text            TEXT NOT NULL,"
                            "  is_completed    INTEGER NOT NULL DEFAULT 0,"
                            "  source          TEXT NOT NULL,"
                            "  line_index      INTEGER NOT NULL,"
                            "  char_offset     INTEGER NOT NULL,"
                            "  due_date        TEXT,"
                            "  due_date_phrase TEXT,"
                            "  extracted_at    TEXT NOT NULL,"
                            "  note_updated_at TEXT NOT NULL)";

const char kIdxTasksNoteId[] = "CREATE INDEX IF NOT EXISTS idx_tasks_note_id ON tasks(note_id)";

const char kIdxTasksCompleted[]
    = "CREATE INDEX IF NOT EXISTS idx_tasks_completed ON tasks(is_completed)";

const char kIdxTasksDueDate[] = "CREATE INDEX IF NOT EXISTS idx_tasks_due_date ON tasks(due_date)";

const char kCreateNoteTaskSettings[] = "CREATE TABLE IF NOT EXISTS note_task_settings ("
                                       "  note_id          TEXT PRIMARY KEY REFERENCES notes(id),"
                                       "  include_in_todos INTEGER NOT NULL DEFAULT 1)";

const char kCreatePreferences[] = "CREATE TABLE IF NOT EXISTS preferences ("
                                  "  key   TEXT PRIMARY KEY,"
                                  "  value TEXT)";

// Same column list as kCreateNotes, minus the foreign key earlier versions had on notebook_id.
const char kCreateNotesNew[] = "CREATE TABLE notes_new ("
                               "  id          TEXT PRIMARY KEY,"
                               "  notebook_id TEXT NOT NULL DEFAULT '',"
                               "  body        TEXT NOT NULL DEFAULT '',"
                               "  created_at  TEXT NOT NULL,"
                               "  updated_at  TEXT NOT NULL,"
                               "  modified_at TEXT NOT NULL,"
                               "  deleted_at  TEXT,"
                               "  version     INTEGER NOT NULL DEFAULT 1,"
                               "  op_version  INTEGER NOT NULL DEFAULT 0,"
                               "  sync_status TEXT NOT NULL DEFAULT 'pending',"
                               "  is_sample   INTEGER NOT NULL DEFAULT 0,"
                               "  owner_id    TEXT,"
                               "  is_shared   INTEGER NOT NULL DEFAULT 0,"
                               "  permission  TEXT)";

const char kCopyNotes[]
    = "INSERT INTO notes_new SELECT id,"
      "   CASE WHEN notebook_id IN (SELECT id FROM notebooks WHERE is_default = 1)"
      "        THEN '' ELSE notebook_id END,"
      "   body, created_at, updated_at, modified_at, deleted_at,"
      "   version, op_version, sync_status, is_sample, owner_id, is_shared, permission FROM notes";

} // namespace

const char *notesInsertTriggerStatement()
{
    return kTriggerNotesAi;
}

QList<const char *> initialSchemaStatements()
{
    return {
        kCreateNotebooks,
        kIdxNotebooksDeletedAt,
        kIdxNotebooksSyncStatus,
        kCreateNotes,
        kIdxNotesNotebookId,
        kIdxNotesUpdatedAt,
        kIdxNotesModifiedAt,
        kIdxNotesDeletedAt,
        kIdxNotesSyncStatus,
        kCreateNotesFts,
        kTriggerNotesAi,
        kTriggerNotesAd,
        kTriggerNotesAu,
        kCreateNoteOperations,
        kIdxNoteOperationsVersion,
        kIdxNoteOperationsSynced,
        kCreateNoteSnapshots,
        kIdxNoteSnapshotsVersion,
        kCreateAttachments,
        kIdxAttachmentsNoteId,
        kCreateSyncQueue,
        kIdxSyncQueueEntity,
        kCreateTasks,
        kIdxTasksNoteId,
        kIdxTasksCompleted,
        kIdxTasksDueDate,
        kCreateNoteTaskSettings,
        kCreatePreferences,
    };
}

QList<MigrationStep> rebuildNotesSteps()
{
    return {
        { "create notes_new", kCreateNotesNew },
        { "copy notes", kCopyNotes },
        { "drop trigger ai", "DROP TRIGGER IF EXISTS notes_ai" },
        { "drop trigger ad", "DROP TRIGGER IF EXISTS notes_ad" },
        { "drop trigger au", "DROP TRIGGER IF EXISTS notes_au" },
        { "drop notes", "DROP TABLE notes" },
        { "rename notes_new", "ALTER TABLE notes_new RENAME TO notes" },
        { "idx notebook_id", kIdxNotesNotebookId },
        { "idx updated_at", kIdxNotesUpdatedAt },
        { "idx modified_at", kIdxNotesModifiedAt },
        { "idx deleted_at", kIdxNotesDeletedAt },
        { "idx sync_status", kIdxNotesSyncStatus },
        { "trigger ai", kTriggerNotesAi },
        { "trigger ad", kTriggerNotesAd },
        { "trigger au", kTriggerNotesAu },
        { "fts rebuild", "INSERT INTO notes_fts(notes_fts) VALUES('rebuild')" },
        { "delete default", "DELETE FROM notebooks WHERE is_default = 1" },
    };
}

QList<MigrationStep> searchIndexSteps()
{
    return {
        { "create notes_text_fts",
            "CREATE VIRTUAL TABLE IF NOT EXISTS notes_text_fts USING fts5(  title,  body,  "
            "tokenize='unicode61 remove_diacritics 2')" },
        { "trigger text ad",
            "CREATE TRIGGER IF NOT EXISTS notes_text_ad AFTER DELETE ON notes BEGIN  DELETE FROM "
            "notes_text_fts WHERE rowid = old.rowid;END" },
        { "trigger text au",
            "CREATE TRIGGER IF NOT EXISTS notes_text_au AFTER UPDATE OF body ON notes BEGIN  "
            "DELETE FROM notes_text_fts WHERE rowid = old.rowid;END" },
    };
}

QList<MigrationStep> indexedColumnTriggerSteps()
{
    return {
        { "drop trigger au", "DROP TRIGGER IF EXISTS notes_au" },
        { "trigger au body",
            "CREATE TRIGGER notes_au AFTER UPDATE OF body ON notes WHEN old.body IS NOT new.body "
            "BEGIN"
            "  INSERT INTO notes_fts(notes_fts, rowid, body) VALUES ('delete', old.rowid, "
            "old.body);"
            "  INSERT INTO notes_fts(rowid, body) VALUES (new.rowid, new.body);END" },
        { "drop trigger text au", "DROP TRIGGER IF EXISTS notes_text_au" },
        { "trigger text au body",
            "CREATE TRIGGER notes_text_au AFTER UPDATE OF body ON notes WHEN old.body IS NOT "
            "new.body BEGIN  DELETE FROM notes_text_fts WHERE rowid = old.rowid;END" },
    };
}
