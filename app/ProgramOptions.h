// kelta's command line: options first, then the terrain's positional arguments.
#pragma once

#include <optional>
#include <string>

#include "app/TerrainOptions.h"
#include "show/CameraPath.h"
#include "show/FollowOptions.h"

struct ProgramOptions {
    // The program name followed by the positional arguments, in argv's own storage.
    int argc = 0;
    char** argv = nullptr;
    TerrainOptions terrain;
    // --play's file and the path read from it, retimed to one speed for --constant-speed.
    std::string flightFile;
    std::optional<CameraPath> flight;
    // Whether --constant-speed retimed it.
    bool isConstantSpeed = false;
    // --follow's track, flown once the map is drawn.
    FollowOptions follow;
    // Where F12's screenshots go; empty: the working directory.
    std::string screenshotFolder;
};

// Reads the options (--help, -h, --version, --play and --constant-speed, the track options and the
// terrain options, a value following its option
// or written onto it after '='; "--" ends them), which stand before the positional arguments.
// Prints the text and ends the process with exit code 0 after --help or --version, and with one
// line and exit code 1 at an unknown option, a bad value, an option after the height map, a
// fourth positional argument, a camera path file that cannot be read, --play with --follow, a
// track option without --follow, or a screenshot folder that is not a folder it may write into.
ProgramOptions readCommandLine(int argc, char** argv);
