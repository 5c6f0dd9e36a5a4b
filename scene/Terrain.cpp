// The landscape: builds the height-map mesh straight into GPU buffers, the material atlas and
// the camera's start pose, and draws the mesh in the current shading mode.
#include "scene/Terrain.h"

#include <iostream>
#include <sstream>
#include <string>

#include "app/Application.h"
#include "app/Fatal.h"
#include "io/HeightMap.h"
#include "gpu/Texture.h"
#include "gpu/VertexArray.h"
#include "math/Camera.h"
#include "math/Math.h"
#include "scene/Skydome.h"
#include "scene/TerrainArguments.h"
#include "scene/TerrainLod.h"
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
// A mapping lost while it was open (glUnmapBuffer false) is filled again once. False, with the
// line that says so in `failure`, when the buffer cannot be had.
template <typename Fill>
bool fillBuffer(GLenum target, uint64_t bytes, const std::string& what, const std::string& path, Fill fill,
                std::string& failure) {
    glBufferData(target, static_cast<GLsizeiptr>(bytes), nullptr, GL_STATIC_DRAW);
    if (bytes == 0) return true;  // a one-row map has no strip
    for (int attempt = 0; attempt < 2; ++attempt) {
        void* memory = glMapBufferRange(target, 0, static_cast<GLsizeiptr>(bytes),
                                        GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
        if (!memory) break;
        fill(memory);
        if (glUnmapBuffer(target) == GL_TRUE) return true;
    }
    std::ostringstream line;
    line << "Could not allocate the terrain " << what << " (" << bytes << " bytes) for height map " << path;
    failure = line.str();
    return false;
}

}  // namespace

Terrain::Terrain(TerrainShader* shader) : shader(shader) {
    Application& application = Application::instance();
    TerrainArguments arguments;
    std::string error;
    if (!parseTerrainArguments(application.argc, application.argv, arguments, error)) fatal(error);
    horizontalScale = arguments.horizontalScale;
    heightScale = arguments.heightScale;

    HeightSamples map;
    std::string message;
    if (!loadHeightMap(arguments.heightMapPath.c_str(), map, message)) {
        fatal("Could not load heightmap: " + message);
    }
    application.startupPhaseEnded("height map load");
    gridWidth = map.width;
    gridHeight = map.height;

    bool withLevelOfDetail = application.levelOfDetail;
    if (!withLevelOfDetail && !terrainGridFits(gridWidth, gridHeight)) {
        std::ostringstream line;
        line << "Height map too large for one mesh: " << arguments.heightMapPath << " has " << gridWidth << " x "
             << gridHeight << " pixels, more than 32-bit vertex and index counts can draw; "
             << "drawing it with level of detail";
        fallbackReason = line.str();
    }
    if (fallbackReason.empty() && !withLevelOfDetail && !buildMesh(map, arguments.heightMapPath, message)) {
        fallbackReason = message + "; drawing it with level of detail";
    }
    if (!fallbackReason.empty()) {
        std::cout << fallbackReason << std::endl;
        withLevelOfDetail = true;
    }
    if (withLevelOfDetail) {
        lod = new TerrainLod(map.samples.data(), gridWidth, gridHeight,
                             heightScale / static_cast<float>(map.largestValue), horizontalScale,
                             application.lodErrorPixels);
        std::cout << "Level of detail: " << lod->tree.levelCount() << " levels over " << gridWidth << " x "
                  << gridHeight << " samples" << std::endl;
    }
    map = HeightSamples();
    application.startupPhaseEnded("mesh build");

    atlas = new TextureAtlas(9, MATERIAL_FILES);
    application.startupPhaseEnded("atlas");

    Camera* camera = application.camera;
    camera->position = vec3{0.0f, heightScale, 0.0f};
    const float inverseRootTwo = 1.0f / sqrtSingle(2.0f);
    camera->direction = vec3{inverseRootTwo, 0.0f, -inverseRootTwo};
}

bool Terrain::buildMesh(const HeightSamples& map, const std::string& path, std::string& failure) {
    const uint64_t vertexBytes = terrainVertexCount(gridWidth, gridHeight) * TERRAIN_VERTEX_FLOATS * sizeof(float);
    const uint64_t indexBytes = terrainIndexCount(gridWidth, gridHeight) * sizeof(uint32_t);

    createVertexArray(vao, vbo, &ibo);
    const bool filled =
        fillBuffer(GL_ARRAY_BUFFER, vertexBytes, "vertex buffer", path, [&](void* memory) {
            buildTerrainVertices(map, horizontalScale, heightScale, static_cast<float*>(memory));
        }, failure) &&
        fillBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBytes, "index buffer", path, [&](void* memory) {
            buildTerrainIndices(gridWidth, gridHeight, static_cast<uint32_t*>(memory));
        }, failure);
    if (!filled) {
        glBindVertexArray(0);
        glDeleteVertexArrays(1, &vao);
        glDeleteBuffers(1, &vbo);
        glDeleteBuffers(1, &ibo);
        vao = vbo = ibo = 0;
        return false;
    }

    for (const std::string& line : terrainSizeLines(vertexBytes, indexBytes)) std::cout << line << std::endl;

    describeFloatRecords({{shader->positionLocation, 3}, {shader->normalLocation, 3}, {shader->textureLocation, 2}});
    glBindVertexArray(0);
    return true;
}

uint64_t Terrain::trianglesPerFrame() const {
    if (lod) return lod->lastPrimitiveCount;
    if (Application::instance().terrainMode <= 2) return terrainVertexCount(gridWidth, gridHeight);
    if (gridWidth < 2 || gridHeight < 2) return 0;
    return uint64_t(gridWidth - 1) * uint64_t(gridHeight - 1) * 2;
}

void Terrain::draw() {
    Application& application = Application::instance();
    TerrainShader& active = lod ? *lod->shaders[application.terrainMode - 1] : *shader;
    glUseProgram(active.program);

    glUniformMatrix4fv(active.modelviewLocation, 1, GL_FALSE, Application::instance().modelview.data());
    glUniformMatrix4fv(active.projectionLocation, 1, GL_FALSE, Application::instance().projection.data());

    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D_ARRAY, atlas->id);
    glUniform1i(active.texLocation, 2);

    glUniform1f(active.tLocation, static_cast<float>(Application::instance().time));
    const vec3 viewer = Application::instance().camera->position;
    glUniform3f(active.viewerPositionLocation, viewer.x, viewer.y, viewer.z);
    const vec4 skyData = Application::instance().skydome->skyData;
    glUniform4f(active.skyDataLocation, skyData.x, skyData.y, skyData.z, skyData.w);

    mat3 material;
    material[0] = vec3{0.05f, 0.05f, 0.05f};
    material[1] = vec3{1.0f, 1.0f, 1.0f};
    material[2] = vec3{1.5f, 1.5f, 1.5f};
    glUniformMatrix3fv(active.materialLocation, 1, GL_FALSE, material.data());

    mat3 light;
    light[0] = vec3{1.0f, 0.98f, 0.9f};
    light[1] = vec3{static_cast<float>(gridWidth) * horizontalScale * 0.5f, 50.0f,
                    static_cast<float>(gridHeight) * horizontalScale * -0.5f};
    glUniformMatrix3fv(active.lightsLocation, 1, GL_FALSE, light.data());

    glUniform1f(active.bloomThresholdLocation, bloomThreshold);

    const int mode = Application::instance().terrainMode;
    if (lod) {
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        lod->draw(*lod->shaders[mode - 1], mode, viewport[3]);
    } else if (mode > 2) {
        glBindVertexArray(vao);
        glDrawElements(GL_TRIANGLE_STRIP, static_cast<GLsizei>(terrainIndexCount(gridWidth, gridHeight)),
                       GL_UNSIGNED_INT, nullptr);
    } else {
        glBindVertexArray(vao);
        // One pixel per vertex, whatever point size an earlier pass left behind.
        glPointSize(1.0f);
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(terrainVertexCount(gridWidth, gridHeight)));
    }

    glBindVertexArray(0);
    glUseProgram(0);
}
