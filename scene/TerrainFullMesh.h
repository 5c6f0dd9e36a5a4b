// The terrain drawn as one full-resolution mesh: a vertex for every sample and one strip over all
// rows, cut where the map has no data, written straight into mapped GPU buffers.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <memory>
#include <string>

#include "io/HeightMap.h"
#include "scene/TerrainGeometry.h"
#include "scene/TerrainMesh.h"
#include "scene/TerrainSurface.h"

class TerrainFullMesh : public TerrainSurface {
public:
    GLuint vao = 0;
    GLuint vbo = 0;
    GLuint ibo = 0;

    // Allocates and maps the buffers of a width x height grid, so that a map whose mesh cannot be
    // had is known before its samples are read. Null, with the line that says why (naming the map
    // as `mapName`) in `failure`, when they cannot be had.
    static std::unique_ptr<TerrainFullMesh> allocate(int width, int height, const std::string& mapName,
                                                     std::string& failure);
    ~TerrainFullMesh() override;
    TerrainFullMesh(const TerrainFullMesh&) = delete;
    TerrainFullMesh& operator=(const TerrainFullMesh&) = delete;

    // Writes the mesh of the samples (of the allocated size) placed by the geometry, unmaps it,
    // points the program's attributes at it and logs its sizes. False when a mapping was lost;
    // the buffers are then deleted and the mesh cannot draw.
    bool fill(const HeightSamples& map, const TerrainGeometry& geometry, const TerrainShader& shader);

    TerrainShader& program(int mode, TerrainShader& selected) override;
    void draw(const TerrainView& view, TerrainShader& program) override;
    // Scales and shifts the built heights in the vertex stage: the mesh itself stays as built.
    void placeHeights(const TerrainGeometry& geometry) override;
    uint64_t primitiveCount() const override { return lastPrimitiveCount; }

private:
    TerrainFullMesh(int width, int height);
    void deleteBuffers();

    int width;
    int height;
    uint64_t vertexBytes;
    uint64_t indexBytes;
    void* mappedVertices = nullptr;
    void* mappedIndices = nullptr;
    // The strip is cut with primitive restart only when the map has voids.
    bool hasVoids = false;
    TerrainStrip strip;
    uint64_t lastPrimitiveCount = 0;
    // The heights the mesh was built with, and the vertex stage's scale and shift from them to
    // those placed now: 1 and 0, which leave them exactly as built, until they are placed anew.
    TerrainGeometry builtGeometry;
    float heightScale = 1.0f;
    float heightShift = 0.0f;
};
