#include "backupcommands.h"

#include "appstate.h"
#include "backup.h"
#include "syncengine.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>

#include <algorithm>
#include <memory>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

ImportTarget targetOf(AppState *state)
{
    return ImportTarget { state->writer(), state->notes(), state->notebooks(),
        state->attachments() };
}

// Application-modal, busy until the work knows its size, shown only after half a second.
void prepare(QProgressDialog &dialog, const QString &title)
{
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setRange(0, 0);
    dialog.setValue(0); // starts the half-second clock
}

} // namespace

namespace BackupCommands {

QString backupDatabase(AppState *state, QWidget *parent)
{
    const QString path = QFileDialog::getSaveFileName(parent, tr("Save Backup"),
        QStringLiteral("brevaro-notes-backup.zip"), tr("ZIP Archive (*.zip)"));
    if (path.isEmpty())
        return QString();
    return backupTo(state, parent, path);
}

QString backupTo(AppState *state, QWidget *parent, const QString &path, const WorkStep &step)
{
    QProgressDialog dialog(tr("Backing up notes…"), tr("Cancel"), 0, 0, parent);
    prepare(dialog, tr("Backup"));
    // Backup reads the collection up front and writes nothing to it, so the events that a
    // modal progress dialog lets through (repaints, the Cancel button, autosave) are safe here.
    const ImportResult result = createBackup(
        path, targetOf(state),
        [&](int current, int total, const QString &text) {
            dialog.setLabelText(text);
            if (total > 0) {
                dialog.setMaximum(total);
                dialog.setValue(std::max(1, current));
            }
        },
        [&] {
            if (dialog.isVisible())
                QCoreApplication::processEvents();
            if (step)
                step(&dialog);
            return dialog.wasCanceled();
        });
    // hide, not close: closing a progress dialog counts as pressing Cancel.
    dialog.hide();
    if (result.errors > 0) {
        if (!dialog.wasCanceled())
            QMessageBox::warning(parent, tr("Backup Failed"), result.errorMessage);
        return QString();
    }
    return tr("Backup saved: %1 notes").arg(result.imported);
}

void restoreDatabase(AppState *state, QWidget *parent)
{
    const QString path = QFileDialog::getOpenFileName(
        parent, tr("Select Backup"), QString(), tr("ZIP Archive (*.zip)"));
    if (path.isEmpty())
        return;
    if (state->isSignedIn() && state->syncEngine()) {
        const auto answer = QMessageBox::question(parent, tr("Restore Backup"),
            tr("Restore this backup to your account? Everything in the backup is brought back "
               "and synced to all your devices — including notes you deleted or changed after "
               "the backup was made."),
            QMessageBox::Yes | QMessageBox::No);
        if (answer == QMessageBox::Yes)
            restoreToAccount(state, parent, path);
        return;
    }
    const auto answer = QMessageBox::question(parent, tr("Restore Backup"),
        tr("Import notes from backup? Existing notes with the same ID will be skipped."),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    restoreFrom(state, parent, path);
}

ImportResult restoreFrom(
    AppState *state, QWidget *parent, const QString &path, const WorkStep &step)
{
    QProgressDialog dialog(tr("Reading backup…"), QString(), 0, 0, parent);
    dialog.setCancelButton(nullptr);
    prepare(dialog, tr("Restore Backup"));
    const ImportResult result
        = restoreBackup(path, targetOf(state), false, [&](int, int total, const QString &text) {
              dialog.setLabelText(text);
              // Events run only while the archive is read: once the notes are being written
              // inside one transaction, an autosave let in here would join it.
              if (total <= 0) {
                  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                  if (step)
                      step(&dialog);
              }
          });
    dialog.hide();
    QString text = tr("Imported: %1\nSkipped: %2\nErrors: %3")
                       .arg(result.imported)
                       .arg(result.skipped)
                       .arg(result.errors);
    // The counts alone would not say why nothing came back.
    if (result.errors > 0 && !result.errorMessage.isEmpty())
        text += QStringLiteral("\n\n") + result.errorMessage;
    QMessageBox::information(parent, tr("Restore Complete"), text);
    return result;
}

void restoreToAccount(AppState *state, QWidget *parent, const QString &path)
{
    SyncEngine *engine = state->syncEngine();
    auto *dialog = new QProgressDialog(tr("Syncing before restore…"), QString(), 0, 0, parent);
    dialog->setCancelButton(nullptr);
    dialog->setWindowTitle(tr("Restoring Backup"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->show();

    // Phase 0 syncs before the restore, so the server's newer changes are here before the backup
    // overwrites them; phase 1 has restored and syncs the result up.
    struct Flow
    {
        int phase = 0;
        int restored = 0;
        QString problems; // what the restore could not bring back, told at the end
        QList<QMetaObject::Connection> connections;
    };
    auto flow = std::make_shared<Flow>();
    QPointer<QWidget> owner(parent);
    const auto finish = [flow, dialog] {
        for (const QMetaObject::Connection &connection : std::as_const(flow->connections))
            QObject::disconnect(connection);
        flow->connections.clear();
        dialog->close();
        dialog->deleteLater();
    };

    flow->connections << QObject::connect(engine, &SyncEngine::syncProgress, dialog,
        [dialog](const QString &label, int current, int total) {
            if (total < 1 || current < 1) {
                dialog->setRange(0, 0);
                dialog->setLabelText(label + QStringLiteral("…"));
                return;
            }
            dialog->setRange(0, total);
            dialog->setValue(current);
            dialog->setLabelText(tr("%1 (%2 of %3)…").arg(label).arg(current).arg(total));
        });
    flow->connections << QObject::connect(engine, &SyncEngine::syncCompleted, dialog, [=] {
        if (flow->phase == 0) {
            flow->phase = 1;
            dialog->setRange(0, 0);
            dialog->setLabelText(tr("Restoring notes…"));
            const ImportResult result = restoreBackup(path, targetOf(state), true, {});
            flow->restored = result.imported;
            if (result.errors > 0) {
                flow->problems = tr("Errors: %1").arg(result.errors);
                if (!result.errorMessage.isEmpty())
                    flow->problems += QStringLiteral("\n") + result.errorMessage;
            }
            // An archive that could not be read changed nothing: there is nothing to sync,
            // and "restored" would not be true.
            if (result.imported == 0 && result.errors > 0) {
                finish();
                QMessageBox::warning(owner, tr("Restore Failed"), flow->problems);
                return;
            }
            engine->sync();
            return;
        }
        finish();
        QString text = tr("Restored %1 items and synced them to your account.").arg(flow->restored);
        if (!flow->problems.isEmpty())
            text += QStringLiteral("\n\n") + flow->problems;
        QMessageBox::information(owner, tr("Restore Complete"), text);
    });
    flow->connections << QObject::connect(
        engine, &SyncEngine::syncFailed, dialog, [=](const QString &error) {
            const int phase = flow->phase;
            finish();
            if (phase == 0) {
                QMessageBox::warning(owner, tr("Restore Aborted"),
                    tr("Couldn't sync before restoring, so nothing was changed:\n%1").arg(error));
                return;
            }
            QString text = tr("Restored %1 items. They'll finish uploading to your account "
                              "automatically once syncing succeeds.")
                               .arg(flow->restored);
            if (!flow->problems.isEmpty())
                text += QStringLiteral("\n\n") + flow->problems;
            QMessageBox::information(owner, tr("Restore Complete"), text);
        });
    engine->sync();
}

} // namespace BackupCommands
