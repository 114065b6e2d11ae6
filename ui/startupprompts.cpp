#include "startupprompts.h"

#include "notebookrepository.h"
#include "noterepository.h"
#include "notetext.h"
#include "notewriter.h"
#include "snapshotrepository.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>

namespace StartupPrompts {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("StartupPrompts", text);
}

} // namespace

QString databaseErrorText(const AppState::DatabaseFailure &failure)
{
    QString what;
    switch (failure.kind) {
    case AppState::DatabaseFailure::Kind::Damaged:
        what = tr("The notes database is damaged and cannot be used as it is.");
        break;
    case AppState::DatabaseFailure::Kind::MigrationFailed:
        what = tr("The notes database could not be brought up to date.");
        break;
    case AppState::DatabaseFailure::Kind::CannotOpen:
    case AppState::DatabaseFailure::Kind::None:
        what = tr("Failed to initialize the database.");
        break;
    }
    QString text = what + QStringLiteral("\n\n") + tr("File: %1").arg(failure.path);
    if (canStartOver(failure)) {
        // A file checked after the window came up was already in use: what holds is that
        // nothing was written to it after the check failed.
        text += QStringLiteral("\n\n")
            + (failure.foundInUse
                    ? tr("Nothing has been written to this file since the damage was found. You "
                         "can keep it aside under a dated name and start a new collection, and "
                         "recover into it the notes that can still be read.")
                    : tr("Nothing in this file has been changed. You can keep it aside under a "
                         "dated name and start a new collection, and recover into it the notes "
                         "that can still be read."));
    } else {
        text += QStringLiteral("\n\n") + tr("Please check file permissions and try again.");
    }
    return text;
}

bool canStartOver(const AppState::DatabaseFailure &failure)
{
    return failure.kind != AppState::DatabaseFailure::Kind::None
        && QFileInfo(failure.path).isFile();
}

DatabaseChoice askDatabaseError(const AppState::DatabaseFailure &failure, QWidget *parent)
{
    QMessageBox box(QMessageBox::Critical, tr("Database Error"), databaseErrorText(failure),
        QMessageBox::Close, parent);
    if (!failure.detail.isEmpty())
        box.setDetailedText(failure.detail);
    if (canStartOver(failure)) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Close);
        box.button(QMessageBox::Yes)->setText(tr("Recover Notes"));
        box.button(QMessageBox::No)->setText(tr("Start New Collection"));
        box.setDefaultButton(QMessageBox::Yes);
    }
    box.button(QMessageBox::Close)->setText(tr("Quit"));
    box.setEscapeButton(QMessageBox::Close);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return DatabaseChoice::RecoverIntoNew;
    case QMessageBox::No:
        return DatabaseChoice::StartNew;
    default:
        return DatabaseChoice::Quit;
    }
}

bool resolveDatabaseFailure(AppState *state,
    const std::function<DatabaseChoice(const AppState::DatabaseFailure &)> &ask, QString *report)
{
    const AppState::DatabaseFailure failure = state->databaseFailure();
    const DatabaseChoice choice = ask(failure);
    if (choice == DatabaseChoice::Quit || !canStartOver(failure)) {
        *report = tr("The database was left as it is: %1").arg(failure.path);
        return false;
    }
    const QString aside = state->setAsideDatabase();
    if (aside.isEmpty()) {
        *report = tr("The damaged database could not be moved aside: %1").arg(failure.path);
        return false;
    }
    if (!state->initialize()) {
        *report = tr("A new collection could not be started either. The damaged database was "
                     "kept as %1.")
                      .arg(aside);
        return false;
    }
    if (choice == DatabaseChoice::StartNew) {
        *report
            = tr("A new collection was started. The damaged database was kept as %1.").arg(aside);
        return true;
    }
    const int recovered = state->recoverNotesFrom(aside);
    if (recovered < 0) {
        *report = tr("A new collection was started, but no notes could be recovered. The "
                     "damaged database was kept as %1.")
                      .arg(aside);
    } else {
        *report = QCoreApplication::translate("StartupPrompts",
            "A new collection was started with %n recovered note(s). The damaged database was "
            "kept as %1.",
            nullptr, recovered)
                      .arg(aside);
    }
    return true;
}

bool canRestoreIntoNote(const RecoveryFile::Entry &entry, const std::optional<Note> &stored)
{
    if (!stored || stored->deletedAt)
        return false;
    if (!stored->ownerId.isEmpty() && stored->permission != QLatin1String("edit"))
        return false;
    return stored->version <= entry.baseVersion;
}

UnsavedChoice askUnsavedNote(
    const RecoveryFile::Entry &entry, const std::optional<Note> &stored, QWidget *parent)
{
    const QString title = noteTitle(entry.body);
    QString text = tr("Changes to the note \"%1\" could not be saved during the last session "
                      "and were kept.")
                       .arg(title.isEmpty() ? tr("Untitled") : title);
    const bool intoNote = canRestoreIntoNote(entry, stored);
    if (!stored || stored->deletedAt)
        text += QStringLiteral("\n\n")
            + tr("The note itself is gone; they can come back as a "
                 "new note.");
    else if (!intoNote)
        text += QStringLiteral("\n\n")
            + tr("The note was saved again since then; to keep both, "
                 "they can come back as a new note.");
    QMessageBox box(
        QMessageBox::Warning, tr("Unsaved Changes"), text, QMessageBox::NoButton, parent);
    QMessageBox::StandardButtons buttons
        = QMessageBox::Save | QMessageBox::Discard | QMessageBox::Close;
    if (intoNote)
        buttons |= QMessageBox::Yes;
    box.setStandardButtons(buttons);
    if (intoNote) {
        box.button(QMessageBox::Yes)->setText(tr("Restore into Note"));
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setDefaultButton(QMessageBox::Save);
    }
    box.button(QMessageBox::Save)->setText(tr("Restore as New Note"));
    box.button(QMessageBox::Close)->setText(tr("Not Now"));
    box.setEscapeButton(QMessageBox::Close);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return UnsavedChoice::IntoNote;
    case QMessageBox::Save:
        return UnsavedChoice::AsNewNote;
    case QMessageBox::Discard:
        return UnsavedChoice::Discard;
    default:
        return UnsavedChoice::Later;
    }
}

bool applyUnsavedChoice(AppState *state, const RecoveryFile::Entry &entry, UnsavedChoice choice)
{
    RecoveryFile *file = state->recoveryFile();
    switch (choice) {
    case UnsavedChoice::Later:
        return false;
    case UnsavedChoice::Discard:
        qInfo().noquote() << "Discarded the kept text of note" << entry.noteId;
        return file->remove(entry.noteId);
    case UnsavedChoice::IntoNote: {
        std::optional<Note> stored = state->notes()->noteById(entry.noteId);
        // Asked again here: the answer may be stale, and a newer body must not be replaced.
        if (canRestoreIntoNote(entry, stored)) {
            // The stored body stays in the history, whatever the kept text does to it.
            state->snapshots()->takeSnapshot(*stored, stored->body);
            const bool saved = state->writer()->saveBody(*stored, entry.body)
                || !state->writer()->lastError().failed();
            if (!saved)
                return false;
            state->notifyNoteUpdated(entry.noteId, nullptr);
            qInfo().noquote() << "Restored the kept text into note" << entry.noteId;
            return file->remove(entry.noteId);
        }
        break;
    }
    case UnsavedChoice::AsNewNote:
        break;
    }
    QString notebookId;
    if (!entry.notebookId.isEmpty()
        && state->notebooks()->notebookById(entry.notebookId).has_value())
        notebookId = entry.notebookId;
    const std::optional<Note> created = state->writer()->createNote(notebookId, entry.body);
    if (!created)
        return false;
    qInfo().noquote() << "Restored the kept text of note" << entry.noteId << "as note"
                      << created->id;
    return file->remove(entry.noteId);
}

int offerUnsavedNotes(AppState *state,
    const std::function<UnsavedChoice(const RecoveryFile::Entry &, const std::optional<Note> &)>
        &ask)
{
    int restored = 0;
    for (const RecoveryFile::Entry &entry : state->recoveryFile()->entries()) {
        const std::optional<Note> stored
            = entry.noteId.isEmpty() ? std::nullopt : state->notes()->noteById(entry.noteId);
        const UnsavedChoice choice = ask(entry, stored);
        if (applyUnsavedChoice(state, entry, choice) && choice != UnsavedChoice::Discard)
            ++restored;
    }
    return restored;
}

} // namespace StartupPrompts
