// Stills drawn in tiles: where the tiles lie, and the blur grid that lets each blur as the whole
// picture does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "post/BlurGrid.h"
#include "tools/shot/PosterLayout.h"

namespace {

std::string nameOf(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

}  // namespace

// Worked out by hand from the frame's blur: a final pixel reads the next blur texel too (1), each
// horizontal pass reaches 4 taps of 10, 5 and eight times 1 texels (92), and a texel reads the two
// middle pixels of its 4: (1 + 92) x 4 + 2 = 374 across. Down, the first pass reads the scene's own
// pixels, 4 taps of 10 (40), the others (1 + 52) texels: 53 x 4 + 2 + 40 = 254. Catches a reach
// that counts the first pass in texels, or leaves out the final pass's filter; too short a margin
// shows as a seam in the bloom only faintly, so the pictures do not.
TEST(PosterLayout, TheMarginIsTheBloomsReachInWholeTexelsAndOneMore) {
    EXPECT_EQ(bloomReach().across, 374);
    EXPECT_EQ(bloomReach().down, 254);
    EXPECT_EQ(posterMargin().across, 380);
    EXPECT_EQ(posterMargin().down, 260);
}

// Catches a pixel kept twice or never, a tile drawn with less of the view around it than its margin,
// a tile drawn beyond the picture or off the blur's texel grid, and bands written from the bottom.
TEST(PosterLayout, TilesKeepEveryPixelOnceWithTheirMarginsDrawnWithinThePicture) {
    const PixelReach margin{380, 260};
    const struct {
        int width, height, tileSide;
        int columns, rows, drawnWidth, drawnHeight;
    } cases[] = {
        {1600, 1200, 4096, 1, 1, 1600, 1200},       // drawn at once
        {4856, 4616, 4096, 1, 1, 4856, 4616},       // the largest drawn at once
        {4857, 4616, 4096, 2, 1, 4856, 4616},       // one pixel more: two tiles across, one down
        {12000, 8000, 4096, 3, 2, 4856, 4616},
        {1520, 1280, 504, 4, 3, 1264, 1024},
        {1527, 1287, 764, 2, 2, 1524, 1284},        // sides that are no multiple of 4
        {32768, 64, 64, 512, 1, 824, 64},
    };
    for (const auto& c : cases) {
        const std::string where = nameOf(c.width, c.height) + " in tiles of " + std::to_string(c.tileSide);
        const PosterLayout layout = planPoster(c.width, c.height, c.tileSide, margin);
        EXPECT_EQ(layout.drawnWidth, c.drawnWidth) << where;
        EXPECT_EQ(layout.drawnHeight, c.drawnHeight) << where;
        ASSERT_EQ(static_cast<int>(layout.bands.size()), c.rows) << where;
        EXPECT_EQ(layout.tileCount(), c.columns * c.rows) << where;
        int bandTop = c.height;
        for (const PosterBand& band : layout.bands) {
            EXPECT_EQ(band.y + band.height, bandTop) << where;
            bandTop = band.y;
            int keptRight = 0;
            ASSERT_EQ(static_cast<int>(band.tiles.size()), c.columns) << where;
            for (const PosterTile& tile : band.tiles) {
                const PixelRect &kept = tile.kept, &drawn = tile.drawn;
                const std::string at = where + ", tile at " + nameOf(kept.x, kept.y);
                EXPECT_TRUE(kept.x == keptRight && kept.y == band.y && kept.height == band.height) << at;
                keptRight = kept.x + kept.width;
                EXPECT_TRUE(drawn.width == layout.drawnWidth && drawn.height == layout.drawnHeight) << at;
                EXPECT_TRUE(drawn.x >= 0 && drawn.y >= 0 && drawn.x + drawn.width <= c.width &&
                            drawn.y + drawn.height <= c.height) << at;
                // The margin around the kept part, or as much of it as the picture has.
                EXPECT_LE(drawn.x, std::max(0, kept.x - margin.across)) << at;
                EXPECT_LE(drawn.y, std::max(0, kept.y - margin.down)) << at;
                EXPECT_GE(drawn.x + drawn.width, std::min(c.width, keptRight + margin.across)) << at;
                EXPECT_GE(drawn.y + drawn.height, std::min(c.height, kept.y + kept.height + margin.down)) << at;
                EXPECT_FALSE(c.width % 4 == 0 && drawn.x % 4 != 0) << at;
                EXPECT_FALSE(c.height % 4 == 0 && drawn.y % 4 != 0) << at;
            }
            EXPECT_EQ(keptRight, c.width) << where;
        }
        EXPECT_EQ(bandTop, 0) << where;
    }
}

// Catches a part that blurs on a grid of its own, which shifts the bloom by up to three pixels from
// one tile to the next where a side is no multiple of 4, a part short of the texels it touches, and
// a whole picture whose grid moved by a bit, which would change every picture drawn at once.
TEST(BlurGrid, APartReadsAndIsReadOnTheWholePicturesTexels) {
    const struct {
        int picture, start, length;
        bool isIdentity;
    } cases[] = {
        {1522, 0, 1522, true},  {3, 0, 3, true},      {12000, 3720, 4856, true}, {1522, 380, 763, false},
        {1527, 3, 1524, false}, {1283, 0, 1001, false}, {10, 3, 5, false},        {4097, 4096, 1, false},
    };
    for (const auto& c : cases) {
        const std::string where = std::to_string(c.start) + "+" + std::to_string(c.length) + " of " +
                                  std::to_string(c.picture);
        // The same axis across and down.
        const BlurGrid grid = blurGridOf(c.picture, c.picture, c.start, c.start, c.length, c.length);
        ASSERT_EQ(grid.width, grid.height) << where;
        const int whole = std::max(1, c.picture / 4);
        const double texelPixels = double(c.picture) / whole;
        for (int axis = 0; axis < 2; ++axis) {
            const TextureWindow &scene = grid.sceneFromBlur, &blur = grid.blurFromOutput;
            if (c.isIdentity) {
                EXPECT_EQ(grid.width, c.length / 4 + (c.length < 4)) << where;
                EXPECT_TRUE(scene.scale[axis] == 1.0f && scene.offset[axis] == 0.0f) << where;
                EXPECT_TRUE(blur.scale[axis] == 1.0f && blur.offset[axis] == 0.0f) << where;
            }
            // Where the part's blur texel j reads the scene, in the whole picture's pixels.
            auto scenePixel = [&](int j) {
                return ((j + 0.5) / grid.width * scene.scale[axis] + scene.offset[axis]) * c.length + c.start;
            };
            const int firstTexel = static_cast<int>(std::lround(scenePixel(0) / texelPixels - 0.5));
            // The part's texels are the whole picture's that reach into it, from the first to the last.
            EXPECT_LE(firstTexel * texelPixels, c.start) << where;
            EXPECT_GT((firstTexel + 1) * texelPixels, c.start) << where;
            EXPECT_LT((firstTexel + grid.width - 1) * texelPixels, c.start + c.length) << where;
            EXPECT_GE((firstTexel + grid.width) * texelPixels, c.start + c.length) << where;
            for (int j = 0; j < grid.width; ++j) {
                EXPECT_NEAR(scenePixel(j), (firstTexel + j + 0.5) * texelPixels, 1e-3) << where << " texel " << j;
            }
            // Where the final pass reads the part's blur texture at its pixels, in the whole's texels.
            for (int p = 0; p < c.length; ++p) {
                const double own = (p + 0.5) / c.length;
                const double texel = (own * blur.scale[axis] + blur.offset[axis]) * grid.width + firstTexel;
                EXPECT_NEAR(texel, (c.start + p + 0.5) / texelPixels, 1e-3) << where << " pixel " << p;
            }
        }
    }
}
