// kelta-bench: start-up and frame timings of KELTA's real pipeline, one fresh process per map,
// as a table and as JSON.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "gpu/DataPath.h"
#include "tools/bench/BenchOptions.h"
#include "tools/bench/BenchReport.h"
#include "tools/bench/BenchRunner.h"
#include "tools/bench/ChildProcess.h"
#include "tools/datagen/DataGen.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& line) {
    std::cerr << "kelta-bench: " << line << std::endl;
    std::exit(1);
}

// The large default map is not part of the data set the build writes; it is made once, beside
// the executable where kelta-bench and kelta look for data. It is written aside and moved into
// place, so that an interrupted run leaves no cut-off map behind.
void ensureLargeMap() {
    std::error_code error;
    if (fs::is_regular_file(resolveDataPath(LARGE_MAP), error)) return;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) fail(std::string("cannot find the folder of the executable: ") + error.message());
    const fs::path dataFolder = executable.parent_path() / "data";
    const fs::path staging = dataFolder / (".kelta-bench-" + std::to_string(getpid()));
    std::cerr << "kelta-bench: " << LARGE_MAP << " is missing; generating it in " << dataFolder.string() << std::endl;

    datagen::DataSetOptions options;
    options.outputDir = staging.string();
    options.mapSize = LARGE_MAP_SIZE;
    options.onlyMap = true;
    std::string message;
    if (!datagen::writeDataSet(options, message)) fail(message);
    const fs::path target = dataFolder / LARGE_MAP;
    fs::create_directories(target.parent_path(), error);
    if (!error) fs::rename(staging / datagen::dataSetFiles(options).front(), target, error);
    if (error) fail("cannot move the generated map to " + target.string() + ": " + error.message());
    fs::remove_all(staging, error);
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
    std::string text = outcome.exitedNormally ? "ended with exit code " + std::to_string(outcome.exitCode)
                                              : "was killed by signal " + std::to_string(outcome.signal);
    const std::string said = lastLine(outcome.output);
    return said.empty() ? text : text + ": " + said;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    std::string error;
    if (!parseBenchOptions(argc, argv, options, error)) fail(error);
    if (options.wantsHelp) {
        std::cout << BENCH_USAGE;
        return 0;
    }
    if (options.sizes.empty()) options.sizes.assign(std::begin(DEFAULT_BENCH_SIZES), std::end(DEFAULT_BENCH_SIZES));
    if (options.maps.empty()) {
        ensureLargeMap();
        options.maps = {DEFAULT_MAP, LARGE_MAP};
    }
    // Opened before the runs, so that a bad path fails at once and not after minutes of frames.
    std::ofstream jsonFile;
    if (!options.jsonPath.empty() && options.jsonPath != "-") {
        jsonFile.open(options.jsonPath);
        if (!jsonFile) fail("cannot write " + options.jsonPath);
    }

    Json device;
    std::vector<Json> maps;
    for (const std::string& map : options.maps) {
        ChildOutcome outcome;
        if (!runInChildProcess([&]() { return runMapBenchmark(options, map); }, outcome, error)) fail(error);
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
        std::cout << report.dump(2) << std::endl;
        std::cerr << table << std::flush;
        return 0;
    }
    std::cout << table << std::flush;
    if (jsonFile.is_open()) {
        jsonFile << report.dump(2) << std::endl;
        if (!jsonFile) fail("cannot write " + options.jsonPath);
    }
    return 0;
}
