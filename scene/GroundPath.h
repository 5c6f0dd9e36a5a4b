// A line drawn on the ground in the scene pass, after the terrain: the line draped over the surface
// (io/Measurement.h, drapeOnGround) in its colour (the measured path's bright yellow-orange, a
// followed track's own), and a square marker at each clicked point. Drawn depth-tested, so that hills in front hide it, but pulled towards the eye so
// that the surface it lies on never does. With no path it draws nothing and changes no GL state.
#pragma once

#include <GL/glew.h>

#include <memory>
#include <vector>

#include "math/Math.h"

class GroundPathShader;

// The measured path's line.
constexpr vec3 MEASURED_PATH_COLOUR{1.0f, 0.62f, 0.05f};

class GroundPath {
public:
    // Builds the program and an empty vertex array: the context must be current.
    explicit GroundPath(const vec3& lineColour = MEASURED_PATH_COLOUR);
    // Deletes its buffer, vertex array and program: the context that made them must be current.
    ~GroundPath();
    GroundPath(const GroundPath&) = delete;
    GroundPath& operator=(const GroundPath&) = delete;

    // Replaces what is drawn: `line` the draped world line (consecutive points joined), `markers`
    // the clicked world points; either may be empty. `leastPull` is how far, in world units, the
    // path is at least pulled towards the eye, about the map's sample spacing in the world: the
    // surface between draped points lies that much above the line at most.
    void setPath(const std::vector<vec3>& line, const std::vector<vec3>& markers, float leastPull);
    bool isEmpty() const { return lineVertexCount == 0 && markerVertexCount == 0; }

    // Draws into the bound framebuffer and viewport with the frame's matrices, under the depth test
    // as it is set; leaves the depth write mask as it found it, no program and no vertex array bound.
    void draw(const mat4& modelview, const mat4& projection) const;

private:
    std::unique_ptr<GroundPathShader> shader;
    GLuint vertexArray = 0;
    GLuint vertexBuffer = 0;
    // The line's triangles first, then the markers'.
    int lineVertexCount = 0;
    int markerVertexCount = 0;
    float leastPull = 0.0f;
    vec3 lineColour;
};
