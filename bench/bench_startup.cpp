// Time from process start to the main window's first paint, on an empty data directory and on
// a collection of 10,000 notes. Usage: bench_startup [path/to/brevaro-notes] [runs]
#include "database.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "paths.h"
#include "preferencesrepository.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

const QStringList Words = {
    QStringLiteral("meeting"),
    QStringLiteral("project"),
    QStringLiteral("budget"),
    QStringLiteral("garden"),
    QStringLiteral("release"),
    QStringLiteral("recipe"),
    QStringLiteral("travel"),
    QStringLiteral("invoice"),
    QStringLiteral("draft"),
    QStringLiteral("review"),
    QStringLiteral("family"),
    QStringLiteral("weekend"),
    QStringLiteral("design"),
    QStringLiteral("server"),
    QStringLiteral("chapter"),
    QStringLiteral("notes"),
    QStringLiteral("ideas"),
    QStringLiteral("shopping"),
};

QString sentence(QRandomGenerator &random, int words)
{
    QStringList parts;
    for (int i = 0; i < words; ++i)
        parts.append(Words.at(random.bounded(int(Words.size()))));
    QString text = parts.join(QLatin1Char(' '));
    text[0] = text[0].toUpper();
    return text;
}

void addLine(QJsonArray &ops, const QString &text, const QJsonObject &block = {})
{
    ops.append(QJsonObject { { QStringLiteral("insert"), text } });
    QJsonObject newline { { QStringLiteral("insert"), QStringLiteral("\n") } };
    if (!block.isEmpty())
        newline.insert(QStringLiteral("attributes"), block);
    ops.append(newline);
}

// A realistic body: a title heading, paragraphs with some bold text, bullet or checkbox lists,
// now and then a table; most notes short, some long.
QString makeBody(QRandomGenerator &random)
{
    QJsonArray ops;
    addLine(ops, sentence(random, 3), { { QStringLiteral("header"), 1 } });
    const int sections = random.bounded(10) == 0 ? 8 + random.bounded(12) : 1 + random.bounded(3);
    for (int s = 0; s < sections; ++s) {
        if (s > 0)
            addLine(ops, sentence(random, 2), { { QStringLiteral("header"), 2 } });
        ops.append(QJsonObject {
            { QStringLiteral("insert"), sentence(random, 2) + QLatin1Char(' ') },
            { QStringLiteral("attributes"), QJsonObject { { QStringLiteral("bold"), true } } } });
        addLine(ops, sentence(random, 8 + random.bounded(30)));
        const int kind = random.bounded(4);
        const int items = 2 + random.bounded(6);
        for (int i = 0; i < items && kind < 3; ++i) {
            const QString list = kind == 0 ? QStringLiteral("bullet")
                : kind == 1
                ? QStringLiteral("ordered")
                : (random.bounded(2) ? QStringLiteral("checked") : QStringLiteral("unchecked"));
            addLine(
                ops, sentence(random, 3 + random.bounded(6)), { { QStringLiteral("list"), list } });
        }
        if (random.bounded(12) == 0) {
            QJsonArray rows;
            for (int r = 0; r < 4; ++r)
                rows.append(QJsonArray { sentence(random, 1), sentence(random, 2),
                    QString::number(random.bounded(1000)) });
            const QJsonObject table { { QStringLiteral("cells"), rows },
                { QStringLiteral("hasHeader"), true } };
            ops.append(QJsonObject { { QStringLiteral("insert"),
                QJsonObject { { QStringLiteral("table"),
                    QString::fromUtf8(QJsonDocument(table).toJson(QJsonDocument::Compact)) } } } });
            ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") } });
        }
    }
    return QString::fromUtf8(QJsonDocument(ops).toJson(QJsonDocument::Compact));
}

bool generateCollection(const QString &dataDir, int noteCount)
{
    qputenv("NOTES_DATA_DIR", dataDir.toUtf8());
    Database database;
    if (!database.open(databasePath()) || !database.migrate())
        return false;
    NotebookRepository notebooks(&database);
    NoteRepository notes(&database);
    PreferencesRepository preferences(&database);
    // A user with a large collection has long seen the welcome notes.
    preferences.setBool(QStringLiteral("has_seen_welcome"), true);

    QRandomGenerator random(20261207);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList notebookIds;
    for (int i = 0; i < 12; ++i) {
        Notebook notebook;
        notebook.id = newId();
        notebook.name = sentence(random, 1) + QLatin1Char(' ') + QString::number(i);
        notebook.createdAt = notebook.updatedAt = now.addDays(-400);
        if (!notebooks.insert(notebook))
            return false;
        notebookIds.append(notebook.id);
    }

    QSqlDatabase connection = database.connection();
    connection.transaction();
    for (int i = 0; i < noteCount; ++i) {
        Note note;
        note.id = newId();
        if (random.bounded(3) != 0)
            note.notebookId = notebookIds.at(random.bounded(int(notebookIds.size())));
        note.body = makeBody(random);
        const QDateTime when = now.addSecs(-qint64(random.bounded(365 * 24 * 3600)));
        note.createdAt = note.updatedAt = note.modifiedAt = when;
        note.syncStatus = SyncStatus::Synced;
        if (!notes.insert(note)) {
            connection.rollback();
            return false;
        }
    }
    return connection.commit();
}

struct Timing
{
    qint64 externalMs = -1; // process start to the log line, as seen from outside
    qint64 internalMs = -1; // main() to first paint, as the program reports it
};

Timing timeOneStart(const QString &executable, const QString &dataDir, const QString &tempDir)
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
        if (match.hasMatch()) {
            timing.externalMs = clock.elapsed();
            timing.internalMs = match.captured(1).toLongLong();
            break;
        }
    }
    process.kill();
    process.waitForFinished();
    if (timing.externalMs < 0)
        std::fprintf(stderr, "no first paint seen; output:\n%s\n", output.constData());
    return timing;
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

void measure(const char *label, const QString &executable, const QString &dataDir,
    const QString &tempDir, int runs)
{
    // One unmeasured start warms the file cache, as a user's second start would be.
    timeOneStart(executable, dataDir, tempDir);
    QList<qint64> external, internal;
    for (int i = 0; i < runs; ++i) {
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
    if (!generateCollection(largeData.path(), 10000)) {
        std::fprintf(stderr, "could not generate the 10,000-note collection\n");
        return 1;
    }
    std::printf("generated 10,000 notes in %lld ms\n", static_cast<long long>(clock.elapsed()));

    measure("empty data directory", executable, emptyData.path(), tempDir.path(), runs);
    measure("10,000 notes", executable, largeData.path(), tempDir.path(), runs);
    return 0;
}
