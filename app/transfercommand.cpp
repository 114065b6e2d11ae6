#include "transfercommand.h"

#include "attachmentrepository.h"
#include "backup.h"
#include "database.h"
#include "importers.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstring>
#include <optional>

namespace {

const QString BackupOption = QStringLiteral("--backup");
const QString RestoreOption = QStringLiteral("--restore");
const QString ImportOption = QStringLiteral("--import");

QString tr(const char *text)
{
    return QCoreApplication::translate("TransferCommand", text);
}

int runImport(const QString &path, const ImportTarget &target, QTextStream &out, QTextStream &err)
{
    const std::optional<ImportFormat> format = detectImportFormat(path);
    if (!format) {
        err << tr("Import failed: %1 is neither a Joplin export (.jex) nor a NoteStation export "
                  "(.nsx).")
                   .arg(path)
            << Qt::endl;
        return 1;
    }
    const ImportResult result
        = importerFor(*format)(target, path, [&out](int current, int total, const QString &text) {
              if (total > 0)
                  out << QStringLiteral("[%1/%2] ").arg(current).arg(total);
              out << text << Qt::endl;
          });
    out << tr("Imported: %1 notes").arg(result.imported);
    if (result.attachmentCount > 0)
        out << tr("\nAttachments: %1").arg(result.attachmentCount);
    if (result.errors > 0)
        out << tr("\nErrors: %1").arg(result.errors);
    out << Qt::endl;
    if (result.errors > 0) {
        err << tr("Import failed: %1").arg(result.errorMessage) << Qt::endl;
        return 1;
    }
    return 0;
}

} // namespace

TransferCommand parseTransferCommand(const QStringList &arguments)
{
    TransferCommand command;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument != BackupOption && argument != RestoreOption && argument != ImportOption)
            continue;
        if (command.kind != TransferCommand::Kind::None) {
            command.error = tr("Give only one of --backup, --restore and --import.");
            return command;
        }
        command.kind = argument == BackupOption ? TransferCommand::Kind::Backup
            : argument == RestoreOption         ? TransferCommand::Kind::Restore
                                                : TransferCommand::Kind::Import;
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()
            || arguments[i + 1].startsWith(QLatin1String("--"))) {
            command.error = argument == ImportOption
                ? tr("--import needs the path of a .jex or .nsx file.")
                : tr("%1 needs the path of a ZIP file.").arg(argument);
            return command;
        }
        command.path = arguments[++i];
    }
    return command;
}

bool isTransferCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--backup") == 0 || std::strcmp(argv[i], "--restore") == 0
            || std::strcmp(argv[i], "--import") == 0)
            return true;
    }
    return false;
}

int runTransferCommand(const TransferCommand &command, const QString &dataDir)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!command.error.isEmpty()) {
        err << command.error << Qt::endl;
        return 2;
    }

    Database database;
    if (!QDir().mkpath(dataDir) || !database.open(databasePath(dataDir)) || !database.migrate()) {
        err << tr("Failed to open the database in %1").arg(dataDir) << Qt::endl;
        return 1;
    }
    NoteRepository notes(&database);
    NotebookRepository notebooks(&database);
    AttachmentRepository attachments(&database, attachmentsDirectory(dataDir));
    NoteWriter writer(&database, &notes, &notebooks);
    const ImportTarget target { &writer, &notes, &notebooks, &attachments };

    const QString path = QDir::current().absoluteFilePath(command.path);
    if (command.kind == TransferCommand::Kind::Backup) {
        const ImportResult result = createBackup(path, target);
        if (result.errors > 0) {
            err << tr("Backup Failed: %1").arg(result.errorMessage) << Qt::endl;
            return 1;
        }
        out << tr("Backup saved: %1 notes").arg(result.imported) << Qt::endl;
        return 0;
    }
    if (command.kind == TransferCommand::Kind::Import)
        return runImport(path, target, out, err);
    const ImportResult result = restoreBackup(path, target, false);
    if (result.errors > 0) {
        err << tr("Restore failed: %1").arg(result.errorMessage) << Qt::endl;
        return 1;
    }
    out << tr("Imported: %1\nSkipped: %2\nErrors: %3\nAttachments: %4")
               .arg(result.imported)
               .arg(result.skipped)
               .arg(result.errors)
               .arg(result.attachmentCount)
        << Qt::endl;
    return 0;
}
