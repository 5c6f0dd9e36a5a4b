// The terrain's command line: the height map and the two scales.
#pragma once

#include <string>

struct TerrainArguments {
    std::string heightMapPath = "Maps\\Lake_512.bmp";
    float horizontalScale = 1.0f;
    float heightScale = 20.0f;
    // Whether the command line gave the height scale (which elevation maps refuse).
    bool heightScaleGiven = false;
};

// Reads argv[1] (height-map path), argv[2] (horizontal scale) and argv[3] (height scale) where
// present. A scale must be a whole decimal number (leading white space and a sign allowed),
// the horizontal one at least 1 and the height one at least 0; otherwise returns false with a
// one-line message naming the argument.
bool parseTerrainArguments(int argc, const char* const* argv, TerrainArguments& arguments,
                           std::string& error);
