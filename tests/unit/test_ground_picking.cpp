// The ground under a ray, found on the processor: against analytic surfaces made as height maps,
// for the surfaces of a map drawn whole (the full mesh and level of detail, a raw map's samples left
// in its file among them) and of a streamed one from the tiles it holds; and what a point is said
// to be.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scene/GroundHeights.h"
#include "scene/ShadowGrids.h"
#include "scene/TerrainMesh.h"
#include "scene/TileCache.h"
#include "tests/GdalTestRasters.h"
#include "tests/OpenTiles.h"
#include "tests/TempFolder.h"

namespace {

constexpr int SIDE = 201;
constexpr int TEST_TILE_QUADS = 32;

// Columns and rows of unequal spacing and heights of an offset and a scale, so that a walk that
// mixes them up lands elsewhere.
TerrainGeometry testGeometry() {
    TerrainGeometry geometry;
    geometry.columnSpacing = 2.0f;
    geometry.rowSpacing = 3.0f;
    geometry.heightOffset = -5.0f;
    geometry.heightPerValue = 0.01f;
    return geometry;
}

using Surface = std::function<double(double x, double z)>;

double plane(double x, double z) { return 10.0 + 0.05 * x - 0.03 * z; }
// A cone standing on the map's centre.
double cone(double x, double z) { return std::max(0.0, 60.0 - 0.4 * std::hypot(x - 200.0, z + 300.0)); }

// The surface's samples, bottom row first, as the height map holds them.
std::vector<uint16_t> samplesOf(const Surface& surface) {
    const TerrainGeometry geometry = testGeometry();
    std::vector<uint16_t> samples(size_t(SIDE) * SIDE);
    for (int row = 0; row < SIDE; ++row) {
        for (int column = 0; column < SIDE; ++column) {
            const double y = surface(column * geometry.columnSpacing, -row * double(geometry.rowSpacing));
            samples[size_t(row) * SIDE + column] = static_cast<uint16_t>(std::lround((y - geometry.heightOffset) / geometry.heightPerValue));
        }
    }
    return samples;
}

// The surfaces a map is drawn with, as the processor sees them; a streamed one by the tiles it holds.
enum class Kind { Whole, RawLeftInFile, StreamedEverything, StreamedCoarsest, StreamedSomeFineTiles };

// The tiles of the pyramid of an elevation map of the samples: a GeoTIFF of their values as metres,
// without data at `voids`.
std::unique_ptr<TileSource> streamedMap(const std::vector<uint16_t>& samples, const std::vector<uint8_t>& voids,
                                        const TempFolder& folder, int side = SIDE) {
    gdaltest::Raster raster;
    raster.width = raster.height = side;
    raster.geoTransform = {{0.0, 30.0, 0.0, 0.0, 0.0, -30.0}};
    raster.noData = -1.0;
    for (int north = 0; north < side; ++north) {
        for (int column = 0; column < side; ++column) {
            const size_t k = size_t(side - 1 - north) * side + size_t(column);
            raster.values.push_back(!voids.empty() && voids[k] ? -1.0 : double(samples[k]));
        }
    }
    const std::string path = folder / "map.tif";
    EXPECT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), path));
    std::string message;
    std::unique_ptr<TileSource> source =
        openTiles(path, ElevationOptions{false, false, 0.0}, folder / "cache", {}, message, TEST_TILE_QUADS);
    EXPECT_TRUE(source) << message;
    return source;
}

// The samples streamed as streamedMap makes them, the tiles read as the terrain's readers read them
// and held as `held` says.
std::unique_ptr<HeldTileHeights> streamedHeights(const std::vector<uint16_t>& samples, const std::vector<uint8_t>& voids,
                                                 Kind held, const TempFolder& folder, TileCache& cache) {
    const std::unique_ptr<TileSource> source = streamedMap(samples, voids, folder);
    if (!source) return nullptr;
    std::string message;
    EXPECT_GT(source->levelCount(), 2) << "a walk down the levels";
    const TileMap& map = source->map();
    auto heights = std::make_unique<HeldTileHeights>(map, size_t(1) << 30);
    const int coarsest = source->levelCount() - 1;
    for (int level = coarsest; level >= 0; --level) {
        for (int row = 0; row < map.levels[size_t(level)].rows; ++row) {
            for (int column = 0; column < map.levels[size_t(level)].columns; ++column) {
                // A few level-0 tiles over the map's middle, with no tile of the levels between.
                const bool some = level == 0 && column >= 2 && column <= 4 && row >= 2 && row <= 4;
                if (level != coarsest && (held == Kind::StreamedCoarsest || (held == Kind::StreamedSomeFineTiles && !some))) continue;
                Tile tile;
                EXPECT_TRUE(source->readTile(TileKey{level, column, row}, tile, message)) << message;
                std::optional<TileKey> replaced;
                cache.place(tile, level == coarsest, 0, replaced);
                heights->keep(tile, replaced, cache);
            }
        }
    }
    return heights;
}

// The raw file of the samples (top row first) read as level of detail reads it, left in its file.
std::unique_ptr<WholeMapHeights> rawMapHeights(const std::vector<uint16_t>& samples, const TempFolder& folder) {
    const std::string path = folder / "map.r16";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    for (int row = SIDE - 1; row >= 0; --row) std::fwrite(&samples[size_t(row) * SIDE], 2, SIDE, file);
    std::fclose(file);
    HeightSamples map;
    std::string message;
    EXPECT_TRUE(loadHeightMap(path, ElevationOptions{}, map, message, RawSamples::LeftInFile)) << message;
    EXPECT_TRUE(map.samples.empty() && map.rawFile);
    return WholeMapHeights::take(map, message);
}

// The nearest point where the ray meets the analytic surface over the map, by fine steps and bisection.
std::optional<vec3> analyticHit(const Surface& surface, const vec3& origin, const vec3& direction) {
    const auto above = [&](double t) {
        return origin.y + t * direction.y - surface(origin.x + t * direction.x, origin.z + t * direction.z);
    };
    const auto onMap = [&](double t) {
        const double x = origin.x + t * direction.x, z = origin.z + t * direction.z;
        return x >= 0.0 && x <= 400.0 && z <= 0.0 && z >= -600.0;
    };
    for (double t = 0.0; t < 2000.0; t += 0.01) {
        if (!onMap(t) || !onMap(t + 0.01) || (above(t) > 0.0) == (above(t + 0.01) > 0.0)) continue;
        double low = t, high = t + 0.01;
        for (int step = 0; step < 50; ++step) ((above(low) > 0.0) == (above((low + high) / 2) > 0.0) ? low : high) = (low + high) / 2;
        return origin + direction * float(low);
    }
    return std::nullopt;
}

struct Pose {
    const char* name;
    vec3 origin;
    vec3 target;
};

// Steep and shallow, from outside the map and from above it, stepping east and west, north and
// south: a walk that starts in the wrong cell or steps the wrong way meets the wrong triangle.
const Pose POSES[] = {
    {"steeply down onto the cone's flank", {150, 120, -100}, {190, 20, -200}},
    {"straight down", {123.4f, 200, -321.7f}, {123.4f, 0, -321.7f}},
    {"shallow, from beyond the western edge", {-50, 40, -300}, {200, 30, -300}},
    {"from beyond the north-eastern corner, to the south-west", {450, 60, -650}, {250, 10, -330}},
    {"from the south, northwards", {210, 45, 30}, {205, 20, -200}},
};

struct Made {
    TileCache cache{4096};
    TempFolder folder;
    std::unique_ptr<GroundHeights> heights;
};

std::unique_ptr<Made> make(Kind kind, const std::vector<uint16_t>& samples, const std::vector<uint8_t>& voids = {}) {
    auto made = std::make_unique<Made>();
    if (kind == Kind::Whole) {
        made->heights = std::make_unique<WholeMapHeights>(SIDE, SIDE, samples, voids);
    } else if (kind == Kind::RawLeftInFile) {
        made->heights = rawMapHeights(samples, made->folder);
    } else {
        made->heights = streamedHeights(samples, voids, kind, made->folder, made->cache);
    }
    return made;
}

}  // namespace

TEST(GroundPicking, MeetsAnalyticSurfacesWithinHalfASampleOnEverySurface) {
    struct Case {
        const char* surfaceName;
        Surface surface;
        std::vector<Kind> kinds;
    };
    // The coarser levels of a plane are the plane: a streamed map holding only them still meets it
    // where the full resolution would. The cone's coarse levels are not the cone.
    const Case cases[] = {
        {"plane", plane, {Kind::Whole, Kind::RawLeftInFile, Kind::StreamedEverything, Kind::StreamedCoarsest,
                          Kind::StreamedSomeFineTiles}},
        {"cone", cone, {Kind::Whole, Kind::RawLeftInFile, Kind::StreamedEverything}},
    };
    const TerrainGeometry geometry = testGeometry();
    for (const Case& c : cases) {
        const std::vector<uint16_t> samples = samplesOf(c.surface);
        for (const Kind kind : c.kinds) {
            const std::unique_ptr<Made> made = make(kind, samples);
            ASSERT_TRUE(made->heights);
            for (const Pose& pose : POSES) {
                SCOPED_TRACE(std::string(c.surfaceName) + ", surface " + std::to_string(int(kind)) + ", " + pose.name);
                const vec3 direction = normalize(pose.target - pose.origin);
                const std::optional<vec3> expected = analyticHit(c.surface, pose.origin, direction);
                ASSERT_TRUE(expected);
                const std::optional<GroundHit> hit = made->heights->pick(geometry, pose.origin, direction);
                ASSERT_TRUE(hit);
                EXPECT_LT(length(hit->point - *expected), 0.5f * geometry.columnSpacing);
                EXPECT_NEAR(hit->distance, length(*expected - pose.origin), 0.5f * geometry.columnSpacing);
                EXPECT_TRUE(hit->hasData);
            }
        }
    }
}

TEST(GroundPicking, FindsNothingWhereTheRayLeavesTheMapWithoutMeetingIt) {
    const std::vector<uint16_t> samples = samplesOf(cone);
    struct Miss {
        const char* name;
        vec3 origin;
        vec3 direction;
    };
    // A walk that forgets where the map ends, or tests behind the origin, meets something here.
    const Miss misses[] = {
        {"upwards from above the map", {200, 100, -300}, {0.3f, 0.9f, -0.3f}},
        {"over the peak and off the map", {0, 80, -300}, {1, 0, 0}},
        {"away from the map", {-10, 10, -300}, {-1, -0.1f, 0}},
        {"beside the map", {-10, 10, 10}, {0, -0.1f, 1}},
    };
    // A map one sample high draws no triangles (and has no blocks of them).
    const WholeMapHeights row(5, 1, std::vector<uint16_t>(5, 100), {});
    EXPECT_FALSE(row.pick(testGeometry(), vec3{4, 10, 0}, vec3{0, -1, 0}));
    for (const Kind kind : {Kind::Whole, Kind::StreamedEverything}) {
        const std::unique_ptr<Made> made = make(kind, samples);
        for (const Miss& miss : misses) {
            EXPECT_FALSE(made->heights->pick(testGeometry(), miss.origin, normalize(miss.direction)))
                << miss.name << ", surface " << int(kind);
        }
    }
}

TEST(GroundPicking, FollowsTheGeometryOfEachCall) {
    // A copy of the world heights kept at start-up would miss the ground once the exaggeration changes.
    const std::unique_ptr<Made> made = make(Kind::Whole, samplesOf(plane));
    TerrainGeometry raised = testGeometry();
    raised.heightOffset += 7.0f;
    raised.heightPerValue *= 2.0f;
    const vec3 origin{100, 500, -100}, down{0, -1, 0};
    const std::optional<GroundHit> hit = made->heights->pick(raised, origin, down);
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->point.y, 7.0 + 2.0 * (plane(100, -100) + 5.0) - 5.0, 0.02);
}

TEST(GroundPicking, TellsAHoleWhereTheMapHasNoData) {
    std::vector<uint16_t> samples = samplesOf(plane);
    std::vector<uint8_t> voids(samples.size(), 0);
    // Sample (column 50, row 100 from the south): the four quads around it are holes.
    voids[size_t(100) * SIDE + 50] = 1;
    const TerrainGeometry geometry = testGeometry();
    for (const Kind kind : {Kind::Whole, Kind::StreamedEverything}) {
        SCOPED_TRACE(int(kind));
        const std::unique_ptr<Made> made = make(kind, samples, voids);
        const vec3 down{0, -1, 0};
        const std::optional<GroundHit> hole = made->heights->pick(geometry, {100.5f, 200, -299.5f}, down);
        ASSERT_TRUE(hole);
        EXPECT_FALSE(hole->hasData);
        const std::optional<GroundHit> beside = made->heights->pick(geometry, {106.5f, 200, -299.5f}, down);
        ASSERT_TRUE(beside);
        EXPECT_TRUE(beside->hasData);
        const GroundPoint point = describeGroundPoint(*made->heights, geometry, std::nullopt,
                                                      MapCoordinates(RasterGrid{SIDE, SIDE, {}, {}}), hole->point);
        EXPECT_TRUE(point.onMap);
        EXPECT_FALSE(point.elevation);
    }
}

TEST(GroundPicking, KeepsTheHeldTilesWithinTheirBudgetAndTheCoarsestAlways) {
    // An unbounded copy would grow a streamed map's memory with every tile it draws.
    TileMap map;
    map.tileQuads = TEST_TILE_QUADS;
    map.levels = {{65, 65, 2, 2}, {33, 33, 1, 1}};
    const size_t tileBytes = size_t(tileSide(TEST_TILE_QUADS)) * size_t(tileSide(TEST_TILE_QUADS)) * sizeof(float);
    HeldTileHeights heights(map, 3 * tileBytes);
    TileCache cache(8);
    const auto keep = [&](TileKey key, uint64_t frame) {
        Tile tile;
        tile.key = key;
        tile.samples.assign(tileBytes / sizeof(float), 1.0f);
        std::optional<TileKey> replaced;
        cache.place(tile, key.level == 1, frame, replaced);
        heights.keep(tile, replaced, cache);
    };
    const TileKey top{1, 0, 0}, a{0, 0, 0}, b{0, 1, 0}, c{0, 0, 1};
    keep(top, 1);
    keep(a, 1);
    keep(b, 2);
    cache.use(cache.find(a), 3);
    keep(c, 3);
    EXPECT_TRUE(heights.holds(top));
    EXPECT_TRUE(heights.holds(a)) << "drawn at frame 3";
    EXPECT_FALSE(heights.holds(b)) << "drawn least recently";
    EXPECT_TRUE(heights.holds(c));
    EXPECT_LE(heights.heldBytes(), 3 * tileBytes);
}

TEST(GroundPicking, DescribesElevationAndSlopeInMetresOrInWorldUnits) {
    // Values climbing 3 a column east and 2 a row south.
    std::vector<uint16_t> samples(size_t(SIDE) * SIDE);
    for (int row = 0; row < SIDE; ++row) {
        for (int column = 0; column < SIDE; ++column) samples[size_t(row) * SIDE + column] = uint16_t(1000 + 3 * column + 2 * (SIDE - 1 - row));
    }
    const WholeMapHeights heights(SIDE, SIDE, samples, {});
    const TerrainGeometry geometry = testGeometry();
    const MapCoordinates imageCoordinates(RasterGrid{SIDE, SIDE, {}, {}});
    // Column 10.5, row 20.25 from the north.
    const vec3 world{21.0f, 0.0f, -(200.0f - 20.25f) * 3.0f};

    Elevation elevation;
    elevation.lowestMetres = 100.0;
    elevation.metresPerValue = 0.5;
    elevation.columnMetres = 30.0;
    elevation.rowMetres = 45.0;
    struct Case {
        const char* name;
        std::optional<Elevation> elevation;
        double height;
        double slope;
    };
    // A slope taken in world units for an elevation map, or along swapped axes, differs from these.
    const Case cases[] = {
        {"elevation map", elevation, 100.0 + 0.5 * (1000 + 3 * 10.5 + 2 * 20.25),
         std::atan(std::hypot(3 * 0.5 / 30.0, 2 * 0.5 / 45.0)) * 180 / M_PI},
        {"image map", std::nullopt, -5.0 + 0.01 * (1000 + 3 * 10.5 + 2 * 20.25),
         std::atan(std::hypot(3 * 0.01 / 2.0, 2 * 0.01 / 3.0)) * 180 / M_PI},
    };
    for (const Case& c : cases) {
        const GroundPoint point = describeGroundPoint(heights, geometry, c.elevation, imageCoordinates, world);
        ASSERT_TRUE(point.onMap) << c.name;
        ASSERT_TRUE(point.elevation) << c.name;
        EXPECT_NEAR(*point.elevation, c.height, 1e-3) << c.name;
        EXPECT_NEAR(point.slopeDegrees, c.slope, 1e-3) << c.name;
        EXPECT_EQ(point.elevationInMetres, c.elevation.has_value()) << c.name;
        EXPECT_NEAR(point.mapPoint[0], 10.5, 1e-4) << c.name;
        EXPECT_NEAR(point.mapPoint[1], 20.25, 1e-4) << c.name;
    }
    EXPECT_FALSE(describeGroundPoint(heights, geometry, std::nullopt, imageCoordinates, vec3{-1, 0, 0}).onMap);
}

TEST(GroundPicking, MeetsTheTrianglesTheFullMeshDraws) {
    // Picking on the other diagonal of each quad, or on a grid turned upside down, lands between
    // the mesh's triangles on uneven ground. The mesh's own vertices and strip are the reference.
    const int width = 5, height = 4;
    HeightSamples map;
    map.width = width;
    map.height = height;
    for (int k = 0; k < width * height; ++k) map.samples.push_back(uint16_t((k * 7919) % 1000));
    const TerrainGeometry geometry = testGeometry();
    std::vector<float> vertices(size_t(width) * height * TERRAIN_VERTEX_FLOATS);
    buildTerrainVertices(map, geometry, vertices.data());
    std::vector<uint32_t> strip(terrainIndexCount(width, height));
    buildTerrainIndices(width, height, nullptr, strip.data());
    const auto position = [&](uint32_t index) {
        const float* v = &vertices[size_t(index) * TERRAIN_VERTEX_FLOATS];
        return vec3{v[0], v[1], v[2]};
    };
    // The height of the strip's triangle under (x, z).
    const auto meshHeight = [&](float x, float z) -> std::optional<float> {
        for (size_t k = 0; k + 2 < strip.size(); ++k) {
            const vec3 a = position(strip[k]), b = position(strip[k + 1]), c = position(strip[k + 2]);
            const float area = (b.x - a.x) * (c.z - a.z) - (c.x - a.x) * (b.z - a.z);
            if (area == 0.0f) continue;
            const float u = ((b.x - x) * (c.z - z) - (c.x - x) * (b.z - z)) / area;
            const float v = ((c.x - x) * (a.z - z) - (a.x - x) * (c.z - z)) / area;
            if (u < 0.0f || v < 0.0f || u + v > 1.0f) continue;
            return u * a.y + v * b.y + (1.0f - u - v) * c.y;
        }
        return std::nullopt;
    };
    const WholeMapHeights heights(width, height, map.samples, {});
    for (float x = 0.3f; x < 8.0f; x += 0.7f) {
        for (float z = -0.2f; z > -9.0f; z -= 0.65f) {
            const std::optional<float> expected = meshHeight(x, z);
            ASSERT_TRUE(expected);
            const std::optional<GroundHit> hit = heights.pick(geometry, vec3{x, 100.0f, z}, vec3{0, -1, 0});
            ASSERT_TRUE(hit) << x << ", " << z;
            EXPECT_NEAR(hit->point.y, *expected, 1e-3f) << x << ", " << z;
        }
    }
}

TEST(GroundPicking, SeesASpikeOnTheEdgeOfABlock) {
    // Sample (16, 16) counting from the north-west is a corner of the quads of four blocks; a block
    // whose bounds leave out its edge samples lets the ray pass the spike's first slope by.
    const int side = 40;
    std::vector<uint16_t> samples(size_t(side) * side, 0);
    samples[size_t(side - 1 - 16) * side + 16] = 1000;
    const WholeMapHeights heights(side, side, samples, {});
    TerrainGeometry geometry;
    geometry.heightPerValue = 0.01f;
    const float z = -(side - 1 - 15.5f);
    // Along row 15.5 the quad west of the spike rises to half its height halfway across.
    const std::optional<GroundHit> eastwards = heights.pick(geometry, vec3{-5.0f, 4.0f, z}, vec3{1, 0, 0});
    ASSERT_TRUE(eastwards);
    EXPECT_NEAR(eastwards->point.x, 15.4f, 1e-4f);
    // Along column 15.5 southwards, likewise the quad north of it.
    const std::optional<GroundHit> southwards =
        heights.pick(geometry, vec3{15.5f, 4.0f, -(side + 5.0f)}, vec3{0, 0, 1});
    ASSERT_TRUE(southwards);
    EXPECT_NEAR(southwards->point.z, -(side - 1 - 15.4f), 1e-4f);
}

// The heights the shadows are computed on, read by their grids and windows from a streamed map's
// tiles and from a map drawn whole: each sample must be the map's own at the place the grid says,
// voids and all. A tile laid in the wrong place, a row order mixed up, a window read from the wrong
// corner or a coarse level placed from the south when its rows end short of it would cast every
// shadow from the wrong hills.
TEST(ShadowGrids, EveryGridAndWindowHoldsTheMapsSamplesWhereItSays) {
    // Its coarser levels' rows end short of its southern edge, as with any side not 2^k + 1.
    constexpr int side = 200;
    std::vector<uint16_t> samples(size_t(side) * side);
    for (size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<uint16_t>(1000 + k % 7 + 13 * (k / side));
    std::vector<uint8_t> voids(samples.size(), 0);
    voids[size_t(150) * side + 40] = voids[size_t(3) * side + 190] = 1;
    const TempFolder folder;
    std::unique_ptr<TileSource> tiles = streamedMap(samples, voids, folder, side);
    ASSERT_TRUE(tiles);
    const WholeMapHeights whole(side, side, samples, voids);
    const TerrainGeometry geometry = testGeometry();
    const std::unique_ptr<ShadowHeights> streamed = streamedShadowHeights(std::move(tiles), geometry);
    const std::unique_ptr<ShadowHeights> drawnWhole = wholeMapShadowHeights(whole, geometry);

    const std::atomic<bool> notStopping{false};
    size_t differing = 0, compared = 0, placesShortOfTheSouth = 0;
    for (ShadowHeights* source : {streamed.get(), drawnWhole.get()}) {
        ASSERT_GE(source->levels().size(), 3u);
        EXPECT_EQ(source->levels().front().width, side);
        for (const ShadowLevel& level : source->levels()) {
            placesShortOfTheSouth += level.firstRow > 0;
            struct Window {
                int column, row, columns, rows;
            };
            const Window windows[] = {{0, 0, level.width, level.height},
                                      {std::min(5, level.width - 1), std::min(9, level.height - 1),
                                       std::min(37, level.width - std::min(5, level.width - 1)),
                                       std::min(23, level.height - std::min(9, level.height - 1))}};
            for (const Window& window : windows) {
                const std::optional<ShadowGrid> grid =
                    source->read(level, window.column, window.row, window.columns, window.rows, notStopping);
                ASSERT_TRUE(grid);
                ASSERT_EQ(grid->heights.size(), size_t(window.columns) * size_t(window.rows));
                EXPECT_EQ(grid->place.step, level.step);
                EXPECT_EQ(grid->columnSpacing, geometry.columnSpacing * float(level.step));
                EXPECT_EQ(grid->rowSpacing, geometry.rowSpacing * float(level.step));
                for (int r = 0; r < window.rows; ++r) {
                    for (int c = 0; c < window.columns; ++c) {
                        const size_t k = size_t(grid->place.firstRow + r * level.step) * side +
                                         size_t(grid->place.firstColumn + c * level.step);
                        const float expected = voids[k] ? NAN : geometry.heightOf(samples[k]);
                        const float height = grid->heights[size_t(r) * size_t(window.columns) + size_t(c)];
                        differing += !(height == expected || (std::isnan(height) && std::isnan(expected)));
                        ++compared;
                    }
                }
            }
        }
    }
    EXPECT_EQ(differing, 0u) << "of " << compared;
    EXPECT_GT(placesShortOfTheSouth, 0u) << "a pyramid level whose rows end short of the map's southern edge";

    const std::atomic<bool> stopping{true};
    const ShadowLevel& finest = streamed->levels().front();
    EXPECT_FALSE(streamed->read(finest, 0, 0, finest.width, finest.height, stopping)) << "a reader told to stop gives up";
}
