// Opens a map file for streaming as the terrain does: the file once, then its tiles from it.
#pragma once

#include "io/HeightMap.h"
#include "io/Pyramid.h"

#include <memory>
#include <string>

inline std::unique_ptr<TileSource> openTiles(const std::string& path, const ElevationOptions& options,
                                             const std::string& cacheFolder, const PyramidProgress& progress,
                                             std::string& message, int tileQuads) {
    const std::unique_ptr<HeightMapFile> file = HeightMapFile::open(path, options, message);
    return file ? openTileSource(*file, cacheFolder, progress, message, tileQuads) : nullptr;
}
