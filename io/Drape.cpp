// Lays a picture over a map with GDAL's warper, into an in-memory raster on the map's own grid (or
// on the picture's pixels, stretched), then colours its bands into RGBA bytes.
#include "io/Drape.h"

#include "io/HeightMap.h"
#include "io/ImageInput.h"

#include <cpl_conv.h>
#include <gdal_alg.h>
#include <gdal_utils.h>
#include <gdalwarper.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

const double LOW_PERCENTILE = 0.02;
const double HIGH_PERCENTILE = 0.98;
// gdalwarp's own tolerance for interpolating the transformation between exactly computed points.
const double WARP_ERROR_PIXELS = 0.125;
// Grids reaching farther than this many units, a thousand times any place on Earth, are taken as
// having no usable coordinates: PROJ takes time in proportion to how far out they lie (22 s from
// Web Mercator at 1e15 m), and GDAL's warper sizes its buffers by their absurd scales (gigabytes).
const double FARTHEST_COORDINATE = 1e10;
// The most pixels a drape holds, whatever the largest texture: 4096 x 4096, 64 MB as a texture and
// a few hundred megabytes while it is warped and coloured.
const double LARGEST_DRAPE_PIXELS = 4096.0 * 4096.0;
// From this many picture pixels to a drape pixel on, the warper's bilinear sampling would pass
// picture pixels over while it read them all: the picture is read at the drape's resolution first.
const double FINEST_READ = 2.0;
// Points along each side of a reprojected picture's outline whose place on the map is measured.
const int OUTLINE_POINTS = 21;

enum class Colouring { AsIs, Stretched, Palette };

struct BandChoice {
    std::vector<int> bands;  // one (grey or palette) or three (red, green, blue)
    int alphaBand = 0;       // the picture's own coverage, 0 for none
    Colouring colouring = Colouring::AsIs;
};

// The first band the picture declares as `colour`, or 0.
int declaredBand(GDALDatasetH picture, GDALColorInterp colour) {
    for (int band = 1; band <= GDALGetRasterCount(picture); ++band) {
        if (GDALGetRasterColorInterpretation(GDALGetRasterBand(picture, band)) == colour) return band;
    }
    return 0;
}

bool chooseBands(GDALDatasetH picture, const std::vector<int>& given, BandChoice& choice, std::string& message) {
    const int count = GDALGetRasterCount(picture);
    if (count < 1) {
        message = "Drape picture holds no raster band";
        return false;
    }
    const std::vector<int> declared = {declaredBand(picture, GCI_RedBand), declaredBand(picture, GCI_GreenBand),
                                       declaredBand(picture, GCI_BlueBand)};
    const bool declaresColours = std::count(declared.begin(), declared.end(), 0) == 0;
    const bool hasPalette = GDALGetRasterColorTable(GDALGetRasterBand(picture, 1)) != nullptr;
    if (!given.empty()) {
        if (given.size() != 3) {
            message = "Drape bands must be three, for red, green and blue";
            return false;
        }
        for (const int band : given) {
            if (band < 1 || band > count) {
                message = "Drape band " + std::to_string(band) + " is not in the picture, which has " +
                          std::to_string(count) + (count == 1 ? " band" : " bands");
                return false;
            }
        }
        choice.bands = given;
    } else if (declaresColours) {
        choice.bands = declared;
    } else if (hasPalette) {
        choice.bands = {1};
        choice.colouring = Colouring::Palette;
    } else if (count >= 3) {
        choice.bands = {1, 2, 3};
    } else {
        choice.bands = {1};
    }
    const int alpha = declaredBand(picture, GCI_AlphaBand);
    if (std::find(choice.bands.begin(), choice.bands.end(), alpha) == choice.bands.end()) choice.alphaBand = alpha;
    if (choice.colouring == Colouring::Palette) return true;
    const bool bytes = std::all_of(choice.bands.begin(), choice.bands.end(), [&](int band) {
        return GDALGetRasterDataType(GDALGetRasterBand(picture, band)) == GDT_Byte;
    });
    const bool plainPicture = choice.bands.size() == 1 || choice.bands == declared;
    choice.colouring = bytes && plainPicture ? Colouring::AsIs : Colouring::Stretched;
    return true;
}

// Where the drape's pixels lie: on the map's grid, or on the picture's own pixels (those of the
// picture as it is read, readWidth x readHeight).
struct Placement {
    int width = 0;
    int height = 0;
    std::array<double, 6> transform{};
    bool byCoordinates = false;
    bool reprojected = false;
    int readWidth = 0;
    int readHeight = 0;
};

// The whole number of pixels nearest to `columns` x `rows` at most maxSide a side and
// LARGEST_DRAPE_PIXELS in all, keeping their proportions; a size that is not a number takes the
// largest square.
void fitSize(double columns, double rows, int maxSide, Placement& placement) {
    if (!std::isfinite(columns) || !std::isfinite(rows) || columns <= 0.0 || rows <= 0.0) {
        columns = rows = maxSide;
    }
    const double shrink = std::min({1.0, maxSide / std::max(columns, rows),
                                    std::sqrt(LARGEST_DRAPE_PIXELS / columns / rows)});
    placement.width = static_cast<int>(std::clamp(std::round(columns * shrink), 1.0, static_cast<double>(maxSide)));
    placement.height = static_cast<int>(std::clamp(std::round(rows * shrink), 1.0, static_cast<double>(maxSide)));
}

bool sameCoordinateSystem(const std::string& first, const std::string& second) {
    OGRSpatialReferenceH a = OSRNewSpatialReference(first.c_str());
    OGRSpatialReferenceH b = OSRNewSpatialReference(second.c_str());
    const bool same = a != nullptr && b != nullptr && OSRIsSame(a, b);
    OSRDestroySpatialReference(a);
    OSRDestroySpatialReference(b);
    return same;
}

// Turns the picture's pixel and line into the map's coordinates; null if GDAL cannot.
struct ReprojectionCloser {
    void operator()(void* transformer) const { GDALDestroyGenImgProjTransformer(transformer); }
};
using Reprojection = std::unique_ptr<void, ReprojectionCloser>;

Reprojection reprojectionOnto(GDALDatasetH picture, const std::string& mapWkt) {
    const std::string target = "DST_SRS=" + mapWkt;
    const char* options[] = {target.c_str(), nullptr};
    return Reprojection(GDALCreateGenImgProjTransformer2(picture, nullptr, const_cast<char**>(options)));
}

// The length of a picture pixel in the map's coordinate units: measured by GDAL's suggestion for
// warping the whole picture into the map's system when it must be reprojected; NaN if that fails.
double picturePixelLength(GDALDatasetH picture, const std::array<double, 6>& t, void* reprojection) {
    if (reprojection == nullptr) return std::sqrt(std::abs(t[1] * t[5] - t[2] * t[4]));
    double suggested[6] = {};
    int columns = 0, rows = 0;
    const CPLErr error =
        GDALSuggestedWarpOutput(picture, GDALGenImgProjTransform, reprojection, suggested, &columns, &rows);
    return error == CE_None ? std::abs(suggested[1]) : std::numeric_limits<double>::quiet_NaN();
}

struct Box {
    double west = std::numeric_limits<double>::infinity();
    double east = -std::numeric_limits<double>::infinity();
    double south = std::numeric_limits<double>::infinity();
    double north = -std::numeric_limits<double>::infinity();

    void add(double x, double y) {
        west = std::min(west, x);
        east = std::max(east, x);
        south = std::min(south, y);
        north = std::max(north, y);
    }
    bool isEmpty() const { return !(west <= east && south <= north); }
    bool overlaps(const Box& other) const {
        return west < other.east && other.west < east && south < other.north && other.south < north;
    }
};

// What the grid's corners enclose.
Box gridBox(const std::array<double, 6>& t, int width, int height) {
    Box box;
    for (const double column : {0.0, static_cast<double>(width)}) {
        for (const double row : {0.0, static_cast<double>(height)}) {
            box.add(t[0] + column * t[1] + row * t[2], t[3] + column * t[4] + row * t[5]);
        }
    }
    return box;
}

// What the reprojected picture's outline encloses in the map's coordinates; empty where none of
// it reaches them.
Box reprojectedBox(GDALDatasetH picture, void* reprojection) {
    const double width = GDALGetRasterXSize(picture), height = GDALGetRasterYSize(picture);
    std::vector<double> x, y;
    for (int k = 0; k <= OUTLINE_POINTS; ++k) {
        const double along = double(k) / OUTLINE_POINTS;
        for (const auto& [column, row] : {std::pair{along * width, 0.0}, std::pair{along * width, height},
                                          std::pair{0.0, along * height}, std::pair{width, along * height}}) {
            x.push_back(column);
            y.push_back(row);
        }
    }
    std::vector<double> z(x.size(), 0.0);
    std::vector<int> reached(x.size(), 0);
    GDALGenImgProjTransform(reprojection, FALSE, static_cast<int>(x.size()), x.data(), y.data(), z.data(),
                            reached.data());
    Box box;
    for (size_t k = 0; k < x.size(); ++k) {
        if (reached[k] && std::isfinite(x[k]) && std::isfinite(y[k])) box.add(x[k], y[k]);
    }
    return box;
}

// The one line saying why a picture placed by its coordinates lies off the map: a coordinate
// system on one side alone was taken to be the other's too.
std::string offTheMap(bool pictureHasSystem, bool mapHasSystem) {
    if (pictureHasSystem == mapHasSystem) return "Drape picture does not overlap the map";
    return std::string("Drape picture cannot be placed on the map: ") +
           (pictureHasSystem ? "the picture has a coordinate system and the map has none"
                             : "the map has a coordinate system and the picture has none") +
           ", and read as the same coordinates they do not overlap";
}

// Whether the grid maps its pixels one to one onto coordinates within reach.
bool hasUsableCoordinates(const std::array<double, 6>& t, int width, int height) {
    if (!isInvertible(t)) return false;
    for (const double column : {0.0, static_cast<double>(width)}) {
        for (const double row : {0.0, static_cast<double>(height)}) {
            const double x = t[0] + column * t[1] + row * t[2];
            const double y = t[3] + column * t[4] + row * t[5];
            if (!(std::abs(x) <= FARTHEST_COORDINATE && std::abs(y) <= FARTHEST_COORDINATE)) return false;
        }
    }
    return true;
}

// Fills `placement` for the picture over the map. False where it lies off the map, with the
// reason in `offMap`, or where GDAL cannot reproject it.
bool placeOverMap(GDALDatasetH picture, const RasterGrid& map, int maxSide, Placement& placement,
                  std::string& offMap) {
    const int pictureWidth = GDALGetRasterXSize(picture);
    const int pictureHeight = GDALGetRasterYSize(picture);
    placement.readWidth = pictureWidth;
    placement.readHeight = pictureHeight;
    std::array<double, 6> pictureTransform{};
    placement.byCoordinates = GDALGetGeoTransform(picture, pictureTransform.data()) == CE_None &&
                              hasUsableCoordinates(pictureTransform, pictureWidth, pictureHeight) &&
                              map.geoTransform && hasUsableCoordinates(*map.geoTransform, map.width, map.height);
    if (!placement.byCoordinates) {
        fitSize(pictureWidth, pictureHeight, maxSide, placement);
        if (pictureWidth >= FINEST_READ * placement.width || pictureHeight >= FINEST_READ * placement.height) {
            placement.readWidth = placement.width;
            placement.readHeight = placement.height;
        }
        placement.transform = {0.0, double(placement.readWidth) / placement.width, 0.0, 0.0, 0.0,
                               double(placement.readHeight) / placement.height};
        return true;
    }
    const std::array<double, 6>& m = *map.geoTransform;
    const char* pictureWkt = GDALGetProjectionRef(picture);
    const bool pictureHasSystem = pictureWkt != nullptr && *pictureWkt != '\0';
    placement.reprojected = pictureHasSystem && !map.coordinateSystemWkt.empty() &&
                            !sameCoordinateSystem(pictureWkt, map.coordinateSystemWkt);
    Reprojection reprojection;
    if (placement.reprojected) {
        reprojection = reprojectionOnto(picture, map.coordinateSystemWkt);
        if (!reprojection) return false;
    }
    const Box pictureBox = placement.reprojected ? reprojectedBox(picture, reprojection.get())
                                                 : gridBox(pictureTransform, pictureWidth, pictureHeight);
    if (pictureBox.isEmpty() || !pictureBox.overlaps(gridBox(m, map.width, map.height))) {
        offMap = offTheMap(pictureHasSystem, !map.coordinateSystemWkt.empty());
        return false;
    }
    const double pixel = picturePixelLength(picture, pictureTransform, reprojection.get());
    const bool measured = std::isfinite(pixel) && pixel > 0.0;
    // Unmeasured, the map's own resolution.
    const double columnLength = std::hypot(m[1], m[4]), rowLength = std::hypot(m[2], m[5]);
    const double length = measured ? pixel : columnLength;
    fitSize(map.width * columnLength / length, map.height * rowLength / length, maxSide, placement);
    const double columnShrink = double(map.width) / placement.width;
    const double rowShrink = double(map.height) / placement.height;
    placement.transform = {m[0], m[1] * columnShrink, m[2] * rowShrink, m[3], m[4] * columnShrink, m[5] * rowShrink};
    // Picture pixels to a drape pixel.
    const double fineness = columnLength * columnShrink / length;
    if (measured && fineness >= FINEST_READ) {
        placement.readWidth = std::max(1, static_cast<int>(std::ceil(pictureWidth / fineness)));
        placement.readHeight = std::max(1, static_cast<int>(std::ceil(pictureHeight / fineness)));
    }
    return true;
}

// The picture read at the placement's size through GDAL's RasterIO, from its overviews where it has
// them and else by taking the nearest pixels: an in-memory VRT that reads only what the warper asks
// for. Averaging instead would read every pixel of a picture without overviews.
GdalDataset readAtPlacement(GDALDatasetH picture, const Placement& placement) {
    const std::string width = std::to_string(placement.readWidth), height = std::to_string(placement.readHeight);
    const char* arguments[] = {"-of", "VRT", "-outsize", width.c_str(), height.c_str(), "-r", "nearest", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(arguments), nullptr);
    if (options == nullptr) return nullptr;
    GdalDataset view(GDALTranslate("", picture, options, nullptr));
    GDALTranslateOptionsFree(options);
    return view;
}

// The picture's chosen bands and coverage, warped into a MEM raster of the placement: the chosen
// bands first, then an alpha band.
GdalDataset warpOntoPlacement(GDALDatasetH picture, const BandChoice& choice, const Placement& placement,
                              const std::string& mapWkt, std::string& message) {
    const int bandCount = static_cast<int>(choice.bands.size());
    const bool bytes = choice.colouring == Colouring::AsIs;
    GdalDataset target(GDALCreate(memoryDriver(), "", placement.width, placement.height, 0, GDT_Byte, nullptr));
    bool ready = target != nullptr;
    for (int band = 0; ready && band < bandCount; ++band) {
        ready = GDALAddBand(target.get(), bytes ? GDT_Byte : GDT_Float32, nullptr) == CE_None;
    }
    ready = ready && GDALAddBand(target.get(), GDT_Byte, nullptr) == CE_None;
    std::array<double, 6> transform = placement.transform;
    ready = ready && GDALSetGeoTransform(target.get(), transform.data()) == CE_None;
    if (ready && placement.reprojected) ready = GDALSetProjection(target.get(), mapWkt.c_str()) == CE_None;
    if (!ready) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return nullptr;
    }

    // Without coordinates, the picture's pixels are the drape's coordinates; unless it is reprojected,
    // the picture's coordinate system is left out, so that PROJ has no part in it.
    const char* transformerOptions[] = {"SRC_SRS=", placement.byCoordinates ? nullptr : "SRC_METHOD=NO_GEOTRANSFORM",
                                        nullptr};
    if (placement.reprojected) transformerOptions[0] = nullptr;
    void* exact = GDALCreateGenImgProjTransformer2(picture, target.get(), const_cast<char**>(transformerOptions));
    if (exact == nullptr) return nullptr;
    void* approximate = GDALCreateApproxTransformer(GDALGenImgProjTransform, exact, WARP_ERROR_PIXELS);

    GDALWarpOptions* options = GDALCreateWarpOptions();
    options->hSrcDS = picture;
    options->hDstDS = target.get();
    options->nBandCount = bandCount;
    options->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int) * bandCount));
    options->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int) * bandCount));
    bool anyNoData = false;
    std::vector<double> noData(bandCount, std::numeric_limits<double>::quiet_NaN());
    for (int k = 0; k < bandCount; ++k) {
        options->panSrcBands[k] = choice.bands[k];
        options->panDstBands[k] = k + 1;
        int has = 0;
        const double value = GDALGetRasterNoDataValue(GDALGetRasterBand(picture, choice.bands[k]), &has);
        if (has) noData[k] = value;
        anyNoData = anyNoData || has;
    }
    if (anyNoData) {
        options->padfSrcNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double) * bandCount));
        std::copy(noData.begin(), noData.end(), options->padfSrcNoDataReal);
    }
    options->nSrcAlphaBand = choice.alphaBand;
    options->nDstAlphaBand = bandCount + 1;
    options->eResampleAlg = choice.colouring == Colouring::Palette ? GRA_NearestNeighbour : GRA_Bilinear;
    options->pfnTransformer = GDALApproxTransform;
    options->pTransformerArg = approximate;

    GDALWarpOperationH warp = GDALCreateWarpOperation(options);
    const bool warped =
        warp != nullptr && GDALChunkAndWarpImage(warp, 0, 0, placement.width, placement.height) == CE_None;
    if (warp != nullptr) GDALDestroyWarpOperation(warp);
    GDALDestroyWarpOptions(options);
    GDALDestroyApproxTransformer(approximate);
    GDALDestroyGenImgProjTransformer(exact);
    return warped ? std::move(target) : nullptr;
}

// The value at the percentile of the covered values, which it reorders.
float percentile(std::vector<float>& values, double share) {
    const size_t at = static_cast<size_t>(std::lround(share * static_cast<double>(values.size() - 1)));
    std::nth_element(values.begin(), values.begin() + at, values.end());
    return values[at];
}

uint8_t toByte(double value) { return static_cast<uint8_t>(std::clamp(std::round(value), 0.0, 255.0)); }

// Pixel k of the warped raster, whose top row is the map's first (northern) row: the image's last.
uint8_t* imagePixel(DrapeImage& image, size_t k) {
    const size_t width = static_cast<size_t>(image.width);
    return &image.rgba[((static_cast<size_t>(image.height) - 1 - k / width) * width + k % width) * 4];
}

// Writes one band into `channels` channels of the image from `first` on: as it is, or stretched
// over the 2nd to 98th percentile of its covered pixels (a band of one value throughout keeps it).
bool colourChannels(const std::vector<float>& values, const std::vector<uint8_t>& alpha, Colouring colouring,
                    int first, int channels, DrapeImage& out, std::string& message) {
    double lowest = 0.0, scale = 1.0;
    if (colouring == Colouring::Stretched) {
        std::vector<float> covered;
        try {
            covered.reserve(values.size());
        } catch (const std::bad_alloc&) {
            message = NO_IMAGE_MEMORY_MESSAGE;
            return false;
        }
        for (size_t k = 0; k < values.size(); ++k) {
            if (alpha[k] != 0 && std::isfinite(values[k])) covered.push_back(values[k]);
        }
        if (!covered.empty()) {
            const double low = percentile(covered, LOW_PERCENTILE);
            const double high = percentile(covered, HIGH_PERCENTILE);
            if (high > low) {
                lowest = low;
                scale = 255.0 / (high - low);
            }
        }
    }
    for (size_t k = 0; k < values.size(); ++k) {
        const uint8_t colour = toByte(std::isfinite(values[k]) ? (values[k] - lowest) * scale : 0.0);
        uint8_t* pixel = imagePixel(out, k);
        for (int channel = first; channel < first + channels; ++channel) pixel[channel] = colour;
    }
    return true;
}

// Colours pixel k of the palette band's warped values from the colour table.
void colourFromPalette(const std::vector<float>& values, GDALColorTableH table, DrapeImage& out) {
    for (size_t k = 0; k < values.size(); ++k) {
        GDALColorEntry entry{0, 0, 0, 0};
        if (values[k] >= 0.0f && values[k] < GDALGetColorEntryCount(table)) {
            GDALGetColorEntryAsRGB(table, static_cast<int>(values[k]), &entry);
        }
        uint8_t* pixel = imagePixel(out, k);
        pixel[0] = toByte(entry.c1);
        pixel[1] = toByte(entry.c2);
        pixel[2] = toByte(entry.c3);
        pixel[3] = toByte(pixel[3] * entry.c4 / 255.0);
    }
}

bool readBand(GDALDatasetH raster, int band, std::vector<float>& values, std::string& message) {
    const int width = GDALGetRasterXSize(raster);
    const int height = GDALGetRasterYSize(raster);
    try {
        values.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    return GDALRasterIO(GDALGetRasterBand(raster, band), GF_Read, 0, 0, width, height, values.data(), width, height,
                        GDT_Float32, 0, 0) == CE_None;
}

bool colourImage(GDALDatasetH picture, GDALDatasetH warped, const BandChoice& choice, DrapeImage& out,
                 std::string& message) {
    out.width = GDALGetRasterXSize(warped);
    out.height = GDALGetRasterYSize(warped);
    const int bandCount = static_cast<int>(choice.bands.size());
    std::vector<float> values;
    std::vector<uint8_t> alpha;
    try {
        out.rgba.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 4);
        alpha.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    } catch (const std::bad_alloc&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    if (!readBand(warped, bandCount + 1, values, message)) return false;
    for (size_t k = 0; k < alpha.size(); ++k) alpha[k] = toByte(values[k]);
    if (!colourChannels(values, alpha, Colouring::AsIs, 3, 1, out, message)) return false;
    if (choice.colouring == Colouring::Palette) {
        if (!readBand(warped, 1, values, message)) return false;
        colourFromPalette(values, GDALGetRasterColorTable(GDALGetRasterBand(picture, choice.bands[0])), out);
        return true;
    }
    for (int band = 0; band < bandCount; ++band) {
        // A single band is grey: red, green and blue alike.
        if (!readBand(warped, band + 1, values, message) ||
            !colourChannels(values, alpha, choice.colouring, band, bandCount == 1 ? 3 : 1, out, message)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool drapeFromDataset(GDALDatasetH picture, const RasterGrid& map, const std::vector<int>& bands, int maxSide,
                      DrapeImage& out, std::string& message) {
    out = DrapeImage();
    GdalMessages messages;
    BandChoice choice;
    if (!chooseBands(picture, bands, choice, message)) return false;
    if (maxSide < 1) {
        message = "Drape picture has no room: the largest texture side is " + std::to_string(maxSide);
        return false;
    }
    Placement placement;
    if (!placeOverMap(picture, map, maxSide, placement, message)) {
        if (!message.empty()) return true;
        message = "GDAL could not lay the drape picture over the map: " + messages.reason();
        return false;
    }
    GdalDataset view;
    if (placement.readWidth < GDALGetRasterXSize(picture) || placement.readHeight < GDALGetRasterYSize(picture)) {
        view = readAtPlacement(picture, placement);
        if (!view) {
            message = "GDAL could not read the drape picture at the drape's size: " + messages.reason();
            return false;
        }
    }
    GdalDataset warped =
        warpOntoPlacement(view ? view.get() : picture, choice, placement, map.coordinateSystemWkt, message);
    if (!warped) {
        if (message.empty()) message = "GDAL could not lay the drape picture over the map: " + messages.reason();
        return false;
    }
    if (!colourImage(picture, warped.get(), choice, out, message)) {
        if (message.empty()) message = "GDAL could not read the warped drape picture: " + messages.reason();
        out = DrapeImage();
        return false;
    }
    return true;
}

bool loadDrape(const std::string& path, const RasterGrid& map, const std::vector<int>& bands, int maxSide,
               DrapeImage& out, std::string& message) {
    out = DrapeImage();
    std::string reason;
    GdalDataset picture = openGdalDataset(path, reason);
    if (!picture) {
        message = "GDAL cannot read the drape picture: " + reason;
        return false;
    }
    return drapeFromDataset(picture.get(), map, bands, maxSide, out, message);
}

bool isDrapePicture(const std::string& path) {
    if (hasRawMapName(path)) return false;
    std::string reason;
    const GdalDataset raster = openGdalDataset(path, reason);
    if (!raster) return false;
    const int bands = GDALGetRasterCount(raster.get());
    if (bands >= 3) return true;
    if (bands < 1) return false;
    GDALColorTableH palette = GDALGetRasterColorTable(GDALGetRasterBand(raster.get(), 1));
    if (palette == nullptr) return false;
    for (int k = 0; k < GDALGetColorEntryCount(palette); ++k) {
        const GDALColorEntry* entry = GDALGetColorEntry(palette, k);
        if (entry->c1 != entry->c2 || entry->c2 != entry->c3) return true;
    }
    return false;
}
