// Writes the seed corpus of the height-map fuzzer into a folder: a PNG of every colour type and
// bit depth (one of them interlaced, one written by the 16-bit writer), raw samples, an 8-bit
// BMP, and PNGs with the faults the reader must refuse.
#include "io/BitmapWriter.h"
#include "io/HeightMap.h"
#include "tests/BmpTestBytes.h"
#include "tests/PngTestBytes.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using pngtest::Bytes;

Bytes png(pngtest::ColourType type, int depth, bool interlaced = false) {
    pngtest::Picture picture;
    picture.width = 11;
    picture.height = 7;
    picture.colourType = type;
    picture.bitDepth = depth;
    picture.interlaced = interlaced;
    const size_t count = size_t(picture.width) * picture.height * pngtest::channelsOf(type);
    for (size_t i = 0; i < count; ++i) picture.values.push_back(static_cast<uint16_t>((i * 7919 + 13) % (1u << depth)));
    if (type == pngtest::PALETTE) {
        for (int entry = 0; entry < (1 << depth); ++entry) picture.palette.insert(picture.palette.end(), 3, uint8_t(entry));
    }
    return pngtest::encode(picture);
}

Bytes cut(Bytes bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

Bytes flipped(Bytes bytes, size_t at) {
    bytes[at] ^= 0x55;
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::vector<uint16_t> ramp(9 * 9);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint16_t>(k * 809);
    Bytes raw;
    for (const uint16_t sample : ramp) raw.insert(raw.end(), {uint8_t(sample & 0xFF), uint8_t(sample >> 8)});
    const Bytes grey = bmptest::pattern(6, 5, 1);
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"grey1.png", png(pngtest::GREY, 1)},
        {"grey2.png", png(pngtest::GREY, 2)},
        {"grey4.png", png(pngtest::GREY, 4)},
        {"grey8.png", png(pngtest::GREY, 8)},
        {"grey16.png", png(pngtest::GREY, 16)},
        {"grey16-interlaced.png", png(pngtest::GREY, 16, true)},
        {"grey-alpha8.png", png(pngtest::GREY_ALPHA, 8)},
        {"grey-alpha16.png", png(pngtest::GREY_ALPHA, 16)},
        {"rgb8.png", png(pngtest::RGB, 8)},
        {"rgb16.png", png(pngtest::RGB, 16)},
        {"rgba8.png", png(pngtest::RGBA, 8)},
        {"rgba16.png", png(pngtest::RGBA, 16)},
        {"palette1.png", png(pngtest::PALETTE, 1)},
        {"palette2.png", png(pngtest::PALETTE, 2)},
        {"palette4.png", png(pngtest::PALETTE, 4)},
        {"palette8-interlaced.png", png(pngtest::PALETTE, 8, true)},
        {"writer16.png", encodeGreyPng16(9, 9, ramp.data())},
        {"ramp9x9.r16", raw},
        {"grey8.bmp", encodeGreyBitmap8(6, 5, grey.data())},
        {"bad-truncated.png", cut(png(pngtest::GREY, 16), 30)},
        {"bad-crc.png", flipped(png(pngtest::RGB, 8), 30)},
        {"bad-raw-size.r16", cut(raw, 2)},
    };
    for (const auto& [name, bytes] : seeds) {
        const std::string path = folder + "/" + name;
        if (bytes.empty() || !writeFile(path, bytes)) {
            std::fprintf(stderr, "Could not write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%zu seed files written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
