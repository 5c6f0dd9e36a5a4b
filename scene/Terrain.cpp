// The landscape: builds the height-map mesh straight into GPU buffers, the material atlas and
// the camera's start pose, and draws the mesh in the current shading mode.
#include "scene/Terrain.h"

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/Application.h"
#include "app/Fatal.h"
#include "gpu/Bitmap.h"
#include "gpu/Texture.h"
#include "gpu/VertexArray.h"
#include "math/Camera.h"
#include "math/Math.h"
#include "scene/Skydome.h"
#include "scene/TerrainArguments.h"
#include "scene/TerrainMesh.h"
#include "scene/TerrainShader.h"

namespace {

const char* const MATERIAL_FILES[9] = {
    "Textures\\Water.bmp",   "Textures\\Grass.bmp", "Textures\\Rock3.bmp",
    "Textures\\Rock4.bmp",   "Textures\\Pebbles1.bmp", "Textures\\Snow.bmp",
    "Textures\\Snow2.bmp",   "Textures\\GrassDry.bmp", "Textures\\Water_Normal.bmp",
};

// Allocates the bound buffer and lets fill() write its contents through a write-only mapping,
// so the mesh exists once in memory instead of once on the heap and once in the driver.
// A mapping lost while it was open (glUnmapBuffer false) is filled again once.
template <typename Fill>
void fillBuffer(GLenum target, uint64_t bytes, const std::string& what, const std::string& path, Fill fill) {
    glBufferData(target, static_cast<GLsizeiptr>(bytes), nullptr, GL_STATIC_DRAW);
    if (bytes == 0) return;  // a one-row map has no strip
    for (int attempt = 0; attempt < 2; ++attempt) {
        void* memory = glMapBufferRange(target, 0, static_cast<GLsizeiptr>(bytes),
                                        GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
        if (!memory) break;
        fill(memory);
        if (glUnmapBuffer(target) == GL_TRUE) return;
    }
    std::ostringstream line;
    line << "Could not allocate the terrain " << what << " (" << bytes << " bytes) for height map " << path;
    fatal(line.str());
}

}  // namespace

Terrain::Terrain(TerrainShader* shader) : shader(shader) {
    Application& application = Application::instance();
    TerrainArguments arguments;
    std::string error;
    if (!parseTerrainArguments(application.argc, application.argv, arguments, error)) fatal(error);
    horizontalScale = arguments.horizontalScale;
    heightScale = arguments.heightScale;

    std::unique_ptr<Bitmap> bitmap(new Bitmap());
    if (!bitmap->load(arguments.heightMapPath.c_str())) {
        fatal("Could not load heightmap: " + bitmap->message);
    }
    application.startupPhaseEnded("height map load");
    gridWidth = bitmap->width;
    gridHeight = bitmap->height;
    if (!terrainGridFits(gridWidth, gridHeight)) {
        std::ostringstream line;
        line << "Height map too large: " << arguments.heightMapPath << " has " << gridWidth << " x "
             << gridHeight << " pixels, more than 32-bit vertex and index counts can draw";
        fatal(line.str());
    }
    const uint64_t vertexBytes = terrainVertexCount(gridWidth, gridHeight) * TERRAIN_VERTEX_FLOATS * sizeof(float);
    const uint64_t indexBytes = terrainIndexCount(gridWidth, gridHeight) * sizeof(uint32_t);

    createVertexArray(vao, vbo, &ibo);

    fillBuffer(GL_ARRAY_BUFFER, vertexBytes, "vertex buffer", arguments.heightMapPath, [&](void* memory) {
        buildTerrainVertices(bitmap->pixels, gridWidth, gridHeight, horizontalScale, heightScale,
                             static_cast<float*>(memory));
    });
    bitmap.reset();
    fillBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBytes, "index buffer", arguments.heightMapPath, [&](void* memory) {
        buildTerrainIndices(gridWidth, gridHeight, static_cast<uint32_t*>(memory));
    });

    for (const std::string& line : terrainSizeLines(vertexBytes, indexBytes)) std::cout << line << std::endl;

    describeFloatRecords({{shader->positionLocation, 3}, {shader->normalLocation, 3}, {shader->textureLocation, 2}});
    glBindVertexArray(0);
    application.startupPhaseEnded("mesh build");

    atlas = new TextureAtlas(9, MATERIAL_FILES);
    application.startupPhaseEnded("atlas");

    Camera* camera = application.camera;
    camera->position = vec3{0.0f, heightScale, 0.0f};
    const float inverseRootTwo = 1.0f / sqrtSingle(2.0f);
    camera->direction = vec3{inverseRootTwo, 0.0f, -inverseRootTwo};
}

void Terrain::draw() {
    glUseProgram(shader->program);
    glBindVertexArray(vao);

    glUniformMatrix4fv(shader->modelviewLocation, 1, GL_FALSE, Application::instance().modelview.data());
    glUniformMatrix4fv(shader->projectionLocation, 1, GL_FALSE, Application::instance().projection.data());

    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D_ARRAY, atlas->id);
    glUniform1i(shader->texLocation, 2);

    glUniform1f(shader->tLocation, static_cast<float>(Application::instance().time));
    const vec3 viewer = Application::instance().camera->position;
    glUniform3f(shader->viewerPositionLocation, viewer.x, viewer.y, viewer.z);
    const vec4 skyData = Application::instance().skydome->skyData;
    glUniform4f(shader->skyDataLocation, skyData.x, skyData.y, skyData.z, skyData.w);

    mat3 material;
    material[0] = vec3{0.05f, 0.05f, 0.05f};
    material[1] = vec3{1.0f, 1.0f, 1.0f};
    material[2] = vec3{1.5f, 1.5f, 1.5f};
    glUniformMatrix3fv(shader->materialLocation, 1, GL_FALSE, material.data());

    mat3 light;
    light[0] = vec3{1.0f, 0.98f, 0.9f};
    light[1] = vec3{static_cast<float>(gridWidth) * horizontalScale * 0.5f, 50.0f,
                    static_cast<float>(gridHeight) * horizontalScale * -0.5f};
    glUniformMatrix3fv(shader->lightsLocation, 1, GL_FALSE, light.data());

    glUniform1f(shader->bloomThresholdLocation, bloomThreshold);

    if (Application::instance().terrainMode > 2) {
        glDrawElements(GL_TRIANGLE_STRIP, static_cast<GLsizei>(terrainIndexCount(gridWidth, gridHeight)),
                       GL_UNSIGNED_INT, nullptr);
    } else {
        // One pixel per vertex, whatever point size an earlier pass left behind.
        glPointSize(1.0f);
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(terrainVertexCount(gridWidth, gridHeight)));
    }

    glBindVertexArray(0);
    glUseProgram(0);
}
