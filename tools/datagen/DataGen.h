// The procedural run-time data set of KELTA: the lake height map, the nine terrain materials in
// atlas order and the sky picture, generated deterministically from a seed.
#pragma once

#include <cstdint>
#include <functional>
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

// The lake landscape, size x size pixels, before it is quantised: heights in 8-bit pixel levels
// (255 is the default height 20), bottom row first. Pixel column 0 of the bottom row is the
// corner the camera starts at; the lake bed is exactly 0 and all other ground above 0.
struct HeightField {
    int width = 0;
    int height = 0;
    std::vector<float> levels;
};
HeightField generateHeightField(int size, uint32_t seed);
// The field rounded to 8 or to 16 bits (65535 levels for 255 of the 8-bit map); the lake bed
// stays 0 and no other ground rounds down to it.
GreyImage quantiseTo8Bits(const HeightField& field);
std::vector<uint16_t> quantiseTo16Bits(const HeightField& field);
// The 8-bit height map: the field of generateHeightField quantised to 8 bits.
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

// How the height map is written: an 8-bit grey BMP (Maps/Lake_<size>.bmp) or a 16-bit grey PNG
// of the field's full precision (Maps/Lake_<size>.png).
enum class MapFormat { Bmp8, Png16 };

struct DataSetOptions {
    std::string outputDir = ".";
    uint32_t seed = DEFAULT_SEED;
    int mapSize = DEFAULT_MAP_SIZE;
    MapFormat mapFormat = MapFormat::Bmp8;
    bool onlyMap = false;
    // Replace existing files that differ from what this run writes.
    bool force = false;
};

// Relative paths of the files a run with these options writes, '/'-separated: the map asked for,
// then, for a whole data set whose map is not kelta's default Maps/Lake_512.bmp, that one too
// (same seed), then the materials and the sky.
std::vector<std::string> dataSetFiles(const DataSetOptions& options);
// Generates the files, then replaces each whole (see replaceFile) and passes its relative path
// to `wrote`. Unless options.force is set, a file already there that differs from what would be
// written is refused before anything is written. On failure returns false with one line naming
// the folder or file at fault in `error`.
bool writeDataSet(const DataSetOptions& options, std::string& error,
                  const std::function<void(const std::string& relativePath)>& wrote = {});

}  // namespace datagen
