// The drape: a picture in any raster format GDAL reads, laid over a height map to colour its
// terrain, turned into RGBA bytes ready for a texture. Free of GL.
#pragma once

#include "io/Gdal.h"
#include "io/RasterSource.h"

#include <cstdint>
#include <string>
#include <vector>

struct DrapeImage {
    int width = 0;
    int height = 0;
    // width x height pixels of red, green, blue and alpha, bottom row first like HeightSamples;
    // alpha is how much of the pixel the picture covers (0 where it has no data or does not reach).
    std::vector<uint8_t> rgba;
};

// Reads the picture at `path` and lays it over the map whose grid is `map` (an elevation map's
// Elevation::grid, or just the width and height of any other map). The image covers exactly the
// map's extent, from the corners of its first and last samples. A georeferenced picture over a
// georeferenced map is placed by its coordinates, reprojected when the coordinate systems differ;
// any other picture is stretched over the whole map (as is one whose grid or the map's has pixels
// without area or corners more than 1e10 units out: no place on Earth). The size is the picture's
// own resolution over that extent, at most maxSide a side (GL_MAX_TEXTURE_SIZE) and 4096 x 4096
// pixels in all; a picture twice as fine or finer is first read at that size, from its overviews
// where it has them, so that neither time nor memory grows with the picture's declared size.
//
// A picture placed by its coordinates that lies off the map leaves the image empty, returning true
// with the reason in `message`: the map is drawn without it, as a program given one drape for many
// maps draws each. The reason says so where a coordinate system on one side alone was taken for
// the other's.
//
// Colours: `bands` empty takes the bands the picture declares red, green and blue, else a colour
// table, else bands 1, 2 and 3, else band 1 as grey; or `bands` names three bands (1-based) for red,
// green and blue. Declared colour bands and single bands of 8 bits are taken as they are; any
// other band is stretched linearly from its 2nd to its 98th percentile, over the pixels shown.
// On failure returns false with a one-line reason that does not name the file.
bool loadDrape(const std::string& path, const RasterGrid& map, const std::vector<int>& bands, int maxSide,
               DrapeImage& out, std::string& message);

// Same as loadDrape for a picture already open, such as an in-memory raster.
bool drapeFromDataset(GDALDatasetH picture, const RasterGrid& map, const std::vector<int>& bands, int maxSide,
                      DrapeImage& out, std::string& message);

// Whether the file at `path` is a picture to drape rather than a height map: a raster GDAL reads
// with three or more bands (colour, perhaps with alpha), or with one band coloured by a palette that
// is not grey. A grey palette is how an 8-bit BMP or PNG height map stores its heights, and KELTA's
// raw maps (hasRawMapName) and whatever GDAL cannot read are left to the height-map readers, which
// say why they refuse a file.
bool isDrapePicture(const std::string& path);
