// Encodes RGB and grey images as plain uncompressed BMP files: 14-byte file header,
// 40-byte info header, optional 256-entry palette, rows padded to 4 bytes, bottom row first.
#include "io/BitmapWriter.h"

#include "io/AtomicFile.h"
#include "io/BitmapFormat.h"

namespace {

// 72 dots per inch, the resolution most readers assume when none matters.
const int32_t PIXELS_PER_METRE = 2835;

// Allocates the whole file and fills in both headers; pixel rows and palette are left zero.
std::vector<uint8_t> startFile(int width, int height, uint16_t bitsPerPixel, uint32_t colours,
                               size_t& pixelOffset, size_t& paddedRowSize) {
    const size_t rowSize = static_cast<size_t>(width) * (bitsPerPixel / 8);
    paddedRowSize = (rowSize + 3) & ~static_cast<size_t>(3);
    const size_t imageSize = paddedRowSize * static_cast<size_t>(height);
    pixelOffset = FILE_HEADER_SIZE + INFO_HEADER_SIZE + colours * PALETTE_ENTRY_BYTES;

    std::vector<uint8_t> out(pixelOffset + imageSize, 0);
    out[0] = 'B';
    out[1] = 'M';
    putLittleEndian32(out, 2, static_cast<uint32_t>(out.size()));
    putLittleEndian32(out, 10, static_cast<uint32_t>(pixelOffset));

    putLittleEndian32(out, 14, static_cast<uint32_t>(INFO_HEADER_SIZE));
    putLittleEndian32(out, 18, static_cast<uint32_t>(width));
    putLittleEndian32(out, 22, static_cast<uint32_t>(height));
    putLittleEndian16(out, 26, 1);
    putLittleEndian16(out, 28, bitsPerPixel);
    putLittleEndian32(out, 30, 0);
    putLittleEndian32(out, 34, static_cast<uint32_t>(imageSize));
    putLittleEndian32(out, 38, static_cast<uint32_t>(PIXELS_PER_METRE));
    putLittleEndian32(out, 42, static_cast<uint32_t>(PIXELS_PER_METRE));
    putLittleEndian32(out, 46, colours);
    putLittleEndian32(out, 50, 0);
    return out;
}

bool validSize(int width, int height, const uint8_t* data) {
    return data != nullptr && width > 0 && height > 0 && width <= MAX_BITMAP_SIDE && height <= MAX_BITMAP_SIDE;
}

}  // namespace

void putLittleEndian16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void putLittleEndian32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::vector<uint8_t> encodeBitmap24(int width, int height, const uint8_t* rgb) {
    if (!validSize(width, height, rgb)) {
        return {};
    }
    size_t pixelOffset = 0;
    size_t paddedRowSize = 0;
    std::vector<uint8_t> out = startFile(width, height, 24, 0, pixelOffset, paddedRowSize);
    for (size_t r = 0; r < static_cast<size_t>(height); ++r) {
        const uint8_t* src = rgb + r * static_cast<size_t>(width) * 3;
        uint8_t* dst = out.data() + pixelOffset + r * paddedRowSize;
        for (size_t c = 0; c < static_cast<size_t>(width); ++c) swapRedAndBlue(src + c * 3, dst + c * 3);
    }
    return out;
}

std::vector<uint8_t> encodeGreyBitmap8(int width, int height, const uint8_t* grey) {
    if (!validSize(width, height, grey)) {
        return {};
    }
    size_t pixelOffset = 0;
    size_t paddedRowSize = 0;
    std::vector<uint8_t> out =
        startFile(width, height, 8, static_cast<uint32_t>(PALETTE_COLOURS), pixelOffset, paddedRowSize);
    uint8_t* palette = out.data() + FILE_HEADER_SIZE + INFO_HEADER_SIZE;
    for (size_t i = 0; i < PALETTE_COLOURS; ++i) {
        uint8_t* entry = palette + i * PALETTE_ENTRY_BYTES;
        entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
    }
    for (size_t r = 0; r < static_cast<size_t>(height); ++r) {
        const uint8_t* src = grey + r * static_cast<size_t>(width);
        uint8_t* dst = out.data() + pixelOffset + r * paddedRowSize;
        for (size_t c = 0; c < static_cast<size_t>(width); ++c) {
            dst[c] = src[c];
        }
    }
    return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string ignored;
    return replaceFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), ignored);
}
