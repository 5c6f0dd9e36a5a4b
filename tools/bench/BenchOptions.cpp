// Parsing of kelta-bench's options; every value is checked before any map is run.
#include "tools/bench/BenchOptions.h"

#include <string>

const char* const BENCH_USAGE =
    "Usage: kelta-bench [options]\n"
    "Times KELTA's real frame (scene, resolve, 20 blur passes, final) along a fixed camera\n"
    "path with vertical sync off: GPU time per pass from OpenGL timestamp queries, CPU time\n"
    "per frame, and the start-up phases. Each map runs in a fresh process with one window,\n"
    "resized from size to size. Prints a table; --json also writes the numbers as JSON.\n"
    "\n"
    "Options:\n"
    "  --frames N      measured frames per size, 1 to 1000000 (default: 60)\n"
    "  --warmup N      frames drawn before measuring at each size, 0 to 1000000 (default: 10)\n"
    "  --size WxH      window size, 1 to 16384 a side; repeat for more sizes\n"
    "                  (default: 800x600 and 1920x1080)\n"
    "  --map FILE      height map BMP, found as kelta finds it; repeat for more maps\n"
    "                  (default: Maps/Lake_512.bmp and Maps/Lake_4096.bmp, which is\n"
    "                  generated into the data folder beside kelta-bench when missing)\n"
    "  --json FILE     also write the results as JSON to FILE; '-' writes the JSON to\n"
    "                  standard output and the table to standard error\n"
    "  --help          show this text\n"
    "\n"
    "Camera path: the program's start pose, climbing 0.5 units a second while the view swings\n"
    "22.5 degrees either way every 10 seconds; each frame advances the time by 1/60 second.\n"
    "Times are medians and 95th percentiles in milliseconds; fps = 1000 / the CPU frame median.\n";

namespace {

// Whole decimal numbers only: no sign, no spaces, no trailing text.
bool parseCount(const std::string& text, int lowest, int highest, int& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= lowest && value <= highest;
}

bool parseSize(const std::string& text, BenchSize& size) {
    const size_t x = text.find('x');
    return x != std::string::npos && parseCount(text.substr(0, x), 1, MAX_BENCH_SIDE, size.width) &&
           parseCount(text.substr(x + 1), 1, MAX_BENCH_SIDE, size.height);
}

}  // namespace

bool parseBenchOptions(int argc, const char* const* argv, BenchOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasInlineValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasInlineValue = true;
        }
        if ((name == "--help" || name == "-h") && !hasInlineValue) {
            options.wantsHelp = true;
            continue;
        }
        const bool known = name == "--frames" || name == "--warmup" || name == "--size" || name == "--map" ||
                           name == "--json";
        if (!known) {
            error = "unknown option '" + std::string(argv[i]) + "' (see --help)";
            return false;
        }
        if (!hasInlineValue) {
            if (i + 1 >= argc) {
                error = name + " needs a value (see --help)";
                return false;
            }
            value = argv[++i];
        }
        auto fail = [&](const std::string& expected) {
            error = name + " takes " + expected + ", not '" + value + "'";
            return false;
        };

        if (name == "--frames") {
            if (!parseCount(value, 1, MAX_BENCH_FRAMES, options.frames)) return fail("a whole number from 1 to 1000000");
        } else if (name == "--warmup") {
            if (!parseCount(value, 0, MAX_BENCH_FRAMES, options.warmup)) return fail("a whole number from 0 to 1000000");
        } else if (name == "--size") {
            BenchSize size;
            if (!parseSize(value, size)) return fail("WIDTHxHEIGHT, each 1 to 16384");
            options.sizes.push_back(size);
        } else if (name == "--map") {
            if (value.empty()) return fail("a file name");
            options.maps.push_back(value);
        } else if (name == "--json") {
            if (value.empty()) return fail("a file name or '-'");
            options.jsonPath = value;
        }
    }
    return true;
}
