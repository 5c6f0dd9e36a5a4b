// Where the terrain's shadows read their heights: a map drawn whole gives its own samples, a
// streamed map the levels of its pyramid, read tile by tile.
#pragma once

#include <memory>

#include "io/TileSource.h"
#include "light/TerrainShadows.h"
#include "scene/GroundHeights.h"
#include "scene/TerrainGeometry.h"

// The map's samples and every 2nd, 4th, ... of them, placed by `geometry`. The heights must
// outlive it.
std::unique_ptr<ShadowHeights> wholeMapShadowHeights(const WholeMapHeights& heights, const TerrainGeometry& geometry);

// The pyramid's levels, placed by `geometry`; a part that cannot be read is none.
std::unique_ptr<ShadowHeights> streamedShadowHeights(std::shared_ptr<const TileSource> source,
                                                     const TerrainGeometry& geometry);
