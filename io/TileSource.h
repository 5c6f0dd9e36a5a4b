// Square tiles of every level of a map's pyramid, read through GDAL on any thread, with the height
// bounds and the error against the next coarser level that streaming the terrain needs. Free of GL.
#pragma once

#include "io/ElevationMap.h"
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

// Levels and tiles are anchored at the map's north-west corner, as GDAL's overviews are: sample
// (j, i) of level k lies where sample (j * 2^k, i * 2^k) of level 0 does, rows counted from the north,
// and where the levels decimate (TileMap::levelsDecimate) it is that sample. Tile (level, column, row) covers the level's samples
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
    // level-of-detail grid splits them), the coarser one through the next level's samples, which lie
    // at this level's even positions (beyond the level's last even sample, its value, as that level
    // repeats it). Where the levels decimate, those are the tile's own even samples; where they do
    // not (a file's averaged overviews), the next level's own. It is exact at the samples at odd positions inside the map, where the distance is
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
    // minimumMetres and maximumMetres are the map's bounds where known (TileSourceFacts::bounds),
    // else those of the coarsest level, and voidCount is 0 (unknown).
    std::optional<Elevation> elevation;
    // Other maps: the value of the highest ground, as in HeightSamples (255 for 8-bit rasters, else
    // 65535). Rasters of other sample types have their values spread onto 0..65535 from the lowest to
    // the highest value, as minimumMetres and maximumMetres are known.
    uint16_t largestValue = 65535;
    // Where the levels come from, for the log: e.g. "its own overviews" or the pyramid's folder.
    std::string pyramid;
    // Whether opening the map built (or rebuilt) its pyramid, rather than reusing one.
    bool pyramidBuilt = false;
    // Whether each level's samples are the finer level's at even positions (KELTA's pyramids, and a
    // file's overviews found to be); otherwise (a remote file's averaged or cubic overviews) each level
    // is a surface of its own, and a tile's error is measured against the next level's samples.
    bool levelsDecimate = true;
};

// The lowest and highest height with data of a whole map, before any sea.
struct HeightBounds {
    double lowest = 0.0;
    double highest = 0.0;
};

// What openGdalTileSource cannot learn from the dataset itself.
struct TileSourceFacts {
    // TileMap::pyramid.
    std::string pyramid;
    // When not empty, the map's format in its description instead of the dataset's (a VRT made of it).
    std::string formatName;
    bool levelsDecimate = true;
    // The map's bounds when known (seen while its pyramid was built, kept from an earlier reading,
    // or the file's statistics); otherwise those of the coarsest level are taken.
    std::optional<HeightBounds> bounds;
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

// Sets the tile's minimum, maximum and error (see Tile) from its samples, the tile lying on `level`;
// `parent`, when given, is the tile of the next level that covers it, whose samples are then that
// level's surface (else the tile's own even samples are).
void measureTile(Tile& tile, int tileQuads, const TileLevel& level, const Tile* parent = nullptr);

// The levels of a raster as openGdalTileSource takes them: its full size, then its overviews while
// each halves the one before, until one holds the whole map in one tile.
std::vector<TileLevel> tileLevelsOf(const RasterInfo& info, int tileQuads);

// Whether the raster's overviews that `levels` takes are exact decimations of its full resolution
// (level k's sample (j, i) is level 0's (j * 2^k, i * 2^k)), judged from a few samples of each
// level: windows at its corners and centre, and a scatter between. Averaged and cubic overviews, and
// nearest-neighbour ones that drift halfway across an odd size, differ there. False with a reason
// when a read fails.
bool overviewsDecimate(const RasterSource& raster, const std::vector<TileLevel>& levels, bool& decimate,
                       std::string& message);

// The bounds of a level's heights by `rule` (its sea ignored), read a strip of rows at a time.
bool measureHeights(const RasterSource& raster, int level, const HeightRule& rule, HeightBounds& bounds,
                    std::string& message);

// Takes `raster`, the raster at `datasetPath` (a file, a VRT, a /vsi path) opened through GDAL, and its
// overviews of halving sizes as the levels, as it is, with what `facts` tells; readers on other threads
// open `datasetPath` again for handles of their own. Most callers want openTileSource (io/Pyramid.h),
// which first finds or builds the pyramid.
std::unique_ptr<TileSource> openGdalTileSource(std::unique_ptr<RasterSource> raster, const std::string& datasetPath,
                                               const ElevationOptions& options, const TileSourceFacts& facts,
                                               std::string& message, int tileQuads = TILE_QUADS);
