// Lays a picture over a map with GDAL's warper, into an in-memory raster on the map's own grid (or
// on the picture's pixels, stretched), then colours its bands into RGBA bytes.
#include "io/Drape.h"

#include "io/ImageInput.h"

#include <cpl_conv.h>
#include <gdal_alg.h>
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

// Where the drape's pixels lie: on the map's grid, or on the picture's own pixels.
struct Placement {
    int width = 0;
    int height = 0;
    std::array<double, 6> transform{};
    bool byCoordinates = false;
    bool reprojected = false;
};

// The whole number of pixels nearest to `columns` x `rows` at most maxSide a side, keeping their
// proportions; a size that is not a number takes maxSide a side.
void fitSize(double columns, double rows, int maxSide, Placement& placement) {
    if (!std::isfinite(columns) || !std::isfinite(rows) || columns <= 0.0 || rows <= 0.0) {
        columns = rows = maxSide;
    }
    const double shrink = std::min(1.0, maxSide / std::max(columns, rows));
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

// The length of a picture pixel in the map's coordinate units: measured by GDAL's suggestion for
// warping the whole picture into the map's system when it must be reprojected; NaN if that fails.
double picturePixelLength(GDALDatasetH picture, const std::array<double, 6>& t, const Placement& placement,
                          const std::string& mapWkt) {
    if (!placement.reprojected) return std::sqrt(std::abs(t[1] * t[5] - t[2] * t[4]));
    const std::string target = "DST_SRS=" + mapWkt;
    const char* options[] = {target.c_str(), nullptr};
    void* transformer = GDALCreateGenImgProjTransformer2(picture, nullptr, const_cast<char**>(options));
    if (transformer == nullptr) return std::numeric_limits<double>::quiet_NaN();
    double suggested[6] = {};
    int columns = 0, rows = 0;
    const CPLErr error =
        GDALSuggestedWarpOutput(picture, GDALGenImgProjTransform, transformer, suggested, &columns, &rows);
    GDALDestroyGenImgProjTransformer(transformer);
    return error == CE_None ? std::abs(suggested[1]) : std::numeric_limits<double>::quiet_NaN();
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

Placement placeOverMap(GDALDatasetH picture, const RasterGrid& map, int maxSide) {
    Placement placement;
    const int pictureWidth = GDALGetRasterXSize(picture);
    const int pictureHeight = GDALGetRasterYSize(picture);
    std::array<double, 6> pictureTransform{};
    placement.byCoordinates = GDALGetGeoTransform(picture, pictureTransform.data()) == CE_None &&
                              hasUsableCoordinates(pictureTransform, pictureWidth, pictureHeight) &&
                              map.geoTransform && hasUsableCoordinates(*map.geoTransform, map.width, map.height);
    if (!placement.byCoordinates) {
        fitSize(pictureWidth, pictureHeight, maxSide, placement);
        placement.transform = {0.0, double(pictureWidth) / placement.width, 0.0, 0.0, 0.0,
                               double(pictureHeight) / placement.height};
        return placement;
    }
    const std::array<double, 6>& m = *map.geoTransform;
    const char* pictureWkt = GDALGetProjectionRef(picture);
    placement.reprojected = pictureWkt != nullptr && *pictureWkt != '\0' && !map.coordinateSystemWkt.empty() &&
                            !sameCoordinateSystem(pictureWkt, map.coordinateSystemWkt);
    double pixel = picturePixelLength(picture, pictureTransform, placement, map.coordinateSystemWkt);
    if (!std::isfinite(pixel) || pixel <= 0.0) pixel = std::hypot(m[1], m[4]);  // the map's own resolution
    fitSize(map.width * std::hypot(m[1], m[4]) / pixel, map.height * std::hypot(m[2], m[5]) / pixel, maxSide,
            placement);
    const double columnShrink = double(map.width) / placement.width;
    const double rowShrink = double(map.height) / placement.height;
    placement.transform = {m[0], m[1] * columnShrink, m[2] * rowShrink, m[3], m[4] * columnShrink, m[5] * rowShrink};
    return placement;
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
    const Placement placement = placeOverMap(picture, map, maxSide);
    GdalDataset warped = warpOntoPlacement(picture, choice, placement, map.coordinateSystemWkt, message);
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
