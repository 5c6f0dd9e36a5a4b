// PNG reading and writing through libpng's simplified API, which handles every colour type.
#include "io/PngImage.h"

#include <png.h>

#include <cstring>

#include "io/AtomicFile.h"

bool writePng(const std::string& path, const RgbImage8& image, std::string& error) {
    const size_t expectedBytes = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3;
    if (image.width <= 0 || image.height <= 0 || image.pixels.size() != expectedBytes) {
        error = "cannot write " + path + ": the image has no pixels or the wrong number of them";
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    // libpng's own file writer deletes the path when a write fails, so the PNG is made in memory
    // and handed to replaceFile, which never touches the target until the new file is complete.
    png_alloc_size_t size = 0;
    std::string bytes;
    if (png_image_write_get_memory_size(png, size, 0, image.pixels.data(), 0, nullptr)) {
        bytes.resize(size);
        if (!png_image_write_to_memory(&png, &bytes[0], &size, 0, image.pixels.data(), 0, nullptr)) bytes.clear();
    }
    if (bytes.empty()) {
        error = "cannot write " + path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    bytes.resize(size);
    return replaceFile(path, bytes, error);
}

bool readPng(const std::string& path, RgbImage8& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        error = "Could not read " + path + ": " + png.message;
        return false;
    }
    // A header may claim any size; refuse what could not sensibly be held in memory.
    if (static_cast<uint64_t>(png.width) * png.height > (uint64_t(1) << 28)) {
        error = "Could not read " + path + ": the image is larger than 2^28 pixels";
        png_image_free(&png);
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
        error = "Could not read " + path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels = std::move(pixels);
    return true;
}
