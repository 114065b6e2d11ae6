#include "backupcommands.h"

#include "appstate.h"
#include "backup.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

#include <algorithm>

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

QString backupTo(AppState *state, QWidget *parent, const QString &path)
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
    const auto answer = QMessageBox::question(parent, tr("Restore Backup"),
        tr("Import notes from backup? Existing notes with the same ID will be skipped."),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    restoreFrom(state, parent, path);
}

ImportResult restoreFrom(AppState *state, QWidget *parent, const QString &path)
{
    QProgressDialog dialog(tr("Reading backup…"), QString(), 0, 0, parent);
    dialog.setCancelButton(nullptr);
    prepare(dialog, tr("Restore Backup"));
    const ImportResult result
        = restoreBackup(path, targetOf(state), false, [&](int, int total, const QString &text) {
              dialog.setLabelText(text);
              // Events run only while the archive is read: once the notes are being written
              // inside one transaction, an autosave let in here would join it.
              if (total <= 0)
                  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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

} // namespace BackupCommands
