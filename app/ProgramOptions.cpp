// kelta's command line: the usage text, the options and where the positional arguments begin.
#include "app/ProgramOptions.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "io/AtomicFile.h"
#include "io/CommandLine.h"
#include "io/DataPath.h"
#include "io/Fatal.h"
#include "scene/TerrainArguments.h"

namespace {

const char* const SCREENSHOT_FOLDER = "--screenshot-folder";

// The usage text up to the default map, which is shown as this process finds it.
const char* const USAGE_HEAD =
    "Usage: kelta [options] [--] [HEIGHT_MAP [HORIZONTAL_SCALE [HEIGHT_SCALE]]]\n"
    "Flies through a landscape built from a grey-scale height map or an elevation map.\n"
    "\n"
    "Arguments:\n"
    "  HEIGHT_MAP        BMP, PNG or raw 16-bit (.r16, .raw) height map, or an elevation map\n"
    "                    in metres in any format GDAL reads (GeoTIFF, .hgt, .asc, .vrt, ...),\n"
    "                    read as given (default: ";
const char* const USAGE =
    ")\n"
    "  HORIZONTAL_SCALE  grid spacing, a whole number of at least 1 (default: 1)\n"
    "  HEIGHT_SCALE      height of white, a whole number of at least 0 (default: 20); not for\n"
    "                    elevation maps, which stand at their true proportions\n"
    "\n"
    "Options:\n"
    "  -h, --help        show this text\n"
    "  --version         show the version\n"
    "  --                end of the options, for a height map whose name begins with '-'\n"
    "  --play PATH       fly the camera path in the file PATH from the first frame (its format\n"
    "                    is in the README, under \"Camera paths\"; key R records one)\n"
    "  --constant-speed  with --play: fly the path at one speed over its whole length\n"
    "  --screenshot-folder FOLDER\n"
    "                    where F12 writes its screenshots (default: the working directory)\n"
    "  A value follows its option, or is written onto it: --exaggeration=2.\n"
    "\n";
const char* const KEYS_AND_DATA =
    "\n"
    "Keys:\n"
    "  W S A D           move forward, back, left, right\n"
    "  G V               move up, down\n"
    "  Q E F C           turn left, right; look up, down\n"
    "  mouse             look around while mouse-look is on; with it off: left drag orbits,\n"
    "                    right drag pans, the wheel zooms to the cursor, a double-click flies\n"
    "                    there, Ctrl and a click adds a point to the measured path\n"
    "  Left Shift        five times faster; with comma and period: bloom gain\n"
    "  Left Alt          four times slower\n"
    "  M                 mouse-look on or off (frees the cursor)\n"
    "  F1                the panel on or off: map, camera, the point under the cursor,\n"
    "                    measuring, settings and saved views (frees the cursor)\n"
    "  F12               screenshot without the panel: kelta-YYYY-MM-DD-HH-MM-SS.png\n"
    "  1 to 5            terrain shading: 1 and 2 white, 3 height as grey, 4 lighting, 5 full\n"
    "  Ctrl + 1 to 9     save the view (place, direction, time of day, shading, exaggeration)\n"
    "                    under that number, for this map\n"
    "  Alt + 1 to 9      fly to the view saved under that number\n"
    "  B                 next view: bloom, no bloom, bright pass, blurred bloom\n"
    "  comma, period     bloom threshold down, up\n"
    "  Page Up, Down     exaggeration up, down, by a factor of 1.25\n"
    "  I                 print the point under the cursor and copy it to the clipboard\n"
    "  R                 start recording the flight; again: save it as\n"
    "                    kelta-path-DATE-TIME.json in the working directory, for --play\n"
    "  [ ]               with --sun-time: the sun's time a quarter of an hour back, on; two\n"
    "                    hours with Shift\n"
    "  Escape            quit\n"
    "  A file dropped on the window opens: a picture drapes the map, a map replaces it.\n"
    "\n"
    "Data:\n"
    "  Every data file comes from one data set (folders Maps and Textures), the first of:\n"
    "  the working directory when it holds Maps or Textures; the installed data,\n"
    "  share/kelta beside the executable's folder; the folder data beside the executable.\n"
    "  A file missing there ends the program with \"File not found\".\n";

// The terrain's options and kelta's own.
const std::vector<const char*>& valueOptions() {
    static const std::vector<const char*> options = [] {
        std::vector<const char*> all = terrainValueOptions();
        all.push_back("--play");
        all.push_back(SCREENSHOT_FOLDER);
        all.insert(all.end(), followValueOptions().begin(), followValueOptions().end());
        return all;
    }();
    return options;
}

const std::vector<const char*>& flags() {
    static const std::vector<const char*> options = [] {
        std::vector<const char*> all = terrainFlags();
        all.push_back("--constant-speed");
        return all;
    }();
    return options;
}

}  // namespace

ProgramOptions readCommandLine(int argc, char** argv) {
    ProgramOptions options;
    OptionReader reader(argc, argv, RefusalVoice::Kelta);
    std::string value, error, expected;
    bool isPlayGiven = false, isFollowTuned = false;
    for (;;) {
        const OptionStep step = reader.nextOption(valueOptions(), flags(), value, error);
        if (step == OptionStep::End || step == OptionStep::Positional) break;
        if (step == OptionStep::Error) fatal(error);
        if (step == OptionStep::Help) {
            std::cout << USAGE_HEAD << absolutePath(resolveDataPath(TerrainArguments().heightMapPath)) << USAGE
                      << TERRAIN_OPTIONS_HELP << "\n" << FOLLOW_OPTIONS_HELP << KEYS_AND_DATA << "  In use from here: " << absolutePath(dataRoot())
                      << std::endl;
            std::exit(0);
        }
        if (step == OptionStep::Version) {
            std::cout << "kelta " << KELTA_VERSION << std::endl;
            std::exit(0);
        }
        if (reader.name() == "--play") {
            options.flightFile = value;
            isPlayGiven = true;
        } else if (reader.name() == "--constant-speed") {
            options.isConstantSpeed = true;
        } else if (reader.name() == SCREENSHOT_FOLDER) {
            if (value.empty()) fatal(reader.badValue("a folder"));
            // A folder that cannot take the pictures is said now, not at the first F12.
            if (!checkWritableFolder(value, error)) fatal(std::string(SCREENSHOT_FOLDER) + " " + error);
            options.screenshotFolder = value;
        } else if (std::find(followValueOptions().begin(), followValueOptions().end(), reader.name()) !=
                   followValueOptions().end()) {
            if (!readFollowOption(reader.name(), value, options.follow, expected)) fatal(reader.badValue(expected));
            isFollowTuned = isFollowTuned || reader.name() != "--follow";
        } else if (!readTerrainOption(reader.name(), value, options.terrain, expected)) {
            fatal(reader.badValue(expected));
        }
    }
    if (options.isConstantSpeed && !isPlayGiven) fatal("--constant-speed needs --play PATH (see kelta --help)");
    if (isFollowTuned && !options.follow.isAsked()) {
        fatal("--follow-height and --follow-speed need --follow TRACK (see kelta --help)");
    }
    // One flight at a time takes the camera.
    if (isPlayGiven && options.follow.isAsked()) fatal("--play and --follow cannot fly at once (see kelta --help)");
    // Read before the window opens, so that a bad file ends the run at once.
    if (isPlayGiven) {
        if (!readCameraPath(options.flightFile, options.flight, error)) fatal("Could not play " + error);
        if (options.isConstantSpeed) options.flight = options.flight->withConstantSpeed();
    }
    // The scales are read with the map, once a window is open; their number and places are known now.
    if (!reader.checkPositionals({"height map", "horizontal scale", "height scale"}, error)) fatal(error);
    // The program name moves up to stand just before the first positional argument.
    const int first = reader.positionalStart();
    argv[first - 1] = argv[0];
    options.argc = argc - (first - 1);
    options.argv = argv + (first - 1);
    return options;
}
