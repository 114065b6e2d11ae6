#include "archiveinput.h"

#include <QIODevice>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

namespace {

constexpr qint64 ChunkSize = 256 * 1024;
// More unpacked bytes than this and more than InflationLimit times the archive's size is
// treated as a decompression bomb.
constexpr qint64 MaxUnpackedBytes = 1024LL * 1024 * 1024;
constexpr qint64 InflationLimit = 100;

la_ssize_t readFromFile(struct archive *archive, void *data, const void **buffer)
{
    auto *source = static_cast<ArchiveFileSource *>(data);
    const qint64 offset = source->position - source->bufferStart;
    if (offset < 0 || offset >= source->buffered) {
        if (source->file.pos() != source->position && !source->file.seek(source->position)) {
            archive_set_error(archive, EIO, "%s", source->file.errorString().toUtf8().constData());
            return -1;
        }
        const qint64 read = source->file.read(source->buffer.data(), source->buffer.size());
        if (read < 0) {
            archive_set_error(archive, EIO, "%s", source->file.errorString().toUtf8().constData());
            return -1;
        }
        source->bufferStart = source->position;
        source->buffered = read;
        source->position += read;
        *buffer = source->buffer.constData();
        return la_ssize_t(read);
    }
    // libarchive is done with the previous block when it asks again, so the rest of the chunk
    // can be handed out without copying.
    *buffer = source->buffer.constData() + offset;
    const qint64 length = source->buffered - offset;
    source->position += length;
    return la_ssize_t(length);
}

la_int64_t seekInFile(struct archive *, void *data, la_int64_t offset, int whence)
{
    auto *source = static_cast<ArchiveFileSource *>(data);
    qint64 target = offset;
    if (whence == SEEK_CUR)
        target += source->position;
    else if (whence == SEEK_END)
        target += source->file.size();
    if (target < 0 || target > source->file.size())
        return ARCHIVE_FATAL;
    source->position = target;
    return target;
}

la_int64_t skipInFile(struct archive *, void *data, la_int64_t request)
{
    auto *source = static_cast<ArchiveFileSource *>(data);
    const qint64 target = std::min(source->position + request, source->file.size());
    const qint64 skipped = target - source->position;
    source->position = target;
    return skipped;
}

} // namespace

int openArchiveFromFile(struct archive *archive, ArchiveFileSource *source)
{
    if (source->buffer.size() != ChunkSize)
        source->buffer = QByteArray(int(ChunkSize), Qt::Uninitialized);
    source->bufferStart = 0;
    source->buffered = 0;
    source->position = source->file.pos();
    archive_read_set_read_callback(archive, readFromFile);
    archive_read_set_seek_callback(archive, seekInFile);
    archive_read_set_skip_callback(archive, skipInFile);
    archive_read_set_callback_data(archive, source);
    return archive_read_open1(archive);
}

ArchiveInput::ArchiveInput(const QString &path, Format format)
    : m_archive(archive_read_new()), m_path(path), m_format(format)
{ }

ArchiveInput::~ArchiveInput()
{
    archive_read_free(m_archive);
}

bool ArchiveInput::open()
{
    m_source.file.setFileName(m_path);
    if (!m_source.file.open(QIODevice::ReadOnly)) {
        m_error = m_source.file.errorString();
        return false;
    }
    m_unpackLimit = std::max(MaxUnpackedBytes, m_source.file.size() * InflationLimit);
    if (m_format == Format::Zip) {
        archive_read_support_format_zip_seekable(m_archive);
    } else {
        // Exports are plain tar; a compressed one is read as well, and held to the same limits.
        archive_read_support_format_tar(m_archive);
        archive_read_support_filter_all(m_archive);
    }
    if (openArchiveFromFile(m_archive, &m_source) != ARCHIVE_OK) {
        const char *text = archive_error_string(m_archive);
        m_error = text ? QString::fromUtf8(text) : QStringLiteral("not an archive");
        return false;
    }
    return true;
}

ArchiveInput::Next ArchiveInput::next(Member &member)
{
    struct archive_entry *entry = nullptr;
    const int status = archive_read_next_header(m_archive, &entry);
    if (status == ARCHIVE_EOF)
        return Next::End;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
        const char *text = archive_error_string(m_archive);
        m_error = text ? QString::fromUtf8(text) : QStringLiteral("damaged archive");
        return Next::Failed;
    }
    ++m_members;
    const char *utf8 = archive_entry_pathname_utf8(entry);
    const char *raw = archive_entry_pathname(entry);
    member.name = utf8 ? QString::fromUtf8(utf8) : QString::fromLatin1(raw ? raw : "");
    const mode_t type = archive_entry_filetype(entry);
    member.isDirectory = type == AE_IFDIR || member.name.endsWith(QLatin1Char('/'));
    member.isLink = type == AE_IFLNK || archive_entry_hardlink(entry) != nullptr
        || archive_entry_symlink(entry) != nullptr;
    member.isRegularFile = !member.isDirectory && !member.isLink && (type == AE_IFREG || type == 0);
    member.isEncrypted = archive_entry_is_encrypted(entry) != 0;
    member.declaredSize = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    return Next::Member;
}

bool ArchiveInput::account(qint64 bytes)
{
    m_unpacked += bytes;
    return m_unpacked <= m_unpackLimit;
}

ArchiveInput::Read ArchiveInput::readAll(QByteArray &bytes, qint64 limit)
{
    bytes.clear();
    return readMember([&](const char *data, qint64 size) {
        if (bytes.size() + size > limit) {
            bytes.clear();
            return Read::TooLarge;
        }
        bytes.append(data, qsizetype(size));
        return Read::Ok;
    });
}

ArchiveInput::Read ArchiveInput::copyTo(QIODevice *device)
{
    return readMember([&](const char *data, qint64 size) {
        if (device->write(data, size) != size) {
            m_error = device->errorString();
            return Read::WriteFailed;
        }
        return Read::Ok;
    });
}

ArchiveInput::Read ArchiveInput::readMember(
    const std::function<Read(const char *data, qint64 size)> &take)
{
    QByteArray chunk(int(ChunkSize), Qt::Uninitialized);
    for (;;) {
        const la_ssize_t read = archive_read_data(m_archive, chunk.data(), size_t(chunk.size()));
        if (read < 0) {
            const char *text = archive_error_string(m_archive);
            m_error = text ? QString::fromUtf8(text) : QStringLiteral("damaged member");
            return Read::Failed;
        }
        if (read == 0)
            return Read::Ok;
        if (!account(read))
            return Read::Failed;
        if (const Read taken = take(chunk.constData(), read); taken != Read::Ok)
            return taken;
    }
}

QString ArchiveInput::errorString() const
{
    if (m_unpacked > m_unpackLimit)
        return QStringLiteral("the archive unpacks to more than %1 MB").arg(m_unpackLimit >> 20);
    return m_error;
}
