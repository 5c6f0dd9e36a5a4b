// What the BMP reader and writer agree on: header sizes, the palette, the largest side and the
// order of the colour bytes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t FILE_HEADER_SIZE = 14;
// The Windows 3 info header: the one the writer emits and the shortest the reader takes.
constexpr size_t INFO_HEADER_SIZE = 40;
// A palette entry is blue, green, red and one unused byte.
constexpr size_t PALETTE_ENTRY_BYTES = 4;
constexpr size_t PALETTE_COLOURS = 256;
constexpr size_t PALETTE_BYTES = PALETTE_COLOURS * PALETTE_ENTRY_BYTES;
// Larger images are refused by the reader, so the writer does not produce them either.
constexpr int32_t MAX_BITMAP_SIDE = 32768;

// BMP stores a colour as blue, green, red and the images in memory hold red, green, blue; the
// same swap turns either order into the other.
inline void swapRedAndBlue(const uint8_t* from, uint8_t* to) {
    to[0] = from[2];
    to[1] = from[1];
    to[2] = from[0];
}
