#include "notelistcache.h"

#include "backgroundrelease.h"

#include <QSet>

#include <algorithm>
#include <utility>

NoteListCache::NoteListCache(NoteRepository *notes) : m_notes(notes)
{ }

bool NoteListCache::refresh(const QString &notebookId, const QString &search, bool reversed)
{
    const QString text = search.trimmed();
    const bool isSearch = !text.isEmpty();
    const QString query = isSearch ? text : notebookId;
    if (isSearch)
        reversed = false;

    const quint64 serial = m_notes->changeSerial();
    bool current = false;
    bool incremental = false;
    if (isSearch == m_isSearch && query == m_query && reversed == m_reversed && m_serial != 0
        && (m_complete || m_serial == serial)) {
        const std::optional<QStringList> changed = m_notes->changedNoteIdsSince(m_serial);
        if (changed && changed->isEmpty()) {
            current = true;
        } else if (changed && !isSearch) {
            // A search's rank order cannot be merged into; it is read again.
            applyChanges(*changed);
            incremental = true;
        }
    }
    if (!current && !incremental) {
        // Ranking every hit is the cost of a search; reading all of them into the list is as
        // much again, so the first page comes now and the rest later.
        QList<NoteListEntry> entries;
        m_complete = true;
        m_ranked = true;
        if (isSearch) {
            NoteRepository::SearchPage page = m_notes->searchFirstPage(text, FirstPage);
            entries = std::move(page.entries);
            m_complete = page.complete;
            m_ranked = page.ranked;
        } else {
            entries
                = query.isEmpty() ? m_notes->listEntries() : m_notes->listEntriesInNotebook(query);
        }
        if (reversed)
            std::reverse(entries.begin(), entries.end());
        releaseInBackground(std::exchange(m_entries, std::move(entries)));
    }
    m_serial = serial;
    m_isSearch = isSearch;
    m_query = query;
    m_reversed = reversed;
    return !current;
}

void NoteListCache::applyChanges(const QStringList &changedIds)
{
    const QList<NoteListEntry> fresh = m_notes->listEntriesByIds(changedIds);
    const QSet<QString> changed(changedIds.cbegin(), changedIds.cend());
    m_entries.removeIf(
        [&changed](const NoteListEntry &entry) { return changed.contains(entry.id); });
    for (const NoteListEntry &entry : fresh) {
        if (!m_query.isEmpty() && entry.notebookId != m_query)
            continue;
        // Newest first (oldest first reversed); a new entry goes before equal times.
        const auto position = m_reversed
            ? std::upper_bound(m_entries.begin(), m_entries.end(), entry,
                [](const NoteListEntry &a, const NoteListEntry &b) {
                    return a.updatedAt < b.updatedAt;
                })
            : std::lower_bound(m_entries.begin(), m_entries.end(), entry,
                [](const NoteListEntry &a, const NoteListEntry &b) {
                    return a.updatedAt > b.updatedAt;
                });
        m_entries.insert(position, entry);
    }
}

bool NoteListCache::completeSearch(
    const QString &search, quint64 serial, const QList<NoteListEntry> &all)
{
    if (m_complete || !m_isSearch || search.trimmed() != m_query || serial != m_serial
        || serial != m_notes->changeSerial())
        return false;
    releaseInBackground(std::exchange(m_entries, all));
    m_complete = true;
    m_ranked = true;
    return true;
}
