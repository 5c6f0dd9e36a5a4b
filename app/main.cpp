// Entry point: creates and registers the application, then runs it.
#include <memory>

#include "app/Application.h"
#include "app/ProgramOptions.h"
#include "io/AtomicFile.h"
#include "io/Fatal.h"
#include "io/StandardStreams.h"

int main(int argc, char** argv) {
    ensureStandardDescriptors();
    // A run ended by a signal leaves no half-written file or pyramid behind.
    removeUnfinishedFilesOnEndingSignals();
    reportUncaughtAllocationFailures();
    const ProgramOptions options = readCommandLine(argc, argv);
    const std::unique_ptr<Application> application = std::make_unique<Application>();
    Application::registerInstance(application.get());
    application->argc = options.argc;
    application->argv = options.argv;
    application->terrainOptions = options.terrain;
    application->screenshotFolder = options.screenshotFolder;
    application->run();
    return 0;
}
