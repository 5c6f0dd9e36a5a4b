// Describes a GDAL dataset in KELTA's terms and reads windows of its bands.
#include "io/GdalRaster.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

SampleType sampleTypeOf(GDALRasterBandH band) {
    switch (GDALGetRasterDataType(band)) {
        case GDT_Byte: {
            // Before GDAL 3.7 signed bytes are unsigned ones with a note beside them.
            const char* pixelType = GDALGetMetadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
            return pixelType != nullptr && std::strcmp(pixelType, "SIGNEDBYTE") == 0 ? SampleType::Int8
                                                                                       : SampleType::UInt8;
        }
#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 7, 0)
        case GDT_Int8:
            return SampleType::Int8;
#endif
        case GDT_UInt16:
            return SampleType::UInt16;
        case GDT_Int16:
            return SampleType::Int16;
        case GDT_UInt32:
            return SampleType::UInt32;
        case GDT_Int32:
            return SampleType::Int32;
        case GDT_UInt64:
            return SampleType::UInt64;
        case GDT_Int64:
            return SampleType::Int64;
        case GDT_Float32:
            return SampleType::Float32;
        case GDT_Float64:
            return SampleType::Float64;
        default:
            return SampleType::Complex;
    }
}

std::optional<double> noDataOf(GDALRasterBandH band) {
    int has = 0;
    double value = 0.0;
    // 64-bit integer bands keep their no-data value apart, out of a double's reach.
    switch (GDALGetRasterDataType(band)) {
        case GDT_Int64:
            value = static_cast<double>(GDALGetRasterNoDataValueAsInt64(band, &has));
            break;
        case GDT_UInt64:
            value = static_cast<double>(GDALGetRasterNoDataValueAsUInt64(band, &has));
            break;
        default:
            value = GDALGetRasterNoDataValue(band, &has);
            break;
    }
    return has ? std::optional<double>(value) : std::nullopt;
}

void describeCoordinateSystem(GDALDatasetH dataset, RasterInfo& info) {
    OGRSpatialReferenceH system = GDALGetSpatialRef(dataset);
    if (system == nullptr) return;
    char* wkt = nullptr;
    if (OSRExportToWkt(system, &wkt) == OGRERR_NONE && wkt != nullptr) info.grid.coordinateSystemWkt = wkt;
    CPLFree(wkt);
    const char* name = OSRGetName(system);
    info.coordinateSystemName = name != nullptr ? name : "unnamed coordinate system";
    CoordinateUnits& units = info.units;
    units.geographic = OSRIsGeographic(system) != 0;
    if (units.geographic) {
        OGRErr error = OGRERR_NONE;
        units.radiansPerUnit = OSRGetAngularUnits(system, nullptr);
        units.semiMajorMetres = OSRGetSemiMajor(system, &error);
        const double inverseFlattening = OSRGetInvFlattening(system, &error);
        units.flattening = inverseFlattening != 0.0 ? 1.0 / inverseFlattening : 0.0;
    } else {
        units.metresPerUnit = OSRGetLinearUnits(system, nullptr);
    }
    // A compound system's vertical part gives the unit of heights when the band names none.
    if (info.verticalUnitName.empty() && OSRIsCompound(system)) {
        char* unit = nullptr;
        info.verticalMetresPerUnit = OSRGetTargetLinearUnits(system, "VERT_CS", &unit);
        info.verticalUnitName = unit != nullptr ? unit : "";
    }
}

void describeHeightBand(GDALRasterBandH band, RasterInfo& info) {
    info.sampleType = sampleTypeOf(band);
    info.noData = noDataOf(band);
    int has = 0;
    const double scale = GDALGetRasterScale(band, &has);
    if (has) info.valueScale = scale;
    const double offset = GDALGetRasterOffset(band, &has);
    if (has) info.valueOffset = offset;
    const char* unit = GDALGetRasterUnitType(band);
    info.verticalUnitName = unit != nullptr ? unit : "";
    const double metres = metresPerHeightUnit(info.verticalUnitName);
    info.verticalMetresPerUnit = metres > 0.0 ? metres : 1.0;
    GDALColorTableH palette = GDALGetRasterColorTable(band);
    if (palette != nullptr && GDALGetRasterColorInterpretation(band) == GCI_PaletteIndex) {
        for (int entry = 0; entry < GDALGetColorEntryCount(palette); ++entry) {
            info.paletteReds.push_back(static_cast<uint8_t>(std::clamp<int>(GDALGetColorEntry(palette, entry)->c1, 0, 255)));
        }
    }
    const char* bits = GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE");
    if (bits != nullptr) info.sampleBits = std::atoi(bits);
    // Statistics GDAL took from a share of the samples, or from an overview, are no bounds of the map.
    const char* approximate = GDALGetMetadataItem(band, "STATISTICS_APPROXIMATE", nullptr);
    const char* lowest = GDALGetMetadataItem(band, "STATISTICS_MINIMUM", nullptr);
    const char* highest = GDALGetMetadataItem(band, "STATISTICS_MAXIMUM", nullptr);
    if (lowest != nullptr && highest != nullptr && (approximate == nullptr || !CPLTestBool(approximate))) {
        info.statistics = std::make_pair(CPLAtof(lowest), CPLAtof(highest));
    }
    for (int overview = 0; overview < GDALGetOverviewCount(band); ++overview) {
        GDALRasterBandH level = GDALGetOverview(band, overview);
        if (level != nullptr) info.levels.push_back({GDALGetRasterBandXSize(level), GDALGetRasterBandYSize(level)});
    }
}

RasterInfo describe(GDALDatasetH dataset) {
    GdalMessages messages;
    RasterInfo info;
    info.grid.width = GDALGetRasterXSize(dataset);
    info.grid.height = GDALGetRasterYSize(dataset);
    std::array<double, 6> transform{};
    if (GDALGetGeoTransform(dataset, transform.data()) == CE_None) info.grid.geoTransform = transform;
    GDALDriverH driver = GDALGetDatasetDriver(dataset);
    info.formatName = driver != nullptr ? GDALGetDriverLongName(driver) : "";
    info.bandCount = GDALGetRasterCount(dataset);
    info.levels.push_back({info.grid.width, info.grid.height});
    if (info.bandCount > 0) describeHeightBand(GDALGetRasterBand(dataset, 1), info);
    describeCoordinateSystem(dataset, info);
    return info;
}

// Turns the grid north-up and west to east, returning the axes that mirrors.
Mirroring turnNorthUp(RasterGrid& grid) {
    if (!grid.geoTransform) return Mirroring();
    std::array<double, 6>& t = *grid.geoTransform;
    const Mirroring mirroring = mirroringOf(t);
    if (mirroring.columns) {
        t[0] += t[1] * grid.width;
        t[1] = -t[1];
    }
    if (mirroring.rows) {
        t[3] += t[5] * grid.height;
        t[5] = -t[5];
    }
    return mirroring;
}

template <typename Value>
void mirror(const RasterWindow& window, const Mirroring& mirroring, Value* values) {
    const size_t width = size_t(window.width);
    if (mirroring.columns) {
        for (int row = 0; row < window.height; ++row) std::reverse(values + row * width, values + (row + 1) * width);
    }
    if (mirroring.rows) {
        for (int top = 0, bottom = window.height - 1; top < bottom; ++top, --bottom) {
            std::swap_ranges(values + top * width, values + (top + 1) * width, values + bottom * width);
        }
    }
}

template <typename Value>
constexpr GDALDataType gdalTypeOf() {
    return std::is_same<Value, float>::value ? GDT_Float32 : GDT_Float64;
}

}  // namespace

GdalRaster::GdalRaster(GdalDataset opened) : dataset(std::move(opened)), described(describe(dataset.get())) {
    mirroring = turnNorthUp(described.grid);
}

template <typename Value>
bool GdalRaster::read(int band, int level, const RasterWindow& window, Value* out, std::string& message) const {
    const std::lock_guard<std::mutex> lock(reading);
    GdalMessages messages;
    if (band < 1 || band > described.bandCount) {
        message = "Band " + std::to_string(band) + " is not in the raster, which has " +
                  std::to_string(described.bandCount) + " bands";
        return false;
    }
    GDALRasterBandH source = GDALGetRasterBand(dataset.get(), band);
    const bool signedBytes = sampleTypeOf(source) == SampleType::Int8 && GDALGetRasterDataType(source) == GDT_Byte;
    if (level != 0) {
        source = level > 0 && level <= GDALGetOverviewCount(source) ? GDALGetOverview(source, level - 1) : nullptr;
    }
    if (source == nullptr) {
        message = "Band " + std::to_string(band) + " has no level " + std::to_string(level);
        return false;
    }
    const int width = GDALGetRasterBandXSize(source);
    const int height = GDALGetRasterBandYSize(source);
    if (window.width < 1 || window.height < 1 || window.column < 0 || window.row < 0 ||
        window.column > width - window.width || window.row > height - window.height) {
        message = "The window to read lies outside the raster";
        return false;
    }
    const int column = mirroring.columns ? width - window.column - window.width : window.column;
    const int row = mirroring.rows ? height - window.row - window.height : window.row;
    if (GDALRasterIO(source, GF_Read, column, row, window.width, window.height, out, window.width, window.height,
                     gdalTypeOf<Value>(), 0, 0) != CE_None) {
        message = "GDAL could not read the samples: " + messages.reason();
        return false;
    }
    mirror(window, mirroring, out);
    if (signedBytes) {
        const size_t count = static_cast<size_t>(window.width) * static_cast<size_t>(window.height);
        for (size_t k = 0; k < count; ++k) {
            if (out[k] >= 128) out[k] -= 256;
        }
    }
    return true;
}

bool GdalRaster::readWindow(int band, int level, const RasterWindow& window, double* out,
                            std::string& message) const {
    return read(band, level, window, out, message);
}

bool GdalRaster::readWindow(int band, int level, const RasterWindow& window, float* out,
                            std::string& message) const {
    return read(band, level, window, out, message);
}

std::unique_ptr<RasterSource> openRaster(const std::string& path, std::string& message) {
    GdalDataset dataset = openGdalDataset(path, message);
    if (!dataset) return nullptr;
    return std::make_unique<GdalRaster>(std::move(dataset));
}
