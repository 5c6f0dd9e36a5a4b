// Writes the seed corpus of the elevation fuzzer into a folder: maps like the real ones (geographic
// with no data around a country, UTM in floats, feet, rotated), rasters off the ground, voids of
// every kind, and drape pictures placed, reprojected, stretched and with chosen bands.
#include "io/BitmapWriter.h"
#include "tests/fuzz/FuzzedRaster.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

using fuzzraster::Header;

const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
const double INFINITE = std::numeric_limits<double>::infinity();

// Indices into fuzzraster's tables.
enum SampleTypeIndex : uint8_t { BYTE, UINT16, INT16, UINT32, INT32, UINT64, INT64, FLOAT32, FLOAT64 };
enum SystemIndex : uint8_t { NO_SYSTEM, WGS84, UTM32, CALIFORNIA_FEET, WEB_MERCATOR, SPHERE, FEET_WITH_HEIGHTS };

Header header(uint8_t type, int width, int height, uint8_t flags, uint8_t system) {
    Header h;
    h.sampleType = type;
    h.width = static_cast<uint8_t>(width - 1);
    h.height = static_cast<uint8_t>(height - 1);
    h.flags = flags;
    h.coordinateSystem = system;
    h.pictureBands = 0;
    h.drapeSide = 15;
    h.mapTransform = {500000.0, 30.0, 0.0, 5000000.0, 0.0, -30.0};
    h.pictureTransform = h.mapTransform;
    return h;
}

// A hill rising to the middle of a width x height map, in the given sample type.
template <typename Sample>
std::vector<Sample> hill(int width, int height, double base, double rise) {
    std::vector<Sample> samples;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = x - (width - 1) / 2.0, dy = y - (height - 1) / 2.0;
            samples.push_back(static_cast<Sample>(base + rise * std::exp(-(dx * dx + dy * dy) / 8.0)));
        }
    }
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const uint8_t map = fuzzraster::MAP_LIES, sea = fuzzraster::HAS_SEA, noData = fuzzraster::HAS_NO_DATA;

    Header luxembourg = header(INT16, 12, 10, map | sea | noData, WGS84);
    luxembourg.mapTransform = {5.74, 1 / 120.0, 0.0, 50.19, 0.0, -1 / 120.0};
    luxembourg.noData = -32768;
    std::vector<int16_t> country = hill<int16_t>(12, 10, 141, 406);
    for (size_t k = 0; k < country.size(); k += 3) country[k] = -32768;

    Header olinda = header(FLOAT32, 11, 11, map | sea, UTM32);
    std::vector<float> coast = hill<float>(11, 11, -1, 89);
    coast[5] = NOT_A_NUMBER;
    coast[17] = INFINITE;

    Header feet = header(UINT16, 8, 6, map | fuzzraster::FILL_VOIDS | noData, CALIFORNIA_FEET);
    feet.heightUnit = 3;
    feet.mapTransform = {6000000.0, 100.0, 0.0, 2000000.0, 0.0, -100.0};
    feet.noData = 0;

    Header rotated = header(FLOAT64, 7, 9, map, NO_SYSTEM);
    rotated.mapTransform = {0.0, 3.0, -8.0, 0.0, 4.0, 6.0};

    Header scaled = header(INT32, 9, 9, map | fuzzraster::HAS_SCALE, FEET_WITH_HEIGHTS);
    scaled.scale = 0.1;
    scaled.offset = -50.0;

    Header image = header(BYTE, 16, 16, 0, NO_SYSTEM);
    Header wide = header(INT64, 5, 3, noData, WEB_MERCATOR);
    wide.noData = -1;

    Header picture = header(BYTE, 10, 8, map | fuzzraster::PICTURE_LIES | fuzzraster::PICTURE_DECLARES_COLOURS, UTM32);
    picture.pictureBands = 2;  // three bands
    picture.pictureTransform = {500090.0, 15.0, 0.0, 4999910.0, 0.0, -15.0};
    // Around 9 E, 45.1 N: where the UTM map lies.
    Header reprojected = picture;
    reprojected.pictureCoordinateSystem = WGS84 + 1;
    reprojected.pictureTransform = {8.99, 0.001, 0.0, 45.16, 0.0, -0.001};
    Header chosen = header(UINT16, 10, 8, map | fuzzraster::DRAPE_BANDS_GIVEN, SPHERE);
    chosen.mapTransform = {-0.5, 0.001, 0.0, 51.5, 0.0, -0.001};
    chosen.pictureBands = 2;
    chosen.drapeBands = {3, 2, 1};

    const std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds = {
        {"luxembourg-int16-no-data", fuzzraster::encode(luxembourg, fuzzraster::sampleBytes(country))},
        {"olinda-float32-nan", fuzzraster::encode(olinda, fuzzraster::sampleBytes(coast))},
        {"feet-uint16-filled", fuzzraster::encode(feet, fuzzraster::sampleBytes(hill<uint16_t>(8, 6, 0, 3000)))},
        {"rotated-float64", fuzzraster::encode(rotated, fuzzraster::sampleBytes(hill<double>(7, 9, -400, 9000)))},
        {"scaled-int32", fuzzraster::encode(scaled, fuzzraster::sampleBytes(hill<int32_t>(9, 9, -2000, 90000)))},
        {"image-byte", fuzzraster::encode(image, fuzzraster::sampleBytes(hill<uint8_t>(16, 16, 0, 255)))},
        {"off-the-ground-int64", fuzzraster::encode(wide, fuzzraster::sampleBytes(hill<int64_t>(5, 3, -1, 1e12)))},
        {"drape-rgb-placed", fuzzraster::encode(picture, fuzzraster::sampleBytes(hill<uint8_t>(10, 24, 30, 200)))},
        {"drape-reprojected", fuzzraster::encode(reprojected, fuzzraster::sampleBytes(hill<uint8_t>(10, 24, 30, 200)))},
        {"drape-bands-chosen", fuzzraster::encode(chosen, fuzzraster::sampleBytes(hill<uint16_t>(10, 24, 0, 4000)))},
    };
    for (const auto& [name, bytes] : seeds) {
        const std::string path = folder + "/" + name;
        if (!writeFile(path, bytes)) {
            std::fprintf(stderr, "Could not write %s\n", path.c_str());
            return 1;
        }
        const std::string failure = fuzzraster::check(bytes.data(), bytes.size());
        if (!failure.empty()) {
            std::fprintf(stderr, "Seed %s fails its own checks: %s\n", name.c_str(), failure.c_str());
            return 1;
        }
    }
    std::printf("%zu seed files written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
