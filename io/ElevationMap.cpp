// Reads band 1 of a raster twice, a strip of rows at a time: once for the range of its heights and
// its voids, once to quantise it into the samples. Holding only the 16-bit samples keeps the
// largest maps at two bytes a sample instead of eight.
#include "io/ElevationMap.h"

#include "io/BitmapFormat.h"
#include "io/ImageInput.h"
#include "io/VoidFill.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <sstream>

namespace {

const int STRIP_ROWS = 64;
// Beyond the deepest trench and the highest peak, with room to spare.
const double FARTHEST_HEIGHT_METRES = 12000.0;
const double CLOSEST_SPACING_METRES = 0.001;
const uint16_t LARGEST_8_BIT = 255;
const uint16_t LARGEST_16_BIT = 65535;

// What the first reading found.
struct HeightRange {
    uint64_t voidCount = 0;
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
};

// Hands `visit` every row of band 1, top row first, with its row number.
template <typename Visit>
bool forEachRow(const RasterSource& raster, Visit visit, std::string& message) {
    const RasterGrid& grid = raster.info().grid;
    std::vector<double> strip;
    try {
        strip.resize(static_cast<size_t>(grid.width) * static_cast<size_t>(std::min(STRIP_ROWS, grid.height)));
    } catch (const std::bad_alloc&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    for (int top = 0; top < grid.height; top += STRIP_ROWS) {
        const RasterWindow window{0, top, grid.width, std::min(STRIP_ROWS, grid.height - top)};
        if (!raster.readWindow(1, 0, window, strip.data(), message)) return false;
        for (int row = 0; row < window.height; ++row) {
            visit(top + row, strip.data() + static_cast<size_t>(row) * static_cast<size_t>(grid.width));
        }
    }
    return true;
}

bool allocate(HeightSamples& map, bool withVoids, std::string& message) {
    try {
        map.samples.resize(static_cast<size_t>(map.width) * static_cast<size_t>(map.height));
        if (withVoids) map.voids.resize(map.samples.size());
    } catch (const std::bad_alloc&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    return true;
}

}  // namespace

HeightRule HeightRule::of(const RasterInfo& info, const ElevationOptions& options) {
    HeightRule rule;
    rule.noData = info.noData;
    if (info.grid.geoTransform.has_value()) {
        rule.scale = info.valueScale;
        rule.offset = info.valueOffset;
        rule.metresPerUnit = info.verticalMetresPerUnit;
        if (options.hasSea) rule.seaLevel = options.seaLevelMetres;
        return rule;
    }
    rule.paletteReds = info.paletteReds;
    if (info.sampleType == SampleType::UInt8 && info.sampleBits > 0 && info.sampleBits < 8) {
        rule.spread = double(LARGEST_8_BIT) / double((1 << info.sampleBits) - 1);
    }
    return rule;
}

std::string describeRaster(const RasterInfo& info) {
    std::string text = info.formatName + ", " +
                       (info.coordinateSystemName.empty() ? "no coordinate system (units taken as metres)"
                                                          : info.coordinateSystemName);
    if (!info.verticalUnitName.empty() && metresPerHeightUnit(info.verticalUnitName) != 1.0) {
        text += ", heights in " + info.verticalUnitName;
        if (metresPerHeightUnit(info.verticalUnitName) == 0.0) text += " (not a unit KELTA knows: taken as metres)";
    }
    return text;
}


bool heightMapSizeOf(const RasterInfo& info, int largestSide, int& width, int& height, std::string& message) {
    if (info.bandCount < 1) {
        message = "File holds no raster band";
        return false;
    }
    if (info.grid.width > largestSide || info.grid.height > largestSide) {
        message = TOO_LARGE_MESSAGE;
        return false;
    }
    width = info.grid.width;
    height = info.grid.height;
    return true;
}

bool isTerrain(const RasterInfo& info, double lowest, double highest, std::string& message) {
    std::ostringstream line;
    const RasterGrid& grid = info.grid;
    if (!grid.geoTransform) {
        // Image maps through GDAL are taken as BMP and PNG files are, a single row or column included.
    } else if (grid.width < 2 || grid.height < 2) {
        line << "Elevation map is " << grid.width << " x " << grid.height
             << " samples: a terrain needs at least 2 either way";
    } else if ((*grid.geoTransform)[2] != 0.0 || (*grid.geoTransform)[4] != 0.0) {
        line << "Elevation map's grid is rotated (its geotransform's rotation terms are " << (*grid.geoTransform)[2]
             << " and " << (*grid.geoTransform)[4] << "): warp it north-up first, e.g. with gdalwarp";
    } else {
        double columnMetres = 0.0, rowMetres = 0.0;
        if (!groundSpacing(grid, info.units, columnMetres, rowMetres)) {
            line << "Elevation map's geotransform gives its samples no usable spacing (" << columnMetres << " x "
                 << rowMetres << " m apart)";
        } else if (std::min(columnMetres, rowMetres) < CLOSEST_SPACING_METRES) {
            line << "Elevation map's samples lie " << columnMetres << " x " << rowMetres
                 << " m apart: a terrain's lie at least a millimetre apart";
        } else if (lowest < -FARTHEST_HEIGHT_METRES || highest > FARTHEST_HEIGHT_METRES) {
            line << "Elevation map's heights run from " << lowest << " to " << highest
                 << " m: no terrain lies beyond +-12,000 m";
        }
    }
    message = line.str();
    return message.empty();
}

bool groundSpacing(const RasterGrid& grid, const CoordinateUnits& units, double& columnMetres, double& rowMetres) {
    if (!grid.geoTransform) return false;
    const std::array<double, 6>& t = *grid.geoTransform;
    // Metres along the grid's x and y axes per coordinate unit.
    double eastMetres = units.metresPerUnit;
    double northMetres = units.metresPerUnit;
    if (units.geographic) {
        const double halfPi = std::acos(0.0);
        const double centreLatitude =
            (t[3] + t[4] * grid.width / 2.0 + t[5] * grid.height / 2.0) * units.radiansPerUnit;
        const double latitude = std::clamp(centreLatitude, -halfPi, halfPi);
        const double eccentricitySquared = units.flattening * (2.0 - units.flattening);
        const double sine = std::sin(latitude);
        const double w = std::sqrt(1.0 - eccentricitySquared * sine * sine);
        const double primeVerticalRadius = units.semiMajorMetres / w;
        const double meridianRadius = units.semiMajorMetres * (1.0 - eccentricitySquared) / (w * w * w);
        eastMetres = primeVerticalRadius * std::cos(latitude) * units.radiansPerUnit;
        northMetres = meridianRadius * units.radiansPerUnit;
    }
    columnMetres = std::hypot(t[1] * eastMetres, t[4] * northMetres);
    rowMetres = std::hypot(t[2] * eastMetres, t[5] * northMetres);
    return std::isfinite(columnMetres) && std::isfinite(rowMetres) && columnMetres > 0.0 && rowMetres > 0.0;
}

bool heightSamplesFromRaster(const RasterSource& raster, const ElevationOptions& options, HeightSamples& map,
                             std::string& message) {
    const RasterInfo& info = raster.info();
    if (!heightMapSizeOf(info, MAX_BITMAP_SIDE, map.width, map.height, message)) return false;
    if (options.hasSea && !std::isfinite(options.seaLevelMetres)) {
        message = "Sea level is not a finite number of metres";
        return false;
    }
    const bool isElevation = info.grid.geoTransform.has_value();
    // Unsigned 8- and 16-bit rasters off the ground are image maps like BMP and PNG files.
    const bool isImage =
        !isElevation && (info.sampleType == SampleType::UInt8 || info.sampleType == SampleType::UInt16);
    const HeightRule rule = HeightRule::of(info, options);

    HeightRange range;
    const bool scanned = forEachRow(raster, [&](int, const double* values) {
        for (int column = 0; column < map.width; ++column) {
            const double height = rule.heightOf(values[column]);
            if (std::isnan(height)) {
                ++range.voidCount;
            } else {
                range.lowest = std::min(range.lowest, height);
                range.highest = std::max(range.highest, height);
            }
        }
    }, message);
    if (!scanned) return false;
    const uint64_t sampleCount = static_cast<uint64_t>(map.width) * static_cast<uint64_t>(map.height);
    if (range.voidCount == sampleCount) {
        message = "Map holds no data: all of its " + std::to_string(sampleCount) +
                  " samples are voids (its no-data value, NaN or an infinity)";
        return false;
    }
    if (!isTerrain(info, range.lowest, range.highest, message)) return false;
    Elevation elevation;
    if (isElevation) groundSpacing(info.grid, info.units, elevation.columnMetres, elevation.rowMetres);

    map.largestValue = isImage && info.sampleType == SampleType::UInt8 ? LARGEST_8_BIT : LARGEST_16_BIT;
    double lowest = range.lowest;
    double highest = range.highest;
    if (isImage) {
        lowest = 0.0;
        highest = map.largestValue;
    } else if (isElevation && options.hasSea) {
        lowest = std::max(lowest, options.seaLevelMetres);
        highest = std::max(highest, lowest);
    }
    double span = highest - lowest;
    if (!std::isfinite(span)) {
        message = "Map's heights span more than a number holds";
        return false;
    }
    // A step too small for a normal double has lost its precision (1e-308 m): such a map is flat.
    if (span / LARGEST_16_BIT < std::numeric_limits<double>::min()) span = 0.0;
    if (!allocate(map, range.voidCount > 0, message)) return false;

    uint64_t voidCount = 0;
    const bool quantised = forEachRow(raster, [&](int row, const double* values) {
        const size_t bottomFirst = static_cast<size_t>(map.height - 1 - row) * static_cast<size_t>(map.width);
        for (int column = 0; column < map.width; ++column) {
            const double height = rule.groundOf(values[column]);
            if (std::isnan(height)) {
                // The file changed between the readings if there is no room to mark it; take it as the lowest.
                if (!map.voids.empty()) map.voids[bottomFirst + column] = 1;
                ++voidCount;
                continue;
            }
            const double share = span > 0.0 ? std::clamp((height - lowest) / span, 0.0, 1.0) : 0.0;
            map.samples[bottomFirst + column] = static_cast<uint16_t>(std::lround(share * map.largestValue));
        }
    }, message);
    if (!quantised) return false;
    if (voidCount > 0 && !map.voids.empty() && !fillVoids(map.width, map.height, map.voids, map.samples, message)) {
        return false;
    }
    if (options.fillVoids) std::vector<uint8_t>().swap(map.voids);
    if (!isElevation) return true;
    elevation.lowestMetres = lowest;
    elevation.metresPerValue = span > 0.0 ? span / LARGEST_16_BIT : 1.0;
    elevation.minimumMetres = range.lowest;
    elevation.maximumMetres = range.highest;
    elevation.voidCount = voidCount;
    elevation.description = describeRaster(info);
    elevation.coordinateSystemName = info.coordinateSystemName;
    elevation.grid = info.grid;
    map.elevation = std::move(elevation);
    return true;
}
