// kelta-bench's results: what one map's run measured, its JSON form (which each map's process
// sends back and the merged report keeps), and the text table people read.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tools/bench/BenchOptions.h"
#include "scene/TerrainSurface.h"
#include "tools/bench/BenchStatistics.h"

using Json = nlohmann::ordered_json;

struct BenchDevice {
    std::string vendor;
    std::string renderer;
    std::string version;
    // Bits of the GL timestamp counter; 0 means no GPU times.
    int timestampBits = 0;
};

struct SizeRun {
    BenchSize requested;
    // The size the frames were drawn at, as the window system gave it.
    BenchSize framebuffer;
    // Blur passes the program ran per frame, as its observer was told of them.
    int blurPassCount = 0;
    std::vector<double> cpuFrameMs;
    // Terrain triangles (points in the point modes) of each measured frame.
    std::vector<double> triangles;
    // Empty when the GL has no timestamp counter.
    std::vector<FrameGpuTimes> gpuFrames;
    // What streaming did over the measured frames (a streamed map only).
    StreamCounters stream;
    // With --flight: the frames standing where the flight starts, measured once every tile had arrived (or the
    // wait for them gave up), and what streaming did over them.
    double settleMs = 0;
    bool settled = false;
    std::vector<double> staticCpuFrameMs;
    StreamCounters staticStream;
    // With --flight: each of the flight's poses drawn again once its tiles had all arrived, and how
    // many poses the wait gave up on.
    std::vector<double> settledFlightCpuFrameMs;
    int unsettledFlightPoses = 0;
};

struct MapRun {
    std::string map;   // as given
    std::string path;  // as found
    int gridWidth = 0;
    int gridHeight = 0;
    bool levelOfDetailAsked = false;
    // As drawn: the program falls back to level of detail when the full mesh cannot be built.
    bool levelOfDetail = false;
    float lodErrorPixels = 0.0f;
    // The program's line saying why it fell back; empty when the map was drawn as asked.
    std::string fallbackReason;
    bool streamAsked = false;
    bool streamed = false;
    // Whether the map's pyramid was built during this run's start-up (its "height map load").
    bool pyramidBuilt = false;
    // What streaming did over the whole run, start-up included.
    StreamCounters streamTotals;
    // Resident memory once the first frame is drawn, and the most the process held at once over
    // the whole run; 0 where the system does not say.
    uint64_t residentBytesAfterStartup = 0;
    uint64_t peakResidentBytes = 0;
    std::vector<StartupPhaseLog::Phase> startup;
    std::vector<SizeRun> sizes;
    bool flight = false;
};

// What streaming did between two readings of its counters.
StreamCounters countedBetween(const StreamCounters& before, const StreamCounters& after);

Json deviceJson(const BenchDevice& device);
// Summaries and the samples behind them.
Json mapRunJson(const MapRun& run);
// The whole report: settings, device and the maps' results in the order they ran.
Json reportJson(const Json& device, const BenchOptions& options, const std::vector<Json>& maps);

// The JSON as text (compact for indent -1). Bytes that are not UTF-8, as in a map's file name,
// become U+FFFD instead of failing the run that measured them.
std::string jsonText(const Json& json, int indent = -1);

// The report as an aligned text table: the device, then per map its start-up phases and per
// size the median, 95th percentile and frames per second.
std::string formatTable(const Json& report);
