// The terrain drawn with level of detail: the height samples in one integer texture, one small
// shared grid drawn once per chosen node with instancing, and the level chosen per node so that
// the projected geometric error stays within a pixel budget. Where the map has no data, a texture
// of the grid's cells tells the fragment stages which to leave out. Its memory is two bytes per
// sample, and one more per cell for a map with voids; a raw map is read from its file, or its
// mapped file, a band of rows at a time, so that loading it takes one band more.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "io/HeightMap.h"
#include "scene/NodeGrid.h"
#include "scene/TerrainGeometry.h"
#include "scene/TerrainLodTree.h"
#include "scene/TerrainSurface.h"

class TerrainLodShader;

class TerrainLod : public TerrainSurface {
public:
    // The level-of-detail programs, one per shading mode (index mode - 1).
    std::unique_ptr<TerrainLodShader> shaders[5];
    TerrainLodTree tree;
    // Largest projected geometric error allowed, in pixels.
    float errorPixels = 1.0f;

    // Builds the tree from the samples, or takes it from `keptTree` (TerrainLodTree::kept of the
    // same samples) when that holds one of their size, and uploads the samples and their voids,
    // placed by the geometry, a band of rows at a time, and builds the programs; the map may be
    // freed afterwards. Null, with the line that says why in `failure`, for a map too large for this
    // GPU or whose samples left in its file could not be read.
    static std::unique_ptr<TerrainLod> create(const HeightSamples& map, const TerrainGeometry& geometry,
                                              float errorPixels, const std::optional<std::string>& keptTree,
                                              std::string& failure);
    // Whether the tree was taken from the kept one rather than built.
    bool treeWasKept() const { return tookKeptTree; }
    // Deletes its textures and programs: the context that made them must be current.
    ~TerrainLod() override;
    TerrainLod(const TerrainLod&) = delete;
    TerrainLod& operator=(const TerrainLod&) = delete;

    TerrainShader& program(int mode, TerrainShader& selected) override;
    // Chooses the nodes for the view, sets the uniforms of its own and draws.
    void draw(const TerrainView& view, TerrainShader& program) override;
    void placeHeights(const TerrainGeometry& placed) override;
    uint64_t primitiveCount() const override { return lastPrimitiveCount; }

private:
    TerrainLod(const HeightSamples& map, const TerrainGeometry& geometry, float errorPixels,
               const std::optional<std::string>& keptTree);

    // Empty, or why the surface could not be built.
    std::string failure;
    bool tookKeptTree = false;
    GLuint heightTexture = 0;
    // Zero when the map has no voids.
    GLuint voidCellTexture = 0;
    int width = 0;
    int height = 0;
    TerrainGeometry geometry;
    NodeGrid wholeGrid;
    NodeGrid quarterGrid;
    LodSelection selection;
    uint64_t lastPrimitiveCount = 0;

    // What forEachBand gives each band: its index, its rows and the samples of the rows it reads.
    using BandVisit = std::function<void(int, const TerrainLodTree::Band&, const uint16_t*)>;
    // Gives `visit` the map's bands in turn; stops with the reason in `failure` when a map left in
    // its file cannot give one.
    void forEachBand(const HeightSamples& map, const BandVisit& visit, std::string& failure) const;
    // Fills the bound height texture with the map's samples.
    void uploadHeights(const HeightSamples& map, std::string& failure);
    void uploadVoidCells(const std::vector<uint8_t>& voids);
};
