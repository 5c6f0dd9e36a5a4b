// The terrain's processor-side work: turning height-map samples into the interleaved vertex
// records and the strip index list, written into caller memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/HeightMap.h"
#include "scene/TerrainGeometry.h"

// Floats per vertex record: position (3), normal (3), texture coordinate (2).
constexpr int TERRAIN_VERTEX_FLOATS = 8;

// The index that cuts the strip where a map has no data (primitive restart): never a vertex's,
// since the grid's vertex count fits a signed 32-bit number.
constexpr uint32_t TERRAIN_STRIP_RESTART = 0xFFFFFFFFu;

// Vertex and index counts of a width x height grid; 64-bit so that oversized maps are
// measured rather than wrapped. A map with voids cuts its strip into pieces that never take
// more indices than the whole strip.
uint64_t terrainVertexCount(int width, int height);
uint64_t terrainIndexCount(int width, int height);

// Whether the grid can be drawn: at least one pixel, and vertex and index counts within the
// 32-bit signed range that the draw calls take.
bool terrainGridFits(int width, int height);

// Fills the map's width x height vertex records, placed by the geometry. Normals come from the
// eight neighbours, wrapping around the grid's borders. The output is written once, front to
// back, and never read, so it may be write-only mapped memory.
void buildTerrainVertices(const HeightSamples& map, const TerrainGeometry& geometry, float* vertices);

// What a strip draws.
struct TerrainStrip {
    uint64_t indexCount = 0;
    // Its indices that name a vertex (all but the restarts): the points it gives drawn as points.
    uint64_t pointCount = 0;
    // Its triangles with area (the joints between rows are not counted).
    uint64_t triangleCount = 0;
};

// Fills the single triangle strip over all rows, with a degenerate joint between row pairs. With
// voids (width x height, 1 where a sample has no data), only the cells whose four corners have
// data are drawn: each run of them along a row pair is a strip of its own, ended by
// TERRAIN_STRIP_RESTART, with its triangles facing and split as in the whole strip.
TerrainStrip buildTerrainIndices(int width, int height, const uint8_t* voids, uint32_t* indices);

// The five buffer-size log lines (label, number, " kB"), without line ends.
std::vector<std::string> terrainSizeLines(uint64_t vertexBytes, uint64_t indexBytes);
