// The procedural run-time data set of KELTA: the lake height map, the nine terrain materials in
// atlas order and the sky picture, generated deterministically from a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace datagen {

constexpr uint32_t DEFAULT_SEED = 1;
constexpr int DEFAULT_MAP_SIZE = 512;
constexpr int MATERIAL_SIZE = 512;
constexpr int SKY_SIZE = 1024;
constexpr int MIN_MAP_SIZE = 64;
constexpr int MAX_MAP_SIZE = 8192;

// Pixels as the BMP writer takes them: rows bottom row first, tightly packed.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // one byte per pixel
};
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // red, green, blue per pixel
};

// Height-map pixel values of the landmarks the terrain shading keys on (a pixel of 255 is the
// default height 20).
constexpr int SNOW_LINE_PIXEL = 192;  // first value at or above height 15

// The lake landscape, size x size pixels. Pixel column 0 of the bottom row is the corner the
// camera starts at; the lake bed is exactly 0.
GreyImage generateHeightMap(int size, uint32_t seed);

// The nine terrain materials in atlas order (layer index = position).
constexpr int MATERIAL_COUNT = 9;
enum class Material { Water, Grass, Rock3, Rock4, Pebbles1, Snow, Snow2, GrassDry, WaterNormal };
// "Water", "Grass", ... as the file is named without folder and extension.
const char* materialName(Material material);
// A seamlessly tiling square image of the material.
RgbImage generateMaterial(Material material, int size, uint32_t seed);

// The sky seen looking up, as a disc around the image centre: the centre is the zenith and the
// radius 0.485 of the image lies 10 degrees above the horizon.
RgbImage generateSkydome(int size, uint32_t seed);

// The normal map's channel code. The terrain program decodes a byte by the sRGB transfer, then
// the power 1/2.2, then * 2 - 1; encodeNormalComponent picks the byte whose decoding comes
// nearest to n in [-1, 1], and decodeNormalComponent is that decoding.
uint8_t encodeNormalComponent(float n);
float decodeNormalComponent(uint8_t byte);

struct DataSetOptions {
    std::string outputDir = ".";
    uint32_t seed = DEFAULT_SEED;
    int mapSize = DEFAULT_MAP_SIZE;
    bool onlyMap = false;
};

// Relative paths of the files a run with these options writes, '/'-separated.
std::vector<std::string> dataSetFiles(const DataSetOptions& options);
// Generates and writes the files; on failure returns false with one line naming the folder or
// file at fault in `error`.
bool writeDataSet(const DataSetOptions& options, std::string& error);

}  // namespace datagen
