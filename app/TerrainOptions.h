// The options that shape the terrain and its view, read the same way by kelta, kelta-shot and
// kelta-bench.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "io/HeightMap.h"
#include "light/SolarPosition.h"

struct TerrainOptions {
    // Draw with level of detail, keeping the projected geometric error within lodErrorPixels.
    bool levelOfDetail = false;
    float lodErrorPixels = 1.0f;
    // Elevation maps: heights times this (1: the land's real shape).
    double exaggeration = 1.0;
    // Elevation maps: fill the samples without data from their surroundings instead of leaving holes.
    bool fillVoids = false;
    // Elevation maps: the sea's level in metres; without a sea, ground below 0 m stays land.
    bool hasSea = true;
    double seaLevelMetres = 0.0;
    // Elevation maps: where snow lies; the other material bands move with it in proportion.
    double snowLineMetres = 2500.0;
    // A picture to colour the terrain with instead of the materials; empty for none.
    std::string drapePath;
    // The picture's bands (from 1) shown as red, green and blue; zeros: those it declares.
    std::array<int, 3> drapeBands{0, 0, 0};
    // Distance of the far plane in world units; the fog ends at 350/600 of it.
    float viewDistance = 600.0f;
    // Stream the map from its pyramid whatever its size (maps too large for one texture always stream).
    bool stream = false;
    // Megabytes of the GPU cache that streamed tiles are held in.
    int tileCacheMegabytes = 64;
    // The sun placed directly, or by a time at the map's place (or at `location`); neither keeps
    // the default scene's fixed light and textured sky.
    std::optional<SunPosition> sunPlacement;
    std::optional<ZonedTime> sunTime;
    // Latitude and longitude in degrees where the sun's time is taken instead of the map's centre.
    std::optional<std::array<double, 2>> location;
    // Whether the terrain casts shadows; unset: whenever the sun is placed.
    std::optional<bool> shadows;

    bool isSunPlaced() const { return sunPlacement || sunTime; }
    bool areShadowsWanted() const { return shadows.value_or(isSunPlaced()); }
};

// How a map's samples are read under these options.
ElevationOptions elevationOptionsOf(const TerrainOptions& options);

// The options' names as a command line spells them: those that take a value, and the flags.
const std::vector<const char*>& terrainValueOptions();
const std::vector<const char*>& terrainFlags();

// Reads one of the options named above into `options` (`value` is ignored for a flag). A bad
// value leaves `options` alone and returns false with what the option takes in `expected`, such
// as "a number above 0 and at most 1000", for the program to put into its own refusal.
bool readTerrainOption(const std::string& name, const std::string& value, TerrainOptions& options,
                       std::string& expected);

// The --help lines of these options, the same in every program that reads them.
extern const char* const TERRAIN_OPTIONS_HELP;

// A finite decimal number that is the whole text (no space around it): what every decimal option
// of the command lines takes.
bool parseDecimal(const std::string& text, double& value);
// A decimal above `above` (or from `above` where `aboveIncluded`) and at most `highest`; false
// leaves `value` alone.
bool parseDecimalWithin(const std::string& text, double above, bool aboveIncluded, double highest, double& value);
