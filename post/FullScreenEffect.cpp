// A pass that covers the current viewport with one quad drawn by its own program.
#include "post/FullScreenEffect.h"

#include "gpu/Shader.h"

namespace {

// Two counter-clockwise triangles as a strip, so they survive back-face culling.
const GLfloat quadVertices[] = {
    -1.0f, -1.0f, 0.0f,
    1.0f, -1.0f, 0.0f,
    -1.0f, 1.0f, 0.0f,
    1.0f, 1.0f, 0.0f,
};

}  // namespace

FullScreenEffect::FullScreenEffect(Shader* shader) : shader(shader) {
    glGenBuffers(1, &vbo);
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quadVertices), quadVertices, GL_STATIC_DRAW);
    setupAttributes();
    glBindVertexArray(0);
}

void FullScreenEffect::setupAttributes() {
    glEnableVertexAttribArray(shader->positionLocation);
    glVertexAttribPointer(shader->positionLocation, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(GLfloat), nullptr);
}

void FullScreenEffect::setUniforms() {}

void FullScreenEffect::draw() {
    glUseProgram(shader->program);
    glBindVertexArray(vao);
    setUniforms();
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}
