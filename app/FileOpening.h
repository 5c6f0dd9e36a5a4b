// Opening a file while the program runs, as one dropped on the window is: a height or elevation map
// takes the place of the map drawn, a picture is laid over it.
#pragma once

#include <string>

class Application;

// Opens the file at `path` (read as given) for `application`, which has its terrain: a picture
// (isDrapePicture in io/Drape.h) is draped over the map, anything else is read as a height map,
// drawn as `kelta [options] FILE` draws it (the application's terrain options, the default scales,
// no drape), with the camera at its start pose and the shading mode and bloom threshold the viewer
// set; the map it replaces is released whole. Logs "Map opened: PATH" or "Drape opened: PATH" and
// returns true with that line in `message`. A file that cannot be opened leaves the terrain as it
// was and returns false, with the one line it wrote to standard error (without the program's name)
// in `message`: "could not open PATH: REASON; keeping the current map".
bool openFile(Application& application, const std::string& path, std::string& message);
