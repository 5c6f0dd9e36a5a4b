// kelta-datagen: writes KELTA's run-time data set (height map, terrain materials, sky) into a folder.
#include "gpu/WholeNumber.h"
#include "tools/common/CommandLine.h"
#include "tools/datagen/DataGen.h"

#include <cstdint>
#include <cstdlib>
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

[[noreturn]] void fail(const std::string& text) {
    std::cerr << "kelta-datagen: " << text << std::endl;
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    datagen::DataSetOptions options;
    OptionReader reader(argc, argv);
    while (reader.next()) {
        const std::string& name = reader.name();
        if (reader.isFlag("--help") || reader.isFlag("-h")) {
            std::cout << usage;
            return 0;
        }
        if (reader.isFlag("--only-map")) {
            options.onlyMap = true;
            continue;
        }
        if (name != "--output" && name != "--seed" && name != "--map-size") fail(reader.unknownOption());
        std::string value, error;
        if (!reader.takeValue(value, error)) fail(error);
        if (name == "--output") {
            if (value.empty()) fail("--output needs a folder name");
            options.outputDir = value;
        } else if (name == "--seed") {
            uint64_t seed = 0;
            if (!parseWholeNumber(value, 0, UINT32_MAX, seed)) fail(reader.badValue("a whole number from 0 to 4294967295"));
            options.seed = static_cast<uint32_t>(seed);
        } else if (name == "--map-size") {
            if (!parseWholeNumber(value, datagen::MIN_MAP_SIZE, datagen::MAX_MAP_SIZE, options.mapSize)) {
                fail(reader.badValue("a whole number from 64 to 8192"));
            }
        }
    }

    std::string error;
    if (!datagen::writeDataSet(options, error)) fail(error);
    std::cout << "Wrote " << datagen::dataSetFiles(options).size() << " files to " << options.outputDir << std::endl;
    return 0;
}
