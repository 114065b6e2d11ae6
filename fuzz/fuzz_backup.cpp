#include "backup.h"
#include "fuzzimportstore.h"

#include <QCoreApplication>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QCoreApplication *application = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        static int argc = 1;
        static char name[] = "fuzz";
        static char *argv[] = { name, nullptr };
        return new QCoreApplication(argc, argv);
    }();
    Q_UNUSED(application);
    // Every input is restored into one store for the whole run.
    static FuzzImportStore store;

    const QString archivePath = store.dir.filePath(QStringLiteral("input.zip"));
    QFile file(archivePath);
    fuzzRequire(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "can't write input");
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    const int notesBefore
        = int(store.notes->allNotes().size() + store.notes->trashedNotes().size());
    const ImportTarget target { store.writer, store.notes, store.notebooks, store.attachments };
    const ImportResult result = restoreBackup(archivePath, target, size % 2 == 1);
    const int notesAfter = int(store.notes->allNotes().size() + store.notes->trashedNotes().size());

    fuzzRequire(result.errors == 0 || result.errors == 1, "errors is neither 0 nor 1");
    fuzzRequire(
        result.errors == 0 || notesAfter == notesBefore, "a failed restore changed the notes");
    fuzzRequire(result.errors == 1 || result.errorMessage.isEmpty(), "success with a message");
    // Only the data directory and the scratch files may exist beside the input: no entry name
    // ever becomes a path of its own.
    const QStringList top
        = QDir(store.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : top) {
        fuzzRequire(name == QLatin1String("input.zip") || name == QLatin1String("data")
                || name.startsWith(QLatin1String("fuzz.db")),
            "something was written outside the data directory");
    }
    for (const QString &name :
        QDir(store.attachments->directory())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        fuzzRequire(AttachmentRepository::isValidId(name), "an attachment file not named by an id");
    return 0;
}
