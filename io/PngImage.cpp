// PNG reading and writing through libpng: whole images through its simplified API, which handles
// every colour type, and images row by row through its row writer.
#include "io/PngImage.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
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

PngRowWriter::PngRowWriter(const std::string& path, int width, int height, std::string& error)
    : path(path), rowsLeft(height) {
    if (width <= 0 || height <= 0) {
        error = "cannot write " + path + ": the image has no pixels";
        return;
    }
    file = std::make_unique<UnfinishedFile>(path, error);
    if (!file->isMarked()) return;
    stream = std::fopen(file->path(), "wb");
    if (stream == nullptr) {
        failWith(std::strerror(errno), error);
        return;
    }
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, onError, onWarning);
    if (png != nullptr) info = png_create_info_struct(png);
    if (info == nullptr) {
        failWith("libpng could not start a file", error);
        return;
    }
    if (setjmp(png_jmpbuf(png))) {
        failWith(failure, error);
        return;
    }
    png_set_write_fn(png, this, writeBytes, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
}

PngRowWriter::~PngRowWriter() { close(); }

bool PngRowWriter::writeRow(const uint8_t* pixels, std::string& error) {
    if (png == nullptr || rowsLeft == 0) return failWith("more rows than the image has, or a failed write", error);
    if (setjmp(png_jmpbuf(png))) return failWith(failure, error);
    png_write_row(png, pixels);
    --rowsLeft;
    return true;
}

bool PngRowWriter::finish(std::string& error) {
    if (png == nullptr || rowsLeft != 0) return failWith("rows missing, or a failed write", error);
    if (setjmp(png_jmpbuf(png))) return failWith(failure, error);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    if (!closed) return failWith(std::strerror(errno), error);
    const bool placed = file->putInPlace(error);
    file.reset();
    return placed;
}

void PngRowWriter::writeBytes(png_structp png, png_bytep bytes, size_t count) {
    // libpng leaves by a long jump, which must pass no object that has a destructor to run.
    PngRowWriter& writer = *static_cast<PngRowWriter*>(png_get_io_ptr(png));
    if (std::fwrite(bytes, 1, count, writer.stream) != count) png_error(png, std::strerror(errno));
}

void PngRowWriter::flushNothing(png_structp) {}

void PngRowWriter::onError(png_structp png, png_const_charp message) {
    static_cast<PngRowWriter*>(png_get_error_ptr(png))->failure = message;
    png_longjmp(png, 1);
}

void PngRowWriter::onWarning(png_structp, png_const_charp) {}

void PngRowWriter::close() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    png = nullptr;
    info = nullptr;
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
    // Removes the unfinished file.
    file.reset();
}

bool PngRowWriter::failWith(const std::string& reason, std::string& error) {
    error = "cannot write " + path + ": " + reason;
    close();
    return false;
}
