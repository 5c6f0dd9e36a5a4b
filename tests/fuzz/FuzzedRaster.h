// The elevation fuzzer's input: a header of raster properties (sample type, size, no-data value,
// geotransforms, coordinate system, unit of height, options) followed by the samples, turned into
// in-memory GDAL rasters, and the checks of what KELTA makes of them. Shared by the fuzz target,
// its seed corpus tool and the unit test that replays the fuzzer's findings.
#pragma once

#include "io/Drape.h"
#include "io/ElevationMap.h"
#include "io/GdalRaster.h"
#include "tests/GdalTestRasters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace fuzzraster {

const GDALDataType SAMPLE_TYPES[] = {GDT_Byte,   GDT_UInt16, GDT_Int16,   GDT_UInt32,  GDT_Int32,
                                     GDT_UInt64, GDT_Int64,  GDT_Float32, GDT_Float64};
// Geographic on an ellipsoid and on a sphere, projected in metres and in US feet, with a vertical
// part in feet, and none.
const char* const COORDINATE_SYSTEMS[] = {"",          "EPSG:4326", "EPSG:32632",     "EPSG:2227",
                                          "EPSG:3857", "+proj=longlat +R=6371000 +no_defs", "EPSG:2227+6360"};
const char* const HEIGHT_UNITS[] = {"", "m", "metre", "ft", "US survey foot", "km", "furlong"};
const int LARGEST_SIDE = 16;
const int LARGEST_PICTURE_BANDS = 4;

enum Flags : uint8_t {
    HAS_NO_DATA = 1,
    MAP_LIES = 2,  // the map has a geotransform
    FILL_VOIDS = 4,
    HAS_SEA = 8,
    PICTURE_LIES = 16,  // the drape picture has a geotransform
    DRAPE_BANDS_GIVEN = 32,
    HAS_SCALE = 64,
    PICTURE_DECLARES_COLOURS = 128,
};

struct Header {
    uint8_t sampleType = 0;
    uint8_t width = 1;
    uint8_t height = 1;
    uint8_t flags = 0;
    uint8_t coordinateSystem = 0;
    uint8_t heightUnit = 0;
    uint8_t pictureBands = 1;
    uint8_t drapeSide = 16;
    // 0: the map's coordinate system; n: COORDINATE_SYSTEMS[n - 1], so that pictures are reprojected.
    uint8_t pictureCoordinateSystem = 0;
    std::array<uint8_t, 3> drapeBands{};
    double noData = 0.0;
    double seaLevel = 0.0;
    double scale = 1.0;
    double offset = 0.0;
    std::array<double, 6> mapTransform{};
    std::array<double, 6> pictureTransform{};
};

const size_t HEADER_SIZE = 12 + 4 * 8 + 12 * 8;

inline size_t sampleSize(const Header& header) {
    return static_cast<size_t>(GDALGetDataTypeSizeBytes(SAMPLE_TYPES[header.sampleType % std::size(SAMPLE_TYPES)]));
}

// A field-by-field copy, so that the layout does not depend on the compiler's padding.
template <typename Visit>
void visitFields(Header& header, Visit visit) {
    for (uint8_t* field : {&header.sampleType, &header.width, &header.height, &header.flags, &header.coordinateSystem,
                           &header.heightUnit, &header.pictureBands, &header.drapeSide,
                           &header.pictureCoordinateSystem}) {
        visit(field, 1);
    }
    visit(header.drapeBands.data(), 3);
    for (double* field : {&header.noData, &header.seaLevel, &header.scale, &header.offset}) visit(field, 8);
    visit(header.mapTransform.data(), 48);
    visit(header.pictureTransform.data(), 48);
}

inline std::vector<uint8_t> encode(Header header, const std::vector<uint8_t>& samples) {
    std::vector<uint8_t> bytes;
    visitFields(header, [&](void* field, size_t size) {
        const uint8_t* from = static_cast<const uint8_t*>(field);
        bytes.insert(bytes.end(), from, from + size);
    });
    bytes.insert(bytes.end(), samples.begin(), samples.end());
    return bytes;
}

// Samples the header's type holds, as bytes.
template <typename Sample>
std::vector<uint8_t> sampleBytes(const std::vector<Sample>& samples) {
    std::vector<uint8_t> bytes(samples.size() * sizeof(Sample));
    if (!bytes.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// Reads a header and samples from any bytes: missing bytes are zeros, counts wrap into range.
inline Header decode(const uint8_t* data, size_t size, std::vector<double>& samples) {
    Header header;
    size_t at = 0;
    visitFields(header, [&](void* field, size_t fieldSize) {
        std::memset(field, 0, fieldSize);
        if (at < size) std::memcpy(field, data + at, std::min(fieldSize, size - at));
        at += fieldSize;
    });
    header.sampleType %= std::size(SAMPLE_TYPES);
    header.width = static_cast<uint8_t>(header.width % LARGEST_SIDE + 1);
    header.height = static_cast<uint8_t>(header.height % LARGEST_SIDE + 1);
    header.coordinateSystem %= std::size(COORDINATE_SYSTEMS);
    header.pictureCoordinateSystem %= std::size(COORDINATE_SYSTEMS) + 1;
    header.heightUnit %= std::size(HEIGHT_UNITS);
    header.pictureBands = static_cast<uint8_t>(header.pictureBands % LARGEST_PICTURE_BANDS + 1);
    header.drapeSide = static_cast<uint8_t>(header.drapeSide % (2 * LARGEST_SIDE) + 1);
    const GDALDataType type = SAMPLE_TYPES[header.sampleType];
    const size_t count = size_t(header.width) * header.height * header.pictureBands;
    samples.assign(count, 0.0);
    for (size_t k = 0; k < count; ++k) {
        uint8_t bytes[8] = {};
        const size_t from = HEADER_SIZE + k * sampleSize(header);
        if (from < size) std::memcpy(bytes, data + from, std::min(sampleSize(header), size - from));
        GDALCopyWords(bytes, type, 0, &samples[k], GDT_Float64, 0, 1);
    }
    return header;
}

inline gdaltest::Raster rasterOf(const Header& header, const std::vector<double>& samples, bool asPicture) {
    gdaltest::Raster raster;
    raster.width = header.width;
    raster.height = header.height;
    raster.type = SAMPLE_TYPES[header.sampleType];
    raster.values = samples;
    raster.coordinateSystem = COORDINATE_SYSTEMS[header.coordinateSystem];
    if (header.flags & HAS_NO_DATA) raster.noData = header.noData;
    if (asPicture) {
        if (header.pictureCoordinateSystem > 0) {
            raster.coordinateSystem = COORDINATE_SYSTEMS[header.pictureCoordinateSystem - 1];
        }
        raster.bands = header.pictureBands;
        if (header.flags & PICTURE_LIES) raster.geoTransform = header.pictureTransform;
        if ((header.flags & PICTURE_DECLARES_COLOURS) && raster.bands >= 3) {
            raster.colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
        }
        return raster;
    }
    if (header.flags & MAP_LIES) raster.geoTransform = header.mapTransform;
    raster.unit = HEIGHT_UNITS[header.heightUnit];
    if (header.flags & HAS_SCALE) raster.scaleAndOffset = std::pair<double, double>(header.scale, header.offset);
    return raster;
}

inline bool isOneLine(const std::string& message) { return !message.empty() && message.find('\n') == std::string::npos; }

// Whether each valid sample holds its height to within half a step: the height as GDAL stores it
// (with the scale, offset and unit the map's info gives), clamped to the quantised range.
inline bool heightsHold(const HeightSamples& map, const RasterSource& raster) {
    const RasterInfo& info = raster.info();
    std::vector<double> stored(size_t(map.width) * map.height);
    std::string message;
    if (!raster.readWindow(1, 0, {0, 0, map.width, map.height}, stored.data(), message)) return false;
    const Elevation& elevation = *map.elevation;
    const double highest = elevation.lowestMetres + 65535 * elevation.metresPerValue;
    const double slack = 1e-9 * (std::abs(elevation.lowestMetres) + std::abs(highest)) + elevation.metresPerValue / 2;
    for (size_t k = 0; k < size_t(map.width) * map.height; ++k) {
        const double value = stored[k];
        if (info.noData && value == *info.noData) continue;
        const double metres = (value * info.valueScale + info.valueOffset) * info.verticalMetresPerUnit;
        if (!std::isfinite(metres)) continue;
        const size_t at = (map.height - 1 - k / map.width) * map.width + k % map.width;
        const double expected = std::clamp(metres, elevation.lowestMetres, std::max(elevation.lowestMetres, highest));
        const double got = elevation.lowestMetres + map.samples[at] * elevation.metresPerValue;
        if (elevation.metresPerValue > 0 && !(std::abs(got - expected) <= slack)) return false;
    }
    return true;
}

// Runs the elevation conversion and the drape on the rasters the bytes describe. Returns what
// went wrong, or an empty text when everything held.
inline std::string check(const uint8_t* data, size_t size) {
    std::vector<double> samples;
    const Header header = decode(data, size, samples);
    GdalDataset mapDataset = gdaltest::inMemory(rasterOf(header, samples, false));
    GdalDataset picture = gdaltest::inMemory(rasterOf(header, samples, true));
    if (!mapDataset || !picture) return "";  // GDAL refused the raster itself
    const GdalRaster raster(std::move(mapDataset));
    const RasterInfo& info = raster.info();
    ElevationOptions options;
    options.fillVoids = header.flags & FILL_VOIDS;
    options.hasSea = header.flags & HAS_SEA;
    options.seaLevelMetres = header.seaLevel;
    HeightSamples map;
    std::string message;
    if (heightSamplesFromRaster(raster, options, map, message)) {
        const size_t count = size_t(header.width) * header.height;
        if (map.width != header.width || map.height != header.height || map.samples.size() != count) return "size";
        if (map.largestValue != 255 && map.largestValue != 65535) return "largest value";
        for (const uint16_t sample : map.samples) {
            if (sample > map.largestValue) return "sample above the largest value";
        }
        if (!map.voids.empty() && (options.fillVoids || map.voids.size() != count)) return "voids";
        if (map.elevation.has_value() != info.grid.geoTransform.has_value()) return "elevation without a geotransform";
        if (map.elevation) {
            const Elevation& e = *map.elevation;
            const bool finite = std::isfinite(e.lowestMetres) && std::isfinite(e.metresPerValue) &&
                                std::isfinite(e.minimumMetres) && std::isfinite(e.maximumMetres);
            if (!finite || !(e.columnMetres > 0) || !(e.rowMetres > 0) || !std::isfinite(e.columnMetres) ||
                !std::isfinite(e.rowMetres) || e.minimumMetres > e.maximumMetres || e.voidCount >= count) {
                return "elevation figures";
            }
            const double lowest = options.hasSea ? std::max(e.minimumMetres, options.seaLevelMetres) : e.minimumMetres;
            if (e.lowestMetres != lowest) return "sea level";
            if (!heightsHold(map, raster)) return "a height off by more than half a step";
        }
    } else if (!isOneLine(message)) {
        return "elevation message: " + message;
    }

    RasterGrid grid = info.grid;
    std::vector<int> bands;
    if (header.flags & DRAPE_BANDS_GIVEN) bands.assign(header.drapeBands.begin(), header.drapeBands.end());
    DrapeImage image;
    message.clear();
    if (drapeFromDataset(picture.get(), grid, bands, header.drapeSide, image, message)) {
        if (image.rgba.empty()) {
            if (!isOneLine(message) || message.empty()) return "off-the-map message: " + message;
        } else if (image.width < 1 || image.height < 1 || image.width > header.drapeSide || image.height > header.drapeSide ||
            image.rgba.size() != size_t(image.width) * image.height * 4) {
            return "drape size";
        }
    } else if (!isOneLine(message) || !image.rgba.empty()) {
        return "drape message: " + message;
    }
    return "";
}

}  // namespace fuzzraster
