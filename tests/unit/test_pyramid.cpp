// Tests of the pyramid cache: built once and reused, rebuilt when the map changes, and never left
// half-built by a build that is stopped or killed.
#include "io/AtomicFile.h"
#include "io/Pyramid.h"
#include "io/ProgressLine.h"
#include "tests/GdalTestRasters.h"
#include "tests/OpenTiles.h"
#include "tests/TempFolder.h"

#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int QUADS = 16;

// A 600 x 700 elevation map without overviews, whose samples are all `value` but the first, its
// western edge at `west`; an image map (no place on the ground) unless `placed`.
std::string writeMap(const TempFolder& folder, double value, const std::string& name = "map.tif", double west = 0.0,
                     bool placed = true) {
    gdaltest::Raster raster;
    raster.width = 600;
    raster.height = 700;
    raster.type = GDT_UInt16;
    raster.values.assign(size_t(raster.width) * raster.height, value);
    raster.values[0] = 1.0;
    if (placed) raster.geoTransform = {{west, 1.0, 0.0, 0.0, 0.0, -1.0}};
    const std::string path = folder / name;
    EXPECT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), path, name == "map.png" ? "PNG" : "GTiff"));
    return path;
}

struct Opened {
    std::unique_ptr<TileSource> source;
    std::string message;
    std::vector<double> progress;
};

Opened open(const std::string& path, const std::string& cache, double stopAt = 2.0) {
    Opened opened;
    const PyramidProgress progress = [&](double done) {
        opened.progress.push_back(done);
        return done < stopAt;
    };
    opened.source = openTiles(path, ElevationOptions{false, false, 0.0}, cache, progress, opened.message, QUADS);
    return opened;
}

// What the cache folder holds, by name.
std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A VRT of `sources`, side by side as their geotransforms place them.
std::string writeMosaic(const TempFolder& folder, const std::vector<std::string>& sources) {
    const std::string path = folder / "mosaic.vrt";
    std::vector<const char*> names;
    for (const std::string& source : sources) names.push_back(source.c_str());
    GdalMessages quiet;
    GdalDataset mosaic(
        GDALBuildVRT(path.c_str(), static_cast<int>(names.size()), nullptr, names.data(), nullptr, nullptr));
    EXPECT_TRUE(mosaic) << quiet.reason();
    return path;
}

// The coarsest tile's first sample and the value of the rest.
std::pair<float, float> coarsestSamples(const TileSource& source) {
    Tile tile;
    std::string message;
    EXPECT_TRUE(source.readTile(TileKey{source.levelCount() - 1, 0, 0}, tile, message)) << message;
    return {tile.samples[tileSampleIndex(QUADS, 0, QUADS)], tile.samples[tileSampleIndex(QUADS, 5, 5)]};
}

}  // namespace

TEST(Pyramid, IsBuiltOnceAndReusedUntilTheMapChanges) {
    // A PNG, which GDAL decodes only from its start, has its samples copied into the pyramid too;
    // an image map's build reads only the rows it keeps.
    for (const auto& [name, placed] : {std::pair<std::string, bool>{"map.tif", true}, {"map.png", true},
                                       {"image.tif", false}}) {
        TempFolder folder;
        const std::string cache = folder / "cache";
        const std::string map = writeMap(folder, 7.0, name, 0.0, placed);
        const Opened first = open(map, cache);
        ASSERT_TRUE(first.source) << first.message;
        ASSERT_FALSE(first.progress.empty());
        EXPECT_EQ(first.progress.back(), 1.0);
        EXPECT_TRUE(first.source->map().pyramidBuilt);
        EXPECT_EQ(first.source->levelCount(), 7);  // 700 samples halved down to 11, which one tile holds
        EXPECT_EQ(first.source->map().pyramid, pyramidFolder(cache, map));
        EXPECT_EQ(coarsestSamples(*first.source), std::make_pair(1.0f, 7.0f));
        const bool copied = fs::exists(fs::path(pyramidFolder(cache, map)) / "source.tif");
        EXPECT_EQ(copied, name == "map.png");
        const fs::path overviews = fs::path(pyramidFolder(cache, map)) / (copied ? "source.tif.ovr" : "source.vrt.ovr");
        struct stat built {};
        ASSERT_EQ(::stat(overviews.c_str(), &built), 0);

        const Opened second = open(map, cache);
        ASSERT_TRUE(second.source) << second.message;
        EXPECT_TRUE(second.progress.empty()) << "built again";
        EXPECT_FALSE(second.source->map().pyramidBuilt);
        struct stat reused {};
        ASSERT_EQ(::stat(overviews.c_str(), &reused), 0);
        EXPECT_EQ(reused.st_ino, built.st_ino);
        EXPECT_EQ(reused.st_mtim.tv_nsec, built.st_mtim.tv_nsec);
        // The same map named from its own folder is the same map, not one to build again.
        const fs::path workingFolder = fs::current_path();
        fs::current_path(folder.path);
        const Opened relative = open(name, cache);
        fs::current_path(workingFolder);
        ASSERT_TRUE(relative.source) << relative.message;
        EXPECT_TRUE(relative.progress.empty()) << "built again for a relative name";

        writeMap(folder, 9.0, name, 0.0, placed);
        fs::last_write_time(map, fs::last_write_time(map) + std::chrono::seconds(1));
        const Opened changed = open(map, cache);
        ASSERT_TRUE(changed.source) << changed.message;
        EXPECT_FALSE(changed.progress.empty()) << "not rebuilt";
        EXPECT_TRUE(changed.source->map().pyramidBuilt);
        EXPECT_EQ(coarsestSamples(*changed.source), std::make_pair(1.0f, 9.0f));
        EXPECT_EQ(entries(cache).size(), 1u) << "the replaced pyramid is left behind";

        // Damage a user or a full disk may leave: each is rebuilt, once, and then reused.
        const std::vector<std::pair<const char*, std::function<void()>>> damages = {
            {"overviews removed", [&] { fs::remove(overviews); }},
            {"overviews cut off", [&] { fs::resize_file(overviews, fs::file_size(overviews) / 2); }},
            {"overviews garbled, same size", [&] {
                 const uintmax_t size = fs::file_size(overviews);
                 std::ofstream(overviews, std::ios::binary) << std::string(size, 'x');
             }},
        };
        for (const auto& [damage, inflict] : damages) {
            inflict();
            const Opened healed = open(map, cache);
            ASSERT_TRUE(healed.source) << damage << ": " << healed.message;
            EXPECT_EQ(healed.source->levelCount(), 7) << damage;
            EXPECT_EQ(std::count(healed.progress.begin(), healed.progress.end(), 1.0), 1) << damage << ": built once";
            EXPECT_TRUE(healed.source->map().pyramidBuilt) << damage;
            EXPECT_EQ(coarsestSamples(*healed.source), std::make_pair(1.0f, 9.0f)) << damage;
            EXPECT_TRUE(open(map, cache).progress.empty()) << damage << ": the healed pyramid is not reused";
        }
    }
}

// A build reads the whole map through GDAL's block cache: what it leaves there would stay while the
// map stays open, on top of the tiles the frames keep.
TEST(Pyramid, ABuildHandsBackGdalsBlockCacheWhenItEnds) {
    TempFolder folder;
    gdaltest::Raster raster;
    raster.width = 3000;  // 18 MB of samples, more than the cache keeps for reading tiles
    raster.height = 3000;
    raster.type = GDT_UInt16;
    raster.values.assign(size_t(raster.width) * raster.height, 7.0);
    raster.geoTransform = {{0.0, 1.0, 0.0, 0.0, 0.0, -1.0}};
    const std::string map = folder / "large.tif";
    ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), map, "GTiff"));
    raster.values = {};
    GIntBig boundWhileBuilding = 0;
    std::string message;
    const std::unique_ptr<TileSource> source =
        openTiles(map, ElevationOptions{false, false, 0.0}, folder / "cache",
                  [&](double) {
                      boundWhileBuilding = std::max(boundWhileBuilding, GDALGetCacheMax64());
                      return true;
                  },
                  message, QUADS);
    ASSERT_TRUE(source) << message;
    ASSERT_TRUE(source->map().pyramidBuilt);
    EXPECT_GT(boundWhileBuilding, GDALGetCacheMax64()) << "the build wrote its levels through the reading bound";
    EXPECT_LE(GDALGetCacheUsed64(), GDALGetCacheMax64());
    EXPECT_LT(GDALGetCacheMax64(), GIntBig(raster.width) * raster.height * 2) << "the build's bound stayed";
}

TEST(Pyramid, EachLevelIsEveryOtherSampleOfTheMapAcrossTheBuildsReadsAndWrites) {
    // Maps of more than a build reads at once (4 MB) whose levels are taller than a row of their
    // blocks (128), so that rows lost, repeated or moved where a read or a write ends are seen:
    // raw 16-bit samples, read by the rows the first level keeps, and an elevation map of floats,
    // read whole. The samples differ from one row to the next at every column.
    struct Case {
        std::string name;
        int width, height;
        double step;  // between the samples' values, for the heights to stay those of a terrain
    };
    for (const Case& c : {Case{"map.r16", 2100, 2100, 1.0}, Case{"map.tif", 1100, 1001, 0.125}}) {
        TempFolder folder;
        std::vector<double> values(size_t(c.width) * size_t(c.height));
        for (size_t k = 0; k < values.size(); ++k) values[k] = double(k % 65521) * c.step;
        std::string map = folder / c.name;
        if (c.name == "map.r16") {
            std::vector<uint8_t> bytes;
            for (const double value : values) {
                bytes.push_back(uint8_t(int(value) & 0xff));
                bytes.push_back(uint8_t(int(value) >> 8));
            }
            folder.write(c.name, bytes);
        } else {
            gdaltest::Raster raster;
            raster.width = c.width;
            raster.height = c.height;
            raster.values = values;
            raster.geoTransform = {{0.0, 1.0, 0.0, 0.0, 0.0, -1.0}};
            ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), map));
        }
        const std::string cache = folder / "cache";
        const Opened opened = open(map, cache);
        ASSERT_TRUE(opened.source) << c.name << ": " << opened.message;
        const std::string base = (fs::path(pyramidFolder(cache, map)) / "source.vrt").string();
        GdalDataset pyramid(GDALOpen(base.c_str(), GA_ReadOnly));
        ASSERT_TRUE(pyramid) << c.name;
        GDALRasterBandH band = GDALGetRasterBand(pyramid.get(), 1);
        ASSERT_EQ(GDALGetOverviewCount(band), opened.source->levelCount() - 1) << c.name;
        for (int level = 1; level < opened.source->levelCount(); ++level) {
            GDALRasterBandH overview = GDALGetOverview(band, level - 1);
            const int width = GDALGetRasterBandXSize(overview), height = GDALGetRasterBandYSize(overview);
            std::vector<double> samples(size_t(width) * size_t(height));
            ASSERT_EQ(GDALRasterIO(overview, GF_Read, 0, 0, width, height, samples.data(), width, height, GDT_Float64,
                                   0, 0),
                      CE_None);
            for (int row = 0; row < height; ++row) {
                for (int column = 0; column < width; ++column) {
                    ASSERT_EQ(samples[size_t(row) * width + column],
                              values[size_t(row << level) * c.width + size_t(column << level)])
                        << c.name << " level " << level << " row " << row << " column " << column;
                }
            }
        }
    }
}

TEST(Pyramid, ABuildSeesTheMapsLowestAndHighestHeightWhateverItsSamplesAndVoids) {
    // A 40 x 40 map (three levels of 16 quads) of heights 3 .. 42 by column, but for voids at
    // samples that would otherwise be the lowest or highest.
    struct Case {
        const char* label;
        GDALDataType type;
        std::optional<double> noData;
        double offset;  // added to every height
        std::vector<std::pair<size_t, double>> placed;
        double lowest, highest;
    };
    const double nan = std::nan("");
    const std::vector<Case> cases = {
        {"16-bit, no-data 0 below the rest", GDT_UInt16, 0.0, 0.0, {{0, 0.0}}, 3.0, 42.0},
        {"16-bit, no-data 65535 above the rest", GDT_UInt16, 65535.0, 0.0, {{5, 65535.0}}, 3.0, 42.0},
        {"16-bit without no-data", GDT_UInt16, std::nullopt, 0.0, {{5, 1.0}}, 1.0, 42.0},
        {"signed 16-bit below zero, no-data the lowest", GDT_Int16, -32768.0, -100.0, {{7, -32768.0}}, -97.0, -58.0},
        {"signed 16-bit, no-data the highest", GDT_Int16, 32767.0, -100.0, {{7, 32767.0}}, -97.0, -58.0},
        {"signed 16-bit, no-data not a whole number", GDT_Int16, 0.5, -100.0, {{7, -120.0}}, -120.0, -58.0},
        {"32-bit, no-data outside the samples' range", GDT_Int32, 1e12, 0.0, {{9, -7.0}}, -7.0, 42.0},
        {"bytes, no-data 255", GDT_Byte, 255.0, 0.0, {{3, 255.0}}, 3.0, 42.0},
        {"floats, NaN and no-data", GDT_Float32, -9999.0, 0.5, {{1, nan}, {2, -9999.0}}, 3.5, 42.5},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        gdaltest::Raster raster;
        raster.width = raster.height = 40;
        raster.type = c.type;
        raster.noData = c.noData;
        raster.geoTransform = {{0.0, 10.0, 0.0, 0.0, 0.0, -10.0}};
        for (int row = 0; row < 40; ++row) {
            for (int column = 0; column < 40; ++column) raster.values.push_back(3.0 + column + c.offset);
        }
        for (const auto& [at, value] : c.placed) raster.values[at] = value;
        const std::string map = folder / "map.tif";
        ASSERT_TRUE(gdaltest::writeFile(gdaltest::inMemory(raster).get(), map)) << c.label;
        const Opened opened = open(map, folder / "cache");
        ASSERT_TRUE(opened.source) << c.label << ": " << opened.message;
        EXPECT_TRUE(opened.source->map().pyramidBuilt) << c.label;
        ASSERT_TRUE(opened.source->map().elevation) << c.label;
        EXPECT_EQ(opened.source->map().elevation->minimumMetres, c.lowest) << c.label;
        EXPECT_EQ(opened.source->map().elevation->maximumMetres, c.highest) << c.label;
    }
}

TEST(Pyramid, FactsKeptOfAMapAreItsOwnUntilItOrWhatTheyDependOnChanges) {
    TempFolder folder;
    const std::string cache = folder / "cache";
    const std::string map = writeMap(folder, 7.0);
    const auto opened = [](const std::string& path) {
        std::string message;
        std::unique_ptr<HeightMapFile> file = HeightMapFile::open(path, ElevationOptions(), message);
        EXPECT_TRUE(file) << message;
        return file;
    };
    const std::string bytes("tree\0with a zero", 16);
    keepMapFacts(cache, *opened(map), "tree", "key 1", bytes);
    EXPECT_EQ(keptMapFacts(cache, *opened(map), "tree", "key 1"), bytes);
    EXPECT_EQ(keptMapFacts(cache, *opened(map), "tree", "key 2"), std::nullopt) << "kept under another key";
    EXPECT_EQ(keptMapFacts(cache, *opened(map), "errors", "key 1"), std::nullopt) << "kept under another name";
    EXPECT_EQ(keptMapFacts("", *opened(map), "tree", "key 1"), std::nullopt) << "no cache folder";
    // Building the map's pyramid keeps its facts beside it.
    ASSERT_TRUE(open(map, cache).source);
    EXPECT_EQ(keptMapFacts(cache, *opened(map), "tree", "key 1"), bytes);

    writeMap(folder, 9.0);
    fs::last_write_time(map, fs::last_write_time(map) + std::chrono::seconds(1));
    EXPECT_EQ(keptMapFacts(cache, *opened(map), "tree", "key 1"), std::nullopt) << "the map changed";
}

TEST(Pyramid, AMosaicIsRebuiltWhenOneOfItsTilesChanges) {
    TempFolder folder;
    const std::string cache = folder / "cache";
    const std::string east = writeMap(folder, 7.0, "east.tif", 600.0);
    const std::string mosaic = writeMosaic(folder, {writeMap(folder, 7.0, "west.tif"), east});
    ASSERT_TRUE(open(mosaic, cache).source);
    writeMap(folder, 9.0, "east.tif", 600.0);
    fs::last_write_time(east, fs::last_write_time(east) + std::chrono::seconds(1));
    const Opened changed = open(mosaic, cache);
    ASSERT_TRUE(changed.source) << changed.message;
    EXPECT_TRUE(changed.source->map().pyramidBuilt) << "a changed tile is not seen";
    Tile tile;
    std::string message;
    const int coarsest = changed.source->levelCount() - 1;
    ASSERT_TRUE(changed.source->readTile(TileKey{coarsest, 0, 0}, tile, message)) << message;
    const int eastEdge = changed.source->level(coarsest).width - 1;
    EXPECT_EQ(tile.samples[tileSampleIndex(QUADS, eastEdge, QUADS)], 9.0f);
}

TEST(Pyramid, AnInterruptedBuildLeavesNothingAndTheNextBuildsAWholeOne) {
    // Stopped by its progress, killed (SIGKILL: found behind by the next run), or ended by SIGTERM,
    // whose handler removes the partial folder at once.
    for (const int signal : {0, SIGKILL, SIGTERM}) {
        TempFolder folder;
        const std::string cache = folder / "cache";
        const std::string map = writeMap(folder, 7.0);
        if (signal != 0) {
            // A run killed in the middle of its build, which a later run finds behind it.
            int pipeEnds[2];
            ASSERT_EQ(pipe(pipeEnds), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                removeUnfinishedFilesOnEndingSignals();
                std::string message;
                openTiles(map, ElevationOptions(), cache, [&](double) {
                    if (write(pipeEnds[1], "x", 1) != 1) _exit(1);
                    for (;;) pause();
                    return true;
                }, message, QUADS);
                _exit(1);
            }
            char mark = 0;
            ASSERT_EQ(read(pipeEnds[0], &mark, 1), 1);
            const std::string partial = pyramidFolder(cache, map) + ".partial-" + std::to_string(child);
            EXPECT_TRUE(fs::exists(partial));
            kill(child, signal);
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "ended otherwise: " << status;
            EXPECT_EQ(fs::exists(partial), signal == SIGKILL) << "signal " << signal;
            close(pipeEnds[0]);
            close(pipeEnds[1]);
        } else {
            const Opened stopped = open(map, cache, 0.3);
            EXPECT_FALSE(stopped.source);
            EXPECT_EQ(stopped.message, "Building the pyramid of " + map + " was stopped");
            EXPECT_EQ(std::count(stopped.progress.begin(), stopped.progress.end(), 1.0), 0) << "claimed done";
            EXPECT_EQ(stopped.progress.back(), PYRAMID_BUILD_FAILED);
            EXPECT_TRUE(entries(cache).empty());
        }
        const Opened next = open(map, cache);
        ASSERT_TRUE(next.source) << next.message;
        EXPECT_FALSE(next.progress.empty());
        EXPECT_EQ(coarsestSamples(*next.source), std::make_pair(1.0f, 7.0f));
        EXPECT_EQ(entries(cache), std::vector<std::string>{fs::path(pyramidFolder(cache, map)).filename().string()});
    }
}

TEST(Pyramid, ACacheFolderThatCannotBeMadeIsNamed) {
    TempFolder folder;
    const std::string map = writeMap(folder, 7.0);
    const Opened opened = open(map, map + "/cache");
    EXPECT_FALSE(opened.source);
    EXPECT_EQ(opened.message.rfind("Cannot create the pyramid cache folder " + map + "/cache: ", 0), 0u) << opened.message;
}

TEST(Pyramid, TheProgressLineShowsAHundredPercentOnlyForABuildThatSucceeded) {
    for (const bool succeeded : {true, false}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        const PyramidProgress bar = pyramidProgressBar("kelta", "map.tif", out);
        bar(0.5);
        bar(0.999);
        bar(succeeded ? 1.0 : PYRAMID_BUILD_FAILED);
        std::rewind(out);
        char text[256] = {};
        text[std::fread(text, 1, sizeof text - 1, out)] = '\0';
        std::fclose(out);
        const std::string line = "\rkelta: building the pyramid of map.tif: ";
        EXPECT_EQ(text, line + "50%" + line + "99%" + (succeeded ? line + "100%\n" : "\n"));
    }
}

// A video's time left shrinks as it goes: what the longer line showed must not stay behind.
TEST(ProgressLine, AShorterLineCoversTheLongerOneAndTheSameLineIsNotWrittenAgain) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ProgressLine line(out);
    line.show("frame 9, 1:05 left");
    line.show("frame 9, 1:05 left");
    line.show("frame 10, 59 s");
    line.end();
    line.end();
    std::rewind(out);
    char text[256] = {};
    text[std::fread(text, 1, sizeof text - 1, out)] = '\0';
    std::fclose(out);
    EXPECT_EQ(std::string(text), "\rframe 9, 1:05 left\rframe 10, 59 s    \n");
}

TEST(Pyramid, ABuildLargerThanTheFreeSpaceIsRefusedBeforeItStarts) {
    TempFolder folder;
    const std::string cache = folder / "cache";
    // A million samples a side of one small file: no disk holds its 621 GB of overviews.
    const std::string map = writeMosaic(folder, {writeMap(folder, 7.0)});
    std::string xml;
    {
        std::ifstream file(map);
        xml.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    xml = std::regex_replace(xml, std::regex("rasterXSize=\"600\" rasterYSize=\"700\""),
                             "rasterXSize=\"1000000\" rasterYSize=\"1000000\"");
    std::ofstream(map) << xml;
    const Opened refused = open(map, cache);
    EXPECT_FALSE(refused.source);
    const std::regex expected("Not enough free space for the pyramid of " + map + " in " + cache +
                              ": it needs 621\\.2 GB and [0-9.]+ (bytes|[KMGT]B) are free");
    EXPECT_TRUE(std::regex_match(refused.message, expected)) << refused.message;
    EXPECT_TRUE(refused.progress.empty()) << "a build was started";
    EXPECT_TRUE(entries(cache).empty());
}

TEST(Pyramid, AMapMadeOfAPipeOrADeviceIsRefusedBeforeItIsRead) {
    TempFolder folder;
    const std::string pipe = folder / "pipe.tif";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // Nobody writes to the pipe: reading it would wait for ever.
    for (const std::string& source : {pipe, std::string("/dev/zero")}) {
        const std::string real = writeMap(folder, 7.0);
        const std::string mosaic = writeMosaic(folder, {real});
        std::string xml;
        {
            std::ifstream file(mosaic);
            xml.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        xml = std::regex_replace(xml, std::regex("<SourceFilename relativeToVRT=\"[01]\">[^<]*"),
                                 "<SourceFilename relativeToVRT=\"0\">" + source);
        std::ofstream(mosaic) << xml;
        const Opened streamed = open(mosaic, folder / "cache");
        EXPECT_FALSE(streamed.source);
        EXPECT_EQ(streamed.message, "Map source " + source + " is not a regular file");
        std::string message;
        EXPECT_FALSE(openRaster(mosaic, message));
        EXPECT_EQ(message, "Map source " + source + " is not a regular file");
    }
    std::string message;
    EXPECT_FALSE(openRaster(pipe, message));
    EXPECT_EQ(message, pipe + " is not a regular file");
}
