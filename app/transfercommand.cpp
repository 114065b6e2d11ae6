#include "transfercommand.h"

#include "attachmentrepository.h"
#include "backup.h"
#include "database.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "notewriter.h"
#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstring>

namespace {

const QString BackupOption = QStringLiteral("--backup");
const QString RestoreOption = QStringLiteral("--restore");

QString tr(const char *text)
{
    return QCoreApplication::translate("TransferCommand", text);
}

} // namespace

TransferCommand parseTransferCommand(const QStringList &arguments)
{
    TransferCommand command;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument != BackupOption && argument != RestoreOption)
            continue;
        if (command.kind != TransferCommand::Kind::None) {
            command.error = tr("Give only one of --backup and --restore.");
            return command;
        }
        command.kind = argument == BackupOption ? TransferCommand::Kind::Backup
                                                : TransferCommand::Kind::Restore;
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()
            || arguments[i + 1].startsWith(QLatin1String("--"))) {
            command.error = tr("%1 needs the path of a ZIP file.").arg(argument);
            return command;
        }
        command.path = arguments[++i];
    }
    return command;
}

bool isTransferCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--backup") == 0 || std::strcmp(argv[i], "--restore") == 0)
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
