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

    // A search reads only its first `FirstPage` entries (NoteRepository::searchFirstPage); the
    // rest comes from SearchListLoader and is taken by completeSearch.
    static constexpr int FirstPage = 64;
    bool isComplete() const { return m_complete; }
    // False while the entries are a search's newest matches standing in for its ranking: the
    // whole list then reorders them, and a view shows it from the top.
    bool isRanked() const { return m_ranked; }
    // What a loader's answer must be tagged with to be taken.
    quint64 serial() const { return m_serial; }
    // Takes the whole list of `search` read elsewhere, if the entries still show that search
    // and nothing was written since `serial`; false otherwise.
    bool completeSearch(const QString &search, quint64 serial, const QList<NoteListEntry> &all);
    // The next refresh reads everything again (the search index grew, for example).
    void invalidate() { m_serial = 0; }

private:
    void applyChanges(const QStringList &changedIds);

    NoteRepository *m_notes; // not owned
    QList<NoteListEntry> m_entries;
    quint64 m_serial = 0;
    QString m_query; // notebook id or search text the entries belong to
    bool m_isSearch = false;
    bool m_reversed = false;
    bool m_complete = true;
    bool m_ranked = true;
};
