#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// Note texts the database would not take (disk full, read-only, locked), kept in a small file
// in the data directory when the window holding them switches notes or closes, so they are
// offered back at the next start instead of being lost. Written as a whole each time through
// a temporary file and a rename: a crash mid-write leaves the previous file intact.
class RecoveryFile final
{
public:
    struct Entry
    {
        QString noteId;
        QString notebookId;
        // The unsaved delta text.
        QString body;
        // The stored version the edits started from: a higher stored version means the note
        // was saved again since, and the kept text must not silently replace it.
        int baseVersion = 0;
        QDateTime keptAt;
    };

    explicit RecoveryFile(const QString &path);
    // The file's place in a data directory.
    static QString pathIn(const QString &dataDirectory);

    QString path() const { return m_path; }
    bool exists() const;
    // Every kept text, oldest first. A file that cannot be read or understood gives nothing
    // (logged) and is left as it is.
    QList<Entry> entries() const;
    // Keeps `entry`, replacing an earlier one for the same note. A file that cannot be read is
    // first moved aside under a dated name, never overwritten. False (logged) when the file
    // cannot be written; what it held before is then unchanged.
    bool keep(const Entry &entry);
    // Forgets the note's entry; the file goes when the last entry does.
    bool remove(const QString &noteId);

private:
    // nullopt when a file exists but cannot be read or understood.
    std::optional<QList<Entry>> read() const;
    bool write(const QList<Entry> &entries);

    QString m_path;
};
