// The sun's and the sky's shares computed on a worker thread from the heights, uploaded as
// single-channel textures when finished.
#include "light/TerrainShadows.h"

#include <algorithm>
#include <cmath>

#include "app/StartupWork.h"
#include "gpu/TextureUnits.h"
#include "gpu/UnpackAlignment.h"
#include "io/Bands.h"
#include "io/ThreadPriority.h"
#include "light/Horizons.h"

namespace {

// The sweeps share the processor with the loaders and the frame; they take all of it for the
// little while they run.
int sweepThreads() { return hardwareThreads(); }

HeightGrid heightGridOf(const ShadowGrid& grid) {
    return HeightGrid{grid.heights.data(), grid.place.width, grid.place.height, grid.columnSpacing, grid.rowSpacing};
}

// A share of 0 to 1 in 255ths.
uint8_t shareByte(float share) { return static_cast<uint8_t>(std::lround(std::clamp(share, 0.0f, 1.0f) * 255.0f)); }


// A texture of one byte a texel, linearly filtered, its edges clamped: a 2D texture or an array.
GLuint makeShareTexture(GLenum target) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(target, texture);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

// Far beyond any map, for the sides of a layer that lie on the map's edge.
constexpr float WITHOUT_END = 1e30f;

}  // namespace

int gridStep(int width, int height, int largestSide) {
    int step = 1;
    while ((std::max(width, height) - 1) / step + 1 > largestSide) ++step;
    return step;
}

void fadeIntoCoarser(LayerTexels finer, const LayerTexels& coarser, int fade) {
    const ShadowLayerPlace& own = finer.place;
    const ShadowLayerPlace& around = coarser.place;
    const float fadeSamples = float(fade) * own.step;
    // Texel centres at whole texel coordinates, clamped to the grid's edge, as GL_LINEAR filters
    // them with GL_CLAMP_TO_EDGE (the texels beyond the grid repeat its edge).
    const auto coarserAt = [&](float column, float row) {
        const float x = std::clamp((column - around.firstColumn) / around.step, 0.0f, float(coarser.columns - 1));
        const float y = std::clamp((row - around.firstRow) / around.step, 0.0f, float(coarser.rows - 1));
        const int x0 = int(x), y0 = int(y);
        const int x1 = std::min(x0 + 1, coarser.columns - 1), y1 = std::min(y0 + 1, coarser.rows - 1);
        const float fx = x - float(x0), fy = y - float(y0);
        const auto texel = [&](int column, int row) {
            return float(coarser.values[size_t(row) * size_t(coarser.rowLength) + size_t(column)]);
        };
        return (texel(x0, y0) * (1.0f - fx) + texel(x1, y0) * fx) * (1.0f - fy) +
               (texel(x0, y1) * (1.0f - fx) + texel(x1, y1) * fx) * fy;
    };
    for (int row = 0; row < finer.rows; ++row) {
        const float mapRow = own.firstRow + float(row) * own.step;
        const float rowInside = std::min(mapRow - own.reach[1], own.reach[3] - mapRow);
        for (int column = 0; column < finer.columns; ++column) {
            const float mapColumn = own.firstColumn + float(column) * own.step;
            const float inside = std::min({mapColumn - own.reach[0], own.reach[2] - mapColumn, rowInside});
            const float weight = std::clamp(inside / fadeSamples, 0.0f, 1.0f);
            if (weight >= 1.0f) continue;
            uint8_t& share = finer.values[size_t(row) * size_t(finer.rowLength) + size_t(column)];
            share = static_cast<uint8_t>(std::lround(coarserAt(mapColumn, mapRow) * (1.0f - weight) + float(share) * weight));
        }
    }
}

ShadowGrid coarserGrid(const ShadowGrid& grid, int factor) {
    ShadowGrid coarser;
    coarser.place = grid.place;
    coarser.place.width = (grid.place.width - 1) / factor + 1;
    coarser.place.height = (grid.place.height - 1) / factor + 1;
    coarser.place.step = grid.place.step * factor;
    coarser.columnSpacing = grid.columnSpacing * static_cast<float>(factor);
    coarser.rowSpacing = grid.rowSpacing * static_cast<float>(factor);
    coarser.heights.reserve(size_t(coarser.place.width) * size_t(coarser.place.height));
    for (int row = 0; row < grid.place.height; row += factor) {
        for (int column = 0; column < grid.place.width; column += factor) {
            coarser.heights.push_back(grid.heights[size_t(row) * size_t(grid.place.width) + size_t(column)]);
        }
    }
    return coarser;
}

TerrainShadows::TerrainShadows(std::unique_ptr<ShadowHeights> source, int largestSide, const WorkRunner& runner)
    : heights(std::move(source)) {
    const std::vector<ShadowLevel>& levels = heights->levels();
    size_t whole = 0;
    while (whole + 1 < levels.size() && std::max(levels[whole].width, levels[whole].height) > largestSide) ++whole;
    layerLevels.push_back(levels[whole]);
    for (size_t finer = whole; finer > 0 && layerLevels.size() < size_t(LAYERS);) {
        finer = finer >= 2 ? finer - 2 : 0;
        layerLevels.push_back(levels[finer]);
    }
    layers.resize(layerLevels.size());
    wantedWindows = windowsAround(0.0, 0.0);
    if (runner) {
        runner([this] { work(); });
    } else {
        worker = std::thread([this] {
            // The frame comes first; the sweeps' own threads, started from this one, inherit its priority.
            lowerThisThreadsPriority();
            work();
        });
    }
}

TerrainShadows::~TerrainShadows() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (worker.joinable()) {
        worker.join();
    } else {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ended; });
    }
    glDeleteTextures(1, &sunTexture);
    glDeleteTextures(1, &skyTexture);
}

TerrainShadows::Finished TerrainShadows::skySharesOf(const ShadowGrid& grid) const {
    const int factor = gridStep(grid.place.width, grid.place.height, LARGEST_SKY_SIDE);
    std::optional<ShadowGrid> coarser;
    if (factor > 1) coarser = coarserGrid(grid, factor);
    const ShadowGrid& sky = coarser ? *coarser : grid;
    const std::vector<float> visibility = skyVisibility(heightGridOf(sky), SKY_DIRECTIONS, sweepThreads());
    Finished shares{std::vector<uint8_t>(visibility.size()), sky.place.width, sky.place.height, {placeOf(sky, sky.place)}};
    std::transform(visibility.begin(), visibility.end(), shares.values.begin(), shareByte);
    return shares;
}

TerrainShadows::WindowCorners TerrainShadows::windowsAround(double mapColumn, double mapRow) const {
    // A window moves in eighths of its side, so that a camera that wanders a little reads and
    // sweeps nothing, and the same camera always gets the same windows.
    constexpr int SNAP = WINDOW_SIDE / 8;
    WindowCorners corners;
    for (size_t layer = 1; layer < layerLevels.size(); ++layer) {
        const ShadowLevel& level = layerLevels[layer];
        const auto corner = [&](double mapAt, int first, int size) {
            const double start = (mapAt - first) / level.step - 0.5 * WINDOW_SIDE;
            const double bounded = std::isfinite(start) ? std::clamp(start, 0.0, double(size)) : 0.0;
            return std::clamp(int(std::lround(bounded / SNAP)) * SNAP, 0, std::max(size - WINDOW_SIDE, 0));
        };
        corners.emplace_back(corner(mapColumn, level.firstColumn, level.width), corner(mapRow, level.firstRow, level.height));
    }
    return corners;
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

void TerrainShadows::followCamera(double mapColumn, double mapRow) {
    WindowCorners corners = windowsAround(mapColumn, mapRow);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (wantedWindows == corners) return;
        wantedWindows = std::move(corners);
    }
    changed.notify_all();
}

void TerrainShadows::work() {
    const ShadowLevel& whole = layerLevels.front();
    std::optional<ShadowGrid> grid = heights->read(whole, 0, 0, whole.width, whole.height, stopping);
    if (grid && !stopping) {
        layers.front().grid = std::move(*grid);
        Finished skyShares = skySharesOf(layers.front().grid);
        returnFreedMemory();
        std::unique_lock<std::mutex> lock(mutex);
        finishedSky = std::move(skyShares);
        for (;;) {
            changed.wait(lock, [&] {
                return stopping || (wantedSun && finishedFor != Wanted{*wantedSun, wantedWindows});
            });
            if (stopping) break;
            const Wanted wanted{*wantedSun, wantedWindows};
            lock.unlock();
            // A window that cannot be read leaves the layers finer than it out until it moves.
            bool coarserMoved = false;
            size_t prepared = 0;
            while (prepared < layers.size() && prepareLayer(prepared, wanted, coarserMoved)) ++prepared;
            Finished shares = sharesOf(prepared);
            returnFreedMemory();
            lock.lock();
            if (stopping) break;
            finishedSunShares = std::move(shares);
            finishedFor = wanted;
            changed.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
}

bool TerrainShadows::prepareLayer(size_t layer, const Wanted& wanted, bool& coarserMoved) {
    Layer& kept = layers[layer];
    const ShadowLevel& level = layerLevels[layer];
    bool moved = false;
    if (layer > 0) {
        const auto [column, row] = wanted.windows[layer - 1];
        const int firstColumn = level.firstColumn + column * level.step, firstRow = level.firstRow + row * level.step;
        if (kept.grid.heights.empty() || kept.grid.place.firstColumn != firstColumn ||
            kept.grid.place.firstRow != firstRow) {
            // Let go of the old heights and horizons before reading the new.
            kept = Layer{};
            std::optional<ShadowGrid> grid = heights->read(level, column, row, std::min(WINDOW_SIDE, level.width),
                                                           std::min(WINDOW_SIDE, level.height), stopping);
            if (!grid || stopping) return false;
            kept.grid = std::move(*grid);
            moved = true;
        }
    }
    if (moved || coarserMoved || kept.sharesSun != wanted.sun) {
        const ShadowLevel& own = kept.grid.place;
        std::vector<SurroundingGrid> surroundings;
        for (size_t around = layer; around-- > 0;) {
            const ShadowGrid& grid = layers[around].grid;
            surroundings.push_back({heightGridOf(grid), double(grid.place.firstColumn - own.firstColumn) / own.step,
                                    double(grid.place.firstRow - own.firstRow) / own.step,
                                    double(grid.place.step) / own.step});
        }
        const auto [azimuth, altitude] = wanted.sun;
        kept.shares = {};
        const std::vector<float> tangents =
            horizonTangents(heightGridOf(kept.grid), azimuth, sweepThreads(), surroundings);
        kept.shares.resize(tangents.size());
        std::transform(tangents.begin(), tangents.end(), kept.shares.begin(),
                       [altitude = altitude](float tangent) { return shareByte(sunDiscShare(tangent, altitude)); });
        kept.sharesSun = wanted.sun;
    }
    coarserMoved = coarserMoved || moved;
    return true;
}

TerrainShadows::Finished TerrainShadows::sharesOf(size_t layerCount) const {
    Finished shares;
    for (size_t layer = 0; layer < layerCount; ++layer) {
        shares.width = std::max(shares.width, layers[layer].grid.place.width);
        shares.height = std::max(shares.height, layers[layer].grid.place.height);
    }
    const size_t texels = size_t(shares.width) * size_t(shares.height);
    shares.values.resize(texels * layerCount);
    for (size_t layer = 0; layer < layerCount; ++layer) {
        const Layer& kept = layers[layer];
        const int width = kept.grid.place.width, height = kept.grid.place.height;
        uint8_t* out = shares.values.data() + layer * texels;
        for (int row = 0; row < shares.height; ++row) {
            uint8_t* line = out + size_t(row) * size_t(shares.width);
            if (row < height) {
                const uint8_t* own = kept.shares.data() + size_t(row) * size_t(width);
                std::copy_n(own, width, line);
                std::fill(line + width, line + shares.width, own[width - 1]);
            } else {
                std::copy_n(line - shares.width, shares.width, line);
            }
        }
        shares.places.push_back(placeOf(kept.grid, layerLevels[layer]));
    }
    const auto texelsOf = [&](size_t layer) {
        const ShadowLevel& own = layers[layer].grid.place;
        return LayerTexels{shares.values.data() + layer * texels, own.width, own.height, shares.width,
                           shares.places[layer]};
    };
    for (size_t layer = 1; layer < layerCount; ++layer) fadeIntoCoarser(texelsOf(layer), texelsOf(layer - 1), LAYER_FADE);
    return shares;
}

ShadowLayerPlace TerrainShadows::placeOf(const ShadowGrid& grid, const ShadowLevel& level) const {
    const ShadowLevel& own = grid.place;
    const int column = (own.firstColumn - level.firstColumn) / level.step;
    const int row = (own.firstRow - level.firstRow) / level.step;
    ShadowLayerPlace place;
    place.firstColumn = float(own.firstColumn);
    place.firstRow = float(own.firstRow);
    place.step = float(own.step);
    place.reach = {column == 0 ? -WITHOUT_END : place.firstColumn, row == 0 ? -WITHOUT_END : place.firstRow,
                   column + own.width >= level.width ? WITHOUT_END : place.firstColumn + float((own.width - 1) * own.step),
                   row + own.height >= level.height ? WITHOUT_END : place.firstRow + float((own.height - 1) * own.step)};
    return place;
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
    const UnpackAlignment rows(1);
    if (sky) {
        glDeleteTextures(1, &skyTexture);
        skyTexture = makeShareTexture(GL_TEXTURE_2D);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, sky->width, sky->height, 0, GL_RED, GL_UNSIGNED_BYTE, sky->values.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        boundSky = sky->places.front();
    }
    if (sunShares) {
        const int layerCount = int(sunShares->places.size());
        if (sunTexture == 0 || sunShares->width != sunTextureWidth || sunShares->height != sunTextureHeight ||
            layerCount != sunTextureLayers) {
            glDeleteTextures(1, &sunTexture);
            sunTexture = makeShareTexture(GL_TEXTURE_2D_ARRAY);
            glTexImage3D(GL_TEXTURE_2D_ARRAY, 0, GL_R8, sunShares->width, sunShares->height, layerCount, 0, GL_RED,
                         GL_UNSIGNED_BYTE, sunShares->values.data());
            sunTextureWidth = sunShares->width;
            sunTextureHeight = sunShares->height;
            sunTextureLayers = layerCount;
        } else {
            glBindTexture(GL_TEXTURE_2D_ARRAY, sunTexture);
            glTexSubImage3D(GL_TEXTURE_2D_ARRAY, 0, 0, 0, 0, sunShares->width, sunShares->height, layerCount, GL_RED,
                            GL_UNSIGNED_BYTE, sunShares->values.data());
        }
        glBindTexture(GL_TEXTURE_2D_ARRAY, 0);
        boundLayers = std::move(sunShares->places);
    }
}

bool TerrainShadows::bind() {
    upload();
    if (sunTexture == 0 || skyTexture == 0) return false;
    glActiveTexture(GL_TEXTURE0 + SUN_SHARES_UNIT);
    glBindTexture(GL_TEXTURE_2D_ARRAY, sunTexture);
    glActiveTexture(GL_TEXTURE0 + SKY_VISIBILITY_UNIT);
    glBindTexture(GL_TEXTURE_2D, skyTexture);
    return true;
}

bool TerrainShadows::settle(std::chrono::steady_clock::time_point deadline) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        const bool done = changed.wait_until(lock, deadline, [&] {
            return ended || (wantedSun && finishedFor == Wanted{*wantedSun, wantedWindows});
        });
        if (!done) return false;
    }
    upload();
    return true;
}

bool TerrainShadows::isSettled() const {
    std::lock_guard<std::mutex> lock(mutex);
    return ended || (wantedSun && finishedFor == Wanted{*wantedSun, wantedWindows} && !finishedSunShares && !finishedSky);
}
