// One pass that draws a screen-filling quad with its own program.
#pragma once

#include <GL/glew.h>

class Shader;

class FullScreenEffect {
public:
    GLuint vbo = 0;
    GLuint vao = 0;
    Shader* shader = nullptr;

    // Takes ownership of the built program and uploads the quad.
    explicit FullScreenEffect(Shader* shader);

    // Points the position attribute at the quad buffer.
    virtual void setupAttributes();
    // Binds the pass's input textures and uploads its uniforms.
    virtual void setUniforms();

    // Draws the quad over the current viewport of the bound framebuffer.
    void draw();
};
