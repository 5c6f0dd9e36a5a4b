// The ways the terrain's surface is drawn, the full mesh, level of detail and streaming, behind one
// interface that the terrain chooses once at start-up, and the view of one frame they draw for.
#pragma once

#include <cstdint>

#include "math/Math.h"
#include "scene/TerrainGeometry.h"

class TerrainShader;

// What one frame's drawing of the terrain needs of the view.
struct TerrainView {
    mat4 modelview;
    mat4 projection;
    vec3 eye;
    int viewportHeight = 0;
    // Seconds since the main loop started.
    float time = 0.0f;
    // The shading mode, 1 to 5.
    int mode = 5;
    // Whether the projection's clip-space depth runs from 0 to 1 (reversed depth) instead of -1 to 1.
    bool zeroToOneDepth = false;
};

// What streaming has done since start-up, for the benchmark; all zero for the other surfaces.
struct StreamCounters {
    // Frames drawn while a tile they wanted was not in the cache yet.
    uint64_t framesMissingTiles = 0;
    // Tiles read from the map, and the bytes of stored samples read for them.
    uint64_t tilesLoaded = 0;
    uint64_t bytesRead = 0;
};

class TerrainSurface {
public:
    virtual ~TerrainSurface() = default;

    // The program that draws this surface in the mode given: the full mesh takes the one that the
    // mode keys selected, level of detail its own of that mode.
    virtual TerrainShader& program(int mode, TerrainShader& selected) = 0;
    // Draws for the view with `program` current and the uniforms that every surface shares set.
    virtual void draw(const TerrainView& view, TerrainShader& program) = 0;
    // From the next draw on, places the samples' heights as `geometry` does (a change of
    // exaggeration or sea level, made while the program runs); the spacing stays as built. Level
    // of detail rescales its errors with the heights, so that its budget still holds.
    virtual void placeHeights(const TerrainGeometry& geometry) = 0;
    // Triangles the last draw sent, or in the point modes, points.
    virtual uint64_t primitiveCount() const = 0;
    // Whether the last draw showed the finished picture: nothing it wanted still on its way, nothing
    // fading in.
    virtual bool isSettled() const { return true; }
    virtual StreamCounters streamCounters() const { return {}; }
};
