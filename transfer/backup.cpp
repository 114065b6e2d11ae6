#include "backup.h"

#include "archiveinput.h"

#include "attachmentrepository.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "storagetime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

namespace {

constexpr qint64 ChunkSize = 256 * 1024;
// A JSON entry is one note or notebook; nothing legitimate comes near this.
constexpr qint64 MaxJsonEntryBytes = 64LL * 1024 * 1024;
constexpr qint64 MaxManifestBytes = 1024 * 1024;
// More unpacked bytes than this and more than InflationLimit times the archive's size is
// treated as a decompression bomb.
constexpr qint64 MaxUnpackedBytes = 1024LL * 1024 * 1024;
constexpr qint64 InflationLimit = 100;
constexpr int MaxEntries = 500000;
constexpr int ProgressIntervalMs = 50;

const QString ManifestName = QStringLiteral("manifest.json");
const QString AttachmentRecordsName = QStringLiteral("attachments.json");
const QString NotebooksDir = QStringLiteral("notebooks");
const QString NotesDir = QStringLiteral("notes");
const QString AttachmentsDir = QStringLiteral("attachments");
const QString AttachmentScheme = QStringLiteral("brevaro-notes://attachment/");

QString tr(const char *text)
{
    return QCoreApplication::translate("Backup", text);
}

QString timeText(const QDateTime &time)
{
    return toStorageTime(time);
}

// ---------------------------------------------------------------- JSON records

QJsonObject noteObject(const Note &note)
{
    QJsonObject object {
        { QStringLiteral("id"), note.id },
        { QStringLiteral("notebookId"), note.notebookId },
        { QStringLiteral("body"), note.body },
        { QStringLiteral("createdAt"), timeText(note.createdAt) },
        { QStringLiteral("updatedAt"), timeText(note.updatedAt) },
        { QStringLiteral("modifiedAt"), timeText(note.modifiedAt) },
        { QStringLiteral("version"), note.version },
    };
    if (note.deletedAt)
        object.insert(QStringLiteral("deletedAt"), timeText(*note.deletedAt));
    return object;
}

QJsonObject notebookObject(const Notebook &notebook)
{
    QJsonObject object {
        { QStringLiteral("id"), notebook.id },
        { QStringLiteral("name"), notebook.name },
        { QStringLiteral("isDefault"), notebook.isDefault },
        { QStringLiteral("isShared"), notebook.isShared },
        { QStringLiteral("ownerId"), notebook.ownerId },
        { QStringLiteral("createdAt"), timeText(notebook.createdAt) },
        { QStringLiteral("updatedAt"), timeText(notebook.updatedAt) },
        { QStringLiteral("version"), notebook.version },
    };
    if (notebook.deletedAt)
        object.insert(QStringLiteral("deletedAt"), timeText(*notebook.deletedAt));
    return object;
}

QJsonObject attachmentObject(const Attachment &attachment)
{
    return QJsonObject {
        { QStringLiteral("id"), attachment.id },
        { QStringLiteral("noteId"), attachment.noteId },
        { QStringLiteral("filename"), attachment.filename },
        { QStringLiteral("mimeType"), attachment.mimeType },
        { QStringLiteral("sizeBytes"), attachment.sizeBytes },
        { QStringLiteral("createdAt"), timeText(attachment.createdAt) },
    };
}

// Reads the fields of a backup object, refusing values of the wrong type: a record that says
// something else than a note or notebook is not guessed at.
class RecordReader
{
public:
    explicit RecordReader(const QJsonObject &object) : m_object(object) { }

    bool ok() const { return m_ok; }

    QString text(const QString &key)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return QString();
        if (!value.isString()) {
            m_ok = false;
            return QString();
        }
        return value.toString();
    }

    bool flag(const QString &key)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return false;
        if (!value.isBool())
            m_ok = false;
        return value.toBool();
    }

    qint64 number(const QString &key, qint64 fallback, qint64 max)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return fallback;
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number < 0 || number > double(max) || number != qint64(number)) {
            m_ok = false;
            return fallback;
        }
        return qint64(number);
    }

    // Missing → `fallback`; present but not a time → refused.
    QDateTime time(const QString &key, const QDateTime &fallback)
    {
        const QString value = text(key);
        if (value.isEmpty())
            return fallback;
        const QDateTime parsed = QDateTime::fromString(value, Qt::ISODateWithMs).toUTC();
        if (!parsed.isValid())
            m_ok = false;
        return parsed;
    }

    std::optional<QDateTime> optionalTime(const QString &key)
    {
        if (text(key).isEmpty())
            return std::nullopt;
        return time(key, QDateTime());
    }

private:
    QJsonObject m_object;
    bool m_ok = true;
};

// A body is kept only when it is a delta document: a list of insert operations.
bool isDeltaText(const QString &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return false;
    const QJsonArray operations = document.array();
    return std::all_of(operations.begin(), operations.end(), [](const QJsonValue &op) {
        return op.isObject() && op.toObject().contains(QStringLiteral("insert"));
    });
}

std::optional<Note> readNote(const QJsonObject &object, const QDateTime &now)
{
    RecordReader reader(object);
    Note note;
    note.id = reader.text(QStringLiteral("id"));
    note.notebookId = reader.text(QStringLiteral("notebookId"));
    note.body = reader.text(QStringLiteral("body"));
    note.createdAt = reader.time(QStringLiteral("createdAt"), now);
    note.updatedAt = reader.time(QStringLiteral("updatedAt"), note.createdAt);
    note.modifiedAt = reader.time(QStringLiteral("modifiedAt"), note.updatedAt);
    note.deletedAt = reader.optionalTime(QStringLiteral("deletedAt"));
    note.version = int(reader.number(QStringLiteral("version"), 1, 1 << 30));
    if (!reader.ok() || note.id.trimmed().isEmpty() || !isDeltaText(note.body))
        return std::nullopt;
    return note;
}

std::optional<Notebook> readNotebook(const QJsonObject &object, const QDateTime &now)
{
    RecordReader reader(object);
    Notebook notebook;
    notebook.id = reader.text(QStringLiteral("id"));
    notebook.name = reader.text(QStringLiteral("name"));
    notebook.isDefault = reader.flag(QStringLiteral("isDefault"));
    notebook.isShared = reader.flag(QStringLiteral("isShared"));
    notebook.ownerId = reader.text(QStringLiteral("ownerId"));
    notebook.createdAt = reader.time(QStringLiteral("createdAt"), now);
    notebook.updatedAt = reader.time(QStringLiteral("updatedAt"), notebook.createdAt);
    notebook.deletedAt = reader.optionalTime(QStringLiteral("deletedAt"));
    notebook.version = int(reader.number(QStringLiteral("version"), 1, 1 << 30));
    if (!reader.ok() || notebook.id.trimmed().isEmpty())
        return std::nullopt;
    return notebook;
}

std::optional<Attachment> readAttachment(const QJsonObject &object, const QDateTime &now)
{
    RecordReader reader(object);
    Attachment attachment;
    attachment.id = reader.text(QStringLiteral("id"));
    attachment.noteId = reader.text(QStringLiteral("noteId"));
    attachment.filename = QFileInfo(reader.text(QStringLiteral("filename"))).fileName();
    attachment.mimeType = reader.text(QStringLiteral("mimeType"));
    attachment.sizeBytes = reader.number(QStringLiteral("sizeBytes"), 0, qint64(1) << 53);
    attachment.createdAt = reader.time(QStringLiteral("createdAt"), now);
    if (!reader.ok() || !AttachmentRepository::isValidId(attachment.id)
        || attachment.noteId.isEmpty())
        return std::nullopt;
    return attachment;
}

QByteArray indentedJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

// Calls the progress function at most every ProgressIntervalMs, and always for the last step.
class ProgressReporter
{
public:
    explicit ProgressReporter(const ImportProgress &progress) : m_progress(progress)
    {
        m_timer.start();
    }

    void report(int current, int total, const QString &text, bool force = false)
    {
        if (!m_progress)
            return;
        if (!force && m_reported && m_timer.elapsed() < ProgressIntervalMs
            && !(total > 0 && current >= total))
            return;
        m_reported = true;
        m_timer.restart();
        m_progress(current, total, text);
    }

private:
    ImportProgress m_progress;
    QElapsedTimer m_timer;
    bool m_reported = false;
};

ImportResult failure(const QString &message)
{
    ImportResult result;
    result.errors = 1;
    result.errorMessage = message;
    return result;
}

// ---------------------------------------------------------------- writing

// Whether a sample of a file's start shrinks by a tenth or more under fast deflate.
bool looksCompressible(const QByteArray &sample)
{
    if (sample.size() < 512)
        return true;
    return qCompress(sample, 1).size() < sample.size() * 9 / 10;
}

la_ssize_t writeToSaveFile(struct archive *archive, void *data, const void *buffer, size_t length)
{
    auto *file = static_cast<QSaveFile *>(data);
    const qint64 written = file->write(static_cast<const char *>(buffer), qint64(length));
    if (written != qint64(length)) {
        archive_set_error(archive, EIO, "%s", file->errorString().toUtf8().constData());
        return -1;
    }
    return la_ssize_t(written);
}

class ArchiveWriter
{
public:
    explicit ArchiveWriter(QSaveFile *file, const QDateTime &time)
        : m_archive(archive_write_new()), m_time(time.toSecsSinceEpoch())
    {
        if (archive_write_set_format_zip(m_archive) != ARCHIVE_OK
            || archive_write_open(m_archive, file, nullptr, writeToSaveFile, nullptr)
                != ARCHIVE_OK) {
            m_error = errorText();
        } else {
            m_open = true;
        }
    }
    // An archive left open (a cancel or an error) is still closed properly: marking it failed
    // would skip the close that ends the open entry's compressor, and leak it. What the close
    // writes goes to the unfinished save file, which is discarded.
    ~ArchiveWriter() { archive_write_free(m_archive); }
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;

    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }

    bool addDirectory(const QString &name)
    {
        return header(name + QLatin1Char('/'), AE_IFDIR, 0755, 0);
    }

    bool addBytes(const QString &name, const QByteArray &bytes)
    {
        archive_write_zip_set_compression_deflate(m_archive);
        return header(name, AE_IFREG, 0644, bytes.size()) && data(bytes.constData(), bytes.size());
    }

    // Streams the file in chunks; the entry's size is fixed up front, so a file that changes
    // size while being read fails the backup instead of writing a damaged entry.
    bool addFile(
        const QString &name, const QString &path, const CancelRequested &cancel, bool &cancelled)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_error = tr("Can't read %1: %2").arg(path, file.errorString());
            return false;
        }
        const qint64 size = file.size();
        QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
        qint64 buffered = file.read(buffer.data(), std::min(size, ChunkSize));
        if (buffered < 0) {
            m_error = tr("Can't read %1: %2").arg(path, file.errorString());
            return false;
        }
        // Photos and PDFs are compressed already: deflating them again costs most of a
        // backup's time for nothing, so content that does not shrink is stored as it is.
        if (looksCompressible(buffer.left(int(buffered))))
            archive_write_zip_set_compression_deflate(m_archive);
        else
            archive_write_zip_set_compression_store(m_archive);
        if (!header(name, AE_IFREG, 0644, size))
            return false;
        qint64 remaining = size;
        for (;;) {
            if (buffered <= 0 && remaining > 0) {
                m_error = tr("Can't read %1: %2").arg(path, file.errorString());
                return false;
            }
            if (buffered > 0 && !data(buffer.constData(), buffered))
                return false;
            remaining -= buffered;
            if (remaining <= 0)
                break;
            if (cancel && cancel()) {
                cancelled = true;
                return false;
            }
            buffered = file.read(buffer.data(), std::min(remaining, ChunkSize));
        }
        return true;
    }

    bool finish()
    {
        m_open = false;
        if (archive_write_close(m_archive) != ARCHIVE_OK) {
            m_error = errorText();
            return false;
        }
        return true;
    }

private:
    QString errorText() const
    {
        const char *text = archive_error_string(m_archive);
        return text ? QString::fromUtf8(text) : tr("unknown archive error");
    }

    bool header(const QString &name, unsigned int type, int permissions, qint64 size)
    {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, name.toUtf8().constData());
        archive_entry_set_filetype(entry, type);
        archive_entry_set_perm(entry, permissions);
        archive_entry_set_size(entry, size);
        archive_entry_set_mtime(entry, m_time, 0);
        const int status = archive_write_header(m_archive, entry);
        archive_entry_free(entry);
        if (status != ARCHIVE_OK) {
            m_error = errorText();
            return false;
        }
        return true;
    }

    bool data(const char *bytes, qint64 size)
    {
        while (size > 0) {
            const la_ssize_t written = archive_write_data(m_archive, bytes, size_t(size));
            if (written <= 0) {
                m_error = errorText();
                return false;
            }
            bytes += written;
            size -= written;
        }
        return true;
    }

    struct archive *m_archive;
    qint64 m_time;
    bool m_open = false;
    QString m_error;
};

// ---------------------------------------------------------------- reading

enum class EntryKind {
    Ignored,
    Directory,
    Manifest,
    AttachmentRecords,
    Notebook,
    Note,
    Attachment
};

// Only the layout's names are ever acted on; a name that could climb out of a directory (or
// pretends to be a link) refuses the whole archive rather than being silently rewritten.
std::optional<EntryKind> classifyEntry(QString name, bool isDirectory, bool isRegular)
{
    if (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name.contains(QLatin1Char(':')) || name.contains(QChar(0)))
        return std::nullopt;
    QStringList parts = name.split(QLatin1Char('/'));
    if (isDirectory && parts.last().isEmpty())
        parts.removeLast();
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return std::nullopt;
    }
    if (isDirectory)
        return EntryKind::Directory;
    if (!isRegular)
        return std::nullopt;
    if (parts.size() == 1) {
        if (parts[0] == ManifestName)
            return EntryKind::Manifest;
        if (parts[0] == AttachmentRecordsName)
            return EntryKind::AttachmentRecords;
        return EntryKind::Ignored;
    }
    if (parts.size() != 2)
        return EntryKind::Ignored;
    if (parts[0] == AttachmentsDir)
        return EntryKind::Attachment;
    if (!parts[1].endsWith(QLatin1String(".json")))
        return EntryKind::Ignored;
    if (parts[0] == NotebooksDir)
        return EntryKind::Notebook;
    if (parts[0] == NotesDir)
        return EntryKind::Note;
    return EntryKind::Ignored;
}

// Everything read from an archive before any of it is written.
struct BackupContents
{
    bool hasManifest = false;
    QList<Notebook> notebooks;
    QList<Note> notes;
    QList<Attachment> attachmentRecords;
    bool hasAttachmentRecords = false;
    QStringList stagedAttachments; // ids of the files in the staging directory
    int skippedAttachments = 0; // entries under attachments/ not named by an id
};

class ArchiveReader
{
public:
    ArchiveReader(const QString &path, const QString &stagingDir, ProgressReporter &progress)
        : m_archive(archive_read_new()),
          m_path(path),
          m_stagingDir(stagingDir),
          m_progress(progress)
    { }
    ~ArchiveReader() { archive_read_free(m_archive); }
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    // Empty on success, else the message for the user.
    QString read(BackupContents &contents)
    {
        m_source.file.setFileName(m_path);
        if (!m_source.file.open(QIODevice::ReadOnly)) {
            qWarning().noquote() << "restoreBackup: can't open" << m_path << "-"
                                 << m_source.file.errorString();
            return tr("Failed to extract backup");
        }
        m_unpackLimit = std::max(MaxUnpackedBytes, m_source.file.size() * InflationLimit);
        archive_read_support_format_zip_seekable(m_archive);
        if (openArchiveFromFile(m_archive, &m_source) != ARCHIVE_OK)
            return extractFailed();

        const QDateTime now = QDateTime::currentDateTimeUtc();
        int entries = 0;
        struct archive_entry *entry = nullptr;
        for (;;) {
            const int status = archive_read_next_header(m_archive, &entry);
            if (status == ARCHIVE_EOF)
                break;
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
                return extractFailed();
            if (++entries > MaxEntries)
                return tr("The backup has too many entries (more than %1)").arg(MaxEntries);
            m_progress.report(entries, 0, tr("Reading backup…"));

            const char *utf8 = archive_entry_pathname_utf8(entry);
            const char *raw = archive_entry_pathname(entry);
            const QString name
                = utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(raw ? raw : "");
            const mode_t type = archive_entry_filetype(entry);
            const bool isDirectory = type == AE_IFDIR || name.endsWith(QLatin1Char('/'));
            const std::optional<EntryKind> kind
                = classifyEntry(name, isDirectory, type == AE_IFREG || type == 0);
            if (!kind || archive_entry_hardlink(entry) || archive_entry_symlink(entry))
                return tr("The backup contains an unsafe entry: %1").arg(name);
            if (archive_entry_is_encrypted(entry))
                return extractFailed();
            const QString baseName = name.section(QLatin1Char('/'), -1);

            switch (*kind) {
            case EntryKind::Ignored:
            case EntryKind::Directory:
                break;
            case EntryKind::Manifest: {
                QByteArray bytes;
                if (const QString error = readJsonEntry(entry, name, MaxManifestBytes, bytes);
                    !error.isEmpty())
                    return error;
                QJsonParseError parseError;
                const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
                if (parseError.error != QJsonParseError::NoError || !document.isObject())
                    return tr("manifest.json is not a backup manifest");
                contents.hasManifest = true;
                break;
            }
            case EntryKind::AttachmentRecords: {
                QJsonArray records;
                if (const QString error = readJsonArray(entry, name, records); !error.isEmpty())
                    return error;
                for (const QJsonValue &value : std::as_const(records)) {
                    const std::optional<Attachment> attachment
                        = value.isObject() ? readAttachment(value.toObject(), now) : std::nullopt;
                    if (!attachment)
                        return tr("%1 holds an attachment record that is not valid").arg(name);
                    contents.attachmentRecords.append(*attachment);
                }
                contents.hasAttachmentRecords = true;
                break;
            }
            case EntryKind::Notebook: {
                QJsonObject object;
                if (const QString error = readJsonObject(entry, name, object); !error.isEmpty())
                    return error;
                const std::optional<Notebook> notebook = readNotebook(object, now);
                if (!notebook)
                    return tr("%1 is not a valid notebook").arg(name);
                contents.notebooks.append(*notebook);
                break;
            }
            case EntryKind::Note: {
                QJsonObject object;
                if (const QString error = readJsonObject(entry, name, object); !error.isEmpty())
                    return error;
                const std::optional<Note> note = readNote(object, now);
                if (!note)
                    return tr("%1 is not a valid note").arg(name);
                contents.notes.append(*note);
                break;
            }
            case EntryKind::Attachment:
                if (!AttachmentRepository::isValidId(baseName)) {
                    ++contents.skippedAttachments;
                    break;
                }
                if (const QString error = stageAttachment(entry, name, baseName); !error.isEmpty())
                    return error;
                // A set beside the list: an archive may hold up to MaxEntries of them.
                if (!m_staged.contains(baseName)) {
                    m_staged.insert(baseName);
                    contents.stagedAttachments.append(baseName);
                }
                break;
            }
        }
        return QString();
    }

private:
    QString extractFailed()
    {
        const char *text = archive_error_string(m_archive);
        qWarning().noquote() << "restoreBackup: can't read" << m_path << "-"
                             << (text ? QString::fromUtf8(text) : QStringLiteral("?"));
        return tr("Failed to extract backup");
    }

    QString tooLarge(const QString &name) const
    {
        return tr("The backup entry %1 is too large").arg(name);
    }

    bool declaredTooLarge(struct archive_entry *entry, qint64 limit) const
    {
        return archive_entry_size_is_set(entry) && archive_entry_size(entry) > limit;
    }

    // Counts unpacked bytes against the bomb limit; false once it is passed.
    bool account(qint64 bytes)
    {
        m_unpacked += bytes;
        return m_unpacked <= m_unpackLimit;
    }

    QString readJsonEntry(
        struct archive_entry *entry, const QString &name, qint64 limit, QByteArray &bytes)
    {
        if (declaredTooLarge(entry, limit))
            return tooLarge(name);
        if (archive_entry_size_is_set(entry))
            bytes.reserve(qsizetype(archive_entry_size(entry)));
        QByteArray &chunk = readBuffer();
        for (;;) {
            const la_ssize_t read
                = archive_read_data(m_archive, chunk.data(), size_t(chunk.size()));
            if (read < 0)
                return extractFailed();
            if (read == 0)
                break;
            if (bytes.size() + read > limit || !account(read))
                return tooLarge(name);
            bytes.append(chunk.constData(), int(read));
        }
        return QString();
    }

    QString readJsonObject(struct archive_entry *entry, const QString &name, QJsonObject &object)
    {
        QByteArray bytes;
        if (const QString error = readJsonEntry(entry, name, MaxJsonEntryBytes, bytes);
            !error.isEmpty())
            return error;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject())
            return tr("%1 is not a JSON object").arg(name);
        object = document.object();
        return QString();
    }

    QString readJsonArray(struct archive_entry *entry, const QString &name, QJsonArray &array)
    {
        QByteArray bytes;
        if (const QString error = readJsonEntry(entry, name, MaxJsonEntryBytes, bytes);
            !error.isEmpty())
            return error;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isArray())
            return tr("%1 is not a JSON list").arg(name);
        array = document.array();
        return QString();
    }

    QString stageAttachment(struct archive_entry *entry, const QString &name, const QString &id)
    {
        if (declaredTooLarge(entry, m_unpackLimit - m_unpacked))
            return tooLarge(name);
        QFile file(QDir(m_stagingDir).filePath(id));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            qWarning().noquote() << "restoreBackup: can't stage" << id << "-" << file.errorString();
            return tr("Can't write the attachment %1: %2").arg(id, file.errorString());
        }
        QByteArray &chunk = readBuffer();
        for (;;) {
            const la_ssize_t read
                = archive_read_data(m_archive, chunk.data(), size_t(chunk.size()));
            if (read < 0)
                return extractFailed();
            if (read == 0)
                break;
            if (!account(read))
                return tooLarge(name);
            if (file.write(chunk.constData(), read) != read)
                return tr("Can't write the attachment %1: %2").arg(id, file.errorString());
        }
        if (!file.flush())
            return tr("Can't write the attachment %1: %2").arg(id, file.errorString());
        return QString();
    }

    // One buffer for every entry: allocating a fresh chunk for each of ten thousand small notes
    // cost a map and unmap of fresh memory apiece.
    QByteArray &readBuffer()
    {
        if (m_chunk.size() != ChunkSize)
            m_chunk = QByteArray(int(ChunkSize), Qt::Uninitialized);
        return m_chunk;
    }

    struct archive *m_archive;
    QByteArray m_chunk;
    QSet<QString> m_staged;
    QString m_path;
    QString m_stagingDir;
    ProgressReporter &m_progress;
    ArchiveFileSource m_source;
    qint64 m_unpacked = 0;
    qint64 m_unpackLimit = MaxUnpackedBytes;
};

// The attachment ids a body refers to.
QSet<QString> referencedAttachments(const QString &body)
{
    static const QRegularExpression reference(
        QRegularExpression::escape(AttachmentScheme) + QStringLiteral("([0-9a-f-]{36})"));
    QSet<QString> ids;
    auto matches = reference.globalMatch(body);
    while (matches.hasNext())
        ids.insert(matches.next().captured(1));
    return ids;
}

} // namespace

ImportResult createBackup(const QString &destination, const ImportTarget &source,
    const ImportProgress &progress, const CancelRequested &cancelRequested)
{
    if (!source.notes || !source.notebooks || !source.attachments)
        return failure(tr("Failed to create ZIP: %1").arg(tr("nothing to back up from")));
    ProgressReporter reporter(progress);
    const QDateTime now = QDateTime::currentDateTimeUtc();

    const QList<Notebook> notebooks = source.notebooks->allNotebooks();
    QList<Note> notes = source.notes->allNotes();
    notes += source.notes->trashedNotes();
    QSet<QString> noteIds;
    for (const Note &note : std::as_const(notes))
        noteIds.insert(note.id);

    QStringList attachmentIds;
    const QDir attachmentsDir(source.attachments->directory());
    if (attachmentsDir.exists()) {
        const QFileInfoList files
            = attachmentsDir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &file : files) {
            if (!file.isSymLink() && AttachmentRepository::isValidId(file.fileName()))
                attachmentIds.append(file.fileName());
        }
    }
    QJsonArray attachmentRecords;
    const QSet<QString> idsWithFiles(attachmentIds.begin(), attachmentIds.end());
    for (const Attachment &attachment : source.attachments->allAttachments()) {
        if (idsWithFiles.contains(attachment.id) && noteIds.contains(attachment.noteId))
            attachmentRecords.append(attachmentObject(attachment));
    }

    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly))
        return failure(tr("Failed to create ZIP: %1").arg(file.errorString()));
    ArchiveWriter writer(&file, now);
    if (!writer.isOpen())
        return failure(tr("Failed to create ZIP: %1").arg(writer.error()));

    const int total = int(notebooks.size() + notes.size() + attachmentIds.size());
    int done = 0;
    bool cancelled = false;
    const QString text = tr("Backing up notes…");
    auto step = [&] {
        reporter.report(++done, total, text);
        if (cancelRequested && cancelRequested())
            cancelled = true;
        return !cancelled;
    };

    const QJsonObject manifest {
        { QStringLiteral("version"), 1 },
        { QStringLiteral("exportedAt"), timeText(now) },
        { QStringLiteral("noteCount"), int(notes.size()) },
        { QStringLiteral("notebookCount"), int(notebooks.size()) },
    };
    reporter.report(0, total, text, true);
    bool ok = writer.addBytes(ManifestName, indentedJson(manifest))
        && writer.addBytes(
            AttachmentRecordsName, QJsonDocument(attachmentRecords).toJson(QJsonDocument::Indented))
        && writer.addDirectory(NotebooksDir) && writer.addDirectory(NotesDir)
        && writer.addDirectory(AttachmentsDir);
    for (int i = 0; ok && i < notebooks.size(); ++i) {
        ok = writer.addBytes(
                 NotebooksDir + QLatin1Char('/') + notebooks[i].id + QLatin1String(".json"),
                 indentedJson(notebookObject(notebooks[i])))
            && step();
    }
    for (int i = 0; ok && i < notes.size(); ++i) {
        ok = writer.addBytes(NotesDir + QLatin1Char('/') + notes[i].id + QLatin1String(".json"),
                 indentedJson(noteObject(notes[i])))
            && step();
    }
    for (int i = 0; ok && i < attachmentIds.size(); ++i) {
        const QString &id = attachmentIds[i];
        ok = writer.addFile(AttachmentsDir + QLatin1Char('/') + id, attachmentsDir.filePath(id),
                 cancelRequested, cancelled)
            && step();
    }
    if (cancelled) {
        file.cancelWriting();
        return failure(tr("Backup cancelled"));
    }
    if (!ok) {
        file.cancelWriting();
        return failure(tr("Failed to create ZIP: %1").arg(writer.error()));
    }
    if (!writer.finish() || !file.commit()) {
        const QString reason = writer.error().isEmpty() ? file.errorString() : writer.error();
        return failure(tr("Failed to create ZIP: %1").arg(reason));
    }
    ImportResult result;
    result.imported = int(notes.size());
    return result;
}

ImportResult restoreBackup(
    const QString &path, const ImportTarget &target, bool overwrite, const ImportProgress &progress)
{
    if (!target.writer || !target.notes || !target.notebooks || !target.attachments)
        return failure(tr("Failed to extract backup"));
    ProgressReporter reporter(progress);

    // Attachments are unpacked next to their final place so that moving them in is a rename.
    const QString attachmentsPath = target.attachments->directory();
    QDir().mkpath(attachmentsPath);
    QTemporaryDir staging(QDir(attachmentsPath).filePath(QStringLiteral("../.restore-XXXXXX")));
    if (!staging.isValid())
        return failure(tr("Failed to create temp directory"));

    BackupContents contents;
    {
        ArchiveReader reader(path, staging.path(), reporter);
        const QString error = reader.read(contents);
        if (!error.isEmpty())
            return failure(error);
    }
    if (!contents.hasManifest)
        return failure(tr("No manifest.json found"));

    const int total = int(contents.notebooks.size() + contents.notes.size());
    int done = 0;
    const QString text = tr("Restoring notes…");
    reporter.report(0, total, text, true);

    // Attachment files go in first (only those not yet present, so nothing is replaced); a
    // failed transaction below takes them out again.
    QStringList placed;
    QDir attachmentsDir(attachmentsPath);
    for (const QString &id : std::as_const(contents.stagedAttachments)) {
        const QString destination = attachmentsDir.filePath(id);
        if (QFileInfo::exists(destination))
            continue;
        if (!QFile::rename(QDir(staging.path()).filePath(id), destination)) {
            for (const QString &undo : std::as_const(placed))
                QFile::remove(attachmentsDir.filePath(undo));
            return failure(tr("Can't write the attachment %1").arg(id));
        }
        placed.append(id);
    }

    ImportResult result;
    int failedWrites = 0;
    NoteWriter *writer = target.writer;
    const auto writeRecords = [&] {
        for (Notebook notebook : std::as_const(contents.notebooks)) {
            const std::optional<Notebook> stored = target.notebooks->notebookById(notebook.id);
            bool written = true;
            if (!overwrite) {
                if (stored) {
                    ++result.skipped;
                } else {
                    written = writer->insertRestoredNotebook(notebook);
                    ++result.imported;
                }
            } else if (stored && stored->name == notebook.name
                && stored->deletedAt.has_value() == notebook.deletedAt.has_value()) {
                ++result.skipped;
            } else {
                notebook.syncStatus = SyncStatus::Pending;
                if (stored) {
                    notebook.version = stored->version;
                    written = writer->replaceWithRestoredNotebook(notebook);
                } else {
                    written = writer->insertRestoredNotebook(notebook);
                }
                ++result.imported;
            }
            if (!written)
                ++failedWrites;
            reporter.report(++done, total, text);
        }
        // The stored copies are read once up front, not note by note.
        QStringList noteIds;
        noteIds.reserve(contents.notes.size());
        for (const Note &note : std::as_const(contents.notes))
            noteIds.append(note.id);
        QHash<QString, Note> storedNotes;
        for (const Note &stored : target.notes->notesByIds(noteIds))
            storedNotes.insert(stored.id, stored);
        for (Note note : std::as_const(contents.notes)) {
            const auto found = storedNotes.constFind(note.id);
            const std::optional<Note> stored = found != storedNotes.constEnd()
                ? std::optional<Note>(found.value())
                : std::nullopt;
            bool written = true;
            if (!overwrite) {
                if (stored) {
                    ++result.skipped;
                } else {
                    written = writer->insertRestoredNote(note);
                    ++result.imported;
                }
            } else {
                note.syncStatus = SyncStatus::Pending;
                if (stored) {
                    note.version = std::max(note.version, stored->version) + 1;
                    written = writer->replaceWithRestoredNote(note);
                } else {
                    note.version = note.version > 0 ? note.version + 1 : 1;
                    written = writer->insertRestoredNote(note);
                }
                ++result.imported;
            }
            if (!written)
                ++failedWrites;
            else if (!stored)
                storedNotes.insert(note.id, note); // an id listed twice meets its first copy
            reporter.report(++done, total, text);
        }
        if (failedWrites > 0)
            return false;

        // Records for the attachment files that now exist and have none yet. Archives made
        // before the records were kept give only the files: those get a record from the
        // note that refers to them, so the note shows them instead of a missing attachment.
        QHash<QString, Attachment> records;
        for (const Attachment &attachment : std::as_const(contents.attachmentRecords))
            records.insert(attachment.id, attachment);
        if (!contents.hasAttachmentRecords) {
            QHash<QString, QString> owners;
            for (const Note &note : std::as_const(contents.notes)) {
                for (const QString &id : referencedAttachments(note.body))
                    owners.insert(id, note.id);
            }
            const QMimeDatabase mimeTypes;
            for (const QString &id : std::as_const(contents.stagedAttachments)) {
                if (!owners.contains(id))
                    continue;
                const QFileInfo info(attachmentsDir.filePath(id));
                Attachment attachment;
                attachment.id = id;
                attachment.noteId = owners.value(id);
                attachment.filename = id;
                attachment.mimeType = mimeTypes.mimeTypeForFile(info).name();
                attachment.sizeBytes = info.size();
                attachment.createdAt = QDateTime::currentDateTimeUtc();
                records.insert(id, attachment);
            }
        }
        for (const QString &id : std::as_const(contents.stagedAttachments)) {
            if (!records.contains(id))
                continue;
            Attachment attachment = records.value(id);
            attachment.syncStatus = SyncStatus::Pending;
            if (target.attachments->attachmentById(id)
                || !target.notes->noteById(attachment.noteId))
                continue;
            if (!target.attachments->insert(attachment))
                ++failedWrites;
        }
        return failedWrites == 0;
    };
    // Nothing paints while the records are written, so the longer commit of the large cache
    // is not seen.
    const bool committed
        = writer->inBulkTransaction(writeRecords, NoteRepository::BulkCache::Large);

    if (!committed) {
        for (const QString &id : std::as_const(placed))
            QFile::remove(attachmentsDir.filePath(id));
        ImportResult failed = failure(failedWrites > 0
                ? tr("%1 records of the backup could not be written; nothing was restored")
                      .arg(failedWrites)
                : tr("The restored notes could not be saved; nothing was restored"));
        return failed;
    }
    result.attachmentCount = int(placed.size());
    result.skipped += contents.skippedAttachments;
    return result;
}
