// The terrain's processor-side work: turning height-map samples into the interleaved vertex
// records and the strip index list, written into caller memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/HeightMap.h"

// Floats per vertex record: position (3), normal (3), texture coordinate (2).
constexpr int TERRAIN_VERTEX_FLOATS = 8;

// Vertex and index counts of a width x height grid; 64-bit so that oversized maps are
// measured rather than wrapped.
uint64_t terrainVertexCount(int width, int height);
uint64_t terrainIndexCount(int width, int height);

// Whether the grid can be drawn: at least one pixel, and vertex and index counts within the
// 32-bit signed range that the draw calls take.
bool terrainGridFits(int width, int height);

// Fills the map's width x height vertex records, a sample of the map's largest value standing
// heightScale high. Normals come from the eight neighbours, wrapping around the grid's borders.
// The output is written once, front to back, and never read, so it may be write-only mapped memory.
void buildTerrainVertices(const HeightSamples& map, float horizontalScale, float heightScale, float* vertices);

// Fills the single triangle strip over all rows, with a degenerate joint between row pairs.
void buildTerrainIndices(int width, int height, uint32_t* indices);

// The five buffer-size log lines (label, number, " kB"), without line ends.
std::vector<std::string> terrainSizeLines(uint64_t vertexBytes, uint64_t indexBytes);
