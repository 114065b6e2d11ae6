#pragma once

#include "importresult.h"

#include <QString>

#include <functional>

class AppState;
class QProgressDialog;
class QWidget;

// File > Backup Database... and File > Restore Database...: the file dialogs, the question, and
// a progress dialog that appears when the work takes longer than half a second. Signed in, a
// restore syncs first, restores with overwrite, and syncs again so the backup reaches the account.
namespace BackupCommands {

// Called, with the progress dialog, wherever a backup or restore lets events through; tests
// hold the work there to stand for a long one, or press Cancel.
using WorkStep = std::function<void(QProgressDialog *)>;

// Asks for the destination, then backupTo. The status-bar text on success, else empty.
QString backupDatabase(AppState *state, QWidget *parent);
// Writes the backup with a progress dialog that can cancel it; a failure (not a cancel) is shown
// as "Backup Failed". The status-bar text on success, else empty.
QString backupTo(AppState *state, QWidget *parent, const QString &path, const WorkStep &step = {});

// Asks for the archive and whether to import, then restoreFrom (nobody signed in) or
// restoreToAccount.
void restoreDatabase(AppState *state, QWidget *parent);
// Restores without overwriting, with a progress dialog, and shows "Restore Complete".
ImportResult restoreFrom(
    AppState *state, QWidget *parent, const QString &path, const WorkStep &step = {});
// The signed-in flow: returns at once; a progress dialog follows the two syncs around the
// overwriting restore, and a message box tells the outcome.
void restoreToAccount(AppState *state, QWidget *parent, const QString &path);

} // namespace BackupCommands
