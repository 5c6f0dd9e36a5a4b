// What the panel shows of one frame: the map, the camera, the point under the cursor, the ground's
// scale, the frame's time and a streamed map's tiles. Gathered by the application each frame the
// panel is shown, so that the panel itself only lays them out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/MapCoordinates.h"
#include "io/Measurement.h"
#include "light/Sunlight.h"
#include "show/SavedViews.h"

struct PanelMap {
    std::string fileName;
    int width = 0;
    int height = 0;
    // The coordinate system's name; empty for a map that has none (an image map).
    std::string coordinateSystem;
    // Ground distance between columns and rows, and the elevation range, in metres for an
    // elevation map and in grid units (heights in world units) for an image map.
    double columnSpacing = 1.0;
    double rowSpacing = 1.0;
    double lowest = 0.0;
    double highest = 0.0;
    bool inMetres = false;
};

struct PanelCamera {
    // The map under the camera (its elevation that of the ground there).
    GroundPoint place;
    double heightAboveSea = 0.0;
    // Unknown over a void or off the map.
    std::optional<double> heightAboveGround;
    // Clockwise from north, 0 to 360.
    double headingDegrees = 0.0;
};

struct PanelTiles {
    uint64_t wanted = 0;
    uint64_t loading = 0;
    uint64_t held = 0;
    double cacheUsedMegabytes = 0.0;
    double cacheMegabytes = 0.0;
};

// The map's saved views, the number a new one is saved under (none while all are taken) and what
// is wrong with their file, if anything.
struct PanelViews {
    std::vector<SavedView> views;
    std::optional<int> freeNumber;
    std::string problem;
};

struct PanelFacts {
    PanelMap map;
    PanelCamera camera;
    // The ground under the cursor; not on the map where the cursor sees none.
    GroundPoint cursor;
    // Ground length a pixel covers at the centre of the view; unknown when the centre sees sky.
    std::optional<double> groundPerPixel;
    double frameSeconds = 0.0;
    std::optional<PanelTiles> tiles;
    // What opening the last file said: the map or picture opened, or why it could not be.
    std::string message;
    // Whether the map has elevations in metres, whose sea level and snow line mean something, and
    // whether it is drawn with an error budget (level of detail or streaming).
    bool hasElevation = false;
    bool hasErrorBudget = false;
    // Where the sun stands, when one is placed.
    std::optional<SunSetting> sun;
    // None in a tool, which keeps no views.
    std::optional<PanelViews> views;
};

// The length a scale bar of at most `longestPixels` shows: the largest 1, 2 or 5 times a power of
// ten that fits, and its length in pixels. False when the scale is unknown or not positive.
bool chooseScaleBar(double groundPerPixel, double longestPixels, double& length, double& pixels);

// The profile's elevations at `count` even steps of distance from its start to its end, for a plot
// whose points are evenly spaced; empty for a profile without length. A void keeps the last
// elevation known.
std::vector<float> evenProfile(const std::vector<ProfileSample>& profile, int count);

// "12.3 m", "4.56 km" for metres; "12.3 units" for grid units.
std::string formatLength(double length, bool inMetres);

class Application;

// The facts of the application's current frame (its terrain, camera and clock), the cursor at
// (cursorX, cursorY) of a window windowWidth x windowHeight (window coordinates from the top left).
PanelFacts gatherPanelFacts(const Application& application, double cursorX, double cursorY, double windowWidth,
                            double windowHeight);
