// A textured spherical cap centred 200 units below the eye, carrying the sky image.
#pragma once

#include <GL/glew.h>

#include "math/Math.h"

class SkyShader;
class Texture;

class Skydome {
public:
    SkyShader* shader = nullptr;
    vec4 skyData{1.0f, 1.0f, 1.0f, 350.0f};
    int vertexCount = 162;
    int indexCount = 304;
    GLuint vao = 0;
    GLuint vertexBuffer = 0;
    GLuint indexBuffer = 0;
    Texture* texture = nullptr;

    Skydome();

    void draw();
};
