// Reads uncompressed 8-bit (palette) and 24-bit BMP images into RGB bytes, bottom row first.
// The input is untrusted: every size is checked against the file before anything is read or allocated.
#include "io/Bitmap.h"

#include "io/BitmapFormat.h"
#include "io/DataPath.h"
#include "io/ImageInput.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

namespace {

const uint64_t MAX_INFO_HEADER_SIZE = 124;
// The headers and the largest palette all lie within this many bytes of the start of a file.
const uint64_t HEAD_BYTES = FILE_HEADER_SIZE + MAX_INFO_HEADER_SIZE + PALETTE_BYTES;

// The compression field's values, under their names in the Windows headers.
enum Compression : uint32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    BI_BITFIELDS = 3,
    BI_JPEG = 4,
    BI_PNG = 5,
    BI_ALPHABITFIELDS = 6,
};


uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool isOs2HeaderSize(uint32_t size) {
    // OS/2 1.x headers are 12 bytes; OS/2 2.x headers are 64 bytes or the 16-byte short form.
    return size == 12 || size == 16 || size == 64;
}

bool isWindowsHeaderSize(uint32_t size) {
    return size == INFO_HEADER_SIZE || size == 52 || size == 56 || size == 108 || size == 124;
}

bool fileSizeOf(std::FILE* file, uint64_t& size) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return false;
    }
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    size = static_cast<uint64_t>(end);
    return true;
}

}  // namespace

Bitmap::~Bitmap() {
    release();
}

void Bitmap::release() {
    delete[] palette;
    delete[] pixels;
    palette = nullptr;
    pixels = nullptr;
    isLoaded = false;
}

bool Bitmap::load(const char* path, const PixelDestination& destination) {
    return loadFile(resolveDataPath(path != nullptr ? path : ""), destination);
}

bool Bitmap::openAndReadHeaders(const std::string& file, FilePtr& opened, uint64_t& pixelOffset,
                                uint64_t& pixelBytes, bool& topDown) {
    release();
    resolvedPath = file;
    // Opening a named pipe or a device would block or read without end; only plain files are images.
    std::error_code statusError;
    const std::filesystem::file_status status = std::filesystem::status(resolvedPath, statusError);
    if (!statusError && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        message = "File is not a regular file";
        return false;
    }
    opened.reset(resolvedPath.empty() ? nullptr : std::fopen(resolvedPath.c_str(), "rb"));
    if (!opened) {
        message = "File not found";
        return false;
    }

    uint64_t fileSize = 0;
    if (!fileSizeOf(opened.get(), fileSize)) {
        message = "File could not be read";
        return false;
    }
    std::vector<uint8_t> head(static_cast<size_t>(fileSize < HEAD_BYTES ? fileSize : HEAD_BYTES));
    if (std::fread(head.data(), 1, head.size(), opened.get()) != head.size()) {
        message = "File could not be read";
        return false;
    }
    return readHeaders(head.data(), head.size(), fileSize, pixelOffset, pixelBytes, topDown);
}

bool Bitmap::loadHeaders(const std::string& file) {
    FilePtr opened;
    uint64_t pixelOffset = 0, pixelBytes = 0;
    bool topDown = false;
    return openAndReadHeaders(file, opened, pixelOffset, pixelBytes, topDown);
}

bool Bitmap::loadFile(const std::string& path, const PixelDestination& destination) {
    FilePtr file;
    uint64_t pixelOffset = 0;
    uint64_t pixelBytes = 0;
    bool topDown = false;
    if (!openAndReadHeaders(path, file, pixelOffset, pixelBytes, topDown)) return false;

    std::unique_ptr<uint8_t[]> data;
    if (pixelBytes <= SIZE_MAX) {
        data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(pixelBytes)]);
    }
    if (!data) {
        message = "Not enough memory to allocate a temporary buffer";
        return false;
    }
    // The header checks only saw the size; a file shrinking meanwhile must not leave rows unread.
    if (pixelOffset > static_cast<uint64_t>(LONG_MAX) ||
        std::fseek(file.get(), static_cast<long>(pixelOffset), SEEK_SET) != 0 ||
        std::fread(data.get(), 1, static_cast<size_t>(pixelBytes), file.get()) != pixelBytes) {
        message = TRUNCATED_MESSAGE;
        return false;
    }
    file.reset();

    if (convert(data.get(), topDown, destination ? destination(*this) : nullptr)) {
        message = "Bitmap loaded";
    }
    return isLoaded;
}

bool Bitmap::loadFromMemory(const uint8_t* bytes, size_t size) {
    release();
    resolvedPath.clear();
    if (bytes == nullptr) {
        size = 0;
    }
    uint64_t pixelOffset = 0;
    uint64_t pixelBytes = 0;
    bool topDown = false;
    const size_t headSize = size < HEAD_BYTES ? size : static_cast<size_t>(HEAD_BYTES);
    if (!readHeaders(bytes, headSize, size, pixelOffset, pixelBytes, topDown)) {
        return false;
    }
    if (convert(bytes + pixelOffset, topDown, nullptr)) {
        message = "Bitmap loaded";
    }
    return isLoaded;
}

// Validates the headers in `head` (the first bytes of a file of `fileSize` bytes), fills in the
// header fields and the palette, and says where the pixel rows lie. Every region it names is
// inside the file.
bool Bitmap::readHeaders(const uint8_t* head, size_t headSize, uint64_t fileSize, uint64_t& pixelOffset,
                         uint64_t& pixelBytes, bool& topDown) {
    std::memset(fileHeader, 0, sizeof fileHeader);
    std::memset(infoHeader, 0, sizeof infoHeader);
    if (headSize > 0) {
        std::memcpy(fileHeader, head, headSize < sizeof fileHeader ? headSize : sizeof fileHeader);
    }
    if (headSize < 2 || read16(head) != 0x4D42) {
        message = "File is not in DIB format";
        return false;
    }
    if (headSize < FILE_HEADER_SIZE + 4) {
        message = TRUNCATED_MESSAGE;
        return false;
    }

    const uint32_t infoHeaderSize = read32(head + FILE_HEADER_SIZE);
    if (isOs2HeaderSize(infoHeaderSize)) {
        message = "File has an OS/2 header";
        return false;
    }
    if (!isWindowsHeaderSize(infoHeaderSize)) {
        message = "File has an unsupported info header size";
        return false;
    }
    const uint64_t headersEnd = FILE_HEADER_SIZE + infoHeaderSize;
    if (fileSize < headersEnd) {
        message = TRUNCATED_MESSAGE;
        return false;
    }
    std::memcpy(infoHeader, head + FILE_HEADER_SIZE, sizeof infoHeader);
    const uint8_t* info = infoHeader;
    width = static_cast<int32_t>(read32(info + 4));
    height = static_cast<int32_t>(read32(info + 8));
    bitsPerPixel = read16(info + 14);
    const uint32_t compression = read32(info + 16);
    const uint32_t coloursUsed = read32(info + 32);

    // Such files carry a bit count of 0, so the depth message would hide what they really are.
    if (compression == BI_JPEG || compression == BI_PNG) {
        message = "File holds embedded JPEG or PNG data";
        return false;
    }
    if (bitsPerPixel != 8 && bitsPerPixel != 24) {
        message = "File is not 8 or 24 bits per pixel";
        return false;
    }
    if (compression == BI_RLE8 || compression == BI_RLE4) {
        message = "File is compressed (RLE)";
        return false;
    }
    if (compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) {
        message = "File uses bit fields";
        return false;
    }
    if (compression != BI_RGB) {
        message = "File uses an unknown compression method";
        return false;
    }

    const int64_t fileWidth = width;
    const int64_t fileHeight = height;
    const int64_t rows = fileHeight < 0 ? -fileHeight : fileHeight;
    if (fileWidth == 0 || rows == 0) {
        message = "Image width or height is zero";
        return false;
    }
    if (fileWidth < 0) {
        message = "Image width is negative";
        return false;
    }
    if (fileWidth > MAX_BITMAP_SIDE || rows > MAX_BITMAP_SIDE) {
        message = TOO_LARGE_MESSAGE;
        return false;
    }

    uint64_t colours = 0;
    if (bitsPerPixel == 8) {
        colours = coloursUsed == 0 ? PALETTE_COLOURS : coloursUsed;
        if (colours > PALETTE_COLOURS) {
            message = "File has more than 256 palette colours";
            return false;
        }
        if (fileSize < headersEnd + colours * PALETTE_ENTRY_BYTES) {
            message = TRUNCATED_MESSAGE;
            return false;
        }
    }

    pixelOffset = read32(fileHeader + 10);
    if (pixelOffset < headersEnd) {
        message = "File has an invalid pixel data offset";
        return false;
    }
    const uint64_t bytesPerRow = static_cast<uint64_t>(fileWidth) * (bitsPerPixel / 8);
    const uint64_t paddedBytesPerRow = (bytesPerRow + 3) & ~static_cast<uint64_t>(3);
    // The last row's padding is not needed, and some writers leave it out.
    pixelBytes = paddedBytesPerRow * static_cast<uint64_t>(rows - 1) + bytesPerRow;
    if (fileSize < pixelOffset || fileSize - pixelOffset < pixelBytes) {
        message = TRUNCATED_MESSAGE;
        return false;
    }

    topDown = fileHeight < 0;
    height = static_cast<int32_t>(rows);
    rowSize = static_cast<int32_t>(bytesPerRow);
    paddedRowSize = static_cast<int32_t>(paddedBytesPerRow);
    dataSize = static_cast<uint32_t>(static_cast<uint64_t>(fileWidth) * static_cast<uint64_t>(rows) *
                                     (bitsPerPixel / 8));

    if (bitsPerPixel == 8) {
        // Entries past the header's colour count stay zero, so stray indices come out black.
        palette = new (std::nothrow) uint8_t[PALETTE_BYTES]();
        if (palette == nullptr) {
            message = "Not enough memory to allocate a palette";
            return false;
        }
        std::memcpy(palette, head + headersEnd, static_cast<size_t>(colours * PALETTE_ENTRY_BYTES));
    }
    return true;
}

// Turns the file's pixel rows at `data` (rows paddedRowSize apart) into RGB, bottom row first, at
// `destination`, or in `pixels` when that is null.
bool Bitmap::convert(const uint8_t* data, bool topDown, uint8_t* destination) {
    const size_t columns = static_cast<size_t>(width);
    const size_t rows = static_cast<size_t>(height);
    if (destination == nullptr) {
        pixels = new (std::nothrow) uint8_t[columns * rows * 3];
        if (pixels == nullptr) {
            message = NO_IMAGE_MEMORY_MESSAGE;
            return false;
        }
        destination = pixels;
    }
    for (size_t r = 0; r < rows; ++r) {
        const size_t fileRow = topDown ? rows - 1 - r : r;
        const uint8_t* src = data + fileRow * static_cast<size_t>(paddedRowSize);
        uint8_t* dst = destination + r * columns * 3;
        if (bitsPerPixel == 24) {
            for (size_t c = 0; c < columns; ++c) swapRedAndBlue(src + c * 3, dst + c * 3);
        } else {
            for (size_t c = 0; c < columns; ++c) {
                swapRedAndBlue(palette + static_cast<size_t>(src[c]) * PALETTE_ENTRY_BYTES, dst + c * 3);
            }
        }
    }
    isLoaded = true;
    return true;
}
