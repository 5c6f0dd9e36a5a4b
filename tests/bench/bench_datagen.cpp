// Times the data generator: the whole default data set against writing the same bytes to the same
// folder in the same run (the ratio is the counter "vs_write"), and its parts, the height map at
// several sizes among them.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "io/BitmapWriter.h"
#include "tools/datagen/DataGen.h"

namespace fs = std::filesystem;
using namespace datagen;

namespace {

std::string makeTempDir() {
    std::string pattern = (fs::temp_directory_path() / "kelta-bench-datagen-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

struct FileBytes {
    fs::path path;
    std::vector<uint8_t> bytes;
};

// The default data set's files as written, to be written again as the baseline.
std::vector<FileBytes> defaultFiles(const std::string& dir) {
    DataSetOptions options;
    options.outputDir = dir;
    std::string error;
    writeDataSet(options, error);
    std::vector<FileBytes> files;
    for (const std::string& relative : dataSetFiles(options)) {
        std::ifstream in(fs::path(dir) / relative, std::ios::binary);
        files.push_back({fs::path(dir) / relative,
                         std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
    }
    return files;
}

double secondsToWrite(const std::vector<FileBytes>& files) {
    const auto start = std::chrono::steady_clock::now();
    for (const FileBytes& file : files) writeFile(file.path.string(), file.bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_DefaultDataSet(benchmark::State& state) {
    const std::string dir = makeTempDir();
    const std::vector<FileBytes> files = defaultFiles(dir);
    DataSetOptions options;
    options.outputDir = dir;
    double generating = 0.0, writing = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::string error;
        if (!writeDataSet(options, error)) state.SkipWithError(error.c_str());
        generating += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        writing += secondsToWrite(files);
        state.ResumeTiming();
    }
    state.counters["vs_write"] = generating / writing;
    state.counters["seconds"] = generating / static_cast<double>(state.iterations());
    fs::remove_all(dir);
}

// The baseline alone: writing the eleven files' bytes.
void BM_WriteSameBytes(benchmark::State& state) {
    const std::string dir = makeTempDir();
    const std::vector<FileBytes> files = defaultFiles(dir);
    for (auto _ : state) secondsToWrite(files);
    fs::remove_all(dir);
}

void BM_HeightMap(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(generateHeightMap(size, DEFAULT_SEED));
    state.SetItemsProcessed(int64_t(state.iterations()) * size * size);
}

void BM_Materials(benchmark::State& state) {
    for (auto _ : state)
        for (int k = 0; k < MATERIAL_COUNT; ++k)
            benchmark::DoNotOptimize(generateMaterial(static_cast<Material>(k), MATERIAL_SIZE, DEFAULT_SEED));
}

void BM_Skydome(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(generateSkydome(SKY_SIZE, DEFAULT_SEED));
}

}  // namespace

BENCHMARK(BM_DefaultDataSet)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_WriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HeightMap)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Materials)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Skydome)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
