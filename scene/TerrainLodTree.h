// The processor side of the terrain's level of detail: a quadtree of square nodes over the height
// samples, each drawn from one shared grid, with the distance ranges of its levels chosen from the
// geometric error of each level, and the per-frame choice of nodes (culled to the view frustum).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "math/Math.h"
#include "scene/TerrainGeometry.h"

// One node to draw: the first sample column and row it covers, its north-western corner (rows are
// counted south from the map's northern edge, as the trees count their nodes' rows; a node reaching
// past that edge starts above row 0), the samples between its grid vertices (a power of two) and its
// level (0 is the full resolution). Each vertex stage turns the rows into those of its height source.
struct LodInstance {
    float column = 0;
    float row = 0;
    float spacing = 1;
    float level = 0;
};

// The nodes of one frame: whole nodes, drawn from the full grid, and quarters of nodes whose
// children were too far away for their own level, drawn from the half-sized grid.
struct LodSelection {
    std::vector<LodInstance> wholeNodes;
    std::vector<LodInstance> quarterNodes;
};

// The six planes of a view frustum, each (a, b, c, d) with a·x + b·y + c·z + d >= 0 inside.
struct Frustum {
    vec4 planes[6];
    // From a clip matrix whose clip-space depth runs from -1 to 1, or, for reversed depth, from 0 to 1.
    static Frustum fromClipMatrix(const mat4& projectionTimesModelview, bool zeroToOneDepth = false);
    // Whether the axis-aligned box may reach into the frustum (it may lie outside near a corner).
    bool mayHoldBox(const vec3& lower, const vec3& upper) const;
};

// Whether any point of the axis-aligned box lies within `range` of the eye; a root level's range
// (see lodRanges) reaches everything.
bool boxWithinRange(const vec3& eye, float range, const vec3& lower, const vec3& upper);

// Each level's range and where its vertices start morphing into the next coarser level, so that no
// level's error (levelErrors[k], from the full resolution) projects to more than errorPixels on a
// viewport whose projection maps a height of one unit at distance one to pixelsPerUnit pixels. The
// ranges grow so that neighbouring nodes differ by at most one level, and never fall below four node
// sides of samples `sampleSpacing` apart.
void lodRanges(const std::vector<float>& levelErrors, float sampleSpacing, float pixelsPerUnit, float errorPixels,
               std::vector<float>& ranges, std::vector<float>& morphStarts);

// The choice of nodes for a view that both terrain trees make: from the roots down, a node within
// its level's range is drawn whole when its children's level does not reach it, else its children
// are chosen in turn, a child beyond its own level's range being drawn as a quarter of its parent;
// nodes outside the frustum are left out. Node (level, column, row) counts its columns from the
// west and its rows from the north, row 0 being the northernmost. `nodes` is what differs between
// the trees:
//   int across(int level), int down(int level): the nodes of the level;
//   int firstChildRow(int level, int row): the row of the node's northern children on level - 1,
//     -1 where the node reaches past the map's northern edge and that child would lie beyond it
//     (the children of column c are columns 2c and 2c + 1, both trees' nodes being anchored at the
//     western edge);
//   bool drawnFromTheSouth(): whether rows are visited, and so drawn, southern row first; the order
//     settles which of two equally near fragments of neighbouring nodes is kept;
//   float range(int level): the level's range;
//   bool box(int level, int column, int row, vec3& lower, vec3& upper): the node's bounds in the
//     world, false where it has nothing to draw;
//   LodInstance whole(int level, int column, int row), and
//   LodInstance quarter(int parentLevel, int column, int row), for a child drawn at its parent's level;
//   void drawn(int level, int column, int row): told of each node drawn whole or in quarters.
template <typename Nodes>
void selectLodNodes(Nodes& nodes, int rootLevel, const vec3& eye, const Frustum& frustum, LodSelection& selection);

class TerrainLodTree {
public:
    // Quads along each side of the shared grid; a node of level k spans GRID_QUADS << k samples.
    static constexpr int GRID_QUADS = 16;
    // How much of each level's range its vertices spend morphing into the next coarser level.
    static constexpr float MORPH_FRACTION = 0.2f;

    // A map's rows in bands: every quad of every level, and every node of level 0, lies within one
    // band's rows, so that a band's samples alone settle its share of the tree. A band owns the rows
    // from firstRow up to the next band's first, which it also reads; the last owns the map's last row.
    // Bands are a way of reading the samples, so they keep the samples' order: their rows are
    // counted north from the southern edge, bottom row first as HeightSamples stores them, unlike
    // the nodes' rows.
    struct Band {
        int firstRow;
        int ownRows;
        int readRows;
    };

    // A tree without samples yet for a map placed by the geometry: addBand gives it them, a band at a
    // time, so that the whole map never has to lie in memory.
    TerrainLodTree(int width, int height, const TerrainGeometry& geometry);
    // The tree of a whole map at once, samples bottom row first, as the mesh builder takes them.
    TerrainLodTree(const uint16_t* samples, int width, int height, const TerrainGeometry& geometry);

    int bandCount() const;
    Band band(int index) const;
    // Takes band `index`'s readRows rows, bottom row first, starting at its firstRow. The tree is
    // complete once every band has been given, in any order, each once.
    void addBand(int index, const uint16_t* rows);

    // What the bands settled, in sample steps (so whatever the geometry), as bytes to keep, and
    // taken back instead of the bands: false, leaving the tree as it was, for bytes that are not
    // those of a tree of this size.
    std::string kept() const;
    bool takeKept(const std::string& bytes);

    int levelCount() const { return static_cast<int>(levelErrors.size()); }
    // The largest height difference between level k's surface and the full-resolution one.
    float levelError(int level) const { return levelErrors[static_cast<size_t>(level)]; }

    // Sets the levels' ranges so that no level's error projects to more than errorPixels on a
    // viewport whose projection maps a height of one unit at distance one to pixelsPerUnit pixels.
    void setViewport(float pixelsPerUnit, float errorPixels);
    // Places the nodes' heights as `geometry` does from now on (its spacing must be the tree's),
    // the levels' errors scaled with them: the next setViewport keeps the budget for the new heights.
    void placeHeights(const TerrainGeometry& geometry);
    // Where each level's vertices start and finish morphing into the next level (world units).
    float morphStart(int level) const { return morphStarts[static_cast<size_t>(level)]; }
    float morphEnd(int level) const { return ranges[static_cast<size_t>(level)]; }

    void select(const vec3& eye, const Frustum& frustum, LodSelection& selection) const;

    // Triangles the selection draws.
    static uint64_t triangleCount(const LodSelection& selection);
    // The lowest and highest sample value of the map.
    void valueRange(uint16_t& lowest, uint16_t& highest) const;

private:
    // The lowest and highest sample value under a node.
    struct Bounds {
        uint16_t lowest;
        uint16_t highest;
    };

    int width;
    int height;
    float columnSpacing;
    float rowSpacing;
    float heightOffset;
    float heightPerValue;
    float lowestHeight;
    std::vector<float> levelErrors;
    // Per level, what the bands found so far, in sample steps: the largest |2v - a - b| of a sample
    // between two of the level's vertices a and b in whole quads, and the largest distance of a
    // sample from the level's surface in the quads the map's last column or row cuts short.
    std::vector<int32_t> largestMidpointGaps;
    std::vector<float> largestCutShortDistances;
    // Per level, row by row, the sample bounds of each node, in the bands' order: the southern row
    // of nodes first (see bounds).
    std::vector<std::vector<Bounds>> nodeBounds;
    std::vector<int> nodesAcross;
    std::vector<float> ranges;
    std::vector<float> morphStarts;

    int nodeSide(int level) const { return GRID_QUADS << level; }
    int nodesDown(int level) const {
        return static_cast<int>(nodeBounds[size_t(level)].size()) / nodesAcross[size_t(level)];
    }
    // The nodes are anchored at the map's south-western corner, where the bands start reading: the
    // northern row of nodes of a level reaches this many rows past the northern edge.
    int northernOverhang(int level) const { return nodesDown(level) * nodeSide(level) - (height - 1); }
    // The first sample row of the node, counted from the north: above row 0 in the northern row of
    // nodes when it overhangs.
    int firstRowFromNorth(int level, int row) const { return row * nodeSide(level) - northernOverhang(level); }
    const Bounds& bounds(int level, int column, int row) const;
    int bandRows() const;
    void addNodeBounds(const Band& band, const uint16_t* rows);
    void addMidpointGaps(int level, const Band& band, const uint16_t* rows);
    void addCutShortDistances(int level, const Band& band, const uint16_t* rows);
    void settleLevelErrors();
    // The node's box in world space, clipped to the map.
    void nodeBox(int level, int column, int row, vec3& lower, vec3& upper) const;
};

// Visits the rows from `first` up to `end` in the order the tree draws them.
template <typename Nodes, typename Visit>
void forEachNodeRow(const Nodes& nodes, int first, int end, Visit visit) {
    if (nodes.drawnFromTheSouth()) {
        for (int row = end - 1; row >= first; --row) visit(row);
    } else {
        for (int row = first; row < end; ++row) visit(row);
    }
}

// Whether the node is chosen: false when it lies beyond its level's range, for its parent to draw.
template <typename Nodes>
bool selectLodNode(Nodes& nodes, int level, int column, int row, const vec3& eye, const Frustum& frustum,
                   LodSelection& selection) {
    vec3 lower, upper;
    if (!nodes.box(level, column, row, lower, upper)) return true;
    // Beyond this level's range the parent draws the area.
    if (!boxWithinRange(eye, nodes.range(level), lower, upper)) return false;
    if (!frustum.mayHoldBox(lower, upper)) return true;
    if (level == 0 || !boxWithinRange(eye, nodes.range(level - 1), lower, upper)) {
        selection.wholeNodes.push_back(nodes.whole(level, column, row));
        nodes.drawn(level, column, row);
        return true;
    }
    const int firstChildRow = nodes.firstChildRow(level, row);
    const int endChildRow = std::min(firstChildRow + 2, nodes.down(level - 1));
    forEachNodeRow(nodes, std::max(firstChildRow, 0), endChildRow, [&](int childRow) {
        for (int childColumn = 2 * column; childColumn < std::min(2 * column + 2, nodes.across(level - 1));
             ++childColumn) {
            if (selectLodNode(nodes, level - 1, childColumn, childRow, eye, frustum, selection)) continue;
            vec3 childLower, childUpper;
            if (!nodes.box(level - 1, childColumn, childRow, childLower, childUpper)) continue;
            if (!frustum.mayHoldBox(childLower, childUpper)) continue;
            selection.quarterNodes.push_back(nodes.quarter(level, childColumn, childRow));
            nodes.drawn(level, column, row);
        }
    });
    return true;
}

template <typename Nodes>
void selectLodNodes(Nodes& nodes, int rootLevel, const vec3& eye, const Frustum& frustum, LodSelection& selection) {
    selection.wholeNodes.clear();
    selection.quarterNodes.clear();
    forEachNodeRow(nodes, 0, nodes.down(rootLevel), [&](int row) {
        for (int column = 0; column < nodes.across(rootLevel); ++column) {
            selectLodNode(nodes, rootLevel, column, row, eye, frustum, selection);
        }
    });
}
