// Rasters made with GDAL's own API, in memory or as files, for the tests and the fuzz targets:
// KELTA's handling of what GDAL hands over is tested without committed files or GDAL's parsers.
#pragma once

#include "io/Gdal.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace gdaltest {

struct Raster {
    int width = 1;
    int height = 1;
    int bands = 1;
    GDALDataType type = GDT_Float32;
    // Band after band, each top row first; values missing at the end are 0.
    std::vector<double> values;
    std::optional<std::array<double, 6>> geoTransform;
    // Anything OSRSetFromUserInput takes ("EPSG:4326"), or empty for none.
    std::string coordinateSystem;
    std::optional<double> noData;
    std::string unit;
    std::optional<std::pair<double, double>> scaleAndOffset;
    std::vector<GDALColorInterp> colours;  // one per band, or none
};

struct CoordinateSystemDestroyer {
    void operator()(OGRSpatialReferenceH system) const { OSRDestroySpatialReference(system); }
};
using CoordinateSystem = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, CoordinateSystemDestroyer>;

// Parsed once per definition: looking a code up in PROJ's database costs more than a fuzz run.
inline bool setCoordinateSystem(GDALDatasetH dataset, const std::string& definition) {
    static std::map<std::string, CoordinateSystem> parsed;
    auto found = parsed.find(definition);
    if (found == parsed.end()) {
        CoordinateSystem system(OSRNewSpatialReference(nullptr));
        OSRSetAxisMappingStrategy(system.get(), OAMS_TRADITIONAL_GIS_ORDER);
        if (OSRSetFromUserInput(system.get(), definition.c_str()) != OGRERR_NONE) system.reset();
        found = parsed.emplace(definition, std::move(system)).first;
    }
    return found->second && GDALSetSpatialRef(dataset, found->second.get()) == CE_None;
}

// The raster as a MEM dataset; empty if GDAL refuses any part of it.
inline GdalDataset inMemory(const Raster& raster) {
    GdalMessages quiet;
    GdalDataset dataset(
        GDALCreate(memoryDriver(), "", raster.width, raster.height, raster.bands, raster.type, nullptr));
    if (!dataset) return dataset;
    if (raster.geoTransform) {
        std::array<double, 6> transform = *raster.geoTransform;
        if (GDALSetGeoTransform(dataset.get(), transform.data()) != CE_None) return nullptr;
    }
    if (!raster.coordinateSystem.empty() && !setCoordinateSystem(dataset.get(), raster.coordinateSystem)) {
        return nullptr;
    }
    const size_t bandSize = static_cast<size_t>(raster.width) * static_cast<size_t>(raster.height);
    std::vector<double> values(bandSize);
    for (int b = 1; b <= raster.bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(dataset.get(), b);
        const size_t first = (b - 1) * bandSize;
        for (size_t k = 0; k < bandSize; ++k) {
            values[k] = first + k < raster.values.size() ? raster.values[first + k] : 0.0;
        }
        if (GDALRasterIO(band, GF_Write, 0, 0, raster.width, raster.height, values.data(), raster.width,
                         raster.height, GDT_Float64, 0, 0) != CE_None) {
            return nullptr;
        }
        if (raster.noData) GDALSetRasterNoDataValue(band, *raster.noData);
        if (!raster.unit.empty()) GDALSetRasterUnitType(band, raster.unit.c_str());
        if (raster.scaleAndOffset) {
            GDALSetRasterScale(band, raster.scaleAndOffset->first);
            GDALSetRasterOffset(band, raster.scaleAndOffset->second);
        }
        if (static_cast<size_t>(b) <= raster.colours.size()) {
            GDALSetRasterColorInterpretation(band, raster.colours[b - 1]);
        }
    }
    return dataset;
}

// Copies the dataset into a file of the given format, with creation options ("TILED=YES").
inline bool writeFile(GDALDatasetH dataset, const std::string& path, const char* format = "GTiff",
                      const std::vector<std::string>& options = {}) {
    GdalMessages quiet;
    std::vector<char*> list;
    for (const std::string& option : options) list.push_back(const_cast<char*>(option.c_str()));
    list.push_back(nullptr);
    GDALDriverH driver = GDALGetDriverByName(format);
    GdalDataset copy(driver != nullptr ? GDALCreateCopy(driver, path.c_str(), dataset, FALSE, list.data(), nullptr,
                                                        nullptr)
                                       : nullptr);
    return copy != nullptr;
}

}  // namespace gdaltest
