// Tests of the drape: placing a picture over a map by its coordinates (reprojected or not) or by
// stretching it, choosing and stretching its bands, its coverage, and telling pictures from maps.
#include "io/BitmapWriter.h"
#include "io/Drape.h"
#include "io/HeightMap.h"
#include "tests/GdalTestRasters.h"
#include "tests/TempFolder.h"

#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string ELEVATION_DATA = std::string(KELTA_TEST_DATA_DIR) + "/elevation/";
const int LARGEST_SIDE = 4096;

RasterGrid olindaGrid() {
    HeightSamples map;
    std::string message;
    EXPECT_TRUE(loadHeightMap(ELEVATION_DATA + "olinda_dem_utm25s.tif", ElevationOptions(), map, message)) << message;
    return map.elevation ? map.elevation->grid : RasterGrid();
}

// Olinda's heights coloured by gdaldem color-relief, on the map's own grid.
std::string colourRelief(const TempFolder& folder) {
    std::ofstream(folder / "colours.txt") << "-1 20 20 160\n10 30 200 60\n40 210 200 50\n88 250 250 250\n";
    std::string message;
    GdalDataset map = openGdalDataset(ELEVATION_DATA + "olinda_dem_utm25s.tif", message);
    char* arguments[] = {const_cast<char*>("-of"), const_cast<char*>("GTiff"), nullptr};
    GDALDEMProcessingOptions* options = GDALDEMProcessingOptionsNew(arguments, nullptr);
    const std::string path = folder / "relief.tif";
    GdalDataset relief(GDALDEMProcessing(path.c_str(), map.get(), "color-relief", (folder / "colours.txt").c_str(),
                                         options, nullptr));
    GDALDEMProcessingOptionsFree(options);
    EXPECT_TRUE(relief);
    return path;
}

DrapeImage drape(const std::string& path, const RasterGrid& map, const std::vector<int>& bands = {},
                 int maxSide = LARGEST_SIDE) {
    DrapeImage image;
    std::string message;
    EXPECT_TRUE(loadDrape(path, map, bands, maxSide, image, message)) << path << ": " << message;
    EXPECT_EQ(image.rgba.size(), size_t(image.width) * image.height * 4) << path;
    return image;
}

const uint8_t* pixel(const DrapeImage& image, int column, int bottomFirstRow) {
    return &image.rgba[(size_t(bottomFirstRow) * image.width + column) * 4];
}

// The picture's pixels, top row first, as RGBA with alpha 255.
std::vector<uint8_t> readRgb(const std::string& path) {
    std::string message;
    GdalDataset picture = openGdalDataset(path, message);
    const int width = GDALGetRasterXSize(picture.get()), height = GDALGetRasterYSize(picture.get());
    std::vector<uint8_t> rgba(size_t(width) * height * 4, 255);
    int bands[] = {1, 2, 3};
    EXPECT_EQ(GDALDatasetRasterIO(picture.get(), GF_Read, 0, 0, width, height, rgba.data(), width, height, GDT_Byte,
                                  3, bands, 4, 4 * width, 1),
              CE_None);
    return rgba;
}

}  // namespace

TEST(Drape, PictureOnTheMapsGridColoursItSampleForSampleAndReprojectedLandsWithinAPixel) {
    const TempFolder folder;
    const std::string relief = colourRelief(folder);
    const RasterGrid map = olindaGrid();
    const DrapeImage aligned = drape(relief, map);
    ASSERT_EQ(aligned.width, 111);
    ASSERT_EQ(aligned.height, 111);
    const std::vector<uint8_t> picture = readRgb(relief);
    for (int row = 0; row < 111; ++row) {
        for (int column = 0; column < 111; ++column) {
            const uint8_t* expected = &picture[(size_t(110 - row) * 111 + column) * 4];
            ASSERT_TRUE(std::equal(expected, expected + 4, pixel(aligned, column, row)))
                << "column " << column << ", row " << row;
        }
    }

    std::string message;
    GdalDataset source = openGdalDataset(relief, message);
    char* arguments[] = {const_cast<char*>("-t_srs"), const_cast<char*>("EPSG:4326"), const_cast<char*>("-dstalpha"),
                         const_cast<char*>("-r"), const_cast<char*>("bilinear"), nullptr};
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(arguments, nullptr);
    const std::string geographic = folder / "geographic.tif";
    GDALDatasetH sources[] = {source.get()};
    GdalDataset warped(GDALWarp(geographic.c_str(), nullptr, 1, sources, options, nullptr));
    GDALWarpAppOptionsFree(options);
    ASSERT_TRUE(warped);
    warped.reset();

    const DrapeImage image = drape(geographic, map);
    EXPECT_NEAR(image.width, 111, 2);
    EXPECT_NEAR(image.height, 111, 2);
    size_t covered = 0;
    for (int row = 0; row < image.height; ++row) {
        for (int column = 0; column < image.width; ++column) {
            const uint8_t* colour = pixel(image, column, row);
            if (colour[3] != 255) continue;
            ++covered;
            // The same place in the aligned drape, and the pixels around it.
            const int x = column * aligned.width / image.width, y = row * aligned.height / image.height;
            for (int channel = 0; channel < 3; ++channel) {
                int lowest = 255, highest = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = std::clamp(x + dx, 0, aligned.width - 1);
                        const int ny = std::clamp(y + dy, 0, aligned.height - 1);
                        lowest = std::min<int>(lowest, pixel(aligned, nx, ny)[channel]);
                        highest = std::max<int>(highest, pixel(aligned, nx, ny)[channel]);
                    }
                }
                ASSERT_GE(colour[channel] + 2, lowest) << "column " << column << ", row " << row;
                ASSERT_LE(colour[channel], highest + 2) << "column " << column << ", row " << row;
            }
        }
    }
    EXPECT_GT(covered, size_t(image.width) * image.height * 95 / 100);
}

TEST(Drape, PicturesOffTheGroundAreStretchedOverTheWholeMap) {
    const TempFolder folder;
    // Four columns of two rows, top row first.
    const std::vector<double> red = {255, 0, 0, 10, 20, 30, 40, 50}, green = {0, 255, 0, 11, 21, 31, 41, 51},
                              blue = {0, 0, 255, 12, 22, 32, 42, 52};
    gdaltest::Raster rgb;
    rgb.width = 4;
    rgb.height = 2;
    rgb.bands = 3;
    rgb.type = GDT_Byte;
    rgb.values = red;
    rgb.values.insert(rgb.values.end(), green.begin(), green.end());
    rgb.values.insert(rgb.values.end(), blue.begin(), blue.end());
    rgb.colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(rgb).get(), folder / "plain.png", "PNG"));
    gdaltest::Raster placed = rgb;
    placed.geoTransform = {0.0, 1.0, 0.0, 0.0, 0.0, -1.0};
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(placed).get(), folder / "placed.tif"));

    struct Case {
        std::string label, file;
        RasterGrid map;
    };
    const std::vector<Case> cases = {
        {"plain picture over an image map", "plain.png", RasterGrid{100, 50, {}, ""}},
        {"plain picture over an elevation map", "plain.png", olindaGrid()},
        {"georeferenced picture over an image map", "placed.tif", RasterGrid{7, 900, {}, ""}},
    };
    for (const Case& c : cases) {
        const DrapeImage image = drape(folder / c.file, c.map);
        ASSERT_EQ(image.width, 4) << c.label;
        ASSERT_EQ(image.height, 2) << c.label;
        for (size_t k = 0; k < red.size(); ++k) {
            const uint8_t* colour = pixel(image, int(k % 4), int(1 - k / 4));
            const std::vector<int> expected = {int(red[k]), int(green[k]), int(blue[k]), 255};
            EXPECT_EQ(std::vector<int>(colour, colour + 4), expected) << c.label << ", pixel " << k;
        }
    }
    // At most maxSide a side, in proportion.
    const DrapeImage small = drape(folder / "plain.png", RasterGrid{100, 50, {}, ""}, {}, 2);
    EXPECT_EQ(small.width, 2);
    EXPECT_EQ(small.height, 1);
}

TEST(Drape, BandsAreChosenAndStretchedFromTheSecondToTheNinetyEighthPercentile) {
    const TempFolder folder;
    // One band of 0 to 99, with no data where 99 would be.
    gdaltest::Raster ramp;
    ramp.width = 10;
    ramp.height = 10;
    for (int k = 0; k < 100; ++k) ramp.values.push_back(k);
    ramp.values[99] = -1;
    ramp.noData = -1;
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(ramp).get(), folder / "ramp.tif"));
    const DrapeImage grey = drape(folder / "ramp.tif", RasterGrid{10, 10, {}, ""});
    // 99 values: the 2nd percentile is 2 and the 98th is 96.
    for (int k = 0; k < 99; ++k) {
        const uint8_t* colour = pixel(grey, k % 10, 9 - k / 10);
        const int expected = int(std::lround(std::clamp((k - 2) * 255.0 / 94.0, 0.0, 255.0)));
        EXPECT_EQ(std::vector<int>(colour, colour + 4), (std::vector<int>{expected, expected, expected, 255}))
            << "value " << k;
    }
    EXPECT_EQ(pixel(grey, 9, 0)[3], 0);

    const std::string landsat = ELEVATION_DATA + "L7_ETMs.tif";
    const RasterGrid map = olindaGrid();
    const DrapeImage trueColour = drape(landsat, map, {3, 2, 1}, 128);
    const DrapeImage swapped = drape(landsat, map, {1, 2, 3}, 128);
    EXPECT_EQ(trueColour.width, 128);
    EXPECT_EQ(trueColour.height, 128);
    ASSERT_EQ(trueColour.rgba.size(), swapped.rgba.size());
    size_t atEnds = 0;
    for (size_t at = 0; at < trueColour.rgba.size(); at += 4) {
        ASSERT_EQ(trueColour.rgba[at], swapped.rgba[at + 2]) << "pixel " << at / 4;
        ASSERT_EQ(trueColour.rgba[at + 2], swapped.rgba[at]) << "pixel " << at / 4;
        atEnds += trueColour.rgba[at] == 0 || trueColour.rgba[at] == 255;
    }
    // Stretched: a few percent of the pixels at each end, not a flat picture.
    EXPECT_GT(atEnds, trueColour.rgba.size() / 4 / 50);
    EXPECT_LT(atEnds, trueColour.rgba.size() / 4 / 4);

    struct Refusal {
        std::string file;
        std::vector<int> bands;
        std::string message;
    };
    const std::vector<Refusal> refusals = {
        {landsat, {3, 7, 1}, "Drape band 7 is not in the picture, which has 6 bands"},
        {landsat, {0, 2, 1}, "Drape band 0 is not in the picture, which has 6 bands"},
        {landsat, {3, 2}, "Drape bands must be three, for red, green and blue"},
        {folder / "ramp.tif", {1, 1, 2}, "Drape band 2 is not in the picture, which has 1 band"},
        {folder / "missing.tif", {}, "GDAL cannot read the drape picture: "},
    };
    for (const Refusal& refusal : refusals) {
        DrapeImage image;
        std::string message;
        EXPECT_FALSE(loadDrape(refusal.file, map, refusal.bands, LARGEST_SIDE, image, message)) << refusal.message;
        EXPECT_EQ(message.rfind(refusal.message, 0), 0u) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_TRUE(image.rgba.empty()) << refusal.message;
    }
}

TEST(Drape, WhereThePictureDoesNotReachItCoversNothing) {
    const TempFolder folder;
    const RasterGrid map = olindaGrid();
    // A grey picture over the western half of the map, at the map's resolution.
    gdaltest::Raster half;
    half.width = 55;
    half.height = 111;
    half.type = GDT_Byte;
    half.values.assign(55 * 111, 180.0);
    half.geoTransform = *map.geoTransform;
    half.coordinateSystem = map.coordinateSystemWkt;
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(half).get(), folder / "west.tif"));
    const DrapeImage image = drape(folder / "west.tif", map);
    ASSERT_EQ(image.width, 111);
    for (int row = 0; row < image.height; ++row) {
        for (int column = 0; column < image.width; ++column) {
            const uint8_t* colour = pixel(image, column, row);
            EXPECT_EQ(colour[3], column < 55 ? 255 : 0) << "column " << column << ", row " << row;
            if (column < 55) {
                EXPECT_EQ(colour[0], 180) << "column " << column << ", row " << row;
            }
        }
    }
}

TEST(Drape, PicturesDeclaredLargerThanTheDrapeAreReadAtItsSize) {
    const TempFolder folder;
    const RasterGrid map = olindaGrid();
    // Red, green / blue, white, over the map's extent when placed.
    gdaltest::Raster quarters;
    quarters.width = 2;
    quarters.height = 2;
    quarters.bands = 3;
    quarters.type = GDT_Byte;
    quarters.values = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255};
    quarters.colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(quarters).get(), folder / "plain.tif"));
    gdaltest::Raster placed = quarters;
    const std::array<double, 6>& m = *map.geoTransform;
    placed.geoTransform = {m[0], m[1] * map.width / 2.0, 0.0, m[3], 0.0, m[5] * map.height / 2.0};
    placed.coordinateSystem = map.coordinateSystemWkt;
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(placed).get(), folder / "placed.tif"));

    struct Case {
        std::string label, file;
        RasterGrid map;
    };
    const std::vector<Case> cases = {
        {"stretched over an image map", "plain", RasterGrid{100, 100, {}, ""}},
        {"placed by its coordinates", "placed", map},
    };
    for (const Case& c : cases) {
        // 30000 x 30000 pixels declared, as a VRT declares them: read whole, minutes and gigabytes.
        std::string message;
        GdalDataset small = openGdalDataset(folder / (c.file + ".tif"), message);
        char* arguments[] = {const_cast<char*>("-of"), const_cast<char*>("VRT"), const_cast<char*>("-outsize"),
                             const_cast<char*>("30000"), const_cast<char*>("30000"), nullptr};
        GDALTranslateOptions* options = GDALTranslateOptionsNew(arguments, nullptr);
        const std::string large = folder / (c.file + ".vrt");
        GdalDataset declared(GDALTranslate(large.c_str(), small.get(), options, nullptr));
        GDALTranslateOptionsFree(options);
        ASSERT_TRUE(declared) << c.label;
        declared.reset();

        const DrapeImage image = drape(large, c.map, {}, 16384);
        EXPECT_EQ(image.width, 4096) << c.label << ": 4096 x 4096 pixels at most, whatever the texture allows";
        ASSERT_EQ(image.height, 4096) << c.label;
        const std::vector<std::vector<int>> expected = {{0, 0, 255, 255}, {255, 255, 255, 255}, {255, 0, 0, 255},
                                                        {0, 255, 0, 255}};
        for (int k = 0; k < 4; ++k) {
            const uint8_t* colour = pixel(image, 1024 + k % 2 * 2048, 1024 + k / 2 * 2048);
            EXPECT_EQ(std::vector<int>(colour, colour + 4), expected[k]) << c.label << ", quarter " << k;
        }
    }
}

TEST(Drape, PicturesOffTheMapLeaveItUndrapedAndSaySoInOneLine) {
    const RasterGrid map = olindaGrid();
    RasterGrid withoutSystem = map;
    withoutSystem.coordinateSystemWkt.clear();
    const std::array<double, 6>& m = *map.geoTransform;
    // Olinda's extent in degrees, and 100 km east of it in its own metres.
    const std::array<double, 6> degrees{-34.9, 0.001, 0.0, -7.99, 0.0, -0.001};
    std::array<double, 6> east = m;
    east[0] += 100000.0;
    struct Case {
        std::string label;
        std::array<double, 6> transform;
        std::string system;
        RasterGrid map;
        std::string notice;  // empty: laid over the map
    };
    const std::vector<Case> cases = {
        {"degrees over a map without a coordinate system", degrees, "EPSG:4326", withoutSystem,
         "Drape picture cannot be placed on the map: the picture has a coordinate system and the map has none, and "
         "read as the same coordinates they do not overlap"},
        {"degrees without a coordinate system over a map with one", degrees, "", map,
         "Drape picture cannot be placed on the map: the map has a coordinate system and the picture has none, and "
         "read as the same coordinates they do not overlap"},
        {"east of the map in its coordinate system", east, map.coordinateSystemWkt, map,
         "Drape picture does not overlap the map"},
        {"in Europe, reprojected", {5.0, 0.001, 0.0, 50.0, 0.0, -0.001}, "EPSG:4326", map,
         "Drape picture does not overlap the map"},
        {"the map's own coordinates without a coordinate system", m, "", map, ""},
        {"the map's own coordinates over a map without a coordinate system", m, map.coordinateSystemWkt,
         withoutSystem, ""},
    };
    for (const Case& c : cases) {
        gdaltest::Raster grey;
        grey.width = 111;
        grey.height = 111;
        grey.type = GDT_Byte;
        grey.values.assign(111 * 111, 100.0);
        grey.geoTransform = c.transform;
        grey.coordinateSystem = c.system;
        GdalDataset picture = gdaltest::inMemory(grey);
        ASSERT_TRUE(picture) << c.label;
        DrapeImage image;
        std::string message;
        EXPECT_TRUE(drapeFromDataset(picture.get(), c.map, {}, LARGEST_SIDE, image, message)) << c.label;
        EXPECT_EQ(message, c.notice) << c.label;
        if (c.notice.empty()) {
            EXPECT_EQ(image.width, 111) << c.label;
            EXPECT_EQ(pixel(image, 50, 50)[3], 255) << c.label;
        } else {
            EXPECT_TRUE(image.rgba.empty()) << c.label;
        }
    }
}

// A dropped file is a picture to drape or a map to draw: the faults are a height map taken for a
// picture (the default map's grey-palette BMP, a raw map whose bytes GDAL also reads) or a picture
// taken for a map (its palette or bands overlooked).
TEST(Drape, FilesAreTakenForPicturesByTheirBandsAndColouredPalettes) {
    TempFolder folder;
    const auto withPalette = [](bool coloured) {
        gdaltest::Raster indices;
        indices.width = indices.height = 2;
        indices.type = GDT_Byte;
        indices.values = {0, 1, 1, 0};
        GdalDataset raster = gdaltest::inMemory(indices);
        GDALColorTableH palette = GDALCreateColorTable(GPI_RGB);
        for (short k = 0; k < 2; ++k) {
            const GDALColorEntry entry{short(k * 200), short(coloured ? 40 : k * 200), short(k * 200), 255};
            GDALSetColorEntry(palette, k, &entry);
        }
        GDALSetRasterColorTable(GDALGetRasterBand(raster.get(), 1), palette);
        GDALDestroyColorTable(palette);
        return raster;
    };
    const auto bands = [](int count, GDALDataType type) {
        gdaltest::Raster raster;
        raster.width = raster.height = 2;
        raster.bands = count;
        raster.type = type;
        return gdaltest::inMemory(raster);
    };
    const std::vector<uint8_t> grey(16, 90);
    const std::string colourTiff = folder / "colour.tif";
    ASSERT_TRUE(gdaltest::writeFile(bands(3, GDT_Byte).get(), colourTiff));
    std::ifstream colourBytes(colourTiff, std::ios::binary);
    const std::vector<uint8_t> tiffBytes{std::istreambuf_iterator<char>(colourBytes), std::istreambuf_iterator<char>()};
    struct Case {
        const char* label;
        std::string path;
        bool isPicture;
    };
    const auto written = [&](const std::string& name, GdalDataset raster) {
        EXPECT_TRUE(gdaltest::writeFile(raster.get(), folder / name)) << name;
        return folder / name;
    };
    const std::vector<Case> cases = {
        {"an elevation map's one band of metres", written("metres.tif", bands(1, GDT_Float32)), false},
        {"grey with alpha", written("grey-alpha.tif", bands(2, GDT_Byte)), false},
        {"red, green and blue", colourTiff, true},
        {"red, green, blue and alpha", written("rgba.tif", bands(4, GDT_Byte)), true},
        {"a grey palette", written("grey-palette.tif", withPalette(false)), false},
        {"a coloured palette", written("coloured-palette.tif", withPalette(true)), true},
        {"an 8-bit BMP height map", folder.write("map.bmp", encodeGreyBitmap8(4, 4, grey.data())), false},
        {"a raw map holding a colour TIFF's bytes", folder.write("map.r16", tiffBytes), false},
        {"text", folder.write("notes.txt", {'n', 'o', '\n'}), false},
        {"nothing", folder / "missing.tif", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isDrapePicture(c.path), c.isPicture) << c.label;
}
