// The process entry on Linux: the Qt application, the window host and the system services,
// then the program's start-up, which runs the main dialog until it ends.

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CPerennixApp.h"
#include "app/CommandLine.h"
#include "backends/posix/PosixFiles.h"
#include "backends/posix/PosixSystem.h"
#include "backends/qt/QtWindowHost.h"
#include "platform/Window.h"

int main(int argc, char** argv)
{
    // --version and --help print and end before the toolkit starts: no window, no display needed.
    const CommandLineOutcome outcome = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    std::fputs(outcome.standardOutput.c_str(), stdout);
    std::fputs(outcome.standardError.c_str(), stderr);
    if (!outcome.run)
        return outcome.exitCode;

    QApplication application(argc, argv);
    // QApplication takes the environment's locale; the program runs in the "C" locale, so
    // character classes and number formats do not depend on the user's settings.
    std::setlocale(LC_ALL, "C");

    QtWindowHost host;
    SetWindowHost(&host);
    PosixSystem system;
    // What a launch starts stays the launch's, also when its launcher returns at once.
    system.AdoptLaunchedOrphans();
    SetSystem(&system);
    PosixFiles files;
    SetFiles(&files);

    CPerennixApp().InitInstance();

    SetWindowHost(nullptr);
    SetSystem(nullptr);
    SetFiles(nullptr);
    return 0;
}
