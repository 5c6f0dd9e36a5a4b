#include "scene/ShadowGrids.h"

#include <string>

#include "light/TerrainShadows.h"

ShadowGrid wholeMapShadowGrid(const WholeMapHeights& heights, const TerrainGeometry& geometry) {
    ShadowGrid grid;
    grid.step = gridStep(heights.width, heights.height, TerrainShadows::LARGEST_SIDE);
    grid.width = (heights.width - 1) / grid.step + 1;
    grid.height = (heights.height - 1) / grid.step + 1;
    grid.columnSpacing = geometry.columnSpacing * static_cast<float>(grid.step);
    grid.rowSpacing = geometry.rowSpacing * static_cast<float>(grid.step);
    grid.heights = heights.worldHeights(geometry, grid.step);
    return grid;
}

std::optional<ShadowGrid> streamedShadowGrid(const TileSource& source, const TerrainGeometry& geometry,
                                             const std::atomic<bool>& stopping) {
    int levelIndex = 0;
    while (levelIndex + 1 < source.levelCount() &&
           std::max(source.level(levelIndex).width, source.level(levelIndex).height) > TerrainShadows::LARGEST_SIDE) {
        ++levelIndex;
    }
    const TileLevel& level = source.level(levelIndex);
    const int quads = source.tileQuads();
    ShadowGrid grid;
    grid.step = 1 << levelIndex;
    grid.width = level.width;
    grid.height = level.height;
    grid.columnSpacing = geometry.columnSpacing * static_cast<float>(grid.step);
    grid.rowSpacing = geometry.rowSpacing * static_cast<float>(grid.step);
    grid.heights.resize(size_t(level.width) * size_t(level.height));
    Tile tile;
    std::string message;
    for (int tileRow = 0; tileRow < level.rows; ++tileRow) {
        for (int tileColumn = 0; tileColumn < level.columns; ++tileColumn) {
            if (stopping || !source.readTile(TileKey{levelIndex, tileColumn, tileRow}, tile, message)) {
                return std::nullopt;
            }
            // Tiles count rows from the north and their samples from their southern edge; the grid
            // counts from the south.
            for (int t = 0; t <= quads; ++t) {
                const int rowFromNorth = tileRow * quads + (quads - t);
                if (rowFromNorth >= level.height) continue;
                float* out = &grid.heights[size_t(level.height - 1 - rowFromNorth) * size_t(level.width)];
                for (int s = 0; s <= quads; ++s) {
                    const int column = tileColumn * quads + s;
                    if (column >= level.width) break;
                    out[column] = geometry.heightOf(tile.samples[tileSampleIndex(quads, s, t)]);
                }
            }
        }
    }
    return grid;
}
