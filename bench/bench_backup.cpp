// Backup of a large collection and its restore into an empty data directory: wall time and the
// process's peak memory (Linux: VmHWM), with attachments that do not compress, as photos don't.
// Usage: bench_backup [notes] [attachment MB] [runs]; CPU time is the whole process's.
#include "attachmentrepository.h"
#include "backup.h"
#include "benchmedian.h"
#include "benchmemory.h"
#include "collectiongenerator.h"
#include "database.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

double processCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Store
{
    explicit Store(const QString &dataDir)
    {
        QDir().mkpath(dataDir);
        ok = database.open(databasePath(dataDir)) && database.migrate();
        notes = std::make_unique<NoteRepository>(&database);
        notebooks = std::make_unique<NotebookRepository>(&database);
        attachments
            = std::make_unique<AttachmentRepository>(&database, attachmentsDirectory(dataDir));
        writer = std::make_unique<NoteWriter>(&database, notes.get(), notebooks.get());
    }
    ImportTarget target()
    {
        return { writer.get(), notes.get(), notebooks.get(), attachments.get() };
    }

    bool ok = false;
    Database database;
    std::unique_ptr<NoteRepository> notes;
    std::unique_ptr<NotebookRepository> notebooks;
    std::unique_ptr<AttachmentRepository> attachments;
    std::unique_ptr<NoteWriter> writer;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type >= QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    const QStringList args = app.arguments();
    const int noteCount = args.size() > 1 ? args[1].toInt() : 10000;
    const int attachmentMb = args.size() > 2 ? args[2].toInt() : 200;
    const int runs = args.size() > 3 ? std::max(1, args[3].toInt()) : 1;

    QTemporaryDir work;
    const QString sourceDir = work.filePath(QStringLiteral("source"));
    if (!CollectionGenerator::fillDataDirectory(sourceDir, noteCount))
        return 1;
    Store source(sourceDir);
    if (!source.ok)
        return 1;
    const QStringList noteIds = source.notes->allNoteIds();
    QRandomGenerator random(CollectionGenerator::DefaultSeed);
    QByteArray bytes(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < attachmentMb; ++i) {
        random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        Attachment attachment;
        attachment.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        attachment.noteId = noteIds.at(i % noteIds.size());
        attachment.filename = QStringLiteral("photo-%1.jpg").arg(i);
        attachment.mimeType = QStringLiteral("image/jpeg");
        attachment.sizeBytes = bytes.size();
        attachment.createdAt = QDateTime::currentDateTimeUtc();
        if (!source.attachments->insert(attachment)
            || !source.attachments->saveFile(attachment.id, bytes))
            return 1;
    }
    bytes.clear();
    bytes.squeeze();

    const QString zipPath = work.filePath(QStringLiteral("backup.zip"));
    QList<double> backupMs, backupCpu, restoreMs, restoreCpu, readMs, writeMs, readCpu, writeCpu,
        backupPeaks, restorePeaks;
    ImportResult made;
    ImportResult restored;
    const double baseline = peakMemoryMb();
    for (int run = 0; run < runs; ++run) {
        resetPeakMemory();
        QElapsedTimer clock;
        clock.start();
        double cpu = processCpuMs();
        made = createBackup(zipPath, source.target());
        backupMs.append(clock.elapsed());
        backupCpu.append(processCpuMs() - cpu);
        backupPeaks.append(peakMemoryMb());
        if (made.errors) {
            std::fprintf(stderr, "backup failed: %s\n", qPrintable(made.errorMessage));
            return 1;
        }

        Store fresh(work.filePath(QStringLiteral("restored-%1").arg(run)));
        resetPeakMemory();
        // The reading phase ends when the first "Restoring notes…" step is reported.
        double writingFrom = -1;
        double writingCpuFrom = -1;
        const QString writingText = QCoreApplication::translate("Backup", "Restoring notes…");
        clock.restart();
        cpu = processCpuMs();
        restored
            = restoreBackup(zipPath, fresh.target(), false, [&](int, int, const QString &text) {
                  if (writingFrom < 0 && text == writingText) {
                      writingFrom = double(clock.nsecsElapsed()) / 1e6;
                      writingCpuFrom = processCpuMs();
                  }
              });
        const double total = double(clock.nsecsElapsed()) / 1e6;
        restoreMs.append(total);
        const double cpuEnd = processCpuMs();
        restoreCpu.append(cpuEnd - cpu);
        readCpu.append(writingCpuFrom - cpu);
        writeCpu.append(cpuEnd - writingCpuFrom);
        restorePeaks.append(peakMemoryMb());
        readMs.append(writingFrom);
        writeMs.append(writingFrom < 0 ? -1 : total - writingFrom);
        if (restored.errors) {
            std::fprintf(stderr, "restore failed: %s\n", qPrintable(restored.errorMessage));
            return 1;
        }
    }

    std::printf("%d notes, %d MB attachments, archive %.1f MB, median of %d run(s)\n",
        made.imported, attachmentMb, QFileInfo(zipPath).size() / 1048576.0, runs);
    std::printf("backup  %6.0f ms (CPU %6.0f ms) | peak memory %6.1f MB (%.1f MB before)\n",
        median(backupMs), median(backupCpu), median(backupPeaks), baseline);
    std::printf("restore %6.0f ms (CPU %6.0f ms) | peak memory %6.1f MB | %d records, %d "
                "attachment files\n",
        median(restoreMs), median(restoreCpu), median(restorePeaks), restored.imported,
        restored.attachmentCount);
    std::printf("        reading and checking the archive %6.0f ms (CPU %6.0f ms), writing the "
                "records %6.0f ms (CPU %6.0f ms)\n",
        median(readMs), median(readCpu), median(writeMs), median(writeCpu));
    return 0;
}
