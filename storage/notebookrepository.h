#pragma once

#include "notebook.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class Database;

class NotebookRepository final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotebookRepository)

public:
    explicit NotebookRepository(Database *database, QObject *parent = nullptr);

    // Not trashed; byte-wise name order, so upper-case initials come before lower-case ones.
    QList<Notebook> allNotebooks() const;
    std::optional<Notebook> notebookById(const QString &id) const;
    // Trashed ones included, in the order of allNotebooks(): their deletion has to reach the
    // server too.
    QList<Notebook> pendingNotebooks() const;
    bool insert(const Notebook &notebook);
    bool update(const Notebook &notebook);
    // Leaves the notebook's notes alone; callers move them first.
    bool softDelete(const QString &id);
    int markAllPending();

    // As NoteRepository's batches: notebooksChanged is held until the outermost endBatch, sent
    // once with `announce` and dropped without.
    void beginBatch();
    void endBatch(bool announce);

signals:
    void notebooksChanged();

private:
    void announceChange();

    Database *m_database; // not owned
    int m_batchDepth = 0;
    bool m_changedInBatch = false;
};
