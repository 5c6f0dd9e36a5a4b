#include "scene/ShadowGrids.h"

#include <string>
#include <utility>

namespace {

ShadowGrid gridOf(const ShadowLevel& level, int column, int row, int columns, int rows,
                  const TerrainGeometry& geometry) {
    ShadowGrid grid;
    grid.place = ShadowLevel{level.step, columns, rows, level.firstColumn + column * level.step,
                             level.firstRow + row * level.step};
    grid.columnSpacing = geometry.columnSpacing * static_cast<float>(level.step);
    grid.rowSpacing = geometry.rowSpacing * static_cast<float>(level.step);
    grid.heights.resize(size_t(columns) * size_t(rows));
    return grid;
}

class WholeMapShadowHeights : public ShadowHeights {
public:
    WholeMapShadowHeights(const WholeMapHeights& heights, const TerrainGeometry& geometry)
        : heights(heights), geometry(geometry) {
        for (int step = 1;; step *= 2) {
            grids.push_back({step, (heights.width - 1) / step + 1, (heights.height - 1) / step + 1, 0, 0});
            if (grids.back().width == 1 && grids.back().height == 1) break;
        }
    }

    const std::vector<ShadowLevel>& levels() const override { return grids; }

    std::optional<ShadowGrid> read(const ShadowLevel& level, int column, int row, int columns, int rows,
                                   const std::atomic<bool>&) override {
        ShadowGrid grid = gridOf(level, column, row, columns, rows, geometry);
        grid.heights = heights.worldHeights(geometry, level.step, column, row, columns, rows);
        return grid;
    }

private:
    const WholeMapHeights& heights;
    const TerrainGeometry geometry;
    std::vector<ShadowLevel> grids;
};

class StreamedShadowHeights : public ShadowHeights {
public:
    StreamedShadowHeights(std::shared_ptr<const TileSource> source, const TerrainGeometry& geometry)
        : source(std::move(source)), geometry(geometry) {
        const int mapHeight = this->source->level(0).height;
        for (int index = 0; index < this->source->levelCount(); ++index) {
            // Level k holds every 2^k-th sample counted from the map's north-western corner: its
            // southern row stands where its rows end, short of the map's own when they do not
            // divide evenly.
            const TileLevel& level = this->source->level(index);
            const int step = 1 << index;
            grids.push_back({step, level.width, level.height, 0, mapHeight - 1 - (level.height - 1) * step});
        }
    }

    const std::vector<ShadowLevel>& levels() const override { return grids; }

    std::optional<ShadowGrid> read(const ShadowLevel& level, int column, int row, int columns, int rows,
                                   const std::atomic<bool>& stopping) override {
        int index = 0;
        while (index + 1 < int(grids.size()) && grids[size_t(index)].step != level.step) ++index;
        const TileLevel& tiles = source->level(index);
        const int quads = source->tileQuads();
        ShadowGrid grid = gridOf(level, column, row, columns, rows, geometry);
        // Tiles count rows from the north and their samples from their southern edge; the grid
        // counts from the south.
        const int northernmost = tiles.height - 1 - (row + rows - 1), southernmost = tiles.height - 1 - row;
        Tile tile;
        std::string message;
        for (int tileRow = northernmost / quads; tileRow <= southernmost / quads && tileRow < tiles.rows; ++tileRow) {
            for (int tileColumn = column / quads; tileColumn <= (column + columns - 1) / quads && tileColumn < tiles.columns;
                 ++tileColumn) {
                if (stopping || !source->readTile(TileKey{index, tileColumn, tileRow}, tile, message)) return std::nullopt;
                for (int t = 0; t <= quads; ++t) {
                    const int rowFromNorth = tileRow * quads + (quads - t);
                    const int gridRow = tiles.height - 1 - rowFromNorth - row;
                    if (gridRow < 0 || gridRow >= rows) continue;
                    float* out = &grid.heights[size_t(gridRow) * size_t(columns)];
                    for (int s = 0; s <= quads; ++s) {
                        const int gridColumn = tileColumn * quads + s - column;
                        if (gridColumn < 0) continue;
                        if (gridColumn >= columns) break;
                        out[gridColumn] = geometry.heightOf(tile.samples[tileSampleIndex(quads, s, t)]);
                    }
                }
            }
        }
        return grid;
    }

private:
    std::shared_ptr<const TileSource> source;
    const TerrainGeometry geometry;
    std::vector<ShadowLevel> grids;
};

}  // namespace

std::unique_ptr<ShadowHeights> wholeMapShadowHeights(const WholeMapHeights& heights, const TerrainGeometry& geometry) {
    return std::make_unique<WholeMapShadowHeights>(heights, geometry);
}

std::unique_ptr<ShadowHeights> streamedShadowHeights(std::shared_ptr<const TileSource> source,
                                                     const TerrainGeometry& geometry) {
    return std::make_unique<StreamedShadowHeights>(std::move(source), geometry);
}
