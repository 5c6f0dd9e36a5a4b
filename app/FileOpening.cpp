// Telling a dropped picture from a map, then draping it or building the map's terrain beside the
// one drawn, which gives way only once the new one is complete.
#include "app/FileOpening.h"

#include <iostream>
#include <memory>
#include <new>

#include "app/Application.h"
#include "app/SavedViewCommands.h"
#include "app/StartupWork.h"
#include "io/Drape.h"
#include "io/HeightMap.h"
#include "scene/Terrain.h"
#include "scene/TrackLine.h"
#include "ui/PathMeasuring.h"

namespace {

// The terrain of the map in `path`, whose first reading keeps the window responsive (a GeoTIFF's
// overviews, a server's answer); null with the reason when it is none. `isPicture` says instead that
// the file is a picture to drape.
std::unique_ptr<Terrain> openMap(Application& application, const std::string& path, bool& isPicture,
                                 std::string& reason) {
    const ElevationOptions read = elevationOptionsOf(application.terrainOptions);
    std::unique_ptr<HeightMapFile> map;
    runWhileResponsive(application.window, [&](const StartupProgress&) {
        isPicture = isDrapePicture(path);
        if (!isPicture) map = HeightMapFile::open(path, read, reason);
    });
    if (!map) return nullptr;
    return Terrain::open(application.terrain->shader, std::move(map), path, application.terrainOptions, reason);
}

}  // namespace

bool openFile(Application& application, const std::string& path, std::string& message) {
    Terrain& current = *application.terrain;
    std::string reason;
    bool opened = false;
    try {
        bool isPicture = false;
        std::unique_ptr<Terrain> terrain = openMap(application, path, isPicture, reason);
        if (isPicture) {
            opened = current.openDrape(path, reason);
            message = "Drape opened: " + path;
        } else if (terrain) {
            terrain->bloomThreshold = current.bloomThreshold;
            application.terrain = std::move(terrain);
            application.placeSun(false);
            // A path measured on the old map means nothing on the new.
            if (application.pathMeasuring) application.pathMeasuring->clear();
            // So does a track followed over it.
            application.trackLine.reset();
            if (application.savedViews) openSavedViews(application);
            // The old map's memory, freed just now, is not kept for the next.
            returnFreedMemory();
            opened = true;
            message = "Map opened: " + path;
        }
    } catch (const std::bad_alloc&) {
        // What was built of the new terrain is released by now; the one drawn is untouched.
        reason = "there is not enough memory for it";
    }
    if (opened) {
        std::cout << message << std::endl;
        return true;
    }
    message = "could not open " + path + ": " + reason + "; keeping the current map";
    std::cerr << application.programName() << ": " << message << std::endl;
    return false;
}
