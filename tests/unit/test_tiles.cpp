// Tests of streamed tiles without GL: their samples against the map's own (levels by decimation, edges
// repeated, bottom row first, voids), their error against a brute-force comparison of the two levels'
// triangles, and the background loader's hand-over of requested tiles and of failures.
#include "io/Pyramid.h"
#include "io/TileLoader.h"
#include "io/TileSource.h"
#include "tests/GdalTestRasters.h"
#include "tests/OpenTiles.h"
#include "tests/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace {

const float NO_DATA = -9999.0f;
const int QUADS = 16;

// A map whose samples all differ, with a few voids, as stored top row first.
// Half metres apart, so that they stay within a terrain's heights.
std::vector<double> distinctValues(int width, int height) {
    std::vector<double> values(size_t(width) * size_t(height));
    for (size_t k = 0; k < values.size(); ++k) values[k] = k % 97 == 5 ? NO_DATA : 0.5 * double(k % 60000);
    return values;
}

// Waits until `done` holds, checking often; fails after a generous time.
template <typename Condition>
bool eventually(Condition done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Level `spacing`'s surface at (x, y) in tile coordinates, through the samples `at` gives at multiples
// of spacing, each quad split along its north-west to south-east diagonal or, when `otherDiagonal`,
// along the other one.
template <typename At>
float surface(At at, int spacing, double x, double y, bool otherDiagonal) {
    const int x0 = std::min(int(x) / spacing * spacing, QUADS - spacing);
    const int y0 = std::min(int(y) / spacing * spacing, QUADS - spacing);
    const double u = (x - x0) / spacing, v = (y - y0) / spacing;
    const double sw = at(x0, y0), se = at(x0 + spacing, y0), nw = at(x0, y0 + spacing), ne = at(x0 + spacing, y0 + spacing);
    if (otherDiagonal) return float(u >= v ? sw + (se - sw) * u + (ne - se) * v : sw + (nw - sw) * v + (ne - nw) * u);
    return float(u + v <= 1.0 ? sw * (1 - u - v) + se * u + nw * v : ne * (u + v - 1) + se * (1 - v) + nw * (1 - u));
}

// The largest distance between a tile's level and the next coarser one over the tile's area inside
// the level, sampled every quarter sample.
float bruteForceError(const Tile& tile, const TileLevel& level, bool otherDiagonal) {
    const auto sample = [&](int s, int t) { return tile.samples[tileSampleIndex(QUADS, s, t)]; };
    // Columns east and rows south of the level's last even sample repeat it at the coarser level.
    const int lastEven = ((level.width - 1) & ~1) - tile.key.column * QUADS;
    const int southEven = QUADS - (((level.height - 1) & ~1) - tile.key.row * QUADS);
    const auto coarse = [&](int s, int t) { return sample(std::min(s, lastEven), std::max(t, southEven)); };
    const double east = std::min(QUADS, level.width - 1 - tile.key.column * QUADS);
    const double south = std::max(0, QUADS - (level.height - 1 - tile.key.row * QUADS));
    float largest = 0.0f;
    for (double y = south; y <= QUADS; y += 0.25) {
        for (double x = 0; x <= east; x += 0.25) {
            const float distance = std::fabs(surface(sample, 1, x, y, otherDiagonal) - surface(coarse, 2, x, y, otherDiagonal));
            if (!std::isnan(distance)) largest = std::max(largest, distance);
        }
    }
    return largest;
}

}  // namespace

TEST(TileSource, TilesHoldTheirLevelsSamplesEdgesRepeatedBottomRowFirst) {
    const int width = 160, height = 112;  // both halve evenly down to one tile, so GDAL's overviews decimate too
    gdaltest::Raster raster;
    raster.width = width;
    raster.height = height;
    raster.values = distinctValues(width, height);
    raster.geoTransform = {{0.0, 30.0, 0.0, 0.0, 0.0, -30.0}};
    raster.noData = NO_DATA;
    TempFolder folder;
    GdalDataset dataset = gdaltest::inMemory(raster);
    ASSERT_TRUE(gdaltest::writeFile(dataset.get(), folder / "plain.tif"));
    int factors[] = {2, 4, 8, 16};
    ASSERT_EQ(GDALBuildOverviews(dataset.get(), "NEAREST", 4, factors, 0, nullptr, nullptr, nullptr), CE_None);
    ASSERT_TRUE(gdaltest::writeFile(dataset.get(), folder / "overviews.tif", "GTiff", {"COPY_SRC_OVERVIEWS=YES"}));

    for (const char* name : {"plain.tif", "overviews.tif"}) {
        std::string message;
        const std::unique_ptr<TileSource> source =
            openTiles(folder / name, ElevationOptions{false, false, 0.0}, folder / "cache", {}, message, QUADS);
        ASSERT_TRUE(source) << message;
        ASSERT_EQ(source->levelCount(), 5) << name;  // down to 10 x 7 samples
        EXPECT_EQ(source->map().pyramid == "its own overviews", std::string(name) == "overviews.tif");
        ASSERT_TRUE(source->map().elevation);
        EXPECT_EQ(source->map().elevation->columnMetres, 30.0);
        for (int level = 0; level < source->levelCount(); ++level) {
            const TileLevel& size = source->level(level);
            EXPECT_EQ(size.width, width >> level);
            // The first tile, one inside, and the last, which reaches beyond the level's edges.
            for (const TileKey key : {TileKey{level, 0, 0}, TileKey{level, size.columns / 2, size.rows / 2},
                                      TileKey{level, size.columns - 1, size.rows - 1}}) {
                Tile tile;
                ASSERT_TRUE(source->readTile(key, tile, message)) << message;
                for (int t = -1; t <= QUADS + 1; ++t) {
                    for (int s = -1; s <= QUADS + 1; ++s) {
                        const int column = std::clamp(key.column * QUADS + s, 0, size.width - 1);
                        const int row = std::clamp(key.row * QUADS + QUADS - t, 0, size.height - 1);
                        const double stored = raster.values[size_t(row << level) * width + size_t(column << level)];
                        const float value = tile.samples[tileSampleIndex(QUADS, s, t)];
                        if (stored == NO_DATA) {
                            EXPECT_TRUE(std::isnan(value));
                        } else {
                            ASSERT_EQ(value, float(stored)) << name << " tile " << level << "/" << key.column << "/"
                                                            << key.row << " sample " << s << ", " << t;
                        }
                    }
                }
            }
        }
    }
}

TEST(TileSource, MapsRunningSouthToNorthOrEastToWestGiveTheTilesOfTheirNorthUpTwin) {
    // Odd and even sides, so that a pyramid counted from the file's first row instead of the map's
    // northern or western edge misses the samples its levels hold; the file's own overviews are
    // GDAL's and may differ, so only the pyramid KELTA builds is compared level by level.
    const int width = 41, height = 38;
    const std::vector<double> northUp = distinctValues(width, height);
    struct Case {
        std::string label;
        bool columns, rows;  // mirrored in the file
    };
    const std::vector<Case> cases = {{"north-up", false, false}, {"south-up", false, true},
                                     {"east to west", true, false}, {"both", true, true}};
    TempFolder folder;
    std::vector<std::vector<Tile>> tilesOf;
    for (const Case& c : cases) {
        gdaltest::Raster raster;
        raster.width = width;
        raster.height = height;
        raster.noData = NO_DATA;
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const int northRow = c.rows ? height - 1 - row : row;
                const int westColumn = c.columns ? width - 1 - column : column;
                raster.values.push_back(northUp[size_t(northRow) * width + size_t(westColumn)]);
            }
        }
        // The same ground, 30 m samples with the north-west corner at (1000, 5000).
        raster.geoTransform = {{c.columns ? 1000.0 + 30.0 * width : 1000.0, c.columns ? -30.0 : 30.0, 0.0,
                                c.rows ? 5000.0 - 30.0 * height : 5000.0, 0.0, c.rows ? 30.0 : -30.0}};
        const std::string path = folder / (c.label + ".tif");
        ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), path));
        std::string message;
        const std::unique_ptr<TileSource> source =
            openTiles(path, ElevationOptions{false, false, 0.0}, folder / "cache", {}, message, QUADS);
        ASSERT_TRUE(source) << c.label << ": " << message;
        ASSERT_TRUE(source->map().elevation) << c.label;
        const std::array<double, 6> northUpGrid{1000.0, 30.0, 0.0, 5000.0, 0.0, -30.0};
        EXPECT_EQ(*source->map().elevation->grid.geoTransform, northUpGrid) << c.label;
        ASSERT_EQ(source->levelCount(), 3) << c.label;
        tilesOf.emplace_back();
        for (int level = 0; level < source->levelCount(); ++level) {
            for (int row = 0; row < source->level(level).rows; ++row) {
                for (int column = 0; column < source->level(level).columns; ++column) {
                    Tile tile;
                    ASSERT_TRUE(source->readTile(TileKey{level, column, row}, tile, message)) << message;
                    tilesOf.back().push_back(std::move(tile));
                }
            }
        }
    }
    for (size_t c = 1; c < cases.size(); ++c) {
        ASSERT_EQ(tilesOf[c].size(), tilesOf[0].size()) << cases[c].label;
        for (size_t k = 0; k < tilesOf[0].size(); ++k) {
            const Tile& twin = tilesOf[0][k];
            const Tile& tile = tilesOf[c][k];
            for (size_t j = 0; j < twin.samples.size(); ++j) {
                const bool bothVoid = std::isnan(tile.samples[j]) && std::isnan(twin.samples[j]);
                ASSERT_TRUE(tile.samples[j] == twin.samples[j] || bothVoid)
                    << cases[c].label << " tile " << twin.key.level << "/" << twin.key.column << "/" << twin.key.row
                    << " sample " << j;
            }
            EXPECT_EQ(tile.error, twin.error) << cases[c].label;
        }
    }
}

TEST(TileLevels, OverviewsWhoseSizesDoNotHalveAreNeverLevels) {
    struct Case {
        std::vector<RasterSize> sizes;
        size_t levels;
    } cases[] = {
        {{{1001, 1001}, {501, 501}, {251, 251}}, 3},  // rounded up, as GDAL rounds
        {{{1001, 1001}, {500, 500}, {250, 250}}, 3},  // rounded down, as some writers round
        {{{1000, 1000}, {600, 600}}, 1},
        {{{1000, 1000}, {499, 499}}, 1},
        {{{1000, 1000}, {500, 300}}, 1},
        {{{1000, 1000}, {500, 500}, {200, 200}}, 2},
    };
    for (const Case& c : cases) {
        RasterInfo info;
        info.levels = c.sizes;
        const std::vector<TileLevel> levels = tileLevelsOf(info, QUADS);
        EXPECT_EQ(levels.size(), c.levels) << c.sizes[1].width << " x " << c.sizes[1].height;
    }
}

TEST(TileSource, AFilesOverviewsAreItsLevelsOnlyWhereTheyDecimateAndTheBoundsAreTheMapsOwn) {
    // Distinct samples with the extremes at odd positions, which no decimated overview holds.
    const auto writeMap = [](const std::string& path, int width, int height, const char* resampling, bool statistics) {
        gdaltest::Raster raster;
        raster.width = width;
        raster.height = height;
        raster.values = distinctValues(width, height);
        raster.values[size_t(width) + 1] = 11000.0;
        raster.values[size_t(3 * width) + 3] = -500.0;
        raster.geoTransform = {{0.0, 30.0, 0.0, 0.0, 0.0, -30.0}};
        raster.noData = NO_DATA;
        GdalDataset dataset = gdaltest::inMemory(raster);
        // Exact statistics, which a file keeps beside it, are taken as they are (these are not the samples').
        if (statistics) GDALSetRasterStatistics(GDALGetRasterBand(dataset.get(), 1), -7.0, 11500.0, 0.0, 1.0);
        int factors[] = {2, 4, 8, 16};
        const bool built = resampling == nullptr ||
                           GDALBuildOverviews(dataset.get(), resampling, 4, factors, 0, nullptr, nullptr, nullptr) == CE_None;
        return built && gdaltest::writeFile(dataset.get(), path, "GTiff", {"COPY_SRC_OVERVIEWS=YES"});
    };
    struct Case {
        const char* resampling;
        int width, height;
        bool decimates;
        bool statistics = false;
    } cases[] = {
        {"NEAREST", 160, 112, true},
        {"NEAREST", 161, 113, false},  // GDAL's nearest sample drifts off the even one halfway across
        {"AVERAGE", 160, 112, false},
        {"CUBIC", 161, 113, false},
        {"NEAREST", 96, 80, true, true},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        const std::string label = std::string(c.resampling) + " " + std::to_string(c.width);
        const std::string path = folder / (label + ".tif");
        ASSERT_TRUE(writeMap(path, c.width, c.height, c.resampling, c.statistics)) << label;
        std::string message;
        const std::unique_ptr<RasterSource> raster = openRaster(path, message);
        ASSERT_TRUE(raster) << message;
        bool decimates = !c.decimates;
        ASSERT_TRUE(overviewsDecimate(*raster, tileLevelsOf(raster->info(), QUADS), decimates, message)) << message;
        EXPECT_EQ(decimates, c.decimates) << label;
        // Opened twice: once measuring the bounds, once taking them from the cache.
        for (int opening = 0; opening < 2; ++opening) {
            const std::unique_ptr<TileSource> source =
                openTiles(path, ElevationOptions{false, false, 0.0}, folder / "cache", {}, message, QUADS);
            ASSERT_TRUE(source) << message;
            EXPECT_EQ(source->map().pyramid == "its own overviews", c.decimates) << label;
            ASSERT_TRUE(source->map().elevation);
            EXPECT_EQ(source->map().elevation->minimumMetres, c.statistics ? -7.0 : -500.0) << label;
            EXPECT_EQ(source->map().elevation->maximumMetres, c.statistics ? 11500.0 : 11000.0) << label;
        }
    }
}

TEST(TileSource, ARemoteMapWithoutOverviewsIsRefusedBeforeASampleIsRead) {
    // Its samples lie in a file that is not there: any read fails, with another reason.
    const std::string path = "/vsimem/kelta-unread/striped.vrt";
    const std::string vrt =
        "<VRTDataset rasterXSize=\"4000\" rasterYSize=\"4000\"><GeoTransform>0, 30, 0, 0, 0, -30</GeoTransform>"
        "<VRTRasterBand dataType=\"Float32\" band=\"1\"><SimpleSource><SourceFilename>/vsimem/kelta-unread/gone.tif"
        "</SourceFilename><SourceBand>1</SourceBand><SourceProperties RasterXSize=\"4000\" RasterYSize=\"4000\" "
        "DataType=\"Float32\" BlockXSize=\"4000\" BlockYSize=\"1\"/></SimpleSource></VRTRasterBand></VRTDataset>";
    VSIFCloseL(VSIFileFromMemBuffer(path.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(vrt.data())),
                                    vsi_l_offset(vrt.size()), FALSE));
    std::string message;
    EXPECT_FALSE(openTiles(path, ElevationOptions(), "", {}, message, QUADS));
    EXPECT_NE(message.find("make it a cloud-optimised GeoTIFF"), std::string::npos) << message;
    VSIUnlink(path.c_str());
}

TEST(TileSource, ElevationsBecomeMetresRaisedToTheSeaAndImageMapsTheirHeightsAsAMapReadWhole) {
    TempFolder folder;
    const int side = 40;
    std::vector<uint8_t> raw(size_t(side) * side * 2);
    for (size_t k = 0; k < raw.size() / 2; ++k) raw[2 * k + 1] = uint8_t(k / side);  // row r holds 256 * r
    struct Case {
        std::string label;
        std::string path;
        ElevationOptions options;
        // The tile's northern row is the map's first, its southern row the map's row QUADS.
        float northern, southern;
    };
    gdaltest::Raster feet;
    feet.width = feet.height = side;
    for (int row = 0; row < side; ++row) feet.values.insert(feet.values.end(), side, double(row) - 10.0);
    feet.geoTransform = {{0.0, 10.0, 0.0, 0.0, 0.0, -10.0}};
    feet.unit = "ft";
    feet.scaleAndOffset = std::make_pair(2.0, 100.0);
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(feet).get(), folder / "feet.tif"));
    // Image maps whose row r holds index r of a palette whose entry k is red 255 - k, and 1-bit
    // samples (rows from 8 on set), which the PNG reader spreads over 0..255.
    gdaltest::Raster indices;
    indices.width = indices.height = side;
    indices.type = GDT_Byte;
    for (int row = 0; row < side; ++row) indices.values.insert(indices.values.end(), side, double(row));
    {
        GdalDataset dataset = gdaltest::inMemory(indices);
        GDALColorTableH palette = GDALCreateColorTable(GPI_RGB);
        for (short k = 0; k < 256; ++k) {
            const GDALColorEntry entry{short(255 - k), 0, 0, 255};
            GDALSetColorEntry(palette, k, &entry);
        }
        GDALSetRasterColorTable(GDALGetRasterBand(dataset.get(), 1), palette);
        GDALDestroyColorTable(palette);
        ASSERT_TRUE(gdaltest::writeFile(dataset.get(), folder / "palette.tif"));
        ASSERT_TRUE(gdaltest::writeFile(dataset.get(), folder / "palette.png", "PNG"));
    }
    gdaltest::Raster bits = indices;
    for (double& value : bits.values) value = value >= 8 ? 1.0 : 0.0;
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(bits).get(), folder / "bits.tif", "GTiff", {"NBITS=1"}));
    const std::vector<Case> cases = {
        {"raw file, top row first", folder.write("map.r16", raw), ElevationOptions(), 0.0f, 256.0f * QUADS},
        {"palette", folder / "palette.tif", ElevationOptions(), 255.0f, 255.0f - QUADS},
        {"palette PNG, its samples copied into the pyramid", folder / "palette.png", ElevationOptions(), 255.0f,
         255.0f - QUADS},
        {"1-bit samples", folder / "bits.tif", ElevationOptions(), 0.0f, 255.0f},
        {"feet", folder / "feet.tif", ElevationOptions{false, false, 0.0}, 80 * 0.3048f, 112 * 0.3048f},
        {"feet above a sea", folder / "feet.tif", ElevationOptions{false, true, 30.0}, 30.0f, 112 * 0.3048f},
    };
    for (const Case& c : cases) {
        std::string message;
        const std::unique_ptr<TileSource> source = openTiles(c.path, c.options, folder / "cache", {}, message, QUADS);
        ASSERT_TRUE(source) << c.label << ": " << message;
        Tile tile;
        ASSERT_TRUE(source->readTile(TileKey{0, 0, 0}, tile, message)) << message;
        EXPECT_FLOAT_EQ(tile.samples[tileSampleIndex(QUADS, 3, QUADS)], c.northern) << c.label;
        EXPECT_FLOAT_EQ(tile.samples[tileSampleIndex(QUADS, 3, 0)], c.southern) << c.label;
    }
}

TEST(TileError, IsTheLargestDistanceBetweenTheLevelsTriangles) {
    std::mt19937 random(18);
    std::uniform_real_distribution<float> height(0.0f, 10.0f);
    // Tiles inside a level, and at its eastern and southern edges with the last sample at an even and
    // at an odd position; one with voids.
    const struct {
        TileLevel level;
        TileKey key;
        bool voids;
    } cases[] = {
        {{100, 100, 7, 7}, {0, 2, 3}, false}, {{41, 41, 3, 3}, {0, 2, 2}, false},
        {{40, 38, 3, 3}, {0, 2, 2}, false},   {{40, 39, 3, 3}, {0, 2, 0}, false},
        {{100, 100, 7, 7}, {0, 1, 1}, true},
    };
    bool diagonalsTold = false;
    for (const auto& c : cases) {
        Tile tile;
        tile.key = c.key;
        tile.samples.resize(size_t(tileSide(QUADS)) * size_t(tileSide(QUADS)));
        // Noise growing towards the south-east, where the level's edges cut tiles short, and repeated
        // beyond those edges as a read repeats it.
        const int east = std::min(QUADS + 1, c.level.width - 1 - c.key.column * QUADS);
        const int south = std::max(-1, QUADS - (c.level.height - 1 - c.key.row * QUADS));
        for (int t = QUADS + 1; t >= -1; --t) {
            for (int s = -1; s <= QUADS + 1; ++s) {
                float& sample = tile.samples[tileSampleIndex(QUADS, s, t)];
                if (s > east || t < south) {
                    sample = tile.samples[tileSampleIndex(QUADS, std::min(s, east), std::max(t, south))];
                } else {
                    const bool isVoid = c.voids && random() % 20 == 0;
                    sample = isVoid ? NAN : height(random) * float((s + 2) * (QUADS + 2 - t));
                }
            }
        }
        measureTile(tile, QUADS, c.level);
        const float bruteForce = bruteForceError(tile, c.level, false);
        const std::string label = std::to_string(c.level.width) + " x " + std::to_string(c.level.height) + " tile " +
                                  std::to_string(c.key.column) + "/" + std::to_string(c.key.row);
        if (c.voids) {
            EXPECT_GE(tile.error, bruteForce) << label;
        } else {
            EXPECT_NEAR(tile.error, bruteForce, 1e-3f) << label;
        }
        diagonalsTold = diagonalsTold || std::fabs(bruteForceError(tile, c.level, true) - bruteForce) > 1e-3f;
        float lowest = INFINITY, highest = -INFINITY;
        for (int t = 0; t <= QUADS; ++t) {
            for (int s = 0; s <= QUADS; ++s) {
                const float sample = tile.samples[tileSampleIndex(QUADS, s, t)];
                if (!std::isnan(sample)) lowest = std::min(lowest, sample), highest = std::max(highest, sample);
            }
        }
        EXPECT_EQ(tile.minimum, lowest) << label;
        EXPECT_EQ(tile.maximum, highest) << label;
    }
    EXPECT_TRUE(diagonalsTold) << "an error measured along the wrong diagonal would pass";
}

TEST(TileError, AgainstANextLevelOfItsOwnIsTheDistanceToItsSamples) {
    // A flat tile whose next level (an averaged overview, say) lies 5 higher: its even samples alone
    // would say the levels agree, and the tile would never be drawn at its own level.
    const TileLevel level{100, 100, 7, 7};
    const size_t side = size_t(tileSide(QUADS));
    for (const TileKey key : {TileKey{0, 2, 3}, TileKey{0, 3, 2}}) {
        Tile tile, parent;
        tile.key = key;
        tile.samples.assign(side * side, 0.0f);
        parent.key = TileKey{1, key.column / 2, key.row / 2};
        // 5 over the quarter that covers the tile, far off elsewhere.
        parent.samples.assign(side * side, 100.0f);
        const int parentS = key.column % 2 == 1 ? QUADS / 2 : 0, parentT = key.row % 2 == 0 ? QUADS / 2 : 0;
        for (int t = parentT; t <= parentT + QUADS / 2; ++t) {
            for (int s = parentS; s <= parentS + QUADS / 2; ++s) parent.samples[tileSampleIndex(QUADS, s, t)] = 5.0f;
        }
        measureTile(tile, QUADS, level, &parent);
        EXPECT_EQ(tile.error, 5.0f) << key.column << "/" << key.row;
        measureTile(tile, QUADS, level);
        EXPECT_EQ(tile.error, 0.0f);
    }
}

namespace {

// Tiles whose reads wait until the test lets them through, and fail for level 9.
class GatedSource final : public TileSource {
public:
    GatedSource() : TileSource(TileMap{QUADS, {TileLevel{17, 100 * QUADS + 1, 1, 100}}, std::nullopt, 65535, "test"}) {}

    void open() {
        const std::lock_guard<std::mutex> lock(guard);
        opened = true;
        changed.notify_all();
    }
    std::map<int, int> readsByRow() const {
        const std::lock_guard<std::mutex> lock(guard);
        return reads;
    }
    int started() const {
        const std::lock_guard<std::mutex> lock(guard);
        return startedReads;
    }

protected:
    bool readSamples(const TileKey& key, float* samples, uint64_t& bytes, std::string& message) const override {
        std::unique_lock<std::mutex> lock(guard);
        ++startedReads;
        changed.wait(lock, [this] { return opened; });
        ++reads[key.row];
        std::fill(samples, samples + tileSide(QUADS) * tileSide(QUADS), float(key.row));
        bytes = 1;
        message = "connection lost reading row " + std::to_string(key.row);
        return key.row < 90;
    }

private:
    mutable std::mutex guard;
    mutable std::condition_variable changed;
    bool opened = false;
    mutable int startedReads = 0;
    mutable std::map<int, int> reads;
};

std::vector<TileKey> rows(std::initializer_list<int> numbers) {
    std::vector<TileKey> keys;
    for (const int row : numbers) keys.push_back(TileKey{0, 0, row});
    return keys;
}

}  // namespace

TEST(TileLoader, DeliversEachWantedTileOnceWithoutWaitingForReads) {
    const auto shared = std::make_shared<GatedSource>();
    GatedSource& source = *shared;
    TileLoader loader(shared, 2);
    loader.request(rows({0, 1, 2, 3}));
    ASSERT_TRUE(eventually([&] { return source.started() == 2; }));
    std::vector<Tile> finished;
    loader.takeFinished(finished);  // both readers are held up: this must not wait for them
    EXPECT_TRUE(finished.empty());
    // Rows 2 and 3 are no longer wanted and not yet read; rows 0 and 1 are being read.
    loader.request(rows({0, 1, 4, 5, 5}));
    source.open();
    ASSERT_TRUE(eventually([&] {
        loader.takeFinished(finished);
        return finished.size() == 4;
    }));
    // Nothing is left to read: rows 2 and 3 were dropped before any reader reached them.
    EXPECT_EQ(source.started(), 4);
    loader.request(rows({0, 1, 4, 5}));  // taken, so wanted again: read again
    ASSERT_TRUE(eventually([&] {
        loader.takeFinished(finished);
        return finished.size() == 8;
    }));
    const std::map<int, int> expected = {{0, 2}, {1, 2}, {4, 2}, {5, 2}};
    EXPECT_EQ(source.readsByRow(), expected);
    EXPECT_EQ(source.tilesRead(), 8u);
}

TEST(TileLoader, TellsTheFirstFailureOnceAndRetriesOnlyAfterThePause) {
    for (const auto pause : {std::chrono::milliseconds(3600000), std::chrono::milliseconds(0)}) {
        const auto shared = std::make_shared<GatedSource>();
        GatedSource& source = *shared;
        source.open();
        // One reader, so that tiles are read in the order wanted.
        TileLoader loader(shared, 1, pause);
        loader.request(rows({90}));
        std::optional<std::string> failure;
        ASSERT_TRUE(eventually([&] { return (failure = loader.failure()).has_value(); }));
        EXPECT_EQ(*failure, "connection lost reading row 90");
        EXPECT_FALSE(loader.failure()) << "told twice";
        loader.request(rows({90, 1}));
        std::vector<Tile> finished;
        ASSERT_TRUE(eventually([&] {
            loader.takeFinished(finished);
            return finished.size() == 1;
        }));
        EXPECT_EQ(source.readsByRow().at(90), pause.count() == 0 ? 2 : 1) << pause.count() << " ms pause";
    }
}

// A map is released while a read is held up (a server that stalls): releasing must not wait for it,
// and the source must live until the read ends, then go.
TEST(TileLoader, ReleasedWithoutWaitingForAReadHeldUp) {
    auto shared = std::make_shared<GatedSource>();
    const std::weak_ptr<GatedSource> watched = shared;
    auto loader = std::make_unique<TileLoader>(shared, 1);
    loader->request(rows({0}));
    ASSERT_TRUE(eventually([&] { return shared->started() == 1; }));
    GatedSource& source = *shared;
    shared.reset();
    loader.reset();  // would hang here if it waited for the read
    EXPECT_FALSE(watched.expired()) << "the reader still reads from it";
    source.open();
    EXPECT_TRUE(eventually([&] { return watched.expired(); }));
}

// The shadows' work runs beside the tile readers: in order, below the frames' priority, and never
// holding up a map's release; what had not begun is dropped.
TEST(TileLoader, RunsBackgroundWorkInOrderBelowTheFramesPriorityAndDropsItWhenReleased) {
    auto shared = std::make_shared<GatedSource>();
    GatedSource& gate = *shared;
    auto loader = std::make_unique<TileLoader>(shared, 1);
    std::mutex guard;
    std::vector<std::string> ran;
    int priority = 0;
    const auto note = [&](const std::string& name) {
        const std::lock_guard<std::mutex> lock(guard);
        ran.push_back(name);
    };
    const auto ranSoFar = [&] {
        const std::lock_guard<std::mutex> lock(guard);
        return ran;
    };
    loader->runInBackground([&] {
        priority = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
        note("first");
    });
    loader->runInBackground([&] { note("second"); });
    ASSERT_TRUE(eventually([&] { return ranSoFar().size() == 2; }));
    EXPECT_EQ(ranSoFar(), (std::vector<std::string>{"first", "second"}));
    const int framesPriority = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    EXPECT_GE(priority, std::min(framesPriority + 1, 19));

    // Work held up (a read of heights from a server that stalls), and work behind it.
    std::atomic<bool> heldEnded{false};
    loader->runInBackground([&] {
        note("held");
        Tile tile;
        std::string message;
        gate.readTile(TileKey{0, 0, 0}, tile, message);
        heldEnded = true;
    });
    loader->runInBackground([&] { note("dropped"); });
    ASSERT_TRUE(eventually([&] { return ranSoFar().size() == 3; }));
    loader.reset();  // would hang here if it waited for the work under way
    gate.open();
    EXPECT_TRUE(eventually([&] { return heldEnded.load(); }));
    std::this_thread::yield();
    EXPECT_EQ(ranSoFar().back(), "held");
}
