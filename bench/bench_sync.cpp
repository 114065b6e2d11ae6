// Sync engine against the recording server on 127.0.0.1: the first pull of many notes (time to
// written, and the longest stretch without event processing), a cycle with nothing to do (wall
// and GUI-thread CPU time, the in-process server's share included), and many pending notes
// going out in one push.
// Usage: bench_sync [notes] [runs] [all-columns]; "all-columns" puts back the update trigger of
// notes_fts that fired on every column (before migration 4), for comparing.
#include "syncfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

QJsonArray serverNotes(int count)
{
    QJsonArray changes;
    const qint64 base = 1700000000000;
    for (int i = 0; i < count; ++i) {
        const QString text
            = QStringLiteral("Note %1 from the other device\nA second line with some "
                             "words to make the body a realistic size, number %1.")
                  .arg(i);
        changes.append(QJsonObject {
            { QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces) },
            { QStringLiteral("body"), SyncFixture::body(text) },
            { QStringLiteral("version"), 1 },
            { QStringLiteral("created_at"), base + i },
            { QStringLiteral("updated_at"), base + i },
            { QStringLiteral("modified_at"), base + i },
        });
    }
    return changes;
}

// Runs one cycle and reports its wall time and the longest gap between two ticks of a 10 ms
// timer, i.e. how long the window could not have repainted.
struct CycleTiming
{
    // When each progress label was first seen, from the start of the cycle.
    QHash<QString, double> firstSeenMs;
    double wallMs = 0;
    double cpuMs = 0;
    double longestGapMs = 0;
    // The same stretch in CPU time of this thread: on a loaded machine a wall-time gap also
    // holds the time the thread waited for a core.
    double longestGapCpuMs = 0;
};

CycleTiming timeCycle(SyncFixture &f)
{
    QTimer ticker;
    ticker.setInterval(10);
    QElapsedTimer sinceTick;
    double longest = 0;
    double longestCpu = 0;
    double tickCpu = threadCpuMs();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
        const double cpuNow = threadCpuMs();
        longestCpu = std::max(longestCpu, cpuNow - tickCpu);
        tickCpu = cpuNow;
        sinceTick.restart();
    });
    const qsizetype before = f.completed.size() + f.failed.size();
    CycleTiming timing;
    QElapsedTimer wall;
    const QMetaObject::Connection progress = QObject::connect(
        &f.engine, &SyncEngine::syncProgress, [&](const QString &label, int, int) {
            if (!timing.firstSeenMs.contains(label))
                timing.firstSeenMs.insert(label, double(wall.nsecsElapsed()) / 1e6);
        });
    const double cpu = threadCpuMs();
    wall.start();
    sinceTick.start();
    ticker.start();
    f.engine.sync();
    while (f.completed.size() + f.failed.size() == before)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(progress);
    timing.wallMs = double(wall.nsecsElapsed()) / 1e6;
    timing.cpuMs = threadCpuMs() - cpu;
    timing.longestGapMs = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
    timing.longestGapCpuMs = std::max(longestCpu, threadCpuMs() - tickCpu);
    return timing;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const bool allColumns = argc > 3 && QByteArray(argv[3]) == "all-columns";
    const QJsonArray changes = serverNotes(count);

    QList<double> pullWall, pullCpu, pullGap, pullGapCpu, pullWrite, emptyWall, emptyCpu, pushWall;
    qint64 pushBytes = 0;
    int pushRequests = 0;
    for (int run = 0; run < runs; ++run) {
        SyncFixture f;
        if (allColumns) {
            QSqlQuery query(f.db.database()->connection());
            if (!query.exec(QStringLiteral("DROP TRIGGER notes_au"))
                || !query.exec(QStringLiteral(
                    "CREATE TRIGGER notes_au AFTER UPDATE ON notes BEGIN  INSERT INTO "
                    "notes_fts(notes_fts, rowid, body) VALUES ('delete', old.rowid, old.body);  "
                    "INSERT INTO notes_fts(rowid, body) VALUES (new.rowid, new.body);END"))) {
                std::fprintf(stderr, "could not put back the old trigger\n");
                return 1;
            }
        }
        f.account.client->syncApi()->setTimeouts(BrevAccount::ApiClient::DefaultTimeoutMs,
            BrevAccount::ApiClient::DefaultBinaryIdleTimeoutMs);
        f.serveEmpty();
        f.server().setReply(QByteArrayLiteral("GET"),
            SyncFixture::path(QStringLiteral("/sync/pull")),
            ScriptedReply::json(200,
                { { QStringLiteral("changes"), changes }, { QStringLiteral("timestamp"), 2000 } }));
        const CycleTiming pull = timeCycle(f);
        if (f.notes.allNoteIds().size() != count) {
            std::fprintf(stderr, "pull stored %lld of %d notes\n",
                static_cast<long long>(f.notes.allNoteIds().size()), count);
            return 1;
        }
        pullWall << pull.wallMs;
        pullGap << pull.longestGapMs;
        pullGapCpu << pull.longestGapCpuMs;
        pullCpu << pull.cpuMs;
        // From the request to the first written note's progress, and from there to the end of
        // the note pull (the notebook step starting).
        const double asked = pull.firstSeenMs.value(QStringLiteral("Downloading notes"));
        const double written = pull.firstSeenMs.value(QStringLiteral("Downloading notebooks"));
        pullWrite << written - asked;

        f.serveEmpty(3000);
        timeCycle(f);
        for (int i = 0; i < 10; ++i) {
            const CycleTiming idle = timeCycle(f);
            emptyWall << idle.wallMs;
            emptyCpu << idle.cpuMs;
        }

        f.writer.markAllPending();
        f.server().clearRequests();
        pushWall << timeCycle(f).wallMs;
        const QList<RecordedRequest> pushes
            = f.server().requests(SyncFixture::path(QStringLiteral("/sync/push")));
        pushRequests = int(pushes.size());
        pushBytes = pushes.isEmpty() ? 0 : pushes.first().body.size();
        if (!f.notes.pendingNotes().isEmpty()) {
            std::fprintf(stderr, "push left notes pending\n");
            return 1;
        }
    }
    std::printf("%6d notes: first pull written %8.1f ms (longest without events %5.1f ms, %5.1f ms "
                "of CPU)\n",
        count, median(pullWall), median(pullGap), median(pullGapCpu));
    std::printf(
        "        GUI-thread CPU of that cycle (server included): %8.1f ms\n", median(pullCpu));
    std::printf("        of which the note pull step (request, reply, parse, write): %8.1f ms\n",
        median(pullWrite));
    std::printf("empty cycle: %6.2f ms wall, %6.2f ms GUI-thread CPU (server included)\n",
        median(emptyWall), median(emptyCpu));
    std::printf("%6d pending notes: %d push request(s) of %.1f MB, cycle %8.1f ms\n", count,
        pushRequests, double(pushBytes) / 1e6, median(pushWall));
    return 0;
}
