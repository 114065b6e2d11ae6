// Time from process start to the main window's first paint, on an empty data directory and on
// a collection of 10,000 notes. Usage: bench_startup [path/to/brevaro-notes] [runs]
#include "benchmedian.h"
#include "collectiongenerator.h"
#include "memorytuning.h"
#include "paths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

struct Timing
{
    qint64 externalMs = -1; // process start to the log line, as seen from outside
    qint64 internalMs = -1; // main() to first paint, as the program reports it
    qint64 indexedMs = -1; // process start to the search index build's end, when waited for
};

// As after an upgrade from a version without the plain-text index: every note unindexed.
bool dropSearchRows(const QString &dataDir)
{
    bool ok = false;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("drop"));
        db.setDatabaseName(databasePath(dataDir));
        ok = db.open() && QSqlQuery(db).exec(QStringLiteral("DELETE FROM notes_text_fts"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("drop"));
    return ok;
}

Timing timeOneStart(const QString &executable, const QString &dataDir, const QString &tempDir,
    bool waitForIndex = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NOTES_DATA_DIR"), dataDir);
    env.insert(QStringLiteral("TMPDIR"), tempDir);
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(executable, {});
    Timing timing;
    QByteArray output;
    static const QRegularExpression painted(
        QStringLiteral("Main window first painted (\\d+) ms after start"));
    while (clock.elapsed() < 60000 && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(20);
        output += process.readAll();
        const QRegularExpressionMatch match = painted.match(QString::fromUtf8(output));
        if (match.hasMatch() && timing.externalMs < 0) {
            timing.externalMs = clock.elapsed();
            timing.internalMs = match.captured(1).toLongLong();
            if (!waitForIndex)
                break;
        }
        if (waitForIndex && output.contains("notes for search\n")
            && QRegularExpression(QStringLiteral("Indexed \\d+ notes for search"))
                   .match(QString::fromUtf8(output))
                   .hasMatch()) {
            timing.indexedMs = clock.elapsed();
            break;
        }
    }
    process.kill();
    process.waitForFinished();
    if (timing.externalMs < 0)
        std::fprintf(stderr, "no first paint seen; output:\n%s\n", output.constData());
    return timing;
}

void measure(const char *label, const QString &executable, const QString &dataDir,
    const QString &tempDir, int runs, bool unindexed = false)
{
    // One unmeasured start warms the file cache, as a user's second start would be.
    timeOneStart(executable, dataDir, tempDir);
    QList<qint64> external, internal;
    for (int i = 0; i < runs; ++i) {
        if (unindexed && !dropSearchRows(dataDir))
            std::fprintf(stderr, "could not drop the search rows\n");
        const Timing timing = timeOneStart(executable, dataDir, tempDir);
        external.append(timing.externalMs);
        internal.append(timing.internalMs);
    }
    std::printf("%-22s median of %d: %4lld ms from process start, %4lld ms from main()\n", label,
        runs, static_cast<long long>(median(external)), static_cast<long long>(median(internal)));
}

} // namespace

int main(int argc, char *argv[])
{
    tuneMemoryAllocator();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString executable = args.size() > 1
        ? args.at(1)
        : QCoreApplication::applicationDirPath() + QStringLiteral("/../app/brevaro-notes");
    const int runs = args.size() > 2 ? qMax(1, args.at(2).toInt()) : 5;
    if (!QFileInfo(executable).isExecutable()) {
        std::fprintf(stderr, "executable not found: %s\n", qPrintable(executable));
        return 2;
    }

    QTemporaryDir tempDir;
    QTemporaryDir emptyData;
    QTemporaryDir largeData;
    QElapsedTimer clock;
    clock.start();
    if (!CollectionGenerator::fillDataDirectory(largeData.path(), 10000)) {
        std::fprintf(stderr, "could not generate the 10,000-note collection\n");
        return 1;
    }
    std::printf("generated 10,000 notes in %lld ms\n", static_cast<long long>(clock.elapsed()));

    measure("empty data directory", executable, emptyData.path(), tempDir.path(), runs);
    measure("10,000 notes", executable, largeData.path(), tempDir.path(), runs);
    // The first start after the search index came: the window first, the index after it.
    measure("10,000 unindexed notes", executable, largeData.path(), tempDir.path(), runs, true);
    dropSearchRows(largeData.path());
    const Timing build = timeOneStart(executable, largeData.path(), tempDir.path(), true);
    std::printf("10,000 unindexed notes: first paint %lld ms, index complete %lld ms from process "
                "start\n",
        static_cast<long long>(build.externalMs), static_cast<long long>(build.indexedMs));
    return 0;
}
