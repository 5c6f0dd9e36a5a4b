// Tests of the terrain's horizons: lit and shadowed samples against a walk towards the sun on
// synthetic and real maps, shadows of far terrain, voids, thread counts, and the sky light of
// planes and valleys.
#include "io/HeightMap.h"
#include "light/Horizons.h"
#include "light/TerrainShadows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

const std::string ELEVATION_DATA = std::string(KELTA_TEST_DATA_DIR) + "/elevation/";
const float NO_DATA = std::numeric_limits<float>::quiet_NaN();

struct Terrain {
    int width = 0, height = 0;
    float columnSpacing = 1, rowSpacing = 1;
    std::vector<float> heights;  // bottom row first

    HeightGrid grid() const { return {heights.data(), width, height, columnSpacing, rowSpacing}; }
    float at(int column, int row) const { return heights[size_t(row) * width + column]; }
};

Terrain generated(int width, int height, float columnSpacing, float rowSpacing,
                  const std::function<float(int column, int row)>& heightAt) {
    Terrain terrain{width, height, columnSpacing, rowSpacing, {}};
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) terrain.heights.push_back(heightAt(column, row));
    }
    return terrain;
}

// A ridge running south-west to north-east over rolling ground, on a grid of unequal spacings.
Terrain syntheticRidge() {
    return generated(160, 120, 2.0f, 3.0f, [](int column, int row) {
        const float across = (column * 2.0f - row * 3.0f - 40.0f) / 30.0f;
        return 60.0f * std::exp(-across * across) + 8.0f * std::sin(column * 0.21f) * std::cos(row * 0.17f);
    });
}

// A map of tests/data in metres as the terrain reads it, its voids NaN.
Terrain realMap(const std::string& name) {
    HeightSamples map;
    std::string message;
    EXPECT_TRUE(loadHeightMap(ELEVATION_DATA + name, ElevationOptions(), map, message)) << name << ": " << message;
    if (!map.elevation) return {};
    const Elevation& elevation = *map.elevation;
    Terrain terrain{map.width, map.height, float(elevation.columnMetres), float(elevation.rowMetres), {}};
    for (size_t sample = 0; sample < map.samples.size(); ++sample) {
        const bool isVoid = !map.voids.empty() && map.voids[sample];
        terrain.heights.push_back(
            isVoid ? NO_DATA : float(elevation.lowestMetres + map.samples[sample] * elevation.metresPerValue));
    }
    return terrain;
}

// Inside the grid; NaN beside a void.
float bilinear(const Terrain& terrain, double column, double row) {
    const int left = std::clamp(int(column), 0, terrain.width - 2), bottom = std::clamp(int(row), 0, terrain.height - 2);
    const float right = float(column - left), top = float(row - bottom);
    return (1 - top) * ((1 - right) * terrain.at(left, bottom) + right * terrain.at(left + 1, bottom)) +
           top * ((1 - right) * terrain.at(left, bottom + 1) + right * terrain.at(left + 1, bottom + 1));
}

// The reference: walks from the sample towards the sun in steps of half a sample, to the grid's
// edge, and finds it lit when no point rises above the ray to the sun.
bool litByWalking(const Terrain& terrain, int column, int row, double azimuthDegrees, double altitudeDegrees) {
    const double azimuth = azimuthDegrees * M_PI / 180.0;
    const double perColumn = std::sin(azimuth) / terrain.columnSpacing, perRow = std::cos(azimuth) / terrain.rowSpacing;
    const double stride = 0.5 / std::max(std::abs(perColumn), std::abs(perRow));
    const double rise = std::tan(altitudeDegrees * M_PI / 180.0);
    const double edge = 1e-9;
    for (int step = 1;; ++step) {
        const double walked = step * stride;
        const double c = column + walked * perColumn, r = row + walked * perRow;
        if (c < -edge || r < -edge || c > terrain.width - 1 + edge || r > terrain.height - 1 + edge) return true;
        if (bilinear(terrain, c, r) > terrain.at(column, row) + walked * rise) return false;
    }
}

// Faults: a sweep walking the wrong way or along the wrong axis, spacings swapped, lines that skip
// or double samples, horizons cut short, voids that occlude. The share of shadow keeps each case
// from passing by lighting everything.
TEST(Horizons, ShadowsAgreeWithAWalkTowardsTheSun) {
    struct Case {
        const char* name;
        Terrain terrain;
        double altitudeDegrees;
        double leastShadowShare;
    };
    const Case cases[] = {
        {"synthetic ridge, low sun", syntheticRidge(), 8.0, 0.15},
        {"synthetic ridge, high sun", syntheticRidge(), 30.0, 0.03},
        {"Olinda (90 m cells)", realMap("olinda_dem_utm25s.tif"), 5.0, 0.02},
        {"Luxembourg (voids around the country)", realMap("elev.tif"), 5.0, 0.01},
    };
    const double azimuths[] = {0.0, 45.0, 90.0, 135.0, 180.0, 225.0, 270.0, 315.0, 23.7, 200.0};
    for (const Case& test : cases) {
        size_t samples = 0, shadowed = 0;
        for (const double azimuth : azimuths) {
            const std::vector<float> tangents = horizonTangents(test.terrain.grid(), azimuth, 2);
            const float sunTangent = float(std::tan(test.altitudeDegrees * M_PI / 180.0));
            size_t agreeing = 0, withData = 0;
            for (int row = 0; row < test.terrain.height; ++row) {
                for (int column = 0; column < test.terrain.width; ++column) {
                    if (std::isnan(test.terrain.at(column, row))) continue;
                    const bool lit = litByWalking(test.terrain, column, row, azimuth, test.altitudeDegrees);
                    agreeing += lit == (tangents[size_t(row) * test.terrain.width + column] < sunTangent);
                    shadowed += !lit;
                    ++withData;
                }
            }
            EXPECT_GE(agreeing, 0.99 * withData) << test.name << ", azimuth " << azimuth;
            samples += withData;
        }
        EXPECT_GE(shadowed, test.leastShadowShare * samples) << test.name;
    }
}

// Faults: horizons looked for only near the sample, distances in samples instead of world units or
// along the wrong spacing, the sweep starting at the wrong end.
TEST(Horizons, AFarBlockShadesAsGeometrySays) {
    const float BLOCK = 300.0f;
    struct Case {
        const char* name;
        double azimuth;
        int width, height;
        // World distance from the sample to the block's nearest face; 0 or less on the block.
        std::function<double(int column, int row)> distanceToBlock;
    };
    const Case cases[] = {
        {"block in the west", 270.0, 3000, 4, [](int column, int) { return (column - 2) * 2.0; }},
        {"block in the east", 90.0, 3000, 4, [](int column, int) { return (2997 - column) * 2.0; }},
        {"block in the north", 0.0, 4, 3000, [](int, int row) { return (2997 - row) * 5.0; }},
        {"block in the south", 180.0, 4, 3000, [](int, int row) { return (row - 2) * 5.0; }},
    };
    for (const Case& test : cases) {
        const Terrain terrain = generated(test.width, test.height, 2.0f, 5.0f, [&](int column, int row) {
            return test.distanceToBlock(column, row) <= 0.0 ? BLOCK : 0.0f;
        });
        const std::vector<float> tangents = horizonTangents(terrain.grid(), test.azimuth, 2);
        for (int row = 0; row < test.height; ++row) {
            for (int column = 0; column < test.width; ++column) {
                const double distance = test.distanceToBlock(column, row);
                if (distance <= 0.0) continue;
                ASSERT_NEAR(tangents[size_t(row) * test.width + column], BLOCK / distance, 1e-4 * BLOCK / distance)
                    << test.name << ", sample " << column << ", " << row;
            }
        }
    }
}

// Every `factor`-th sample of `columns` x `rows` of the terrain's from (column, row).
Terrain part(const Terrain& terrain, int column, int row, int columns, int rows, int factor) {
    return generated((columns - 1) / factor + 1, (rows - 1) / factor + 1, terrain.columnSpacing * factor,
                     terrain.rowSpacing * factor,
                     [&](int c, int r) { return terrain.at(column + c * factor, row + r * factor); });
}

// A window onto a larger map, seeing the terrain beyond it through coarser grids around it, must
// shade as the whole map at every sample does. Faults: the terrain around taken from the wrong side
// of the line, placed without its origin or factor, walked in the window's steps instead of its own,
// a finer grid around passed over for a coarser one, or left out: the window's case has a ridge
// outside it shading much of it.
TEST(Horizons, AWindowSeesTheTerrainAroundItThroughCoarserGrids) {
    struct Around {
        int column, row, columns, rows, factor;
    };
    struct Case {
        const char* name;
        Terrain terrain;
        int column, row, columns, rows;
        std::vector<Around> surroundings;  // finest first
        double azimuth, altitudeDegrees;
        double leastAgreement;
    };
    const Terrain ridge = syntheticRidge(), olinda = realMap("olinda_dem_utm25s.tif");
    const Case cases[] = {
        {"ridge around at every sample", ridge, 100, 0, 60, 41, {{0, 0, 160, 120, 1}}, 315.0, 8.0, 0.999},
        {"ridge around at every 2nd", ridge, 100, 0, 60, 41, {{0, 0, 159, 119, 2}}, 315.0, 8.0, 0.99},
        {"ridge, a finer grid inside a coarser one", ridge, 110, 4, 40, 30,
         {{90, 0, 70, 61, 2}, {0, 0, 157, 117, 4}}, 300.0, 8.0, 0.99},
        {"Olinda, every 2nd around", olinda, 50, 30, 50, 50, {{0, 0, 111, 111, 2}}, 250.0, 1.5, 0.97},
    };
    for (const Case& test : cases) {
        const std::vector<float> whole = horizonTangents(test.terrain.grid(), test.azimuth, 2);
        const Terrain window = part(test.terrain, test.column, test.row, test.columns, test.rows, 1);
        std::vector<Terrain> coarser;
        for (const Around& around : test.surroundings) {
            coarser.push_back(part(test.terrain, around.column, around.row, around.columns, around.rows, around.factor));
        }
        std::vector<SurroundingGrid> surroundings;
        for (size_t k = 0; k < coarser.size(); ++k) {
            const Around& around = test.surroundings[k];
            surroundings.push_back({coarser[k].grid(), double(around.column - test.column),
                                    double(around.row - test.row), double(around.factor)});
        }
        const std::vector<float> seen = horizonTangents(window.grid(), test.azimuth, 2, surroundings);
        const std::vector<float> alone = horizonTangents(window.grid(), test.azimuth, 2);
        const float sunTangent = float(std::tan(test.altitudeDegrees * M_PI / 180.0));
        size_t agreeing = 0, shadedFromOutside = 0, samples = 0;
        for (int r = 0; r < window.height; ++r) {
            for (int c = 0; c < window.width; ++c) {
                if (std::isnan(window.at(c, r))) continue;
                const float expected = whole[size_t(test.row + r) * test.terrain.width + size_t(test.column + c)];
                const float tangent = seen[size_t(r) * window.width + c];
                agreeing += (tangent < sunTangent) == (expected < sunTangent);
                shadedFromOutside += expected >= sunTangent && alone[size_t(r) * window.width + c] < sunTangent;
                ++samples;
            }
        }
        EXPECT_GE(agreeing, test.leastAgreement * samples) << test.name << ": " << agreeing << " of " << samples;
        EXPECT_GE(shadedFromOutside, 0.02 * samples) << test.name << ": the case needs shadows from outside";
    }
}

// Faults: a void read as a height (0, or a filled value), a NaN taken into the profile behind, so
// that everything beyond it compares false, or let out as a result.
TEST(Horizons, VoidsNeitherOccludeNorHideTheTerrainBeyond) {
    const auto blockVoidsAndPlain = [](bool withVoids) {
        return generated(400, 6, 1.0f, 1.0f, [=](int column, int) {
            if (column < 3) return 100.0f;
            return withVoids && column >= 20 && column < 60 ? NO_DATA : 0.0f;
        });
    };
    const Terrain withVoids = blockVoidsAndPlain(true), withoutVoids = blockVoidsAndPlain(false);
    const std::vector<float> shaded = horizonTangents(withVoids.grid(), 270.0, 2);
    const std::vector<float> expected = horizonTangents(withoutVoids.grid(), 270.0, 2);
    for (size_t sample = 0; sample < shaded.size(); ++sample) {
        ASSERT_TRUE(std::isfinite(shaded[sample])) << sample;
        if (!std::isnan(withVoids.heights[sample])) {
            ASSERT_EQ(shaded[sample], expected[sample]) << sample;
        }
    }

    // Looking east, past the voids and away from the block, nothing rises.
    const std::vector<float> eastwards = horizonTangents(withVoids.grid(), 90.0, 2);
    for (size_t sample = 0; sample < eastwards.size(); ++sample) {
        ASSERT_LE(eastwards[sample], 0.0f) << sample;
    }
}

// Faults: bands of lines given to threads overlapping or leaving gaps, a race on the samples
// between two threads' bands; grids too small to split.
TEST(Horizons, ResultsDoNotDependOnTheThreadCount) {
    const Terrain ridge = syntheticRidge();
    for (const double azimuth : {23.7, 90.0, 135.0, 300.0}) {
        const std::vector<float> alone = horizonTangents(ridge.grid(), azimuth, 1);
        for (const int threads : {2, 3, 8}) {
            EXPECT_EQ(horizonTangents(ridge.grid(), azimuth, threads), alone) << azimuth << ", " << threads;
        }
    }
    for (const auto& [width, height] : {std::pair{1, 1}, {1, 7}, {7, 1}, {0, 0}}) {
        const Terrain flat = generated(width, height, 1.0f, 1.0f, [](int, int) { return 5.0f; });
        const std::vector<float> tangents = horizonTangents(flat.grid(), 60.0, 8);
        ASSERT_EQ(tangents.size(), size_t(width) * height);
        for (const float tangent : tangents) EXPECT_EQ(tangent, LOWEST_HORIZON_TANGENT) << width << " x " << height;
    }
}

// Faults: a sweep built from a NaN direction or a spacing of zero, reading indices out of range.
TEST(Horizons, ArgumentsWithoutGeometryGiveTheFloor) {
    Terrain ridge = syntheticRidge();
    struct Case {
        const char* name;
        float columnSpacing, rowSpacing;
        double azimuth;
    };
    const Case cases[] = {
        {"azimuth NaN", 2.0f, 3.0f, std::nan("")},
        {"azimuth infinite", 2.0f, 3.0f, HUGE_VAL},
        {"column spacing 0", 0.0f, 3.0f, 30.0},
        {"row spacing negative", 2.0f, -3.0f, 30.0},
    };
    for (const Case& test : cases) {
        ridge.columnSpacing = test.columnSpacing;
        ridge.rowSpacing = test.rowSpacing;
        const std::vector<float> tangents = horizonTangents(ridge.grid(), test.azimuth, 2);
        ASSERT_EQ(tangents.size(), ridge.heights.size()) << test.name;
        for (const float tangent : tangents) ASSERT_EQ(tangent, LOWEST_HORIZON_TANGENT) << test.name;
    }
}

// Faults: a plane's own interpolated samples seen as rising above it; the sky's share taken as
// cos(h) or not averaged over directions; a valley's floor seeing past its slopes.
TEST(Horizons, SkyVisibilityIsWholeOnAPlaneAndLeastOnAValleyFloor) {
    const Terrain plane = generated(90, 70, 3.0f, 2.0f, [](int, int) { return 100.0f; });
    for (const double azimuth : {0.0, 30.0, 45.0, 90.0, 135.0, 180.0, 250.0, 315.0}) {
        for (const float tangent : horizonTangents(plane.grid(), azimuth, 2)) ASSERT_LE(tangent, 0.0f) << azimuth;
    }
    for (const float share : skyVisibility(plane.grid(), 16, 2)) ASSERT_FLOAT_EQ(share, 1.0f);

    // Slopes rising one unit per unit away from the floor along the middle column, as far as the
    // rims at the edges: looking towards azimuth a, the floor's horizon has tangent |sin a|.
    const int middle = 60;
    const Terrain valley = generated(2 * middle + 1, 80, 1.0f, 1.0f, [](int column, int) {
        return float(std::abs(column - middle));
    });
    const int directions = 16;
    double expectedFloor = 0.0;
    for (int direction = 0; direction < directions; ++direction) {
        const double rise = std::sin(2.0 * M_PI * direction / directions);
        expectedFloor += 1.0 / (1.0 + rise * rise) / directions;
    }
    const std::vector<float> visibility = skyVisibility(valley.grid(), directions, 2);
    const int row = 40;
    const float floor = visibility[row * valley.width + middle];
    EXPECT_NEAR(floor, expectedFloor, 0.01);
    for (const int rim : {0, valley.width - 1}) {
        EXPECT_GT(visibility[row * valley.width + rim], 0.99f) << rim;
    }
}

// A window's shares fade into the layer around it within its own texels, so that a point takes its
// share from one layer: at the window's edge they must be the coarser layer's as filtered there
// (else a seam), inside the fade its own, and on a side on the map's edge nothing fades.
TEST(TerrainShadows, AWindowFadesIntoTheLayerAroundItWithinItsOwnTexels) {
    constexpr int SIDE = 40, FADE = 8;
    constexpr float WITHOUT_END = 1e30f;
    struct Case {
        const char* name;
        float west;  // the window's western reach
        int column, row;
        int expected;
    };
    // The coarser layer holds 2 * column + row of its own grid, every 4th sample from the map's
    // corner, which bilinear filtering reproduces exactly between its texels; the window holds 200.
    const std::vector<Case> cases = {
        {"south-western corner, on the edge", 40.0f, 0, 0, 25},     // map (40, 20): 2 * 10 + 5
        {"eastern edge", 40.0f, SIDE - 1, 20, 50},                   // map (79, 40): 2 * 19.75 + 10 = 49.5
        {"half way into the fade", 40.0f, 4, 10, 115},               // (22 + 7.5) / 2 + 100 = 114.75
        {"inside the fade's depth", 40.0f, 20, 20, 200},
        {"western side on the map's edge", -WITHOUT_END, 0, 20, 200},
        // Map (40, 58), a sample inside the northern edge: 34.5 * 7 / 8 + 200 / 8 = 55.19.
        {"western side on the map's edge, by the northern side", -WITHOUT_END, 0, SIDE - 2, 55},
    };
    for (const Case& test : cases) {
        std::vector<uint8_t> texture(2 * SIDE * SIDE, 0);
        for (int row = 0; row < 33; ++row) {
            for (int column = 0; column < 33; ++column) texture[row * SIDE + column] = uint8_t(2 * column + row);
        }
        std::fill(texture.begin() + SIDE * SIDE, texture.end(), uint8_t(200));
        ShadowLayerPlace coarse{0.0f, 0.0f, 4.0f, {-WITHOUT_END, -WITHOUT_END, WITHOUT_END, WITHOUT_END}};
        ShadowLayerPlace window{40.0f, 20.0f, 1.0f, {test.west, 20.0f, 79.0f, 59.0f}};
        const LayerTexels coarser{texture.data(), 33, 33, SIDE, coarse};
        fadeIntoCoarser(LayerTexels{texture.data() + SIDE * SIDE, SIDE, SIDE, SIDE, window}, coarser, FADE);
        EXPECT_EQ(int(texture[SIDE * SIDE + test.row * SIDE + test.column]), test.expected) << test.name;
        EXPECT_EQ(int(texture[5 * SIDE + 7]), 19) << test.name << ": the coarser layer changed";
    }
}

}  // namespace
