// The shadows the terrain casts on itself and the sky light it lets reach its hollows, as the
// terrain's sunlit programs read them: per sample of a grid over the map, the share of the sun's
// disc seen over the horizon towards it and the share of the sky seen, computed from the heights
// and kept in two textures. Between samples the shares, not the horizons, are interpolated, so that
// a point takes the light of the samples around it as a filter of their shadows would.
//
// The work runs on a thread of its own, never in a frame: it reads the grid (the map's samples, or
// a streamed map's level that fits), gathers the sky's share once, the horizons for each new
// azimuth of the sun and the sun's share for each new position. Each frame uploads what it
// finished; until the first shares arrive the terrain is drawn unshadowed. Destroying it stops the work: a computation under way is finished
// first, and a reader is told to stop through the flag it is given.
#pragma once

#include <GL/glew.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// World heights over the map, south row first, NaN without data, one every `step` samples of the
// map in both directions, `columnSpacing` and `rowSpacing` apart in the world.
struct ShadowGrid {
    std::vector<float> heights;
    int width = 0;
    int height = 0;
    int step = 1;
    float columnSpacing = 1.0f;
    float rowSpacing = 1.0f;
};

// Every `factor`-th sample of the grid in both directions, which stand `factor` times farther apart.
ShadowGrid coarserGrid(const ShadowGrid& grid, int factor);

class TerrainShadows {
public:
    // Sides of the grid the horizons are computed on at most, and of the one the sky's share is:
    // a larger map is taken every few samples, which bounds the cost of a new sun and the textures'
    // memory. The sky's share changes slowly across the ground and costs many directions.
    static constexpr int LARGEST_SIDE = 4096;
    static constexpr int LARGEST_SKY_SIDE = 1024;
    // Azimuths the sky's share is gathered over.
    static constexpr int SKY_DIRECTIONS = 16;

    // Reads the grid on the worker thread; none (the map could not be read, or `stopping` was set)
    // leaves the terrain unshadowed.
    using GridReader = std::function<std::optional<ShadowGrid>(const std::atomic<bool>& stopping)>;
    explicit TerrainShadows(GridReader readGrid);
    // Stops the work and deletes the textures: the context that made them must be current.
    ~TerrainShadows();
    TerrainShadows(const TerrainShadows&) = delete;
    TerrainShadows& operator=(const TerrainShadows&) = delete;

    // Asks for the shadows of a sun at this azimuth (degrees from north, clockwise) and altitude.
    void faceSun(double azimuthDegrees, double altitudeDegrees);
    // Uploads what the worker finished and binds both textures to their units; false while there
    // are no shadows yet.
    bool bind();
    // Waits until the shadows of the last sun asked are finished (or there will be none), up to
    // `deadline`, and uploads them; false when the deadline passed first.
    bool settle(std::chrono::steady_clock::time_point deadline);
    // Whether the textures bound are those of the last sun asked (or there will be none).
    bool isSettled() const;
    // Map samples between two texels of the sun's texture and of the sky's.
    float sunStep() const { return static_cast<float>(sunSampleStep); }
    float skyStep() const { return static_cast<float>(skySampleStep); }

private:
    // Shares of 0 to 1 in 255ths, a byte a sample: as the textures hold them.
    struct Finished {
        std::vector<uint8_t> values;
        int width = 0;
        int height = 0;
        int step = 1;
    };

    void work(GridReader readGrid);
    // Replaces the textures with what the worker finished since the last call.
    void upload();

    std::thread worker;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::condition_variable changed;
    // The sun's azimuth and altitude in degrees.
    using SunAngles = std::pair<double, double>;
    // Guarded by the mutex: the sun asked for, what the worker finished for the frames to upload,
    // the sun of the shares last finished, and whether the worker has ended.
    std::optional<SunAngles> wantedSun;
    std::optional<Finished> finishedSunShares;
    std::optional<Finished> finishedSky;
    std::optional<SunAngles> finishedSun;
    bool ended = false;

    GLuint sunTexture = 0;
    GLuint skyTexture = 0;
    int sunSampleStep = 1;
    int skySampleStep = 1;
};

// The step that brings a map of width x height samples within `largestSide`.
int gridStep(int width, int height, int largestSide);
