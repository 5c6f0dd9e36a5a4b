// kelta-shot's option parsing and its PNG files, without a GL context.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "io/PngImage.h"
#include "tests/TempFolder.h"
#include "tools/shot/ShotOptions.h"

namespace {

bool parse(std::initializer_list<const char*> arguments, ShotOptions& options, std::string& error) {
    std::vector<const char*> argv{"kelta-shot"};
    argv.insert(argv.end(), arguments);
    return parseShotOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

std::string errorOf(std::initializer_list<const char*> arguments) {
    ShotOptions options;
    std::string error;
    EXPECT_FALSE(parse(arguments, options, error)) << "accepted";
    return error;
}

std::string temporaryPath(const char* name) {
    return ::testing::TempDir() + name + std::to_string(getpid()) + ".png";
}

}  // namespace

TEST(ShotOptions, DefaultsAreTheProgramsFirstFrame) {
    ShotOptions options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_EQ(options.width, 800);
    EXPECT_EQ(options.height, 600);
    EXPECT_FALSE(options.hasPosition);
    EXPECT_FALSE(options.hasDirection);
    EXPECT_EQ(options.time, 0.0);
    EXPECT_EQ(options.mode, 5);
    EXPECT_EQ(options.view, 0);
    EXPECT_EQ(options.bloomGain, 1.0f);
    EXPECT_EQ(options.bloomThreshold, 0.3f);
    EXPECT_TRUE(options.heightMapPath.empty());
}

TEST(ShotOptions, ReadsEveryOptionInBothSpellings) {
    ShotOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--output", "a.png", "--size=1920x1080", "--position", "1.5,-2,3e2", "--direction=0,0,-4",
                       "--time", "12.25", "--mode=3", "--view", "blurred", "--bloom-gain", "2.5",
                       "--bloom-threshold=0", "--map", "Maps/x.bmp", "--horizontal-scale", "2",
                       "--height-scale=40", "--lod-error=2", "--sea-level", "none", "--fill-voids",
                       "--saved-view", "Harbour at dusk"},
                      options, error))
        << error;
    EXPECT_EQ(options.outputPath, "a.png");
    EXPECT_EQ(options.width, 1920);
    EXPECT_EQ(options.height, 1080);
    ASSERT_TRUE(options.hasPosition);
    EXPECT_FLOAT_EQ(options.position.z, 300.0f);
    EXPECT_FLOAT_EQ(options.position.y, -2.0f);
    ASSERT_TRUE(options.hasDirection);
    EXPECT_FLOAT_EQ(options.direction.z, -1.0f) << "directions are normalised";
    EXPECT_EQ(options.time, 12.25);
    EXPECT_EQ(options.mode, 3);
    EXPECT_EQ(options.view, 3);
    EXPECT_EQ(options.bloomGain, 2.5f);
    EXPECT_EQ(options.bloomThreshold, 0.0f);
    EXPECT_EQ(options.heightMapPath, "Maps/x.bmp");
    EXPECT_EQ(options.horizontalScale, "2");
    EXPECT_EQ(options.heightScale, "40");
    EXPECT_TRUE(options.terrain.levelOfDetail);
    EXPECT_EQ(options.terrain.lodErrorPixels, 2.0f);
    EXPECT_FALSE(options.terrain.hasSea);
    EXPECT_TRUE(options.terrain.fillVoids);
    EXPECT_EQ(options.savedView, "Harbour at dusk");

    for (int view = 0; view < 4; ++view) {
        ASSERT_TRUE(parse({"--view", SHOT_VIEW_NAMES[view]}, options, error));
        EXPECT_EQ(options.view, view);
        ASSERT_TRUE(parse({"--view", std::to_string(view).c_str()}, options, error));
        EXPECT_EQ(options.view, view);
    }
    ASSERT_TRUE(parse({"--size", "1x32768"}, options, error));
    EXPECT_EQ(options.height, 32768);
    ASSERT_TRUE(parse({"--tile-size", "64"}, options, error));
    EXPECT_EQ(options.tileSide, 64);
}

TEST(ShotOptions, RefusesBadValuesWithALineNamingTheOption) {
    EXPECT_EQ(errorOf({"--size", "0x600"}), "--size takes WIDTHxHEIGHT, each 1 to 32768, not '0x600'");
    for (const char* size : {"800", "32769x10", "-1x5", "800x", "x600", "8x6x2", "1e3x600", " 80x60"}) {
        EXPECT_NE(errorOf({"--size", size}).find("--size takes"), std::string::npos) << size;
    }
    for (const char* vector : {"1,2", "1,2,3,4", "a,b,c", "1,,3", "nan,0,0", "inf,0,0", "2e6,0,0", ""}) {
        EXPECT_NE(errorOf({"--position", vector}).find("--position takes"), std::string::npos) << vector;
    }
    // A vertical or zero direction gives the view matrix no sideways axis.
    for (const char* direction : {"0,0,0", "0,1,0", "0,-5,0", "0.000001,-1,0"}) {
        EXPECT_NE(errorOf({"--direction", direction}).find("not straight up or down"), std::string::npos)
            << direction;
    }
    EXPECT_NE(errorOf({"--time", "-1"}).find("--time takes"), std::string::npos);
    EXPECT_NE(errorOf({"--time", "nan"}).find("--time takes"), std::string::npos);
    EXPECT_EQ(errorOf({"--mode", "6"}), "--mode takes a mode from 1 to 5, not '6'");
    EXPECT_NE(errorOf({"--mode", "0"}).find("--mode takes"), std::string::npos);
    EXPECT_NE(errorOf({"--view", "4"}).find("--view takes"), std::string::npos);
    EXPECT_NE(errorOf({"--bloom-gain", "-0.5"}).find("--bloom-gain takes"), std::string::npos);
    EXPECT_NE(errorOf({"--bloom-threshold", "1e39"}).find("--bloom-threshold takes"), std::string::npos);
    // Scales are checked by the terrain's own argument parser.
    for (const char* scale : {"0", "2.5", "abc", "99999999999"}) {
        EXPECT_NE(errorOf({"--horizontal-scale", scale}).find("at least 1"), std::string::npos) << scale;
    }
    EXPECT_TRUE(errorOf({"--height-scale", "-5"}).find("at least 0") != std::string::npos);
    EXPECT_EQ(errorOf({"--output", ""}), "--output takes a file name, not ''");
    // Tiles start on the blur's grid of 4 pixels; smaller ones than 64 would be mostly margin.
    for (const char* side : {"60", "1026", "16388", "4096.0"}) {
        EXPECT_EQ(errorOf({"--tile-size", side}), std::string("--tile-size takes a multiple of 4 from 64 to 16384, not '") +
                                                      side + "'");
    }
    // The panel lays itself out over the one picture it is drawn in.
    EXPECT_EQ(errorOf({"--size", "5000x600", "--panel"}),
              "--panel is drawn over a picture drawn at once, and 5000x600 is drawn in tiles (see --tile-size)");
    EXPECT_EQ(errorOf({"--panel", "--tile-size", "64", "--size", "900x600"}),
              "--panel is drawn over a picture drawn at once, and 900x600 is drawn in tiles (see --tile-size)");
    EXPECT_EQ(errorOf({"--saved-view", ""}), "--saved-view takes a view's number or name, not ''");
    EXPECT_EQ(errorOf({"--map"}), "--map needs a value (see --help)");
    EXPECT_EQ(errorOf({"--drape-bands", "3,2"}), "--drape-bands takes three band numbers R,G,B, each 1 or more, not '3,2'");
    EXPECT_EQ(errorOf({"--fill-voids=yes"}), "unknown option '--fill-voids=yes' (see --help)");
    EXPECT_EQ(errorOf({"--frame", "3"}), "unknown option '--frame' (see --help)");
    EXPECT_EQ(errorOf({"shot.png"}), "extra argument 'shot.png': every argument is an option or its value (see --help)");
    EXPECT_EQ(errorOf({"--map", "a.tif", "--lod", "20"}), "extra argument '20': every argument is an option or its value (see --help)") << "a scale goes in --height-scale";
}

TEST(ShotOptions, AFlightTakesItsOwnOptionsAndNoneOfAStills) {
    ShotOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--path", "p.json", "--video", "a/b.WEBM", "--fps=60", "--quality", "0", "--constant-speed",
                       "--size", "1280x720"},
                      options, error))
        << error;
    EXPECT_TRUE(isFlight(options));
    EXPECT_EQ(options.videoPath, "a/b.WEBM");
    EXPECT_EQ(options.framesPerSecond, 60);
    EXPECT_EQ(options.videoQuality, 0);
    EXPECT_TRUE(options.constantSpeed);
    ShotOptions frames;
    ASSERT_TRUE(parse({"--follow", "t.gpx", "--follow-speed", "50", "--frames", "out", "--size", "81x61"}, frames,
                      error))
        << error;
    EXPECT_TRUE(isFlight(frames));
    EXPECT_EQ(frames.follow.trackPath, "t.gpx");
    EXPECT_EQ(frames.follow.speedKmh, 50.0);
    EXPECT_EQ(frames.framesFolder, "out");
    EXPECT_EQ(frames.framesPerSecond, 30);
    EXPECT_EQ(frames.videoQuality, DEFAULT_VIDEO_QUALITY);

    const std::vector<std::pair<std::vector<const char*>, std::string>> refused{
        {{"--path", "p.json", "--video", "a.avi"},
         "--video takes a file name ending in .mp4 (H.264) or .webm (VP9), not 'a.avi'"},
        {{"--path", "p.json", "--frames", "out", "--fps", "0"}, "--fps takes a whole number from 1 to 240, not '0'"},
        {{"--path", "p.json", "--video", "a.mp4", "--quality", "101"}, "--quality takes a whole number from 0 to 100, not '101'"},
        {{"--path", ""}, "--path takes a file name, not ''"},
        {{"--path", "p.json"}, "--path needs one of --video FILE and --frames FOLDER for its frames (see --help)"},
        {{"--path", "p.json", "--video", "a.mp4", "--frames", "out"},
         "--path needs one of --video FILE and --frames FOLDER for its frames (see --help)"},
        {{"--video", "a.mp4"}, "--video needs --path FILE or --follow TRACK, the flight to film (see --help)"},
        {{"--fps", "30"}, "--fps needs --path FILE or --follow TRACK, the flight to film (see --help)"},
        {{"--constant-speed"}, "--constant-speed needs --path FILE (see --help)"},
        {{"--follow", "t.gpx", "--video", "a.mp4", "--constant-speed"}, "--constant-speed needs --path FILE (see --help)"},
        {{"--follow", "t.gpx"}, "--follow needs one of --video FILE and --frames FOLDER for its frames (see --help)"},
        {{"--path", "p.json", "--follow", "t.gpx", "--video", "a.mp4"}, "--path and --follow cannot fly at once (see --help)"},
        {{"--follow-speed", "50", "--path", "p.json", "--video", "a.mp4"},
         "--follow-height and --follow-speed need --follow TRACK (see --help)"},
        {{"--path", "p.json", "--frames", "out", "--quality", "90"}, "--quality needs --video FILE (see --help)"},
        {{"--path", "p.json", "--video", "a.mp4", "--position", "1,2,3"},
         "--position is for a still, not for a flight's frames (see --help)"},
        {{"--path", "p.json", "--video", "a.mp4", "--time", "2"}, "--time is for a still, not for a flight's frames (see --help)"},
        {{"--path", "p.json", "--video", "a.mp4", "--output", "a.png"},
         "--output is for a still, not for a flight's frames (see --help)"},
        {{"--follow", "t.gpx", "--frames", "out", "--panel"}, "--panel is for a still, not for a flight's frames (see --help)"},
        // 4:2:0 keeps one colour for every 2 x 2 pixels.
        {{"--path", "p.json", "--video", "a.mp4", "--size", "1279x720"},
         "--size takes even sides for a video (its colour is kept for every 2 x 2 pixels), not '1279x720'"},
    };
    for (const auto& [arguments, expected] : refused) {
        std::vector<const char*> argv{"kelta-shot"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ShotOptions ignored;
        EXPECT_FALSE(parseShotOptions(static_cast<int>(argv.size()), argv.data(), ignored, error)) << expected;
        EXPECT_EQ(error, expected);
    }
}

// Frame n shows n / fps seconds: a path of whole seconds ends a frame before its end, so that its
// video lasts exactly its duration.
TEST(ShotOptions, AFlightHasAFrameForEveryTickOfItsDuration) {
    const std::vector<std::tuple<double, int, int>> rows{
        {10.0, 30, 300}, {0.0, 30, 1}, {0.5, 30, 15}, {1.0 / 30.0, 30, 1}, {1.0 / 30.0 + 0.001, 30, 2},
        {9.99, 30, 300}, {0.1 * 3, 10, 3}, {2.0, 1, 2}};
    for (const auto& [seconds, fps, frames] : rows) {
        EXPECT_EQ(flightFrameCount(seconds, fps), frames) << seconds << " s at " << fps;
    }
}

TEST(ShotOptions, HelpIsAnOptionNotAnError) {
    ShotOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--mode", "2", "--help"}, options, error));
    EXPECT_TRUE(options.wantsHelp);
    EXPECT_NE(shotUsage().find("--bloom-threshold"), std::string::npos);
    EXPECT_NE(shotUsage().find(TERRAIN_OPTIONS_HELP), std::string::npos);
}

TEST(PngImage, RoundTripsOddSizesExactly) {
    for (const auto& size : std::vector<std::pair<int, int>>{{1, 1}, {3, 700}, {17, 5}}) {
        RgbImage8 image;
        image.width = size.first;
        image.height = size.second;
        for (int i = 0; i < image.width * image.height * 3; ++i) image.pixels.push_back(static_cast<uint8_t>(i * 37));
        const std::string path = temporaryPath("roundtrip");
        std::string error;
        ASSERT_TRUE(writePng(path, image, error)) << error;
        RgbImage8 back;
        ASSERT_TRUE(readPng(path, back, error)) << error;
        EXPECT_EQ(back.width, image.width);
        EXPECT_EQ(back.height, image.height);
        EXPECT_EQ(back.pixels, image.pixels);
        std::remove(path.c_str());
    }
}

TEST(PngImage, FailuresNameTheFile) {
    RgbImage8 image;
    image.width = 2;
    image.height = 2;
    image.pixels.assign(12, 0);
    std::string error;
    EXPECT_FALSE(writePng("/nonexistent-folder/x.png", image, error));
    EXPECT_EQ(error, "cannot write /nonexistent-folder/x.png: /nonexistent-folder: No such file or directory");

    image.pixels.resize(11);
    EXPECT_FALSE(writePng(temporaryPath("short"), image, error)) << "a short pixel buffer is refused";

    const std::string text = temporaryPath("text");
    std::ofstream(text) << "not a PNG";
    RgbImage8 back;
    EXPECT_FALSE(readPng(text, back, error));
    EXPECT_EQ(error.rfind("Could not read " + text, 0), 0u) << error;
    std::remove(text.c_str());
}

namespace {

std::vector<std::string> namesIn(const TempFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path)) names.push_back(entry.path().filename());
    return names;
}

}  // namespace

// Catches rows written out of order or cut, and a file that takes the target's place before it is
// complete or stays beside it when the writing stops: the target is what it was until finish.
TEST(PngRowWriter, WritesRowByRowAndReplacesTheTargetOnlyWhenFinished) {
    const TempFolder folder;
    const std::string target = folder / "poster.png";
    RgbImage8 image;
    image.width = 17;
    image.height = 5;
    for (int i = 0; i < image.width * image.height * 3; ++i) image.pixels.push_back(static_cast<uint8_t>(i * 37));
    const size_t rowBytes = static_cast<size_t>(image.width) * 3;
    std::string error;
    // Stopped before any row, halfway, and at a row too many.
    for (const int rows : {0, 3, 6}) {
        folder.write("poster.png", {'o', 'l', 'd'});
        {
            PngRowWriter writer(target, image.width, image.height, error);
            for (int row = 0; row < rows; ++row) {
                EXPECT_EQ(writer.writeRow(&image.pixels[(row % image.height) * rowBytes], error), row < image.height);
            }
            EXPECT_EQ(namesIn(folder).size(), rows > image.height ? 1u : 2u) << "the new file beside the target";
            EXPECT_FALSE(writer.finish(error)) << rows << " rows";
            EXPECT_NE(error.find(target), std::string::npos) << error;
        }
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"poster.png"}) << rows << " rows";
        std::ifstream stream(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stream), {}), "old") << rows << " rows";
    }
    PngRowWriter writer(target, image.width, image.height, error);
    for (int row = 0; row < image.height; ++row) ASSERT_TRUE(writer.writeRow(&image.pixels[row * rowBytes], error));
    ASSERT_TRUE(writer.finish(error)) << error;
    RgbImage8 back;
    ASSERT_TRUE(readPng(target, back, error)) << error;
    EXPECT_EQ(back.pixels, image.pixels);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"poster.png"});

    PngRowWriter nowhere("/nonexistent-folder/x.png", 2, 2, error);
    EXPECT_FALSE(nowhere.isOpen());
    EXPECT_EQ(error, "cannot write /nonexistent-folder/x.png: /nonexistent-folder: No such file or directory");
}
