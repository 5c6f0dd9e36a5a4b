// The sun's and the sky's shares computed on a worker thread from the heights, uploaded as
// single-channel textures when finished.
#include "light/TerrainShadows.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "gpu/TextureUnits.h"
#include "gpu/UnpackAlignment.h"
#include "light/Horizons.h"

namespace {

// How much lower than the frame's the worker's priority is (a nice value).
constexpr int BACKGROUND_NICENESS = 10;

// The sweeps share the processor with the loaders and the frame; they take all of it for the
// little while they run.
int sweepThreads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

HeightGrid heightGridOf(const ShadowGrid& grid) {
    return HeightGrid{grid.heights.data(), grid.width, grid.height, grid.columnSpacing, grid.rowSpacing};
}

// A share of 0 to 1 in 255ths.
uint8_t shareByte(float share) { return static_cast<uint8_t>(std::lround(std::clamp(share, 0.0f, 1.0f) * 255.0f)); }

std::vector<uint8_t> shareBytes(const std::vector<float>& shares) {
    std::vector<uint8_t> bytes(shares.size());
    std::transform(shares.begin(), shares.end(), bytes.begin(), shareByte);
    return bytes;
}

// Replaces `texture` by a linearly filtered texture of one byte a texel, its edges clamped.
void replaceTexture(GLuint& texture, int width, int height, const std::vector<uint8_t>& values) {
    glDeleteTextures(1, &texture);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const UnpackAlignment rows(1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, width, height, 0, GL_RED, GL_UNSIGNED_BYTE, values.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace

int gridStep(int width, int height, int largestSide) {
    int step = 1;
    while ((std::max(width, height) - 1) / step + 1 > largestSide) ++step;
    return step;
}

ShadowGrid coarserGrid(const ShadowGrid& grid, int factor) {
    ShadowGrid coarser;
    coarser.width = (grid.width - 1) / factor + 1;
    coarser.height = (grid.height - 1) / factor + 1;
    coarser.step = grid.step * factor;
    coarser.columnSpacing = grid.columnSpacing * static_cast<float>(factor);
    coarser.rowSpacing = grid.rowSpacing * static_cast<float>(factor);
    coarser.heights.reserve(size_t(coarser.width) * size_t(coarser.height));
    for (int row = 0; row < grid.height; row += factor) {
        for (int column = 0; column < grid.width; column += factor) {
            coarser.heights.push_back(grid.heights[size_t(row) * size_t(grid.width) + size_t(column)]);
        }
    }
    return coarser;
}

TerrainShadows::TerrainShadows(GridReader readGrid) : worker(&TerrainShadows::work, this, std::move(readGrid)) {}

TerrainShadows::~TerrainShadows() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
    glDeleteTextures(1, &sunTexture);
    glDeleteTextures(1, &skyTexture);
}

void TerrainShadows::faceSun(double azimuthDegrees, double altitudeDegrees) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        const SunAngles sun{azimuthDegrees, altitudeDegrees};
        if (wantedSun == sun) return;
        wantedSun = sun;
    }
    changed.notify_all();
}

void TerrainShadows::work(GridReader readGrid) {
    // The frame comes first: on a machine of few cores the sweeps would take its time. The sweeps'
    // own threads, started from this one, inherit its priority.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), BACKGROUND_NICENESS);
    const std::optional<ShadowGrid> grid = readGrid(stopping);
    if (grid && !stopping) {
        const ShadowGrid sky = coarserGrid(*grid, gridStep(grid->width, grid->height, LARGEST_SKY_SIDE));
        Finished shares{shareBytes(skyVisibility(heightGridOf(sky), SKY_DIRECTIONS, sweepThreads())), sky.width,
                        sky.height, sky.step};
        std::unique_lock<std::mutex> lock(mutex);
        finishedSky = std::move(shares);
        // The horizons of the azimuth last swept: a sun that only rises or sets needs no sweep.
        std::optional<double> sweptAzimuth;
        std::vector<float> tangents;
        for (;;) {
            changed.wait(lock, [&] { return stopping || (wantedSun && wantedSun != finishedSun); });
            if (stopping) break;
            const SunAngles sun = *wantedSun;
            lock.unlock();
            if (sweptAzimuth != sun.first) {
                // Let go of the old horizons first: on a 4096 grid each set is 64 MB.
                tangents = {};
                sweptAzimuth.reset();
                tangents = horizonTangents(heightGridOf(*grid), sun.first, sweepThreads());
                sweptAzimuth = sun.first;
            }
            Finished sunShares{std::vector<uint8_t>(tangents.size()), grid->width, grid->height, grid->step};
            for (size_t k = 0; k < tangents.size(); ++k) sunShares.values[k] = shareByte(sunDiscShare(tangents[k], sun.second));
            lock.lock();
            finishedSunShares = std::move(sunShares);
            finishedSun = sun;
            changed.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
}

void TerrainShadows::upload() {
    // Uploads bind on the shadows' own unit, which leaves every other texture bound as it was.
    glActiveTexture(GL_TEXTURE0 + SUN_SHARES_UNIT);
    std::optional<Finished> sunShares, sky;
    {
        std::lock_guard<std::mutex> lock(mutex);
        sunShares.swap(finishedSunShares);
        sky.swap(finishedSky);
    }
    if (sky) {
        replaceTexture(skyTexture, sky->width, sky->height, sky->values);
        skySampleStep = sky->step;
    }
    if (sunShares) {
        replaceTexture(sunTexture, sunShares->width, sunShares->height, sunShares->values);
        sunSampleStep = sunShares->step;
    }
}

bool TerrainShadows::bind() {
    upload();
    if (sunTexture == 0 || skyTexture == 0) return false;
    glActiveTexture(GL_TEXTURE0 + SUN_SHARES_UNIT);
    glBindTexture(GL_TEXTURE_2D, sunTexture);
    glActiveTexture(GL_TEXTURE0 + SKY_VISIBILITY_UNIT);
    glBindTexture(GL_TEXTURE_2D, skyTexture);
    return true;
}

bool TerrainShadows::settle(std::chrono::steady_clock::time_point deadline) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        const bool done = changed.wait_until(lock, deadline, [&] {
            return ended || (wantedSun && wantedSun == finishedSun);
        });
        if (!done) return false;
    }
    upload();
    return true;
}

bool TerrainShadows::isSettled() const {
    std::lock_guard<std::mutex> lock(mutex);
    return ended || (wantedSun && wantedSun == finishedSun && !finishedSunShares && !finishedSky);
}
