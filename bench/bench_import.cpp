// Import of a generated Joplin export into an empty data directory: wall time and the process's
// peak memory (Linux: VmHWM). The archive is shaped like a real one: nested notebooks, Markdown
// notes with headings, lists and tables, and resources that do not compress, as photos don't.
// Usage: bench_import [notes] [notebooks] [resources] [runs]
#include "benchcpu.h"
#include "attachmentrepository.h"
#include "benchmedian.h"
#include "benchmemory.h"
#include "database.h"
#include "joplinimport.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "paths.h"
#include "testarchive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <memory>

#ifdef Q_OS_UNIX
#include <time.h>
#endif

namespace {

constexpr quint32 Seed = 20261208;

QString joplinId(QRandomGenerator &random)
{
    QString id;
    for (int i = 0; i < 4; ++i)
        id += QStringLiteral("%1").arg(random.generate(), 8, 16, QLatin1Char('0'));
    return id;
}

QByteArray item(const QString &title, const QString &content, const QStringList &metadata)
{
    QString text = title + QLatin1String("\n\n");
    if (!content.isEmpty())
        text += content + QLatin1String("\n\n");
    return (text + metadata.join(QLatin1Char('\n'))).toUtf8();
}

QStringList times(int day)
{
    const QString stored = QStringLiteral("2026-12-07T21:00:22.107Z");
    const QString seen = QDateTime(QDate(2023, 1, 1).addDays(day % 700), QTime(9, 30), Qt::UTC)
                             .toString(Qt::ISODateWithMs);
    return { QStringLiteral("created_time: ") + stored, QStringLiteral("updated_time: ") + stored,
        QStringLiteral("user_created_time: ") + seen,
        QStringLiteral("user_updated_time: ") + seen };
}

QString noteContent(QRandomGenerator &random, int index, const QString &resourceLink)
{
    static const QStringList words { QStringLiteral("meeting"), QStringLiteral("plan"),
        QStringLiteral("budget"), QStringLiteral("review"), QStringLiteral("garden"),
        QStringLiteral("invoice"), QStringLiteral("dentist"), QStringLiteral("release") };
    auto sentence = [&] {
        QStringList picked;
        for (int i = 0, n = 6 + int(random.bounded(10)); i < n; ++i)
            picked << words.at(int(random.bounded(int(words.size()))));
        return picked.join(QLatin1Char(' ')) + QLatin1Char('.');
    };
    QString text
        = QStringLiteral("## Section %1\n\n%2 %3\n\n").arg(index).arg(sentence(), sentence());
    text += QStringLiteral("- [ ] %1\n- [x] %2\n- **%3**\n\n")
                .arg(sentence(), sentence(), sentence());
    if (index % 5 == 0)
        text += QStringLiteral("| a | b |\n|---|---|\n| %1 | %2 |\n\n").arg(index).arg(index * 2);
    if (index % 3 == 0)
        text += QStringLiteral("```\nint x = %1;\n```\n\n").arg(index);
    text += sentence();
    if (!resourceLink.isEmpty())
        text += QLatin1String("\n\n") + resourceLink;
    return text;
}

QByteArray makeArchive(int noteCount, int folderCount, int resourceCount)
{
    QRandomGenerator random(Seed);
    QList<TestArchiveMember> members;
    QStringList folders;
    for (int i = 0; i < folderCount; ++i) {
        const QString id = joplinId(random);
        // Six trees of six levels each.
        const QString parent = i % 6 == 0 ? QString() : folders.last();
        members.append({ id + QLatin1String(".md"),
            item(QStringLiteral("Notebook %1").arg(i), QString(),
                QStringList { QStringLiteral("id: ") + id } + times(i)
                    + QStringList {
                        QStringLiteral("parent_id: ") + parent, QStringLiteral("type_: 2") }) });
        folders.append(id);
    }
    QStringList resourceLinks;
    QByteArray bytes(56 * 1024, Qt::Uninitialized);
    for (int i = 0; i < resourceCount; ++i) {
        const QString id = joplinId(random);
        const bool image = i % 3 != 0;
        const QString extension = image ? QStringLiteral("png") : QStringLiteral("pdf");
        const QString name = QStringLiteral("file-%1.%2").arg(i).arg(extension);
        random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        members.append({ QStringLiteral("resources/%1.%2").arg(id, extension), bytes });
        members.append({ id + QLatin1String(".md"),
            item(name, QString(),
                QStringList { QStringLiteral("id: ") + id,
                    QStringLiteral("mime: ")
                        + QLatin1String(image ? "image/png" : "application/pdf") }
                    + times(i)
                    + QStringList { QStringLiteral("file_extension: ") + extension,
                        QStringLiteral("type_: 4") }) });
        resourceLinks
            << (image ? QStringLiteral("![%1](:/%2)") : QStringLiteral("[%1](:/%2)")).arg(name, id);
    }
    QHash<int, QString> linkOfNote; // resources spread evenly over the notes
    for (int r = 0; r < resourceCount && noteCount > 0; ++r)
        linkOfNote[int(qint64(r) * noteCount / resourceCount)]
            += resourceLinks.at(r) + QLatin1Char('\n');
    for (int i = 0; i < noteCount; ++i) {
        const QString id = joplinId(random);
        const QString link = linkOfNote.value(i).trimmed();
        members.append({ id + QLatin1String(".md"),
            item(QStringLiteral("Note %1").arg(i), noteContent(random, i, link),
                QStringList { QStringLiteral("id: ") + id,
                    QStringLiteral("parent_id: ") + folders.value(i % folderCount) }
                    + times(i)
                    + QStringList { QStringLiteral("encryption_cipher_text: "),
                        QStringLiteral("markup_language: 1"), QStringLiteral("type_: 1") }) });
    }
    return makeTestArchive(TestArchiveKind::Tar, members);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type >= QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    const QStringList args = app.arguments();
    const int noteCount = args.size() > 1 ? args[1].toInt() : 2000;
    const int folderCount = qMax(1, args.size() > 2 ? args[2].toInt() : 36);
    const int resourceCount = args.size() > 3 ? args[3].toInt() : 150;
    const int runs = args.size() > 4 ? args[4].toInt() : 3;

    QTemporaryDir work;
    const QString archivePath = work.filePath(QStringLiteral("export.jex"));
    if (!writeTestFile(archivePath, makeArchive(noteCount, folderCount, resourceCount)))
        return 1;

    QList<qint64> durations;
    QList<qint64> cpuTimes;
    QList<qint64> threadTimes;
    QList<double> peaks;
    ImportResult result;
    for (int run = 0; run < runs; ++run) {
        const QString dataDir = work.filePath(QStringLiteral("data-%1").arg(run));
        QDir().mkpath(dataDir);
        Database database;
        if (!database.open(databasePath(dataDir)) || !database.migrate())
            return 1;
        NoteRepository notes(&database);
        NotebookRepository notebooks(&database);
        AttachmentRepository attachments(&database, attachmentsDirectory(dataDir));
        NoteWriter writer(&database, &notes, &notebooks);
        resetPeakMemory();
        QElapsedTimer clock;
        clock.start();
        const std::clock_t cpuStart = std::clock();
        const double threadStart = threadCpuMs();
        result = importJoplin({ &writer, &notes, &notebooks, &attachments }, archivePath);
        durations << clock.elapsed();
        cpuTimes << qint64(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;
        threadTimes << qint64(threadCpuMs() - threadStart);
        peaks << peakMemoryMb();
        if (result.errors > 0) {
            std::fprintf(stderr, "import failed: %s\n", qPrintable(result.errorMessage));
            return 1;
        }
    }
    std::printf("archive %.1f MiB: %d notes, %d notebooks, %d resources\n",
        QFileInfo(archivePath).size() / 1048576.0, result.imported, folderCount,
        result.attachmentCount);
    std::printf("import median %lld ms over %d runs (CPU %lld ms, of which the calling thread %lld "
                "ms) | peak memory median %.1f MB\n",
        median(durations), runs, median(cpuTimes), median(threadTimes), median(peaks));
    return 0;
}
