// The shadows the terrain casts on itself and the sky light it lets reach its hollows, as the
// terrain's sunlit programs read them: per sample of grids over the map, the share of the sun's
// disc seen over the horizon towards it and the share of the sky seen, computed from the heights
// and kept in textures. Between samples the shares, not the horizons, are interpolated, so that
// a point takes the light of the samples around it as a filter of their shadows would.
//
// The sun's shares come in layers: one grid over the whole map, and where that grid skips samples,
// windows of finer grids around the camera, each four times finer than the one around it and
// down to every sample. A window's horizons take in the terrain of the grids around it, so that a
// range beyond the window still shades it, while the ground near the camera casts shadows of its
// own detail; the programs fade from each window to the next coarser one at its edges.
//
// The work runs on a thread of its own, or a streamed map's loader's, never in a frame: it reads the grids, gathers the sky's
// share once, and the horizons and the sun's share for each new position of the sun, and of each
// window the camera moved. Each frame uploads what it finished; until the first
// shares arrive the terrain is drawn unshadowed. Destroying it stops the work: a computation under
// way is finished first, and a reader is told to stop through the flag it is given.
#pragma once

#include <GL/glew.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// A grid of the map's heights: every `step` samples of the map in both directions, width x height
// of them, the first (south-western) at the map's sample (firstColumn, firstRow), rows counted
// from the south.
struct ShadowLevel {
    int step = 1;
    int width = 0;
    int height = 0;
    int firstColumn = 0;
    int firstRow = 0;
};

// World heights over a grid or a part of one, south row first, NaN without data, `columnSpacing`
// and `rowSpacing` apart in the world; `place` says where they lie on the map, its size theirs.
struct ShadowGrid {
    std::vector<float> heights;
    ShadowLevel place;
    float columnSpacing = 1.0f;
    float rowSpacing = 1.0f;
};

// Every `factor`-th sample of the grid in both directions, which stand `factor` times farther apart.
ShadowGrid coarserGrid(const ShadowGrid& grid, int factor);

// What the shadows read their heights from, on their own thread: a map drawn whole, or a streamed
// map's pyramid.
class ShadowHeights {
public:
    virtual ~ShadowHeights() = default;
    // The grids it reads, finest (every sample) first, each twice as coarse as the one before.
    virtual const std::vector<ShadowLevel>& levels() const = 0;
    // `columns` x `rows` samples of `level` from its sample (column, row); none when they cannot be
    // read or `stopping` was set.
    virtual std::optional<ShadowGrid> read(const ShadowLevel& level, int column, int row, int columns, int rows,
                                           const std::atomic<bool>& stopping) = 0;
};

// Where a layer of the sun's shares lies on the map, in map samples, as the programs take it: its
// first texel, the samples between texels, and the rectangle it is taken whole in (first column
// and row, last column and row), beyond which it fades into the next coarser layer; sides on the
// map's edge reach out without end.
struct ShadowLayerPlace {
    float firstColumn = 0.0f;
    float firstRow = 0.0f;
    float step = 1.0f;
    std::array<float, 4> reach{};
};

// A layer's shares as the texture holds them: `rowLength` texels a row, its grid's own `columns` x
// `rows` of them first in each row and in the first rows, placed on the map as `place` says.
struct LayerTexels {
    uint8_t* values = nullptr;
    int columns = 0;
    int rows = 0;
    int rowLength = 0;
    ShadowLayerPlace place;
};

// Fades a window's shares into those of the layer around it over its outer `fade` samples of its
// own grid, on the sides within the map, taking the coarser layer's as the texture filters them:
// at the window's edge its shares are the coarser layer's. A point then takes its share from the
// finest layer that reaches it alone.
void fadeIntoCoarser(LayerTexels finer, const LayerTexels& coarser, int fade);

class TerrainShadows {
public:
    // Sides of the whole grid the horizons of a map drawn whole are computed on at most, and of
    // the one the sky's share is: a larger map is taken every few samples, which bounds the cost
    // of a new sun. The sky's share changes slowly across the ground and costs many directions.
    static constexpr int LARGEST_SIDE = 4096;
    static constexpr int LARGEST_SKY_SIDE = 1024;
    // A streamed map's whole grid is smaller: its windows give the detail, and its memory stays
    // within what streaming promises.
    static constexpr int LARGEST_STREAMED_SIDE = 1024;
    // Sides of a window; layers at most, the whole grid's included.
    static constexpr int WINDOW_SIDE = 1024;
    static constexpr int LAYERS = 4;
    // Samples of a window's own grid over which it fades into the layer around it at its edges.
    static constexpr int LAYER_FADE = 64;
    // Azimuths the sky's share is gathered over.
    static constexpr int SKY_DIRECTIONS = 16;

    // Runs the work it is given on a thread that is not the frame's, at a lower priority: the
    // sweeps' own threads, started from it, inherit it.
    using WorkRunner = std::function<void(std::function<void()>)>;

    // Computes the shadows from `heights`, its whole grid the finest level within `largestSide`: on
    // the thread `runner` gives (a streamed map's tile loader's), else on a thread of its own.
    TerrainShadows(std::unique_ptr<ShadowHeights> heights, int largestSide, const WorkRunner& runner = {});
    // Stops the work, waiting for it to end, and deletes the textures: the context that made them
    // must be current, and a runner given must still run what it was given.
    ~TerrainShadows();
    TerrainShadows(const TerrainShadows&) = delete;
    TerrainShadows& operator=(const TerrainShadows&) = delete;

    // Asks for the shadows of a sun at this azimuth (degrees from north, clockwise) and altitude,
    // with the windows around the camera above the map's point (column, row) in samples, rows
    // from the south.
    void faceSun(double azimuthDegrees, double altitudeDegrees);
    void followCamera(double mapColumn, double mapRow);
    // Uploads what the worker finished and binds both textures to their units; false while there
    // are no shadows yet.
    bool bind();
    // Waits until the shadows last asked for are finished (or there will be none), up to
    // `deadline`, and uploads them; false when the deadline passed first.
    bool settle(std::chrono::steady_clock::time_point deadline);
    // Whether the textures bound are those last asked for (or there will be none).
    bool isSettled() const;
    // Where the bound layers of the sun's shares lie, coarsest first, and the sky's share.
    const std::vector<ShadowLayerPlace>& sunLayers() const { return boundLayers; }
    const ShadowLayerPlace& skyPlace() const { return boundSky; }

private:
    // The first column and row of each window on its level, finest last.
    using WindowCorners = std::vector<std::pair<int, int>>;
    // The sun's azimuth and altitude in degrees.
    using SunAngles = std::pair<double, double>;
    struct Wanted {
        SunAngles sun;
        WindowCorners windows;
        bool operator==(const Wanted& other) const { return sun == other.sun && windows == other.windows; }
        bool operator!=(const Wanted& other) const { return !(*this == other); }
    };
    // Shares of 0 to 1 in 255ths, a byte a sample, as the textures hold them: layers of width x
    // height each, their edges carried out over what a layer's grid does not fill.
    struct Finished {
        std::vector<uint8_t> values;
        int width = 0;
        int height = 0;
        std::vector<ShadowLayerPlace> places;
    };
    // A layer as the worker keeps it: its heights and the sun's shares over them, with the sun they
    // are of. Its horizons are not kept: they would take four times the shares' memory, for a sun
    // that only rises or sets, which the time of day never moves.
    struct Layer {
        ShadowGrid grid;
        std::vector<uint8_t> shares;
        std::optional<SunAngles> sharesSun;
    };

    WindowCorners windowsAround(double mapColumn, double mapRow) const;
    // The sky's share over the whole grid, or every few samples of it.
    Finished skySharesOf(const ShadowGrid& grid) const;
    void work();
    // Brings `layer` (0 the whole grid) to the wanted window and sun; false when its heights could
    // not be read. `coarserMoved` says whether a layer around it was read anew, and is set when
    // this one is.
    bool prepareLayer(size_t layer, const Wanted& wanted, bool& coarserMoved);
    // The sun's shares of the first `layerCount` layers, laid out as the texture holds them.
    Finished sharesOf(size_t layerCount) const;
    ShadowLayerPlace placeOf(const ShadowGrid& grid, const ShadowLevel& level) const;
    // Replaces the textures with what the worker finished since the last call.
    void upload();

    std::unique_ptr<ShadowHeights> heights;
    // The levels of the whole grid and the windows, coarsest first.
    std::vector<ShadowLevel> layerLevels;
    std::vector<Layer> layers;

    // The worker's thread, when it has one of its own.
    std::thread worker;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::condition_variable changed;
    // Guarded by the mutex: what was asked for, what the worker finished for the frames to
    // upload, what the shares last finished are of, and whether the worker has ended.
    std::optional<SunAngles> wantedSun;
    WindowCorners wantedWindows;
    std::optional<Finished> finishedSunShares;
    std::optional<Finished> finishedSky;
    std::optional<Wanted> finishedFor;
    bool ended = false;

    GLuint sunTexture = 0;
    GLuint skyTexture = 0;
    int sunTextureWidth = 0, sunTextureHeight = 0, sunTextureLayers = 0;
    std::vector<ShadowLayerPlace> boundLayers;
    ShadowLayerPlace boundSky;
};

// The step that brings a map of width x height samples within `largestSide`.
int gridStep(int width, int height, int largestSide);
