#include "application.h"
#include "logging.h"

#include <QElapsedTimer>

// On Windows the GUI entry point (WinMain building argc/argv) comes from Qt's entry-point
// library, linked because the target is a WIN32 executable.
int main(int argc, char *argv[])
{
    QElapsedTimer started;
    started.start();
    Logging::install();
    Application app(argc, argv, started);
    return app.run();
}
