// Writes the seed corpus of the BMP fuzzer into a folder: valid 8- and 24-bit files in the
// layouts the reader accepts, and files with the header faults it must refuse.
#include "io/BitmapWriter.h"
#include "tests/BmpTestBytes.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bmptest::Bytes;
using bmptest::get32;
using bmptest::pattern;

Bytes rgbFile(int width, int height) {
    return encodeBitmap24(width, height, pattern(width, height, 3).data());
}

Bytes greyFile(int width, int height) {
    return encodeGreyBitmap8(width, height, pattern(width, height, 1).data());
}

Bytes withLongerHeader(Bytes file, uint32_t size) {
    file.insert(file.begin() + 54, size - 40, 0);
    putLittleEndian32(file, 14, size);
    putLittleEndian32(file, 10, get32(file, 10) + size - 40);
    putLittleEndian32(file, 2, static_cast<uint32_t>(file.size()));
    return file;
}

Bytes withShortPalette(Bytes file, uint32_t colours) {
    file.erase(file.begin() + 54 + colours * 4, file.begin() + 1078);
    putLittleEndian32(file, 46, colours);
    putLittleEndian32(file, 10, 54 + colours * 4);
    putLittleEndian32(file, 2, static_cast<uint32_t>(file.size()));
    return file;
}

Bytes withGap(Bytes file, uint32_t gap) {
    const uint32_t offset = get32(file, 10);
    file.insert(file.begin() + offset, gap, 0x5A);
    putLittleEndian32(file, 10, offset + gap);
    putLittleEndian32(file, 2, static_cast<uint32_t>(file.size()));
    return file;
}

Bytes with32(Bytes file, size_t at, uint32_t value) {
    putLittleEndian32(file, at, value);
    return file;
}

Bytes with16(Bytes file, size_t at, uint16_t value) {
    putLittleEndian16(file, at, value);
    return file;
}

Bytes cut(Bytes file, size_t size) {
    file.resize(size);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"rgb24-4x3", rgbFile(4, 3)},
        {"rgb24-10x2-padded", rgbFile(10, 2)},
        {"rgb24-1x1", rgbFile(1, 1)},
        {"grey8-5x4-padded", greyFile(5, 4)},
        {"grey8-8x2", greyFile(8, 2)},
        {"rgb24-topdown", with32(rgbFile(3, 3), 22, static_cast<uint32_t>(-3))},
        {"grey8-topdown", with32(greyFile(4, 2), 22, static_cast<uint32_t>(-2))},
        {"rgb24-header108", withLongerHeader(rgbFile(3, 2), 108)},
        {"grey8-header124", withLongerHeader(greyFile(3, 2), 124)},
        {"grey8-header52", withLongerHeader(greyFile(3, 2), 52)},
        {"grey8-palette16", withShortPalette(greyFile(6, 3), 16)},
        {"grey8-palette1", withShortPalette(greyFile(2, 2), 1)},
        {"rgb24-gap", withGap(rgbFile(3, 2), 13)},
        {"grey8-gap", withGap(greyFile(3, 2), 40)},
        {"bad-truncated-pixels", cut(rgbFile(6, 6), 54 + 40)},
        {"bad-truncated-palette", cut(greyFile(2, 2), 54 + 100)},
        {"bad-truncated-header", cut(rgbFile(2, 2), 30)},
        {"bad-rle8", with32(greyFile(4, 4), 30, 1)},
        {"bad-bitfields", with16(with32(rgbFile(4, 4), 30, 3), 28, 32)},
        {"bad-jpeg", with16(with32(rgbFile(4, 4), 30, 4), 28, 0)},
        {"bad-os2", with32(greyFile(4, 4), 14, 12)},
        {"bad-depth16", with16(rgbFile(4, 4), 28, 16)},
        {"bad-negative-width", with32(rgbFile(4, 4), 18, static_cast<uint32_t>(-4))},
        {"bad-huge", with32(with32(rgbFile(4, 4), 18, 30000), 22, 30000)},
        {"bad-colour-count", with32(greyFile(4, 4), 46, 0x10000)},
        {"bad-pixel-offset", with32(greyFile(4, 4), 10, 0xFFFFFF00u)},
    };
    for (const auto& [name, bytes] : seeds) {
        const std::string path = folder + "/" + name + ".bmp";
        if (!writeFile(path, bytes)) {
            std::fprintf(stderr, "Could not write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%zu seed files written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
