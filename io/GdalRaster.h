// A raster read through GDAL: the RasterSource of every file that is not one of KELTA's own image
// formats, and of the in-memory rasters the fuzz targets and tests build.
#pragma once

#include "io/Gdal.h"
#include "io/RasterSource.h"

#include <mutex>

// One dataset handle, whose reads take turns behind a mutex: GDAL handles are not safe to share
// between threads. Readers that want parallel reads open one source per thread.
//
// A raster whose geotransform runs south to north (a positive y pixel size) or east to west (a
// negative x pixel size), unrotated, is seen north-up and west to east: its geotransform is turned
// round and every window of every level is read mirrored to match, so that no reader meets another
// orientation. The pyramids KELTA builds decimate a mirrored axis from the map's northern or
// western edge (fillLevel in Pyramid.cpp), so that their levels stay exact seen this way.
class GdalRaster final : public RasterSource {
public:
    explicit GdalRaster(GdalDataset dataset);

    const RasterInfo& info() const override { return described; }
    // The dataset as stored (not turned north-up), for whole-file work such as copying it; not to be
    // used while another thread reads through this raster.
    GDALDatasetH handle() const { return dataset.get(); }
    bool readWindow(int band, int level, const RasterWindow& window, double* out,
                    std::string& message) const override;
    bool readWindow(int band, int level, const RasterWindow& window, float* out,
                    std::string& message) const override;

private:
    template <typename Value>
    bool read(int band, int level, const RasterWindow& window, Value* out, std::string& message) const;

    GdalDataset dataset;
    RasterInfo described;
    Mirroring mirroring;
    mutable std::mutex reading;
};
