// kelta-bench's command line: how many frames, which window sizes and height maps, where the
// JSON goes.
#pragma once

#include <string>
#include <vector>

#include "app/TerrainOptions.h"

struct BenchSize {
    int width = 0;
    int height = 0;
};

// One map to run, drawn as one full mesh, with level of detail or streamed from its pyramid.
struct BenchMap {
    std::string path;
    bool levelOfDetail = false;
    bool stream = false;
    bool operator==(const BenchMap& other) const {
        return path == other.path && levelOfDetail == other.levelOfDetail && stream == other.stream;
    }
};

struct BenchOptions {
    int frames = 60;
    int warmup = 10;
    // Empty lists mean the defaults below.
    std::vector<BenchSize> sizes;
    std::vector<BenchMap> maps;
    // What every map's terrain is given; with --lod, or --lod-error, every map is drawn with
    // level of detail; with --stream every map streams.
    TerrainOptions terrain;
    // Instead of the climbing path: frames standing a quarter of the way into the map once every
    // tile has arrived, then as many flying on at the camera's full speed, by the real clock.
    bool flight = false;
    // Every frame with the on-screen panel shown over it, to time what the panel costs.
    bool panel = false;
    // Empty: no JSON; "-": JSON on standard output, the table on standard error.
    std::string jsonPath;
    bool wantsHelp = false;
    bool wantsVersion = false;
};

constexpr BenchSize DEFAULT_BENCH_SIZES[2] = {{800, 600}, {1920, 1080}};
// The program's own map, and a large one made in the data set when it is missing; written as the
// program names its data files.
constexpr const char* DEFAULT_MAP = "Maps\\Lake_512.bmp";
constexpr const char* LARGE_MAP = "Maps\\Lake_4096.bmp";
constexpr int LARGE_MAP_SIZE = 4096;

constexpr int MAX_BENCH_SIDE = 16384;
constexpr int MAX_BENCH_FRAMES = 1000000;

// The --help text, with the default maps as this process finds them.
std::string benchUsage();

// Parses argv[1..]; on a bad or unknown option returns false with one line naming it in `error`.
bool parseBenchOptions(int argc, const char* const* argv, BenchOptions& options, std::string& error);
