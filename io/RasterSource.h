// What a raster is (its size, bands, samples and place on the ground) and windows of its samples,
// read from any file GDAL opens. Free of GL, so that data tools and fuzz targets use it alone.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Where a raster lies. A geotransform t puts the top-left corner of pixel (column, row) at
// x = t[0] + column * t[1] + row * t[2], y = t[3] + column * t[4] + row * t[5], in the units of
// the coordinate system; row 0 is the northern edge and column 0 the western one, as rasters are
// read turned north-up (see Mirroring).
struct RasterGrid {
    int width = 0;
    int height = 0;
    std::optional<std::array<double, 6>> geoTransform;
    // The coordinate system as WKT, empty when the file names none.
    std::string coordinateSystemWkt;
};

// How a raster's coordinates measure the ground. Geographic systems give x as longitude and y as
// latitude (GDAL's order for rasters) in an angular unit on an ellipsoid; the others give both in
// one linear unit. A raster without a coordinate system is taken as metres.
struct CoordinateUnits {
    bool geographic = false;
    double metresPerUnit = 1.0;
    double radiansPerUnit = 0.0;
    double semiMajorMetres = 0.0;
    double flattening = 0.0;
};

enum class SampleType { UInt8, Int8, UInt16, Int16, UInt32, Int32, UInt64, Int64, Float32, Float64, Complex };

struct RasterSize {
    int width = 0;
    int height = 0;
};

// What describes the heights is band 1's: the band a height map is read from.
struct RasterInfo {
    RasterGrid grid;
    CoordinateUnits units;
    std::string coordinateSystemName;  // empty without a coordinate system
    std::string formatName;            // e.g. "GeoTIFF"
    int bandCount = 0;
    SampleType sampleType = SampleType::UInt8;
    std::optional<double> noData;
    // A stored value v stands for v * valueScale + valueOffset, in the band's unit, which is
    // verticalMetresPerUnit metres (metres when the file names no unit or one KELTA does not know).
    double valueScale = 1.0;
    double valueOffset = 0.0;
    std::string verticalUnitName;
    double verticalMetresPerUnit = 1.0;
    // Band 1's palette, when its values are indices into one: the red (or grey) of each entry.
    std::vector<uint8_t> paletteReds;
    // Bits a sample holds when fewer than its type's (GDAL's NBITS, e.g. 1, 2 or 4 for low-depth
    // PNG and TIFF images), else 0.
    int sampleBits = 0;
    // The lowest and highest stored value of band 1 (no-data left out), when the file keeps exact
    // statistics of its full resolution.
    std::optional<std::pair<double, double>> statistics;
    // levels[0] is the full resolution; each later one a coarser overview the file holds.
    std::vector<RasterSize> levels;
};

// Columns [column, column + width) of rows [row, row + height), counted as in RasterGrid (row 0
// on top), in the pixels of one level.
struct RasterWindow {
    int column = 0;
    int row = 0;
    int width = 0;
    int height = 0;
};

class RasterSource {
public:
    virtual ~RasterSource() = default;
    virtual const RasterInfo& info() const = 0;
    // Reads the window of `band` (1-based) at `level` (0 = full resolution) into `out`, top row
    // first, width values a row, no gaps; values as stored (no scale or offset applied). Safe to
    // call from several threads at once. On failure returns false with GDAL's reason.
    virtual bool readWindow(int band, int level, const RasterWindow& window, double* out,
                            std::string& message) const = 0;
    virtual bool readWindow(int band, int level, const RasterWindow& window, float* out,
                            std::string& message) const = 0;
};

// Opens the raster file at `path` through GDAL, read-only. KELTA's own image formats (BMP, PNG,
// raw) are read by loadHeightMap's readers instead, which keep their maps exactly as they were.
std::unique_ptr<RasterSource> openRaster(const std::string& path, std::string& message);

// Metres in one unit of height named as GDAL bands name them ("m", "metre", "ft", "US survey
// foot", ...); 0 for a name KELTA does not know.
double metresPerHeightUnit(const std::string& name);

// Which axes of an unrotated grid run against north-up, west to east: columns when its x pixel size
// is negative (east to west), rows when its y pixel size is positive (south to north). Rasters are
// read turned round along these (see GdalRaster).
struct Mirroring {
    bool columns = false;
    bool rows = false;
};
Mirroring mirroringOf(const std::array<double, 6>& geoTransform);

// Whether the geotransform maps pixels onto the ground one to one: finite, and its pixel of an
// area that is not vanishing beside its sides.
bool isInvertible(const std::array<double, 6>& geoTransform);
