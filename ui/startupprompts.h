#pragma once

#include "appstate.h"
#include "note.h"
#include "recoveryfile.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The questions asked at start-up when the last run left something behind: a database that
// failed to open or to pass its check, and note texts that could not be saved.
namespace StartupPrompts {

enum class DatabaseChoice { Quit, StartNew, RecoverIntoNew };

// The "Database Error" message: what went wrong and where the file is.
QString databaseErrorText(const AppState::DatabaseFailure &failure);
// Whether a new collection can be offered: only with a file to set aside.
bool canStartOver(const AppState::DatabaseFailure &failure);
// The "Database Error" box. "Recover Notes" is Yes, "Start New Collection" No, "Quit" Close.
DatabaseChoice askDatabaseError(const AppState::DatabaseFailure &failure, QWidget *parent);
// Carries out the choice on a state whose initialize failed: sets the file aside, opens a new
// collection and, when asked, recovers what can be read into it. True when a collection is
// open afterwards; `report` gets a sentence for the user either way.
bool resolveDatabaseFailure(AppState *state,
    const std::function<DatabaseChoice(const AppState::DatabaseFailure &)> &ask, QString *report);

enum class UnsavedChoice { IntoNote, AsNewNote, Discard, Later };

// Restoring into the note is offered only while the note is there, out of the trash, editable,
// and not saved again since the kept text was written: a newer saved body is never replaced.
bool canRestoreIntoNote(const RecoveryFile::Entry &entry, const std::optional<Note> &stored);
// One box per kept text: "Restore into Note" is Yes (when allowed), "Restore as New Note" Save,
// "Discard" Discard, "Not Now" Close.
UnsavedChoice askUnsavedNote(
    const RecoveryFile::Entry &entry, const std::optional<Note> &stored, QWidget *parent);
// Applies a choice; the entry leaves the file only once its text is stored (or discarded).
bool applyUnsavedChoice(AppState *state, const RecoveryFile::Entry &entry, UnsavedChoice choice);
// Asks about every kept text in turn. The number restored.
int offerUnsavedNotes(AppState *state,
    const std::function<UnsavedChoice(const RecoveryFile::Entry &, const std::optional<Note> &)>
        &ask);

} // namespace StartupPrompts
