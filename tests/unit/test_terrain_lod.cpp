// The level-of-detail quadtree without GL: level errors, the view frustum's planes, and node choices
// that cover the map exactly once with neighbours never more than one level apart (no cracks).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "scene/TerrainLodTree.h"

namespace {

std::vector<uint16_t> rollingSamples(int width, int height) {
    std::vector<uint16_t> samples(size_t(width) * size_t(height));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const double h = 0.5 + 0.25 * std::sin(column * 0.11) + 0.25 * std::cos(row * 0.07 + column * 0.03);
            samples[size_t(row) * size_t(width) + size_t(column)] = static_cast<uint16_t>(h * 65535.0);
        }
    }
    return samples;
}

// Level k's surface at a sample, as the grid draws it: vertices every 2^k samples and on the last
// column and row, each quad split from its next row's corner to its next column's.
float levelSurface(const std::vector<uint16_t>& samples, int width, int height, int level, int column, int row) {
    const int step = 1 << level;
    const auto at = [&](int c, int r) { return static_cast<float>(samples[size_t(r) * size_t(width) + size_t(c)]); };
    const int c0 = std::min(column, width - 2) / step * step, c1 = std::min(c0 + step, width - 1);
    const int r0 = std::min(row, height - 2) / step * step, r1 = std::min(r0 + step, height - 1);
    const float x = float(column - c0) / float(c1 - c0), y = float(row - r0) / float(r1 - r0);
    if (x + y <= 1.0f) return at(c0, r0) * (1.0f - x - y) + at(c1, r0) * x + at(c0, r1) * y;
    return at(c1, r1) * (x + y - 1.0f) + at(c1, r0) * (1.0f - y) + at(c0, r1) * (1.0f - x);
}

// A square grid one unit apart whose samples stand heightPerValue high per step.
TerrainGeometry squareGrid(float heightPerValue) {
    TerrainGeometry geometry;
    geometry.heightPerValue = heightPerValue;
    return geometry;
}

Frustum everything() {
    Frustum frustum;
    for (vec4& plane : frustum.planes) plane = vec4{0, 0, 0, 1};
    return frustum;
}

}  // namespace

TEST(TerrainLodTree, LevelsGrowUntilOneNodeCoversTheMapAndTheirErrorsNeverShrink) {
    const struct {
        int width, height, levels;
    } cases[] = {{1, 1, 1}, {17, 17, 1}, {18, 2, 2}, {257, 100, 5}, {513, 513, 6}};
    for (const auto& c : cases) {
        const std::vector<uint16_t> samples = rollingSamples(c.width, c.height);
        const TerrainLodTree tree(samples.data(), c.width, c.height, squareGrid(20.0f / 65535.0f));
        EXPECT_EQ(tree.levelCount(), c.levels) << c.width << " x " << c.height;
        EXPECT_EQ(tree.levelError(0), 0.0f);
        for (int level = 1; level < tree.levelCount(); ++level) {
            EXPECT_GE(tree.levelError(level), tree.levelError(level - 1));
        }
    }
    const std::vector<uint16_t> flat(33 * 33, 1000);
    const TerrainLodTree flatTree(flat.data(), 33, 33, squareGrid(0.01f));
    EXPECT_EQ(flatTree.levelError(flatTree.levelCount() - 1), 0.0f) << "a plane is exact at every level";
}

TEST(TerrainLodTree, LevelErrorsBoundEachLevelsDistanceFromEverySample) {
    const struct {
        int width, height;
    } sizes[] = {{33, 33}, {65, 65}, {47, 49}, {50, 37}, {90, 70}, {100, 18}, {18, 2}, {2, 125}};
    std::mt19937 random(16);
    for (const auto& size : sizes) {
        // Noise growing towards the last column and row, where most sizes cut the grid's quads short.
        std::vector<uint16_t> samples;
        for (int row = 0; row < size.height; ++row) {
            for (int column = 0; column < size.width; ++column) {
                const unsigned reach = unsigned((column + 1) * (row + 1));
                const unsigned amplitude = 1u + 65535u * reach / unsigned(size.width * size.height);
                samples.push_back(static_cast<uint16_t>(random() % amplitude));
            }
        }
        const TerrainLodTree tree(samples.data(), size.width, size.height, squareGrid(1.0f));
        for (int level = 1; level < tree.levelCount(); ++level) {
            float largest = 0.0f;
            for (int row = 0; row < size.height; ++row) {
                for (int column = 0; column < size.width; ++column) {
                    const float sample = samples[size_t(row) * size_t(size.width) + size_t(column)];
                    const float surface = levelSurface(samples, size.width, size.height, level, column, row);
                    largest = std::max(largest, std::fabs(surface - sample));
                }
            }
            EXPECT_GE(tree.levelError(level), largest) << size.width << " x " << size.height << " level " << level;
        }
    }
}

TEST(TerrainLodTree, BandsOwnEachRowOnceAndGivenInAnyOrderOrKeptBuildTheWholeMapsTree) {
    const struct {
        int width, height;
    } sizes[] = {{1, 1}, {40, 1}, {2, 125}, {100, 18}, {33, 33}, {301, 257}, {130, 600}};
    const auto nodes = [](const std::vector<LodInstance>& chosen) {
        std::vector<std::array<float, 4>> fields;
        for (const LodInstance& node : chosen) fields.push_back({node.column, node.row, node.spacing, node.level});
        return fields;
    };
    for (const auto& size : sizes) {
        // A peak in the first band, for the coarse nodes above it to take from there.
        std::vector<uint16_t> samples = rollingSamples(size.width, size.height);
        samples[size_t(size.width) / 3] = 65535;
        const TerrainGeometry geometry = squareGrid(20.0f / 65535.0f);
        TerrainLodTree whole(samples.data(), size.width, size.height, geometry);
        TerrainLodTree banded(size.width, size.height, geometry);
        int nextRow = 0;
        for (int index = 0; index < banded.bandCount(); ++index) {
            const TerrainLodTree::Band band = banded.band(index);
            EXPECT_EQ(band.firstRow, nextRow) << size.width << " x " << size.height << " band " << index;
            EXPECT_TRUE(band.ownRows <= band.readRows && band.firstRow + band.readRows <= size.height);
            nextRow += band.ownRows;
        }
        EXPECT_EQ(nextRow, size.height) << size.width << " x " << size.height;
        for (int index = banded.bandCount() - 1; index >= 0; --index) {
            banded.addBand(index, samples.data() + size_t(banded.band(index).firstRow) * size_t(size.width));
        }
        // The tree kept for the next start and taken back is the same tree; a kept tree cut short
        // or of another size is refused.
        const std::string kept = whole.kept();
        TerrainLodTree restored(size.width, size.height, geometry);
        ASSERT_TRUE(restored.takeKept(kept)) << size.width << " x " << size.height;
        EXPECT_FALSE(TerrainLodTree(size.width, size.height, geometry).takeKept(kept.substr(0, kept.size() - 1)));
        EXPECT_FALSE(TerrainLodTree(size.width, size.height, geometry).takeKept(kept + "x"));
        EXPECT_FALSE(TerrainLodTree(size.width + 1, size.height, geometry).takeKept(kept));
        for (int level = 0; level < whole.levelCount(); ++level) {
            EXPECT_EQ(banded.levelError(level), whole.levelError(level)) << size.width << " x " << size.height;
            EXPECT_EQ(restored.levelError(level), whole.levelError(level)) << size.width << " x " << size.height;
        }
        whole.setViewport(600.0f, 1.0f);
        banded.setViewport(600.0f, 1.0f);
        restored.setViewport(600.0f, 1.0f);
        // Only what rises above the rolling ground is in view: the nodes over the peak.
        Frustum aboveTheGround = everything();
        aboveTheGround.planes[0] = vec4{0, 1, 0, -16};
        LodSelection fromWhole, fromBands;
        const vec3 eye{0.3f * float(size.width), 30.0f, -0.6f * float(size.height)};
        whole.select(eye, aboveTheGround, fromWhole);
        banded.select(eye, aboveTheGround, fromBands);
        EXPECT_FALSE(fromWhole.wholeNodes.empty() && fromWhole.quarterNodes.empty());
        EXPECT_EQ(nodes(fromBands.wholeNodes), nodes(fromWhole.wholeNodes)) << size.width << " x " << size.height;
        EXPECT_EQ(nodes(fromBands.quarterNodes), nodes(fromWhole.quarterNodes)) << size.width << " x " << size.height;
        LodSelection fromKept;
        restored.select(eye, aboveTheGround, fromKept);
        EXPECT_EQ(nodes(fromKept.wholeNodes), nodes(fromWhole.wholeNodes)) << size.width << " x " << size.height;
        EXPECT_EQ(nodes(fromKept.quarterNodes), nodes(fromWhole.quarterNodes)) << size.width << " x " << size.height;
    }
}

TEST(TerrainLodTree, ChosenNodesCoverTheMapOnceWithNeighboursAtMostOneLevelApart) {
    // Rows of nodes are counted from the north but anchored at the southern edge, where the level
    // errors were measured: a height that is not one more than a multiple of every level's node
    // side leaves the northern row of nodes of each level reaching past the northern edge, by a
    // different amount on each level, and a node's northern children need not be rows 2r and 2r + 1.
    const struct {
        int width, height;
    } sizes[] = {{301, 257}, {301, 201}};
    for (const auto& size : sizes) {
        const int width = size.width, height = size.height;
        const std::vector<uint16_t> samples = rollingSamples(width, height);
        TerrainLodTree tree(samples.data(), width, height, squareGrid(20.0f / 65535.0f));
        tree.setViewport(600.0f, 1.0f);
        const vec3 eyes[] = {{0, 20, 0}, {150, 5, -128}, {-400, 300, 200}, {300, 1, -256}, {150, 5, -198}};
        for (const vec3& eye : eyes) {
            LodSelection selection;
            tree.select(eye, everything(), selection);
            std::vector<int> levelOfQuad(size_t(width - 1) * size_t(height - 1), -1);
            int overlaps = 0;
            const auto cover = [&](const std::vector<LodInstance>& nodes, int quads) {
                for (const LodInstance& node : nodes) {
                    const int side = quads * static_cast<int>(node.spacing);
                    EXPECT_EQ((height - 1 - (int(node.row) + side)) % side, 0) << height << " rows: off the grid";
                    const int endRow = std::min(int(node.row) + side, height - 1);
                    const int endColumn = std::min(int(node.column) + side, width - 1);
                    for (int row = std::max(int(node.row), 0); row < endRow; ++row) {
                        for (int column = int(node.column); column < endColumn; ++column) {
                            int& level = levelOfQuad[size_t(row) * size_t(width - 1) + size_t(column)];
                            if (level >= 0) ++overlaps;
                            level = static_cast<int>(node.level);
                        }
                    }
                }
            };
            cover(selection.wholeNodes, TerrainLodTree::GRID_QUADS);
            cover(selection.quarterNodes, TerrainLodTree::GRID_QUADS / 2);
            const auto levelAt = [&](int row, int column) {
                return levelOfQuad[size_t(row) * size_t(width - 1) + size_t(column)];
            };
            int uncovered = 0, steps = 0;
            for (int row = 0; row < height - 1; ++row) {
                for (int column = 0; column < width - 1; ++column) {
                    const int level = levelAt(row, column);
                    if (level < 0) ++uncovered;
                    if (column > 0 && std::abs(level - levelAt(row, column - 1)) > 1) ++steps;
                    if (row > 0 && std::abs(level - levelAt(row - 1, column)) > 1) ++steps;
                }
            }
            EXPECT_EQ(overlaps, 0) << height << " rows, eye " << eye.x << ", " << eye.y << ", " << eye.z;
            EXPECT_EQ(uncovered, 0) << height << " rows, eye " << eye.x << ", " << eye.y << ", " << eye.z;
            EXPECT_EQ(steps, 0) << height << " rows, eye " << eye.x << ", " << eye.y << ", " << eye.z;
            EXPECT_GT(TerrainLodTree::triangleCount(selection), 0u);
        }
    }
}

TEST(TerrainLodTree, OnlyTheNodesOverAPeakRiseAboveFlatGround) {
    // Seen only above the flat ground, the nodes chosen are those holding the peak, wherever it
    // stands: near the northern edge it lies in the rows of nodes that reach past that edge. A node
    // given the sample bounds of another row of nodes (the bands' rows count from the south) rises
    // where the peak is not.
    const int width = 301, height = 201;
    const struct {
        int column, rowFromNorth;
    } peaks[] = {{150, 2}, {150, 100}, {40, 199}};
    for (const auto& peak : peaks) {
        std::vector<uint16_t> samples(size_t(width) * size_t(height), 1000);
        samples[size_t(height - 1 - peak.rowFromNorth) * size_t(width) + size_t(peak.column)] = 65535;
        TerrainLodTree tree(samples.data(), width, height, squareGrid(20.0f / 65535.0f));
        tree.setViewport(600.0f, 1.0f);
        Frustum aboveTheGround = everything();
        aboveTheGround.planes[0] = vec4{0, 1, 0, -10};
        LodSelection selection;
        tree.select(vec3{150, 30, -100}, aboveTheGround, selection);
        EXPECT_FALSE(selection.wholeNodes.empty() && selection.quarterNodes.empty()) << peak.rowFromNorth;
        const auto expectThePeak = [&](const std::vector<LodInstance>& nodes, int quads) {
            for (const LodInstance& node : nodes) {
                const int side = quads * static_cast<int>(node.spacing);
                EXPECT_TRUE(node.column <= peak.column && peak.column <= node.column + side &&
                            node.row <= peak.rowFromNorth && peak.rowFromNorth <= node.row + side)
                    << "peak in row " << peak.rowFromNorth << ", node at " << node.column << ", " << node.row;
            }
        };
        expectThePeak(selection.wholeNodes, TerrainLodTree::GRID_QUADS);
        expectThePeak(selection.quarterNodes, TerrainLodTree::GRID_QUADS / 2);
    }
}

TEST(TerrainLodTree, NodesOutsideTheFrustumAreNotDrawn) {
    const std::vector<uint16_t> samples = rollingSamples(129, 129);
    TerrainLodTree tree(samples.data(), 129, 129, squareGrid(20.0f / 65535.0f));
    tree.setViewport(600.0f, 1.0f);
    Frustum westOfTheMap = everything();
    westOfTheMap.planes[0] = vec4{-1, 0, 0, -1};  // x <= -1 only
    LodSelection selection;
    tree.select(vec3{64, 10, -64}, westOfTheMap, selection);
    EXPECT_TRUE(selection.wholeNodes.empty());
    EXPECT_TRUE(selection.quarterNodes.empty());
}

TEST(Frustum, PlanesFromAViewAndProjectionHoldJustThePointsInView) {
    // From (10, 5, 0) along -z, a right angle high and twice as wide, from 1 to 100 away: at
    // distance 50 the view reaches 50 up and down and 100 to either side. The same view with
    // reversed depth, whose clip-space depth runs from 0 to 1, holds the same points.
    const mat4 view = lookAt(vec3{10, 5, 0}, vec3{10, 5, -1}, vec3{0, 1, 0});
    const Frustum frusta[] = {
        Frustum::fromClipMatrix(perspective(3.1415927f / 2.0f, 2.0f, 1.0f, 100.0f) * view),
        Frustum::fromClipMatrix(reversedPerspective(3.1415927f / 2.0f, 2.0f, 1.0f, 100.0f) * view, true),
    };
    const struct {
        vec3 point;
        bool inView;
    } cases[] = {
        {{10, 5, -50}, true},    {{10, 5, 50}, false},                              // ahead, behind
        {{10, 5, -0.5f}, false}, {{10, 5, -99}, true},    {{10, 5, -101}, false},   // near and far
        {{10, 52, -50}, true},   {{10, 58, -50}, false},  {{10, -42, -50}, true},   {{10, -48, -50}, false},
        {{105, 5, -50}, true},   {{115, 5, -50}, false},  {{-85, 5, -50}, true},    {{-95, 5, -50}, false},
    };
    for (const Frustum& frustum : frusta) {
        for (const auto& c : cases) {
            bool inView = true;
            for (const vec4& plane : frustum.planes) {
                inView = inView && plane.x * c.point.x + plane.y * c.point.y + plane.z * c.point.z + plane.w >= 0;
            }
            EXPECT_EQ(inView, c.inView) << (&frustum == &frusta[0] ? "" : "reversed: ") << c.point.x << ", "
                                        << c.point.y << ", " << c.point.z;
        }
    }
}

TEST(TerrainLodTree, HeightsPlacedAnewChooseTheNodesATreeBuiltWithThemChooses) {
    // Faults caught: errors or boxes left at the heights the tree was built with, so that
    // exaggerated heights are drawn from levels too coarse (or too fine) for the budget, or not
    // restored when the exaggeration comes back down.
    const int width = 301, height = 257;
    const std::vector<uint16_t> samples = rollingSamples(width, height);
    const float builtPerValue = 20.0f / 65535.0f;
    TerrainLodTree tree(samples.data(), width, height, squareGrid(builtPerValue));
    const auto chosen = [](const TerrainLodTree& lod, const vec3& eye) {
        LodSelection selection;
        lod.select(eye, everything(), selection);
        std::vector<std::array<float, 5>> nodes;
        for (const auto& [part, list] : {std::pair{0.0f, &selection.wholeNodes}, std::pair{1.0f, &selection.quarterNodes}})
            for (const LodInstance& node : *list) nodes.push_back({part, node.level, node.column, node.row, node.spacing});
        return nodes;
    };
    for (const float exaggeration : {4.0f, 0.25f, 1.0f}) {
        const float perValue = builtPerValue * exaggeration;
        tree.placeHeights(squareGrid(perValue));
        TerrainLodTree built(samples.data(), width, height, squareGrid(perValue));
        for (int level = 0; level < tree.levelCount(); ++level) {
            EXPECT_FLOAT_EQ(tree.levelError(level), built.levelError(level)) << exaggeration << ", level " << level;
        }
        tree.setViewport(600.0f, 2.0f);
        built.setViewport(600.0f, 2.0f);
        for (const vec3& eye : {vec3{150, 30, -128}, vec3{0, 5, 0}, vec3{300, 80, -256}}) {
            EXPECT_EQ(chosen(tree, eye), chosen(built, eye)) << "exaggeration " << exaggeration << ", eye at " << eye.y;
        }
    }
}
