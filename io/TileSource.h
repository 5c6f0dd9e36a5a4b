// Square tiles of every level of a map's pyramid, read through GDAL on any thread, with the height
// bounds and the error against the next coarser level that streaming the terrain needs. Free of GL.
#pragma once

#include "io/HeightMap.h"
#include "io/RasterSource.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Quads along a tile's side at its own level.
constexpr int TILE_QUADS = 256;

// Samples along a tile's side: its quads' corners plus one sample of apron on each side, for normals.
constexpr int tileSide(int tileQuads) { return tileQuads + 3; }

// Levels and tiles are anchored at the map's north-west corner, as GDAL's overviews are: level k
// holds the level-0 samples at multiples of 2^k counted from the first column and the first (northern)
// row of the file, so sample (j, i) of level k is sample (j * 2^k, i * 2^k) of level 0, rows counted
// from the north. Tile (level, column, row) covers the level's samples
// [column * quads, column * quads + quads] x [row * quads, row * quads + quads], row 0 being the
// northernmost row of tiles; neighbouring tiles share their edge samples.
struct TileKey {
    int level = 0;
    int column = 0;
    int row = 0;

    friend bool operator==(const TileKey& a, const TileKey& b) {
        return a.level == b.level && a.column == b.column && a.row == b.row;
    }
    friend bool operator!=(const TileKey& a, const TileKey& b) { return !(a == b); }
};

struct TileKeyHash {
    size_t operator()(const TileKey& key) const {
        return std::hash<uint64_t>()((uint64_t(uint32_t(key.level)) << 58) ^ (uint64_t(uint32_t(key.column)) << 29) ^
                                     uint64_t(uint32_t(key.row)));
    }
};

struct Tile {
    TileKey key;
    // tileSide x tileSide values, bottom (southern) row first like HeightSamples: the value of the
    // tile's sample (s, t), s counted east from its western edge and t north from its southern edge,
    // both from -1 (apron) to quads + 1 (apron), is samples[tileSampleIndex(quads, s, t)]. Samples
    // beyond the level's edges repeat the edge sample. Elevation maps: metres (scale, offset and
    // vertical unit applied, raised to the sea level when there is a sea); other maps: the stored
    // value (see TileMap::largestValue). NaN where there is no data.
    std::vector<float> samples;
    // Lowest and highest of the tile's own (quads + 1)^2 samples with data; +infinity and
    // -infinity when none has data.
    float minimum = 0.0f;
    float maximum = 0.0f;
    // The largest vertical distance between the surface of this tile's level and that of the next
    // coarser level over the tile's area inside the map: both surfaces are the grids' triangles (each
    // quad split along the diagonal that joins its north-west and south-east corners, as the
    // level-of-detail grid splits them), the coarser one through the tile's samples at even positions,
    // which are the next level's samples (beyond the level's last even sample, its value, as that level
    // repeats it). It is exact at the samples at odd positions inside the map, where the distance is
    // largest, and ignores samples without data. Not cumulative: a level's error from level 0 is the
    // sum of the finer levels' errors.
    float error = 0.0f;
};

constexpr size_t tileSampleIndex(int tileQuads, int s, int t) {
    return size_t(t + 1) * size_t(tileSide(tileQuads)) + size_t(s + 1);
}

// One level of the pyramid: its size in samples and in tiles.
struct TileLevel {
    int width = 0;
    int height = 0;
    int columns = 0;
    int rows = 0;
};

// What a streamed map is, known when it is opened.
struct TileMap {
    int tileQuads = TILE_QUADS;
    // levels[0] is the full resolution; the last holds the whole map in one tile, unless the map's
    // own overviews stop earlier (then it holds the fewest tiles the file offers).
    std::vector<TileLevel> levels;
    // Elevation maps (those with a geotransform) only: the ground's spacing, grid and description as
    // for a map read whole. Tile values are metres, so lowestMetres is 0 and metresPerValue 1;
    // minimumMetres and maximumMetres are those of the coarsest level (the whole map is never read),
    // and voidCount is 0 (unknown).
    std::optional<Elevation> elevation;
    // Other maps: the value of the highest ground, as in HeightSamples (255 for 8-bit rasters, else
    // 65535). Rasters of other sample types have their values spread onto 0..65535 from the lowest to
    // the highest value of the coarsest level.
    uint16_t largestValue = 65535;
    // Where the levels come from, for the log: e.g. "its own overviews" or the pyramid's folder.
    std::string pyramid;
    // Whether opening the map built (or rebuilt) its pyramid, rather than reusing one.
    bool pyramidBuilt = false;
};

// Reads tiles of one map. readTile is safe to call from several threads at once.
class TileSource {
public:
    virtual ~TileSource() = default;
    TileSource(const TileSource&) = delete;
    TileSource& operator=(const TileSource&) = delete;

    const TileMap& map() const { return described; }
    int tileQuads() const { return described.tileQuads; }
    int levelCount() const { return static_cast<int>(described.levels.size()); }
    const TileLevel& level(int level) const { return described.levels[size_t(level)]; }
    // Marks the levels as a pyramid built while the map was opened (openTileSource does).
    void markPyramidBuilt() { described.pyramidBuilt = true; }

    // Reads the tile into `tile` (its samples, bounds and error). On failure (a key outside the
    // pyramid, a read error, a lost connection) returns false with one line saying why.
    bool readTile(const TileKey& key, Tile& tile, std::string& message) const;

    // Tiles read, and bytes of stored samples read for them, since the source was opened.
    uint64_t tilesRead() const { return tilesCounted.load(); }
    uint64_t bytesRead() const { return bytesCounted.load(); }

protected:
    explicit TileSource(TileMap map) : described(std::move(map)) {}

    // Fills samples (tileSide^2 values, laid out as Tile::samples) for a key inside the pyramid, and
    // the bytes of stored samples it read.
    virtual bool readSamples(const TileKey& key, float* samples, uint64_t& bytes, std::string& message) const = 0;

private:
    TileMap described;
    mutable std::atomic<uint64_t> tilesCounted{0};
    mutable std::atomic<uint64_t> bytesCounted{0};
};

// Sets the tile's minimum, maximum and error (see Tile) from its samples, the tile lying on `level`.
void measureTile(Tile& tile, int tileQuads, const TileLevel& level);

// The levels of a raster as openGdalTileSource takes them: its full size, then its overviews while
// each halves the one before, until one holds the whole map in one tile.
std::vector<TileLevel> tileLevelsOf(const RasterInfo& info, int tileQuads);

// Opens the raster at `datasetPath` (a file, a VRT, a /vsi path) through GDAL and takes it and its
// overviews of halving sizes as the levels, as it is; `pyramid` goes into TileMap::pyramid, and
// `formatName`, when not empty, names the map's format in its description instead of the dataset's
// (a VRT made of the map). Most callers want openTileSource (io/Pyramid.h), which first finds or
// builds the pyramid.
std::unique_ptr<TileSource> openGdalTileSource(const std::string& datasetPath, const ElevationOptions& options,
                                               const std::string& pyramid, const std::string& formatName,
                                               std::string& message, int tileQuads = TILE_QUADS);
