// Level-of-detail terrain drawing: height and void-cell texture uploads, the shared grids, and one
// instanced draw per grid size each frame.
#include "scene/TerrainLod.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "gpu/TextureUnits.h"
#include "gpu/UnpackAlignment.h"
#include "scene/TerrainShader.h"
#include "scene/glsl/terrainConstants.glsl"

namespace {

}  // namespace

TerrainLod::TerrainLod(const HeightSamples& map, const TerrainGeometry& geometry, float errorPixels,
                       const std::optional<std::string>& keptTree)
    : tree(map.width, map.height, geometry),
      errorPixels(errorPixels),
      width(map.width),
      height(map.height),
      geometry(geometry),
      wholeGrid(TerrainLodTree::GRID_QUADS),
      quarterGrid(TerrainLodTree::GRID_QUADS / 2) {
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    if (width > largestSide || height > largestSide || tree.levelCount() > MAX_LOD_LEVELS) {
        failure = tooLargeLine("level of detail", width, height,
                               "more than this GPU's " + std::to_string(largestSide) + " a side (GL_MAX_TEXTURE_SIZE)");
        return;
    }
    // A driver may fill a new texture's memory first (llvmpipe zeroes it page by page, which takes
    // as long as the tree), so the tree is built meanwhile on a thread of its own, and the texture
    // filled band by band once both are done.
    tookKeptTree = keptTree && tree.takeKept(*keptTree);
    std::string treeFailure;
    std::thread treeBuilder;
    if (!tookKeptTree) {
        treeBuilder = std::thread([&] {
            const auto addBand = [this](int index, const TerrainLodTree::Band&, const uint16_t* rows) {
                tree.addBand(index, rows);
            };
            forEachBand(map, addBand, treeFailure);
        });
    }
    glGenTextures(1, &heightTexture);
    glActiveTexture(GL_TEXTURE0 + LOD_HEIGHTS_UNIT);
    glBindTexture(GL_TEXTURE_2D, heightTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R16UI, width, height, 0, GL_RED_INTEGER, GL_UNSIGNED_SHORT, nullptr);
    // Integer textures are only complete with nearest filtering; the shaders fetch texels directly anyway.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    if (treeBuilder.joinable()) treeBuilder.join();
    failure = treeFailure;
    if (failure.empty()) uploadHeights(map, failure);
    if (!map.voids.empty()) uploadVoidCells(map.voids);

    for (int mode = 1; mode <= 5; ++mode) shaders[mode - 1] = std::make_unique<TerrainLodShader>(mode);
}

std::unique_ptr<TerrainLod> TerrainLod::create(const HeightSamples& map, const TerrainGeometry& geometry,
                                               float errorPixels, const std::optional<std::string>& keptTree,
                                               std::string& failure) {
    // The constructor is private: only a surface that could be built is handed out.
    std::unique_ptr<TerrainLod> lod(new TerrainLod(map, geometry, errorPixels, keptTree));
    failure = lod->failure;
    return failure.empty() ? std::move(lod) : nullptr;
}

TerrainLod::~TerrainLod() {
    const GLuint textures[2] = {heightTexture, voidCellTexture};
    glDeleteTextures(2, textures);
}

void TerrainLod::forEachBand(const HeightSamples& map, const BandVisit& visit, std::string& failure) const {
    // A map left in its file is read one band at a time into the one buffer, so that only a band's
    // samples are ever held.
    std::unique_ptr<uint16_t[]> buffer;
    if (map.rawFile) buffer.reset(new uint16_t[size_t(tree.band(0).readRows) * size_t(width)]);
    for (int index = 0; index < tree.bandCount(); ++index) {
        const TerrainLodTree::Band band = tree.band(index);
        const uint16_t* rows = sampleRows(map, band.firstRow, band.readRows, buffer.get(), failure);
        if (rows == nullptr) return;
        visit(index, band, rows);
    }
}

void TerrainLod::uploadHeights(const HeightSamples& map, std::string& failure) {
    // Rows of 16-bit samples are only two-byte aligned.
    const UnpackAlignment alignment(2);
    const MappedRawSamples mapped(map);
    if (mapped.isMapped()) {
        // The driver copies each row straight out of the file's cache, where reading the band first
        // would copy it twice; the file holds the rows top row first, so they go one at a time.
        for (int index = 0; index < tree.bandCount(); ++index) {
            const TerrainLodTree::Band band = tree.band(index);
            for (int row = band.firstRow; row < band.firstRow + band.ownRows; ++row) {
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, width, 1, GL_RED_INTEGER, GL_UNSIGNED_SHORT,
                                mapped.row(row));
            }
            mapped.release(band.firstRow, band.ownRows);
        }
        return;
    }
    const auto upload = [this](int, const TerrainLodTree::Band& band, const uint16_t* rows) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, band.firstRow, width, band.ownRows, GL_RED_INTEGER, GL_UNSIGNED_SHORT,
                        rows);
    };
    forEachBand(map, upload, failure);
}

void TerrainLod::uploadVoidCells(const std::vector<uint8_t>& voids) {
    // One texel a cell, so that a fragment reads one texel instead of its cell's four corners.
    const int columns = std::max(width - 1, 1);
    const int rows = std::max(height - 1, 1);
    std::vector<uint8_t> cells(size_t(columns) * size_t(rows));
    for (int row = 0; row < rows; ++row) {
        const size_t below = size_t(row) * size_t(width);
        const size_t above = size_t(std::min(row + 1, height - 1)) * size_t(width);
        for (int column = 0; column < columns; ++column) {
            const size_t next = size_t(std::min(column + 1, width - 1));
            const bool touchesVoid = voids[below + size_t(column)] || voids[below + next] ||
                                     voids[above + size_t(column)] || voids[above + next];
            cells[size_t(row) * size_t(columns) + size_t(column)] = touchesVoid ? 255 : 0;
        }
    }
    glGenTextures(1, &voidCellTexture);
    glActiveTexture(GL_TEXTURE0 + LOD_VOID_CELLS_UNIT);
    glBindTexture(GL_TEXTURE_2D, voidCellTexture);
    {
        const UnpackAlignment alignment(1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, columns, rows, 0, GL_RED, GL_UNSIGNED_BYTE, cells.data());
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

TerrainShader& TerrainLod::program(int mode, TerrainShader&) { return *shaders[mode - 1]; }

void TerrainLod::placeHeights(const TerrainGeometry& placed) {
    geometry.heightOffset = placed.heightOffset;
    geometry.heightPerValue = placed.heightPerValue;
    geometry.lowestHeight = placed.lowestHeight;
    tree.placeHeights(geometry);
}

void TerrainLod::draw(const TerrainView& view, TerrainShader& program) {
    TerrainLodShader& shader = static_cast<TerrainLodShader&>(program);
    // projection[1][1] is 1 / tan(fov / 2): a unit at distance one spans that many half-viewports.
    tree.setViewport(0.5f * static_cast<float>(view.viewportHeight) * view.projection[1][1], errorPixels);
    tree.select(view.eye, Frustum::fromClipMatrix(view.projection * view.modelview, view.zeroToOneDepth), selection);

    glActiveTexture(GL_TEXTURE0 + LOD_HEIGHTS_UNIT);
    glBindTexture(GL_TEXTURE_2D, heightTexture);
    glUniform1i(shader.heightsLocation, LOD_HEIGHTS_UNIT);
    glUniform1f(shader.heightOffsetLocation, geometry.heightOffset);
    glUniform1f(shader.heightPerValueLocation, geometry.heightPerValue);
    glUniform1i(shader.hasVoidsLocation, voidCellTexture != 0);
    if (voidCellTexture != 0) {
        glActiveTexture(GL_TEXTURE0 + LOD_VOID_CELLS_UNIT);
        glBindTexture(GL_TEXTURE_2D, voidCellTexture);
    }
    glUniform1i(shader.voidCellsLocation, LOD_VOID_CELLS_UNIT);
    float morphRanges[2 * MAX_LOD_LEVELS] = {};
    for (int level = 0; level < tree.levelCount(); ++level) {
        morphRanges[2 * level] = tree.morphStart(level);
        morphRanges[2 * level + 1] = tree.morphEnd(level);
    }
    glUniform2fv(shader.morphRangesLocation, MAX_LOD_LEVELS, morphRanges);

    const bool asPoints = view.mode <= 2;
    if (asPoints) glPointSize(1.0f);
    lastPrimitiveCount = wholeGrid.draw(selection.wholeNodes, asPoints) + quarterGrid.draw(selection.quarterNodes, asPoints);
    glBindVertexArray(0);
}
