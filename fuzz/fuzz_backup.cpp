#include "attachmentrepository.h"
#include "backup.h"
#include "database.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// One data directory holding one note for the whole run: every input is restored into it.
struct Store
{
    QTemporaryDir dir;
    Database database;
    NoteRepository *notes = nullptr;
    NotebookRepository *notebooks = nullptr;
    AttachmentRepository *attachments = nullptr;
    NoteWriter *writer = nullptr;

    Store()
    {
        if (!dir.isValid() || !database.open(dir.filePath(QStringLiteral("fuzz.db")))
            || !database.migrate())
            std::abort();
        notes = new NoteRepository(&database);
        notebooks = new NotebookRepository(&database);
        attachments
            = new AttachmentRepository(&database, dir.filePath(QStringLiteral("data/attachments")));
        writer = new NoteWriter(&database, notes, notebooks);
    }
};

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

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
    static Store store;

    const QString archivePath = store.dir.filePath(QStringLiteral("input.zip"));
    QFile file(archivePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    const int notesBefore
        = int(store.notes->allNotes().size() + store.notes->trashedNotes().size());
    const ImportTarget target { store.writer, store.notes, store.notebooks, store.attachments };
    const ImportResult result = restoreBackup(archivePath, target, size % 2 == 1);
    const int notesAfter = int(store.notes->allNotes().size() + store.notes->trashedNotes().size());

    require(result.errors == 0 || result.errors == 1, "errors is neither 0 nor 1");
    require(result.errors == 0 || notesAfter == notesBefore, "a failed restore changed the notes");
    require(result.errors == 1 || result.errorMessage.isEmpty(), "success with a message");
    // Only the data directory and the scratch files may exist beside the input: no entry name
    // ever becomes a path of its own.
    const QStringList top
        = QDir(store.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : top) {
        require(name == QLatin1String("input.zip") || name == QLatin1String("data")
                || name.startsWith(QLatin1String("fuzz.db")),
            "something was written outside the data directory");
    }
    for (const QString &name :
        QDir(store.attachments->directory())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        require(AttachmentRepository::isValidId(name), "an attachment file not named by an id");
    return 0;
}
