// PNG files of every colour type, bit depth and interlacing, put together chunk by chunk with
// zlib alone, for the height-map tests and the fuzzer's seed corpus.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

enum ColourType : uint8_t { GREY = 0, RGB = 2, PALETTE = 3, GREY_ALPHA = 4, RGBA = 6 };

struct Picture {
    int width = 0;
    int height = 0;
    ColourType colourType = GREY;
    int bitDepth = 8;
    bool interlaced = false;
    // Every channel of every pixel, top row first, as the file stores them.
    std::vector<uint16_t> values;
    Bytes palette;  // red, green, blue per entry
};

inline int channelsOf(ColourType type) {
    switch (type) {
        case GREY_ALPHA: return 2;
        case RGB: return 3;
        case RGBA: return 4;
        default: return 1;
    }
}

inline void put32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

inline Bytes chunk(const std::string& type, const Bytes& data) {
    Bytes out;
    put32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    // zlib takes a null buffer as a request for the initial value, so an empty chunk adds nothing.
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    put32(out, static_cast<uint32_t>(crc));
    return out;
}

// The filter-less scanlines of the picture, pass by pass for Adam7.
inline Bytes scanlines(const Picture& picture) {
    static const int START_X[7] = {0, 4, 0, 2, 0, 1, 0}, STEP_X[7] = {8, 8, 4, 4, 2, 2, 1};
    static const int START_Y[7] = {0, 0, 4, 0, 2, 0, 1}, STEP_Y[7] = {8, 8, 8, 4, 4, 2, 2};
    const int channels = channelsOf(picture.colourType);
    const int passes = picture.interlaced ? 7 : 1;
    Bytes out;
    for (int pass = 0; pass < passes; ++pass) {
        const int x0 = picture.interlaced ? START_X[pass] : 0, dx = picture.interlaced ? STEP_X[pass] : 1;
        const int y0 = picture.interlaced ? START_Y[pass] : 0, dy = picture.interlaced ? STEP_Y[pass] : 1;
        if (x0 >= picture.width) continue;
        for (int y = y0; y < picture.height; y += dy) {
            out.push_back(0);
            uint32_t bits = 0;
            int bitCount = 0;
            for (int x = x0; x < picture.width; x += dx) {
                for (int c = 0; c < channels; ++c) {
                    const uint16_t value = picture.values[(size_t(y) * picture.width + x) * channels + c];
                    if (picture.bitDepth == 16) out.push_back(static_cast<uint8_t>(value >> 8));
                    bits = (bits << (picture.bitDepth == 16 ? 8 : picture.bitDepth)) | (value & 0xFF);
                    bitCount += picture.bitDepth == 16 ? 8 : picture.bitDepth;
                    if (bitCount == 8) {
                        out.push_back(static_cast<uint8_t>(bits));
                        bits = 0;
                        bitCount = 0;
                    }
                }
            }
            if (bitCount > 0) out.push_back(static_cast<uint8_t>(bits << (8 - bitCount)));
        }
    }
    return out;
}

// The IHDR, PLTE (palette pictures), IDAT and IEND chunks in file order.
inline std::vector<std::pair<std::string, Bytes>> chunks(const Picture& picture) {
    Bytes header;
    put32(header, static_cast<uint32_t>(picture.width));
    put32(header, static_cast<uint32_t>(picture.height));
    header.insert(header.end(), {static_cast<uint8_t>(picture.bitDepth), picture.colourType, 0, 0,
                                 static_cast<uint8_t>(picture.interlaced ? 1 : 0)});
    const Bytes raw = scanlines(picture);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    std::vector<std::pair<std::string, Bytes>> list{{"IHDR", header}};
    if (picture.colourType == PALETTE) list.push_back({"PLTE", picture.palette});
    list.push_back({"IDAT", packed});
    list.push_back({"IEND", {}});
    return list;
}

inline Bytes fileOf(const std::vector<std::pair<std::string, Bytes>>& list) {
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& [type, data] : list) {
        const Bytes bytes = chunk(type, data);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

inline Bytes encode(const Picture& picture) { return fileOf(chunks(picture)); }

}  // namespace pngtest
