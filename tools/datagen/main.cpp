// kelta-datagen: writes KELTA's run-time data set (height map, terrain materials, sky) into a folder.
#include "io/WholeNumber.h"
#include "io/CommandLine.h"
#include "tools/common/ToolRun.h"
#include "tools/datagen/DataGen.h"

#include <cstdint>
#include <string>

namespace {

const char* const USAGE =
    "Usage: kelta-datagen [options]\n"
    "Writes KELTA's data set: Maps/Lake_<size>.bmp, the nine terrain materials and\n"
    "Textures/Skydome.bmp, the same bytes on every run for the same options, with a line for\n"
    "each file as it is written. A whole data set always holds kelta's default map,\n"
    "Maps/Lake_512.bmp, so that kelta runs in it as it is: with another --map-size or with\n"
    "--map-format png16 that map is written too, from the same seed.\n"
    "\n"
    "Each file is replaced whole or not at all: it is written beside its place and renamed\n"
    "over it once complete, so a failed run leaves the folder as it was. A file already there\n"
    "is only replaced when it holds exactly the bytes this run writes, that is when it is\n"
    "this run's own file; anything else is taken for a file of yours and the run stops before\n"
    "writing anything, unless --force is given. A folder, device or pipe in a file's place is\n"
    "never replaced.\n"
    "\n"
    "Options:\n"
    "  --output DIR     folder to write into, made if missing (default: the working directory)\n"
    "  --seed N         variation of the landscape and materials, 0 to 4294967295 (default: 1)\n"
    "  --map-size N     height map of N x N pixels, 64 to 8192 (default: 512)\n"
    "  --map-format F   bmp8: 8-bit grey Maps/Lake_<size>.bmp (default); png16: 16-bit grey\n"
    "                   Maps/Lake_<size>.png, without the 8-bit map's height steps\n"
    "  --only-map       write the height map alone\n"
    "  --force          replace files that differ from what this run writes\n"
    "  --help           show this text\n"
    "  --version        print the version\n";

}  // namespace

int main(int argc, char** argv) {
    startTool("kelta-datagen");
    datagen::DataSetOptions options;
    OptionReader reader(argc, argv);
    while (reader.next()) {
        const std::string& name = reader.name();
        if (reader.isFlag("--help") || reader.isFlag("-h")) {
            printResult(USAGE);
            return finishTool();
        }
        if (reader.isFlag("--version")) {
            printVersion();
            return finishTool();
        }
        if (reader.isFlag("--only-map")) {
            options.onlyMap = true;
            continue;
        }
        if (reader.isFlag("--force")) {
            options.force = true;
            continue;
        }
        if (name != "--output" && name != "--seed" && name != "--map-size" && name != "--map-format") {
            fail(reader.unknownOption());
        }
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
        } else if (name == "--map-format") {
            if (value == "bmp8") {
                options.mapFormat = datagen::MapFormat::Bmp8;
            } else if (value == "png16") {
                options.mapFormat = datagen::MapFormat::Png16;
            } else {
                fail(reader.badValue("bmp8 or png16"));
            }
        }
    }

    std::string error;
    const auto reportFile = [](const std::string& file) { printResult("Wrote " + file + "\n"); };
    if (!datagen::writeDataSet(options, error, reportFile)) fail(error);
    const size_t fileCount = datagen::dataSetFiles(options).size();
    printResult("Wrote " + std::to_string(fileCount) + (fileCount == 1 ? " file to " : " files to ") +
                options.outputDir + "\n");
    return finishTool();
}
