// Height-map reading for every format the terrain takes, KELTA's own readers first and GDAL for the
// rest, and the 16-bit grey PNG writer. The input is untrusted: sizes are checked before anything
// large is allocated, and libpng's errors come back as messages.
//
// libpng reports errors by longjmp. Every libpng call that can fail runs below a setjmp in a
// function (readPngHeader, readPngRows, writePngRows) whose frames, down to libpng, hold only
// trivially destructible objects, so the jump skips no destructor; their callers own the buffers.
#include "io/HeightMap.h"

#include "io/Bitmap.h"
#include "io/BitmapFormat.h"
#include "io/DataPath.h"
#include "io/ElevationMap.h"
#include "io/Gdal.h"
#include "io/GdalRaster.h"
#include "io/ImageInput.h"

#include <cpl_vsi.h>
#include <png.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace {

const char* const LOADED_MESSAGE = "Height map loaded";

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Deflate cannot expand one byte into more than this many, so a PNG whose pixels would need
// more is missing data, whatever its header says; refusing it before allocating keeps a small
// hostile file from claiming gigabytes.
const uint64_t MAX_DEFLATE_EXPANSION = 1032;
const uint16_t LARGEST_8_BIT = 255;
const uint16_t LARGEST_16_BIT = 65535;
const size_t PNG_ERROR_TEXT_SIZE = 256;

const char* const NOT_KELTA_FORMAT_MESSAGE =
    "File is not a height map KELTA reads (a BMP, a PNG, raw 16-bit samples in a file named .r16 or .raw, "
    "or an elevation map GDAL reads); GDAL says: ";

// Unknown formats are GDAL's to read.
enum class HeightMapFormat { Bmp, Png, Raw, Unknown };

// Raw samples have no signature, so the name decides first: a raw map whose first sample happens
// to read "BM" is still raw.
HeightMapFormat formatOf(const uint8_t* head, size_t headSize, const std::string& name) {
    if (hasRawMapName(name)) return HeightMapFormat::Raw;
    if (headSize >= 2 && head[0] == 'B' && head[1] == 'M') return HeightMapFormat::Bmp;
    if (headSize >= sizeof PNG_SIGNATURE && std::memcmp(head, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0) {
        return HeightMapFormat::Png;
    }
    return HeightMapFormat::Unknown;
}

bool allocateSamples(HeightSamples& map, int width, int height, uint16_t largestValue, std::string& message) {
    try {
        map.samples.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    } catch (const std::length_error&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    map.width = width;
    map.height = height;
    map.largestValue = largestValue;
    return true;
}

bool samplesFromBitmap(const Bitmap& bitmap, HeightSamples& map, std::string& message) {
    message = bitmap.message;
    if (!bitmap.isLoaded || !allocateSamples(map, bitmap.width, bitmap.height, LARGEST_8_BIT, message)) return false;
    for (size_t k = 0; k < map.samples.size(); ++k) map.samples[k] = bitmap.pixels[k * 3];
    message = LOADED_MESSAGE;
    return true;
}

// The side of the square of 16-bit samples that fills `bytes` exactly, at most `largestSide`.
bool rawSide(uint64_t bytes, int& side, std::string& message, int largestSide = MAX_BITMAP_SIDE) {
    const uint64_t root = rawMapSide(bytes);
    if (root == 0) {
        message = "Raw height map size is not 2 x N x N bytes";
        return false;
    }
    if (root > static_cast<uint64_t>(largestSide)) {
        message = TOO_LARGE_MESSAGE;
        return false;
    }
    side = static_cast<int>(root);
    return true;
}

// Raw samples are little-endian; on a big-endian host each is swapped once it has landed.
void rawToHostOrder(uint16_t* samples, size_t count) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (size_t k = 0; k < count; ++k) samples[k] = static_cast<uint16_t>((samples[k] >> 8) | (samples[k] << 8));
#else
    (void)samples;
    (void)count;
#endif
}

// Raw files, like PNG files, store the top row first: each row is copied straight to its place.
bool readRaw(const uint8_t* bytes, size_t size, HeightSamples& map, std::string& message) {
    int side = 0;
    if (!rawSide(size, side, message) || !allocateSamples(map, side, side, LARGEST_16_BIT, message)) return false;
    const size_t rowBytes = 2 * static_cast<size_t>(side);
    for (size_t row = 0; row < static_cast<size_t>(side); ++row) {
        std::memcpy(map.samples.data() + (static_cast<size_t>(side) - 1 - row) * static_cast<size_t>(side),
                    bytes + row * rowBytes, rowBytes);
    }
    rawToHostOrder(map.samples.data(), map.samples.size());
    return true;
}

// Reads rows firstRow .. firstRow + rowCount - 1 (bottom row first) of a raw file of the given side
// straight into their places in `out`.
bool readRawRows(std::FILE* file, int side, int firstRow, int rowCount, uint16_t* out, std::string& message) {
    const size_t rowBytes = 2 * static_cast<size_t>(side);
    for (int row = firstRow; row < firstRow + rowCount; ++row) {
        uint8_t* place =
            reinterpret_cast<uint8_t*>(out + static_cast<size_t>(row - firstRow) * static_cast<size_t>(side));
        const off_t start = static_cast<off_t>(side - 1 - row) * static_cast<off_t>(rowBytes);
        size_t got = 0;
        while (got < rowBytes) {
            const ssize_t count = pread(fileno(file), place + got, rowBytes - got, start + static_cast<off_t>(got));
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) {
                message =
                    count < 0 ? std::string("File could not be read: ") + std::strerror(errno) : TRUNCATED_MESSAGE;
                return false;
            }
            got += static_cast<size_t>(count);
        }
    }
    rawToHostOrder(out, static_cast<size_t>(rowCount) * static_cast<size_t>(side));
    return true;
}

bool readRawFile(FilePtr& file, uint64_t size, RawSamples raw, HeightSamples& map, std::string& message) {
    int side = 0;
    if (!rawSide(size, side, message)) return false;
    if (raw == RawSamples::LeftInFile) {
        map.width = map.height = side;
        map.largestValue = LARGEST_16_BIT;
        map.rawFile.reset(file.release(), FileCloser());
        return true;
    }
    return allocateSamples(map, side, side, LARGEST_16_BIT, message) &&
           readRawRows(file.get(), side, 0, side, map.samples.data(), message);
}

// ---- PNG reading ----

// Where libpng's read callback takes the bytes from: an open file or a block of memory.
struct PngSource {
    std::FILE* file;
    const uint8_t* bytes;
    size_t size;
    size_t offset;
};

// What the callbacks share with the reading and writing code; plain data only.
struct PngState {
    PngSource source;
    bool truncated;
    char errorText[PNG_ERROR_TEXT_SIZE];
    // The encoder's growing output, held with malloc so that a jump out of libpng leaves it to
    // the caller to free.
    uint8_t* output;
    size_t outputSize;
    size_t outputCapacity;
};

void onPngError(png_structp png, png_const_charp text) {
    PngState* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->errorText, sizeof state->errorText, "%s", text);
    png_longjmp(png, 1);
}

// The program's console output stays its own: libpng's warnings (recoverable damage in
// ancillary chunks) are not printed.
void ignorePngWarning(png_structp, png_const_charp) {}

void readPngBytes(png_structp png, png_bytep out, size_t count) {
    PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
    PngSource& source = state->source;
    size_t got = 0;
    if (source.file != nullptr) {
        got = std::fread(out, 1, count, source.file);
    } else {
        got = std::min(count, source.size - source.offset);
        if (got > 0) std::memcpy(out, source.bytes + source.offset, got);
        source.offset += got;
    }
    if (got != count) {
        state->truncated = true;
        png_error(png, TRUNCATED_MESSAGE);
    }
}

struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int interlace;
    int channels;
    size_t rowBytes;
    png_colorp palette;
    int paletteSize;
};

bool readPngHeader(png_structp png, png_infop info, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colorType,
                 &header->interlace, nullptr, nullptr);
    header->channels = png_get_channels(png, info);
    header->rowBytes = png_get_rowbytes(png, info);
    header->palette = nullptr;
    header->paletteSize = 0;
    if (header->colorType == PNG_COLOR_TYPE_PALETTE) {
        png_get_PLTE(png, info, &header->palette, &header->paletteSize);
    }
    return true;
}

// The height of pixel `column` of a row as libpng hands it over, untransformed: the first
// channel (grey, or red), a palette entry's red, low-depth grey spread over 0..255.
uint16_t pngSample(const png_byte* row, size_t column, const PngHeader& header) {
    const size_t index = column * static_cast<size_t>(header.channels);
    if (header.bitDepth == 16) return static_cast<uint16_t>((row[2 * index] << 8) | row[2 * index + 1]);
    const unsigned largest = (1u << header.bitDepth) - 1;
    const size_t bit = index * static_cast<size_t>(header.bitDepth);
    const unsigned value = (row[bit / 8] >> (8 - header.bitDepth - bit % 8)) & largest;
    if (header.colorType == PNG_COLOR_TYPE_PALETTE) {
        // Like the BMP reader, an index past the palette comes out black.
        return static_cast<uint16_t>(static_cast<int>(value) < header.paletteSize ? header.palette[value].red : 0);
    }
    return static_cast<uint16_t>(value * 255 / largest);
}

// Reads every row into the samples, bottom row first. Interlaced images come pass by pass,
// each pass a smaller image whose pixels are spread over the grid.
void copyPngRows(png_structp png, const PngHeader& header, png_bytep row, uint16_t* samples) {
    const bool interlaced = header.interlace == PNG_INTERLACE_ADAM7;
    const int passes = interlaced ? 7 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const png_uint_32 rows = interlaced ? PNG_PASS_ROWS(header.height, pass) : header.height;
        const png_uint_32 columns = interlaced ? PNG_PASS_COLS(header.width, pass) : header.width;
        if (rows == 0 || columns == 0) continue;  // libpng skips empty passes too
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(png, row, nullptr);
            const size_t y = interlaced ? PNG_ROW_FROM_PASS_ROW(r, pass) : r;
            uint16_t* out = samples + (header.height - 1 - y) * static_cast<size_t>(header.width);
            for (png_uint_32 c = 0; c < columns; ++c) {
                out[interlaced ? PNG_COL_FROM_PASS_COL(c, pass) : c] = pngSample(row, c, header);
            }
        }
    }
}

bool readPngRows(png_structp png, const PngHeader* header, png_bytep row, uint16_t* samples) {
    if (setjmp(png_jmpbuf(png))) return false;
    copyPngRows(png, *header, row, samples);
    // The chunks behind the pixels are read too, so that a file cut short anywhere is refused.
    png_read_end(png, nullptr);
    return true;
}

struct PngReadStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReadStructs() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

std::string pngFailure(const PngState& state) {
    return state.truncated ? TRUNCATED_MESSAGE : std::string("Invalid PNG: ") + state.errorText;
}

// The samples take two bytes a pixel whatever the file's depth, so a small file of one-bit
// pixels could claim gigabytes; a height map worth drawing stores at least a byte a pixel, which
// deflate shrinks at most MAX_DEFLATE_EXPANSION times.
bool pngSizeIsCredible(const PngHeader& header, uint64_t sourceSize, std::string& message) {
    const uint64_t pixels = uint64_t(header.width) * header.height;
    const uint64_t storedBits = pixels * header.bitDepth * header.channels;
    if (storedBits / 8 > MAX_DEFLATE_EXPANSION * sourceSize) {
        message = TRUNCATED_MESSAGE;
        return false;
    }
    if (pixels > MAX_DEFLATE_EXPANSION * sourceSize) {
        message = "PNG of " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                  " pixels is too small a file for a height map (under a byte a pixel once deflated)";
        return false;
    }
    return true;
}

// Reads the header, checks the size, and with `map` given reads the samples too.
bool readPng(const PngSource& source, uint64_t sourceSize, HeightSamples* map, int& width, int& height,
             std::string& message) {
    PngState state{};
    state.source = source;
    PngReadStructs structs;
    structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onPngError, ignorePngWarning);
    if (structs.png != nullptr) structs.info = png_create_info_struct(structs.png);
    if (structs.info == nullptr) {
        message = "Not enough memory to read a PNG file";
        return false;
    }
    png_set_read_fn(structs.png, &state, readPngBytes);

    PngHeader header{};
    if (!readPngHeader(structs.png, structs.info, &header)) {
        message = pngFailure(state);
        return false;
    }
    const png_uint_32 largestSide = map != nullptr ? MAX_BITMAP_SIDE : std::numeric_limits<int>::max();
    if (header.width > largestSide || header.height > largestSide) {
        message = TOO_LARGE_MESSAGE;
        return false;
    }
    if (!pngSizeIsCredible(header, sourceSize, message)) return false;
    width = static_cast<int>(header.width);
    height = static_cast<int>(header.height);
    if (map == nullptr) return true;
    const uint16_t largest = header.bitDepth == 16 ? LARGEST_16_BIT : LARGEST_8_BIT;
    if (!allocateSamples(*map, width, height, largest, message)) return false;
    std::unique_ptr<png_byte[]> row(new (std::nothrow) png_byte[header.rowBytes]);
    if (!row) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    if (!readPngRows(structs.png, &header, row.get(), map->samples.data())) {
        message = pngFailure(state);
        return false;
    }
    return true;
}

// Opens the raster through GDAL for its header.
std::unique_ptr<GdalRaster> openGdalHeightMap(const std::string& path, int& width, int& height,
                                              std::string& message) {
    GdalDataset dataset = openGdalDataset(path, message);
    std::unique_ptr<GdalRaster> raster = dataset ? std::make_unique<GdalRaster>(std::move(dataset)) : nullptr;
    if (!raster) {
        // A file that was never read says nothing of its format.
        if (!isNetworkFailure(message) && !isUnreadableKind(message)) message = NOT_KELTA_FORMAT_MESSAGE + message;
        return nullptr;
    }
    if (!heightMapSizeOf(raster->info(), std::numeric_limits<int>::max(), width, height, message)) return nullptr;
    return raster;
}

// GDAL reads bytes in memory as a file of its in-memory file system, under the name given (without
// its folders), in a folder of its own so that threads do not share it.
bool readGdalMemory(const uint8_t* bytes, size_t size, const std::string& name, const ElevationOptions& options,
                    HeightSamples& map, std::string& message) {
    static std::atomic<uint64_t> folders{0};
    const std::string fileName = std::filesystem::path(name).filename().string();
    const std::string path =
        "/vsimem/kelta-" + std::to_string(++folders) + "/" + (fileName.empty() ? "unnamed" : fileName);
    static const uint8_t nothing = 0;
    VSILFILE* file = VSIFileFromMemBuffer(path.c_str(), const_cast<GByte*>(bytes != nullptr ? bytes : &nothing),
                                          static_cast<vsi_l_offset>(size), FALSE);
    if (file == nullptr) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    VSIFCloseL(file);
    int width = 0, height = 0;
    const std::unique_ptr<GdalRaster> raster = openGdalHeightMap(path, width, height, message);
    const bool read = raster && heightSamplesFromRaster(*raster, options, map, message);
    VSIUnlink(path.c_str());
    return read;
}

bool loadFromMemory(const uint8_t* bytes, size_t size, const std::string& name, const ElevationOptions& options,
                    HeightSamples& map, std::string& message) {
    if (bytes == nullptr) size = 0;
    int width = 0, height = 0;
    switch (formatOf(bytes, size, name)) {
        case HeightMapFormat::Png:
            return readPng(PngSource{nullptr, bytes, size, 0}, size, &map, width, height, message);
        case HeightMapFormat::Raw:
            return readRaw(bytes, size, map, message);
        case HeightMapFormat::Unknown:
            return readGdalMemory(bytes, size, name, options, map, message);
        case HeightMapFormat::Bmp:
            break;
    }
    Bitmap bitmap;
    bitmap.loadFromMemory(bytes, size);
    return samplesFromBitmap(bitmap, map, message);
}

// Opens the file (only a regular file: a pipe or a device would block or never end) and tells
// its format. A file that cannot be opened is left to the BMP reader, which names the reason;
// paths of GDAL's virtual file systems (/vsicurl/http://..., /vsizip/...) go to GDAL.
HeightMapFormat openHeightMap(const std::string& file, FilePtr& opened, uint64_t& size) {
    if (isGdalVirtualPath(file)) return HeightMapFormat::Unknown;
    std::error_code error;
    if (std::filesystem::is_regular_file(file, error)) opened.reset(std::fopen(file.c_str(), "rb"));
    if (!opened) return HeightMapFormat::Bmp;
    size = std::filesystem::file_size(file, error);
    uint8_t head[sizeof PNG_SIGNATURE] = {};
    const size_t headSize = std::fread(head, 1, sizeof head, opened.get());
    if (error || std::fseek(opened.get(), 0, SEEK_SET) != 0) size = UINT64_MAX;
    return formatOf(head, headSize, file);
}

// ---- PNG writing ----

void writePngBytes(png_structp png, png_bytep bytes, size_t count) {
    PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
    if (count > state->outputCapacity - state->outputSize) {
        const size_t capacity = std::max(state->outputCapacity * 2, state->outputSize + count);
        uint8_t* grown = static_cast<uint8_t*>(std::realloc(state->output, capacity));
        if (grown == nullptr) png_error(png, "Not enough memory for the PNG bytes");
        state->output = grown;
        state->outputCapacity = capacity;
    }
    std::memcpy(state->output + state->outputSize, bytes, count);
    state->outputSize += count;
}

void flushNothing(png_structp) {}

bool writePngRows(png_structp png, png_infop info, int width, int height, const uint16_t* samples, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 16,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = height - 1; y >= 0; --y) {
        const uint16_t* source = samples + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            row[2 * x] = static_cast<png_byte>(source[x] >> 8);
            row[2 * x + 1] = static_cast<png_byte>(source[x] & 0xFF);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

struct PngWriteStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriteStructs() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }
};

}  // namespace

bool hasRawMapName(const std::string& name) {
    if (name.size() < 4) return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".r16" || extension == ".raw";
}

uint64_t rawMapSide(uint64_t bytes) {
    const uint64_t count = bytes / 2;
    uint64_t root = static_cast<uint64_t>(std::sqrt(static_cast<double>(count)));
    while (root * root > count) --root;
    while ((root + 1) * (root + 1) <= count) ++root;
    return bytes % 2 == 0 && root * root == count ? root : 0;
}

struct HeightMapFile::Opened {
    HeightMapFormat format = HeightMapFormat::Bmp;
    FilePtr file;
    uint64_t size = 0;
    // Rasters read through GDAL: the dataset opened for the header, read again for the samples.
    std::unique_ptr<GdalRaster> raster;
    std::vector<std::string> files;
};

HeightMapFile::HeightMapFile(std::string path, const ElevationOptions& options)
    : path(std::move(path)), options(options), opened(std::make_unique<Opened>()) {}

HeightMapFile::~HeightMapFile() = default;

std::unique_ptr<HeightMapFile> HeightMapFile::open(const std::string& path, const ElevationOptions& options,
                                                   std::string& message) {
    std::unique_ptr<HeightMapFile> map(new HeightMapFile(path, options));
    Opened& at = *map->opened;
    at.format = openHeightMap(path, at.file, at.size);
    if (at.file && at.size == UINT64_MAX) {
        message = "File could not be read";
        return nullptr;
    }
    bool read = false;
    switch (at.format) {
        case HeightMapFormat::Png:
            read = readPng(PngSource{at.file.get(), nullptr, 0, 0}, at.size, nullptr, map->width, map->height, message);
            // The samples are read from the start again.
            read = read && std::fseek(at.file.get(), 0, SEEK_SET) == 0;
            break;
        case HeightMapFormat::Raw:
            read = rawSide(at.size, map->width, message, std::numeric_limits<int>::max());
            map->height = map->width;
            break;
        case HeightMapFormat::Unknown:
            at.file.reset();
            at.raster = openGdalHeightMap(path, map->width, map->height, message);
            read = at.raster != nullptr;
            break;
        case HeightMapFormat::Bmp: {
            // The BMP reader opens the file itself, for the headers and again for the pixels.
            at.file.reset();
            Bitmap bitmap;
            read = bitmap.loadHeaders(path);
            message = bitmap.message;
            map->width = bitmap.width;
            map->height = bitmap.height;
            break;
        }
    }
    if (!read) return nullptr;
    // A remote map keeps nothing in the cache, and listing its files could cost requests.
    if (!isGdalVirtualPath(path)) {
        std::error_code error;
        at.files = at.raster ? gdalFilesOf(at.raster->handle())
                             : std::vector<std::string>{std::filesystem::weakly_canonical(
                                   std::filesystem::absolute(path, error), error).string()};
    }
    return map;
}

const std::vector<std::string>& HeightMapFile::files() const { return opened->files; }

std::unique_ptr<GdalRaster> HeightMapFile::takeRaster() { return std::move(opened->raster); }

bool HeightMapFile::read(RawSamples raw, HeightSamples& map, std::string& message) {
    map = HeightSamples();
    Opened& at = *opened;
    int width = 0, height = 0;
    bool read = false;
    switch (at.format) {
        case HeightMapFormat::Png:
            read = readPng(PngSource{at.file.get(), nullptr, 0, 0}, at.size, &map, width, height, message);
            break;
        case HeightMapFormat::Raw:
            read = readRawFile(at.file, at.size, raw, map, message);
            break;
        case HeightMapFormat::Unknown:
            if (!at.raster) {
                message = "the file's raster was already handed to another reader";
                break;
            }
            read = heightSamplesFromRaster(*at.raster, options, map, message);
            break;
        case HeightMapFormat::Bmp: {
            Bitmap bitmap;
            bitmap.loadFile(path);
            read = samplesFromBitmap(bitmap, map, message);
            break;
        }
    }
    at.file.reset();
    at.raster.reset();
    if (read && (map.width != this->width || map.height != this->height)) {
        message = "the file changed while it was read";
        read = false;
    }
    if (!read) {
        map = HeightSamples();
        return false;
    }
    message = LOADED_MESSAGE;
    return true;
}

bool loadHeightMap(const std::string& file, const ElevationOptions& options, HeightSamples& map, std::string& message,
                   RawSamples raw) {
    map = HeightSamples();
    const std::unique_ptr<HeightMapFile> opened = HeightMapFile::open(file, options, message);
    return opened && opened->read(raw, map, message);
}

bool readHeightMapSize(const std::string& file, int& width, int& height, std::string& message) {
    width = height = 0;
    const std::unique_ptr<HeightMapFile> opened = HeightMapFile::open(file, ElevationOptions(), message);
    if (!opened) return false;
    width = opened->width;
    height = opened->height;
    return true;
}

const uint16_t* sampleRows(const HeightSamples& map, int firstRow, int rowCount, uint16_t* buffer,
                           std::string& message) {
    if (!map.rawFile) return map.samples.data() + static_cast<size_t>(firstRow) * static_cast<size_t>(map.width);
    return readRawRows(map.rawFile.get(), map.width, firstRow, rowCount, buffer, message) ? buffer : nullptr;
}

MappedRawSamples::MappedRawSamples(const HeightSamples& map) : width(map.width), height(map.height) {
    // Raw samples are little-endian.
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__ || !map.rawFile) return;
    const int descriptor = fileno(map.rawFile.get());
    bytes = size_t(width) * size_t(height) * sizeof(uint16_t);
    // Reading a page past the end of a file cut short would end the program.
    struct stat status {};
    if (bytes == 0 || fstat(descriptor, &status) != 0 || uint64_t(status.st_size) < bytes) return;
    void* mapping = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, descriptor, 0);
    if (mapping != MAP_FAILED) samples = static_cast<const uint16_t*>(mapping);
}

MappedRawSamples::~MappedRawSamples() {
    if (samples) munmap(const_cast<uint16_t*>(samples), bytes);
}

void MappedRawSamples::release(int firstRow, int rowCount) const {
    // madvise takes whole pages: those the band shares with the rows beside it stay.
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(row(firstRow + rowCount - 1));
    const uintptr_t end = reinterpret_cast<uintptr_t>(row(firstRow) + width);
    const uintptr_t firstPage = (start + page - 1) / page * page;
    const uintptr_t endPage = end / page * page;
    if (endPage > firstPage) madvise(reinterpret_cast<void*>(firstPage), endPage - firstPage, MADV_DONTNEED);
}

bool loadHeightMapFromMemory(const uint8_t* bytes, size_t size, const std::string& name,
                             const ElevationOptions& options, HeightSamples& map, std::string& message) {
    map = HeightSamples();
    if (!loadFromMemory(bytes, size, name, options, map, message)) {
        map = HeightSamples();
        return false;
    }
    message = LOADED_MESSAGE;
    return true;
}

std::vector<uint8_t> encodeGreyPng16(int width, int height, const uint16_t* samples) {
    if (samples == nullptr || width < 1 || height < 1 || width > MAX_BITMAP_SIDE || height > MAX_BITMAP_SIDE) {
        return {};
    }
    PngState state{};
    PngWriteStructs structs;
    structs.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, onPngError, ignorePngWarning);
    if (structs.png != nullptr) structs.info = png_create_info_struct(structs.png);
    std::unique_ptr<png_byte[]> row(new (std::nothrow) png_byte[static_cast<size_t>(width) * 2]);
    std::vector<uint8_t> bytes;
    if (structs.info != nullptr && row) {
        png_set_write_fn(structs.png, &state, writePngBytes, flushNothing);
        const bool written = writePngRows(structs.png, structs.info, width, height, samples, row.get());
        const std::unique_ptr<uint8_t, decltype(&std::free)> output(state.output, &std::free);
        if (written) bytes.assign(output.get(), output.get() + state.outputSize);
    }
    return bytes;
}
