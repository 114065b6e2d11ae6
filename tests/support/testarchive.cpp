#include "testarchive.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

namespace {

la_ssize_t appendTo(struct archive *, void *data, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(data)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

} // namespace

QByteArray makeTestArchive(TestArchiveKind kind, const QList<TestArchiveMember> &members)
{
    QByteArray out;
    struct archive *a = archive_write_new();
    if (kind == TestArchiveKind::Zip) {
        archive_write_set_format_zip(a);
        // No padding after the end record: a truncated archive is then truly cut short.
        archive_write_set_bytes_in_last_block(a, 1);
    } else
        archive_write_set_format_pax_restricted(a);
    archive_write_open(a, &out, nullptr, appendTo, nullptr);
    for (const TestArchiveMember &member : members) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, member.name.toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, member.bytes.size());
        archive_write_header(a, entry);
        archive_write_data(a, member.bytes.constData(), size_t(member.bytes.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return out;
}

bool writeTestFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

QString testSamplePath(const QString &name)
{
    return QStringLiteral(NOTES_TEST_SAMPLES_DIR "/") + name;
}

QString testFindingPath(const QString &name)
{
    return QStringLiteral(NOTES_TEST_FINDINGS_DIR "/") + name;
}
