// kelta's command line: options first, then the terrain's positional arguments.
#pragma once

struct ProgramOptions {
    // The program name followed by the positional arguments, in argv's own storage.
    int argc = 0;
    char** argv = nullptr;
    bool levelOfDetail = false;
    float lodErrorPixels = 1.0f;
};

// Reads the options (--help, -h, --version, --lod, --lod-error PIXELS, which implies --lod; "--"
// ends them), which stand before the positional arguments. Prints the text and ends the process with exit code 0
// after --help or --version, and with one line and exit code 1 at an unknown option or a bad value.
ProgramOptions readCommandLine(int argc, char** argv);

// The pixel budget of --lod-error: a number above 0 and at most 1000.
bool parseLodErrorPixels(const char* text, float& pixels);
