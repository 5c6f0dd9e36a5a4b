// Height maps in any of the formats the terrain takes, reduced to one sample per pixel: BMP (8
// bits), PNG (8 or 16 bits) and raw 16-bit files at their own precision, and every raster GDAL
// reads, elevation maps among them, quantised to 16 bits.
#pragma once

#include "io/RasterSource.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What an elevation map (a raster whose file gives its sample spacing) says in metres.
struct Elevation {
    // Metres of sample 0 (after the sea-level clamp) and per sample step above it.
    double lowestMetres = 0.0;
    double metresPerValue = 1.0;
    // Ground distance between neighbouring columns (along x) and rows (along z).
    double columnMetres = 1.0;
    double rowMetres = 1.0;
    // Lowest and highest valid sample, before the sea-level clamp.
    double minimumMetres = 0.0;
    double maximumMetres = 0.0;
    // Samples that had no data (the band's no-data value, NaN or an infinity), before any filling.
    uint64_t voidCount = 0;
    // What the file is, for the log: its format and coordinate system, e.g. "GeoTIFF, WGS 84".
    std::string description;
    // The coordinate system's name; empty when the file names none.
    std::string coordinateSystemName;
    // Where the map lies, for placing a drape picture over it.
    RasterGrid grid;
};

struct HeightSamples {
    int width = 0;
    int height = 0;
    // The sample value of the highest possible ground: 255 for 8-bit files, 65535 for 16-bit ones
    // and for elevation maps.
    uint16_t largestValue = 0;
    std::vector<uint16_t> samples;  // width x height, bottom row first, like Bitmap
    // Empty, or one byte a sample, 1 where there is no data: a hole in the terrain. The sample
    // there holds a value filled from its surroundings, for the geometry around the hole.
    std::vector<uint8_t> voids;
    // Set for elevation maps only.
    std::optional<Elevation> elevation;
    // Set, with `samples` left empty, for a raw map whose samples loadHeightMap left in its file
    // (RawSamples::LeftInFile): the open file, for sampleRows to read.
    std::shared_ptr<std::FILE> rawFile = nullptr;
};

// Where loadHeightMap puts a raw map's samples.
enum class RawSamples {
    // Into HeightSamples::samples, as every other format's.
    Read,
    // Nowhere yet: they stay in the open file, to be read a band of rows at a time with sampleRows,
    // so that a large map never has to lie in memory whole.
    LeftInFile,
};

// How an elevation map's samples are read.
struct ElevationOptions {
    // Fill the samples without data from their surroundings instead of marking them as voids.
    bool fillVoids = false;
    // With a sea, ground below its level is raised to it: the sea floor is the water's surface.
    bool hasSea = true;
    double seaLevelMetres = 0.0;
};

// Reads the file at `file`, a path read as given (callers look data names up first). The format
// is told by the name, then by the signature: a name ending in ".r16" or ".raw" holds square raw
// 16-bit little-endian samples, top row first, whatever its first bytes; otherwise "BM" is a BMP
// and the PNG signature a PNG, and anything else is read through GDAL (io/ElevationMap.h, which
// `options` steer), or refused with a message naming the formats KELTA reads itself and GDAL's
// reason. Paths in GDAL's virtual file systems (starting with /vsi, e.g. /vsicurl/http://...) are
// read through GDAL whatever their name. Colour images give their red channel. On failure returns false with the reason in
// message, and `map` is left empty.
bool loadHeightMap(const std::string& file, const ElevationOptions& options, HeightSamples& map, std::string& message,
                   RawSamples raw = RawSamples::Read);
class GdalRaster;

// A height map opened once, from its path and the options its samples are read by: its format and
// size from its header, then its samples from the same opening (for a raster read through GDAL, the
// same dataset), whole as loadHeightMap reads them, or its raster handed to a reader of its tiles
// (openTileSource in io/Pyramid.h).
class HeightMapFile {
public:
    // Opens the file and reads its header: its size, before any sample. Null with the reason (as
    // readHeightMapSize words it) when it cannot be read.
    static std::unique_ptr<HeightMapFile> open(const std::string& file, const ElevationOptions& options,
                                               std::string& message);
    ~HeightMapFile();
    HeightMapFile(const HeightMapFile&) = delete;
    HeightMapFile& operator=(const HeightMapFile&) = delete;

    const std::string path;
    const ElevationOptions options;
    int width = 0;
    int height = 0;

    // Reads the samples, once: the file is closed afterwards (but for a raw map's samples left in
    // it, which `map` keeps open). As loadHeightMap, and false when the file no longer holds a map
    // of the size its header gave.
    bool read(RawSamples raw, HeightSamples& map, std::string& message);
    // The files it is made of, named absolutely: the one file, or a raster's every file (a VRT's
    // sources too), as GDAL lists them; none for a map behind a GDAL virtual path.
    const std::vector<std::string>& files() const;
    // The raster GDAL opened, handed over to whoever reads it next; null for KELTA's own formats and
    // once read or taken.
    std::unique_ptr<GdalRaster> takeRaster();

private:
    struct Opened;
    HeightMapFile(std::string path, const ElevationOptions& options);
    std::unique_ptr<Opened> opened;
};

// Rows firstRow .. firstRow + rowCount - 1 of the map, bottom row first: where they lie in its
// samples, or, for a raw map left in its file, read straight into `buffer`, which has room for them.
// Null with the reason when the file no longer holds them.
const uint16_t* sampleRows(const HeightSamples& map, int firstRow, int rowCount, uint16_t* buffer,
                           std::string& message);
// A raw map's samples left in its file, mapped into memory, so that they are read where they lie
// instead of being copied out of the file first. Not mapped where the host's byte order is not the
// file's, or the file no longer holds the whole map; sampleRows reads them then.
class MappedRawSamples {
public:
    explicit MappedRawSamples(const HeightSamples& map);
    ~MappedRawSamples();
    MappedRawSamples(const MappedRawSamples&) = delete;
    MappedRawSamples& operator=(const MappedRawSamples&) = delete;

    bool isMapped() const { return samples != nullptr; }
    // The samples, top row first, as the file holds them.
    const uint16_t* topRowFirst() const { return samples; }
    // Row `row`, counted bottom row first as in HeightSamples.
    const uint16_t* row(int row) const { return samples + size_t(height - 1 - row) * size_t(width); }
    // Gives back the memory the pages of rows firstRow .. firstRow + rowCount - 1 (bottom row first)
    // hold in this process; the file's cache keeps them, and they come back when read again. So a
    // pass over the whole map holds one band of it at a time, as reading the bands would.
    void release(int firstRow, int rowCount) const;

private:
    const uint16_t* samples = nullptr;
    size_t bytes = 0;
    int width = 0;
    int height = 0;
};

// The width and height of the map in `file`, from its header (or, for raw samples, its size)
// alone, so that how it is drawn is chosen before the samples are read; the messages are
// loadHeightMap's. Only a BMP is refused beyond 32768 a side: every other format may be larger
// than loadHeightMap reads whole, for its pyramid of tiles.
bool readHeightMapSize(const std::string& file, int& width, int& height, std::string& message);
// Same as loadHeightMap for the bytes of a whole file already in memory; `name` stands for the
// file's name, which decides whether bytes without a signature are raw samples.
bool loadHeightMapFromMemory(const uint8_t* bytes, size_t size, const std::string& name,
                             const ElevationOptions& options, HeightSamples& map, std::string& message);

// Whether the name is that of one of KELTA's raw maps: it ends in ".r16" or ".raw", in any case.
bool hasRawMapName(const std::string& name);
// The side of the square of 16-bit samples that fills a raw map of `bytes` exactly; 0 when none does.
uint64_t rawMapSide(uint64_t bytes);

// The bytes of a 16-bit grey PNG of the samples (bottom row first, as in HeightSamples), with no
// gamma or colour chunks, so that readers take the values as they are. No bytes for a missing
// image or a side outside 1..32768.
std::vector<uint8_t> encodeGreyPng16(int width, int height, const uint16_t* samples);
