#pragma once

#include "note.h"

class AppState;

// A note with defaults, a fresh id and the sample flag set.
Note newSampleNote();
// Inserts the seven sample notes (the developer's Help menu command); returns how many went in.
int insertSampleNotes(AppState *appState);
// Inserts the three welcome notes once per data directory, guarded by "has_seen_welcome".
void seedWelcomeNotes(AppState *appState);
