// kelta-bench: start-up and frame timings of KELTA's real pipeline, one fresh process per map,
// as a table and as JSON.
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "io/AtomicFile.h"
#include "io/DataPath.h"
#include "tools/bench/BenchOptions.h"
#include "tools/bench/BenchReport.h"
#include "tools/bench/BenchRunner.h"
#include "tools/bench/ChildProcess.h"
#include "tools/common/ToolRun.h"
#include "tools/datagen/DataGen.h"

namespace fs = std::filesystem;

namespace {

// The large default map is not part of the data set the build writes; it is made once, in the
// data set that kelta-bench and kelta read. Like every file the tools write it is replaced
// whole, so an interrupted run leaves no cut-off map behind.
void ensureLargeMap() {
    std::error_code error;
    if (fs::is_regular_file(resolveDataPath(LARGE_MAP), error)) return;
    const std::string dataFolder = dataRoot().empty() ? "." : dataRoot();
    std::cerr << "kelta-bench: Maps/Lake_4096.bmp is missing; generating it in " << dataFolder << std::endl;

    datagen::DataSetOptions options;
    options.outputDir = dataFolder;
    options.mapSize = LARGE_MAP_SIZE;
    options.onlyMap = true;
    options.force = true;
    std::string message;
    if (!datagen::writeDataSet(options, message)) fail(message);
}

// The last line the program printed before it ended: its own explanation of a fatal condition.
std::string lastLine(const std::string& output) {
    std::istringstream lines(output);
    std::string line, last;
    while (std::getline(lines, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}

std::string failureText(const ChildOutcome& outcome) {
    if (!outcome.failure.empty()) return "failed: " + outcome.failure;
    if (!outcome.exitedNormally) return "was killed by signal " + std::to_string(outcome.signal);
    const std::string text = "ended with exit code " + std::to_string(outcome.exitCode);
    // The program ends with code 1 after one line that says why; other codes come with none.
    const std::string said = outcome.exitCode == 1 ? lastLine(outcome.output) : "";
    return said.empty() ? text : text + ": " + said;
}

}  // namespace

int main(int argc, char** argv) {
    startTool("kelta-bench", killRunningChild);
    BenchOptions options;
    std::string error;
    if (!parseBenchOptions(argc, argv, options, error)) fail(error);
    if (options.wantsHelp) {
        printResult(benchUsage());
        return finishTool();
    }
    if (options.wantsVersion) {
        printVersion();
        return finishTool();
    }
    // Checked before the runs, so that a bad path fails at once and not after minutes of
    // frames; the file itself is only replaced once there are results to put in it.
    const bool jsonToFile = !options.jsonPath.empty() && options.jsonPath != "-";
    if (jsonToFile && !checkReplaceable(options.jsonPath, error)) fail(error);
    if (options.sizes.empty()) options.sizes.assign(std::begin(DEFAULT_BENCH_SIZES), std::end(DEFAULT_BENCH_SIZES));
    if (options.maps.empty()) {
        ensureLargeMap();
        const bool levelOfDetail = options.terrain.levelOfDetail;
        const bool stream = options.terrain.stream;
        options.maps = {{DEFAULT_MAP, levelOfDetail, stream}, {LARGE_MAP, levelOfDetail, stream}};
        if (!levelOfDetail && !stream) options.maps.push_back({LARGE_MAP, true, false});
    }

    Json device;
    std::vector<Json> maps;
    for (const BenchMap& benchMap : options.maps) {
        const std::string& map = benchMap.path;
        ChildOutcome outcome;
        if (!runInChildProcess([&]() { return runMapBenchmark(options, benchMap); }, outcome, error)) fail(error);
        if (!outcome.succeeded()) fail("the run of " + map + " " + failureText(outcome));
        const Json answer = Json::parse(outcome.message, nullptr, false);
        if (answer.is_discarded() || !answer.contains("device") || !answer.contains("map")) {
            fail("the run of " + map + " sent back no results");
        }
        device = answer["device"];
        maps.push_back(answer["map"]);
    }

    const Json report = reportJson(device, options, maps);
    const std::string table = formatTable(report);
    if (options.jsonPath == "-") {
        printResult(jsonText(report, 2) + "\n");
        std::cerr << table << std::flush;
        return finishTool();
    }
    printResult(table);
    if (jsonToFile && !replaceFile(options.jsonPath, jsonText(report, 2) + "\n", error)) fail(error);
    return finishTool();
}
