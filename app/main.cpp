// Entry point: creates and registers the application, then runs it.
#include <iomanip>
#include <iostream>
#include <memory>

#include "app/Application.h"
#include "app/ProgramOptions.h"
#include "io/AtomicFile.h"
#include "io/Fatal.h"
#include "io/StandardStreams.h"
#include "show/PathPlayback.h"

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
    application->followOptions = options.follow;
    application->screenshotFolder = options.screenshotFolder;
    if (options.flight) {
        const CameraPath& path = *options.flight;
        const std::size_t count = path.keyframes().size();
        std::cout << "Playing " << options.flightFile << ": " << count << (count == 1 ? " keyframe, " : " keyframes, ")
                  << std::fixed << std::setprecision(1) << path.durationSeconds() << " s"
                  << (options.isConstantSpeed ? ", at one speed" : "") << std::defaultfloat << std::endl;
        // The main loop's clock starts at 0 with its first frame, and so does the flight.
        application->playback = std::make_unique<PathPlayback>(path, 0.0);
        if (application->playback->setsSunTime() && (!options.terrain.sunTime || options.terrain.sunPlacement)) {
            std::cout << "The path's times of day are left out: only a sun placed by --sun-time moves with them"
                      << std::endl;
        }
    }
    application->run();
    return 0;
}
