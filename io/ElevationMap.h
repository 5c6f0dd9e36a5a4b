// Band 1 of a raster read through GDAL as a height map: an elevation map in metres when the raster
// lies on the ground (it has a geotransform), else an image map of its values.
#pragma once

#include "io/HeightMap.h"
#include "io/RasterSource.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// The raster's size as a height map's, refused in one line when it has no band or a side longer
// than `largestSide`.
bool heightMapSizeOf(const RasterInfo& info, int largestSide, int& width, int& height, std::string& message);

// How band 1's stored values become heights, and which are voids, for a map read whole and for its
// tiles alike. Elevation maps: metres (scale, offset and vertical unit applied), raised to the sea
// level when there is a sea. Other rasters: their values as stored, but a palette's indices become
// their entries' red (an index past the palette black, as the BMP and PNG readers read them) and
// samples of fewer than 8 bits are spread over 0..255 (as the PNG reader spreads low-depth grey).
struct HeightRule {
    std::optional<double> noData;
    double scale = 1.0;
    double offset = 0.0;
    double metresPerUnit = 1.0;
    std::vector<uint8_t> paletteReds;
    // 255 over the largest value of a low-depth sample, else 1.
    double spread = 1.0;
    std::optional<double> seaLevel;

    static HeightRule of(const RasterInfo& info, const ElevationOptions& options);

    // The height of a stored value before any sea, or NaN for a void (the no-data value, NaN or an
    // infinity).
    double heightOf(double stored) const {
        if (noData && stored == *noData) return std::numeric_limits<double>::quiet_NaN();
        if (!paletteReds.empty()) {
            const bool inPalette = stored >= 0.0 && stored < double(paletteReds.size());
            return inPalette ? paletteReds[size_t(stored)] : 0.0;
        }
        const double height = (stored * spread * scale + offset) * metresPerUnit;
        return std::isfinite(height) ? height : std::numeric_limits<double>::quiet_NaN();
    }
    // The height of a stored value as the ground lies: raised to the sea level when there is a sea.
    double groundOf(double stored) const {
        const double height = heightOf(stored);
        return seaLevel && height < *seaLevel ? *seaLevel : height;
    }
};

// Refuses, in one line, an elevation map whose geometry or values no terrain has: fewer than 2
// samples along a side, a rotated grid, samples under a millimetre apart (or at no usable spacing),
// heights beyond +-12,000 m. `lowest` and `highest` are the heights of its samples with data, as
// HeightRule gives them. Other rasters are image maps, taken as they come. Every reader of height
// maps through GDAL, whole or in tiles, asks this.
bool isTerrain(const RasterInfo& info, double lowest, double highest, std::string& message);

// What the raster is, for the log: its format and coordinate system, e.g. "GeoTIFF, WGS 84", and its
// unit of heights when it is not metres.
std::string describeRaster(const RasterInfo& info);

// Reads band 1 into `map`, bottom row first. Samples without data (the no-data value, NaN, an
// infinity) are voids: filled from their surroundings, and marked in map.voids unless
// options.fillVoids. Elevation maps: heights converted to metres (scale, offset, vertical unit),
// raised to the sea level when there is a sea, quantised over [lowest, highest] onto 0..65535, and
// map.elevation filled in. Other rasters: 8- and 16-bit unsigned values are taken as they are
// (largest value 255 or 65535); any other type is spread from its lowest to its highest value over
// 0..65535. On failure returns false with a one-line reason; `map` is then undefined.
bool heightSamplesFromRaster(const RasterSource& raster, const ElevationOptions& options, HeightSamples& map,
                             std::string& message);

// The ground distance between neighbouring columns and between neighbouring rows of the grid, in
// metres: the lengths of a pixel's column and row vectors (so rotated and sheared grids measure
// true), converted from the coordinate system's units; geographic degrees are measured at the
// grid's centre latitude on its ellipsoid. False unless both are finite and above zero.
bool groundSpacing(const RasterGrid& grid, const CoordinateUnits& units, double& columnMetres, double& rowMetres);
