// A followed track drawn on the ground in its own colour, over whatever the terrain's heights are
// now: laid anew when they are placed anew (a new exaggeration or sea level) or the map is read again.
#pragma once

#include <memory>
#include <vector>

#include "math/Math.h"

class GroundPath;
class Terrain;

// Magenta, which neither the materials, the water nor the measured path's yellow-orange come near.
constexpr vec3 TRACK_COLOUR{0.95f, 0.15f, 0.75f};

class TrackLine {
public:
    // `track`: the world points of the track (heights not looked at), laid over `terrain` at once;
    // the context must be current.
    TrackLine(std::vector<vec3> track, const Terrain& terrain);
    ~TrackLine();
    TrackLine(const TrackLine&) = delete;
    TrackLine& operator=(const TrackLine&) = delete;

    // Called each frame with the terrain drawn: lays the line anew when its heights have changed.
    void followHeights(const Terrain& terrain);
    // Lays the line anew over `terrain`, the same map drawn anew.
    void layOver(const Terrain& terrain);
    // Draws the line in the scene pass, after the terrain.
    void draw(const mat4& modelview, const mat4& projection) const;

private:
    std::vector<vec3> track;
    std::unique_ptr<GroundPath> line;
    // The heights the line was laid over, to lay it anew when they change.
    float laidHeightPerValue = 0.0f;
    float laidHeightOffset = 0.0f;
};
