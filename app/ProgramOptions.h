// kelta's command line: options first, then the terrain's positional arguments.
#pragma once

#include <string>

#include "app/TerrainOptions.h"

struct ProgramOptions {
    // The program name followed by the positional arguments, in argv's own storage.
    int argc = 0;
    char** argv = nullptr;
    TerrainOptions terrain;
    // Where F12's screenshots go; empty: the working directory.
    std::string screenshotFolder;
};

// Reads the options (--help, -h, --version and the terrain options, a value following its option
// or written onto it after '='; "--" ends them), which stand before the positional arguments.
// Prints the text and ends the process with exit code 0 after --help or --version, and with one
// line and exit code 1 at an unknown option, a bad value, an option after the height map or a
// fourth positional argument, and when the screenshot folder is not a folder it may write into.
ProgramOptions readCommandLine(int argc, char** argv);
