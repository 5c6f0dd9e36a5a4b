// kelta-bench's options, its JSON and table, and its child processes, without a GL context.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <iostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "tools/bench/BenchOptions.h"
#include "tools/bench/BenchReport.h"
#include "tools/bench/ChildProcess.h"

namespace {

bool parse(std::initializer_list<const char*> arguments, BenchOptions& options, std::string& error) {
    std::vector<const char*> argv{"kelta-bench"};
    argv.insert(argv.end(), arguments);
    return parseBenchOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

std::string errorOf(std::initializer_list<const char*> arguments) {
    BenchOptions options;
    std::string error;
    EXPECT_FALSE(parse(arguments, options, error)) << "accepted";
    return error;
}

// A map run as a child would measure it: two sizes, the second without GPU times.
MapRun sampleRun() {
    MapRun run;
    run.map = "Maps/Lake_512.bmp";
    run.path = "/data/Maps/Lake_512.bmp";
    run.gridWidth = 512;
    run.gridHeight = 256;
    run.startup = {{"window and context", 10.0}, {"shader builds", 20.0}, {"atlas", 5.0}, {"first frame", 1.5}};
    run.residentBytesAfterStartup = 200u << 20;
    run.peakResidentBytes = (601u << 20) / 2;

    SizeRun small;
    small.requested = {800, 600};
    small.framebuffer = {800, 600};
    small.blurPassCount = 20;
    small.cpuFrameMs = {20.0, 10.0, 30.0};
    for (int frame = 1; frame <= 3; ++frame) {
        FrameGpuTimes times;
        times.sceneMs = frame;
        times.blurPassMs.assign(20, 0.01);
        times.blurMs = 0.2;
        times.totalMs = frame + 0.2;
        small.gpuFrames.push_back(times);
    }
    SizeRun large;
    large.requested = {1920, 1080};
    large.framebuffer = {1280, 1024};
    large.blurPassCount = 20;
    large.cpuFrameMs = {50.0};
    run.sizes = {small, large};
    return run;
}

Json sampleReport(int timestampBits = 64, const MapRun& run = sampleRun()) {
    BenchDevice device;
    device.renderer = "llvmpipe (LLVM 15.0.6, 256 bits)";
    device.version = "4.5 (Compatibility Profile) Mesa 22.3.6";
    device.timestampBits = timestampBits;
    BenchOptions options;
    options.frames = 3;
    options.warmup = 1;
    // The parent reads each map's JSON back from text, as it arrives from the child.
    const Json map = Json::parse(mapRunJson(run).dump());
    return reportJson(deviceJson(device), options, {map});
}

}  // namespace

TEST(BenchOptions, DefaultsAndEveryOptionInBothSpellings) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_EQ(options.frames, 60);
    EXPECT_EQ(options.warmup, 10);
    EXPECT_TRUE(options.sizes.empty()) << "empty stands for the default sizes";
    EXPECT_TRUE(options.maps.empty());
    EXPECT_TRUE(options.jsonPath.empty());

    ASSERT_TRUE(parse({"--frames=3", "--warmup", "0", "--size", "160x120", "--size=1x16384", "--map", "a.bmp",
                       "--map=Maps\\b.bmp", "--json", "-"},
                      options, error))
        << error;
    EXPECT_EQ(options.frames, 3);
    EXPECT_EQ(options.warmup, 0);
    ASSERT_EQ(options.sizes.size(), 2u) << "sizes accumulate";
    EXPECT_EQ(options.sizes[0].width, 160);
    EXPECT_EQ(options.sizes[1].height, 16384);
    EXPECT_EQ(options.maps, (std::vector<BenchMap>{{"a.bmp", false}, {"Maps\\b.bmp", false}}));
    EXPECT_EQ(options.jsonPath, "-");

    ASSERT_TRUE(parse({"--help"}, options, error));
    EXPECT_TRUE(options.wantsHelp);
}

TEST(BenchOptions, LodErrorImpliesLevelOfDetail) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--map", "a.bmp", "--lod-error=0.25"}, options, error)) << error;
    EXPECT_FLOAT_EQ(options.terrain.lodErrorPixels, 0.25f);
    EXPECT_EQ(options.maps, (std::vector<BenchMap>{{"a.bmp", true}}));
}

TEST(BenchOptions, StreamMapsAndTheFlight) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--map", "a.bmp", "--stream-map", "b.r16", "--flight", "--panel"}, options, error)) << error;
    EXPECT_EQ(options.maps, (std::vector<BenchMap>{{"a.bmp", false, false}, {"b.r16", false, true}}));
    EXPECT_TRUE(options.flight);
    EXPECT_TRUE(options.panel);
    BenchOptions streamEvery;
    ASSERT_TRUE(parse({"--map", "a.bmp", "--stream"}, streamEvery, error)) << error;
    EXPECT_EQ(streamEvery.maps, (std::vector<BenchMap>{{"a.bmp", false, true}}));
    EXPECT_FALSE(streamEvery.flight);
    EXPECT_FALSE(streamEvery.panel);
}

TEST(BenchOptions, BadOptionsAreNamedInOneLine) {
    EXPECT_EQ(errorOf({"--frames", "0"}), "--frames takes a whole number from 1 to 1000000, not '0'");
    EXPECT_EQ(errorOf({"--frames=-5"}), "--frames takes a whole number from 1 to 1000000, not '-5'");
    EXPECT_EQ(errorOf({"--warmup", "x"}), "--warmup takes a whole number from 0 to 1000000, not 'x'");
    EXPECT_EQ(errorOf({"--size", "800"}), "--size takes WIDTHxHEIGHT, each 1 to 16384, not '800'");
    EXPECT_EQ(errorOf({"--size", "800x16385"}), "--size takes WIDTHxHEIGHT, each 1 to 16384, not '800x16385'");
    EXPECT_EQ(errorOf({"--map="}), "--map takes a file name, not ''");
    EXPECT_EQ(errorOf({"--lod-error", "1000.5"}),
              "--lod-error takes a number of pixels above 0 and at most 1000, not '1000.5'");
    EXPECT_EQ(errorOf({"--json"}), "--json needs a value (see --help)");
    EXPECT_EQ(errorOf({"--exaggeration=0"}), "--exaggeration takes a number above 0 and at most 1000, not '0'");
    EXPECT_EQ(errorOf({"--fps"}), "unknown option '--fps' (see --help)");
    EXPECT_EQ(errorOf({"--map", "a.bmp", "b.bmp"}), "extra argument 'b.bmp': every argument is an option or its value (see --help)") << "an extra argument";
    EXPECT_EQ(errorOf({"--help=yes"}), "unknown option '--help=yes' (see --help)");
}

TEST(BenchReport, JsonHoldsSummariesSamplesAndStartupInOrder) {
    const Json report = sampleReport();
    EXPECT_EQ(report["frames"], 3);
    EXPECT_EQ(report["warmup_frames"], 1);
    EXPECT_EQ(report["vsync"], false);
    ASSERT_EQ(report["maps"].size(), 1u);
    const Json& map = report["maps"][0];
    EXPECT_EQ(map["grid"]["height"], 256);
    EXPECT_EQ(map["resident_bytes_after_startup"], 200u << 20);
    EXPECT_EQ(map["peak_resident_bytes"], (601u << 20) / 2);

    std::vector<std::string> phases;
    for (const auto& phase : map["startup_ms"].items()) phases.push_back(phase.key());
    EXPECT_EQ(phases, (std::vector<std::string>{"window and context", "shader builds", "atlas", "first frame"}))
        << "phases keep the order they ran in, through the text the child sends";
    EXPECT_EQ(map["startup_total_ms"], 36.5);

    const Json& small = map["sizes"][0];
    EXPECT_EQ(small["frames"], 3);
    EXPECT_EQ(small["blur_passes"], 20);
    EXPECT_EQ(small["cpu_frame_ms"]["median"], 20.0);
    EXPECT_EQ(small["cpu_frame_ms"]["p95"], 29.0);
    EXPECT_EQ(small["fps"], 50.0);
    EXPECT_EQ(small["gpu_ms"]["scene"]["median"], 2.0);
    EXPECT_EQ(small["gpu_ms"]["total"]["median"], 2.2);
    EXPECT_EQ(small["gpu_blur_passes_ms"].size(), 20u);
    EXPECT_EQ(small["samples_ms"]["cpu_frame"], (std::vector<double>{20.0, 10.0, 30.0})) << "in the order drawn";
    EXPECT_EQ(small["samples_ms"]["gpu_scene"].size(), 3u);

    const Json& large = map["sizes"][1];
    EXPECT_EQ(large["framebuffer"]["width"], 1280);
    EXPECT_TRUE(large["gpu_ms"].is_null());
    EXPECT_EQ(large["blur_passes"], 20);
    EXPECT_FALSE(large["samples_ms"].contains("gpu_total"));
}

TEST(BenchReport, TableShowsEveryRowAndWhatTheWindowSystemGave) {
    const std::string table = formatTable(sampleReport());
    EXPECT_EQ(table.find("KELTA frame benchmark on llvmpipe (LLVM 15.0.6, 256 bits), OpenGL 4.5"), 0u) << table;
    EXPECT_NE(table.find("3 measured frames after 1 warm-up frames at each size, vertical sync off"),
              std::string::npos);
    EXPECT_NE(table.find("\nMaps/Lake_512.bmp (512 x 256, one mesh)\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  shader builds             20.000\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  total                     36.500\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  resident at start-up    200.0 MB\n  peak resident           300.5 MB\n"), std::string::npos)
        << table;
    EXPECT_NE(table.find("  800 x 600              median ms      p95 ms         fps\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  blur (20 passes)           0.200       0.200\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  CPU frame                 20.000      29.000        50.0\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  1920 x 1080 (framebuffer 1280 x 1024)"), std::string::npos) << table;
    EXPECT_NE(table.find("  GPU total                    n/a         n/a\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  CPU frame                 50.000      50.000        20.0\n"), std::string::npos) << table;

    EXPECT_NE(formatTable(sampleReport(0)).find("this GL has no timestamp queries"), std::string::npos);
}

TEST(BenchReport, SaysWhatWasDrawnAndWhyItWasNotWhatWasAsked) {
    const std::string reason = "Could not allocate the terrain vertex buffer; drawing it with level of detail";
    // (asked for level of detail, the program's reason for falling back, the heading)
    const std::tuple<bool, std::string, std::string> cases[] = {
        {true, "", "(512 x 256, level of detail, error budget 0.3 px)"},
        {false, reason, "(512 x 256, level of detail (fell back from one mesh), error budget 0.3 px)"},
    };
    for (const auto& [asked, fallbackReason, heading] : cases) {
        MapRun run = sampleRun();
        run.levelOfDetailAsked = asked;
        run.levelOfDetail = true;
        run.lodErrorPixels = 0.3f;
        run.fallbackReason = fallbackReason;
        const Json report = sampleReport(64, run);
        const Json& map = report["maps"][0];
        EXPECT_EQ(map["level_of_detail_asked"], asked);
        EXPECT_EQ(map["lod_error_pixels"], 0.3) << "as typed, not the float nearest to it";
        EXPECT_EQ(map["fallback_reason"], asked ? Json(nullptr) : Json(reason));
        EXPECT_NE(formatTable(report).find("\nMaps/Lake_512.bmp " + heading + "\n"), std::string::npos) << heading;
    }
}

TEST(BenchReport, ComparesTheFlightWithTheStaticFramesByTheir99thPercentile) {
    MapRun run = sampleRun();
    run.streamed = true;
    run.flight = true;
    run.streamTotals = {2, 40, 5u << 20};
    for (SizeRun& size : run.sizes) {
        size.settled = true;
        size.settleMs = 900.0;
        size.staticCpuFrameMs = {10.0, 10.0, 20.0};
        size.settledFlightCpuFrameMs = {40.0, 30.0, 20.0};
        size.stream = {1, 6, 1u << 20};
    }
    const Json report = sampleReport(64, run);
    const Json& sizeJson = report["maps"][0]["sizes"][0];
    // The flight's p99 of {10, 20, 30} is 29.8; the static's of {10, 10, 20} 19.8, the settled poses' 39.8.
    EXPECT_DOUBLE_EQ(sizeJson["flight_to_static_p99"].get<double>(), 29.8 / 19.8);
    EXPECT_DOUBLE_EQ(sizeJson["flight_to_settled_p99"].get<double>(), 29.8 / 39.8);
    EXPECT_EQ(sizeJson["stream"], (Json{{"tiles_loaded", 6}, {"bytes_read", 1u << 20}, {"frames_missing_tiles", 1}}));
    EXPECT_EQ(report["maps"][0]["stream"]["tiles_loaded"], 40);
    const std::string table = formatTable(report);
    EXPECT_NE(table.find("(512 x 256, streamed (too large for one texture))"), std::string::npos) << table;
    EXPECT_NE(table.find("  static at start           19.800      29.800        1.51\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  the flight's poses        39.800      29.800        0.75\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  frames missing tiles           1\n"), std::string::npos) << table;
}

TEST(BenchReport, RecordsTheTerrainOptionsThatChangeWhatIsDrawn) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    Json report = reportJson(deviceJson(BenchDevice()), options, {});
    EXPECT_EQ(report["exaggeration"], 1.0);
    EXPECT_EQ(report["view_distance"], 600.0);
    EXPECT_TRUE(report["drape"].is_null());
    EXPECT_EQ(formatTable(report).find("Exaggeration"), std::string::npos) << "the defaults go without saying";

    ASSERT_TRUE(parse({"--exaggeration", "2.5", "--view-distance=5000.5", "--drape", "L7.tif", "--drape-bands", "3,2,1",
                       "--fill-voids"},
                      options, error))
        << error;
    EXPECT_TRUE(options.terrain.fillVoids) << "every terrain option reaches the maps' runs";
    report = Json::parse(jsonText(reportJson(deviceJson(BenchDevice()), options, {})));
    EXPECT_EQ(report["exaggeration"], 2.5);
    EXPECT_EQ(report["view_distance"], 5000.5);
    EXPECT_EQ(report["drape"], (Json{{"path", "L7.tif"}, {"bands", {3, 2, 1}}}));
    EXPECT_NE(formatTable(report).find("\nExaggeration 2.5, view distance 5000.5, drape L7.tif (bands 3,2,1)\n"),
              std::string::npos)
        << formatTable(report);
}

TEST(BenchChildProcess, KeepsTheChildsOutputOffOursAndReturnsItsAnswer) {
    ChildOutcome outcome;
    std::string error;
    testing::internal::CaptureStdout();
    const bool started = runInChildProcess(
        [] {
            std::cout << "Device: somewhere" << std::endl;
            std::printf("FBO line\n");
            return std::string(100000, 'x');
        },
        outcome, error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_TRUE(started) << error;
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_EQ(outcome.message, std::string(100000, 'x')) << "answers larger than a pipe's buffer arrive whole";
    EXPECT_EQ(outcome.output, "Device: somewhere\nFBO line\n");
}

TEST(BenchChildProcess, ReportsHowAChildEnded) {
    ChildOutcome outcome;
    std::string error;
    ASSERT_TRUE(runInChildProcess(
        [] {
            std::cout << "Could not load heightmap: File not found" << std::endl;
            std::exit(1);
            return std::string("never");
        },
        outcome, error));
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_TRUE(outcome.exitedNormally);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(outcome.output, "Could not load heightmap: File not found\n");

    ASSERT_TRUE(runInChildProcess([]() -> std::string { throw std::runtime_error("bad answer"); }, outcome, error));
    EXPECT_EQ(outcome.exitCode, WORK_FAILED_EXIT_CODE);
    EXPECT_EQ(outcome.failure, "bad answer") << "the cause comes back, not the last line of the log";
    EXPECT_EQ(outcome.message, "");

    ASSERT_TRUE(runInChildProcess(
        [] {
            std::raise(SIGKILL);
            return std::string();
        },
        outcome, error));
    EXPECT_FALSE(outcome.exitedNormally);
    EXPECT_EQ(outcome.signal, SIGKILL);
}
