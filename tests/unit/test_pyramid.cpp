// Tests of the pyramid cache: built once and reused, rebuilt when the map changes, and never left
// half-built by a build that is stopped or killed.
#include "io/Pyramid.h"
#include "tests/GdalTestRasters.h"
#include "tests/TempFolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int QUADS = 16;

// A 600 x 700 elevation map without overviews, whose samples are all `value` but the first.
std::string writeMap(const TempFolder& folder, double value, const std::string& name = "map.tif") {
    gdaltest::Raster raster;
    raster.width = 600;
    raster.height = 700;
    raster.type = GDT_UInt16;
    raster.values.assign(size_t(raster.width) * raster.height, value);
    raster.values[0] = 1.0;
    raster.geoTransform = {{0.0, 1.0, 0.0, 0.0, 0.0, -1.0}};
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
    opened.source = openTileSource(path, ElevationOptions{false, false, 0.0}, cache, progress, opened.message, QUADS);
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

// The coarsest tile's first sample and the value of the rest.
std::pair<float, float> coarsestSamples(const TileSource& source) {
    Tile tile;
    std::string message;
    EXPECT_TRUE(source.readTile(TileKey{source.levelCount() - 1, 0, 0}, tile, message)) << message;
    return {tile.samples[tileSampleIndex(QUADS, 0, QUADS)], tile.samples[tileSampleIndex(QUADS, 5, 5)]};
}

}  // namespace

TEST(Pyramid, IsBuiltOnceAndReusedUntilTheMapChanges) {
    // A PNG, which GDAL decodes only from its start, has its samples copied into the pyramid too.
    for (const std::string name : {"map.tif", "map.png"}) {
        TempFolder folder;
        const std::string cache = folder / "cache";
        const std::string map = writeMap(folder, 7.0, name);
        const Opened first = open(map, cache);
        ASSERT_TRUE(first.source) << first.message;
        ASSERT_FALSE(first.progress.empty());
        EXPECT_EQ(first.progress.back(), 1.0);
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
        struct stat reused {};
        ASSERT_EQ(::stat(overviews.c_str(), &reused), 0);
        EXPECT_EQ(reused.st_ino, built.st_ino);
        EXPECT_EQ(reused.st_mtim.tv_nsec, built.st_mtim.tv_nsec);

        writeMap(folder, 9.0, name);
        fs::last_write_time(map, fs::last_write_time(map) + std::chrono::seconds(1));
        const Opened changed = open(map, cache);
        ASSERT_TRUE(changed.source) << changed.message;
        EXPECT_FALSE(changed.progress.empty()) << "not rebuilt";
        EXPECT_EQ(coarsestSamples(*changed.source), std::make_pair(1.0f, 9.0f));
        EXPECT_EQ(entries(cache).size(), 1u) << "the replaced pyramid is left behind";

        fs::remove(overviews);
        const Opened damaged = open(map, cache);
        ASSERT_TRUE(damaged.source) << damaged.message;
        EXPECT_EQ(damaged.source->levelCount(), 7) << "a pyramid missing its overviews is taken as whole";
    }
}

TEST(Pyramid, AnInterruptedBuildLeavesNothingAndTheNextBuildsAWholeOne) {
    for (const bool killed : {false, true}) {
        TempFolder folder;
        const std::string cache = folder / "cache";
        const std::string map = writeMap(folder, 7.0);
        if (killed) {
            // A run killed in the middle of its build, which a later run finds behind it.
            int pipeEnds[2];
            ASSERT_EQ(pipe(pipeEnds), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                std::string message;
                openTileSource(map, ElevationOptions(), cache, [&](double) {
                    if (write(pipeEnds[1], "x", 1) != 1) _exit(1);
                    for (;;) pause();
                    return true;
                }, message, QUADS);
                _exit(1);
            }
            char mark = 0;
            ASSERT_EQ(read(pipeEnds[0], &mark, 1), 1);
            EXPECT_TRUE(fs::exists(pyramidFolder(cache, map) + ".partial-" + std::to_string(child)));
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
        } else {
            const Opened stopped = open(map, cache, 0.3);
            EXPECT_FALSE(stopped.source);
            EXPECT_EQ(stopped.message, "Building the pyramid of " + map + " was stopped");
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
