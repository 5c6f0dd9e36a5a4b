// Finds a map's levels: its own overviews where they decimate, or a pyramid in the cache folder, built once by exact
// decimation (each level every other sample of the one before, the samples at multiples of 2^k of the
// map) into GDAL overviews of a VRT of the map. GDAL's NEAREST overviews are not exact decimation
// (for odd sizes they drift by a sample halfway across), so GDAL only lays the overviews out and KELTA
// fills them. A build happens in a folder of its own, renamed into place when whole.
#include "io/Pyramid.h"

#include "io/AtomicFile.h"
#include "io/DataPath.h"
#include "io/ElevationMap.h"
#include "io/Gdal.h"
#include "io/GdalRaster.h"
#include "io/ProgressLine.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal_utils.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <type_traits>

namespace fs = std::filesystem;

namespace {

// Changes whenever what a pyramid holds changes, so that older pyramids are rebuilt.
const char* const PYRAMID_FORMAT = "KELTA pyramid 1";
const char* const SOURCE_VRT = "source.vrt";
const char* const SOURCE_COPY = "source.tif";
const char* const IDENTITY = "identity";
// The map's lowest and highest heights, after the identity of the map they were read from.
const char* const BOUNDS = "bounds";
const char* const PARTIAL = ".partial-";
const char* const STALE = ".stale-";
// A map's own levels are used as they are when the coarsest holds at most this many tiles a side.
const int MOST_ROOT_TILES = 8;
// Bytes of the rows a build reads at once: few enough that they are still in the processor's cache
// while the levels take their samples from them (32 MB took a third longer for a 16,384 mosaic).
const size_t STRIP_BYTES = 4u << 20;
// Samples a side of the blocks GDAL writes the copied samples and the overviews in.
const int BLOCK_SIDE = 128;


std::string hashName(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;  // 64-bit FNV-1a
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// The size and modification time of each file the map is made of (a VRT's sources too), so that a
// change to any of them is seen.
// `what` names what is kept of the map ("quads 256" for its pyramid of tiles of 256 quads).
bool identityOf(const std::string& path, const std::vector<std::string>& files, const std::string& what,
                std::string& identity, std::string& message) {
    std::ostringstream text;
    text << PYRAMID_FORMAT << "\nmap " << path << "\n" << what << "\n";
    for (const std::string& file : std::set<std::string>(files.begin(), files.end())) {
        struct stat facts {};
        if (::stat(file.c_str(), &facts) != 0) {
            message = "Cannot read the facts of " + file + ": " + std::strerror(errno);
            return false;
        }
        text << "file " << file << " " << facts.st_size << " bytes, modified " << facts.st_mtim.tv_sec << "."
             << facts.st_mtim.tv_nsec << "\n";
    }
    identity = text.str();
    return true;
}

std::string quadsText(int tileQuads) { return "quads " + std::to_string(tileQuads); }

std::string readText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The bounds of the heights of the samples a build reads, by the rule the map is read by.
struct SeenBounds {
    HeightRule rule;
    HeightBounds bounds{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    // Whether the map's bounds are of use: an 8- or 16-bit image map's values are its heights as
    // they are, so a build of one reads only the rows it keeps.
    bool wanted = true;
    bool sawAll = false;
    // Before GDAL 3.7 signed bytes are unsigned ones with a note beside them (as GdalRaster reads them).
    bool signedBytes = false;
    std::vector<double> values;

    void see(const unsigned char* samples, GDALDataType type, size_t count) {
        // Heights are an affine function of the stored values but for a palette's reds, so the
        // stored extremes give the heights' extremes; a height beyond a double's range is a void,
        // which only the sample-by-sample rule tells.
        double lowest = 0.0, highest = 0.0;
        if (rule.paletteReds.empty() && storedRange(samples, type, count, lowest, highest)) {
            if (lowest > highest) return;  // nothing but voids
            const double a = rule.heightOf(lowest), b = rule.heightOf(highest);
            if (!std::isnan(a) && !std::isnan(b)) {
                bounds.lowest = std::min(bounds.lowest, std::min(a, b));
                bounds.highest = std::max(bounds.highest, std::max(a, b));
                return;
            }
        }
        values.resize(count);
        GDALCopyWords64(samples, type, GDALGetDataTypeSizeBytes(type), values.data(), GDT_Float64, sizeof(double),
                        static_cast<GPtrDiff_t>(count));
        for (const double value : values) {
            const double height = rule.heightOf(signedBytes && value >= 128 ? value - 256 : value);
            if (std::isnan(height)) continue;
            bounds.lowest = std::min(bounds.lowest, height);
            bounds.highest = std::max(bounds.highest, height);
        }
    }

    // The lowest and highest stored value that is no void (lowest above highest when all are), for
    // the sample types GDAL reads whole numbers and floats in; false for the others.
    bool storedRange(const unsigned char* samples, GDALDataType type, size_t count, double& lowest,
                     double& highest) const {
        switch (type) {
            case GDT_Byte:
                return signedBytes ? rangeOf(reinterpret_cast<const int8_t*>(samples), count, lowest, highest)
                                   : rangeOf(samples, count, lowest, highest);
            case GDT_UInt16: return rangeOf(reinterpret_cast<const uint16_t*>(samples), count, lowest, highest);
            case GDT_Int16: return rangeOf(reinterpret_cast<const int16_t*>(samples), count, lowest, highest);
            case GDT_UInt32: return rangeOf(reinterpret_cast<const uint32_t*>(samples), count, lowest, highest);
            case GDT_Int32: return rangeOf(reinterpret_cast<const int32_t*>(samples), count, lowest, highest);
            case GDT_Float32: return rangeOf(reinterpret_cast<const float*>(samples), count, lowest, highest);
            case GDT_Float64: return rangeOf(reinterpret_cast<const double*>(samples), count, lowest, highest);
            default: return false;
        }
    }

    template <typename Sample>
    bool rangeOf(const Sample* samples, size_t count, double& lowest, double& highest) const {
        if constexpr (std::is_integral<Sample>::value) {
            // Whole numbers are never NaN, and a no-data value only matters where a sample can hold
            // it. Without branches, the loop becomes vector instructions and the bounds cost what
            // reading the samples does: each sample is a key in unsigned order (a signed one with
            // its sign bit turned), and a no-data sample is masked to the key that changes neither
            // extreme.
            using Key = std::make_unsigned_t<Sample>;
            constexpr Key SIGN = std::is_signed<Sample>::value ? Key(Key(1) << (8 * sizeof(Key) - 1)) : Key(0);
            const double noData = rule.noData.value_or(0.0);
            const bool hasNoData = rule.noData && noData == std::floor(noData) &&
                                   noData >= double(std::numeric_limits<Sample>::lowest()) &&
                                   noData <= double(std::numeric_limits<Sample>::max());
            const Key skipped = hasNoData ? Key(Key(static_cast<Sample>(noData)) ^ SIGN) : Key(0);
            const Key masking = hasNoData ? Key(~Key(0)) : Key(0);
            Key low = Key(~Key(0)), high = 0;
            const Key* keys = reinterpret_cast<const Key*>(samples);
            for (size_t k = 0; k < count; ++k) {
                const Key key = Key(keys[k] ^ SIGN);
                const Key mask = Key(Key(Key(0) - Key(key == skipped)) & masking);
                const Key forLow = Key(key | mask), forHigh = Key(key & Key(~mask));
                low = forLow < low ? forLow : low;
                high = forHigh > high ? forHigh : high;
            }
            // With nothing kept the extremes stay where they began, low above high.
            const bool any = low <= high;
            lowest = any ? double(static_cast<Sample>(Key(low ^ SIGN))) : std::numeric_limits<double>::infinity();
            highest = any ? double(static_cast<Sample>(Key(high ^ SIGN))) : -std::numeric_limits<double>::infinity();
            return true;
        }
        lowest = std::numeric_limits<double>::infinity();
        highest = -lowest;
        for (size_t k = 0; k < count; ++k) {
            const double value = static_cast<double>(samples[k]);
            if (!std::isfinite(value) || (rule.noData && value == *rule.noData)) continue;
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
        return true;
    }
};

std::string boundsText(const std::string& identity, const HeightBounds& bounds) {
    char line[96];
    std::snprintf(line, sizeof line, "%s %a %a\n", BOUNDS, bounds.lowest, bounds.highest);
    return identity + line;
}

// The bounds kept in `file` for the map of `identity`, if any.
std::optional<HeightBounds> keptBounds(const fs::path& file, const std::string& identity) {
    const std::string text = readText(file);
    if (text.compare(0, identity.size(), identity) != 0) return std::nullopt;
    HeightBounds bounds;
    const std::string format = std::string(BOUNDS) + " %la %la";
    if (std::sscanf(text.c_str() + identity.size(), format.c_str(), &bounds.lowest, &bounds.highest) != 2) {
        return std::nullopt;
    }
    return bounds;
}

// The map's bounds from the raster's level 0 as `rule` reads it, kept in `file` for the next time (a
// cache that cannot be written only costs the reading again).
bool measureAndKeepBounds(const RasterSource& raster, const HeightRule& rule, const fs::path& file,
                          const std::string& identity, HeightBounds& bounds, std::string& message) {
    if (!measureHeights(raster, 0, rule, bounds, message)) return false;
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    std::string ignored;
    if (!error) replaceFile(file.string(), boundsText(identity, bounds), ignored);
    return true;
}

// Removes the folders of builds whose process has gone (killed mid-build), and of replaced pyramids.
void removeLeftovers(const fs::path& cacheFolder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(cacheFolder, error)) {
        const std::string name = entry.path().filename().string();
        size_t mark = name.find(PARTIAL);
        size_t length = std::strlen(PARTIAL);
        if (mark == std::string::npos) {
            mark = name.find(STALE);
            length = std::strlen(STALE);
        }
        if (mark == std::string::npos) continue;
        const long pid = std::strtol(name.c_str() + mark + length, nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), error);
    }
}

bool writeRawVrt(const std::string& rawPath, int side, const fs::path& vrtPath, std::string& message) {
    char* escaped = CPLEscapeString(rawPath.c_str(), -1, CPLES_XML);
    std::ostringstream xml;
    xml << "<VRTDataset rasterXSize=\"" << side << "\" rasterYSize=\"" << side << "\">\n"
        << "  <VRTRasterBand dataType=\"UInt16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
        << "    <SourceFilename relativeToVRT=\"0\">" << escaped << "</SourceFilename>\n"
        << "    <ImageOffset>0</ImageOffset>\n    <PixelOffset>2</PixelOffset>\n"
        << "    <LineOffset>" << 2 * side << "</LineOffset>\n    <ByteOrder>LSB</ByteOrder>\n"
        << "  </VRTRasterBand>\n</VRTDataset>\n";
    CPLFree(escaped);
    return replaceFile(vrtPath.string(), xml.str(), message);
}

// The share of a build done, counted in the map's samples passed: once to fill the levels, and once
// before to copy them where the pyramid keeps a copy.
class BuildProgress {
public:
    explicit BuildProgress(const PyramidProgress& progress) : progress(progress) {}

    void plan(uint64_t samples) { total += samples; }
    // Counts samples read; false once the build is to stop.
    bool advance(uint64_t samples) {
        done += samples;
        if (progress && !progress(std::min(0.99, double(done) / double(std::max<uint64_t>(total, 1))))) stopped = true;
        return !stopped;
    }
    bool wasStopped() const { return stopped; }

    // GDAL's progress of a step that reads `samples`.
    struct Step {
        BuildProgress* build;
        uint64_t samples;
        uint64_t counted;
    };
    static int CPL_STDCALL gdalProgress(double complete, const char*, void* data) {
        Step& step = *static_cast<Step*>(data);
        const uint64_t now = static_cast<uint64_t>(std::clamp(complete, 0.0, 1.0) * double(step.samples));
        const bool goOn = step.build->advance(now - std::min(now, step.counted));
        step.counted = std::max(now, step.counted);
        return goOn ? TRUE : FALSE;
    }

private:
    const PyramidProgress& progress;
    uint64_t total = 0;
    uint64_t done = 0;
    bool stopped = false;
};

// Band 1 of the map, as a VRT of it, or as a tiled copy of its samples (see copiesSamples).
bool writeBase(const std::string& mapPath, GDALDatasetH map, bool copy, const fs::path& path, BuildProgress& progress,
               uint64_t samples, std::string& message) {
    GdalMessages messages;
    const char* vrt[] = {"-of", "VRT", "-b", "1", nullptr};
    const std::string block = std::to_string(BLOCK_SIDE);
    const std::string blockWidth = "BLOCKXSIZE=" + block, blockHeight = "BLOCKYSIZE=" + block;
    const char* tiled[] = {"-of", "GTiff", "-b", "1", "-co", "TILED=YES", "-co", blockWidth.c_str(), "-co",
                           blockHeight.c_str(), "-co", "BIGTIFF=IF_SAFER", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(copy ? tiled : vrt), nullptr);
    BuildProgress::Step step{&progress, samples, 0};
    if (copy) GDALTranslateOptionsSetProgress(options, BuildProgress::gdalProgress, &step);
    GdalDataset written(GDALTranslate(path.string().c_str(), map, options, nullptr));
    GDALTranslateOptionsFree(options);
    // A copy reads every sample, so its failure is as often the map's (cut short, damaged) as the cache's.
    if (!written && !progress.wasStopped()) {
        message = copy ? "Could not copy the samples of " + mapPath + " into its pyramid: "
                       : "Cannot write " + path.string() + ": ";
        message += messages.reason();
    }
    return written != nullptr;
}

// Copies samples 0, 2, 4 ... of `source` into the `count` samples of `target`: a copy of a size
// known here is one move, not a call.
template <size_t SampleBytes>
void keepEveryOther(const unsigned char* source, unsigned char* target, int count) {
    for (int k = 0; k < count; ++k) std::memcpy(target + size_t(k) * SampleBytes, source + size_t(2 * k) * SampleBytes, SampleBytes);
}

void keepEveryOther(const unsigned char* source, unsigned char* target, int count, size_t sampleBytes) {
    switch (sampleBytes) {
        case 1: keepEveryOther<1>(source, target, count); break;
        case 2: keepEveryOther<2>(source, target, count); break;
        case 4: keepEveryOther<4>(source, target, count); break;
        case 8: keepEveryOther<8>(source, target, count); break;
        default:
            for (int k = 0; k < count; ++k) {
                std::memcpy(target + size_t(k) * sampleBytes, source + size_t(2 * k) * sampleBytes, sampleBytes);
            }
    }
}

// An overview filled from the rows of the level above it as they arrive, top to bottom: it keeps
// every other row and every other sample of each, and writes what it kept in whole rows of its
// blocks. Along a mirrored axis the samples are counted from the file's far edge, the map's
// northern or western one.
class LevelWriter {
public:
    LevelWriter(int level, GDALRasterBandH band, int aboveWidth, int aboveHeight, const Mirroring& mirroring,
                size_t sampleBytes)
        : level(level),
          band(band),
          width(GDALGetRasterBandXSize(band)),
          height(GDALGetRasterBandYSize(band)),
          firstColumn(mirroring.columns ? (aboveWidth - 1) % 2 : 0),
          firstRow(mirroring.rows ? (aboveHeight - 1) % 2 : 0),
          sampleBytes(sampleBytes) {
        int blockWidth = 0, blockHeight = 0;
        GDALGetBlockSize(band, &blockWidth, &blockHeight);
        rowsAtOnce = std::max(1, std::min(blockHeight, height));
        held.resize(size_t(width) * sampleBytes * size_t(rowsAtOnce));
    }

    int levelWidth() const { return width; }
    int levelHeight() const { return height; }
    // The first row of the level above that this level keeps.
    int firstRowKept() const { return firstRow; }
    // The rows this level has kept so far, written or not.
    int rowsKept() const { return rowsWritten + rowsHeld; }

    // Takes row `aboveRow` of the level above; returns this level's row made of it, or nullptr when
    // this level skips it. The row returned stays valid until the next call of write.
    const unsigned char* take(int aboveRow, const unsigned char* samples) {
        if (aboveRow < firstRow || (aboveRow - firstRow) % 2 != 0) return nullptr;
        unsigned char* row = held.data() + size_t(rowsHeld) * size_t(width) * sampleBytes;
        keepEveryOther(samples + size_t(firstColumn) * sampleBytes, row, width, sampleBytes);
        ++rowsHeld;
        return row;
    }

    // Writes the rows held once they fill a row of blocks or end the level.
    bool write(std::string& message) {
        if (rowsHeld < rowsAtOnce && rowsWritten + rowsHeld < height) return true;
        if (GDALRasterIO(band, GF_Write, 0, rowsWritten, width, rowsHeld, held.data(), width, rowsHeld,
                         GDALGetRasterDataType(band), 0, 0) != CE_None) {
            message = "writing level " + std::to_string(level) + " failed";
            return false;
        }
        rowsWritten += rowsHeld;
        rowsHeld = 0;
        return true;
    }

private:
    int level;
    GDALRasterBandH band;
    int width, height;
    int firstColumn, firstRow;
    size_t sampleBytes;
    int rowsAtOnce = 1;
    std::vector<unsigned char> held;
    int rowsHeld = 0;
    int rowsWritten = 0;
};

// Fills every overview of band 1 in one pass over the map: each row of the map read goes down the
// levels, each keeping every other row of the one above, so that the map is read once and no level
// is read back (the map's bounds are seen meanwhile).
bool fillLevels(GDALRasterBandH base, const Mirroring& mirroring, BuildProgress& progress, SeenBounds& seen,
                std::string& message) {
    const int baseWidth = GDALGetRasterBandXSize(base), baseHeight = GDALGetRasterBandYSize(base);
    const GDALDataType type = GDALGetRasterDataType(base);
    const size_t sampleBytes = static_cast<size_t>(GDALGetDataTypeSizeBytes(type));
    const size_t rowBytes = size_t(baseWidth) * sampleBytes;
    std::vector<LevelWriter> levels;
    std::vector<unsigned char> strip;
    try {
        int aboveWidth = baseWidth, aboveHeight = baseHeight;
        for (int overview = 0; overview < GDALGetOverviewCount(base); ++overview) {
            levels.emplace_back(overview + 1, GDALGetOverview(base, overview), aboveWidth, aboveHeight, mirroring,
                                sampleBytes);
            aboveWidth = levels.back().levelWidth();
            aboveHeight = levels.back().levelHeight();
        }
        strip.resize(rowBytes * size_t(std::max<size_t>(1, std::min<size_t>(STRIP_BYTES / rowBytes, size_t(baseHeight)))));
    } catch (const std::bad_alloc&) {
        message = "not enough memory";
        return false;
    }
    // Every row is read where the bounds are seen, or where the map is stored in blocks of rows
    // (tiles, a mosaic's), whose reading costs the same for one row of a block as for all; else
    // only the rows the first level keeps, one by one.
    int blockWidth = 0, blockHeight = 0;
    GDALGetBlockSize(base, &blockWidth, &blockHeight);
    const bool everyRow = seen.wanted || blockHeight > 1;
    const int rowStep = everyRow ? 1 : 2;
    const int stripRows = static_cast<int>(strip.size() / rowBytes);
    // Takes row `row` of the map down the levels.
    const auto descend = [&](int row, const unsigned char* samples) {
        for (size_t level = 0; level < levels.size() && samples != nullptr; ++level) {
            samples = levels[level].take(row, samples);
            row = levels[level].rowsKept() - 1;
        }
        for (LevelWriter& level : levels) {
            if (!level.write(message)) return false;
        }
        return true;
    };
    // Without every row read, the rows read are those the first level keeps, from its first.
    const int firstRead = everyRow || levels.empty() ? 0 : levels.front().firstRowKept();
    for (int row = firstRead; row < baseHeight;) {
        const int rows = std::min(stripRows, (baseHeight - row + rowStep - 1) / rowStep);
        bool read = true;
        if (everyRow) {
            read = GDALRasterIO(base, GF_Read, 0, row, baseWidth, rows, strip.data(), baseWidth, rows, type, 0, 0) ==
                   CE_None;
            if (read && seen.wanted) seen.see(strip.data(), type, size_t(baseWidth) * size_t(rows));
        } else {
            for (int k = 0; k < rows && read; ++k) {
                read = GDALRasterIO(base, GF_Read, 0, row + k * rowStep, baseWidth, 1, strip.data() + size_t(k) * rowBytes,
                                    baseWidth, 1, type, 0, 0) == CE_None;
            }
        }
        if (!read) {
            message = "reading level 0 failed";
            return false;
        }
        for (int k = 0; k < rows; ++k) {
            if (!descend(row + k * rowStep, strip.data() + size_t(k) * rowBytes)) return false;
        }
        const int rowsPassed = std::min(rows * rowStep, baseHeight - row);
        if (!progress.advance(uint64_t(baseWidth) * uint64_t(rowsPassed))) return false;
        row += rowsPassed;
    }
    return true;
}

// Lays out the overviews beside the base (its name and ".ovr") and fills them.
bool buildLevels(const fs::path& base, const std::vector<int>& factors, BuildProgress& progress, SeenBounds& seen,
                 std::string& message) {
    if (factors.empty()) return true;
    GdalMessages messages;
    GdalDataset dataset(GDALOpenEx(base.string().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!dataset) {
        message = "Cannot open " + base.string() + ": " + messages.reason();
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset.get(), 1);
    std::array<double, 6> transform{};
    const Mirroring mirroring =
        GDALGetGeoTransform(dataset.get(), transform.data()) == CE_None ? mirroringOf(transform) : Mirroring();
    // In 64-bit TIFF when the overviews may pass 4 GB.
    CPLSetThreadLocalConfigOption("BIGTIFF_OVERVIEW", "IF_SAFER");
    int bandNumber = 1;
    const CPLErr laidOut = GDALBuildOverviews(dataset.get(), "NONE", static_cast<int>(factors.size()), factors.data(),
                                              1, &bandNumber, nullptr, nullptr);
    CPLSetThreadLocalConfigOption("BIGTIFF_OVERVIEW", nullptr);
    if (laidOut != CE_None || GDALGetOverviewCount(band) != static_cast<int>(factors.size())) {
        message = "Cannot lay out the overviews of " + base.string() + ": " + messages.reason();
        return false;
    }
    if (!fillLevels(band, mirroring, progress, seen, message)) {
        if (!progress.wasStopped()) {
            message = "Cannot build the pyramid in " + base.parent_path().string() + ": " + message + ": " +
                      messages.reason();
        }
        return false;
    }
    seen.sawAll = seen.wanted;
    dataset.reset();
    // Some failures, such as a full disk while the last blocks are flushed, have no other sign.
    if (messages.sawFailure()) {
        message = "Cannot write the pyramid in " + base.parent_path().string() + ": " + messages.reason();
        return false;
    }
    return true;
}

struct MapFacts {
    int width = 0;
    int height = 0;
    int sampleBytes = 2;
    bool isRaw = false;
    // Whether the pyramid keeps a tiled copy of the map's samples (see copiesSamples).
    bool copiesSamples = false;
    std::string formatName;
    std::vector<std::string> files;
};

// Formats GDAL decodes only from their start: a tile from the middle of a large one would cost
// decoding all the rows above it, so the pyramid keeps a tiled copy of such a map's samples.
bool copiesSamples(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        std::string extension = fs::path(file).extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".png" || extension == ".jpg" || extension == ".jpeg" || extension == ".gif") return true;
    }
    return false;
}

const char* baseName(const MapFacts& facts) { return facts.copiesSamples ? SOURCE_COPY : SOURCE_VRT; }

// The overview factors down to the level that one tile holds.
std::vector<int> overviewFactors(int width, int height, int tileQuads) {
    std::vector<int> factors;
    for (int factor = 1; (std::max(width, height) + factor - 1) / factor - 1 > tileQuads; factor *= 2) {
        factors.push_back(2 * factor);
    }
    return factors;
}

// The names and sizes of the pyramid's own files in `folder`, as they are now: kept with the map's
// identity, so that a file removed or cut off since the build is seen.
std::string contentsOf(const fs::path& folder, const MapFacts& facts, int tileQuads) {
    const std::string base = baseName(facts);
    std::vector<std::string> names{base};
    if (std::max(facts.width, facts.height) - 1 > tileQuads) names.push_back(base + ".ovr");
    std::ostringstream text;
    for (const std::string& name : names) {
        std::error_code error;
        const uintmax_t bytes = fs::file_size(folder / name, error);
        text << "pyramid " << name << " " << (error ? "missing" : std::to_string(bytes) + " bytes") << "\n";
    }
    return text.str();
}

// Whether the pyramid in `folder` is of the map as it is now, with all its files as they were built
// (a user may have removed some, a full disk cut one off).
bool isWhole(const fs::path& folder, const MapFacts& facts, const std::string& identity, int tileQuads) {
    return readText(folder / IDENTITY) == identity + contentsOf(folder, facts, tileQuads);
}

// Bytes the pyramid's files take: its overviews, and the copy of the map's samples when it keeps one,
// all in whole blocks.
double pyramidBytes(const MapFacts& facts, const std::vector<int>& factors) {
    const auto levelBytes = [&](int factor) {
        const auto blocked = [](int samples) { return double((samples + BLOCK_SIDE - 1) / BLOCK_SIDE) * BLOCK_SIDE; };
        return blocked((facts.width + factor - 1) / factor) * blocked((facts.height + factor - 1) / factor) *
               facts.sampleBytes;
    };
    double bytes = facts.copiesSamples ? levelBytes(1) : 0.0;
    for (const int factor : factors) bytes += levelBytes(factor);
    return bytes;
}

std::string bytesText(double bytes) {
    const char* const units[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    size_t unit = 0;
    for (; bytes >= 1024.0 && unit + 1 < std::size(units); ++unit) bytes /= 1024.0;
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

// Whether the cache folder has room for a pyramid of `bytes`; false with one line saying how much it
// needs and how much is free otherwise.
bool hasRoom(const std::string& mapPath, const fs::path& cacheFolder, double bytes, std::string& message) {
    struct statvfs space {};
    if (::statvfs(cacheFolder.c_str(), &space) != 0) return true;  // the build itself reports what is wrong
    const double free = double(space.f_bavail) * double(space.f_frsize);
    if (bytes <= free) return true;
    message = "Not enough free space for the pyramid of " + mapPath + " in " + cacheFolder.string() + ": it needs " +
              bytesText(bytes) + " and " + bytesText(free) + " are free";
    return false;
}

// Builds the pyramid into a folder of this process's own, then puts it in place of `folder`.
bool buildPyramid(const std::string& mapPath, const MapFacts& facts, GDALDatasetH map, const fs::path& folder,
                  const std::string& identity, int tileQuads, const PyramidProgress& progress, SeenBounds& seen,
                  std::string& message) {
    const BlockCacheForBuild blockCache;
    BuildProgress done(progress);
    const uint64_t samples = uint64_t(facts.width) * uint64_t(facts.height);
    const std::vector<int> factors = overviewFactors(facts.width, facts.height, tileQuads);
    // The map's samples are read once to fill the levels, and once before to copy them where it is copied.
    if (facts.copiesSamples) done.plan(samples);
    if (!factors.empty()) done.plan(samples);
    if (!hasRoom(mapPath, folder.parent_path(), pyramidBytes(facts, factors), message)) return false;
    const std::string pid = std::to_string(::getpid());
    const fs::path partial = folder.string() + PARTIAL + pid;
    std::error_code error;
    fs::remove_all(partial, error);
    // Marked before it exists, so that a signal at any moment of the build removes it.
    const UnfinishedFolder unfinished(partial.string(), message);
    if (!unfinished.isMarked() || !fs::create_directory(partial, error)) {
        if (unfinished.isMarked()) message = error.message();
        message = "Cannot write the pyramid of " + mapPath + " in " + partial.string() + ": " + message;
        return false;
    }
    const fs::path base = partial / baseName(facts);
    bool built = (facts.isRaw ? writeRawVrt(mapPath, facts.width, base, message)
                              : writeBase(mapPath, map, facts.copiesSamples, base, done, samples, message)) &&
                 buildLevels(base, factors, done, seen, message) &&
                 replaceFile((partial / IDENTITY).string(), identity + contentsOf(partial, facts, tileQuads), message);
    if (!built && done.wasStopped()) message = "Building the pyramid of " + mapPath + " was stopped";
    // What else was kept of the map beside the pyramid stays with it; each is checked against the
    // map when it is read.
    if (built) {
        const std::set<std::string> own{IDENTITY, BOUNDS, SOURCE_VRT, SOURCE_COPY, std::string(SOURCE_VRT) + ".ovr",
                                        std::string(SOURCE_COPY) + ".ovr"};
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
            const fs::path name = entry.path().filename();
            if (own.count(name.string()) == 0) fs::rename(entry.path(), partial / name, error);
        }
        error.clear();
    }
    // A pyramid already there is moved aside first: a folder cannot be renamed over another.
    const fs::path stale = folder.string() + STALE + pid;
    if (built && fs::exists(folder, error)) fs::rename(folder, stale, error);
    if (built && !error) fs::rename(partial, folder, error);
    if (built && error) {
        message = "Cannot put the pyramid of " + mapPath + " in " + folder.string() + ": " + error.message();
        built = false;
    }
    if (progress) progress(built ? 1.0 : PYRAMID_BUILD_FAILED);
    fs::remove_all(built ? stale : partial, error);
    return built;
}

// Whether a pyramid's levels go down to one tile, as built; GDAL drops overviews it cannot read.
bool reachesOneTile(const std::vector<TileLevel>& levels, std::string& message) {
    const TileLevel& coarsest = levels.back();
    if (coarsest.columns == 1 && coarsest.rows == 1) return true;
    message = "its levels stop at " + std::to_string(coarsest.width) + " x " + std::to_string(coarsest.height) +
              " samples";
    return false;
}

// Whether the pyramid's base opens with all its levels and its coarsest reads: what a damaged pyramid
// fails first.
bool readsBack(const fs::path& base, int tileQuads, std::string& message) {
    std::unique_ptr<RasterSource> raster = openRaster(base.string(), message);
    if (!raster) return false;
    const std::vector<TileLevel> levels = tileLevelsOf(raster->info(), tileQuads);
    if (!reachesOneTile(levels, message)) return false;
    const TileLevel& coarsest = levels.back();
    std::vector<double> samples(size_t(coarsest.width) * size_t(coarsest.height));
    return raster->readWindow(1, static_cast<int>(levels.size()) - 1,
                              RasterWindow{0, 0, coarsest.width, coarsest.height}, samples.data(), message);
}

}  // namespace

std::string pyramidCacheFolder() {
    // The XDG base directory rules ignore a relative path.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return (fs::path(cache) / "kelta").string();
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return (fs::path(home) / ".cache" / "kelta").string();
    return "";
}

PyramidProgress pyramidProgressBar(const std::string& program, const std::string& mapName, std::FILE* out) {
    auto line = std::make_shared<ProgressLine>(out);
    return [=](double done) {
        if (done == PYRAMID_BUILD_FAILED) {
            line->end();
            return true;
        }
        const int percent = static_cast<int>(std::clamp(done, 0.0, 1.0) * 100.0);
        line->show(program + ": building the pyramid of " + mapName + ": " + std::to_string(percent) + "%");
        if (done >= 1.0) line->end();
        return true;
    };
}

std::string mapPathHash(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(path, error), error);
    return hashName(absolute.string());
}

std::string pyramidFolder(const std::string& cacheFolder, const std::string& path) {
    return (fs::path(cacheFolder) / mapPathHash(path)).string();
}

namespace {

// Bounds from a file's exact statistics, which are of its stored values: a palette's reds or a
// negative scale do not keep their order.
std::optional<HeightBounds> statisticsBounds(const RasterInfo& info, const HeightRule& rule) {
    if (!info.statistics || !info.paletteReds.empty()) return std::nullopt;
    const double a = rule.heightOf(info.statistics->first), b = rule.heightOf(info.statistics->second);
    if (std::isnan(a) || std::isnan(b)) return std::nullopt;
    return HeightBounds{std::min(a, b), std::max(a, b)};
}

// Whether the map's lowest and highest heights are of use beyond what its coarsest level tells:
// they are an elevation map's, and they spread the values of image maps of other sample types than
// 8- and 16-bit ones, whose values are their heights as they are.
bool boundsMatter(const RasterInfo& info) {
    return info.grid.geoTransform || (info.sampleType != SampleType::UInt8 && info.sampleType != SampleType::UInt16);
}

HeightRule ruleBeforeSea(const RasterInfo& info, const ElevationOptions& options) {
    HeightRule rule = HeightRule::of(info, options);
    rule.seaLevel.reset();
    return rule;
}

}  // namespace

std::unique_ptr<TileSource> openTileSource(HeightMapFile& file, const std::string& cacheFolder,
                                           const PyramidProgress& progress, std::string& message, int tileQuads) {
    const std::string& path = file.path;
    const ElevationOptions& options = file.options;
    // The map's own raster when GDAL opened it; KELTA's own images are opened through GDAL here, for
    // their tiles, and raw samples through a VRT of them.
    std::unique_ptr<GdalRaster> raster = file.takeRaster();
    if (!raster && !hasRawMapName(path)) {
        GdalDataset dataset = openGdalDataset(path, message);
        if (!dataset) return nullptr;
        raster = std::make_unique<GdalRaster>(std::move(dataset));
    }
    if (raster && raster->info().bandCount < 1) {
        message = "File holds no raster band";
        return nullptr;
    }
    if (isGdalVirtualPath(path)) {
        // Whether the map streams is told by its header and its overviews' sizes alone, before any
        // sample is read; its overviews are not checked (that would cost requests), so each level is
        // taken as a surface of its own.
        const std::vector<TileLevel> levels = tileLevelsOf(raster->info(), tileQuads);
        if (std::max(levels.back().columns, levels.back().rows) > MOST_ROOT_TILES) {
            message = "Map " + path + " has no overviews down to a few tiles, and a pyramid is only built for local "
                      "files: make it a cloud-optimised GeoTIFF";
            return nullptr;
        }
        TileSourceFacts facts{"its own overviews", "", levels.size() == 1, std::nullopt};
        facts.bounds = statisticsBounds(raster->info(), ruleBeforeSea(raster->info(), options));
        return openGdalTileSource(std::move(raster), path, options, facts, message, tileQuads);
    }
    std::error_code error;
    const std::string absolute = fs::weakly_canonical(fs::absolute(path, error), error).string();
    MapFacts facts;
    facts.isRaw = !raster;
    SeenBounds seen;
    if (facts.isRaw) {
        seen.wanted = false;
        facts.width = file.width;
        facts.height = file.height;
        facts.files.push_back(absolute);
    } else {
        const RasterInfo& info = raster->info();
        const std::vector<TileLevel> levels = tileLevelsOf(info, tileQuads);
        const int rootTiles = std::max(levels.back().columns, levels.back().rows);
        const HeightRule rule = ruleBeforeSea(info, options);
        if (rootTiles == 1 && levels.size() == 1) {
            return openGdalTileSource(std::move(raster), absolute, options,
                                      TileSourceFacts{"the map itself", "", true, std::nullopt}, message, tileQuads);
        }
        bool decimate = false;
        if (levels.size() > 1 && rootTiles <= MOST_ROOT_TILES && !overviewsDecimate(*raster, levels, decimate, message)) {
            message = "Cannot read " + path + ": " + message;
            return nullptr;
        }
        facts.files = gdalFilesOf(raster->handle());
        if (decimate) {
            TileSourceFacts own{"its own overviews", "", true, statisticsBounds(info, rule)};
            std::string identity;
            if (!own.bounds && boundsMatter(info) && !cacheFolder.empty() && identityOf(absolute, facts.files, quadsText(tileQuads), identity, message)) {
                const fs::path kept = fs::path(pyramidFolder(cacheFolder, absolute)) / BOUNDS;
                own.bounds = keptBounds(kept, identity);
                HeightBounds measured;
                if (!own.bounds && !measureAndKeepBounds(*raster, rule, kept, identity, measured, message)) return nullptr;
                if (!own.bounds) own.bounds = measured;
            }
            return openGdalTileSource(std::move(raster), absolute, options, own, message, tileQuads);
        }
        facts.width = info.grid.width;
        facts.height = info.grid.height;
        facts.formatName = info.formatName;
        facts.sampleBytes = GDALGetDataTypeSizeBytes(GDALGetRasterDataType(GDALGetRasterBand(raster->handle(), 1)));
        facts.copiesSamples = copiesSamples(facts.files);
        seen.rule = rule;
        seen.signedBytes = info.sampleType == SampleType::Int8;
        seen.wanted = boundsMatter(info);
    }
    if (cacheFolder.empty()) {
        message = "No folder for the pyramid of " + path + ": neither XDG_CACHE_HOME nor HOME is set";
        return nullptr;
    }
    fs::create_directories(cacheFolder, error);
    if (error) {
        message = "Cannot create the pyramid cache folder " + cacheFolder + ": " + error.message();
        return nullptr;
    }
    removeLeftovers(cacheFolder);
    std::string identity;
    if (!identityOf(absolute, facts.files, quadsText(tileQuads), identity, message)) return nullptr;
    const fs::path folder = pyramidFolder(cacheFolder, absolute);
    const fs::path base = folder / baseName(facts);
    bool built = false;
    for (bool damaged = false;; damaged = true) {
        if (damaged || !isWhole(folder, facts, identity, tileQuads)) {
            built = buildPyramid(absolute, facts, raster ? raster->handle() : nullptr, folder, identity, tileQuads, progress, seen, message);
            if (!built) return nullptr;
        }
        TileSourceFacts levels{folder.string(), facts.formatName, true, keptBounds(folder / BOUNDS, identity)};
        if (!levels.bounds && built && seen.sawAll) {
            levels.bounds = seen.bounds;
            std::string ignored;
            replaceFile((folder / BOUNDS).string(), boundsText(identity, seen.bounds), ignored);
        }
        std::unique_ptr<RasterSource> pyramid = openRaster(base.string(), message);
        if (pyramid && !levels.bounds && seen.wanted) {
            HeightBounds measured;
            if (!measureAndKeepBounds(*pyramid, seen.rule, folder / BOUNDS, identity, measured, message)) return nullptr;
            levels.bounds = measured;
        }
        std::unique_ptr<TileSource> source =
            pyramid ? openGdalTileSource(std::move(pyramid), base.string(), options, levels, message, tileQuads) : nullptr;
        std::string reason;
        // A pyramid that reads whole while the source fails is not at fault: the map or the options
        // are, and the message says so.
        if (source ? reachesOneTile(source->map().levels, reason) : readsBack(base, tileQuads, reason)) {
            if (source && built) source->markPyramidBuilt();
            return source;
        }
        // One damaged since it was built (a file cut off, garbled) is built again, once.
        if (built) {
            message = "Cannot read the pyramid of " + path + " in " + folder.string() + ": " + reason;
            return nullptr;
        }
    }
}

namespace {

// Where the facts named `name` of the map in `file` are kept, and the identity they are kept under.
bool keptFactsPlace(const std::string& cacheFolder, const HeightMapFile& file, const std::string& name,
                    const std::string& key, fs::path& place, std::string& identity) {
    if (cacheFolder.empty() || isGdalVirtualPath(file.path)) return false;
    std::error_code error;
    const std::string absolute = fs::weakly_canonical(fs::absolute(file.path, error), error).string();
    std::string message;
    if (!identityOf(absolute, file.files(), name + " " + key, identity, message)) return false;
    place = fs::path(pyramidFolder(cacheFolder, absolute)) / name;
    return true;
}

}  // namespace

std::optional<std::string> keptMapFacts(const std::string& cacheFolder, const HeightMapFile& file,
                                        const std::string& name, const std::string& key) {
    fs::path place;
    std::string identity;
    if (!keptFactsPlace(cacheFolder, file, name, key, place, identity)) return std::nullopt;
    const std::string text = readText(place);
    if (text.size() < identity.size() || text.compare(0, identity.size(), identity) != 0) return std::nullopt;
    return text.substr(identity.size());
}

void keepMapFacts(const std::string& cacheFolder, const HeightMapFile& file, const std::string& name,
                  const std::string& key, const std::string& bytes) {
    fs::path place;
    std::string identity;
    if (!keptFactsPlace(cacheFolder, file, name, key, place, identity)) return;
    std::error_code error;
    fs::create_directories(place.parent_path(), error);
    std::string ignored;
    if (!error) replaceFile(place.string(), identity + bytes, ignored);
}
