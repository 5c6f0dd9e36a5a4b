// The small square grid that the level-of-detail and streamed surfaces draw once per chosen node,
// with instancing: vertex (column, row) of the grid, rows counted south from the node's northern
// edge as node rows are, and per instance the node it is placed on.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <vector>

#include "scene/TerrainLodTree.h"

class NodeGrid {
public:
    // A grid of quads x quads, split as the full mesh splits its quads.
    explicit NodeGrid(int quads);
    ~NodeGrid();
    NodeGrid(const NodeGrid&) = delete;
    NodeGrid& operator=(const NodeGrid&) = delete;

    // Draws the grid once per node, as triangles or, in the point modes, as its vertices; returns the
    // triangles or points drawn.
    uint64_t draw(const std::vector<LodInstance>& nodes, bool asPoints);

private:
    GLuint vao = 0;
    GLuint vertexBuffer = 0;
    GLuint indexBuffer = 0;
    GLuint instanceBuffer = 0;
    GLsizei vertexCount = 0;
    GLsizei indexCount = 0;
};
