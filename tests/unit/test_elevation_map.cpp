// Tests of elevation maps and other rasters read through GDAL: ground spacing, units of height,
// sea level, quantisation, voids, orientation, and the height-map dispatch to GDAL with its messages.
#include "io/ElevationMap.h"
#include "io/GdalRaster.h"
#include "io/HeightMap.h"
#include "io/TileSource.h"
#include "io/VoidFill.h"
#include "tests/GdalTestRasters.h"
#include "tests/TempFolder.h"
#include "tests/fuzz/FuzzedRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
const double INFINITE = std::numeric_limits<double>::infinity();
// One arc-second pixels around 45 degrees north.
const double ARC_SECOND = 1.0 / 3600.0;
const std::array<double, 6> AT_45_NORTH = {6.0, ARC_SECOND, 0.0, 45.0 + 2 * ARC_SECOND, 0.0, -ARC_SECOND};
const std::array<double, 6> THIRTY_METRES = {500000.0, 30.0, 0.0, 5000000.0, 0.0, -30.0};

struct Loaded {
    bool ok = false;
    HeightSamples map;
    std::string message;
};

Loaded convert(const gdaltest::Raster& raster, const ElevationOptions& options = ElevationOptions()) {
    Loaded loaded;
    GdalDataset dataset = gdaltest::inMemory(raster);
    EXPECT_TRUE(dataset);
    if (!dataset) return loaded;
    const GdalRaster source(std::move(dataset));
    loaded.ok = heightSamplesFromRaster(source, options, loaded.map, loaded.message);
    return loaded;
}

gdaltest::Raster elevationRaster(int width, int height, std::vector<double> values,
                                 std::array<double, 6> geoTransform = THIRTY_METRES) {
    gdaltest::Raster raster;
    raster.width = width;
    raster.height = height;
    raster.type = GDT_Float64;
    raster.values = std::move(values);
    raster.geoTransform = geoTransform;
    return raster;
}

}  // namespace

TEST(ElevationMap, SpacingIsTheGroundDistanceBetweenSamples) {
    const double usFoot = 1200.0 / 3937.0;
    struct Case {
        std::string label;
        std::array<double, 6> geoTransform;
        std::string coordinateSystem;
        double columnMetres, rowMetres;
    };
    // A degree at 45 degrees on WGS 84 spans 78846.81 m along the parallel and 111131.75 m along the
    // meridian (the usual series for the lengths of a degree).
    const std::vector<Case> cases = {
        {"arc-seconds at 45 N", AT_45_NORTH, "EPSG:4326", 78846.81 / 3600, 111131.75 / 3600},
        {"arc-seconds at 45 S", {6.0, ARC_SECOND, 0.0, -45.0 + 2 * ARC_SECOND, 0.0, -ARC_SECOND}, "EPSG:4326",
         78846.81 / 3600, 111131.75 / 3600},
        {"UTM metres", THIRTY_METRES, "EPSG:32632", 30.0, 30.0},
        {"US survey feet", {6000000.0, 100.0, 0.0, 2000000.0, 0.0, -100.0}, "EPSG:2227", 100 * usFoot, 100 * usFoot},
        {"no coordinate system: metres", {0.0, 2.5, 0.0, 0.0, 0.0, -4.0}, "", 2.5, 4.0},
        {"rotated and sheared", {0.0, 3.0, -8.0, 0.0, 4.0, 6.0}, "EPSG:32632", 5.0, 10.0},
    };
    for (const Case& c : cases) {
        gdaltest::Raster raster = elevationRaster(4, 4, {}, c.geoTransform);
        raster.coordinateSystem = c.coordinateSystem;
        // Rotated maps are refused (MapsNoTerrainHasAreRefused), so the spacing is asked of the grid.
        const GdalRaster source(gdaltest::inMemory(raster));
        double columnMetres = 0.0, rowMetres = 0.0;
        ASSERT_TRUE(groundSpacing(source.info().grid, source.info().units, columnMetres, rowMetres)) << c.label;
        EXPECT_NEAR(columnMetres, c.columnMetres, c.columnMetres * 1e-5) << c.label;
        EXPECT_NEAR(rowMetres, c.rowMetres, c.rowMetres * 1e-5) << c.label;
    }
    const Loaded read = convert(elevationRaster(4, 4, {}, THIRTY_METRES));
    ASSERT_TRUE(read.ok && read.map.elevation) << read.message;
    EXPECT_EQ(read.map.elevation->columnMetres, 30.0);
    const Loaded flat = convert(elevationRaster(4, 4, {}, {0.0, 0.0, 0.0, 0.0, 0.0, -30.0}));
    EXPECT_FALSE(flat.ok);
    EXPECT_EQ(flat.message, "Elevation map's geotransform gives its samples no usable spacing (0 x 30 m apart)");
}

TEST(ElevationMap, MapsNoTerrainHasAreRefusedWholeAndInTiles) {
    struct Case {
        std::string label;
        gdaltest::Raster raster;
        std::string message;  // empty: drawn
    };
    const auto withNoData = [](gdaltest::Raster raster, double noData) {
        raster.noData = noData;
        return raster;
    };
    gdaltest::Raster offTheGround = elevationRaster(1, 5, {});
    offTheGround.geoTransform.reset();
    const std::vector<Case> cases = {
        {"heights above 12,000 m", elevationRaster(2, 2, {0.0, 1e30, 0.0, 0.0}),
         "Elevation map's heights run from 0 to 1e+30 m: no terrain lies beyond +-12,000 m"},
        {"heights below -12,000 m", elevationRaster(2, 2, {-12000.5, 0.0, 0.0, 0.0}),
         "Elevation map's heights run from -12000.5 to 0 m: no terrain lies beyond +-12,000 m"},
        {"heights of 12,000 m either way", elevationRaster(2, 2, {-12000.0, 12000.0, 0.0, 0.0}), ""},
        {"a no-data value beyond the heights", withNoData(elevationRaster(2, 2, {1e300, 5.0, 0.0, 0.0}), 1e300), ""},
        {"samples a billionth of a nanometre apart", elevationRaster(2, 2, {}, {0.0, 1e-30, 0.0, 0.0, 0.0, -1e-30}),
         "Elevation map's samples lie 1e-30 x 1e-30 m apart: a terrain's lie at least a millimetre apart"},
        {"samples a millimetre apart", elevationRaster(2, 2, {}, {0.0, 0.001, 0.0, 0.0, 0.0, -0.001}), ""},
        {"one column", elevationRaster(1, 5, {}),
         "Elevation map is 1 x 5 samples: a terrain needs at least 2 either way"},
        {"one row", elevationRaster(5, 1, {}), "Elevation map is 5 x 1 samples: a terrain needs at least 2 either way"},
        {"one column off the ground, an image map", offTheGround, ""},
        {"a rotated grid", elevationRaster(2, 2, {}, {0.0, 30.0, 1.5, 0.0, 0.0, -30.0}),
         "Elevation map's grid is rotated (its geotransform's rotation terms are 1.5 and 0): warp it north-up "
         "first, e.g. with gdalwarp"},
    };
    const TempFolder folder;
    for (const Case& c : cases) {
        const Loaded loaded = convert(c.raster);
        EXPECT_EQ(loaded.ok, c.message.empty()) << c.label << ": " << loaded.message;
        EXPECT_EQ(loaded.ok ? "" : loaded.message, c.message) << c.label;
        const std::string path = folder / "map.tif";
        ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(c.raster).get(), path)) << c.label;
        std::string message;
        const TileSourceFacts facts{"the map itself", "", true, std::nullopt};
        std::unique_ptr<RasterSource> raster = openRaster(path, message);
        const bool opened = raster && openGdalTileSource(std::move(raster), path, ElevationOptions(), facts, message);
        EXPECT_EQ(opened ? "" : message, c.message) << c.label << ", in tiles";
    }
}

TEST(ElevationMap, HeightsAreMetresWhateverTheBandsUnit) {
    struct Case {
        std::string unit;
        std::optional<std::pair<double, double>> scaleAndOffset;
        double highestMetres;  // of a stored 1000 above a stored 0
        double lowestMetres;
    };
    const std::vector<Case> cases = {
        {"", {}, 1000.0, 0.0},
        {"metre", {}, 1000.0, 0.0},
        {"ft", {}, 304.8, 0.0},
        {"US survey foot", {}, 1000.0 * 1200.0 / 3937.0, 0.0},
        {"furlong", {}, 1000.0, 0.0},  // unknown: metres
        {"m", std::pair<double, double>{0.1, 100.0}, 200.0, 100.0},
        {"ft", std::pair<double, double>{2.0, 10.0}, 2010 * 0.3048, 10 * 0.3048},
    };
    for (const Case& c : cases) {
        gdaltest::Raster raster = elevationRaster(2, 2, {0.0, 1000.0, 0.0, 1000.0});
        raster.unit = c.unit;
        raster.scaleAndOffset = c.scaleAndOffset;
        const Loaded loaded = convert(raster);
        ASSERT_TRUE(loaded.ok && loaded.map.elevation) << c.unit << ": " << loaded.message;
        const Elevation& elevation = *loaded.map.elevation;
        EXPECT_NEAR(elevation.minimumMetres, c.lowestMetres, 1e-9) << c.unit;
        EXPECT_NEAR(elevation.maximumMetres, c.highestMetres, 1e-9) << c.unit;
        EXPECT_NEAR(elevation.lowestMetres + 65535 * elevation.metresPerValue, c.highestMetres, 1e-9) << c.unit;
        EXPECT_EQ(elevation.description.find("furlong (not a unit KELTA knows") != std::string::npos,
                  c.unit == "furlong")
            << elevation.description;
    }
}

TEST(ElevationMap, SeaLevelRaisesTheSeaFloorToSampleZeroAndSamplesComeBottomRowFirst) {
    // Top row first, as in the file: the northern edge.
    const std::vector<double> heights = {-10.0, -0.5, 0.0, 0.4, 100.0, 250.3};
    struct Case {
        std::string label;
        ElevationOptions options;
        double lowestMetres;
    };
    const std::vector<Case> cases = {
        {"sea at 0 m", {false, true, 0.0}, 0.0},
        {"sea at 50 m", {false, true, 50.0}, 50.0},
        {"no sea", {false, false, 0.0}, -10.0},
        {"sea below the lowest ground", {false, true, -100.0}, -10.0},
    };
    for (const Case& c : cases) {
        const Loaded loaded = convert(elevationRaster(3, 2, heights), c.options);
        ASSERT_TRUE(loaded.ok && loaded.map.elevation) << c.label << ": " << loaded.message;
        const Elevation& elevation = *loaded.map.elevation;
        EXPECT_EQ(elevation.lowestMetres, c.lowestMetres) << c.label;
        EXPECT_EQ(elevation.minimumMetres, -10.0) << c.label;
        EXPECT_EQ(elevation.maximumMetres, 250.3) << c.label;
        EXPECT_EQ(loaded.map.largestValue, 65535) << c.label;
        EXPECT_TRUE(loaded.map.voids.empty()) << c.label;
        for (size_t k = 0; k < heights.size(); ++k) {
            // The file's first row is the map's last.
            const size_t row = k / 3, column = k % 3;
            const uint16_t sample = loaded.map.samples[(1 - row) * 3 + column];
            const double expected = std::max(heights[k], c.lowestMetres);
            if (expected == c.lowestMetres) {
                EXPECT_EQ(sample, 0) << c.label << ", height " << heights[k];
            }
            EXPECT_LE(std::abs(elevation.lowestMetres + sample * elevation.metresPerValue - expected),
                      elevation.metresPerValue / 2 * (1 + 1e-9))
                << c.label << ", height " << heights[k];
        }
        EXPECT_EQ(loaded.map.samples[2], 65535) << c.label;
    }
}

TEST(ElevationMap, VoidsAreCountedFilledAndMarkedUnlessFillingWasAsked) {
    // A slope rising 10 m a column, with no data in the middle of it.
    const int width = 7, height = 5;
    const double noData = -9999.0;
    std::vector<double> heights;
    std::vector<bool> isVoid;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const bool hole = row >= 1 && row <= 3 && column >= 2 && column <= 4;
            const double holeValues[] = {noData, NOT_A_NUMBER, INFINITE, -INFINITE};
            heights.push_back(hole ? holeValues[(row * width + column) % 4] : 100.0 + 10.0 * column);
            isVoid.push_back(hole);
        }
    }
    for (const bool withGeoTransform : {true, false}) {
        for (const bool fill : {false, true}) {
            gdaltest::Raster raster = elevationRaster(width, height, heights);
            if (!withGeoTransform) raster.geoTransform.reset();
            raster.noData = noData;
            const std::string label = std::string(withGeoTransform ? "elevation map" : "raster off the ground") +
                                      (fill ? ", filled" : ", marked");
            const Loaded loaded = convert(raster, {fill, true, 0.0});
            ASSERT_TRUE(loaded.ok) << label << ": " << loaded.message;
            const HeightSamples& map = loaded.map;
            if (withGeoTransform) {
                EXPECT_EQ(map.elevation->voidCount, 9u) << label;
            }
            EXPECT_EQ(map.voids.empty(), fill) << label;
            for (size_t k = 0; k < heights.size(); ++k) {
                const size_t at = (height - 1 - k / width) * width + k % width;
                if (!fill) {
                    EXPECT_EQ(map.voids[at], isVoid[k] ? 1 : 0) << label << ", sample " << k;
                }
                // Filled from the slope around it: between its lowest and highest neighbours.
                const uint16_t left = map.samples[(at / width) * width + 1];
                const uint16_t right = map.samples[(at / width) * width + 5];
                if (isVoid[k]) {
                    EXPECT_GE(map.samples[at], left) << label << ", sample " << k;
                    EXPECT_LE(map.samples[at], right) << label << ", sample " << k;
                }
            }
        }
    }
    gdaltest::Raster empty = elevationRaster(2, 2, {noData, NOT_A_NUMBER, INFINITE, noData});
    empty.noData = noData;
    const Loaded refused = convert(empty);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message,
              "Map holds no data: all of its 4 samples are voids (its no-data value, NaN or an infinity)");
}

TEST(ElevationMap, RastersOffTheGroundAreImageMapsOfTheirValues) {
    struct Case {
        GDALDataType type;
        std::vector<double> values;
        uint16_t largestValue;
        std::vector<uint16_t> samples;  // bottom row first
    };
    const std::vector<Case> cases = {
        {GDT_Byte, {0, 17, 200, 255}, 255, {200, 255, 0, 17}},
        {GDT_UInt16, {0, 17, 40000, 65535}, 65535, {40000, 65535, 0, 17}},
        {GDT_UInt16, {5, 6, 7, 8}, 65535, {7, 8, 5, 6}},
        {GDT_Int16, {-100, 0, 100, 300}, 65535, {32768, 65535, 0, 16384}},
        {GDT_Float32, {-0.5, 0.0, 0.5, 1.5}, 65535, {32768, 65535, 0, 16384}},
    };
    for (const Case& c : cases) {
        gdaltest::Raster raster;
        raster.width = 2;
        raster.height = 2;
        raster.type = c.type;
        raster.values = c.values;
        const Loaded loaded = convert(raster);
        ASSERT_TRUE(loaded.ok) << GDALGetDataTypeName(c.type) << ": " << loaded.message;
        EXPECT_FALSE(loaded.map.elevation) << GDALGetDataTypeName(c.type);
        EXPECT_EQ(loaded.map.largestValue, c.largestValue) << GDALGetDataTypeName(c.type);
        EXPECT_EQ(loaded.map.samples, c.samples) << GDALGetDataTypeName(c.type);
    }
}

TEST(ElevationMap, FuzzerFindingsHold) {
    // run_fuzz.sh keeps each input that broke the elevation conversion or the drape here.
    const fs::path folder = fs::path(KELTA_TEST_DATA_DIR) / "elevation-regressions";
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        std::ifstream stream(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        EXPECT_EQ(fuzzraster::check(bytes.data(), bytes.size()), "") << entry.path();
    }
}

TEST(VoidFill, EveryHoleTakesValuesFromItsSurroundings) {
    struct Case {
        std::string label;
        int width, height;
        std::vector<std::pair<int, uint16_t>> known;  // index, value; every other sample is a hole
    };
    const std::vector<Case> cases = {
        {"one sample known", 9, 5, {{22, 1234}}},
        {"two corners", 16, 16, {{0, 1000}, {255, 3000}}},
        {"one row", 1, 7, {{6, 9}}},
        {"a side of 1 and a hole at each end", 5, 1, {{2, 70}}},
    };
    for (const Case& c : cases) {
        std::vector<uint16_t> samples(size_t(c.width) * c.height, 0);
        std::vector<uint8_t> voids(samples.size(), 1);
        uint16_t lowest = 65535, highest = 0;
        for (const auto& [at, value] : c.known) {
            samples[at] = value;
            voids[at] = 0;
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
        std::string message;
        ASSERT_TRUE(fillVoids(c.width, c.height, voids, samples, message)) << c.label;
        for (const auto& [at, value] : c.known) EXPECT_EQ(samples[at], value) << c.label;
        for (size_t k = 0; k < samples.size(); ++k) {
            EXPECT_GE(samples[k], lowest) << c.label << ", sample " << k;
            EXPECT_LE(samples[k], highest) << c.label << ", sample " << k;
        }
    }
}

TEST(HeightMapDispatch, EveryRasterGdalReadsLoadsAsItsSizeSays) {
    const TempFolder folder;
    gdaltest::Raster raster = elevationRaster(40, 30, {});
    for (int k = 0; k < 40 * 30; ++k) raster.values.push_back(k % 40 + k / 40 * 3.5);
    raster.coordinateSystem = "EPSG:32632";
    raster.type = GDT_Int16;
    const GdalDataset source = gdaltest::inMemory(raster);
    ASSERT_TRUE(source);
    const std::string gtiff = folder / "striped.tif";
    ASSERT_TRUE(gdaltest::writeFile(source.get(), gtiff));
    ASSERT_TRUE(gdaltest::writeFile(source.get(), folder / "tiled.tif", "GTiff",
                                    {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE"}));
    ASSERT_TRUE(gdaltest::writeFile(source.get(), folder / "cloud.tif", "COG", {"COMPRESS=LZW"}));
    ASSERT_TRUE(gdaltest::writeFile(source.get(), folder / "grid.asc", "AAIGrid"));
    // A path in one of GDAL's virtual file systems, as a map on a web server has (/vsicurl/http://...).
    const std::string virtualPath = "/vsimem/kelta-dispatch/cloud.tif";
    ASSERT_TRUE(gdaltest::writeFile(source.get(), virtualPath, "COG"));

    HeightSamples reference;
    std::string message;
    ASSERT_TRUE(loadHeightMap(gtiff, ElevationOptions(), reference, message)) << message;
    for (const std::string& name : {folder / "tiled.tif", folder / "cloud.tif", folder / "grid.asc", virtualPath}) {
        HeightSamples map;
        ASSERT_TRUE(loadHeightMap(name, ElevationOptions(), map, message)) << name << ": " << message;
        int width = 0, height = 0;
        EXPECT_TRUE(readHeightMapSize(name, width, height, message)) << name << ": " << message;
        EXPECT_EQ(width, 40) << name;
        EXPECT_EQ(height, 30) << name;
        EXPECT_EQ(map.samples, reference.samples) << name;
        ASSERT_TRUE(map.elevation) << name;
        EXPECT_EQ(map.elevation->columnMetres, 30.0) << name;
    }
    VSIUnlink(virtualPath.c_str());
}

TEST(HeightMapDispatch, FilesGdalCannotReadEndInOneLineWithGdalsReason) {
    // A file cut short is tried through kelta (test_height_map_formats.py); these two differ in
    // whether the size can still be read from the header.
    const TempFolder folder;
    std::ofstream(folder / "notes.txt") << "a height map\n";
    std::ofstream(folder / "wide.vrt") << "<VRTDataset rasterXSize=\"40000\" rasterYSize=\"10\"><VRTRasterBand "
                                          "dataType=\"Byte\" band=\"1\"/></VRTDataset>";
    const std::string notKelta =
        "File is not a height map KELTA reads (a BMP, a PNG, raw 16-bit samples in a file named .r16 or .raw, "
        "or an elevation map GDAL reads); GDAL says: ";
    struct Case {
        std::string name;
        bool sizeRead;
        std::string message;  // its beginning, then GDAL's reason
    };
    const std::vector<Case> cases = {
        {"notes.txt", false, notKelta + "`" + (folder / "notes.txt") + "' not recognized as a supported file format."},
        {"wide.vrt", true, "Image is larger than 32768 pixels on a side"},
    };
    for (const Case& c : cases) {
        HeightSamples map;
        std::string message;
        EXPECT_FALSE(loadHeightMap(folder / c.name, ElevationOptions(), map, message)) << c.name;
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.name << ": " << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << c.name;
        EXPECT_TRUE(map.samples.empty()) << c.name;
        int width = 0, height = 0;
        std::string sizeMessage;
        EXPECT_EQ(readHeightMapSize(folder / c.name, width, height, sizeMessage), c.sizeRead) << c.name;
        if (!c.sizeRead) {
            EXPECT_EQ(sizeMessage, message) << c.name;
        }
    }
}
