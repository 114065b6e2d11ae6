#pragma once

#include "noterepository.h"

#include <QList>
#include <QString>
#include <QStringList>

// The entries a note list shows (all notes, one notebook's, or a search's), kept current from
// the repository's change journal: after an autosave only the notes written since the last
// refresh are read again and put where the order wants them.
class NoteListCache final
{
public:
    explicit NoteListCache(NoteRepository *notes);

    // Brings the entries up to date for `search` when it is not blank, else for the notebook
    // (empty = all notes), newest first or, with `reversed`, oldest first (searches keep their
    // rank order). False when the entries already were current.
    bool refresh(const QString &notebookId, const QString &search, bool reversed);
    const QList<NoteListEntry> &entries() const { return m_entries; }

private:
    void applyChanges(const QStringList &changedIds);

    NoteRepository *m_notes; // not owned
    QList<NoteListEntry> m_entries;
    quint64 m_serial = 0;
    QString m_query; // notebook id or search text the entries belong to
    bool m_isSearch = false;
    bool m_reversed = false;
};
