// Which tile each layer of the streamed terrain's GPU tile cache holds, and the layer a newly read
// tile takes. Free of GL, so that the bookkeeping is tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "io/TileSource.h"

class TileCache {
public:
    struct Layer {
        TileKey key;
        // The tile's lowest and highest value with data (see Tile).
        float minimum = 0.0f;
        float maximum = 0.0f;
        uint64_t lastUsedFrame = 0;
        bool holdsTile = false;
        // Never replaced: the coarsest levels, which every part of the map can fall back to.
        bool pinned = false;
    };

    explicit TileCache(int layers);

    int layerCount() const { return static_cast<int>(layers.size()); }
    int pinnedCount() const { return pinned; }
    // The layer that holds the tile, or -1.
    int find(const TileKey& key) const;
    const Layer& layer(int index) const { return layers[size_t(index)]; }

    // Marks the layer as used by `frame`, so that no tile placed during that frame replaces it.
    void use(int index, uint64_t frame);
    // Gives the tile a layer: a free one, else the least recently used one that is neither pinned
    // nor used by `frame`; -1 when there is none. When the layer held a tile, `replaced` is its key.
    int place(const Tile& tile, bool pin, uint64_t frame, std::optional<TileKey>& replaced);

private:
    std::vector<Layer> layers;
    std::unordered_map<TileKey, int, TileKeyHash> layerOfTile;
    int pinned = 0;
};
