// A pass that covers the current viewport with one quad drawn by its own program.
#include "post/FullScreenEffect.h"

#include "gpu/Shader.h"
#include "gpu/VertexArray.h"

namespace {

// Two counter-clockwise triangles as a strip, so they survive back-face culling.
const GLfloat QUAD_VERTICES[] = {
    -1.0f, -1.0f, 0.0f,
    1.0f, -1.0f, 0.0f,
    -1.0f, 1.0f, 0.0f,
    1.0f, 1.0f, 0.0f,
};

}  // namespace

FullScreenEffect::FullScreenEffect(std::unique_ptr<Shader> program) : shader(std::move(program)) {
    createVertexArray(vao, vbo, nullptr);
    glBufferData(GL_ARRAY_BUFFER, sizeof(QUAD_VERTICES), QUAD_VERTICES, GL_STATIC_DRAW);
    setupAttributes();
    glBindVertexArray(0);
}

FullScreenEffect::~FullScreenEffect() {
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
}

void setWindowUniform(GLint location, const TextureWindow& window) {
    glUniform4f(location, window.scale[0], window.scale[1], window.offset[0], window.offset[1]);
}

void FullScreenEffect::setupAttributes() {
    describeFloatRecords({{shader->positionLocation, 3}});
}

void FullScreenEffect::setUniforms() {}

void FullScreenEffect::draw() {
    glUseProgram(shader->program);
    glBindVertexArray(vao);
    setUniforms();
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}
