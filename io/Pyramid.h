// The levels a streamed map is read from: a file's own overviews when it has them, else a pyramid
// built once by exact decimation into a cache folder and kept until the map changes. Free of GL.
#pragma once

#include "io/TileSource.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Told the share of a pyramid build done, from 0 to 1 (1 once, when the build has succeeded, else
// PYRAMID_BUILD_FAILED once, when it has failed); returns false to stop the build, which then leaves
// nothing behind and fails.
using PyramidProgress = std::function<bool(double done)>;
constexpr double PYRAMID_BUILD_FAILED = -1.0;

// Where pyramids are kept: $XDG_CACHE_HOME/kelta, else $HOME/.cache/kelta; empty when neither
// variable is set.
std::string pyramidCacheFolder();

// Prints `<program>: building the pyramid of <mapName>: 37%` on `out`, in place (carriage return),
// ending its line at 100% once the build has succeeded, as it stood once it has failed; never stops
// the build.
PyramidProgress pyramidProgressBar(const std::string& program, const std::string& mapName, std::FILE* out = stderr);

// Opens the map in `file` for streaming, read by its options, from the raster the file opened (which
// it takes). A local map whose overviews are exact decimations (see overviewsDecimate) is read as it
// is, as is a map that fits one tile and any map behind a /vsi path, whose overviews are taken as
// levels of their own (refused, before a sample is read, when they do not reach down to a few tiles);
// any other local map gets its pyramid from `cacheFolder` (made when missing), built there first when
// it is missing, damaged (a file of it cut off or unreadable: rebuilt once), or the size or
// modification time of the map or of any file it is made of changed since; a build that would not
// fit in the cache folder's free space is refused before it starts. TileMap::pyramidBuilt says
// whether this open built it. The heights' bounds are kept beside the pyramid, or for a map read from
// its own overviews taken from its exact statistics or read once and kept in the map's folder of
// `cacheFolder`. KELTA's raw .r16 and .raw files are read as square little-endian 16-bit samples, top
// row first. `progress` hears of a build (it may be empty). On failure returns nothing and one line
// saying why, naming the file or folder at fault.
std::unique_ptr<TileSource> openTileSource(HeightMapFile& file, const std::string& cacheFolder,
                                           const PyramidProgress& progress, std::string& message,
                                           int tileQuads = TILE_QUADS);

// What is computed once from the map in `file` (say, the error tree that level of detail builds
// from its samples), kept in the map's folder of `cacheFolder`, beside its pyramid, under the same
// identity (the size and modification time of every file the map is made of) and `key`, what else
// it depends on (the options its samples were read by): the bytes kept as `name`, or nothing when
// none are kept for the map as it is now and that key. Remote maps keep nothing.
std::optional<std::string> keptMapFacts(const std::string& cacheFolder, const HeightMapFile& file,
                                        const std::string& name, const std::string& key);
// Keeps the bytes for keptMapFacts, written whole or not at all; a cache folder that cannot be
// written only costs computing them again.
void keepMapFacts(const std::string& cacheFolder, const HeightMapFile& file, const std::string& name,
                  const std::string& key, const std::string& bytes);

// What names the map at `path` in the files kept for it (its pyramid's folder, its saved views):
// a hash of its absolute path, so that a map keeps them however it is typed and while it changes.
std::string mapPathHash(const std::string& path);
// The pyramid's folder for the map at `path` in `cacheFolder` (named by mapPathHash), whether or not
// it exists.
std::string pyramidFolder(const std::string& cacheFolder, const std::string& path);
