// The landscape: builds the height-map mesh straight into GPU buffers, the material atlas and
// the camera's start pose, and draws the mesh in the current shading mode.
#include "scene/Terrain.h"

#include <iostream>
#include <sstream>
#include <string>

#include "app/Application.h"
#include "app/Fatal.h"
#include "io/DataPath.h"
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

// Allocates the bound buffer and maps it for writing, so that the mesh is written straight into
// it and exists once in memory instead of once on the heap and once in the driver. Null, with the
// line that says so in `failure`, when the buffer cannot be had; an empty buffer (a one-row map
// has no strip) is allocated but not mapped.
void* allocateAndMap(GLenum target, uint64_t bytes, const std::string& what, const std::string& path,
                     std::string& failure) {
    glBufferData(target, static_cast<GLsizeiptr>(bytes), nullptr, GL_STATIC_DRAW);
    if (bytes == 0) return nullptr;
    void* memory = glMapBufferRange(target, 0, static_cast<GLsizeiptr>(bytes),
                                    GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    if (memory) return memory;
    std::ostringstream line;
    line << "Could not allocate the terrain " << what << " (" << bytes << " bytes) for height map " << path;
    failure = line.str();
    return nullptr;
}

// Lets fill() write the mapped buffer, then unmaps it. A mapping lost while it was open
// (glUnmapBuffer false) is mapped and filled again once.
template <typename Fill>
bool fillMapped(GLenum target, uint64_t bytes, void* memory, Fill fill) {
    if (bytes == 0) return true;
    for (int attempt = 0; attempt < 2 && memory; ++attempt) {
        fill(memory);
        if (glUnmapBuffer(target) == GL_TRUE) return true;
        memory = glMapBufferRange(target, 0, static_cast<GLsizeiptr>(bytes),
                                  GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    }
    if (memory) glUnmapBuffer(target);
    return false;
}

}  // namespace

void Terrain::requireLevelOfDetailFits(const std::string& mapName) const {
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    if (gridWidth <= largestSide && gridHeight <= largestSide) return;
    std::ostringstream line;
    line << "Height map too large: " << mapName << " has " << gridWidth << " x " << gridHeight << " samples, more "
         << (fallbackReason.empty() ? "" : "than one mesh can draw and ") << "than level of detail draws on this GPU ("
         << largestSide << " a side, GL_MAX_TEXTURE_SIZE)";
    fatal(line.str());
}

Terrain::Terrain(TerrainShader* shader) : shader(shader) {
    Application& application = Application::instance();
    TerrainArguments arguments;
    std::string error;
    if (!parseTerrainArguments(application.argc, application.argv, arguments, error)) fatal(error);
    horizontalScale = arguments.horizontalScale;
    heightScale = arguments.heightScale;

    // A typed path is read as given first; the default map is the data set's.
    const std::string& mapName = arguments.heightMapPath;
    const std::string mapFile = application.argc > 1 ? resolveTypedPath(mapName) : resolveDataPath(mapName);
    std::string message;
    if (!readHeightMapSize(mapFile, gridWidth, gridHeight, message)) {
        fatal("Could not load heightmap: " + message, describeLookup(mapName, mapFile));
    }
    // How the map is drawn is settled from its size before its samples are read, so that a map no
    // way can draw is refused at once, in one line that says why.
    bool withLevelOfDetail = application.levelOfDetail;
    if (!withLevelOfDetail && !terrainGridFits(gridWidth, gridHeight)) {
        std::ostringstream line;
        line << "Height map too large for one mesh: " << mapName << " has " << gridWidth << " x " << gridHeight
             << " pixels, more than 32-bit vertex and index counts can draw";
        fallbackReason = line.str();
        withLevelOfDetail = true;
    }
    // The mesh's buffers are had before the samples are read, so that a map whose mesh cannot be
    // allocated gives way to level of detail, or is refused, without being read first.
    MappedMesh mesh;
    if (!withLevelOfDetail && !allocateMesh(mapName, mesh, message)) {
        fallbackReason = message;
        withLevelOfDetail = true;
    }
    if (withLevelOfDetail) requireLevelOfDetailFits(mapName);

    HeightSamples map;
    if (!loadHeightMap(mapFile, map, message)) {
        fatal("Could not load heightmap: " + message, describeLookup(mapName, mapFile));
    }
    if (map.width != gridWidth || map.height != gridHeight) {
        fatal("Could not load heightmap: the file changed while it was read", describeLookup(mapName, mapFile));
    }
    application.startupPhaseEnded("height map load");

    if (!withLevelOfDetail && !finishMesh(map, mesh)) {
        fallbackReason = "Could not fill the terrain buffers for height map " + mapName;
        requireLevelOfDetailFits(mapName);
        withLevelOfDetail = true;
    }
    if (!fallbackReason.empty()) {
        fallbackReason += "; drawing it with level of detail";
        std::cout << fallbackReason << std::endl;
    }
    if (withLevelOfDetail) {
        lod = new TerrainLod(map.samples.data(), gridWidth, gridHeight,
                             heightScale / static_cast<float>(map.largestValue), horizontalScale,
                             application.lodErrorPixels);
        std::cout << "Level of detail: " << lod->tree.levelCount() << " levels over " << gridWidth << " x "
                  << gridHeight << " samples, at most " << lod->errorPixels
                  << (lod->errorPixels == 1.0f ? " pixel" : " pixels") << " of geometric error" << std::endl;
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

bool Terrain::allocateMesh(const std::string& path, MappedMesh& mesh, std::string& failure) {
    mesh.vertexBytes = terrainVertexCount(gridWidth, gridHeight) * TERRAIN_VERTEX_FLOATS * sizeof(float);
    mesh.indexBytes = terrainIndexCount(gridWidth, gridHeight) * sizeof(uint32_t);
    createVertexArray(vao, vbo, &ibo);
    mesh.vertices = allocateAndMap(GL_ARRAY_BUFFER, mesh.vertexBytes, "vertex buffer", path, failure);
    if (mesh.vertices) mesh.indices = allocateAndMap(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBytes, "index buffer", path, failure);
    if (mesh.vertices && (mesh.indices || mesh.indexBytes == 0)) return true;
    if (mesh.vertices) glUnmapBuffer(GL_ARRAY_BUFFER);
    deleteMesh();
    return false;
}

bool Terrain::finishMesh(const HeightSamples& map, MappedMesh& mesh) {
    const bool filled =
        fillMapped(GL_ARRAY_BUFFER, mesh.vertexBytes, mesh.vertices, [&](void* memory) {
            buildTerrainVertices(map, horizontalScale, heightScale, static_cast<float*>(memory));
        }) &&
        fillMapped(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBytes, mesh.indices, [&](void* memory) {
            buildTerrainIndices(gridWidth, gridHeight, static_cast<uint32_t*>(memory));
        });
    if (!filled) {
        deleteMesh();
        return false;
    }
    for (const std::string& line : terrainSizeLines(mesh.vertexBytes, mesh.indexBytes)) {
        std::cout << line << std::endl;
    }
    describeFloatRecords({{shader->positionLocation, 3}, {shader->normalLocation, 3}, {shader->textureLocation, 2}});
    glBindVertexArray(0);
    return true;
}

void Terrain::deleteMesh() {
    glBindVertexArray(0);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
    glDeleteBuffers(1, &ibo);
    vao = vbo = ibo = 0;
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
