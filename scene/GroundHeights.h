// The terrain's surface as the processor sees it, for finding the ground under the cursor and the
// height under a point: the samples of a map drawn whole, or the held tiles of a streamed one, and
// the first point where a ray meets their triangles. Free of GL, so that it is tested on its own.
//
// The triangles are the full mesh's: quad (column, row) between samples column..column + 1 and
// row..row + 1 (rows counted south from the northern edge) is split along the diagonal from its
// north-western corner to its south-eastern one, as the mesh's strip, the level-of-detail grid and
// the streamed tiles all split it. A quad with a corner without data is not drawn: a ray that
// crosses it meets the hole's surface, through the values the map filled it with (a streamed tile,
// which has none, takes the lowest corner with data, or value 0), and is told it found no data.
// World heights always come from the geometry given with each call, never from a copy of it, so
// that a change of exaggeration or sea level is followed at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/HeightMap.h"
#include "io/MapCoordinates.h"
#include "io/TileSource.h"
#include "math/Math.h"
#include "scene/TerrainGeometry.h"

class TileCache;

struct GroundHit {
    vec3 point;
    // Along the ray, in units of its direction.
    float distance = 0.0f;
    // False where the ray went into a hole where the map has no data.
    bool hasData = true;
};

// The surface at a point of the map: its value (in the map's samples' units) and how fast it
// climbs per sample east and per sample south, on the triangle under the point.
struct GroundSample {
    double value = 0.0;
    double perColumn = 0.0;
    double perRow = 0.0;
    bool hasData = true;
};

class GroundHeights {
public:
    GroundHeights(int width, int height) : width(width), height(height) {}
    virtual ~GroundHeights() = default;
    GroundHeights(const GroundHeights&) = delete;
    GroundHeights& operator=(const GroundHeights&) = delete;

    // Samples across and down the full resolution.
    const int width;
    const int height;

    // The nearest point ahead of `origin` where the ray meets the surface placed by `geometry`;
    // none when it leaves the map without meeting it.
    virtual std::optional<GroundHit> pick(const TerrainGeometry& geometry, const vec3& origin,
                                          const vec3& direction) const = 0;
    // The surface at a point of the map in full-resolution samples, column east from the western
    // edge and row south from the northern edge; none off the map.
    virtual std::optional<GroundSample> sampleAt(double column, double row) const = 0;
};

// Where on the map, in full-resolution samples (column east, row south from the northern edge),
// a world position lies.
void mapPointOf(const TerrainGeometry& geometry, int mapHeight, float x, float z, double& column, double& row);

// What the map says of the ground at a world point, by its x and z: where it lies on the map and
// on the Earth, and its elevation and slope on the surface drawn (metres by `elevation`, the
// map's values in metres, where it is an elevation map; else the world's heights by the geometry).
GroundPoint describeGroundPoint(const GroundHeights& heights, const TerrainGeometry& geometry,
                                const std::optional<Elevation>& elevation, const MapCoordinates& coordinates,
                                const vec3& worldPoint);

// The samples of a map drawn whole (the full mesh or level of detail), with the lowest and highest
// value of each block of quads, for a walk that skips the blocks the ray passes over.
class WholeMapHeights : public GroundHeights {
public:
    // Quads along a block's side.
    static constexpr int BLOCK_QUADS = 16;

    // Takes the map's samples and voids out of `map`. A raw map's samples left in its file stay
    // there: the file is mapped, and only the pages a walk reads come into memory, so that level of
    // detail keeps its memory (the blocks' bounds are measured a band of mapped rows at a time). Null with the
    // reason when they cannot be read.
    static std::unique_ptr<WholeMapHeights> take(HeightSamples& map, std::string& failure);
    // Of samples bottom row first, as HeightSamples holds them; voids empty or one byte a sample.
    WholeMapHeights(int width, int height, std::vector<uint16_t> samples, std::vector<uint8_t> voids);
    ~WholeMapHeights() override;

    std::optional<GroundHit> pick(const TerrainGeometry& geometry, const vec3& origin,
                                  const vec3& direction) const override;
    std::optional<GroundSample> sampleAt(double column, double row) const override;
    // Every `step`-th sample's world height under `geometry`, across and up from the south-western
    // sample, south row first, NaN where there is no data: `columns` x `rows` of them from the grid's
    // sample (column, row), inside the grid of (width - 1) / step + 1 across and (height - 1) / step + 1 up.
    std::vector<float> worldHeights(const TerrainGeometry& geometry, int step, int column, int row, int columns,
                                    int rows) const;

private:
    WholeMapHeights(int width, int height, std::vector<uint8_t> voids);
    // Widens the bounds of the blocks that rows firstRow.. firstRow + count - 1 (bottom row first)
    // belong to.
    void noteRows(const uint16_t* rows, int firstRow, int count);

    // The samples held, bottom row first; or those of a raw map's file mapped, top row first.
    std::vector<uint16_t> held;
    const uint16_t* samples = nullptr;
    std::unique_ptr<MappedRawSamples> mapped;
    std::vector<uint8_t> voids;
    int blocksAcross = 0;
    int blocksDown = 0;
    // Per block, rows from the north: the lowest and highest value of its quads' corners.
    std::vector<uint16_t> blockLowest;
    std::vector<uint16_t> blockHighest;

    // The sample with rows counted from the north, and whether it has data.
    float value(int column, int row) const { return samples[index(column, row)]; }
    // Raw maps hold no voids.
    bool isVoid(int column, int row) const { return !voids.empty() && voids[index(column, row)] != 0; }
    size_t index(int column, int row) const {
        return size_t(mapped ? row : height - 1 - row) * size_t(width) + size_t(column);
    }
};

// A bounded copy of a streamed map's tiles that the GPU cache holds, for picking on the finest of
// them that covers a point, as the streamed surface is drawn. The coarsest level is always kept;
// finer tiles up to a budget, the least recently drawn ones giving way first.
class HeldTileHeights : public GroundHeights {
public:
    HeldTileHeights(const TileMap& map, size_t budgetBytes);

    // Keeps a copy of the tile just placed in the GPU cache, and forgets the one it replaced there;
    // over the budget, forgets the tiles the cache used least recently.
    void keep(const Tile& tile, const std::optional<TileKey>& replaced, const TileCache& cache);
    size_t heldBytes() const { return bytes; }
    bool holds(const TileKey& key) const { return tiles.count(key) != 0; }

    std::optional<GroundHit> pick(const TerrainGeometry& geometry, const vec3& origin,
                                  const vec3& direction) const override;
    std::optional<GroundSample> sampleAt(double column, double row) const override;

private:
    struct Held {
        std::vector<float> samples;
        float lowest = 0.0f;
        float highest = 0.0f;
    };

    const TileMap map;
    const size_t budget;
    size_t bytes = 0;
    std::unordered_map<TileKey, Held, TileKeyHash> tiles;
    // Per tile, how many of its finer descendants are held: the walk goes down only where one is.
    std::unordered_map<TileKey, int, TileKeyHash> heldBelow;

    int coarsestLevel() const { return static_cast<int>(map.levels.size()) - 1; }
    void forget(const TileKey& key);
    const Held* find(const TileKey& key) const;
    // The held tile of `level` under a point of level 0 (as sampleAt takes it), or null.
    const Held* heldAt(int level, double column, double row, TileKey& key) const;
    struct Walk;
};
