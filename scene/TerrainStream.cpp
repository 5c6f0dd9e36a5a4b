// Streamed terrain drawing: the tile cache's textures and uploads, the coarsest levels loaded at
// start, the per-frame exchange with the background readers, fades, and one instanced draw per grid
// size.
#include "scene/TerrainStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <unordered_set>

#include "gpu/TextureUnits.h"
#include "gpu/UnpackAlignment.h"
#include "scene/TerrainShader.h"
#include "scene/glsl/terrainConstants.glsl"

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

size_t tileBytes(int tileQuads) { return size_t(tileSide(tileQuads)) * size_t(tileSide(tileQuads)) * sizeof(float); }

}  // namespace

int TerrainStream::cacheLayersFor(int megabytes, const TileMap& map) {
    GLint largest = 0;
    glGetIntegerv(GL_MAX_ARRAY_TEXTURE_LAYERS, &largest);
    const size_t layers = (size_t(megabytes) << 20) / tileBytes(map.tileQuads);
    size_t tiles = 0;
    for (const TileLevel& level : map.levels) tiles += size_t(level.columns) * size_t(level.rows);
    // Twice the map's tiles: the pinned coarsest ones may take at most half the cache. The page
    // table holds layer + 1 in 16 bits.
    return static_cast<int>(std::min({layers, 2 * tiles, size_t(largest), size_t(UINT16_MAX - 1)}));
}

std::string TerrainStream::cacheSize() const {
    const double megabytes = double(tileCache.layerCount()) * double(tileBytes(map().tileQuads)) / double(1 << 20);
    // Whole megabytes, but for a cache under ten of them (a small map's), which would round to nothing.
    char text[32];
    std::snprintf(text, sizeof text, megabytes < 10.0 ? "%.1f MB" : "%.0f MB", megabytes);
    return text;
}

TerrainStream::Activity TerrainStream::activity() const {
    Activity now;
    now.wanted = wanted.size();
    for (const TileKey& key : wanted) {
        if (tileCache.find(key) < 0 && arrived.count(key) == 0) ++now.loading;
    }
    for (int layer = 0; layer < tileCache.layerCount(); ++layer) now.held += tileCache.layer(layer).holdsTile;
    const double tileMegabytes = double(tileBytes(map().tileQuads)) / double(1 << 20);
    now.heldMegabytes = double(now.held) * tileMegabytes;
    now.cacheMegabytes = double(tileCache.layerCount()) * tileMegabytes;
    return now;
}

TerrainStream::TerrainStream(std::unique_ptr<TileSource> tileSource, const TerrainGeometry& geometry,
                             float errorPixels, int cacheLayers, const std::function<void()>& awaitTiles)
    : errorPixels(errorPixels),
      clock(steadySeconds),
      source(std::move(tileSource)),
      loader(std::make_unique<TileLoader>(source)),
      geometry(geometry),
      nodeTree(source->map(), geometry),
      tileCache(cacheLayers),
      heldTiles(source->map(), HELD_HEIGHT_BYTES),
      wholeGrid(TerrainStreamTree::GRID_QUADS),
      quarterGrid(TerrainStreamTree::GRID_QUADS / 2),
      arrivals(size_t(tileCache.layerCount()), 0.0),
      fades(size_t(tileCache.layerCount()), 0.0f) {
    if (nodeTree.levelCount() > MAX_LOD_LEVELS) {
        loadFailure = tooLargeLine("streaming", map().levels.front().width, map().levels.front().height,
                                   "which need " + std::to_string(nodeTree.levelCount()) + " levels, more than " +
                                       std::to_string(MAX_LOD_LEVELS));
        return;
    }
    createTextures();
    if (!loadPinnedLevels(awaitTiles)) return;
    for (int mode = 1; mode <= 5; ++mode) shaders[mode - 1] = std::make_unique<TerrainStreamShader>(mode);
}

std::unique_ptr<TerrainStream> TerrainStream::create(std::unique_ptr<TileSource> source,
                                                     const TerrainGeometry& geometry, float errorPixels,
                                                     int cacheLayers, const std::function<void()>& awaitTiles,
                                                     std::string& failure) {
    // The constructor is private: only a surface that could load its coarsest levels is handed out.
    std::unique_ptr<TerrainStream> stream(
        new TerrainStream(std::move(source), geometry, errorPixels, cacheLayers, awaitTiles));
    failure = stream->loadFailure;
    return failure.empty() ? std::move(stream) : nullptr;
}

TerrainStream::~TerrainStream() {
    // The readers are told to stop first; a read under way is not waited for.
    loader.reset();
    const GLuint textures[3] = {tileTexture, pageTable, fadeTexture};
    glDeleteTextures(3, textures);
}

void TerrainStream::createTextures() {
    const int side = tileSide(map().tileQuads);
    glGenTextures(1, &tileTexture);
    glActiveTexture(GL_TEXTURE0 + TILE_CACHE_UNIT);
    glBindTexture(GL_TEXTURE_2D_ARRAY, tileTexture);
    glTexImage3D(GL_TEXTURE_2D_ARRAY, 0, GL_R32F, side, side, tileCache.layerCount(), 0, GL_RED, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D_ARRAY, GL_TEXTURE_MAG_FILTER, GL_NEAREST);

    // One mip level per tile level, each at least as large as that level's tiles: a square of a power
    // of two, halving with each level as the levels' tiles do, give or take one.
    const int levels = static_cast<int>(map().levels.size());
    int side0 = 1;
    for (int level = 0; level < levels; ++level) {
        const TileLevel& tiles = map().levels[size_t(level)];
        while ((side0 >> level) < std::max({tiles.columns, tiles.rows, 1})) side0 *= 2;
    }
    glGenTextures(1, &pageTable);
    glActiveTexture(GL_TEXTURE0 + PAGE_TABLE_UNIT);
    glBindTexture(GL_TEXTURE_2D, pageTable);
    {
        const std::vector<uint16_t> empty(size_t(side0) * size_t(side0), 0);
        const UnpackAlignment alignment(2);
        for (int level = 0; level < levels; ++level) {
            const int levelSide = std::max(1, side0 >> level);
            glTexImage2D(GL_TEXTURE_2D, level, GL_R16UI, levelSide, levelSide, 0, GL_RED_INTEGER, GL_UNSIGNED_SHORT,
                         empty.data());
        }
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
    // Integer textures are only complete with nearest filtering; the shaders fetch texels directly anyway.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);

    glGenTextures(1, &fadeTexture);
    glActiveTexture(GL_TEXTURE0 + TILE_FADES_UNIT);
    glBindTexture(GL_TEXTURE_2D, fadeTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, tileCache.layerCount(), 1, 0, GL_RED, GL_FLOAT, fades.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

bool TerrainStream::loadPinnedLevels(const std::function<void()>& awaitTiles) {
    // Whole levels from the coarsest, leaving most of the cache to the rest.
    const int limit = std::min(PINNED_TILES, tileCache.layerCount() / 4);
    std::vector<TileKey> pinned;
    for (int level = nodeTree.coarsestTileLevel(); level >= 0; --level) {
        const TileLevel& tiles = map().levels[size_t(level)];
        const size_t count = size_t(tiles.columns) * size_t(tiles.rows);
        if (!pinned.empty() && pinned.size() + count > size_t(limit)) break;
        for (int row = 0; row < tiles.rows; ++row) {
            for (int column = 0; column < tiles.columns; ++column) pinned.push_back(TileKey{level, column, row});
        }
    }
    if (pinned.size() > size_t(tileCache.layerCount()) / 2) {
        loadFailure = "The tile cache holds " + std::to_string(tileCache.layerCount()) +
                      " tiles, too few for the map's coarsest level of " + std::to_string(pinned.size()) +
                      "; give --tile-cache more";
        return false;
    }
    // The first frame needs them, so start-up waits for them, read on all the readers at once.
    loader->request(pinned);
    std::vector<Tile> tiles;
    for (size_t loaded = 0; loaded < pinned.size();) {
        if (std::optional<std::string> failure = loader->failure()) {
            loadFailure = *failure;
            return false;
        }
        tiles.clear();
        loader->takeFinished(tiles);
        if (tiles.empty()) awaitTiles();
        for (const Tile& tile : tiles) {
            nodeTree.noteTile(tile);
            upload(tile, true);
            ++loaded;
        }
    }
    return true;
}

bool TerrainStream::upload(const Tile& tile, bool pinned) {
    std::optional<TileKey> replaced;
    const int layer = tileCache.place(tile, pinned, frame, replaced);
    if (layer < 0) return false;
    heldTiles.keep(tile, replaced, tileCache);
    glActiveTexture(GL_TEXTURE0 + PAGE_TABLE_UNIT);
    glBindTexture(GL_TEXTURE_2D, pageTable);
    const UnpackAlignment alignment(2);
    if (replaced) {
        const uint16_t none = 0;
        glTexSubImage2D(GL_TEXTURE_2D, replaced->level, replaced->column, replaced->row, 1, 1, GL_RED_INTEGER,
                        GL_UNSIGNED_SHORT, &none);
    }
    const uint16_t entry = static_cast<uint16_t>(layer + 1);
    glTexSubImage2D(GL_TEXTURE_2D, tile.key.level, tile.key.column, tile.key.row, 1, 1, GL_RED_INTEGER,
                    GL_UNSIGNED_SHORT, &entry);
    const int side = tileSide(map().tileQuads);
    glActiveTexture(GL_TEXTURE0 + TILE_CACHE_UNIT);
    glBindTexture(GL_TEXTURE_2D_ARRAY, tileTexture);
    glTexSubImage3D(GL_TEXTURE_2D_ARRAY, 0, 0, 0, layer, side, side, 1, GL_RED, GL_FLOAT, tile.samples.data());

    hasVoids = hasVoids || std::any_of(tile.samples.begin(), tile.samples.end(), [](float v) { return std::isnan(v); });
    arrivals[size_t(layer)] = clock();
    fades[size_t(layer)] = pinned ? 1.0f : 0.0f;
    fadesChanged = true;
    if (!pinned && std::find(fadingLayers.begin(), fadingLayers.end(), layer) == fadingLayers.end()) {
        fadingLayers.push_back(layer);
    }
    return true;
}

void TerrainStream::takeArrivedTiles() {
    std::vector<Tile> tiles;
    loader->takeFinished(tiles);
    for (Tile& tile : tiles) {
        nodeTree.noteTile(tile);
        if (tileCache.find(tile.key) < 0) arrived[tile.key] = std::move(tile);
    }
}

void TerrainStream::uploadWanted() {
    for (const TileKey& key : wanted) {
        const int layer = tileCache.find(key);
        if (layer >= 0) tileCache.use(layer, frame);
    }
    const auto start = std::chrono::steady_clock::now();
    const auto budget = std::chrono::duration<double>(UPLOAD_SECONDS_PER_FRAME);
    int uploaded = 0;
    uploadsHeldBack = false;
    std::vector<TileKey> missing;
    for (const TileKey& key : wanted) {
        if (tileCache.find(key) >= 0) continue;
        const auto tile = arrived.find(key);
        const bool withinBudget =
            uploaded < TILES_UPLOADED_PER_FRAME && std::chrono::steady_clock::now() - start < budget;
        if (tile != arrived.end() && withinBudget && upload(tile->second, false)) {
            arrived.erase(tile);
            ++uploaded;
            continue;
        }
        uploadsHeldBack = uploadsHeldBack || (tile != arrived.end() && !withinBudget);
        missing.push_back(key);
    }
    // Tiles that arrived for an earlier view and are no longer wanted are read again if wanted again.
    if (!arrived.empty()) {
        const std::unordered_set<TileKey, TileKeyHash> stillWanted(missing.begin(), missing.end());
        for (auto tile = arrived.begin(); tile != arrived.end();) {
            tile = stillWanted.count(tile->first) != 0 ? std::next(tile) : arrived.erase(tile);
        }
    }
    missingLastFrame = missing.size();
    missing.erase(std::remove_if(missing.begin(), missing.end(),
                                 [this](const TileKey& key) { return arrived.count(key) != 0; }),
                  missing.end());
    loader->request(missing);
}

void TerrainStream::advanceFades() {
    const double now = clock();
    for (auto layer = fadingLayers.begin(); layer != fadingLayers.end();) {
        const float fade = static_cast<float>(std::clamp((now - arrivals[size_t(*layer)]) / FADE_SECONDS, 0.0, 1.0));
        fadesChanged = fadesChanged || fade != fades[size_t(*layer)];
        fades[size_t(*layer)] = fade;
        layer = fade < 1.0f ? std::next(layer) : fadingLayers.erase(layer);
    }
    if (!fadesChanged) return;
    fadesChanged = false;
    glActiveTexture(GL_TEXTURE0 + TILE_FADES_UNIT);
    glBindTexture(GL_TEXTURE_2D, fadeTexture);
    const UnpackAlignment alignment(4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, tileCache.layerCount(), 1, GL_RED, GL_FLOAT, fades.data());
}

TerrainShader& TerrainStream::program(int mode, TerrainShader&) { return *shaders[mode - 1]; }

void TerrainStream::placeHeights(const TerrainGeometry& placed) {
    geometry.heightOffset = placed.heightOffset;
    geometry.heightPerValue = placed.heightPerValue;
    geometry.lowestHeight = placed.lowestHeight;
    nodeTree.placeHeights(geometry);
}

void TerrainStream::setUniforms(TerrainStreamShader& shader) const {
    glActiveTexture(GL_TEXTURE0 + TILE_CACHE_UNIT);
    glBindTexture(GL_TEXTURE_2D_ARRAY, tileTexture);
    glActiveTexture(GL_TEXTURE0 + PAGE_TABLE_UNIT);
    glBindTexture(GL_TEXTURE_2D, pageTable);
    glActiveTexture(GL_TEXTURE0 + TILE_FADES_UNIT);
    glBindTexture(GL_TEXTURE_2D, fadeTexture);
    glUniform1i(shader.tileCacheLocation, TILE_CACHE_UNIT);
    glUniform1i(shader.pageTableLocation, PAGE_TABLE_UNIT);
    glUniform1i(shader.layerFadesLocation, TILE_FADES_UNIT);
    glUniform1i(shader.tileQuadsLocation, map().tileQuads);
    glUniform1i(shader.coarsestTileLevelLocation, nodeTree.coarsestTileLevel());
    GLint samples[2 * MAX_LOD_LEVELS] = {};
    GLint tiles[2 * MAX_LOD_LEVELS] = {};
    for (size_t level = 0; level < map().levels.size(); ++level) {
        const TileLevel& size = map().levels[level];
        samples[2 * level] = size.width;
        samples[2 * level + 1] = size.height;
        tiles[2 * level] = size.columns;
        tiles[2 * level + 1] = size.rows;
    }
    glUniform2iv(shader.tileLevelSamplesLocation, MAX_LOD_LEVELS, samples);
    glUniform2iv(shader.tileLevelTilesLocation, MAX_LOD_LEVELS, tiles);
    glUniform1f(shader.heightOffsetLocation, geometry.heightOffset);
    glUniform1f(shader.heightPerValueLocation, geometry.heightPerValue);
    glUniform1i(shader.hasVoidsLocation, hasVoids);
    float morphRanges[2 * MAX_LOD_LEVELS] = {};
    for (int level = 0; level < nodeTree.levelCount(); ++level) {
        morphRanges[2 * level] = nodeTree.morphStart(level);
        morphRanges[2 * level + 1] = nodeTree.morphEnd(level);
    }
    glUniform2fv(shader.morphRangesLocation, MAX_LOD_LEVELS, morphRanges);
}

bool TerrainStream::takeArrivals(const TerrainView& view) {
    ++frame;
    takeArrivedTiles();
    // projection[1][1] is 1 / tan(fov / 2): a unit at distance one spans that many half-viewports.
    nodeTree.setViewport(0.5f * static_cast<float>(view.viewportHeight) * view.projection[1][1], errorPixels);
    const size_t wantedLimit = size_t(tileCache.layerCount() - tileCache.pinnedCount());
    nodeTree.select(view.eye, Frustum::fromClipMatrix(view.projection * view.modelview, view.zeroToOneDepth),
                    tileCache, wantedLimit, selection, wanted);
    uploadWanted();
    return missingLastFrame == 0;
}

void TerrainStream::awaitArrivals(std::chrono::milliseconds longest) {
    if (!uploadsHeldBack) loader->awaitFinished(longest);
}

void TerrainStream::finishFades() {
    for (const int layer : fadingLayers) fades[size_t(layer)] = 1.0f;
    fadingLayers.clear();
    fadesChanged = true;
}

void TerrainStream::draw(const TerrainView& view, TerrainShader& program) {
    if (!takeArrivals(view)) ++framesMissingTiles;
    advanceFades();

    setUniforms(static_cast<TerrainStreamShader&>(program));
    const bool asPoints = view.mode <= 2;
    if (asPoints) glPointSize(1.0f);
    lastPrimitiveCount = wholeGrid.draw(selection.wholeNodes, asPoints) + quarterGrid.draw(selection.quarterNodes, asPoints);
    glBindVertexArray(0);
}

bool TerrainStream::isSettled() const { return frame > 0 && missingLastFrame == 0 && fadingLayers.empty(); }

StreamCounters TerrainStream::streamCounters() const {
    return StreamCounters{framesMissingTiles, source->tilesRead(), source->bytesRead()};
}
