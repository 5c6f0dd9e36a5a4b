// The mipmap levels built on the processor: their rounding and their sharing among threads. That
// their sizes and texels agree with the driver's generation is the GL tests' to check.
#include "gpu/SrgbMipChain.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Catches a decoding or encoding table off by one anywhere along the curve: a flat colour must
// stay itself in every level.
TEST(SrgbMipChain, EveryFlatColourStaysItself) {
    std::vector<uint8_t> base;
    for (int code = 0; code < 256; ++code) base.insert(base.end(), 2 * 2 * 3, static_cast<uint8_t>(code));
    SrgbMipChain chain(2, 2, 256, 3);
    chain.build(base.data(), 1);
    ASSERT_EQ(chain.levelCount(), 1);
    for (int code = 0; code < 256; ++code) {
        for (int channel = 0; channel < 3; ++channel) EXPECT_EQ(chain.texels(1)[code * 3 + channel], code);
    }
}

// Catches a mean taken in sRGB rather than linear light, rounding down instead of to the nearest
// code, alpha taken through the sRGB curve, and the exact curve in place of the rasteriser's, which
// would move the pictures made on it.
TEST(SrgbMipChain, ColourIsTheRasterisersMeanInLinearLightAndAlphaTheMeanAsItIs) {
    struct Case {
        uint8_t four[4];
        uint8_t colour;
        uint8_t alpha;
    };
    const Case cases[] = {
        {{0, 0, 0, 255}, 137, 64},        // 136.91 in light; 63.75 as it is
        {{54, 55, 55, 55}, 55, 55},       // 54.90; 54.75
        {{128, 128, 128, 0}, 112, 96},    // 112.16
        {{200, 201, 254, 4}, 194, 165},   // 193.67; 164.75
        {{0, 1, 1, 1}, 1, 1},             // 0.77 on the curve's straight foot; 0.75
        {{0, 0, 0, 1}, 0, 0},             // 0.26; 0.25
        {{1, 1, 93, 93}, 67, 47},         // 66.61 on the rasteriser's curve, 66.25 on the exact one
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> base;
        for (uint8_t value : c.four) base.insert(base.end(), {value, value, value, value});
        SrgbMipChain chain(2, 2, 1, 4);
        chain.build(base.data(), 1);
        const uint8_t* texel = chain.texels(1);
        EXPECT_EQ(texel[0], c.colour) << int(c.four[0]) << " " << int(c.four[3]);
        EXPECT_EQ(texel[3], c.alpha) << int(c.four[0]) << " " << int(c.four[3]);
    }
}

// Catches rows lost or misplaced where the bands of threads meet, inside a layer or across two.
TEST(SrgbMipChain, AnyNumberOfThreadsBuildsTheSameLevels) {
    const int width = 512, height = 256, layers = 3;
    std::vector<uint8_t> base(size_t(width) * height * layers * 3);
    for (size_t i = 0; i < base.size(); ++i) base[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    SrgbMipChain alone(width, height, layers, 3);
    alone.build(base.data(), 1);
    SrgbMipChain shared(width, height, layers, 3);
    shared.build(base.data(), 5);
    for (int level = 1; level <= alone.levelCount(); ++level) {
        const size_t bytes = size_t(alone.width(level)) * alone.height(level) * layers * 3;
        EXPECT_EQ(std::vector<uint8_t>(alone.texels(level), alone.texels(level) + bytes),
                  std::vector<uint8_t>(shared.texels(level), shared.texels(level) + bytes))
            << "level " << level;
    }
}
