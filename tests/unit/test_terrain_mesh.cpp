// The terrain's mesh building, world units and command-line reading, without a GL context.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
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

using Triangle = std::array<uint32_t, 3>;

// The triangles with area that a strip draws, cut at TERRAIN_STRIP_RESTART as GL cuts it, each
// turned so that its smallest index comes first, which keeps the way it faces.
std::multiset<Triangle> stripTriangles(const std::vector<uint32_t>& list) {
    std::multiset<Triangle> triangles;
    size_t start = 0;
    for (size_t k = 0; k + 2 < list.size(); ++k) {
        if (list[k] == TERRAIN_STRIP_RESTART) {
            start = k + 1;
            continue;
        }
        if (list[k + 1] == TERRAIN_STRIP_RESTART || list[k + 2] == TERRAIN_STRIP_RESTART) continue;
        // Every second triangle of a strip is taken in the opposite order.
        Triangle t = (k - start) % 2 == 0 ? Triangle{list[k], list[k + 1], list[k + 2]}
                                          : Triangle{list[k + 1], list[k], list[k + 2]};
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) continue;
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        triangles.insert(t);
    }
    return triangles;
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

TEST(TerrainIndices, VoidsLeaveOutExactlyTheCellsTheyTouchWithTheRestFacingAsBefore) {
    const auto voidsAt = [](int width, int height, std::vector<std::pair<int, int>> samples) {
        std::vector<uint8_t> voids(size_t(width) * size_t(height), 0);
        for (const auto& sample : samples) voids[size_t(sample.second) * size_t(width) + size_t(sample.first)] = 1;
        return voids;
    };
    std::mt19937 random(17);
    std::vector<uint8_t> scattered(40 * 30);
    for (uint8_t& v : scattered) v = random() % 10 == 0;
    const struct {
        const char* name;
        int width, height;
        std::vector<uint8_t> voids;
    } cases[] = {
        {"no voids", 5, 4, voidsAt(5, 4, {})},
        {"one inside", 5, 4, voidsAt(5, 4, {{2, 1}})},
        {"a corner", 6, 5, voidsAt(6, 5, {{0, 0}})},
        {"a block", 7, 6, voidsAt(7, 6, {{2, 2}, {3, 2}, {2, 3}, {3, 3}})},
        {"a whole column", 5, 5, voidsAt(5, 5, {{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}})},
        {"every other sample", 6, 3, voidsAt(6, 3, {{1, 0}, {3, 0}, {5, 0}, {0, 1}, {2, 1}, {4, 1}})},
        {"all", 3, 3, std::vector<uint8_t>(9, 1)},
        {"scattered", 40, 30, scattered},
    };
    for (const auto& c : cases) {
        const int w = c.width;
        const auto hasData = [&](uint32_t index) { return c.voids[index] == 0; };
        // The whole strip's triangles over cells whose four corners have data.
        std::multiset<Triangle> expected;
        for (const Triangle& t : stripTriangles(indices(w, c.height))) {
            const uint32_t row = *std::min_element(t.begin(), t.end()) / uint32_t(w);
            uint32_t column = uint32_t(w);
            for (uint32_t index : t) column = std::min(column, index % uint32_t(w));
            const uint32_t corner = row * uint32_t(w) + column;
            if (hasData(corner) && hasData(corner + 1) && hasData(corner + uint32_t(w)) &&
                hasData(corner + uint32_t(w) + 1)) {
                expected.insert(t);
            }
        }
        TerrainStrip strip;
        const std::vector<uint32_t> list = indices(w, c.height, c.voids, strip);
        EXPECT_EQ(stripTriangles(list), expected) << c.name;
        EXPECT_EQ(strip.triangleCount, expected.size()) << c.name;
        EXPECT_EQ(strip.pointCount, uint64_t(std::count_if(list.begin(), list.end(), [](uint32_t index) {
                                         return index != TERRAIN_STRIP_RESTART;
                                     }))) << c.name;
        for (uint32_t index : list) {
            if (index == TERRAIN_STRIP_RESTART) continue;
            EXPECT_TRUE(hasData(index)) << c.name << ": vertex " << index;
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
        double exaggeration;
        double seaLevel;
    } cases[] = {
        {"square 30 m cells", elevation(30.0, 30.0, 0.0, 0.5), 1.0f, 1.0, 0.0},
        {"non-square cells two units apart", elevation(595.4, 926.7, 141.0, 0.01), 2.0f, 1.0, 0.0},
        {"three times exaggerated", elevation(30.0, 30.0, 100.0, 0.25), 1.0f, 3.0, 0.0},
        {"sea at 100 m", elevation(30.0, 30.0, 100.0, 0.25), 1.0f, 1.0, 100.0},
        {"ground below 0 m without a sea", elevation(10.0, 20.0, -50.0, 0.1), 1.0f, 1.0, 0.0},
    };
    const std::vector<uint16_t> samples = {0, 1000, 65535, 7, 30000, 12};
    for (const auto& c : cases) {
        const TerrainGeometry geometry =
            elevationMapGeometry(c.metres, c.horizontalScale, c.exaggeration, c.seaLevel);
        const Mesh mesh = build(3, 2, samples, geometry, 65535);
        const double metresPerUnit = c.metres.columnMetres / c.horizontalScale;
        EXPECT_FLOAT_EQ(geometry.metresPerHeight, static_cast<float>(metresPerUnit / c.exaggeration)) << c.name;
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 3; ++j) {
                const double metres = c.metres.lowestMetres + samples[size_t(i) * 3 + j] * c.metres.metresPerValue;
                const double y = (metres - c.seaLevel) / metresPerUnit * c.exaggeration;
                const double z = -(i * c.horizontalScale * c.metres.rowMetres / c.metres.columnMetres);
                const vec3 p = mesh.position(j, i);
                EXPECT_FLOAT_EQ(p.x, j * c.horizontalScale) << c.name;
                EXPECT_NEAR(p.y, y, 1e-5 * std::max(1.0, std::fabs(y))) << c.name << " sample " << j << ", " << i;
                EXPECT_FLOAT_EQ(p.z, static_cast<float>(z)) << c.name;
            }
        }
    }
}

TEST(ElevationMapLog, SaysWhatTheMapIsAndHowItsVoidsAreDrawn) {
    HeightSamples map{95, 90, 65535, std::vector<uint16_t>(95 * 90, 0), {}, elevation(595.37, 926.71, 0.0, 1.0)};
    map.elevation->minimumMetres = 141.4;
    map.elevation->maximumMetres = 546.6;
    EXPECT_EQ(elevationMapLine(map, 1.0f, 1.0),
              "Elevation map: 95 x 90 samples, 595.4 x 926.7 m apart, 141 to 547 m, 1 unit = 595.4 m, exaggeration 1");
    EXPECT_EQ(elevationMapLine(map, 2.0f, 2.5),
              "Elevation map: 95 x 90 samples, 595.4 x 926.7 m apart, 141 to 547 m, 1 unit = 297.7 m, exaggeration 2.5");
    map.elevation->voidCount = 1234;
    EXPECT_EQ(noDataLine(map), "No data: 1234 samples (filled)");
    map.voids.assign(95 * 90, 0);
    EXPECT_EQ(noDataLine(map), "No data: 1234 samples (drawn as holes)");
}

TEST(SampleRange, SpansTheSamplesWithDataOnly) {
    const HeightSamples map{3, 2, 65535, {500, 9, 70, 65535, 300, 40}, {0, 1, 0, 1, 0, 0}, {}};
    uint16_t lowest = 0, highest = 0;
    sampleRange(map, lowest, highest);
    EXPECT_EQ(lowest, 40);
    EXPECT_EQ(highest, 500);
    const HeightSamples empty{2, 1, 65535, {7, 8}, {1, 1}, {}};
    sampleRange(empty, lowest, highest);
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 0);
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
    // Square cells, and the non-square cells of an elevation map, whose rows lie further apart.
    const TerrainGeometry geometries[] = {imageMapGeometry(3.0f, 50.0f, 255),
                                          elevationMapGeometry(elevation(30.0, 55.0, 120.0, 2.0), 1.0f, 1.5, 0.0)};
    const std::pair<int, int> sizes[] = {{7, 5}, {13, 6}, {1, 4}, {4, 1}, {2, 2}, {5, 3}};
    for (const TerrainGeometry& geometry : geometries) {
        for (const auto& size : sizes) {
            const int w = size.first, h = size.second;
            std::vector<uint16_t> red(size_t(w) * h);
            for (uint16_t& value : red) value = static_cast<uint16_t>(random() % 256);
            const Mesh mesh = build(w, h, red, geometry);
            const std::vector<vec3> expected = referenceNormals(mesh);
            for (int k = 0; k < w * h; ++k) {
                const vec3 actual = mesh.normal(k % w, k / w);
                const std::string where = std::to_string(w) + " x " + std::to_string(h) + " vertex " +
                                          std::to_string(k) + ", rows " + std::to_string(geometry.rowSpacing) + " apart";
                if (std::isnan(expected[k].x)) continue;  // degenerate one-row or one-column neighbourhoods
                EXPECT_FLOAT_EQ(actual.x, expected[k].x) << where;
                EXPECT_FLOAT_EQ(actual.y, expected[k].y) << where;
                EXPECT_FLOAT_EQ(actual.z, expected[k].z) << where;
            }
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
