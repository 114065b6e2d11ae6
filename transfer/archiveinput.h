#pragma once

#include <functional>

#include <QByteArray>
#include <QFile>
#include <QString>

struct archive;

class QIODevice;

// Feeds libarchive from a QFile in fixed-size chunks (with seeking, which ZIP's central
// directory needs), so an archive of any size is read without holding it in memory. A ZIP
// reader seeks to every member; a seek into the chunk last read is served from it, so ten
// thousand small members cost a few dozen reads instead of one chunk each.
struct ArchiveFileSource
{
    QFile file;
    QByteArray buffer;
    qint64 bufferStart = 0; // file offset of buffer[0]
    qint64 buffered = 0; // valid bytes in buffer
    qint64 position = 0; // where libarchive reads next
};

// Installs `source` (whose file is open) as the data of `archive` and opens it: ARCHIVE_OK or
// libarchive's failure status.
int openArchiveFromFile(struct archive *archive, ArchiveFileSource *source);

// Reads the members of a ZIP or tar archive one after another, as a stream. Member contents are
// read whole only up to a limit the caller gives, or copied chunk by chunk to a device; the
// total unpacked size is held to a limit so that a decompression bomb stops the read.
class ArchiveInput final
{
public:
    enum class Format { Zip, Tar };
    enum class Next { Member, End, Failed };
    enum class Read { Ok, TooLarge, Failed, WriteFailed };

    struct Member
    {
        QString name; // as stored; never a path on this machine
        bool isDirectory = false;
        bool isRegularFile = false;
        bool isLink = false;
        bool isEncrypted = false;
        qint64 declaredSize = -1; // -1 when the header does not say
    };

    ArchiveInput(const QString &path, Format format);
    ~ArchiveInput();
    ArchiveInput(const ArchiveInput &) = delete;
    ArchiveInput &operator=(const ArchiveInput &) = delete;

    // False when the file can't be opened or does not start like an archive of the format.
    bool open();
    Next next(Member &member);
    // The current member's content, when it is at most `limit` bytes.
    Read readAll(QByteArray &bytes, qint64 limit);
    Read copyTo(QIODevice *device);

    // libarchive's or the file's explanation of the last failure.
    QString errorString() const;
    int memberCount() const { return m_members; }

private:
    bool account(qint64 bytes);
    // Reads the current member chunk by chunk into |take|, which may end the read.
    Read readMember(const std::function<Read(const char *data, qint64 size)> &take);

    struct archive *m_archive;
    ArchiveFileSource m_source;
    QString m_path;
    Format m_format;
    QString m_error;
    qint64 m_unpacked = 0;
    qint64 m_unpackLimit = 0;
    int m_members = 0;
};
