// A textured spherical cap centred below the eye, carrying the sky image; it and the fog grow with
// the view distance (at the default distance of 600: fog ends at 350, the cap is centred 200 below).
#pragma once

#include <GL/glew.h>

#include <memory>

#include "math/Math.h"

class SkyShader;
class Texture;

class Skydome {
public:
    // Rings from the zenith to the horizon, segments around each ring.
    static constexpr int RINGS = 9;
    static constexpr int SEGMENTS = 18;

    std::unique_ptr<SkyShader> shader;
    // rgb: fog colour, w: the distance where the fog is complete.
    vec4 skyData{1.0f, 1.0f, 1.0f, 350.0f};
    // How far below the eye the cap is centred.
    float centreBelowEye = 200.0f;
    int vertexCount = RINGS * SEGMENTS;
    int indexCount = (RINGS - 1) * (2 * SEGMENTS + 2);
    GLuint vao = 0;
    GLuint vertexBuffer = 0;
    GLuint indexBuffer = 0;
    std::unique_ptr<Texture> texture;

    // Sized for the application's view distance.
    Skydome();
    // Resizes the cap and the fog for another view distance, as a sky made for it is sized.
    void setViewDistance(float viewDistance);
    // Deletes its buffers, program and texture: the context that made them must be current.
    ~Skydome();
    Skydome(const Skydome&) = delete;
    Skydome& operator=(const Skydome&) = delete;

    void draw();
};
