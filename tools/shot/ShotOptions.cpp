// Parsing of kelta-shot's options; every value is checked before any window opens.
#include "tools/shot/ShotOptions.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "io/DataPath.h"
#include "io/WholeNumber.h"
#include "scene/TerrainArguments.h"
#include "tools/common/TerrainCommandLine.h"
#include "tools/shot/PosterLayout.h"

std::string shotUsage() {
    const std::string defaultMap = absolutePath(resolveDataPath(TerrainArguments().heightMapPath));
    const PixelReach margin = posterMargin();
    const int wholeWidth = DEFAULT_TILE_SIDE + 2 * margin.across, wholeHeight = DEFAULT_TILE_SIDE + 2 * margin.down;
    return
    "Usage: kelta-shot [options]\n"
    "Renders one frame of KELTA's pipeline off-screen and writes it as a PNG, or flies a camera path\n"
    "and writes its frames as a video or as PNGs.\n"
    "Without options it shows what kelta shows in its first frame.\n"
    "\n"
    "Options:\n"
    "  --output FILE            PNG to write (default: kelta-shot.png); it is replaced whole or\n"
    "                           not at all, and only if it is a regular file in a writable folder,\n"
    "                           which is checked before rendering\n"
    "  --size WxH               image size in pixels, 1 to 32768 a side (default: 800x600);\n"
    "                           larger than " + std::to_string(wholeWidth) + "x" + std::to_string(wholeHeight) +
    ", drawn in tiles (see --tile-size)\n"
    "  --position X,Y,Z         eye point (default: the start pose, (0, height scale, 0); over an\n"
    "                           elevation map, at the height of its highest point)\n"
    "  --direction X,Y,Z        view direction, any length, not vertical (default: the start pose)\n"
    "  --time SECONDS           animation time, 0 or more (default: 0)\n"
    "  --mode N                 terrain shading mode 1 to 5 (default: 5)\n"
    "  --view NAME              bloom, no-bloom, bright or blurred (or 0 to 3, as key B cycles them;\n"
    "                           default: bloom)\n"
    "  --bloom-gain G           0 or more (default: 1)\n"
    "  --bloom-threshold T      0 or more (default: 0.3)\n"
    "  --map FILE               height map: BMP, PNG or raw 16-bit, or an elevation map GDAL\n"
    "                           reads, read as given (default: kelta's, " + defaultMap + ")\n"
    "  --horizontal-scale N     grid spacing, a whole number of at least 1 (default: 1)\n"
    "  --height-scale N         height of a white pixel, a whole number of at least 0 (default: 20);\n"
    "                           not for elevation maps\n"
    "  --panel                  draw the panel (kelta's F1) over the picture\n"
    "  --cursor X,Y             where the panel takes the cursor to be, in pixels from the top\n"
    "                           left (default: the centre)\n"
    "  --tile-size N            the side of each tile a picture drawn in tiles keeps, a multiple\n"
    "                           of 4 from 64 to 16384 (default: 4096); each is drawn with the\n"
    "                           bloom's margin, " + std::to_string(margin.across) + " pixels across and " +
    std::to_string(margin.down) + " down, around it, so that\n"
    "                           the picture is the one drawn at once; not with --panel\n"
    "  --saved-view NUMBER|NAME the view saved in kelta for the map (Ctrl and a digit): its\n"
    "                           place, direction, shading mode, exaggeration and time of day\n"
    "                           replace what the other options say; the time places the sun\n"
    "                           when no --sun or --sun-time does\n"
    "\n"
    "Flights (a camera path's frames instead of a still):\n"
    "  --path FILE              camera path to fly, the file kelta --play flies (see kelta --help),\n"
    "                           or --follow TRACK (below) for the flight along a track\n"
    "  --constant-speed         fly the path at one speed over its whole length\n"
    "  --video FILE             write the frames as a video: .mp4 (H.264) or .webm (VP9), both\n"
    "                           4:2:0, which needs even sides; it is replaced whole once complete,\n"
    "                           or not at all\n"
    "  --frames FOLDER          write the frames as frame-00000.png, frame-00001.png, ... into the\n"
    "                           folder, which must exist\n"
    "  --fps N                  frames a second, 1 to 240 (default: 30): frame n shows the path, the\n"
    "                           water and the sun at n / N seconds\n"
    "  --quality Q              the video's quality, 0 to 100 (default: 65, visually lossless; 100:\n"
    "                           lossless, which few players play for .mp4)\n"
    "\n"
    "  --help                   show this text\n"
    "  --version                print the version\n"
    "\n" + TERRAIN_OPTIONS_HELP + "\n" + FOLLOW_OPTIONS_HELP;
}

namespace {

bool parseNonNegativeFloat(const std::string& text, float& value) {
    double parsed = 0;
    if (!parseDecimal(text, parsed) || parsed < 0 || parsed > 3.0e38) return false;
    value = static_cast<float>(parsed);
    return true;
}

bool parseVector(const std::string& text, vec3& value) {
    float parts[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos)) return false;
        double part = 0;
        if (!parseDecimal(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), part) ||
            std::fabs(part) > 1.0e6) {
            return false;
        }
        parts[i] = static_cast<float>(part);
        start = comma + 1;
    }
    value = vec3{parts[0], parts[1], parts[2]};
    return true;
}

bool parsePixel(const std::string& text, vec2& pixel) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    double x = 0, y = 0;
    if (!parseDecimal(text.substr(0, comma), x) || !parseDecimal(text.substr(comma + 1), y)) return false;
    if (x < 0 || y < 0 || x > MAX_SHOT_SIDE || y > MAX_SHOT_SIDE) return false;
    pixel = vec2{static_cast<float>(x), static_cast<float>(y)};
    return true;
}

bool parseView(const std::string& text, int& view) {
    for (int i = 0; i < 4; ++i) {
        if (text == SHOT_VIEW_NAMES[i] || text == std::to_string(i)) {
            view = i;
            return true;
        }
    }
    return false;
}

// The scales go to the terrain as text, so they are checked by the very parser it uses.
bool isValidScale(const std::string& text, int position) {
    const char* arguments[4] = {"kelta", "map", "1", "20"};
    arguments[position] = text.c_str();
    TerrainArguments parsed;
    std::string ignored;
    return parseTerrainArguments(4, arguments, parsed, ignored);
}

// Options that only one of a still and a flight takes, and those of a flight that need another.
bool checkCombination(const ShotOptions& options, const std::set<std::string>& given, std::string& error) {
    const bool flight = isFlight(options);
    for (const char* name : {"--video", "--frames", "--fps", "--quality"}) {
        if (!flight && given.count(name) != 0) {
            error = std::string(name) + " needs --path FILE or --follow TRACK, the flight to film (see --help)";
            return false;
        }
    }
    if (options.constantSpeed && options.pathFile.empty()) {
        error = "--constant-speed needs --path FILE (see --help)";
        return false;
    }
    if ((given.count("--follow-height") != 0 || given.count("--follow-speed") != 0) && !options.follow.isAsked()) {
        error = "--follow-height and --follow-speed need --follow TRACK (see --help)";
        return false;
    }
    if (!flight) return true;
    // One flight at a time takes the camera.
    if (!options.pathFile.empty() && options.follow.isAsked()) {
        error = "--path and --follow cannot fly at once (see --help)";
        return false;
    }
    for (const char* name : {"--output", "--position", "--direction", "--time", "--panel", "--cursor", "--saved-view",
                             "--tile-size"}) {
        if (given.count(name) != 0) {
            error = std::string(name) + " is for a still, not for a flight's frames (see --help)";
            return false;
        }
    }
    if (options.videoPath.empty() == options.framesFolder.empty()) {
        error = std::string(options.pathFile.empty() ? "--follow" : "--path") +
                " needs one of --video FILE and --frames FOLDER for its frames (see --help)";
        return false;
    }
    if (given.count("--quality") != 0 && options.videoPath.empty()) {
        error = "--quality needs --video FILE (see --help)";
        return false;
    }
    if (!options.videoPath.empty() && (options.width % 2 != 0 || options.height % 2 != 0)) {
        error = "--size takes even sides for a video (its colour is kept for every 2 x 2 pixels), not '" +
                std::to_string(options.width) + "x" + std::to_string(options.height) + "'";
        return false;
    }
    return true;
}

}  // namespace

int flightFrameCount(double seconds, int framesPerSecond) {
    // A path timed in round seconds lasts a whole number of frames, whatever the rounding of its times.
    const double frames = seconds * framesPerSecond;
    return std::max(1, static_cast<int>(std::ceil(frames - 1.0e-6)));
}

bool parseShotOptions(int argc, const char* const* argv, ShotOptions& options, std::string& error) {
    const std::vector<const char*> valueOptions{"--output", "--size", "--position", "--direction", "--time", "--mode",
                                                "--view", "--bloom-gain", "--bloom-threshold", "--map",
                                                "--horizontal-scale", "--height-scale", "--cursor",
                                                "--saved-view", "--tile-size", "--path", "--video", "--frames",
                                                "--fps", "--quality"};
    std::vector<const char*> valueNames = valueOptions;
    valueNames.insert(valueNames.end(), followValueOptions().begin(), followValueOptions().end());
    std::set<std::string> given;
    const bool read = readOptionsWithTerrain(argc, argv, valueNames, {"--panel", "--constant-speed"}, options.terrain,
                                             options.wantsHelp, options.wantsVersion, error,
                                             [&](const OptionReader& reader, const std::string& value) {
        const std::string& name = reader.name();
        auto fail = [&](const std::string& expected) { return reader.refuse(expected, error); };
        given.insert(name);

        if (name == "--output") {
            if (value.empty()) return fail("a file name");
            options.outputPath = value;
        } else if (name == "--size") {
            if (!parseImageSize(value, MAX_SHOT_SIDE, options.width, options.height)) {
                return fail("WIDTHxHEIGHT, each 1 to " + std::to_string(MAX_SHOT_SIDE));
            }
        } else if (name == "--position") {
            if (!parseVector(value, options.position)) return fail("three numbers X,Y,Z within +-1000000");
            options.hasPosition = true;
        } else if (name == "--direction") {
            vec3 direction;
            if (!parseVector(value, direction)) return fail("three numbers X,Y,Z within +-1000000");
            const float horizontal = std::sqrt(direction.x * direction.x + direction.z * direction.z);
            // The view matrix is built with a fixed up vector, so a vertical direction has no frame.
            if (horizontal <= 1.0e-3f * std::fabs(direction.y) || length(direction) < 1.0e-6f) {
                return fail("a direction that is not zero and not straight up or down");
            }
            options.direction = normalize(direction);
            options.hasDirection = true;
        } else if (name == "--time") {
            if (!parseDecimal(value, options.time) || options.time < 0 || options.time > 1.0e7) {
                return fail("a number of seconds from 0 to 10000000");
            }
        } else if (name == "--mode") {
            if (!parseWholeNumber(value, 1, 5, options.mode)) return fail("a mode from 1 to 5");
        } else if (name == "--view") {
            if (!parseView(value, options.view)) return fail("bloom, no-bloom, bright, blurred or 0 to 3");
        } else if (name == "--bloom-gain") {
            if (!parseNonNegativeFloat(value, options.bloomGain)) return fail("a number of at least 0");
        } else if (name == "--bloom-threshold") {
            if (!parseNonNegativeFloat(value, options.bloomThreshold)) return fail("a number of at least 0");
        } else if (name == "--map") {
            if (value.empty()) return fail("a file name");
            options.heightMapPath = value;
        } else if (name == "--horizontal-scale") {
            if (!isValidScale(value, 2)) return fail("a whole number of at least 1");
            options.horizontalScale = value;
        } else if (name == "--panel") {
            options.panel = true;
        } else if (name == "--cursor") {
            vec2 cursor;
            if (!parsePixel(value, cursor)) return fail("two numbers X,Y of at least 0");
            options.cursor = cursor;
        } else if (name == "--saved-view") {
            if (value.empty()) return fail("a view's number or name");
            options.savedView = value;
        } else if (name == "--height-scale") {
            if (!isValidScale(value, 3)) return fail("a whole number of at least 0");
            options.heightScale = value;
        } else if (name == "--tile-size") {
            // Tiles start on the blur's quarter-resolution grid, as the whole picture's texels do.
            if (!parseWholeNumber(value, 64, 16384, options.tileSide) || options.tileSide % BLUR_DOWNSAMPLING != 0) {
                return fail("a multiple of 4 from 64 to 16384");
            }
        } else if (std::find(followValueOptions().begin(), followValueOptions().end(), name) !=
                   followValueOptions().end()) {
            std::string expected;
            if (!readFollowOption(name, value, options.follow, expected)) return reader.refuse(expected, error);
        } else if (name == "--path") {
            if (value.empty()) return fail("a file name");
            options.pathFile = value;
        } else if (name == "--constant-speed") {
            options.constantSpeed = true;
        } else if (name == "--video") {
            if (!videoCodecOf(value)) return fail("a file name ending in .mp4 (H.264) or .webm (VP9)");
            options.videoPath = value;
        } else if (name == "--frames") {
            if (value.empty()) return fail("a folder");
            options.framesFolder = value;
        } else if (name == "--fps") {
            if (!parseWholeNumber(value, 1, 240, options.framesPerSecond)) return fail("a whole number from 1 to 240");
        } else if (name == "--quality") {
            if (!parseWholeNumber(value, LOWEST_VIDEO_QUALITY, HIGHEST_VIDEO_QUALITY, options.videoQuality)) {
                return fail("a whole number from 0 to 100");
            }
        }
        return true;
    });
    if (!read) return false;
    // The panel lays itself out over the one picture it is drawn in.
    if (options.panel && drawsInTiles(options)) {
        error = "--panel is drawn over a picture drawn at once, and " + std::to_string(options.width) + "x" +
                std::to_string(options.height) + " is drawn in tiles (see --tile-size)";
        return false;
    }
    return options.wantsHelp || options.wantsVersion || checkCombination(options, given, error);
}

bool drawsInTiles(const ShotOptions& options) {
    return planPoster(options.width, options.height, options.tileSide, posterMargin()).tileCount() > 1;
}
