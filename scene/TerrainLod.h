// The terrain drawn with level of detail: the height samples in one integer texture, one small
// shared grid drawn once per chosen node with instancing, and the level chosen per node so that
// the projected geometric error stays within a pixel budget. Its memory is two bytes per sample.
#pragma once

#include <GL/glew.h>

#include <cstdint>

#include "scene/TerrainLodTree.h"

class TerrainLodShader;

class TerrainLod {
public:
    // The level-of-detail programs, one per shading mode (index mode - 1).
    TerrainLodShader* shaders[5] = {};
    TerrainLodTree tree;
    // Largest projected geometric error allowed, in pixels.
    float errorPixels = 1.0f;
    // Triangles (or, in the point modes, vertices) the last draw sent.
    uint64_t lastPrimitiveCount = 0;

    // Uploads the samples (bottom row first) and builds the programs; the samples may be freed afterwards.
    TerrainLod(const uint16_t* samples, int width, int height, float heightPerValue, float horizontalScale,
               float errorPixels);

    // Chooses the nodes for the current camera, projection and viewport height, sets the uniforms
    // of its own with the shader given (already current, with the shared terrain uniforms set), and draws.
    void draw(TerrainLodShader& shader, int terrainMode, int viewportHeight);

private:
    struct Grid {
        GLuint vao = 0;
        GLuint vertexBuffer = 0;
        GLuint indexBuffer = 0;
        GLuint instanceBuffer = 0;
        GLsizei vertexCount = 0;
        GLsizei indexCount = 0;
    };

    GLuint heightTexture = 0;
    int width = 0;
    int height = 0;
    float heightPerValue = 0;
    float horizontalScale = 1;
    Grid wholeGrid;
    Grid quarterGrid;
    LodSelection selection;

    static Grid createGrid(int quads);
    void drawInstances(Grid& grid, const std::vector<LodInstance>& instances, bool asPoints);
};
