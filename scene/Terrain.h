// The landscape: a grid mesh built from a height-map BMP, its material atlas, and its drawing.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <string>

#include "io/HeightMap.h"

class TerrainLod;
class TerrainShader;
class TextureAtlas;

class Terrain {
public:
    static constexpr float DEFAULT_BLOOM_THRESHOLD = 0.3f;

    GLuint vao = 0;
    GLuint vbo = 0;
    GLuint ibo = 0;
    int gridWidth = 0;
    int gridHeight = 0;
    float horizontalScale = 1.0f;
    float heightScale = 20.0f;
    float bloomThreshold = DEFAULT_BLOOM_THRESHOLD;
    TerrainShader* shader = nullptr;
    TextureAtlas* atlas = nullptr;
    // Set when the terrain is drawn with level of detail instead of the full mesh.
    TerrainLod* lod = nullptr;
    // Why the terrain is drawn with level of detail although one mesh was asked for (the line the
    // program printed); empty when it is drawn as asked.
    std::string fallbackReason;

    // Reads the command line, builds and uploads the mesh, builds the atlas and places the camera.
    explicit Terrain(TerrainShader* shader);

    void draw();

    // Triangles the last frame drew (in the point modes, points).
    uint64_t trianglesPerFrame() const;

private:
    // The full mesh's two buffers, mapped for writing.
    struct MappedMesh {
        uint64_t vertexBytes = 0;
        uint64_t indexBytes = 0;
        void* vertices = nullptr;
        void* indices = nullptr;
    };

    // Allocates and maps the full mesh's buffers for the grid's size; false, with the line that
    // says why in `failure`, when they cannot be had.
    bool allocateMesh(const std::string& path, MappedMesh& mesh, std::string& failure);
    // Writes the mesh from the samples, unmaps it and logs its sizes; false when the mapping was lost.
    bool finishMesh(const HeightSamples& map, MappedMesh& mesh);
    void deleteMesh();
    // Ends the program with one line when level of detail cannot draw a map of the grid's size.
    void requireLevelOfDetailFits(const std::string& mapName) const;
};
