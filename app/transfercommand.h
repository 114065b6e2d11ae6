#pragma once

#include <QString>
#include <QStringList>

// "--backup FILE", "--restore FILE" and "--import FILE": whole-collection work done without a
// window.
struct TransferCommand
{
    enum class Kind { None, Backup, Restore, Import };
    Kind kind = Kind::None;
    QString path;
    QString error; // set when the command line asks for one but is malformed
};

TransferCommand parseTransferCommand(const QStringList &arguments);
// True when the raw arguments name a transfer command (checked before the application exists,
// to start it without a display).
bool isTransferCommandLine(int argc, char **argv);

// Runs the command on the database of `dataDir` (offline restore: existing records are kept;
// an import reads a Joplin or NoteStation export, told apart by its content), prints progress
// and the counts on standard output and any failure on standard error. The exit code.
int runTransferCommand(const TransferCommand &command, const QString &dataDir);
