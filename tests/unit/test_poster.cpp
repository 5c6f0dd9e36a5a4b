// The blur grid that lets a part of a picture drawn alone blur as the whole picture does.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "post/BlurGrid.h"

namespace {

std::string nameOf(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

}  // namespace

// The whole picture's grid must stay exactly the one the frame always had, so that pictures drawn
// at once do not change by a bit.
TEST(BlurGrid, OverTheWholePictureAndAlignedPartsItIsTheIdentity) {
    const struct {
        int pictureWidth, pictureHeight, x, y, width, height, texelsAcross, texelsDown;
    } cases[] = {
        {800, 600, 0, 0, 800, 600, 200, 150},
        {1522, 1283, 0, 0, 1522, 1283, 380, 320},
        {3, 2, 0, 0, 3, 2, 1, 1},  // under one texel: one texel
        {12000, 8000, 3720, 3384, 4856, 4616, 1214, 1154},
    };
    for (const auto& c : cases) {
        const BlurGrid grid = blurGridOf(c.pictureWidth, c.pictureHeight, c.x, c.y, c.width, c.height);
        const std::string where = nameOf(c.pictureWidth, c.pictureHeight) + " at " + nameOf(c.x, c.y);
        EXPECT_EQ(grid.width, c.texelsAcross) << where;
        EXPECT_EQ(grid.height, c.texelsDown) << where;
        for (const TextureWindow& window : {grid.sceneFromBlur, grid.blurFromOutput}) {
            for (int axis = 0; axis < 2; ++axis) {
                EXPECT_EQ(window.scale[axis], 1.0f) << where;
                EXPECT_EQ(window.offset[axis], 0.0f) << where;
            }
        }
    }
}

// Catches a part that blurs on a grid of its own, which shifts the bloom by up to three pixels from
// one tile to the next where a side is no multiple of 4, and a part short of the texels it touches.
TEST(BlurGrid, APartReadsAndIsReadOnTheWholePicturesTexels) {
    const struct {
        int picture, start, length;
    } cases[] = {{1522, 380, 763}, {1527, 3, 1524}, {1283, 0, 1001}, {10, 3, 5}, {4097, 4096, 1}};
    for (const auto& c : cases) {
        const std::string where = std::to_string(c.start) + "+" + std::to_string(c.length) + " of " +
                                  std::to_string(c.picture);
        // The same axis across and down.
        const BlurGrid grid = blurGridOf(c.picture, c.picture, c.start, c.start, c.length, c.length);
        ASSERT_EQ(grid.width, grid.height) << where;
        const int whole = std::max(1, c.picture / 4);
        const double texelPixels = double(c.picture) / whole;
        for (int axis = 0; axis < 2; ++axis) {
            // Where the part's blur texel j reads the scene, in the whole picture's pixels.
            const TextureWindow& scene = grid.sceneFromBlur;
            auto scenePixel = [&](int j) {
                const double own = (j + 0.5) / grid.width;
                return (own * scene.scale[axis] + scene.offset[axis]) * c.length + c.start;
            };
            const double first = scenePixel(0) / texelPixels - 0.5;
            const int firstTexel = static_cast<int>(std::lround(first));
            EXPECT_NEAR(first, firstTexel, 1e-4) << where;
            // The part's texels are the whole picture's that reach into it, from the first to the last.
            EXPECT_LE(firstTexel * texelPixels, c.start) << where;
            EXPECT_GT((firstTexel + 1) * texelPixels, c.start) << where;
            const int lastTexel = firstTexel + grid.width - 1;
            EXPECT_LT(lastTexel * texelPixels, c.start + c.length) << where;
            EXPECT_GE((lastTexel + 1) * texelPixels, c.start + c.length) << where;
            for (int j = 0; j < grid.width; ++j) {
                EXPECT_NEAR(scenePixel(j), (firstTexel + j + 0.5) * texelPixels, 1e-3) << where << " texel " << j;
            }
            // Where the final pass reads the part's blur texture at its pixels, in the whole's texels.
            const TextureWindow& blur = grid.blurFromOutput;
            for (int p = 0; p < c.length; ++p) {
                const double own = (p + 0.5) / c.length;
                const double texel = (own * blur.scale[axis] + blur.offset[axis]) * grid.width + firstTexel;
                EXPECT_NEAR(texel, (c.start + p + 0.5) / texelPixels, 1e-3) << where << " pixel " << p;
            }
        }
    }
}
