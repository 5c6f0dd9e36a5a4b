// Reads an uncompressed 8- or 24-bit BMP file into tightly packed RGB bytes, bottom row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "io/BitmapFormat.h"
#include "io/ImageInput.h"

class Bitmap {
public:
    uint8_t* palette = nullptr;
    uint8_t* pixels = nullptr;
    bool isLoaded = false;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitsPerPixel = 0;
    std::string message;
    uint8_t fileHeader[FILE_HEADER_SIZE] = {};
    uint8_t infoHeader[INFO_HEADER_SIZE] = {};
    int32_t rowSize = 0;
    int32_t paddedRowSize = 0;
    uint32_t dataSize = 0;
    // The file the last load opened, after the data-folder lookup; empty after loadFromMemory.
    std::string resolvedPath;

    Bitmap() = default;
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // Where a load puts the pixels: asked once the file has been read (width and height set), for
    // width * height * 3 bytes of the caller's, rows tightly packed, bottom row first, so that
    // images bound for one buffer are read straight into it. Null keeps them in `pixels`; pixels
    // read to the caller's memory leave `pixels` null.
    using PixelDestination = std::function<uint8_t*(const Bitmap&)>;

    // Loads the file, a data name looked up by resolveDataPath; on failure returns false and
    // leaves the reason in message.
    bool load(const char* path, const PixelDestination& destination = nullptr);
    // Same as load, for a path already resolved, read as given.
    bool loadFile(const std::string& file, const PixelDestination& destination = nullptr);
    // Reads and checks the headers alone, setting width, height and bitsPerPixel, so that a
    // caller can refuse a size before the pixels are read.
    bool loadHeaders(const std::string& file);
    // Same as load, for the bytes of a whole BMP file already in memory.
    bool loadFromMemory(const uint8_t* bytes, size_t size);

private:
    void release();
    // Opens the file and reads its headers; the open file is left for the pixels.
    bool openAndReadHeaders(const std::string& file, FilePtr& opened, uint64_t& pixelOffset, uint64_t& pixelBytes,
                            bool& topDown);
    bool readHeaders(const uint8_t* head, size_t headSize, uint64_t fileSize, uint64_t& pixelOffset,
                     uint64_t& pixelBytes, bool& topDown);
    bool convert(const uint8_t* data, bool topDown, uint8_t* destination);
};
