// Eight-bit RGB images as the programs write them (stills, screenshots) and the tests read them back, through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage8 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // red, green, blue per pixel; top row first
};

// Writes the image as a non-interlaced 8-bit RGB PNG, replacing the file whole or not at all
// (see replaceFile); on failure returns false with a line naming the file in `error`.
bool writePng(const std::string& path, const RgbImage8& image, std::string& error);
// Reads any PNG that libpng can turn into 8-bit RGB (palette, grey, 16-bit and alpha are
// converted; alpha is dropped); on failure returns false with a line naming the file.
bool readPng(const std::string& path, RgbImage8& image, std::string& error);
