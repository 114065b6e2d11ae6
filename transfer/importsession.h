#pragma once

#include "attachment.h"
#include "importers.h"
#include "note.h"
#include "notebook.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

class ArchiveInput;

// An attachment of a note being imported: its record and the staged file holding its bytes.
struct StagedAttachment
{
    Attachment record;
    QString stagedPath;
};

// A note ready to be stored, with the attachments it refers to.
struct PreparedNote
{
    Note note;
    QList<StagedAttachment> attachments;
    QString title; // for progress and messages
};

// What both importers share: the staging directory beside the attachments (so placing a file is
// a move on the same disk), throttled progress, the atomic writes (a note with its attachments,
// all notebooks at once) and the per-note problems reported at the end.
class ImportSession final
{
public:
    ImportSession(const ImportTarget &target, const ImportProgress &progress);
    ~ImportSession();
    ImportSession(const ImportSession &) = delete;
    ImportSession &operator=(const ImportSession &) = delete;

    // False when the target is incomplete or the staging directory can't be made.
    bool isReady() const;

    // Calls the progress function at most every few dozen milliseconds, and always at the start
    // (current 0) and the end of a step.
    void report(int current, int total, const QString &text);

    // Copies the current member of `input` into a new staging file; its path, or "" (with
    // `error` set) when the member can't be read or written.
    QString stageMember(ArchiveInput &input, QString *error);
    // The size of a staged file as it was written, or -1. Asked while notes are stored: the
    // file itself may have moved into place for an earlier note by then.
    qint64 stagedSize(const QString &path) const { return m_stagedSizes.value(path, -1); }

    // Every notebook in one transaction: either all exist afterwards or none.
    bool storeNotebooks(const QList<Notebook> &notebooks);

    using Prepare = std::function<std::optional<PreparedNote>(int)>;
    // Where `prepare` runs: in this thread between the writes, or on worker threads ahead of
    // them. OnWorkers wants a `prepare` that only reads what it shares.
    enum class Preparation { InOrder, OnWorkers };

    // Stores what `prepare` gives for 0 … count − 1 (nullopt: nothing to store; the importer
    // has counted why) and counts it into `result`, always in that order. Each note goes in
    // with its attachment rows and files or not at all; many notes share one transaction (a
    // commit per note would make a large import wait on the disk for every one), and progress
    // is reported between them.
    void storeNotes(int count, const Prepare &prepare, ImportResult &result,
        Preparation preparation = Preparation::InOrder);

    // A note that could not be imported, described for the closing message.
    void addProblem(const QString &text);

private:
    // An attachment file put in place during the open transaction: moved from its staging
    // file, or copied when an earlier note took that file.
    struct Placed
    {
        QString stagedPath;
        QString destination;
        bool moved = false;
    };
    bool placeAttachments(const PreparedNote &prepared, QList<Placed> &placed);
    void unplace(const QList<Placed> &placed, qsizetype from = 0);
    bool storeBatch(const QList<PreparedNote> &batch, QList<Placed> &placed);
    bool storeNote(const PreparedNote &prepared, QList<Placed> &placed);

public:
    // Fills in the message from the problems noted, keeping it short.
    void finish(ImportResult &result) const;

private:
    ImportTarget m_target;
    ImportProgress m_progress;
    QElapsedTimer m_timer;
    bool m_reported = false;
    std::unique_ptr<QTemporaryDir> m_staging;
    int m_staged = 0;
    // Where each staging file that has been placed now lives.
    QHash<QString, QString> m_placedFiles;
    QHash<QString, qint64> m_stagedSizes;
    QStringList m_problems;
};

ImportResult importFailure(const QString &message);
// A display name fit for the attachment store: no directory part, no characters a file system
// refuses, never empty.
QString cleanAttachmentName(const QString &name, const QString &fallback);
// A new record id: a version 4 UUID, 36 characters without braces.
QString newRecordId();
