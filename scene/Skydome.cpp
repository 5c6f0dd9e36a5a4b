// The sky: a textured spherical cap built once, drawn centred 200 units below the eye so that
// it never shows parallax.
#include "scene/Skydome.h"

#include <cstdint>
#include <vector>

#include "app/Application.h"
#include "gpu/Texture.h"
#include "math/Camera.h"
#include "scene/SkyShader.h"

namespace {

constexpr int RINGS = 9;
constexpr int SEGMENTS = 18;
constexpr int FLOATS_PER_VERTEX = 5;

}  // namespace

Skydome::Skydome() {
    skyData = vec4{1.0f, 1.0f, 1.0f, 350.0f};
    shader = new SkyShader();

    // Slightly beyond the fog end, so fully fogged terrain meets the sky behind it.
    const float radius = skyData.w * 1.2f;
    vertexCount = RINGS * SEGMENTS;
    std::vector<float> vertices(static_cast<size_t>(vertexCount) * FLOATS_PER_VERTEX);
    float* out = vertices.data();
    for (int i = 0; i < RINGS; ++i) {
        const float theta = static_cast<float>(i) * 3.1415927f / 18.0f;
        const float sinTheta = sin(theta);
        const float cosTheta = cos(theta);
        for (int j = 0; j < SEGMENTS; ++j) {
            const float phi = static_cast<float>(j) * 6.2831855f / 18.0f;
            const float x = cos(phi) * sinTheta;
            const float z = sin(phi) * sinTheta;
            *out++ = x * radius;
            *out++ = cosTheta * radius;
            *out++ = z * radius;
            // Polar mapping of the cap onto a disc centred in the image: no seam where the rings close.
            *out++ = 0.5f + (-0.5f * sinTheta) * x;
            *out++ = 0.5f + (-0.5f * sinTheta) * z;
        }
    }

    indexCount = (RINGS - 1) * (2 * SEGMENTS + 2);
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

    glGenBuffers(1, &vertexBuffer);
    glGenBuffers(1, &indexBuffer);
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
    glBufferData(GL_ARRAY_BUFFER, vertexCount * FLOATS_PER_VERTEX * sizeof(float), vertices.data(), GL_STATIC_DRAW);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, indexCount * sizeof(uint32_t), indices.data(), GL_STATIC_DRAW);

    const GLsizei stride = FLOATS_PER_VERTEX * sizeof(float);
    glEnableVertexAttribArray(shader->positionLocation);
    glVertexAttribPointer(shader->positionLocation, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(shader->textureLocation);
    glVertexAttribPointer(shader->textureLocation, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<void*>(3 * sizeof(float)));
    glBindVertexArray(0);

    texture = new Texture("Textures\\Skydome.bmp");
}

void Skydome::draw() {
    glUseProgram(shader->program);
    glBindVertexArray(vao);

    Application& application = Application::instance();
    const vec3 eye = application.camera->position;
    const mat4 modelview = translate(application.modelview, vec3{eye.x, eye.y - 200.0f, eye.z});
    glUniformMatrix4fv(shader->modelviewLocation, 1, GL_FALSE, modelview.data());
    glUniformMatrix4fv(shader->projectionLocation, 1, GL_FALSE, application.projection.data());
    glUniform4f(shader->skyDataLocation, skyData.x, skyData.y, skyData.z, skyData.w);

    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, texture->id);
    glUniform1i(shader->texLocation, 2);

    glEnable(GL_PROGRAM_POINT_SIZE);
    glDrawElements(GL_TRIANGLE_STRIP, indexCount, GL_UNSIGNED_INT, nullptr);

    glBindVertexArray(0);
    glUseProgram(0);
}
