// The grids of heights the terrain's shadows are computed on: a map drawn whole gives its own
// samples, a streamed map the finest level of its pyramid that fits, read tile by tile.
#pragma once

#include <atomic>
#include <optional>

#include "io/TileSource.h"
#include "light/TerrainShadows.h"
#include "scene/GroundHeights.h"
#include "scene/TerrainGeometry.h"

// Every few samples of the map, as many as fit TerrainShadows::LARGEST_SIDE, placed by `geometry`.
ShadowGrid wholeMapShadowGrid(const WholeMapHeights& heights, const TerrainGeometry& geometry);

// The finest level of the pyramid within TerrainShadows::LARGEST_SIDE, placed by `geometry`; none
// when a tile cannot be read or `stopping` is set.
std::optional<ShadowGrid> streamedShadowGrid(const TileSource& source, const TerrainGeometry& geometry,
                                             const std::atomic<bool>& stopping);
