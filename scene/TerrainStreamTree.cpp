// Node boxes from the cached tiles, level errors from the tiles seen, and the per-frame choice of
// nodes and wanted tiles for the streamed terrain.
#include "scene/TerrainStreamTree.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "scene/glsl/terrainConstants.glsl"

namespace {

int nodesCovering(int quads, int nodeSide) { return std::max(1, (quads + nodeSide - 1) / nodeSide); }

// Samples of a level made by keeping every 2^steps-th sample of one with `samples`.
int decimatedSize(int samples, int steps) { return (samples - 1) / (1 << steps) + 1; }

// The tile of the level `steps` levels above `tile`'s, made of its samples at multiples of 2^steps,
// with that level's error measured: the coarsest tile alone tells the errors of levels beyond it.
float decimatedError(const Tile& tile, int tileQuads, const TileLevel& level, int steps) {
    const int quads = tileQuads >> steps;
    Tile coarser;
    coarser.key = TileKey{tile.key.level + steps, 0, 0};
    const int side = tileSide(quads);
    coarser.samples.resize(size_t(side) * size_t(side));
    for (int t = -1; t <= quads + 1; ++t) {
        // t counts north from the southern edge, whose level row is `quads` in both tiles' terms.
        const int fromT = std::clamp(tileQuads - (quads - t) * (1 << steps), 0, tileQuads);
        for (int s = -1; s <= quads + 1; ++s) {
            const int fromS = std::clamp(s * (1 << steps), 0, tileQuads);
            coarser.samples[tileSampleIndex(quads, s, t)] = tile.samples[tileSampleIndex(tileQuads, fromS, fromT)];
        }
    }
    const TileLevel size{decimatedSize(level.width, steps), decimatedSize(level.height, steps), 1, 1};
    measureTile(coarser, quads, size);
    return coarser.error;
}

}  // namespace

TerrainStreamTree::TerrainStreamTree(const TileMap& map, const TerrainGeometry& geometry)
    : width(map.levels.front().width),
      height(map.levels.front().height),
      tileQuads(map.tileQuads),
      geometry(geometry),
      tileLevels(map.levels) {
    const int quads = std::max(width - 1, height - 1);
    int levels = 1;
    while (nodeSide(levels - 1) < quads) ++levels;
    // The pyramid ends where one tile covers the map, which one node of a finer level may already do.
    levels = std::max(levels, static_cast<int>(tileLevels.size()));
    for (int level = 0; level < levels; ++level) {
        nodesAcross.push_back(nodesCovering(width - 1, nodeSide(level)));
        nodesDown.push_back(nodesCovering(height - 1, nodeSide(level)));
    }
    levelGaps.assign(size_t(levels), -1.0f);
    cumulativeGaps.assign(size_t(levels), 0.0f);
    setViewport(1.0f, 1.0f);
}

void TerrainStreamTree::noteTile(const Tile& tile) {
    float& gap = levelGaps[size_t(tile.key.level)];
    gap = std::max(gap, tile.error);
    seenLowest = std::min(seenLowest, tile.minimum);
    seenHighest = std::max(seenHighest, tile.maximum);
    const TileLevel& coarsest = tileLevels.back();
    if (tile.key.level == coarsestTileLevel() && coarsest.columns == 1 && coarsest.rows == 1) {
        for (int level = tile.key.level + 1; level < levelCount(); ++level) {
            const int steps = level - tile.key.level;
            if ((tileQuads >> steps) < 2) break;
            levelGaps[size_t(level)] = decimatedError(tile, tileQuads, coarsest, steps);
        }
    }
    settleErrors();
}

void TerrainStreamTree::settleErrors() {
    // Levels beyond what is known are estimated: finer ones as half the next coarser, coarser ones
    // as twice the next finer.
    std::vector<float> gaps = levelGaps;
    const int coarsest = coarsestTileLevel();
    for (int level = coarsest; level >= 0; --level) {
        if (gaps[size_t(level)] >= 0.0f) continue;
        gaps[size_t(level)] = level < coarsest ? 0.5f * gaps[size_t(level + 1)] : 0.0f;
    }
    for (int level = coarsest + 1; level < levelCount(); ++level) {
        if (gaps[size_t(level)] < 0.0f) gaps[size_t(level)] = 2.0f * gaps[size_t(level - 1)];
    }
    for (int level = 1; level < levelCount(); ++level) {
        cumulativeGaps[size_t(level)] = cumulativeGaps[size_t(level - 1)] + gaps[size_t(level - 1)];
    }
}

void TerrainStreamTree::placeHeights(const TerrainGeometry& placed) {
    geometry.heightOffset = placed.heightOffset;
    geometry.heightPerValue = placed.heightPerValue;
    geometry.lowestHeight = placed.lowestHeight;
}

void TerrainStreamTree::setViewport(float pixelsPerUnit, float errorPixels) {
    std::vector<float> errors(static_cast<size_t>(levelCount()));
    for (int level = 0; level < levelCount(); ++level) errors[size_t(level)] = levelError(level);
    lodRanges(errors, std::max(geometry.columnSpacing, geometry.rowSpacing), pixelsPerUnit, errorPixels, ranges,
              morphStarts);
}

bool TerrainStreamTree::nodeValueRange(int level, int column, int row, const TileCache& cache, float& lowest,
                                       float& highest) const {
    const int data = dataLevel(level);
    const TileLevel& tiles = tileLevels[size_t(data)];
    // The node's span in samples of its data level, and the tiles under it.
    const int span = GRID_QUADS << (level - data);
    const int firstColumn = column * span / tileQuads;
    const int lastColumn = std::min(((column + 1) * span - 1) / tileQuads, tiles.columns - 1);
    const int firstRow = row * span / tileQuads;
    const int lastRow = std::min(((row + 1) * span - 1) / tileQuads, tiles.rows - 1);
    lowest = std::numeric_limits<float>::infinity();
    highest = -lowest;
    for (int tileRow = firstRow; tileRow <= lastRow; ++tileRow) {
        for (int tileColumn = firstColumn; tileColumn <= lastColumn; ++tileColumn) {
            // The tile itself, or the nearest ancestor the cache holds, widened by its level's error:
            // the finer levels that may come stay within it, so a node's box holds its children's.
            // Where no ancestor with data is held, anything the map holds may lie there.
            float tileLowest = seenLowest - cumulativeGaps.back();
            float tileHighest = seenHighest + cumulativeGaps.back();
            for (int ancestor = data; ancestor <= coarsestTileLevel(); ++ancestor) {
                const int steps = ancestor - data;
                const int index = cache.find(TileKey{ancestor, tileColumn >> steps, tileRow >> steps});
                if (index < 0) continue;
                const TileCache::Layer& layer = cache.layer(index);
                if (layer.minimum <= layer.maximum) {
                    const float widening = cumulativeGaps[size_t(ancestor)];
                    tileLowest = layer.minimum - widening;
                    tileHighest = layer.maximum + widening;
                } else if (steps == 0) {
                    // The tile itself holds no data: nothing of it is drawn.
                    tileLowest = std::numeric_limits<float>::infinity();
                    tileHighest = -tileLowest;
                }
                break;
            }
            lowest = std::min(lowest, tileLowest);
            highest = std::max(highest, tileHighest);
        }
    }
    return lowest <= highest;
}

bool TerrainStreamTree::nodeBox(int level, int column, int row, const TileCache& cache, vec3& lower,
                                vec3& upper) const {
    float lowestValue = 0.0f, highestValue = 0.0f;
    if (!nodeValueRange(level, column, row, cache, lowestValue, highestValue)) return false;
    const int side = nodeSide(level);
    const float firstColumn = static_cast<float>(column * side);
    const float lastColumn = static_cast<float>(std::min(column * side + side, width - 1));
    const int southRow = std::min(row * side + side, height - 1);
    // Raised to a sea that covers them, as the vertex stage raises them.
    const float a = std::max(geometry.heightOffset + lowestValue * geometry.heightPerValue, geometry.lowestHeight);
    const float b = std::max(geometry.heightOffset + highestValue * geometry.heightPerValue, geometry.lowestHeight);
    // The animated water may lower the surface below its samples.
    lower = vec3{firstColumn * geometry.columnSpacing, std::min(a, b) - static_cast<float>(WATER_WAVE_AMPLITUDE),
                 zOfRowFromNorth(row * side, height, geometry.rowSpacing)};
    upper = vec3{lastColumn * geometry.columnSpacing, std::max(a, b),
                 zOfRowFromNorth(southRow, height, geometry.rowSpacing)};
    return true;
}

LodInstance TerrainStreamTree::instance(int drawnLevel, int nodeLevel, int column, int row) const {
    const int side = nodeSide(nodeLevel);
    return LodInstance{static_cast<float>(column * side), static_cast<float>(row * side),
                       static_cast<float>(1 << drawnLevel), static_cast<float>(drawnLevel)};
}

void TerrainStreamTree::want(int level, int column, int row) {
    const int data = dataLevel(level);
    const int span = GRID_QUADS << (level - data);
    const TileLevel& tiles = tileLevels[size_t(data)];
    const int lastColumn = std::min(((column + 1) * span - 1) / tileQuads, tiles.columns - 1);
    const int lastRow = std::min(((row + 1) * span - 1) / tileQuads, tiles.rows - 1);
    for (int tileRow = row * span / tileQuads; tileRow <= lastRow; ++tileRow) {
        for (int tileColumn = column * span / tileQuads; tileColumn <= lastColumn; ++tileColumn) {
            // Ancestors are wanted too, for the heights to fall back on; once one is, all above are.
            for (int ancestor = data; ancestor <= coarsestTileLevel(); ++ancestor) {
                const int steps = ancestor - data;
                if (!wantedSet.insert(TileKey{ancestor, tileColumn >> steps, tileRow >> steps}).second) break;
            }
        }
    }
}

void TerrainStreamTree::select(const vec3& eye, const Frustum& frustum, const TileCache& cache, size_t wantedLimit,
                               LodSelection& selection, std::vector<TileKey>& wanted) {
    // A node's box is that of the tiles the cache holds for it, and a node drawn wants its tiles.
    struct Nodes {
        TerrainStreamTree& tree;
        const TileCache& cache;
        int across(int level) const { return tree.nodesAcross[size_t(level)]; }
        int down(int level) const { return tree.nodesDown[size_t(level)]; }
        int firstChildRow(int, int row) const { return 2 * row; }
        // In the order of the tiles.
        bool drawnFromTheSouth() const { return false; }
        float range(int level) const { return tree.ranges[size_t(level)]; }
        bool box(int level, int column, int row, vec3& lower, vec3& upper) const {
            // Nothing to draw where the map has no data.
            return tree.nodeBox(level, column, row, cache, lower, upper);
        }
        LodInstance whole(int level, int column, int row) const { return tree.instance(level, level, column, row); }
        LodInstance quarter(int parentLevel, int column, int row) const {
            return tree.instance(parentLevel, parentLevel - 1, column, row);
        }
        void drawn(int level, int column, int row) const { tree.want(level, column, row); }
    } nodes{*this, cache};
    wantedSet.clear();
    selectLodNodes(nodes, levelCount() - 1, eye, frustum, selection);

    struct Ranked {
        TileKey key;
        float distanceSquared;
    };
    std::vector<Ranked> ranked;
    ranked.reserve(wantedSet.size());
    for (const TileKey& key : wantedSet) {
        const int index = cache.find(key);
        if (index >= 0 && cache.layer(index).pinned) continue;
        const int span = tileQuads << key.level;
        const float west = static_cast<float>(key.column * span) * geometry.columnSpacing;
        const float east = static_cast<float>(std::min(key.column * span + span, width - 1)) * geometry.columnSpacing;
        const float north = zOfRowFromNorth(key.row * span, height, geometry.rowSpacing);
        const float south = zOfRowFromNorth(std::min(key.row * span + span, height - 1), height, geometry.rowSpacing);
        const float dx = std::max({west - eye.x, 0.0f, eye.x - east});
        const float dz = std::max({north - eye.z, 0.0f, eye.z - south});
        ranked.push_back(Ranked{key, dx * dx + dz * dz});
    }
    std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        if (a.key.level != b.key.level) return a.key.level > b.key.level;
        if (a.distanceSquared != b.distanceSquared) return a.distanceSquared < b.distanceSquared;
        return a.key.row != b.key.row ? a.key.row < b.key.row : a.key.column < b.key.column;
    });
    wanted.clear();
    for (size_t k = 0; k < ranked.size() && k < wantedLimit; ++k) wanted.push_back(ranked[k].key);
}
