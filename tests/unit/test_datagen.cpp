// Tests of the generated data set: byte-identical output, files the program's own reader accepts,
// seamless materials, the lake landscape's proportions, the normal map's code and the sky disc.
#include "io/Bitmap.h"
#include "tools/datagen/DataGen.h"
#include "tools/datagen/Noise.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace datagen;

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t fnv1a(const Bytes& bytes, uint64_t hash = 1469598103934665603ull) {
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string makeTempDir(const char* name) {
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Mean absolute difference between neighbouring columns (and rows) across the wrap-around edge,
// last to first, and the largest such difference among the columns (rows) of a band along that
// edge: a seam is a jump that stands out from its surroundings.
struct EdgeJumps {
    double columnWrap = 0.0, columnNear = 0.0;
    double rowWrap = 0.0, rowNear = 0.0;
};

EdgeJumps edgeJumps(const RgbImage& image, int band = 8) {
    const int w = image.width, h = image.height;
    auto at = [&](int x, int y, int c) { return static_cast<int>(image.pixels[(static_cast<size_t>(y) * w + x) * 3 + c]); };
    auto columnJump = [&](int x) {  // x to x + 1, wrapping
        double sum = 0.0;
        for (int y = 0; y < h; ++y)
            for (int c = 0; c < 3; ++c) sum += std::abs(at((x + 1) % w, y, c) - at(x, y, c));
        return sum / (h * 3);
    };
    auto rowJump = [&](int y) {
        double sum = 0.0;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(at(x, (y + 1) % h, c) - at(x, y, c));
        return sum / (w * 3);
    };
    EdgeJumps jumps;
    jumps.columnWrap = columnJump(w - 1);
    jumps.rowWrap = rowJump(h - 1);
    for (int k = 0; k < band; ++k) {
        jumps.columnNear = std::max({jumps.columnNear, columnJump(k), columnJump(w - 2 - k)});
        jumps.rowNear = std::max({jumps.rowNear, rowJump(k), rowJump(h - 2 - k)});
    }
    return jumps;
}

// The default data set, written once for all the tests that read it.
class DataSetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new std::string(makeTempDir("kelta-datagen"));
        ASSERT_FALSE(folder->empty());
        DataSetOptions options;
        options.outputDir = *folder;
        std::string error;
        ASSERT_TRUE(writeDataSet(options, error)) << error;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(*folder, ignored);
        delete folder;
        folder = nullptr;
    }
    static fs::path file(const std::string& relative) { return fs::path(*folder) / relative; }
    static std::string* folder;
};
std::string* DataSetTest::folder = nullptr;

TEST_F(DataSetTest, RunsAreByteIdentical) {
    const std::string second = makeTempDir("kelta-datagen-again");
    DataSetOptions options;
    options.outputDir = second;
    std::string error;
    ASSERT_TRUE(writeDataSet(options, error)) << error;
    const std::vector<std::string> files = dataSetFiles(options);
    ASSERT_EQ(files.size(), 11u);
    uint64_t whole = 1469598103934665603ull;
    for (const std::string& relative : files) {
        const Bytes first = readFile(file(relative));
        ASSERT_FALSE(first.empty()) << relative;
        EXPECT_EQ(fnv1a(first), fnv1a(readFile(fs::path(second) / relative))) << relative;
        whole = fnv1a(first, whole);
    }
    fs::remove_all(second);
    // The same bytes on every machine and compiler. The value changes whenever the pictures are
    // changed on purpose; then it is updated here together with the generator.
    EXPECT_EQ(whole, 0x3687c4e6e69d0f50ull) << std::hex << "data set hash 0x" << whole;
}

TEST_F(DataSetTest, EveryFileLoadsThroughBitmapWithTheWrittenPixels) {
    struct Expected {
        std::string file;
        int size;
        int bits;
    };
    std::vector<Expected> expected{{"Maps/Lake_512.bmp", 512, 8}, {"Textures/Skydome.bmp", SKY_SIZE, 24}};
    for (int k = 0; k < MATERIAL_COUNT; ++k)
        expected.push_back({std::string("Textures/") + materialName(static_cast<Material>(k)) + ".bmp", MATERIAL_SIZE, 24});
    for (const Expected& e : expected) {
        Bitmap bitmap;
        ASSERT_TRUE(bitmap.load(file(e.file).c_str())) << e.file << ": " << bitmap.message;
        EXPECT_EQ(bitmap.width, e.size) << e.file;
        EXPECT_EQ(bitmap.height, e.size) << e.file;
        EXPECT_EQ(bitmap.bitsPerPixel, e.bits) << e.file;
        const Bytes bytes = readFile(file(e.file));
        // 40-byte info header, and nothing in the file beyond headers, palette and padded rows.
        EXPECT_EQ(bytes[14], 40) << e.file;
        const size_t row = (static_cast<size_t>(e.size) * e.bits / 8 + 3) / 4 * 4;
        EXPECT_EQ(bytes.size(), 54u + (e.bits == 8 ? 1024u : 0u) + row * e.size) << e.file;
    }
    // The grey map reads back as equal channels carrying the generated heights, bottom row first.
    const GreyImage map = generateHeightMap(512, DEFAULT_SEED);
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.load(file("Maps/Lake_512.bmp").c_str()));
    for (size_t k = 0; k < map.pixels.size(); k += 97) {
        ASSERT_EQ(bitmap.pixels[k * 3], map.pixels[k]) << k;
        ASSERT_EQ(bitmap.pixels[k * 3 + 1], map.pixels[k]) << k;
        ASSERT_EQ(bitmap.pixels[k * 3 + 2], map.pixels[k]) << k;
    }
    // The start corner (first pixel) is dry land.
    EXPECT_GT(map.pixels[0], 0);
}

TEST(DataGenMaterials, AllNineShareOneSizeAndTileWithoutSeams) {
    for (int k = 0; k < MATERIAL_COUNT; ++k) {
        const Material material = static_cast<Material>(k);
        const RgbImage image = generateMaterial(material, MATERIAL_SIZE, DEFAULT_SEED);
        ASSERT_EQ(image.width, MATERIAL_SIZE) << materialName(material);
        ASSERT_EQ(image.height, MATERIAL_SIZE) << materialName(material);
        ASSERT_EQ(image.pixels.size(), static_cast<size_t>(MATERIAL_SIZE) * MATERIAL_SIZE * 3);
        const EdgeJumps jumps = edgeJumps(image);
        EXPECT_GT(jumps.columnNear, 0.5) << materialName(material) << " has no texture";
        EXPECT_LE(jumps.columnWrap, jumps.columnNear * 1.1) << materialName(material) << " shows a seam";
        EXPECT_LE(jumps.rowWrap, jumps.rowNear * 1.1) << materialName(material) << " shows a seam";
    }
}

TEST(DataGenMaterials, SeamMeasureCatchesATileThatDoesNotWrap) {
    // A smooth ramp: tiny steps inside, one big jump where it wraps.
    RgbImage ramp;
    ramp.width = ramp.height = 64;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) ramp.pixels.insert(ramp.pixels.end(), {static_cast<uint8_t>(x * 3), 90, static_cast<uint8_t>(y * 2)});
    const EdgeJumps jumps = edgeJumps(ramp);
    EXPECT_GT(jumps.columnWrap, jumps.columnNear * 1.1);
    EXPECT_GT(jumps.rowWrap, jumps.rowNear * 1.1);
    // A busy texture whose last column comes from elsewhere in the picture.
    RgbImage rock = generateMaterial(Material::Rock4, 128, DEFAULT_SEED);
    for (int y = 0; y < 128; ++y)
        for (int c = 0; c < 3; ++c) rock.pixels[(y * 128 + 127) * 3 + c] = rock.pixels[(y * 128 + 60) * 3 + c];
    const EdgeJumps rockJumps = edgeJumps(rock);
    EXPECT_GT(rockJumps.columnWrap, rockJumps.columnNear * 1.1);
}

TEST(DataGenMaterials, EachReadsAsItsOwnMaterial) {
    auto mean = [](const RgbImage& image) {
        double r = 0, g = 0, b = 0;
        for (size_t k = 0; k < image.pixels.size(); k += 3) r += image.pixels[k], g += image.pixels[k + 1], b += image.pixels[k + 2];
        const double n = image.pixels.size() / 3.0;
        return std::vector<double>{r / n, g / n, b / n};
    };
    const auto water = mean(generateMaterial(Material::Water, 128, DEFAULT_SEED));
    const auto grass = mean(generateMaterial(Material::Grass, 128, DEFAULT_SEED));
    const auto dry = mean(generateMaterial(Material::GrassDry, 128, DEFAULT_SEED));
    const auto rock3 = mean(generateMaterial(Material::Rock3, 128, DEFAULT_SEED));
    const auto rock4 = mean(generateMaterial(Material::Rock4, 128, DEFAULT_SEED));
    const auto snow = mean(generateMaterial(Material::Snow, 128, DEFAULT_SEED));
    const auto snow2 = mean(generateMaterial(Material::Snow2, 128, DEFAULT_SEED));
    EXPECT_GT(water[2], water[0] + 30);  // blue
    EXPECT_GT(grass[1], grass[0] + 20);  // green
    EXPECT_GT(grass[1], grass[2] + 40);
    EXPECT_GT(dry[0], dry[2] + 40);      // straw: yellow-brown
    EXPECT_GT(dry[0] + dry[1], grass[0] + grass[1]);
    EXPECT_GT(rock3[0] + rock3[1] + rock3[2], rock4[0] + rock4[1] + rock4[2] + 30);  // granite is lighter
    EXPECT_GT(snow[2], 200);
    EXPECT_GT(snow2[0] + snow2[1] + snow2[2], snow[0] + snow[1] + snow[2]);  // powder is brighter than ice
    EXPECT_NE(fnv1a(generateMaterial(Material::Rock3, 128, DEFAULT_SEED).pixels),
              fnv1a(generateMaterial(Material::Rock4, 128, DEFAULT_SEED).pixels));
}

// The landscape's proportions at a given size: the lake, its shore, the snow and the rock.
void expectLakeLandscape(int size) {
    SCOPED_TRACE("map size " + std::to_string(size));
    const GreyImage map = generateHeightMap(size, DEFAULT_SEED);
    ASSERT_EQ(map.width, size);
    ASSERT_EQ(map.height, size);
    const size_t count = map.pixels.size();
    auto at = [&](int x, int y) { return static_cast<int>(map.pixels[static_cast<size_t>(y) * size + x]); };

    size_t water = 0, snow = 0, steep = 0, shore = 0, shallowShore = 0;
    int nearestWaterToBorder = size;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int h = at(x, y);
            if (h == 0) {
                ++water;
                nearestWaterToBorder = std::min({nearestWaterToBorder, x, y, size - 1 - x, size - 1 - y});
                continue;
            }
            if (h >= SNOW_LINE_PIXEL) ++snow;
            const bool besideWater = (x > 0 && at(x - 1, y) == 0) || (x + 1 < size && at(x + 1, y) == 0) ||
                                     (y > 0 && at(x, y - 1) == 0) || (y + 1 < size && at(x, y + 1) == 0);
            if (besideWater) {
                ++shore;
                if (h <= 32) ++shallowShore;  // at most height 2.5: the pebble band
            }
            // Slope in height units per map unit of the default 512 layout, as the shader sees it
            // at scale 1 on a 512 map: rock from a normal leaning about 25 degrees.
            if (x + 1 < size && y + 1 < size) {
                const float scale = 20.0f / 255.0f * size / 512.0f;
                const float gx = (at(x + 1, y) - h) * scale, gy = (at(x, y + 1) - h) * scale;
                if (gx * gx + gy * gy > 0.25f) ++steep;
            }
        }
    }
    const double lakeFraction = static_cast<double>(water) / count;
    EXPECT_GE(lakeFraction, 1.0 / 6.0);
    EXPECT_LE(lakeFraction, 1.0 / 4.0);
    EXPECT_GE(nearestWaterToBorder, size / 16) << "the whole shore must lie inside the map";
    const double snowFraction = static_cast<double>(snow) / count;
    EXPECT_GE(snowFraction, 0.01);
    EXPECT_LE(snowFraction, 0.08);
    EXPECT_GE(static_cast<double>(steep) / count, 0.02) << "too few slopes steep enough for rock";
    ASSERT_GT(shore, 0u);
    EXPECT_GE(static_cast<double>(shallowShore) / shore, 0.95) << "the shore must leave the water gently";

    // One lake, not scattered ponds: the water connected to the lake's middle holds nearly all.
    std::vector<uint8_t> seen(count, 0);
    const int middle = size * 35 / 100;
    ASSERT_EQ(at(middle, middle), 0) << "the lake lies ahead of the start corner";
    std::vector<int> stack{middle * size + middle};
    seen[stack.back()] = 1;
    size_t connected = 0;
    while (!stack.empty()) {
        const int k = stack.back();
        stack.pop_back();
        ++connected;
        const int x = k % size, y = k / size;
        const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (const auto& n : next) {
            if (n[0] < 0 || n[1] < 0 || n[0] >= size || n[1] >= size) continue;
            const int j = n[1] * size + n[0];
            if (!seen[j] && map.pixels[j] == 0) {
                seen[j] = 1;
                stack.push_back(j);
            }
        }
    }
    EXPECT_GE(static_cast<double>(connected) / water, 0.97);
}

TEST(DataGenHeightMap, DefaultMapHoldsALakeShoresSnowAndRock) { expectLakeLandscape(512); }

TEST(DataGenHeightMap, LargerMapsKeepTheCharacter) { expectLakeLandscape(1024); }

TEST(DataGenHeightMap, SeedsVaryTheLandscapeButNotItsProportions) {
    const GreyImage a = generateHeightMap(256, 1), b = generateHeightMap(256, 2);
    EXPECT_NE(fnv1a(a.pixels), fnv1a(b.pixels));
    const size_t waterA = std::count(a.pixels.begin(), a.pixels.end(), 0);
    const size_t waterB = std::count(b.pixels.begin(), b.pixels.end(), 0);
    EXPECT_NEAR(static_cast<double>(waterA) / a.pixels.size(), static_cast<double>(waterB) / b.pixels.size(), 0.02);
}

TEST(DataGenPortableMath, AgreesWithTheCLibrary) {
    for (double x : {1e-6, 0.003, 0.04, 0.5, 0.7071, 1.0, 1.3, 2.0, 10.0, 12345.0}) {
        EXPECT_NEAR(portableLog(x), std::log(x), 1e-13 * std::max(1.0, std::fabs(std::log(x)))) << x;
        for (double e : {1.0 / 2.2, 2.2, 2.4, -0.5})
            EXPECT_NEAR(portablePow(x, e), std::pow(x, e), 1e-12 * std::pow(x, e)) << x << "^" << e;
    }
    for (double x : {-20.0, -1.0, -0.1, 0.0, 0.3, 1.0, 5.5, 30.0})
        EXPECT_NEAR(portableExp(x), std::exp(x), 1e-13 * std::exp(x)) << x;
    EXPECT_EQ(portablePow(0.0, 2.4), 0.0);
}

TEST(DataGenNormalMap, CodeDecodesToTheNearestByte) {
    for (int b = 1; b < 256; ++b) EXPECT_LT(decodeNormalComponent(b - 1), decodeNormalComponent(b)) << b;
    for (int b = 0; b < 256; ++b) EXPECT_EQ(encodeNormalComponent(decodeNormalComponent(b)), b) << b;
    for (float n = -1.0f; n <= 1.0f; n += 0.01f) {
        const uint8_t b = encodeNormalComponent(n);
        const float error = std::fabs(decodeNormalComponent(b) - n);
        if (b > 0) {
            EXPECT_LE(error, std::fabs(decodeNormalComponent(b - 1) - n)) << n;
        }
        if (b < 255) {
            EXPECT_LE(error, std::fabs(decodeNormalComponent(b + 1) - n)) << n;
        }
    }
    // The sRGB decode followed by the 1/2.2 power leaves the middle byte near zero and the ends at +-1.
    EXPECT_NEAR(decodeNormalComponent(0), -1.0f, 1e-6f);
    EXPECT_NEAR(decodeNormalComponent(255), 1.0f, 1e-6f);
    EXPECT_NEAR(decodeNormalComponent(encodeNormalComponent(0.0f)), 0.0f, 0.006f);
}

TEST(DataGenNormalMap, DecodesToUnitVectorsLeaningUp) {
    const RgbImage image = generateMaterial(Material::WaterNormal, MATERIAL_SIZE, DEFAULT_SEED);
    double sumY = 0.0, sumTilt = 0.0;
    float minY = 1.0f;
    const size_t count = image.pixels.size() / 3;
    for (size_t k = 0; k < count; ++k) {
        // Red is x, blue is up, green is z.
        const float x = decodeNormalComponent(image.pixels[k * 3]);
        const float z = decodeNormalComponent(image.pixels[k * 3 + 1]);
        const float y = decodeNormalComponent(image.pixels[k * 3 + 2]);
        const float length = std::sqrt(x * x + y * y + z * z);
        ASSERT_NEAR(length, 1.0f, 0.03f) << "pixel " << k;
        minY = std::min(minY, y / length);
        sumY += y / length;
        sumTilt += std::sqrt(x * x + z * z) / length;
    }
    EXPECT_GT(minY, 0.7f);
    EXPECT_GT(sumY / count, 0.95);
    EXPECT_GT(sumTilt / count, 0.05) << "the waves must tilt the surface";
}

TEST(DataGenSky, DeepBlueAtTheZenithPaleTowardsTheHorizon) {
    const RgbImage sky = generateSkydome(256, DEFAULT_SEED);
    ASSERT_EQ(sky.width, 256);
    ASSERT_EQ(sky.height, 256);
    // The clearest (bluest) pixel of a thin ring at radius r (as a fraction of the image) around
    // the centre: the sky's own colour at that height, wherever the clouds drift.
    auto clearest = [&](float r) {
        std::vector<int> best{0, 0, 0};
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 256; ++x) {
                const float dx = (x + 0.5f) / 256 - 0.5f, dy = (y + 0.5f) / 256 - 0.5f;
                if (std::fabs(std::sqrt(dx * dx + dy * dy) - r) > 0.01f) continue;
                const uint8_t* p = &sky.pixels[(static_cast<size_t>(y) * 256 + x) * 3];
                if (p[2] - p[0] > best[2] - best[0]) best = {p[0], p[1], p[2]};
            }
        }
        return best;
    };
    const auto zenith = clearest(0.06f), middle = clearest(0.3f), horizon = clearest(0.48f);
    EXPECT_GT(zenith[2], zenith[0] + 90) << "the zenith is a deep, saturated blue";
    EXPECT_GT(zenith[2] - zenith[0], middle[2] - middle[0]);
    EXPECT_GT(middle[2] - middle[0], horizon[2] - horizon[0]);
    EXPECT_GT(horizon[0] + horizon[1] + horizon[2], zenith[0] + zenith[1] + zenith[2] + 150) << "the horizon is paler";
    // Clouds: bright grey-white patches in the upper sky, where the clear sky is a saturated blue.
    size_t upper = 0, cloud = 0;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const float dx = (x + 0.5f) / 256 - 0.5f, dy = (y + 0.5f) / 256 - 0.5f;
            if (dx * dx + dy * dy > 0.35f * 0.35f) continue;
            const uint8_t* p = &sky.pixels[(static_cast<size_t>(y) * 256 + x) * 3];
            ++upper;
            if (p[2] - p[0] < 40 && p[0] > 170) ++cloud;
        }
    }
    EXPECT_GT(cloud, upper / 30);
    EXPECT_LT(cloud, upper / 2);
}

TEST(DataGenWrite, OnlyMapWritesTheRequestedSizeAlone) {
    const std::string dir = makeTempDir("kelta-datagen-map");
    DataSetOptions options;
    options.outputDir = dir;
    options.mapSize = 256;
    options.onlyMap = true;
    const std::vector<std::string> files = dataSetFiles(options);
    ASSERT_EQ(files, std::vector<std::string>{"Maps/Lake_256.bmp"});
    std::string error;
    ASSERT_TRUE(writeDataSet(options, error)) << error;
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.load((fs::path(dir) / files[0]).c_str())) << bitmap.message;
    EXPECT_EQ(bitmap.width, 256);
    EXPECT_FALSE(fs::exists(fs::path(dir) / "Textures"));
    fs::remove_all(dir);
}

TEST(DataGenWrite, UnwritableFolderFailsWithOneLineNamingIt) {
    const std::string dir = makeTempDir("kelta-datagen-bad");
    // A folder cannot be made inside a plain file, whoever runs the test.
    const fs::path blocker = fs::path(dir) / "plain-file";
    std::ofstream(blocker) << "x";
    DataSetOptions options;
    options.outputDir = (blocker / "data").string();
    std::string error;
    EXPECT_FALSE(writeDataSet(options, error));
    EXPECT_NE(error.find((blocker / "data").string()), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace
