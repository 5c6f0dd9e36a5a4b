// kelta-datagen: writes KELTA's run-time data set (height map, terrain materials, sky) into a folder.
#include "app/Fatal.h"
#include "tools/datagen/DataGen.h"

#include <cstdint>
#include <iostream>
#include <string>

namespace {

const char* const usage =
    "Usage: kelta-datagen [options]\n"
    "Writes KELTA's data set: Maps/Lake_<size>.bmp, the nine terrain materials and\n"
    "Textures/Skydome.bmp, the same bytes on every run for the same options.\n"
    "\n"
    "Options:\n"
    "  --output DIR     folder to write into (default: the working directory)\n"
    "  --seed N         variation of the landscape and materials, 0 to 4294967295 (default: 1)\n"
    "  --map-size N     height map of N x N pixels, 64 to 8192 (default: 512)\n"
    "  --only-map       write the height map alone\n"
    "  --help           show this text\n";

[[noreturn]] void fail(const std::string& text) { fatal("kelta-datagen: " + text); }

// Whole decimal numbers only: no sign, no spaces, no trailing text.
bool parseNumber(const std::string& text, uint64_t limit, uint64_t& value) {
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= limit;
}

}  // namespace

int main(int argc, char** argv) {
    datagen::DataSetOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
            hasValue = true;
        }
        auto takeValue = [&]() -> std::string {
            if (hasValue) return value;
            if (i + 1 >= argc) fail(argument + " needs a value (see --help)");
            return argv[++i];
        };
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        } else if (argument == "--output") {
            options.outputDir = takeValue();
            if (options.outputDir.empty()) fail("--output needs a folder name");
        } else if (argument == "--seed") {
            const std::string text = takeValue();
            uint64_t seed = 0;
            if (!parseNumber(text, UINT32_MAX, seed)) fail("--seed takes a whole number from 0 to 4294967295, not '" + text + "'");
            options.seed = static_cast<uint32_t>(seed);
        } else if (argument == "--map-size") {
            const std::string text = takeValue();
            uint64_t size = 0;
            if (!parseNumber(text, datagen::maxMapSize, size) || size < static_cast<uint64_t>(datagen::minMapSize))
                fail("--map-size takes a whole number from 64 to 8192, not '" + text + "'");
            options.mapSize = static_cast<int>(size);
        } else if (argument == "--only-map" && !hasValue) {
            options.onlyMap = true;
        } else {
            fail("unknown option '" + std::string(argv[i]) + "' (see --help)");
        }
    }

    std::string error;
    if (!datagen::writeDataSet(options, error)) fail(error);
    std::cout << "Wrote " << datagen::dataSetFiles(options).size() << " files to " << options.outputDir << std::endl;
    return 0;
}
