// Times the terrain mesh build (vertex records and strip indices) against a plain copy of the
// same number of bytes in the same run: the build should stay close to memory speed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "scene/TerrainMesh.h"

namespace {

struct MeshBuffers {
    HeightSamples map;
    std::vector<float> vertices;
    std::vector<uint32_t> indices;

    explicit MeshBuffers(int size)
        : map{size, size, 255, std::vector<uint16_t>(size_t(size) * size), {}, {}},
          vertices(terrainVertexCount(size, size) * TERRAIN_VERTEX_FLOATS),
          indices(terrainIndexCount(size, size)) {
        std::mt19937 random(7);
        for (uint16_t& sample : map.samples) sample = static_cast<uint16_t>(random() % 256);
    }

    size_t outputBytes() const { return vertices.size() * sizeof(float) + indices.size() * sizeof(uint32_t); }
};

void BM_TerrainMeshBuild(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    MeshBuffers buffers(size);
    for (auto _ : state) {
        buildTerrainVertices(buffers.map, imageMapGeometry(1.0f, 20.0f, buffers.map.largestValue),
                             buffers.vertices.data());
        buildTerrainIndices(size, size, nullptr, buffers.indices.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffers.outputBytes()));
}

// The baseline: copying as many bytes as the build writes.
void BM_CopySameBytes(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const size_t bytes = MeshBuffers(size).outputBytes();
    std::vector<uint8_t> source(bytes, 1);
    std::vector<uint8_t> target(bytes, 0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

}  // namespace

BENCHMARK(BM_TerrainMeshBuild)->Arg(512)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopySameBytes)->Arg(512)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
