// The settings a person changes while looking, in one place: read them, change a copy, and apply
// it, and the next frame shows them on whichever surface the terrain is drawn with, as the same
// settings given at start-up would have drawn it.
#pragma once

#include <optional>

#include "light/SolarPosition.h"

class Application;

// The range the exaggeration keys keep to: the command line's highest, and a lowest that keeps
// the heights from vanishing into a plane.
constexpr double LEAST_EXAGGERATION = 0.001;
constexpr double GREATEST_EXAGGERATION = 1000.0;

struct ViewSettings {
    // Heights times this (Terrain::exaggeration says what it scales on each kind of map).
    double exaggeration = 1.0;
    // Elevation maps: the sea's level in metres, or none for no sea (see Terrain::setSeaLevel).
    std::optional<double> seaLevelMetres = 0.0;
    // Elevation maps: where snow begins, in metres.
    double snowLineMetres = 2500.0;
    // The far plane's distance in world units; the fog ends at 350/600 of it.
    float viewDistance = 600.0f;
    // The largest projected geometric error in pixels, with level of detail or streaming.
    float errorPixels = 1.0f;
    // Terrain shading, 1 to 5, as the number keys choose it.
    int shadingMode = 5;
    // What the final pass shows, 0 to 3, as key B steps through it: bloom, no bloom, the bright
    // pass, the blurred bloom.
    int view = 0;
    float bloomGain = 1.0f;
    float bloomThreshold = 0.3f;
    // World units a second the camera moves at before Shift or Alt.
    float cameraSpeed = 15.0f;
    // The time the sun stands at, when a time placed it; none otherwise, and a change is ignored.
    std::optional<ZonedTime> sunTime;
};

// The settings in force now; the application must have started up.
ViewSettings viewSettingsOf(const Application& app);
// Puts the settings in force from the next frame on; values are taken as given, within the ranges
// the command line takes. Changes only what differs from the settings in force, so that handing
// back an unchanged copy each frame costs nothing. The view distance also settles the depth
// convention as start-up chooses it for that distance, remaking the scene target when it changes.
// The terrain settings are kept in the application's terrain options too, for a map opened later.
void applyViewSettings(Application& app, const ViewSettings& settings);
