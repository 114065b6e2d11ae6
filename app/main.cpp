#include "application.h"
#include "logging.h"
#include "memorytuning.h"
#include "transfercommand.h"

#include <QElapsedTimer>

// On Windows the GUI entry point (WinMain building argc/argv) comes from Qt's entry-point
// library, linked because the target is a WIN32 executable.
int main(int argc, char *argv[])
{
    tuneMemoryAllocator();
    QElapsedTimer started;
    started.start();
    Logging::install();
    // Backup and restore show no window, so they also run where no display is available.
    if (isTransferCommandLine(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv, started);
    return app.run();
}
