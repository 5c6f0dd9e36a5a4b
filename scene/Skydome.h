// A textured spherical cap centred 200 units below the eye, carrying the sky image.
#pragma once

#include <GL/glew.h>

#include "math/Math.h"

class SkyShader;
class Texture;

class Skydome {
public:
    // Rings from the zenith to the horizon, segments around each ring.
    static constexpr int RINGS = 9;
    static constexpr int SEGMENTS = 18;

    SkyShader* shader = nullptr;
    vec4 skyData{1.0f, 1.0f, 1.0f, 350.0f};
    int vertexCount = RINGS * SEGMENTS;
    int indexCount = (RINGS - 1) * (2 * SEGMENTS + 2);
    GLuint vao = 0;
    GLuint vertexBuffer = 0;
    GLuint indexBuffer = 0;
    Texture* texture = nullptr;

    Skydome();

    void draw();
};
