#include "notebundle.h"

#include "attachmentrepository.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryDir>

namespace {

ExportResult bundleFailure(const QString &path, const QString &reason)
{
    qWarning().noquote() << "writeNoteBundle: can't write" << path << '-' << reason;
    ExportResult result;
    result.path = path;
    result.error = QStringLiteral("Failed to write file: %1").arg(reason);
    return result;
}

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

ExportResult writeNoteBundle(
    const Note &note, const QString &exportedPath, const AttachmentRepository &attachments)
{
    ExportResult plain;
    plain.ok = true;
    plain.path = exportedPath;
    const QList<Attachment> records = attachments.attachmentsForNote(note.id);
    if (records.isEmpty())
        return plain;

    const QFileInfo exported(exportedPath);
    const QString bundlePath
        = exported.dir().filePath(exported.completeBaseName() + QStringLiteral(".zip"));
    QTemporaryDir staging;
    QTemporaryDir output;
    if (!staging.isValid() || !output.isValid())
        return bundleFailure(bundlePath, QStringLiteral("no temporary directory"));

    QFile source(exportedPath);
    if (!source.open(QIODevice::ReadOnly)
        || !writeWhole(staging.filePath(exported.fileName()), source.readAll()))
        return bundleFailure(bundlePath, source.errorString());

    const QDir attachmentDir(staging.filePath(QStringLiteral("attachments")));
    if (!QDir().mkpath(attachmentDir.path()))
        return bundleFailure(bundlePath, QStringLiteral("can't create a staging directory"));
    QSet<QString> usedNames;
    for (const Attachment &record : records) {
        const QByteArray bytes = attachments.readFile(record.id);
        if (bytes.isEmpty() && record.sizeBytes > 0) {
            qWarning().noquote() << "writeNoteBundle: attachment file missing" << record.id;
            continue;
        }
        // Display names come from other devices and imports: never a path.
        QString name = sanitizeFileName(record.filename);
        for (int n = 2; usedNames.contains(name.toLower()); ++n)
            name = QStringLiteral("%1-%2").arg(n).arg(sanitizeFileName(record.filename));
        usedNames.insert(name.toLower());
        if (!writeWhole(attachmentDir.filePath(name), bytes))
            return bundleFailure(bundlePath, QStringLiteral("can't stage %1").arg(name));
    }

    const QString zipPath = output.filePath(QStringLiteral("bundle.zip"));
    QProcess zip;
    zip.setWorkingDirectory(staging.path());
    zip.setProcessChannelMode(QProcess::MergedChannels);
    zip.start(QStringLiteral("zip"),
        { QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-X"), zipPath,
            QStringLiteral(".") });
    if (!zip.waitForStarted(10000))
        return bundleFailure(
            bundlePath, QStringLiteral("zip could not be started: %1").arg(zip.errorString()));
    if (!zip.waitForFinished(60000)) {
        zip.kill();
        zip.waitForFinished(1000);
        return bundleFailure(bundlePath, QStringLiteral("zip did not finish"));
    }
    if (zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        return bundleFailure(bundlePath,
            QStringLiteral("zip failed: %1").arg(QString::fromLocal8Bit(zip.readAll()).trimmed()));

    QFile built(zipPath);
    if (!built.open(QIODevice::ReadOnly))
        return bundleFailure(bundlePath, built.errorString());
    QSaveFile target(bundlePath);
    const QByteArray bytes = built.readAll();
    if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size()
        || !target.commit())
        return bundleFailure(bundlePath, target.errorString());

    ExportResult result;
    result.ok = true;
    result.path = bundlePath;
    return result;
}
