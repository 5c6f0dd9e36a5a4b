// The streamed terrain's bookkeeping without GL: the layer a tile takes in the cache, and the tree's
// level errors, node boxes and wanted tiles, all learnt from tiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "scene/TerrainStreamTree.h"
#include "scene/TileCache.h"

namespace {

// A tile of `quads` with flat samples, and bounds and an error of the caller's choosing.
Tile boundedTile(TileKey key, float minimum, float maximum, float error = 0.0f, int quads = 256) {
    Tile tile;
    tile.key = key;
    tile.samples.assign(size_t(tileSide(quads)) * size_t(tileSide(quads)), minimum);
    tile.minimum = minimum;
    tile.maximum = maximum;
    tile.error = error;
    return tile;
}

// The levels of a map of width x height samples decimated until one tile of `quads` holds it.
TileMap mapOf(int width, int height, int quads) {
    RasterInfo info;
    for (int w = width, h = height, level = 0; level < 20; ++level, w = (w - 1) / 2 + 1, h = (h - 1) / 2 + 1) {
        info.levels.push_back(RasterSize{w, h});
    }
    TileMap map;
    map.tileQuads = quads;
    map.levels = tileLevelsOf(info, quads);
    return map;
}

// Tile `key` of a map whose samples are given bottom row first: level k keeps every 2^k-th sample
// counted from the north-west corner, and beyond its edges repeats its edge samples.
Tile cutTile(const std::vector<uint16_t>& samples, int width, int height, const TileMap& map, const TileKey& key) {
    const int quads = map.tileQuads;
    const TileLevel& level = map.levels[size_t(key.level)];
    Tile tile;
    tile.key = key;
    tile.samples.resize(size_t(tileSide(quads)) * size_t(tileSide(quads)));
    for (int t = -1; t <= quads + 1; ++t) {
        for (int s = -1; s <= quads + 1; ++s) {
            const int column = std::clamp(key.column * quads + s, 0, level.width - 1) << key.level;
            const int northRow = std::clamp(key.row * quads + quads - t, 0, level.height - 1) << key.level;
            tile.samples[tileSampleIndex(quads, s, t)] = samples[size_t(height - 1 - northRow) * size_t(width) + size_t(column)];
        }
    }
    measureTile(tile, quads, level);
    return tile;
}

TerrainGeometry unitGrid() {
    TerrainGeometry geometry;
    geometry.heightPerValue = 1.0f;
    return geometry;
}

Frustum everything() {
    Frustum frustum;
    for (vec4& plane : frustum.planes) plane = vec4{0, 0, 0, 1};
    return frustum;
}

}  // namespace

TEST(TileCache, ReplacesTheLeastRecentlyUsedTileNeverAPinnedOneNorOneTheFrameUses) {
    TileCache cache(3);
    std::optional<TileKey> replaced;
    const TileKey coarse{1, 0, 0}, a{0, 0, 0}, b{0, 1, 0}, c{0, 0, 1}, d{0, 1, 1};
    EXPECT_EQ(cache.place(boundedTile(coarse, 0, 1), true, 0, replaced), 0);
    EXPECT_EQ(cache.place(boundedTile(a, 0, 1), false, 1, replaced), 1);
    EXPECT_EQ(cache.place(boundedTile(b, 0, 1), false, 1, replaced), 2);
    EXPECT_FALSE(replaced) << "free layers go first";

    cache.use(cache.find(a), 2);
    EXPECT_EQ(cache.place(boundedTile(c, 0, 1), false, 2, replaced), 2);
    EXPECT_EQ(replaced, std::optional<TileKey>(b));
    EXPECT_EQ(cache.find(b), -1);
    EXPECT_EQ(cache.find(c), 2);
    EXPECT_EQ(cache.place(boundedTile(d, 0, 1), false, 2, replaced), -1) << "every other layer serves frame 2";

    EXPECT_EQ(cache.place(boundedTile(d, 5, 7), false, 3, replaced), 1) << "a and c tie; the first goes";
    EXPECT_EQ(replaced, std::optional<TileKey>(a));
    EXPECT_EQ(cache.layer(1).minimum, 5.0f);
    EXPECT_EQ(cache.find(coarse), 0);
    EXPECT_EQ(cache.pinnedCount(), 1);
}

TEST(TerrainStreamTree, LevelErrorsLearntFromEveryTileAreLevelOfDetailsOwn) {
    // 2^9 + 1 samples: the levels anchored at the north-west corner are those anchored at the south-west.
    const int side = 513;
    std::vector<uint16_t> samples(size_t(side) * side);
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const double h = 0.5 + 0.25 * std::sin(column * 0.11) + 0.25 * std::cos(row * 0.07 + column * 0.03);
            samples[size_t(row) * side + size_t(column)] = static_cast<uint16_t>(h * 65535.0 * (row + 1) / side);
        }
    }
    const TerrainLodTree lod(samples.data(), side, side, unitGrid());
    // Small tiles, for levels beyond the pyramid's coarsest as well as within it.
    const TileMap map = mapOf(side, side, 64);
    TerrainStreamTree tree(map, unitGrid());
    ASSERT_EQ(tree.levelCount(), lod.levelCount());
    ASSERT_LT(tree.coarsestTileLevel(), tree.levelCount() - 1);
    for (int level = 0; level < static_cast<int>(map.levels.size()); ++level) {
        for (int row = 0; row < map.levels[size_t(level)].rows; ++row) {
            for (int column = 0; column < map.levels[size_t(level)].columns; ++column) {
                tree.noteTile(cutTile(samples, side, side, map, TileKey{level, column, row}));
            }
        }
    }
    for (int level = 0; level < tree.levelCount(); ++level) {
        EXPECT_NEAR(tree.levelError(level), lod.levelError(level), 1e-5f * lod.levelError(level)) << "level " << level;
    }
}

TEST(TerrainStreamTree, NodesTakeTheirBoxesFromTheirTilesOrTheNearestAncestorHeld) {
    // Four tiles on level 0 under one coarsest tile that rises to 45, whose level lies within 8 of
    // level 0; only what reaches above 50 is in view. The north-western tile is missing throughout,
    // so its nodes may rise to 53, and are drawn.
    const struct {
        const char* name;
        std::optional<Tile> northEast;
        bool drawn;
    } cases[] = {
        {"missing", std::nullopt, true},
        {"held, rising above the view's floor", boundedTile({0, 1, 0}, 0, 60), true},
        {"held, lying below it", boundedTile({0, 1, 0}, 0, 40), false},
        {"held, without data", boundedTile({0, 1, 0}, std::numeric_limits<float>::infinity(),
                                           -std::numeric_limits<float>::infinity()), false},
    };
    const TileMap map = mapOf(513, 513, 256);
    for (const auto& c : cases) {
        TerrainStreamTree tree(map, unitGrid());
        TileCache cache(8);
        std::optional<TileKey> replaced;
        const Tile coarsest = boundedTile({1, 0, 0}, 0, 45, 1.0f);
        cache.place(coarsest, true, 0, replaced);
        tree.noteTile(coarsest);
        tree.noteTile(boundedTile({0, 0, 1}, 0, 0, 8.0f));
        if (c.northEast) cache.place(*c.northEast, false, 0, replaced);
        // Every node at level 0.
        tree.setViewport(1e9f, 1.0f);
        Frustum above = everything();
        above.planes[0] = vec4{0, 1, 0, -50};
        LodSelection selection;
        std::vector<TileKey> wanted;
        tree.select(vec3{256, 200, -256}, above, cache, 8, selection, wanted);

        bool northEastDrawn = false, northWestDrawn = false;
        for (const LodInstance& node : selection.wholeNodes) {
            EXPECT_EQ(node.level, 0.0f) << c.name;
            // Rows count south from the northern edge: the northern tiles' nodes lie above row 256.
            if (node.row < 256) (node.column >= 256 ? northEastDrawn : northWestDrawn) = true;
        }
        EXPECT_EQ(northEastDrawn, c.drawn) << c.name;
        EXPECT_TRUE(northWestDrawn) << c.name;
        EXPECT_EQ(std::count(wanted.begin(), wanted.end(), TileKey{0, 1, 0}), c.drawn ? 1 : 0) << c.name;
        EXPECT_EQ(std::count(wanted.begin(), wanted.end(), TileKey{0, 0, 0}), 1) << c.name;
        EXPECT_EQ(std::count(wanted.begin(), wanted.end(), TileKey{1, 0, 0}), 0) << c.name << ": pinned";
    }
}

TEST(TerrainStreamTree, ChosenNodesCoverTheMapOnceAndWantTheirTilesCoarseFirstThenNearest) {
    const int width = 1100, height = 700;
    const TileMap map = mapOf(width, height, 128);
    TerrainStreamTree tree(map, unitGrid());
    TileCache cache(64);
    std::optional<TileKey> replaced;
    const Tile coarsest = boundedTile({tree.coarsestTileLevel(), 0, 0}, 0, 10, 2.0f, 128);
    cache.place(coarsest, true, 0, replaced);
    tree.noteTile(coarsest);
    tree.setViewport(600.0f, 1.0f);
    const vec3 eye{100, 20, -600};
    LodSelection selection;
    std::vector<TileKey> wanted;
    tree.select(eye, everything(), cache, 1000, selection, wanted);

    std::vector<int> covered(size_t(width - 1) * size_t(height - 1), 0);
    const auto cover = [&](const std::vector<LodInstance>& nodes, int quads) {
        for (const LodInstance& node : nodes) {
            const int side = quads * static_cast<int>(node.spacing);
            for (int row = std::max(int(node.row), 0); row < std::min(int(node.row) + side, height - 1); ++row) {
                for (int column = int(node.column); column < std::min(int(node.column) + side, width - 1); ++column) {
                    ++covered[size_t(row) * size_t(width - 1) + size_t(column)];
                }
            }
        }
    };
    cover(selection.wholeNodes, TerrainStreamTree::GRID_QUADS);
    cover(selection.quarterNodes, TerrainStreamTree::GRID_QUADS / 2);
    EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), std::ptrdiff_t(covered.size()));

    ASSERT_GT(wanted.size(), 2u);
    for (size_t k = 1; k < wanted.size(); ++k) EXPECT_GE(wanted[k - 1].level, wanted[k].level) << k;
    // The finest level's first tile lies under the eye: the eye stands over the tile's column 0,
    // in the northern rows of level 0's tiles (rows counted south from the north).
    EXPECT_EQ(wanted.back().level, 0);
    const auto finest = std::find_if(wanted.begin(), wanted.end(), [](const TileKey& key) { return key.level == 0; });
    EXPECT_EQ(*finest, (TileKey{0, 0, (height - 1 - 600) / 128}));

    std::vector<TileKey> fewer;
    tree.select(eye, everything(), cache, 3, selection, fewer);
    EXPECT_EQ(fewer, std::vector<TileKey>(wanted.begin(), wanted.begin() + 3));
}
