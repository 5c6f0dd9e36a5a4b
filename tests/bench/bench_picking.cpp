// Times picking on a map drawn whole, which runs every frame the point under the cursor is shown:
// its worst case is a ray that skims the ground all the way across the map, where no block can be
// skipped, against a ray that looks down onto it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "scene/GroundHeights.h"

namespace {

// A square map of `size` samples a side whose values rise by 2 a column, eastwards.
WholeMapHeights risingPlane(int size) {
    std::vector<uint16_t> samples(size_t(size) * size);
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) samples[size_t(row) * size + column] = uint16_t(column * 2);
    }
    return WholeMapHeights(size, size, std::move(samples), {});
}

// The plane, and a ray along its diagonal a little above it, that leaves the map unmet.
void BM_PickSkimmingTheGround(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const WholeMapHeights heights = risingPlane(size);
    TerrainGeometry geometry;
    geometry.heightPerValue = 0.25f;
    // y = column / 2 on the ground; the ray climbs as fast, half a unit above it.
    const vec3 origin{0.0f, 0.5f, 0.0f};
    const vec3 direction = normalize(vec3{1.0f, 0.5f, -1.0f});
    for (auto _ : state) benchmark::DoNotOptimize(heights.pick(geometry, origin, direction));
}

// The same map, and a ray down onto its middle from above.
void BM_PickLookingDown(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const WholeMapHeights heights = risingPlane(size);
    TerrainGeometry geometry;
    geometry.heightPerValue = 0.25f;
    const vec3 origin{size * 0.4f, size * 1.0f, -size * 0.4f};
    const vec3 direction = normalize(vec3{0.2f, -1.0f, -0.2f});
    for (auto _ : state) benchmark::DoNotOptimize(heights.pick(geometry, origin, direction));
}

}  // namespace

BENCHMARK(BM_PickSkimmingTheGround)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PickLookingDown)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);
