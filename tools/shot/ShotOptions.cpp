// Parsing of kelta-shot's options; every value is checked before any window opens.
#include "tools/shot/ShotOptions.h"

#include <cmath>
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
    "Renders one frame of KELTA's pipeline off-screen and writes it as a PNG.\n"
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
    "  --help                   show this text\n"
    "  --version                print the version\n"
    "\n" + TERRAIN_OPTIONS_HELP;
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

}  // namespace

bool parseShotOptions(int argc, const char* const* argv, ShotOptions& options, std::string& error) {
    const std::vector<const char*> valueOptions{"--output", "--size", "--position", "--direction", "--time", "--mode",
                                                "--view", "--bloom-gain", "--bloom-threshold", "--map",
                                                "--horizontal-scale", "--height-scale", "--cursor",
                                                "--saved-view", "--tile-size"};
    const bool read = readOptionsWithTerrain(argc, argv, valueOptions, {"--panel"}, options.terrain, options.wantsHelp,
                                  options.wantsVersion, error, [&](const OptionReader& reader, const std::string& value) {
        const std::string& name = reader.name();
        auto fail = [&](const std::string& expected) { return reader.refuse(expected, error); };

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
    return true;
}

bool drawsInTiles(const ShotOptions& options) {
    return planPoster(options.width, options.height, options.tileSide, posterMargin()).tileCount() > 1;
}
