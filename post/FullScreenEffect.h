// One pass that draws a screen-filling quad with its own program.
#pragma once

#include <GL/glew.h>

#include <memory>

#include "gpu/Shader.h"
#include "post/BlurGrid.h"

// Uploads the window as a vec4: the scales, then the offsets.
void setWindowUniform(GLint location, const TextureWindow& window);

class FullScreenEffect {
public:
    GLuint vbo = 0;
    GLuint vao = 0;
    std::unique_ptr<Shader> shader;

    // Takes the built program and uploads the quad.
    explicit FullScreenEffect(std::unique_ptr<Shader> shader);
    // Deletes the quad and the program: the context that made them must be current.
    virtual ~FullScreenEffect();
    FullScreenEffect(const FullScreenEffect&) = delete;
    FullScreenEffect& operator=(const FullScreenEffect&) = delete;

    // Points the position attribute at the quad buffer.
    virtual void setupAttributes();
    // Binds the pass's input textures and uploads its uniforms.
    virtual void setUniforms();

    // Draws the quad over the current viewport of the bound framebuffer.
    void draw();
};
