// Entry point: creates and registers the application, then runs it.
#include "app/Application.h"
#include "app/ProgramOptions.h"
#include "io/Fatal.h"
#include "io/StandardStreams.h"

int main(int argc, char** argv) {
    ensureStandardDescriptors();
    reportUncaughtAllocationFailures();
    const ProgramOptions options = readCommandLine(argc, argv);
    Application* application = new Application();
    Application::registerInstance(application);
    application->argc = options.argc;
    application->argv = options.argv;
    application->terrainOptions = options.terrain;
    application->run();
    return 0;
}
