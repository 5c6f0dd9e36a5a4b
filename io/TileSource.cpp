// Tiles read through a small pool of GDAL handles, one per reading thread, their values converted as
// a map read whole converts them, and measured as they arrive.
#include "io/TileSource.h"

#include "io/ElevationMap.h"
#include "io/GdalRaster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <random>
#include <utility>

namespace {

const uint16_t LARGEST_8_BIT = 255;
const uint16_t LARGEST_16_BIT = 65535;

// Bytes of one stored sample of each type, for counting what a read cost.
size_t storedSampleBytes(SampleType type) {
    switch (type) {
        case SampleType::UInt8:
        case SampleType::Int8:
            return 1;
        case SampleType::UInt16:
        case SampleType::Int16:
            return 2;
        case SampleType::UInt32:
        case SampleType::Int32:
        case SampleType::Float32:
            return 4;
        default:
            return 8;
    }
}

// Whether `size` samples are a halving of `finer` samples `factor` times over (GDAL rounds overview
// sizes up, some writers down).
bool halves(int finer, int size, int factor) { return size == (finer + factor - 1) / factor || size == finer / factor; }

TileLevel tileLevel(int width, int height, int tileQuads) {
    const auto tilesCovering = [&](int samples) { return std::max(1, (samples - 1 + tileQuads - 1) / tileQuads); };
    return TileLevel{width, height, tilesCovering(width), tilesCovering(height)};
}

// How stored values become tile values: the heights of the rule a map read whole is read by, and
// for rasters of other sample types, the spread onto 0..65535 that reader gives them.
struct TileValueRule {
    HeightRule height;
    bool spread = false;
    double spreadLowest = 0.0;
    double spreadFactor = 0.0;

    float valueOf(double stored) const {
        double value = height.groundOf(stored);
        if (spread && !std::isnan(value)) value = std::clamp((value - spreadLowest) * spreadFactor, 0.0, double(LARGEST_16_BIT));
        return static_cast<float>(value);
    }
};

class GdalTileSource final : public TileSource {
public:
    GdalTileSource(TileMap map, std::string path, TileValueRule rule, std::unique_ptr<RasterSource> first)
        : TileSource(std::move(map)), path(std::move(path)), rule(rule) {
        idle.push_back(std::move(first));
    }

protected:
    bool readSamples(const TileKey& key, float* samples, uint64_t& bytes, std::string& message) const override {
        std::unique_ptr<RasterSource> raster = takeHandle(message);
        if (!raster) return false;
        const bool read = readWith(*raster, key, samples, bytes, message);
        const std::lock_guard<std::mutex> lock(poolGuard);
        idle.push_back(std::move(raster));
        return read;
    }

private:
    // A handle no other thread is using: GDAL's are not safe to share.
    std::unique_ptr<RasterSource> takeHandle(std::string& message) const {
        {
            const std::lock_guard<std::mutex> lock(poolGuard);
            if (!idle.empty()) {
                std::unique_ptr<RasterSource> raster = std::move(idle.back());
                idle.pop_back();
                return raster;
            }
        }
        return openRaster(path, message);
    }

    bool readWith(const RasterSource& raster, const TileKey& key, float* samples, uint64_t& bytes,
                  std::string& message) const {
        const int quads = tileQuads();
        const TileLevel& size = level(key.level);
        const int firstColumn = key.column * quads;
        const int firstRow = key.row * quads;
        // The tile's samples with their apron, as far as they lie inside the level.
        const int left = std::max(0, firstColumn - 1);
        const int right = std::min(size.width - 1, firstColumn + quads + 1);
        const int top = std::max(0, firstRow - 1);
        const int bottom = std::min(size.height - 1, firstRow + quads + 1);
        const RasterWindow window{left, top, right - left + 1, bottom - top + 1};
        thread_local std::vector<double> stored;
        try {
            stored.resize(size_t(window.width) * size_t(window.height));
        } catch (const std::bad_alloc&) {
            message = "Not enough memory to read a tile";
            return false;
        }
        if (!raster.readWindow(1, key.level, window, stored.data(), message)) return false;
        bytes = uint64_t(stored.size()) * storedSampleBytes(raster.info().sampleType);
        const int side = tileSide(quads);
        for (int t = -1; t <= quads + 1; ++t) {
            const int row = std::clamp(firstRow + quads - t, top, bottom) - top;
            const double* from = stored.data() + size_t(row) * size_t(window.width);
            float* to = samples + tileSampleIndex(quads, -1, t);
            for (int s = 0; s < side; ++s) to[s] = rule.valueOf(from[std::clamp(firstColumn - 1 + s, left, right) - left]);
        }
        return true;
    }

    const std::string path;
    const TileValueRule rule;
    mutable std::mutex poolGuard;
    mutable std::vector<std::unique_ptr<RasterSource>> idle;
};

// Rows of a level read at once when measuring its heights.
const int MEASURED_ROWS = 64;

// Samples compared per level by overviewsDecimate: windows of this side at its corners and centre,
// and as many scattered ones.
const int CHECKED_WINDOW = 3;
const int SCATTERED_SAMPLES = 16;

bool sameStored(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

bool TileSource::readTile(const TileKey& key, Tile& tile, std::string& message) const {
    if (key.level < 0 || key.level >= levelCount() || key.column < 0 || key.row < 0 ||
        key.column >= level(key.level).columns || key.row >= level(key.level).rows) {
        message = "Tile " + std::to_string(key.level) + "/" + std::to_string(key.column) + "/" +
                  std::to_string(key.row) + " is not in the map's pyramid";
        return false;
    }
    const size_t side = size_t(tileSide(tileQuads()));
    tile.key = key;
    try {
        tile.samples.resize(side * side);
    } catch (const std::bad_alloc&) {
        message = "Not enough memory to read a tile";
        return false;
    }
    uint64_t bytes = 0;
    if (!readSamples(key, tile.samples.data(), bytes, message)) return false;
    if (!described.levelsDecimate && key.level + 1 < levelCount()) {
        thread_local Tile parent;
        parent.key = TileKey{key.level + 1, key.column / 2, key.row / 2};
        parent.samples.resize(side * side);
        uint64_t parentBytes = 0;
        if (!readSamples(parent.key, parent.samples.data(), parentBytes, message)) return false;
        bytes += parentBytes;
        measureTile(tile, tileQuads(), level(key.level), &parent);
    } else {
        measureTile(tile, tileQuads(), level(key.level));
    }
    tilesCounted.fetch_add(1);
    bytesCounted.fetch_add(bytes);
    return true;
}

void measureTile(Tile& tile, int quads, const TileLevel& size, const Tile* parent) {
    const float* samples = tile.samples.data();
    float lowest = std::numeric_limits<float>::infinity();
    float highest = -lowest;
    for (int t = 0; t <= quads; ++t) {
        const float* row = samples + tileSampleIndex(quads, 0, t);
        for (int s = 0; s <= quads; ++s) {
            // Comparisons with NaN are false, so samples without data change neither.
            lowest = row[s] < lowest ? row[s] : lowest;
            highest = row[s] > highest ? row[s] : highest;
        }
    }
    tile.minimum = lowest;
    tile.maximum = highest;

    // Tile coordinates of what lies inside the level: s up to lastColumn, t down to firstRow (t
    // counts north from the tile's southern edge, the level's rows south from its northern edge).
    const int firstColumn = tile.key.column * quads;
    const int firstLevelRow = tile.key.row * quads;
    const int lastColumn = std::min(quads, size.width - 1 - firstColumn);
    const int firstRow = std::max(0, quads - (size.height - 1 - firstLevelRow));
    // The next level's samples, at even positions, with its own edge: beyond its last sample it
    // repeats that one, which may lie one sample short of this level's edge.
    const int coarseLastColumn = std::min(quads, ((size.width - 1) & ~1) - firstColumn);
    const int coarseFirstRow = std::max(0, quads - (((size.height - 1) & ~1) - firstLevelRow));
    const int coarseSide = quads / 2 + 1;
    thread_local std::vector<float> coarse;
    coarse.resize(size_t(coarseSide) * size_t(coarseSide));
    // A parent's quarter over this tile: its western or eastern half, its southern or northern one.
    const int parentS = tile.key.column % 2 == 1 ? quads / 2 : 0;
    const int parentT = tile.key.row % 2 == 0 ? quads / 2 : 0;
    for (int j = 0; j < coarseSide; ++j) {
        float* to = coarse.data() + size_t(j) * size_t(coarseSide);
        if (parent != nullptr) {
            const float* row = parent->samples.data() + tileSampleIndex(quads, parentS, parentT + j);
            std::copy(row, row + coarseSide, to);
            continue;
        }
        const float* row = samples + tileSampleIndex(quads, 0, std::max(2 * j, coarseFirstRow));
        for (int i = 0; i < coarseSide; ++i) to[i] = row[std::min(2 * i, coarseLastColumn)];
    }

    float largest = 0.0f;
    const auto measure = [&largest](float sample, float between) {
        const float distance = std::fabs(sample - between);
        largest = distance > largest ? distance : largest;
    };
    for (int t = firstRow; t <= quads; ++t) {
        const float* row = samples + tileSampleIndex(quads, 0, t);
        const float* coarseBelow = coarse.data() + size_t(t / 2) * size_t(coarseSide);
        if (t % 2 == 0) {
            // On a coarse row: odd columns lie halfway along its edges.
            for (int s = 1; s <= lastColumn; s += 2) measure(row[s], 0.5f * (coarseBelow[s / 2] + coarseBelow[s / 2 + 1]));
            continue;
        }
        const float* coarseAbove = coarseBelow + coarseSide;
        for (int s = 0; s <= lastColumn; s += 2) measure(row[s], 0.5f * (coarseBelow[s / 2] + coarseAbove[s / 2]));
        // Odd columns of odd rows lie on the diagonal from the north-west corner to the south-east one.
        for (int s = 1; s <= lastColumn; s += 2) measure(row[s], 0.5f * (coarseAbove[s / 2] + coarseBelow[s / 2 + 1]));
    }
    tile.error = largest;
}

std::vector<TileLevel> tileLevelsOf(const RasterInfo& info, int tileQuads) {
    const RasterSize& full = info.levels.front();
    std::vector<TileLevel> levels{tileLevel(full.width, full.height, tileQuads)};
    for (size_t overview = 1; overview < info.levels.size() && overview < 31; ++overview) {
        if (levels.back().columns == 1 && levels.back().rows == 1) break;
        const RasterSize& size = info.levels[overview];
        const int factor = 1 << overview;
        if (!halves(full.width, size.width, factor) || !halves(full.height, size.height, factor)) break;
        levels.push_back(tileLevel(size.width, size.height, tileQuads));
    }
    return levels;
}

bool overviewsDecimate(const RasterSource& raster, const std::vector<TileLevel>& levels, bool& decimate,
                       std::string& message) {
    decimate = true;
    std::minstd_rand scatter(1);
    std::vector<double> coarse(size_t(CHECKED_WINDOW) * CHECKED_WINDOW);
    double full = 0.0;
    for (int level = 1; level < static_cast<int>(levels.size()) && decimate; ++level) {
        const TileLevel& size = levels[size_t(level)];
        const int windowWidth = std::min(CHECKED_WINDOW, size.width);
        const int windowHeight = std::min(CHECKED_WINDOW, size.height);
        // Each window's north-west sample: the corners (where odd sizes drift most), the centre, a scatter.
        std::vector<std::pair<int, int>> corners;
        for (const int column : {0, (size.width - windowWidth) / 2, size.width - windowWidth}) {
            for (const int row : {0, (size.height - windowHeight) / 2, size.height - windowHeight}) corners.emplace_back(column, row);
        }
        const size_t windows = corners.size();
        for (int k = 0; k < SCATTERED_SAMPLES; ++k) {
            corners.emplace_back(int(scatter() % uint32_t(size.width - windowWidth + 1)),
                                 int(scatter() % uint32_t(size.height - windowHeight + 1)));
        }
        for (size_t k = 0; k < corners.size() && decimate; ++k) {
            // The scattered ones are single samples.
            const bool whole = k < windows;
            const RasterWindow window{corners[k].first, corners[k].second, whole ? windowWidth : 1, whole ? windowHeight : 1};
            if (!raster.readWindow(1, level, window, coarse.data(), message)) return false;
            for (int row = 0; row < window.height && decimate; ++row) {
                for (int column = 0; column < window.width && decimate; ++column) {
                    const RasterWindow at{(window.column + column) << level, (window.row + row) << level, 1, 1};
                    if (at.column >= levels[0].width || at.row >= levels[0].height) {
                        decimate = false;
                        break;
                    }
                    if (!raster.readWindow(1, 0, at, &full, message)) return false;
                    decimate = sameStored(coarse[size_t(row) * size_t(window.width) + size_t(column)], full);
                }
            }
        }
    }
    return true;
}

bool measureHeights(const RasterSource& raster, int level, const HeightRule& rule, HeightBounds& bounds,
                    std::string& message) {
    const RasterSize& size = raster.info().levels[size_t(level)];
    std::vector<double> stored;
    try {
        stored.resize(size_t(size.width) * size_t(std::min(MEASURED_ROWS, size.height)));
    } catch (const std::bad_alloc&) {
        message = "Not enough memory to read the map's heights";
        return false;
    }
    bounds.lowest = std::numeric_limits<double>::infinity();
    bounds.highest = -bounds.lowest;
    for (int top = 0; top < size.height; top += MEASURED_ROWS) {
        const RasterWindow window{0, top, size.width, std::min(MEASURED_ROWS, size.height - top)};
        if (!raster.readWindow(1, level, window, stored.data(), message)) return false;
        const size_t count = size_t(window.width) * size_t(window.height);
        for (size_t k = 0; k < count; ++k) {
            const double height = rule.heightOf(stored[k]);
            if (std::isnan(height)) continue;
            bounds.lowest = std::min(bounds.lowest, height);
            bounds.highest = std::max(bounds.highest, height);
        }
    }
    return true;
}

std::unique_ptr<TileSource> openGdalTileSource(std::unique_ptr<RasterSource> raster, const std::string& datasetPath,
                                               const ElevationOptions& options, const TileSourceFacts& facts,
                                               std::string& message, int tileQuads) {
    if (tileQuads < 2 || tileQuads % 2 != 0) {
        message = "Tiles must have an even number of quads a side, not " + std::to_string(tileQuads);
        return nullptr;
    }
    if (options.hasSea && !std::isfinite(options.seaLevelMetres)) {
        message = "Sea level is not a finite number of metres";
        return nullptr;
    }
    RasterInfo info = raster->info();
    if (info.bandCount < 1) {
        message = "File holds no raster band";
        return nullptr;
    }
    if (!facts.formatName.empty()) info.formatName = facts.formatName;

    TileMap map;
    map.tileQuads = tileQuads;
    map.pyramid = facts.pyramid;
    map.levelsDecimate = facts.levelsDecimate;
    map.levels = tileLevelsOf(info, tileQuads);

    const bool isElevation = info.grid.geoTransform.has_value();
    TileValueRule rule;
    rule.height = HeightRule::of(info, options);
    HeightBounds bounds;
    if (facts.bounds) {
        bounds = *facts.bounds;
    } else {
        HeightRule beforeSea = rule.height;
        beforeSea.seaLevel.reset();
        if (!measureHeights(*raster, static_cast<int>(map.levels.size()) - 1, beforeSea, bounds, message)) return nullptr;
    }
    if (bounds.lowest > bounds.highest) {
        message = std::string("Map holds no data: all the samples of ") + (facts.bounds ? "it" : "its coarsest level") +
                  " are voids (its no-data value, NaN or an infinity)";
        return nullptr;
    }
    if (!isTerrain(info, bounds.lowest, bounds.highest, message)) return nullptr;
    if (isElevation) {
        Elevation elevation;
        if (!groundSpacing(info.grid, info.units, elevation.columnMetres, elevation.rowMetres)) {
            message = "Elevation map's geotransform gives its samples no usable spacing";
            return nullptr;
        }
        elevation.lowestMetres = 0.0;
        elevation.metresPerValue = 1.0;
        elevation.minimumMetres = bounds.lowest;
        elevation.maximumMetres = bounds.highest;
        elevation.description = describeRaster(info);
        elevation.coordinateSystemName = info.coordinateSystemName;
        elevation.grid = info.grid;
        map.elevation = std::move(elevation);
    } else if (info.sampleType == SampleType::UInt8) {
        map.largestValue = LARGEST_8_BIT;
    } else if (info.sampleType != SampleType::UInt16) {
        rule.spread = true;
        rule.spreadLowest = bounds.lowest;
        rule.spreadFactor = bounds.highest > bounds.lowest ? LARGEST_16_BIT / (bounds.highest - bounds.lowest) : 0.0;
    }
    return std::make_unique<GdalTileSource>(std::move(map), datasetPath, rule, std::move(raster));
}
