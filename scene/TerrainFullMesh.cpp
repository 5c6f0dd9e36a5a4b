// The full-resolution terrain mesh: its buffers allocated and mapped before the map is read, filled
// in place, and drawn as a strip, or as points in the point modes.
#include "scene/TerrainFullMesh.h"

#include <iostream>
#include <sstream>

#include "gpu/VertexArray.h"
#include "scene/TerrainShader.h"

namespace {

// Allocates the bound buffer and maps it for writing, so that the mesh is written straight into
// it and exists once in memory instead of once on the heap and once in the driver. Null, with the
// line that says so in `failure`, when the buffer cannot be had; an empty buffer (a one-row map
// has no strip) is allocated but not mapped.
void* allocateAndMap(GLenum target, uint64_t bytes, const std::string& what, const std::string& mapName,
                     std::string& failure) {
    glBufferData(target, static_cast<GLsizeiptr>(bytes), nullptr, GL_STATIC_DRAW);
    if (bytes == 0) return nullptr;
    void* memory = glMapBufferRange(target, 0, static_cast<GLsizeiptr>(bytes),
                                    GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    if (memory) return memory;
    std::ostringstream line;
    line << "Could not allocate the terrain " << what << " (" << bytes << " bytes) for height map " << mapName;
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

TerrainFullMesh::TerrainFullMesh(int width, int height)
    : width(width),
      height(height),
      vertexBytes(terrainVertexCount(width, height) * TERRAIN_VERTEX_FLOATS * sizeof(float)),
      indexBytes(terrainIndexCount(width, height) * sizeof(uint32_t)) {}

std::unique_ptr<TerrainFullMesh> TerrainFullMesh::allocate(int width, int height, const std::string& mapName,
                                                           std::string& failure) {
    // The constructor is private: only a mesh whose buffers could be had is handed out.
    std::unique_ptr<TerrainFullMesh> mesh(new TerrainFullMesh(width, height));
    createVertexArray(mesh->vao, mesh->vbo, &mesh->ibo);
    mesh->mappedVertices = allocateAndMap(GL_ARRAY_BUFFER, mesh->vertexBytes, "vertex buffer", mapName, failure);
    if (mesh->mappedVertices) {
        mesh->mappedIndices = allocateAndMap(GL_ELEMENT_ARRAY_BUFFER, mesh->indexBytes, "index buffer", mapName, failure);
    }
    if (mesh->mappedVertices && (mesh->mappedIndices || mesh->indexBytes == 0)) return mesh;
    if (mesh->mappedVertices) glUnmapBuffer(GL_ARRAY_BUFFER);
    return nullptr;
}

TerrainFullMesh::~TerrainFullMesh() { deleteBuffers(); }

void TerrainFullMesh::deleteBuffers() {
    glBindVertexArray(0);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
    glDeleteBuffers(1, &ibo);
    vao = vbo = ibo = 0;
}

bool TerrainFullMesh::fill(const HeightSamples& map, const TerrainGeometry& geometry, const TerrainShader& shader) {
    hasVoids = !map.voids.empty();
    builtGeometry = geometry;
    const bool filled =
        fillMapped(GL_ARRAY_BUFFER, vertexBytes, mappedVertices, [&](void* memory) {
            buildTerrainVertices(map, geometry, static_cast<float*>(memory));
        }) &&
        fillMapped(GL_ELEMENT_ARRAY_BUFFER, indexBytes, mappedIndices, [&](void* memory) {
            strip = buildTerrainIndices(width, height, hasVoids ? map.voids.data() : nullptr,
                                        static_cast<uint32_t*>(memory));
        });
    mappedVertices = mappedIndices = nullptr;
    if (!filled) {
        deleteBuffers();
        return false;
    }
    for (const std::string& line : terrainSizeLines(vertexBytes, indexBytes)) std::cout << line << std::endl;
    describeFloatRecords({{shader.positionLocation, 3}, {shader.normalLocation, 3}, {shader.textureLocation, 2}});
    glBindVertexArray(0);
    return true;
}

TerrainShader& TerrainFullMesh::program(int, TerrainShader& selected) { return selected; }

void TerrainFullMesh::placeHeights(const TerrainGeometry& geometry) {
    // A map built flat (height scale 0) has nothing to scale: it is only shifted.
    heightScale = builtGeometry.heightPerValue != 0.0f ? geometry.heightPerValue / builtGeometry.heightPerValue : 1.0f;
    heightShift = geometry.heightOffset - builtGeometry.heightOffset * heightScale;
}

void TerrainFullMesh::draw(const TerrainView& view, TerrainShader& program) {
    glUniform1f(program.heightScaleLocation, heightScale);
    glUniform1f(program.heightShiftLocation, heightShift);
    glBindVertexArray(vao);
    const bool asPoints = view.mode <= 2;
    // One pixel per vertex, whatever point size an earlier pass left behind.
    if (asPoints) glPointSize(1.0f);
    if (hasVoids) {
        // The strip's pieces are drawn as points too, so that samples without data show no point.
        glEnable(GL_PRIMITIVE_RESTART);
        glPrimitiveRestartIndex(TERRAIN_STRIP_RESTART);
        glDrawElements(asPoints ? GL_POINTS : GL_TRIANGLE_STRIP, static_cast<GLsizei>(strip.indexCount),
                       GL_UNSIGNED_INT, nullptr);
        glDisable(GL_PRIMITIVE_RESTART);
        lastPrimitiveCount = asPoints ? strip.pointCount : strip.triangleCount;
    } else if (asPoints) {
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(terrainVertexCount(width, height)));
        lastPrimitiveCount = terrainVertexCount(width, height);
    } else {
        glDrawElements(GL_TRIANGLE_STRIP, static_cast<GLsizei>(strip.indexCount), GL_UNSIGNED_INT, nullptr);
        lastPrimitiveCount = strip.triangleCount;
    }
    glBindVertexArray(0);
}
