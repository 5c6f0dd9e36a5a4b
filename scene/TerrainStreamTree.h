// The streamed terrain's level of detail on the processor: a quadtree of nodes over the map whose
// boxes come from the tiles in the cache, its levels' ranges from the errors of the tiles seen so
// far, and each frame's choice of nodes and of the tiles they want. Nothing is kept per node and the
// tree never changes once built: what arriving tiles teach it is kept per level.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <unordered_set>
#include <vector>

#include "io/TileSource.h"
#include "math/Math.h"
#include "scene/TerrainGeometry.h"
#include "scene/TerrainLodTree.h"
#include "scene/TileCache.h"

// Nodes and tiles are anchored at the map's north-west corner, as the pyramid's levels are: node
// (level, column, row) covers the samples [column * side, column * side + side] x [row * side,
// row * side + side] of level 0, rows counted south from the northern edge, side being
// GRID_QUADS << level. A node of a level beyond the pyramid's coarsest is drawn from that level.
class TerrainStreamTree {
public:
    static constexpr int GRID_QUADS = TerrainLodTree::GRID_QUADS;

    // The map's levels must have tiles of a multiple of GRID_QUADS quads.
    TerrainStreamTree(const TileMap& map, const TerrainGeometry& geometry);

    int levelCount() const { return static_cast<int>(nodesAcross.size()); }
    int coarsestTileLevel() const { return static_cast<int>(tileLevels.size()) - 1; }
    // The level of the tiles that nodes of `level` are drawn from.
    int dataLevel(int level) const { return level < coarsestTileLevel() ? level : coarsestTileLevel(); }

    // Learns the error of a tile that arrived. The coarsest level's tile, when it alone covers the
    // map, also gives the errors of the levels beyond the pyramid.
    void noteTile(const Tile& tile);
    // The largest height difference known between level k's surface and the full resolution, in
    // world units: the tiles seen so far, a finer level not seen yet estimated as half the next.
    float levelError(int level) const { return cumulativeGaps[size_t(level)] * std::fabs(geometry.heightPerValue); }

    // As TerrainLodTree::setViewport, from the errors known now (see lodRanges).
    void setViewport(float pixelsPerUnit, float errorPixels);
    // As TerrainLodTree::placeHeights: the errors, kept in values, follow the heights at once.
    void placeHeights(const TerrainGeometry& placed);
    float morphStart(int level) const { return morphStarts[size_t(level)]; }
    float morphEnd(int level) const { return ranges[size_t(level)]; }

    // Chooses the nodes for the view as TerrainLodTree::select does, each node's box that of the
    // tile covering it or, while that is missing, of its nearest ancestor in the cache, widened by
    // the tile's level's error. `wanted` gets the tiles the chosen nodes are drawn from and their
    // ancestors, the pinned ones left out, coarse before fine and near before far, at most
    // `wantedLimit` of them. A node of the southern row may reach past the map's southern edge.
    void select(const vec3& eye, const Frustum& frustum, const TileCache& cache, size_t wantedLimit,
                LodSelection& selection, std::vector<TileKey>& wanted);

private:
    int width;
    int height;
    int tileQuads;
    TerrainGeometry geometry;
    std::vector<TileLevel> tileLevels;
    // Per level, the largest error of one level's surface against the next coarser one, in values:
    // negative while unknown.
    std::vector<float> levelGaps;
    // Per level, the sum of the finer levels' gaps, known or estimated: its error in values.
    std::vector<float> cumulativeGaps;
    // The lowest and highest value of the tiles seen.
    float seenLowest = std::numeric_limits<float>::infinity();
    float seenHighest = -std::numeric_limits<float>::infinity();
    std::vector<int> nodesAcross;
    std::vector<int> nodesDown;
    std::vector<float> ranges;
    std::vector<float> morphStarts;
    // One frame's wanted tiles, before they are ordered.
    std::unordered_set<TileKey, TileKeyHash> wantedSet;

    int nodeSide(int level) const { return GRID_QUADS << level; }
    void settleErrors();
    // Lowest and highest value a node of `level` may show, from the tiles in the cache; false when
    // its own tiles hold no data at all.
    bool nodeValueRange(int level, int column, int row, const TileCache& cache, float& lowest, float& highest) const;
    bool nodeBox(int level, int column, int row, const TileCache& cache, vec3& lower, vec3& upper) const;
    void want(int level, int column, int row);
    LodInstance instance(int drawnLevel, int nodeLevel, int column, int row) const;
};
