// The mipmap levels below a base level of 8-bit sRGB texels, built on the processor as the
// driver's own generation builds them, so that they can be uploaded instead of generated: Mesa's
// software rasteriser generates by compiling and running a program that draws every level, which
// costs far more. Each texel is the mean of the 2 x 2 above it taken in linear light, rounded back
// to sRGB; alpha is averaged as it is. Free of GL.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class SrgbMipChain {
public:
    // For `layers` layers of width x height texels of `channels` bytes: 3 (sRGB colour) or 4 (sRGB
    // colour and linear alpha), rows tightly packed, bottom row first, layer after layer. Every
    // level is laid out so, ready for upload.
    SrgbMipChain(int width, int height, int layers, int channels);

    // Builds every level from `base`, laid out as above, sharing the rows among up to `threads`
    // threads.
    void build(const uint8_t* base, int threads);

    // The levels below the base that the chain holds, numbered from 1.
    int levelCount() const { return static_cast<int>(levels.size()) - 1; }
    // Sides of a level, the base (level 0) included.
    int width(int level) const { return levels[level].width; }
    int height(int level) const { return levels[level].height; }
    // The texels of a level below the base.
    const uint8_t* texels(int level) const { return levels[level].texels.get(); }
    // Whether the last level is a single texel. Otherwise it has an odd side above 1, where the
    // chain stops: implementations filter such a side each in its own way, and the driver's own
    // generation goes on from there, so that the pictures stay the driver's.
    bool reachesOneTexel() const { return width(levelCount()) == 1 && height(levelCount()) == 1; }

private:
    struct Level {
        int width = 0;
        int height = 0;
        std::unique_ptr<uint8_t[]> texels;
    };
    int layers;
    int channels;
    std::vector<Level> levels;
};
