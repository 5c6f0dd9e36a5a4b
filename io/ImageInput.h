// What the image readers share: the messages for input they refuse and a file handle that
// closes itself.
#pragma once

#include <cstdio>
#include <memory>

constexpr const char* TRUNCATED_MESSAGE = "File is truncated";
constexpr const char* TOO_LARGE_MESSAGE = "Image is larger than 32768 pixels on a side";
constexpr const char* NO_IMAGE_MEMORY_MESSAGE = "Not enough memory to allocate an image buffer";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
