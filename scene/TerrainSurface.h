// The two ways the terrain's surface is drawn, the full mesh and level of detail, behind one
// interface that the terrain chooses once at start-up, and the view of one frame they draw for.
#pragma once

#include <cstdint>

#include "math/Math.h"

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

class TerrainSurface {
public:
    virtual ~TerrainSurface() = default;

    // The program that draws this surface in the mode given: the full mesh takes the one that the
    // mode keys selected, level of detail its own of that mode.
    virtual TerrainShader& program(int mode, TerrainShader& selected) = 0;
    // Draws for the view with `program` current and the uniforms that every surface shares set.
    virtual void draw(const TerrainView& view, TerrainShader& program) = 0;
    // Triangles the last draw sent, or in the point modes, points.
    virtual uint64_t primitiveCount() const = 0;
};
