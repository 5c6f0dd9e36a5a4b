// The terrain streamed from a map's pyramid, for maps of any size: the heights of every level live in
// one fixed-size GPU cache of tiles (a texture array, with a page table per level), read on
// background threads and uploaded a few tiles a frame, so that memory and start-up do not grow with
// the map and a frame never waits for the disk. Nodes are chosen as level of detail chooses them,
// each drawn from the finest data the cache holds; finer tiles fade in as they arrive.
#pragma once

#include <GL/glew.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/TileLoader.h"
#include "io/TileSource.h"
#include "scene/GroundHeights.h"
#include "scene/NodeGrid.h"
#include "scene/TerrainGeometry.h"
#include "scene/TerrainStreamTree.h"
#include "scene/TerrainSurface.h"
#include "scene/TileCache.h"

class TerrainStreamShader;

class TerrainStream : public TerrainSurface {
public:
    // What one frame may upload at most, so that arriving tiles never hold a frame up.
    static constexpr int TILES_UPLOADED_PER_FRAME = 8;
    static constexpr double UPLOAD_SECONDS_PER_FRAME = 0.002;
    // How long a newly held tile takes to fade in over the coarser level.
    static constexpr double FADE_SECONDS = 0.25;
    // The coarsest levels are held from the start and never replaced: as many whole levels as fit in
    // this many tiles, and the coarsest level however many tiles it has.
    static constexpr int PINNED_TILES = 21;
    // The processor's copy of held tiles, for picking: a few MB (some fifteen tiles of 256 quads,
    // the coarsest level's among them), since a streamed map's memory must not grow with the map.
    static constexpr size_t HELD_HEIGHT_BYTES = size_t(4) << 20;

    // The streaming programs, one per shading mode (index mode - 1).
    std::unique_ptr<TerrainStreamShader> shaders[5];
    // Largest projected geometric error allowed, in pixels.
    float errorPixels = 1.0f;
    // Seconds on the clock that fades follow: a steady clock unless a test sets its own.
    std::function<double()> clock;

    // The cache layers that `megabytes` of the map's tiles take, as many as this GL allows and no
    // more than twice the map's tiles: a small map does not hold memory it can never fill.
    static int cacheLayersFor(int megabytes, const TileMap& map);

    // Reads the coarsest levels into a cache of `cacheLayers` tiles before returning, calling
    // `awaitTiles` while none has arrived (it should wait a moment, and may keep a window alive),
    // starts the background readers and builds the programs; the map is placed by the geometry.
    // Null, with the line that says why in `failure`, when the coarsest levels could not be loaded.
    static std::unique_ptr<TerrainStream> create(std::unique_ptr<TileSource> source, const TerrainGeometry& geometry,
                                                 float errorPixels, int cacheLayers,
                                                 const std::function<void()>& awaitTiles, std::string& failure);
    ~TerrainStream() override;
    TerrainStream(const TerrainStream&) = delete;
    TerrainStream& operator=(const TerrainStream&) = delete;

    const TileMap& map() const { return source->map(); }
    // The source the tiles are read from, shared with other readers of the map's levels.
    std::shared_ptr<const TileSource> tileSource() const { return source; }
    const TileCache& cache() const { return tileCache; }
    // A copy of the tiles the cache drew last, within HELD_HEIGHT_BYTES, and of its coarsest level.
    const HeldTileHeights& heldHeights() const { return heldTiles; }
    // The bytes of tiles the cache holds, for the log: "64 MB", "0.5 MB".
    std::string cacheSize() const;

    TerrainShader& program(int mode, TerrainShader& selected) override;
    // Takes the tiles that arrived, chooses the nodes for the view, uploads what they want within the
    // frame's budget, asks for the rest, and draws.
    void draw(const TerrainView& view, TerrainShader& program) override;
    void placeHeights(const TerrainGeometry& placed) override;
    // What draw does before it draws, for a still picture that waits for its tiles without drawing
    // frames: true when the view wants nothing that the cache does not hold.
    bool takeArrivals(const TerrainView& view);
    // Waits until the tiles asked for have arrived, or `longest` has passed; not at all while
    // arrived tiles wait for takeArrivals.
    void awaitArrivals(std::chrono::milliseconds longest);
    // Shows every tile that is fading in as if its fade had ended: a still need not wait for the clock.
    void finishFades();
    uint64_t primitiveCount() const override { return lastPrimitiveCount; }
    bool isSettled() const override;
    StreamCounters streamCounters() const override;

    // What streaming is doing now: the tiles the last frame wanted, those of them still on their way,
    // and what the cache holds.
    struct Activity {
        uint64_t wanted = 0;
        uint64_t loading = 0;
        uint64_t held = 0;
        double heldMegabytes = 0.0;
        double cacheMegabytes = 0.0;
    };
    Activity activity() const;

    // The first failure to read a tile, once (a lost connection, say); the tiles held are drawn on.
    std::optional<std::string> readFailure() { return loader->failure(); }
    // Runs work on the map's heights that no frame waits for on the loader's background thread.
    void runInBackground(std::function<void()> work) { loader->runInBackground(std::move(work)); }

private:
    TerrainStream(std::unique_ptr<TileSource> source, const TerrainGeometry& geometry, float errorPixels,
                  int cacheLayers, const std::function<void()>& awaitTiles);

    // Empty, or why the coarsest levels could not be loaded (nothing can be drawn then).
    std::string loadFailure;
    // Shared with the background readers, which may outlive the stream by a read under way.
    std::shared_ptr<const TileSource> source;
    std::unique_ptr<TileLoader> loader;
    TerrainGeometry geometry;
    TerrainStreamTree nodeTree;
    TileCache tileCache;
    HeldTileHeights heldTiles;
    GLuint tileTexture = 0;
    GLuint pageTable = 0;
    GLuint fadeTexture = 0;
    NodeGrid wholeGrid;
    NodeGrid quarterGrid;
    // Per layer: when its tile arrived on the clock, and how far it has faded in.
    std::vector<double> arrivals;
    std::vector<float> fades;
    std::vector<int> fadingLayers;
    // Whether `fades` holds values the texture does not.
    bool fadesChanged = true;
    // Tiles read and not uploaded yet.
    std::unordered_map<TileKey, Tile, TileKeyHash> arrived;
    LodSelection selection;
    std::vector<TileKey> wanted;
    uint64_t frame = 0;
    size_t missingLastFrame = 0;
    // Whether the last frame left tiles that had arrived for the next one, past its upload budget.
    bool uploadsHeldBack = false;
    uint64_t framesMissingTiles = 0;
    uint64_t lastPrimitiveCount = 0;
    // Whether a tile with samples without data has been held: the fragment stages cut holes then.
    bool hasVoids = false;

    void createTextures();
    bool loadPinnedLevels(const std::function<void()>& awaitTiles);
    void takeArrivedTiles();
    // Puts the tile into the cache and its layer, true when a layer could be had.
    bool upload(const Tile& tile, bool pinned);
    void uploadWanted();
    void advanceFades();
    void setUniforms(TerrainStreamShader& shader) const;
};
