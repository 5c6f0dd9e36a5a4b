// The path a user lays on the ground by clicking, measured as it grows and drawn over the terrain:
// its points, what measuring says of them (io/Measurement.h) and the line on the ground
// (scene/GroundPath.h). A new map starts a new path: whoever replaces the terrain clears it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "io/MapGround.h"
#include "io/Measurement.h"
#include "math/Math.h"

class GroundPath;
class Terrain;

class PathMeasuring {
public:
    PathMeasuring();
    ~PathMeasuring();
    PathMeasuring(const PathMeasuring&) = delete;
    PathMeasuring& operator=(const PathMeasuring&) = delete;

    // Adds the ground point at `world` (a picked point of `terrain`) to the end of the path.
    void add(const Terrain& terrain, const vec3& world);
    void clear();
    // Called each frame with the terrain drawn: measures the path and lays it anew when the
    // terrain's heights have been placed anew (a new exaggeration or sea level).
    void followHeights(const Terrain& terrain);
    // Measures the path and lays it anew over `terrain`, the map it was laid on drawn anew.
    void layOver(const Terrain& terrain);

    const std::vector<PathPoint>& points() const { return laid; }
    const PathMeasure& measure() const { return measured; }
    // Distances are metres but on image maps, which measure in grid steps.
    bool isInMetres() const { return measured.kind != MapKind::Image; }

    // Writes the profile as CSV through the atomic writer; false with one line saying why.
    bool saveProfile(const std::string& path, std::string& error) const;

    // Draws the line in the scene pass, after the terrain; nothing before the first point.
    void draw(const mat4& modelview, const mat4& projection) const;

private:
    std::unique_ptr<MapGround> ground;
    std::vector<PathPoint> laid;
    PathMeasure measured;
    // Made with the first point, so that a run that measures nothing builds no program for it.
    std::unique_ptr<GroundPath> line;
    // The heights the path was measured over, to measure it anew when they change.
    float laidHeightPerValue = 0.0f;
    float laidHeightOffset = 0.0f;

    void remeasure(const Terrain& terrain);
};
