// Picking on the terrain's triangles: a walk over the grid cells that the ray passes over, in the
// order it passes them, which tests the triangles of each quad exactly and skips whole blocks (or
// tiles) whose heights the ray stays above or below.
#include "scene/GroundHeights.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "scene/TileCache.h"

namespace {

constexpr double NEVER = std::numeric_limits<double>::infinity();
// How far outside its quad a hit may fall and still count, in quads: the seams between quads
// are met by one side or the other, never by neither.
constexpr double SEAM = 1e-9;

// A ray in the samples of a grid whose neighbouring samples lie `step` full-resolution samples
// apart: column east, row south from the northern edge, and world height, each linear in t, the
// distance along the world ray.
struct GridRay {
    double column, row, y;
    double perColumn, perRow, perY;
};

GridRay gridRayOf(const TerrainGeometry& geometry, int mapHeight, double step, const vec3& origin,
                  const vec3& direction) {
    const double columnStep = double(geometry.columnSpacing) * step;
    const double rowStep = double(geometry.rowSpacing) * step;
    GridRay ray;
    ray.column = double(origin.x) / columnStep;
    ray.perColumn = double(direction.x) / columnStep;
    ray.row = (double(mapHeight - 1) * double(geometry.rowSpacing) + double(origin.z)) / rowStep;
    ray.perRow = double(direction.z) / rowStep;
    ray.y = origin.y;
    ray.perY = direction.y;
    return ray;
}

// Narrows [tIn, tOut] to where the ray lies over the box of columns [c0, c1] and rows [r0, r1];
// false when it never does.
bool clipToBox(const GridRay& ray, double c0, double c1, double r0, double r1, double& tIn, double& tOut) {
    const auto slab = [&](double start, double per, double low, double high) {
        if (per == 0.0) return start >= low && start <= high;
        double enter = (low - start) / per, leave = (high - start) / per;
        if (enter > leave) std::swap(enter, leave);
        tIn = std::max(tIn, enter);
        tOut = std::min(tOut, leave);
        return tIn <= tOut;
    };
    return slab(ray.column, ray.perColumn, c0, c1) && slab(ray.row, ray.perRow, r0, r1);
}

// Visits, in the order the ray passes over them between tIn and tOut, the cells of `size` quads
// a side that cover the quads [c0, c1) x [r0, r1): visit(cellColumn, cellRow, enter, leave), which
// returns true to stop the walk. True when a visit stopped it.
template <typename Visit>
bool walkCells(const GridRay& ray, double size, int c0, int c1, int r0, int r1, double tIn, double tOut,
               Visit visit) {
    if (c0 >= c1 || r0 >= r1 || !clipToBox(ray, c0, c1, r0, r1, tIn, tOut)) return false;
    const int firstColumn = static_cast<int>(std::floor(c0 / size)), endColumn = static_cast<int>(std::ceil(c1 / size));
    const int firstRow = static_cast<int>(std::floor(r0 / size)), endRow = static_cast<int>(std::ceil(r1 / size));
    // Where the walk starts, in cells, and the t of the next cell boundary along each axis.
    const double startColumn = (ray.column + tIn * ray.perColumn) / size;
    const double startRow = (ray.row + tIn * ray.perRow) / size;
    int column = std::clamp(static_cast<int>(std::floor(startColumn)), firstColumn, endColumn - 1);
    int row = std::clamp(static_cast<int>(std::floor(startRow)), firstRow, endRow - 1);
    const int columnStep = ray.perColumn > 0.0 ? 1 : -1;
    const int rowStep = ray.perRow > 0.0 ? 1 : -1;
    const auto boundary = [&](int cell, int stepBy, double start, double per) {
        if (per == 0.0) return NEVER;
        const double edge = double(stepBy > 0 ? cell + 1 : cell) * size;
        return (edge - start) / per;
    };
    double nextColumn = boundary(column, columnStep, ray.column, ray.perColumn);
    double nextRow = boundary(row, rowStep, ray.row, ray.perRow);
    const double columnDelta = ray.perColumn == 0.0 ? NEVER : size / std::abs(ray.perColumn);
    const double rowDelta = ray.perRow == 0.0 ? NEVER : size / std::abs(ray.perRow);
    double enter = tIn;
    for (;;) {
        const double leave = std::min({nextColumn, nextRow, tOut});
        if (visit(column, row, enter, std::max(enter, leave))) return true;
        if (leave >= tOut) return false;
        enter = leave;
        if (nextColumn <= nextRow) {
            column += columnStep;
            nextColumn += columnDelta;
        } else {
            row += rowStep;
            nextRow += rowDelta;
        }
        if (column < firstColumn || column >= endColumn || row < firstRow || row >= endRow) return false;
    }
}

// Whether the ray's height between t = enter and leave reaches into [lowest, highest].
bool mayMeet(const GridRay& ray, double enter, double leave, double lowest, double highest) {
    const double a = ray.y + enter * ray.perY, b = ray.y + leave * ray.perY;
    const double slack = 1e-6 * std::max({1.0, std::abs(lowest), std::abs(highest)});
    return std::min(a, b) <= highest + slack && std::max(a, b) >= lowest - slack;
}

// A quad's corner heights in the world.
struct Corners {
    double northWest, northEast, southWest, southEast;
};

// The nearest t >= 0 where the ray meets the quad whose north-western corner is (column, row) of
// the ray's grid: of its triangle north-east of the diagonal (across >= down) and the one south-west.
std::optional<double> meetQuad(const GridRay& ray, double column, double row, const Corners& h) {
    const double across0 = ray.column - column, down0 = ray.row - row;
    std::optional<double> nearest;
    // Each triangle is h = northWest + across * perAcross + down * perDown over its half of the quad.
    const auto triangle = [&](double perAcross, double perDown, bool northEast) {
        const double denominator = ray.perY - ray.perColumn * perAcross - ray.perRow * perDown;
        if (denominator == 0.0) return;
        const double t = (h.northWest + across0 * perAcross + down0 * perDown - ray.y) / denominator;
        if (!(t >= 0.0)) return;
        const double across = across0 + t * ray.perColumn, down = down0 + t * ray.perRow;
        if (across < -SEAM || across > 1.0 + SEAM || down < -SEAM || down > 1.0 + SEAM) return;
        if (northEast ? across - down < -SEAM : down - across < -SEAM) return;
        if (!nearest || t < *nearest) nearest = t;
    };
    triangle(h.northEast - h.northWest, h.southEast - h.northEast, true);
    triangle(h.southEast - h.southWest, h.southWest - h.northWest, false);
    return nearest;
}

// The surface of a quad at (across, down) inside it, with its climb per quad east and south.
GroundSample quadSample(const Corners& v, double across, double down) {
    GroundSample sample;
    if (across >= down) {
        sample.perColumn = v.northEast - v.northWest;
        sample.perRow = v.southEast - v.northEast;
    } else {
        sample.perColumn = v.southEast - v.southWest;
        sample.perRow = v.southWest - v.northWest;
    }
    sample.value = v.northWest + across * sample.perColumn + down * sample.perRow;
    return sample;
}

Corners worldCorners(const Corners& values, const TerrainGeometry& geometry) {
    const auto world = [&](double value) { return double(geometry.heightOffset) + value * double(geometry.heightPerValue); };
    return {world(values.northWest), world(values.northEast), world(values.southWest), world(values.southEast)};
}

// The world heights of values from lowest to highest, lowest first.
void worldRange(const TerrainGeometry& geometry, double lowest, double highest, double& low, double& high) {
    const double a = double(geometry.heightOffset) + lowest * double(geometry.heightPerValue);
    const double b = double(geometry.heightOffset) + highest * double(geometry.heightPerValue);
    low = std::min(a, b);
    high = std::max(a, b);
}

GroundHit hitAt(const vec3& origin, const vec3& direction, double t, bool hasData) {
    const float distance = static_cast<float>(t);
    return GroundHit{origin + direction * distance, distance, hasData};
}

}  // namespace

void mapPointOf(const TerrainGeometry& geometry, int mapHeight, float x, float z, double& column, double& row) {
    column = double(x) / double(geometry.columnSpacing);
    row = double(mapHeight - 1) + double(z) / double(geometry.rowSpacing);
}

GroundPoint describeGroundPoint(const GroundHeights& heights, const TerrainGeometry& geometry,
                                const std::optional<Elevation>& elevation, const MapCoordinates& coordinates,
                                const vec3& worldPoint) {
    GroundPoint point;
    double column = 0.0, row = 0.0;
    mapPointOf(geometry, heights.height, worldPoint.x, worldPoint.z, column, row);
    // Where the point lies is known beyond the map too (a camera past its edge, say).
    point.mapPoint = coordinates.mapPoint(column, row);
    point.georeferenced = coordinates.isGeoreferenced();
    point.geographic = coordinates.isGeographic();
    point.latitudeLongitude = coordinates.latitudeLongitude(point.mapPoint);
    const std::optional<GroundSample> sample = heights.sampleAt(column, row);
    if (!sample) return point;
    point.onMap = true;
    // Climb per unit of ground east and south, in the elevation's units.
    double east = 0.0, south = 0.0;
    if (elevation) {
        point.elevationInMetres = true;
        if (sample->hasData) point.elevation = elevation->lowestMetres + sample->value * elevation->metresPerValue;
        east = sample->perColumn * elevation->metresPerValue / elevation->columnMetres;
        south = sample->perRow * elevation->metresPerValue / elevation->rowMetres;
    } else {
        if (sample->hasData) point.elevation = double(geometry.heightOffset) + sample->value * double(geometry.heightPerValue);
        east = sample->perColumn * double(geometry.heightPerValue) / double(geometry.columnSpacing);
        south = sample->perRow * double(geometry.heightPerValue) / double(geometry.rowSpacing);
    }
    if (sample->hasData) point.slopeDegrees = std::atan(std::hypot(east, south)) * 180.0 / M_PI;
    return point;
}

std::unique_ptr<WholeMapHeights> WholeMapHeights::take(HeightSamples& map, std::string& failure) {
    if (!map.rawFile) {
        return std::make_unique<WholeMapHeights>(map.width, map.height, std::move(map.samples), std::move(map.voids));
    }
    std::unique_ptr<WholeMapHeights> heights(new WholeMapHeights(map.width, map.height, {}));
    heights->mapped = std::make_unique<MappedRawSamples>(map);
    if (!heights->mapped->isMapped()) {
        heights->mapped.reset();
        heights->held.resize(size_t(map.width) * size_t(map.height));
        if (!sampleRows(map, 0, map.height, heights->held.data(), failure)) return nullptr;
        heights->samples = heights->held.data();
        heights->noteRows(heights->samples, 0, map.height);
        return heights;
    }
    heights->samples = heights->mapped->topRowFirst();
    // The bounds are measured on the mapped rows themselves, which copying them out of the file first
    // would only read twice.
    constexpr int BAND_ROWS = 256;
    for (int first = 0; first < map.height; first += BAND_ROWS) {
        const int count = std::min(BAND_ROWS, map.height - first);
        for (int row = first; row < first + count; ++row) heights->noteRows(heights->mapped->row(row), row, 1);
        heights->mapped->release(first, count);
    }
    return heights;
}

WholeMapHeights::WholeMapHeights(int width, int height, std::vector<uint16_t> samples, std::vector<uint8_t> voids)
    : WholeMapHeights(width, height, std::move(voids)) {
    held = std::move(samples);
    this->samples = held.data();
    noteRows(this->samples, 0, height);
}

WholeMapHeights::WholeMapHeights(int width, int height, std::vector<uint8_t> voids)
    : GroundHeights(width, height), voids(std::move(voids)) {
    blocksAcross = (std::max(width - 1, 0) + BLOCK_QUADS - 1) / BLOCK_QUADS;
    blocksDown = (std::max(height - 1, 0) + BLOCK_QUADS - 1) / BLOCK_QUADS;
    blockLowest.assign(size_t(blocksAcross) * size_t(blocksDown), UINT16_MAX);
    blockHighest.assign(blockLowest.size(), 0);
}

WholeMapHeights::~WholeMapHeights() = default;

void WholeMapHeights::noteRows(const uint16_t* rows, int firstRow, int count) {
    // A map one sample high or wide has no quads, and so no blocks.
    if (blocksAcross == 0 || blocksDown == 0) return;
    const int quadsDown = height - 1;
    for (int k = 0; k < count; ++k) {
        const int row = height - 1 - (firstRow + k);
        const uint16_t* rowSamples = rows + size_t(k) * size_t(width);
        for (int blockColumn = 0; blockColumn < blocksAcross; ++blockColumn) {
            // A block's quads reach the first sample of the next block, in both directions.
            const uint16_t* first = rowSamples + blockColumn * BLOCK_QUADS;
            const uint16_t* end = rowSamples + std::min((blockColumn + 1) * BLOCK_QUADS, width - 1) + 1;
            const auto range = std::minmax_element(first, end);
            for (int blockRow = std::max(row - 1, 0) / BLOCK_QUADS; blockRow <= std::min(row, quadsDown - 1) / BLOCK_QUADS;
                 ++blockRow) {
                const size_t block = size_t(blockRow) * size_t(blocksAcross) + size_t(blockColumn);
                blockLowest[block] = std::min(blockLowest[block], *range.first);
                blockHighest[block] = std::max(blockHighest[block], *range.second);
            }
        }
    }
}

std::optional<GroundHit> WholeMapHeights::pick(const TerrainGeometry& geometry, const vec3& origin,
                                               const vec3& direction) const {
    const GridRay ray = gridRayOf(geometry, height, 1.0, origin, direction);
    const int quadsAcross = width - 1, quadsDown = height - 1;
    std::optional<GroundHit> hit;
    walkCells(ray, BLOCK_QUADS, 0, quadsAcross, 0, quadsDown, 0.0, NEVER,
              [&](int blockColumn, int blockRow, double enter, double leave) {
        const size_t block = size_t(blockRow) * size_t(blocksAcross) + size_t(blockColumn);
        double low = 0.0, high = 0.0;
        worldRange(geometry, blockLowest[block], blockHighest[block], low, high);
        if (!mayMeet(ray, enter, leave, low, high)) return false;
        const int c0 = blockColumn * BLOCK_QUADS, r0 = blockRow * BLOCK_QUADS;
        return walkCells(ray, 1.0, c0, std::min(c0 + BLOCK_QUADS, quadsAcross), r0,
                         std::min(r0 + BLOCK_QUADS, quadsDown), 0.0, NEVER,
                         [&](int column, int row, double, double) {
            const Corners values{value(column, row), value(column + 1, row), value(column, row + 1),
                                 value(column + 1, row + 1)};
            const std::optional<double> t = meetQuad(ray, column, row, worldCorners(values, geometry));
            if (!t) return false;
            const bool hasData = !isVoid(column, row) && !isVoid(column + 1, row) && !isVoid(column, row + 1) &&
                                 !isVoid(column + 1, row + 1);
            hit = hitAt(origin, direction, *t, hasData);
            return true;
        });
    });
    return hit;
}

std::optional<GroundSample> WholeMapHeights::sampleAt(double column, double row) const {
    if (!(column >= 0.0 && row >= 0.0 && column <= width - 1 && row <= height - 1)) return std::nullopt;
    // A map one sample wide or high has no quads: its quad is its samples repeated.
    const int west = std::min(static_cast<int>(column), std::max(width - 2, 0));
    const int north = std::min(static_cast<int>(row), std::max(height - 2, 0));
    const int east = std::min(west + 1, width - 1), south = std::min(north + 1, height - 1);
    const Corners values{value(west, north), value(east, north), value(west, south), value(east, south)};
    GroundSample sample = quadSample(values, column - west, row - north);
    sample.hasData = !isVoid(west, north) && !isVoid(east, north) && !isVoid(west, south) && !isVoid(east, south);
    return sample;
}

std::vector<float> WholeMapHeights::worldHeights(const TerrainGeometry& geometry, int step, int firstColumn,
                                                 int firstRow, int columns, int rows) const {
    std::vector<float> heights(size_t(columns) * size_t(rows));
    float* out = heights.data();
    for (int k = firstRow; k < firstRow + rows; ++k) {
        const int row = height - 1 - k * step;
        for (int j = firstColumn; j < firstColumn + columns; ++j) {
            const int column = j * step;
            *out++ = isVoid(column, row) ? std::numeric_limits<float>::quiet_NaN() : geometry.heightOf(value(column, row));
        }
    }
    return heights;
}

HeldTileHeights::HeldTileHeights(const TileMap& map, size_t budgetBytes)
    : GroundHeights(map.levels.front().width, map.levels.front().height), map(map), budget(budgetBytes) {}

void HeldTileHeights::keep(const Tile& tile, const std::optional<TileKey>& replaced, const TileCache& cache) {
    if (replaced) forget(*replaced);
    forget(tile.key);
    Held held;
    held.samples = tile.samples;
    // A tile without data has no bounds; its holes stand at value 0.
    const bool hasVoids = std::any_of(held.samples.begin(), held.samples.end(), [](float v) { return std::isnan(v); });
    held.lowest = tile.minimum <= tile.maximum ? tile.minimum : 0.0f;
    held.highest = tile.minimum <= tile.maximum ? tile.maximum : 0.0f;
    if (hasVoids) {
        held.lowest = std::min(held.lowest, 0.0f);
        held.highest = std::max(held.highest, 0.0f);
    }
    bytes += held.samples.size() * sizeof(float);
    tiles.emplace(tile.key, std::move(held));
    for (TileKey above = tile.key; above.level < coarsestLevel();) {
        above = TileKey{above.level + 1, above.column / 2, above.row / 2};
        ++heldBelow[above];
    }
    while (bytes > budget) {
        // The finer tile the cache drew least recently; one no longer in the cache first.
        const TileKey* oldest = nullptr;
        uint64_t oldestFrame = 0;
        for (const auto& entry : tiles) {
            if (entry.first.level == coarsestLevel() || entry.first == tile.key) continue;
            const int layer = cache.find(entry.first);
            const uint64_t used = layer < 0 ? 0 : cache.layer(layer).lastUsedFrame;
            if (!oldest || used < oldestFrame) {
                oldest = &entry.first;
                oldestFrame = used;
            }
        }
        if (!oldest) break;
        forget(TileKey(*oldest));
    }
}

void HeldTileHeights::forget(const TileKey& key) {
    const auto held = tiles.find(key);
    if (held == tiles.end()) return;
    bytes -= held->second.samples.size() * sizeof(float);
    tiles.erase(held);
    for (TileKey above = key; above.level < coarsestLevel();) {
        above = TileKey{above.level + 1, above.column / 2, above.row / 2};
        const auto count = heldBelow.find(above);
        if (count != heldBelow.end() && --count->second == 0) heldBelow.erase(count);
    }
}

const HeldTileHeights::Held* HeldTileHeights::find(const TileKey& key) const {
    const auto held = tiles.find(key);
    return held == tiles.end() ? nullptr : &held->second;
}

namespace {

// The values of a held tile's quad whose north-western corner is (s, north) of the tile, counted
// east and south from its north-western sample. Corners without data take the lowest that has, or
// value 0, for the hole's surface.
Corners tileCorners(const std::vector<float>& samples, int quads, int s, int north, bool& hasData) {
    const auto at = [&](int east, int south) { return samples[tileSampleIndex(quads, s + east, quads - north - south)]; };
    float v[4] = {at(0, 0), at(1, 0), at(0, 1), at(1, 1)};
    float lowest = std::numeric_limits<float>::infinity();
    for (const float value : v) {
        if (!std::isnan(value)) lowest = std::min(lowest, value);
    }
    hasData = std::isfinite(lowest) && !std::isnan(v[0] + v[1] + v[2] + v[3]);
    for (float& value : v) {
        if (std::isnan(value)) value = std::isfinite(lowest) ? lowest : 0.0f;
    }
    return {v[0], v[1], v[2], v[3]};
}

}  // namespace

const HeldTileHeights::Held* HeldTileHeights::heldAt(int level, double column, double row, TileKey& key) const {
    const TileLevel& size = map.levels[size_t(level)];
    const double scale = double(1 << level);
    const int quadColumn = std::clamp(static_cast<int>(std::floor(column / scale)), 0, std::max(size.width - 2, 0));
    const int quadRow = std::clamp(static_cast<int>(std::floor(row / scale)), 0, std::max(size.height - 2, 0));
    key = TileKey{level, std::min(quadColumn / map.tileQuads, size.columns - 1),
                  std::min(quadRow / map.tileQuads, size.rows - 1)};
    return find(key);
}

std::optional<GroundSample> HeldTileHeights::sampleAt(double column, double row) const {
    if (!(column >= 0.0 && row >= 0.0 && column <= width - 1 && row <= height - 1)) return std::nullopt;
    for (int level = 0; level <= coarsestLevel(); ++level) {
        TileKey key;
        const Held* held = heldAt(level, column, row, key);
        if (!held) continue;
        // As the streamed surface reads a level: beyond its last sample it repeats it.
        const TileLevel& size = map.levels[size_t(level)];
        const double scale = double(1 << level);
        const int quadColumn = std::clamp(static_cast<int>(std::floor(column / scale)), 0, std::max(size.width - 2, 0));
        const int quadRow = std::clamp(static_cast<int>(std::floor(row / scale)), 0, std::max(size.height - 2, 0));
        bool hasData = true;
        const Corners values = tileCorners(held->samples, map.tileQuads, quadColumn - key.column * map.tileQuads,
                                           quadRow - key.row * map.tileQuads, hasData);
        GroundSample sample = quadSample(values, std::clamp(column / scale - quadColumn, 0.0, 1.0),
                                         std::clamp(row / scale - quadRow, 0.0, 1.0));
        sample.perColumn /= scale;
        sample.perRow /= scale;
        sample.hasData = hasData;
        return sample;
    }
    return std::nullopt;
}

// The walk down the tiles: each tile's area is drawn from the finest held tile over it, so the walk
// goes into the children of a tile only where a finer tile is held, and otherwise walks the quads
// of the finest held tile above.
struct HeldTileHeights::Walk {
    const HeldTileHeights& heights;
    const TerrainGeometry& geometry;
    const vec3& origin;
    const vec3& direction;
    GridRay ray;
    std::optional<GroundHit> hit;

    // Level-0 quads along a tile's side on `level`.
    double tileSpan(int level) const { return double(heights.map.tileQuads) * double(1 << level); }

    // Walks the tiles of `level` that cover the full-resolution quads [c0, c1) x [r0, r1), with
    // `drawn` the finest held tile above them (null for none) and `drawnKey` its key.
    bool tilesOf(int level, int c0, int c1, int r0, int r1, double enter, double leave, const Held* drawn,
                 const TileKey& drawnKey) {
        return walkCells(ray, tileSpan(level), c0, c1, r0, r1, enter, leave,
                         [&](int column, int row, double tileEnter, double tileLeave) {
            const TileKey key{level, column, row};
            const Held* here = heights.find(key);
            const Held* used = here ? here : drawn;
            const TileKey& usedKey = here ? key : drawnKey;
            const int span = static_cast<int>(tileSpan(level));
            const int tc0 = std::max(c0, column * span), tc1 = std::min(c1, column * span + span);
            const int tr0 = std::max(r0, row * span), tr1 = std::min(r1, row * span + span);
            if (level > 0 && heights.heldBelow.count(key) != 0) {
                return tilesOf(level - 1, tc0, tc1, tr0, tr1, tileEnter, tileLeave, used, usedKey);
            }
            return used && quadsOf(*used, usedKey, tc0, tc1, tr0, tr1, tileEnter, tileLeave);
        });
    }

    // Walks the quads of held tile `key` over the full-resolution quads [c0, c1) x [r0, r1).
    bool quadsOf(const Held& held, const TileKey& key, int c0, int c1, int r0, int r1, double enter, double leave) {
        double low = 0.0, high = 0.0;
        worldRange(geometry, held.lowest, held.highest, low, high);
        if (!clipToBox(ray, c0, c1, r0, r1, enter, leave) || !mayMeet(ray, enter, leave, low, high)) return false;
        const double scale = double(1 << key.level);
        const GridRay levelRay = gridRayOf(geometry, heights.height, scale, origin, direction);
        const int quads = heights.map.tileQuads;
        // The area's quads on the tile's level, the last perhaps reaching past the level's last
        // sample, which the tile repeats beyond it.
        const int lc0 = static_cast<int>(std::floor(c0 / scale)), lc1 = static_cast<int>(std::ceil(c1 / scale));
        const int lr0 = static_cast<int>(std::floor(r0 / scale)), lr1 = static_cast<int>(std::ceil(r1 / scale));
        return walkCells(levelRay, 1.0, lc0, lc1, lr0, lr1, enter, leave, [&](int column, int row, double, double) {
            bool hasData = true;
            const Corners values =
                tileCorners(held.samples, quads, column - key.column * quads, row - key.row * quads, hasData);
            const std::optional<double> t = meetQuad(levelRay, column, row, worldCorners(values, geometry));
            if (!t) return false;
            hit = hitAt(origin, direction, *t, hasData);
            return true;
        });
    }
};

std::optional<GroundHit> HeldTileHeights::pick(const TerrainGeometry& geometry, const vec3& origin,
                                               const vec3& direction) const {
    Walk walk{*this, geometry, origin, direction, gridRayOf(geometry, height, 1.0, origin, direction), std::nullopt};
    walk.tilesOf(coarsestLevel(), 0, width - 1, 0, height - 1, 0.0, NEVER, nullptr, TileKey{});
    return walk.hit;
}
