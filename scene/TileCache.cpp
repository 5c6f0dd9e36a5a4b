// The tile cache's layers and their least-recently-used replacement. A cache holds a few hundred
// layers and takes a few tiles a frame, so a scan for the oldest layer costs less than keeping them
// ordered on every use.
#include "scene/TileCache.h"

TileCache::TileCache(int layerCount) : layers(size_t(layerCount > 0 ? layerCount : 0)) {}

int TileCache::find(const TileKey& key) const {
    const auto found = layerOfTile.find(key);
    return found == layerOfTile.end() ? -1 : found->second;
}

void TileCache::use(int index, uint64_t frame) { layers[size_t(index)].lastUsedFrame = frame; }

int TileCache::place(const Tile& tile, bool pin, uint64_t frame, std::optional<TileKey>& replaced) {
    replaced.reset();
    int chosen = -1;
    for (int index = 0; index < layerCount(); ++index) {
        const Layer& candidate = layers[size_t(index)];
        if (!candidate.holdsTile) {
            chosen = index;
            break;
        }
        if (candidate.pinned || candidate.lastUsedFrame >= frame) continue;
        if (chosen < 0 || candidate.lastUsedFrame < layers[size_t(chosen)].lastUsedFrame) chosen = index;
    }
    if (chosen < 0) return -1;
    Layer& layer = layers[size_t(chosen)];
    if (layer.holdsTile) {
        replaced = layer.key;
        layerOfTile.erase(layer.key);
    }
    layer = Layer{tile.key, tile.minimum, tile.maximum, frame, true, pin};
    pinned += pin ? 1 : 0;
    layerOfTile[tile.key] = chosen;
    return chosen;
}
