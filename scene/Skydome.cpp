// The sky: a textured spherical cap built once, drawn centred below the eye so that it never
// shows parallax.
#include "scene/Skydome.h"

#include <cstdint>
#include <vector>

#include "gpu/TextureUnits.h"
#include "app/Application.h"
#include "gpu/Texture.h"
#include "gpu/VertexArray.h"
#include "math/Camera.h"
#include "scene/SkyShader.h"

namespace {

constexpr int FLOATS_PER_VERTEX = 5;

}  // namespace

Skydome::Skydome() {
    shader = std::make_unique<SkyShader>();
    std::vector<uint32_t> indices;
    indices.reserve(static_cast<size_t>(indexCount));
    for (uint32_t r = 0; r + 1 < RINGS; ++r) {
        for (uint32_t c = 0; c < SEGMENTS; ++c) {
            indices.push_back(SEGMENTS * r + c);
            indices.push_back(SEGMENTS * (r + 1) + c);
        }
        indices.push_back(SEGMENTS * r);
        indices.push_back(SEGMENTS * (r + 1));
    }

    createVertexArray(vao, vertexBuffer, &indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * sizeof(uint32_t), indices.data(), GL_STATIC_DRAW);
    setViewDistance(Application::instance().terrainOptions.viewDistance);
    describeFloatRecords({{shader->positionLocation, 3}, {shader->textureLocation, 2}});
    glBindVertexArray(0);

    texture = std::make_unique<Texture>("Textures\\Skydome.bmp");
}

void Skydome::setViewDistance(float viewDistance) {
    // The whole scene scales with the view distance about the eye, so the sky looks the same at
    // any distance; at the default one these are exactly 350 and 200.
    skyData.w = viewDistance * 350.0f / 600.0f;
    centreBelowEye = skyData.w * 200.0f / 350.0f;
    // Slightly beyond the fog end, so fully fogged terrain meets the sky behind it.
    const float radius = skyData.w * 1.2f;
    std::vector<float> vertices(static_cast<size_t>(vertexCount) * FLOATS_PER_VERTEX);
    float* out = vertices.data();
    for (int i = 0; i < RINGS; ++i) {
        const float theta = static_cast<float>(i) * 3.1415927f / static_cast<float>(2 * RINGS);
        const float sinTheta = math::sin(theta);
        const float cosTheta = math::cos(theta);
        for (int j = 0; j < SEGMENTS; ++j) {
            const float phi = static_cast<float>(j) * 6.2831855f / static_cast<float>(SEGMENTS);
            const float x = math::cos(phi) * sinTheta;
            const float z = math::sin(phi) * sinTheta;
            *out++ = x * radius;
            *out++ = cosTheta * radius;
            *out++ = z * radius;
            // Polar mapping of the cap onto a disc centred in the image: no seam where the rings close.
            *out++ = 0.5f + (-0.5f * sinTheta) * x;
            *out++ = 0.5f + (-0.5f * sinTheta) * z;
        }
    }

    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(float), vertices.data(), GL_STATIC_DRAW);
}

Skydome::~Skydome() {
    glDeleteVertexArrays(1, &vao);
    const GLuint buffers[2] = {vertexBuffer, indexBuffer};
    glDeleteBuffers(2, buffers);
}

void Skydome::draw() {
    glUseProgram(shader->program);
    glBindVertexArray(vao);

    Application& application = Application::instance();
    const vec3 eye = application.camera->position;
    const mat4 modelview = translate(application.modelview, vec3{eye.x, eye.y - centreBelowEye, eye.z});
    glUniformMatrix4fv(shader->modelviewLocation, 1, GL_FALSE, modelview.data());
    glUniformMatrix4fv(shader->projectionLocation, 1, GL_FALSE, application.projection.data());
    glUniform4f(shader->skyDataLocation, skyData.x, skyData.y, skyData.z, skyData.w);

    glActiveTexture(GL_TEXTURE0 + SKY_IMAGE_UNIT);
    glBindTexture(GL_TEXTURE_2D, texture->id);
    glUniform1i(shader->texLocation, SKY_IMAGE_UNIT);

    glDrawElements(GL_TRIANGLE_STRIP, indexCount, GL_UNSIGNED_INT, nullptr);

    glBindVertexArray(0);
    glUseProgram(0);
}
