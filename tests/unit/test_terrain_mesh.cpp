// The terrain's mesh building, world units and command-line reading, without a GL context.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "math/Math.h"
#include "scene/TerrainArguments.h"
#include "scene/TerrainMesh.h"

namespace {

struct Mesh {
    int width, height;
    std::vector<float> vertices;

    vec3 position(int j, int i) const { return at(j, i, 0); }
    vec3 normal(int j, int i) const { return at(j, i, 3); }
    vec2 texture(int j, int i) const {
        const float* v = &vertices[(size_t(i) * width + j) * TERRAIN_VERTEX_FLOATS];
        return {v[6], v[7]};
    }
    vec3 at(int j, int i, int offset) const {
        const float* v = &vertices[(size_t(i) * width + j) * TERRAIN_VERTEX_FLOATS + offset];
        return {v[0], v[1], v[2]};
    }
};

Mesh build(int width, int height, const std::vector<uint16_t>& samples, const TerrainGeometry& geometry,
           uint16_t largestValue = 255) {
    Mesh mesh{width, height, std::vector<float>(size_t(width) * height * TERRAIN_VERTEX_FLOATS, -99.0f)};
    const HeightSamples map{width, height, largestValue, samples, {}, {}};
    buildTerrainVertices(map, geometry, mesh.vertices.data());
    return mesh;
}

Mesh build(int width, int height, const std::vector<uint16_t>& samples, float horizontalScale = 1.0f,
           float heightScale = 20.0f, uint16_t largestValue = 255) {
    return build(width, height, samples, imageMapGeometry(horizontalScale, heightScale, largestValue), largestValue);
}

// An elevation map's description in metres.
Elevation elevation(double columnMetres, double rowMetres, double lowestMetres, double metresPerValue) {
    Elevation e;
    e.columnMetres = columnMetres;
    e.rowMetres = rowMetres;
    e.lowestMetres = lowestMetres;
    e.metresPerValue = metresPerValue;
    return e;
}

void expectVec3(const vec3& actual, float x, float y, float z, const std::string& where) {
    EXPECT_NEAR(actual.x, x, 1e-6f) << where;
    EXPECT_NEAR(actual.y, y, 1e-6f) << where;
    EXPECT_NEAR(actual.z, z, 1e-6f) << where;
}

// The normal rule written out plainly over a position array, to hold the single-pass builder to.
std::vector<vec3> referenceNormals(const Mesh& mesh) {
    const int w = mesh.width, h = mesh.height;
    std::vector<vec3> normals;
    for (int i = 0; i < h; ++i) {
        for (int j = 0; j < w; ++j) {
            const vec3 p = mesh.position(j, i);
            auto offset = [&](int dj, int di) {
                return mesh.position((j + dj + w) % w, (i + di + h) % h) - p;
            };
            const vec3 a = offset(0, -1), b = offset(-1, -1), c = offset(-1, 0), d = offset(-1, 1);
            const vec3 e = offset(0, 1), f = offset(1, 1), g = offset(1, 0), k = offset(1, -1);
            const vec3 n = (cross(b, a) + cross(d, c) + cross(f, e) + cross(k, g)) * 0.5f +
                           (cross(a, k) + cross(g, f) + cross(e, d) + cross(c, b));
            const float length = std::sqrt(dot(n, n));
            normals.push_back({n.x / length, n.y / length, n.z / length});
        }
    }
    return normals;
}

// The strip of a map, written into room for the whole strip; voids may be empty.
std::vector<uint32_t> indices(int width, int height, const std::vector<uint8_t>& voids, TerrainStrip& strip) {
    // One guard entry past the end catches a builder that writes too far.
    std::vector<uint32_t> list(terrainIndexCount(width, height) + 1, 0xDEADBEEFu);
    strip = buildTerrainIndices(width, height, voids.empty() ? nullptr : voids.data(), list.data());
    EXPECT_EQ(list.back(), 0xDEADBEEFu) << "index list overran for " << width << " x " << height;
    EXPECT_LE(strip.indexCount, list.size() - 1);
    list.resize(strip.indexCount);
    return list;
}

std::vector<uint32_t> indices(int width, int height) {
    TerrainStrip strip;
    const std::vector<uint32_t> list = indices(width, height, {}, strip);
    EXPECT_EQ(list.size(), terrainIndexCount(width, height));
    return list;
}

}  // namespace

TEST(TerrainIndices, ThreeByTwoIsOneStripWithRepeatedEnds) {
    EXPECT_EQ(indices(3, 2), (std::vector<uint32_t>{0, 0, 3, 1, 4, 2, 5, 5}));
}

TEST(TerrainIndices, RowPairsJoinThroughDegenerateTriangles) {
    const std::vector<uint32_t> list = indices(2, 3);
    EXPECT_EQ(list, (std::vector<uint32_t>{0, 0, 2, 1, 3, 3, 2, 2, 4, 3, 5, 5}));
    EXPECT_EQ(terrainIndexCount(512, 512), 524286u);
    EXPECT_EQ(terrainIndexCount(300, 200), 199u * 602u);
    EXPECT_EQ(terrainVertexCount(300, 200), 60000u);
}

TEST(TerrainIndices, SingleRowHasNoStrip) {
    EXPECT_TRUE(indices(5, 1).empty());
}

TEST(TerrainIndices, VoidsCutTheStripAroundEveryCellTheyTouch) {
    constexpr uint32_t R = TERRAIN_STRIP_RESTART;
    const struct {
        const char* name;
        int width, height;
        std::vector<uint8_t> voids;
        std::vector<uint32_t> expected;
        uint64_t triangles;
    } cases[] = {
        // Each piece begins as the whole strip's row pairs do, so its triangles face the same way.
        {"none", 3, 2, {0, 0, 0, 0, 0, 0}, {0, 0, 3, 1, 4, 2, 5, R}, 4},
        {"one at the bottom", 4, 2, {0, 1, 0, 0, 0, 0, 0, 0}, {2, 2, 6, 3, 7, R}, 2},
        {"one in the middle of two rows", 3, 3, {0, 0, 0, 0, 1, 0, 0, 0, 0}, {}, 0},
        {"two pieces in a row", 6, 2, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 6, 1, 7, 2, 8, R, 4, 4, 10, 5, 11, R}, 6},
    };
    for (const auto& c : cases) {
        TerrainStrip strip;
        EXPECT_EQ(indices(c.width, c.height, c.voids, strip), c.expected) << c.name;
        EXPECT_EQ(strip.triangleCount, c.triangles) << c.name;
        EXPECT_EQ(strip.pointCount, strip.indexCount - std::count(c.expected.begin(), c.expected.end(), R)) << c.name;
    }
    // However the voids lie, the pieces fit in the whole strip's room and name no sample without data.
    std::mt19937 random(17);
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> voids(40 * 30);
        for (uint8_t& v : voids) v = random() % (round + 2) == 0;
        TerrainStrip strip;
        for (uint32_t index : indices(40, 30, voids, strip)) {
            if (index == TERRAIN_STRIP_RESTART) continue;
            ASSERT_EQ(voids[index], 0) << "vertex " << index;
        }
    }
}

TEST(TerrainVertices, PositionsAndTextureCoordinatesFollowTheGrid) {
    const Mesh mesh = build(3, 2, {0, 1, 255, 10, 20, 30});
    expectVec3(mesh.position(0, 0), 0, 0, 0, "bottom-left pixel");
    EXPECT_EQ(mesh.texture(0, 0).x, 0.0f);
    EXPECT_EQ(mesh.texture(0, 0).y, 0.0f);
    // Vertex 5: column 2 of the second bitmap row.
    EXPECT_FLOAT_EQ(mesh.texture(2, 1).x, 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(mesh.texture(2, 1).y, 0.5f);
    expectVec3(mesh.position(2, 1), 2, 30 * (20.0f / 255.0f), -1, "vertex 5");
}

TEST(TerrainVertices, HeightsScaleTheSampleByTheLargestValue) {
    const Mesh eightBit = build(3, 1, {0, 1, 255});
    EXPECT_EQ(eightBit.position(0, 0).y, 0.0f);
    EXPECT_EQ(eightBit.position(1, 0).y, 20.0f / 255.0f);
    EXPECT_EQ(eightBit.position(2, 0).y, 20.0f);
    const Mesh sixteenBit = build(4, 1, {0, 1, 257, 65535}, 1.0f, 20.0f, 65535);
    EXPECT_EQ(sixteenBit.position(0, 0).y, 0.0f);
    EXPECT_EQ(sixteenBit.position(1, 0).y, 20.0f / 65535.0f);
    EXPECT_EQ(sixteenBit.position(2, 0).y, 257.0f * (20.0f / 65535.0f));
    EXPECT_EQ(sixteenBit.position(3, 0).y, 20.0f);
}

TEST(TerrainVertices, ScalesSpreadTheGridAndRaiseTheHeights) {
    const Mesh mesh = build(4, 3, std::vector<uint16_t>(12, 255), 2.0f, 40.0f);
    expectVec3(mesh.position(3, 2), 6, 40, -4, "far corner");
    expectVec3(mesh.position(1, 1), 2, 40, -2, "interior");
}

TEST(TerrainVertices, ElevationMapsStandAtTheirTrueProportions) {
    const struct {
        const char* name;
        Elevation metres;
        float horizontalScale;
        double exaggeration, seaLevel;
    } cases[] = {
        {"non-square cells two units apart", elevation(595.4, 926.7, 141.0, 0.01), 2.0f, 1.0, 0.0},
        {"three times exaggerated, sea at 100 m", elevation(30.0, 30.0, 100.0, 0.25), 1.0f, 3.0, 100.0},
        {"ground below 0 m without a sea", elevation(10.0, 20.0, -50.0, 0.1), 1.0f, 1.0, 0.0},
    };
    const std::vector<uint16_t> samples = {0, 1000, 65535, 7, 30000, 12, 400, 9, 20000};
    for (const auto& c : cases) {
        const TerrainGeometry geometry = elevationMapGeometry(c.metres, c.horizontalScale, c.exaggeration, c.seaLevel);
        const Mesh mesh = build(3, 3, samples, geometry, 65535);
        const double metresPerUnit = c.metres.columnMetres / c.horizontalScale;
        const std::vector<vec3> normals = referenceNormals(mesh);
        for (int k = 0; k < 9; ++k) {
            const int j = k % 3, i = k / 3;
            const double metres = c.metres.lowestMetres + samples[size_t(k)] * c.metres.metresPerValue;
            const double y = (metres - c.seaLevel) / metresPerUnit * c.exaggeration;
            const vec3 p = mesh.position(j, i);
            EXPECT_FLOAT_EQ(p.x, j * c.horizontalScale) << c.name;
            EXPECT_NEAR(p.y, y, 1e-5 * std::max(1.0, std::fabs(y))) << c.name << " sample " << k;
            EXPECT_FLOAT_EQ(p.z, static_cast<float>(-(i * c.horizontalScale * c.metres.rowMetres / c.metres.columnMetres)))
                << c.name;
            // Normals follow the rows' own spacing.
            EXPECT_FLOAT_EQ(mesh.normal(j, i).z, normals[size_t(k)].z) << c.name << " sample " << k;
        }
    }
}

// The line at scale 1, and the no-data line, are read from kelta's log in test_height_map_formats.py.
TEST(ElevationMapLog, OneUnitIsTheColumnSpacingOverTheHorizontalScale) {
    HeightSamples map{95, 90, 65535, std::vector<uint16_t>(95 * 90, 0), {}, elevation(595.37, 926.71, 0.0, 1.0)};
    map.elevation->minimumMetres = 141.4;
    map.elevation->maximumMetres = 546.6;
    EXPECT_EQ(elevationMapLine(map, 2.0f, 2.5),
              "Elevation map: 95 x 90 samples, 595.4 x 926.7 m apart, 141 to 547 m, 1 unit = 297.7 m, exaggeration 2.5");
}

TEST(TerrainNormals, FlatMapPointsUpInsideDownOnBordersUpAtCorners) {
    const int w = 5, h = 4;
    const Mesh mesh = build(w, h, std::vector<uint16_t>(w * h, 100));
    for (int i = 0; i < h; ++i) {
        for (int j = 0; j < w; ++j) {
            const bool columnBorder = j == 0 || j == w - 1;
            const bool rowBorder = i == 0 || i == h - 1;
            const std::string where = "vertex (" + std::to_string(j) + ", " + std::to_string(i) + ")";
            if (columnBorder == rowBorder) {
                expectVec3(mesh.normal(j, i), 0, 1, 0, where);  // interior or corner
            } else {
                expectVec3(mesh.normal(j, i), 0, -1, 0, where);
            }
        }
    }
}

TEST(TerrainNormals, SlopeRisingTowardsPlusX) {
    // Half a vertex spacing of rise per column: pixel value j at 127.5 height units per 255.
    const int w = 6, h = 5;
    std::vector<uint16_t> red;
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) red.push_back(static_cast<uint16_t>(j));
    const Mesh mesh = build(w, h, red, 1.0f, 127.5f);
    const float root5 = std::sqrt(5.0f);
    for (int i = 1; i < h - 1; ++i) {
        for (int j = 1; j < w - 1; ++j) {
            expectVec3(mesh.normal(j, i), -1 / root5, 2 / root5, 0, "vertex (" + std::to_string(j) + ", " + std::to_string(i) + ")");
        }
    }
}

TEST(TerrainNormals, MatchThePlainNeighbourRuleOnRoughGround) {
    std::mt19937 random(12345);
    for (const auto& size : {std::pair<int, int>{7, 5}, {13, 6}, {1, 4}, {4, 1}, {2, 2}, {5, 3}}) {
        const int w = size.first, h = size.second;
        std::vector<uint16_t> red(size_t(w) * h);
        for (uint16_t& value : red) value = static_cast<uint16_t>(random() % 256);
        const Mesh mesh = build(w, h, red, 3.0f, 50.0f);
        const std::vector<vec3> expected = referenceNormals(mesh);
        for (int k = 0; k < w * h; ++k) {
            const vec3 actual = mesh.normal(k % w, k / w);
            const std::string where = std::to_string(w) + " x " + std::to_string(h) + " vertex " + std::to_string(k);
            if (std::isnan(expected[k].x)) continue;  // degenerate one-row or one-column neighbourhoods
            EXPECT_FLOAT_EQ(actual.x, expected[k].x) << where;
            EXPECT_FLOAT_EQ(actual.y, expected[k].y) << where;
            EXPECT_FLOAT_EQ(actual.z, expected[k].z) << where;
        }
    }
}

TEST(TerrainSizeLines, SquareAndNonSquareMaps) {
    auto lines = [](int w, int h) {
        return terrainSizeLines(terrainVertexCount(w, h) * 32, terrainIndexCount(w, h) * 4);
    };
    EXPECT_EQ(lines(512, 512), (std::vector<std::string>{
                                   "VBO size (vertices): 3072 kB", "VBO size (normals): 3072 kB",
                                   "VBO size (texture coords): 2048 kB", "IBO size: 2048 kB",
                                   "Total geometry buffer size: 10240 kB"}));
    EXPECT_EQ(lines(300, 200), (std::vector<std::string>{
                                   "VBO size (vertices): 704 kB", "VBO size (normals): 704 kB",
                                   "VBO size (texture coords): 469 kB", "IBO size: 468 kB",
                                   "Total geometry buffer size: 2343 kB"}));
    // Byte counts past 32 bits are not wrapped; seven-digit numbers print in the float's short form.
    EXPECT_EQ(lines(8192, 8192)[0], "VBO size (vertices): 786432 kB");
    EXPECT_EQ(lines(8192, 8192)[4], "Total geometry buffer size: 2.62144e+06 kB");
}

TEST(TerrainGrid, FitsOnlyWithinSignedThirtyTwoBitCounts) {
    EXPECT_TRUE(terrainGridFits(1, 1));
    EXPECT_TRUE(terrainGridFits(4096, 4096));
    EXPECT_TRUE(terrainGridFits(32768, 32768));   // 2 147 483 646 indices
    EXPECT_FALSE(terrainGridFits(32769, 32768));  // one column more overflows the index count
    EXPECT_FALSE(terrainGridFits(65536, 65536));
    EXPECT_FALSE(terrainGridFits(2147483647, 2));
    EXPECT_FALSE(terrainGridFits(0, 5));
    EXPECT_FALSE(terrainGridFits(5, -1));
}

namespace {

bool parse(std::vector<const char*> args, TerrainArguments& arguments, std::string& error) {
    args.insert(args.begin(), "kelta");
    return parseTerrainArguments(static_cast<int>(args.size()), args.data(), arguments, error);
}

}  // namespace

TEST(TerrainArguments, DefaultsAndGivenValues) {
    TerrainArguments arguments;
    std::string error;
    ASSERT_TRUE(parse({}, arguments, error));
    EXPECT_EQ(arguments.heightMapPath, "Maps\\Lake_512.bmp");
    EXPECT_EQ(arguments.horizontalScale, 1.0f);
    EXPECT_EQ(arguments.heightScale, 20.0f);
    EXPECT_FALSE(arguments.heightScaleGiven);

    arguments = TerrainArguments();
    ASSERT_TRUE(parse({"map.bmp", "2", "40"}, arguments, error)) << error;
    EXPECT_EQ(arguments.heightMapPath, "map.bmp");
    EXPECT_EQ(arguments.horizontalScale, 2.0f);
    EXPECT_EQ(arguments.heightScale, 40.0f);
    EXPECT_TRUE(arguments.heightScaleGiven);

    arguments = TerrainArguments();
    ASSERT_TRUE(parse({"other.bmp", "3"}, arguments, error));
    EXPECT_EQ(arguments.heightMapPath, "other.bmp");
    EXPECT_EQ(arguments.horizontalScale, 3.0f);
    EXPECT_EQ(arguments.heightScale, 20.0f);
    EXPECT_FALSE(arguments.heightScaleGiven);
}

TEST(TerrainArguments, IntegersMayHaveLeadingSpaceAndSign) {
    TerrainArguments arguments;
    std::string error;
    ASSERT_TRUE(parse({"m.bmp", "  +3", "\t0"}, arguments, error)) << error;
    EXPECT_EQ(arguments.horizontalScale, 3.0f);
    EXPECT_EQ(arguments.heightScale, 0.0f);
    ASSERT_TRUE(parse({"m.bmp", "1", "2147483647"}, arguments, error)) << error;
    EXPECT_EQ(arguments.heightScale, 2147483647.0f);
}

TEST(TerrainArguments, MalformedOrOutOfRangeScalesAreRefusedByName) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{"m.bmp", ""}, "horizontal scale \"\""},
        {{"m.bmp", "abc"}, "horizontal scale \"abc\""},
        {{"m.bmp", "2x"}, "horizontal scale \"2x\""},
        {{"m.bmp", "2.5"}, "horizontal scale \"2.5\""},
        {{"m.bmp", "2 "}, "horizontal scale \"2 \""},
        {{"m.bmp", "0"}, "horizontal scale \"0\""},
        {{"m.bmp", "-4"}, "horizontal scale \"-4\""},
        {{"m.bmp", "2147483648"}, "horizontal scale \"2147483648\""},
        {{"m.bmp", "99999999999999999999"}, "horizontal scale"},
        {{"m.bmp", "1", "-1"}, "height scale \"-1\""},
        {{"m.bmp", "1", "1e3"}, "height scale \"1e3\""},
        {{"m.bmp", "1", "+"}, "height scale \"+\""},
    };
    for (const auto& c : cases) {
        TerrainArguments arguments;
        std::string error;
        EXPECT_FALSE(parse(c.first, arguments, error)) << c.second;
        EXPECT_NE(error.find("Invalid " + c.second), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}
