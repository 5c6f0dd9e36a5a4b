// Level-of-detail terrain drawing: height texture upload, the shared grids, and one instanced
// draw per grid size each frame.
#include "scene/TerrainLod.h"

#include <sstream>
#include <vector>

#include "app/Application.h"
#include "app/Fatal.h"
#include "gpu/UnpackAlignment.h"
#include "gpu/VertexArray.h"
#include "math/Camera.h"
#include "scene/TerrainShader.h"
#include "scene/glsl/terrainConstants.glsl"

namespace {

constexpr int HEIGHT_TEXTURE_UNIT = 3;

}  // namespace

TerrainLod::TerrainLod(const uint16_t* samples, int width, int height, float heightPerValue, float horizontalScale,
                       float errorPixels)
    : tree(samples, width, height, heightPerValue, horizontalScale),
      errorPixels(errorPixels),
      width(width),
      height(height),
      heightPerValue(heightPerValue),
      horizontalScale(horizontalScale) {
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    if (width > largestSide || height > largestSide || tree.levelCount() > MAX_LOD_LEVELS) {
        std::ostringstream line;
        line << "Height map too large for level of detail: " << width << " x " << height
             << " samples, more than this GPU's " << largestSide << " a side (GL_MAX_TEXTURE_SIZE)";
        fatal(line.str());
    }
    glGenTextures(1, &heightTexture);
    glActiveTexture(GL_TEXTURE0 + HEIGHT_TEXTURE_UNIT);
    glBindTexture(GL_TEXTURE_2D, heightTexture);
    {
        // Rows of 16-bit samples are only two-byte aligned.
        const UnpackAlignment alignment(2);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R16UI, width, height, 0, GL_RED_INTEGER, GL_UNSIGNED_SHORT, samples);
    }
    // Integer textures are only complete with nearest filtering; the shaders fetch texels directly anyway.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);

    wholeGrid = createGrid(TerrainLodTree::GRID_QUADS);
    quarterGrid = createGrid(TerrainLodTree::GRID_QUADS / 2);
    for (int mode = 1; mode <= 5; ++mode) shaders[mode - 1] = new TerrainLodShader(mode);
}

TerrainLod::Grid TerrainLod::createGrid(int quads) {
    Grid grid;
    const int side = quads + 1;
    std::vector<float> vertices;
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            vertices.push_back(static_cast<float>(column));
            vertices.push_back(static_cast<float>(row));
        }
    }
    // The full mesh's triangles: in each quad the diagonal runs from the next row's corner to the
    // next column's, and both triangles face up.
    std::vector<uint16_t> indices;
    for (int row = 0; row < quads; ++row) {
        for (int column = 0; column < quads; ++column) {
            const uint16_t corner = static_cast<uint16_t>(row * side + column);
            const uint16_t nextRow = static_cast<uint16_t>(corner + side);
            indices.insert(indices.end(), {nextRow, corner, static_cast<uint16_t>(corner + 1), nextRow,
                                           static_cast<uint16_t>(corner + 1), static_cast<uint16_t>(nextRow + 1)});
        }
    }
    grid.vertexCount = static_cast<GLsizei>(side * side);
    grid.indexCount = static_cast<GLsizei>(indices.size());
    createVertexArray(grid.vao, grid.vertexBuffer, &grid.indexBuffer);
    glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(float), vertices.data(), GL_STATIC_DRAW);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * sizeof(uint16_t), indices.data(), GL_STATIC_DRAW);
    describeFloatRecords({{POSITION_ATTRIBUTE, 2}});

    glGenBuffers(1, &grid.instanceBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, grid.instanceBuffer);
    describeFloatRecords({{NODE_ATTRIBUTE, 4}});
    glVertexAttribDivisor(NODE_ATTRIBUTE, 1);
    glBindVertexArray(0);
    return grid;
}

void TerrainLod::drawInstances(Grid& grid, const std::vector<LodInstance>& instances, bool asPoints) {
    if (instances.empty()) return;
    glBindVertexArray(grid.vao);
    glBindBuffer(GL_ARRAY_BUFFER, grid.instanceBuffer);
    // A fresh store each frame, so the driver never waits for the last frame's draw.
    glBufferData(GL_ARRAY_BUFFER, instances.size() * sizeof(LodInstance), instances.data(), GL_STREAM_DRAW);
    const GLsizei count = static_cast<GLsizei>(instances.size());
    if (asPoints) {
        glDrawArraysInstanced(GL_POINTS, 0, grid.vertexCount, count);
        lastPrimitiveCount += uint64_t(grid.vertexCount) * uint64_t(count);
    } else {
        glDrawElementsInstanced(GL_TRIANGLES, grid.indexCount, GL_UNSIGNED_SHORT, nullptr, count);
        lastPrimitiveCount += uint64_t(grid.indexCount / 3) * uint64_t(count);
    }
}

void TerrainLod::draw(TerrainLodShader& shader, int terrainMode, int viewportHeight) {
    Application& application = Application::instance();
    // projection[1][1] is 1 / tan(fov / 2): a unit at distance one spans that many half-viewports.
    tree.setViewport(0.5f * static_cast<float>(viewportHeight) * application.projection[1][1], errorPixels);
    const mat4 clip = application.projection * application.modelview;
    tree.select(application.camera->position, Frustum::fromClipMatrix(clip), selection);

    glActiveTexture(GL_TEXTURE0 + HEIGHT_TEXTURE_UNIT);
    glBindTexture(GL_TEXTURE_2D, heightTexture);
    glUniform1i(shader.heightsLocation, HEIGHT_TEXTURE_UNIT);
    glUniform2i(shader.mapSizeLocation, width, height);
    glUniform1f(shader.horizontalScaleLocation, horizontalScale);
    glUniform1f(shader.heightPerValueLocation, heightPerValue);
    float morphRanges[2 * MAX_LOD_LEVELS] = {};
    for (int level = 0; level < tree.levelCount(); ++level) {
        morphRanges[2 * level] = tree.morphStart(level);
        morphRanges[2 * level + 1] = tree.morphEnd(level);
    }
    glUniform2fv(shader.morphRangesLocation, MAX_LOD_LEVELS, morphRanges);

    lastPrimitiveCount = 0;
    const bool asPoints = terrainMode <= 2;
    if (asPoints) glPointSize(1.0f);
    drawInstances(wholeGrid, selection.wholeNodes, asPoints);
    drawInstances(quarterGrid, selection.quarterNodes, asPoints);
    glBindVertexArray(0);
}
