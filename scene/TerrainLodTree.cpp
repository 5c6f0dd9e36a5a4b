// Node bounds, level errors and ranges, and the per-frame choice of nodes for the terrain's level
// of detail. The ranges grow so that neighbouring nodes differ by at most one level and a node
// has finished morphing into the next level wherever a coarser neighbour begins, so the surface
// has no cracks.
#include "scene/TerrainLodTree.h"

#include <algorithm>
#include <cmath>

#include "scene/glsl/terrainConstants.glsl"

namespace {

// Stands for "never": a root level's range, beyond which nothing morphs.
constexpr float UNREACHABLE = 1e30f;

vec4 matrixRow(const mat4& m, int row) { return vec4{m[0][row], m[1][row], m[2][row], m[3][row]}; }

float distanceSquaredToBox(const vec3& point, const vec3& lower, const vec3& upper) {
    const float dx = std::max({lower.x - point.x, 0.0f, point.x - upper.x});
    const float dy = std::max({lower.y - point.y, 0.0f, point.y - upper.y});
    const float dz = std::max({lower.z - point.z, 0.0f, point.z - upper.z});
    return dx * dx + dy * dy + dz * dz;
}

bool boxWithinRange(const vec3& eye, float range, const vec3& lower, const vec3& upper) {
    return range >= UNREACHABLE || distanceSquaredToBox(eye, lower, upper) <= range * range;
}

bool boxInFrustum(const Frustum& frustum, const vec3& lower, const vec3& upper) {
    for (const vec4& plane : frustum.planes) {
        const float x = plane.x >= 0 ? upper.x : lower.x;
        const float y = plane.y >= 0 ? upper.y : lower.y;
        const float z = plane.z >= 0 ? upper.z : lower.z;
        if (plane.x * x + plane.y * y + plane.z * z + plane.w < 0) return false;
    }
    return true;
}

int nodesCovering(int quads, int nodeSide) { return std::max(1, (quads + nodeSide - 1) / nodeSide); }

}  // namespace

Frustum Frustum::fromClipMatrix(const mat4& clip, bool zeroToOneDepth) {
    const vec4 x = matrixRow(clip, 0), y = matrixRow(clip, 1), z = matrixRow(clip, 2), w = matrixRow(clip, 3);
    const vec4 minusX = x * -1.0f, minusY = y * -1.0f, minusZ = z * -1.0f;
    return Frustum{{w + x, w + minusX, w + y, w + minusY, zeroToOneDepth ? z : w + z, w + minusZ}};
}

TerrainLodTree::TerrainLodTree(const uint16_t* samples, int width, int height, const TerrainGeometry& geometry)
    : width(width), height(height), columnSpacing(geometry.columnSpacing), rowSpacing(geometry.rowSpacing) {
    const auto heightAt = [&](int column, int row) {
        return geometry.heightOffset +
               static_cast<float>(samples[size_t(row) * size_t(width) + size_t(column)]) * geometry.heightPerValue;
    };
    const int quads = std::max(width - 1, height - 1);
    int levels = 1;
    while (nodeSide(levels - 1) < quads) ++levels;

    // Finest nodes' bounds straight from the samples, coarser ones from their children.
    nodeBounds.resize(static_cast<size_t>(levels));
    nodesAcross.resize(static_cast<size_t>(levels));
    for (int level = 0; level < levels; ++level) {
        const int across = nodesCovering(width - 1, nodeSide(level));
        const int down = nodesCovering(height - 1, nodeSide(level));
        nodesAcross[size_t(level)] = across;
        std::vector<Bounds>& bounds = nodeBounds[size_t(level)];
        bounds.assign(size_t(across) * size_t(down), Bounds{UNREACHABLE, -UNREACHABLE});
        for (int nodeRow = 0; nodeRow < down; ++nodeRow) {
            for (int nodeColumn = 0; nodeColumn < across; ++nodeColumn) {
                Bounds& node = bounds[size_t(nodeRow) * size_t(across) + size_t(nodeColumn)];
                if (level == 0) {
                    const int side = nodeSide(0);
                    const int lastRow = std::min(nodeRow * side + side, height - 1);
                    const int lastColumn = std::min(nodeColumn * side + side, width - 1);
                    for (int row = nodeRow * side; row <= lastRow; ++row) {
                        for (int column = nodeColumn * side; column <= lastColumn; ++column) {
                            const float h = heightAt(column, row);
                            node.minimum = std::min(node.minimum, h);
                            node.maximum = std::max(node.maximum, h);
                        }
                    }
                    continue;
                }
                const std::vector<Bounds>& finer = nodeBounds[size_t(level - 1)];
                const int finerAcross = nodesAcross[size_t(level - 1)];
                const int finerDown = static_cast<int>(finer.size()) / finerAcross;
                for (int childRow = 2 * nodeRow; childRow < std::min(2 * nodeRow + 2, finerDown); ++childRow) {
                    for (int childColumn = 2 * nodeColumn; childColumn < std::min(2 * nodeColumn + 2, finerAcross);
                         ++childColumn) {
                        const Bounds& child = finer[size_t(childRow) * size_t(finerAcross) + size_t(childColumn)];
                        node.minimum = std::min(node.minimum, child.minimum);
                        node.maximum = std::max(node.maximum, child.maximum);
                    }
                }
            }
        }
    }

    // Level k's surface at a sample, as the grid draws it: vertices every 2^k samples and on the
    // last column and row, each quad split from its next row's corner to its next column's.
    const auto surfaceAt = [&](int spacing, int column, int row) {
        const int column0 = std::min(column, width - 2) / spacing * spacing;
        const int column1 = std::min(column0 + spacing, width - 1);
        const int row0 = std::min(row, height - 2) / spacing * spacing;
        const int row1 = std::min(row0 + spacing, height - 1);
        const float x = static_cast<float>(column - column0) / static_cast<float>(column1 - column0);
        const float y = static_cast<float>(row - row0) / static_cast<float>(row1 - row0);
        if (x + y <= 1.0f) {
            return heightAt(column0, row0) * (1.0f - x - y) + heightAt(column1, row0) * x + heightAt(column0, row1) * y;
        }
        return heightAt(column1, row1) * (x + y - 1.0f) + heightAt(column1, row0) * (1.0f - y) +
               heightAt(column0, row1) * (1.0f - x);
    };

    // Each level's error is bounded by the finer level's plus the largest distance of the finer
    // level's own vertices from the coarser surface, which is where morphing takes them. That holds
    // in whole quads, whose triangles are made of the finer level's; in the quads that the map's
    // last column or row cuts short they are not, so there each sample is measured.
    levelErrors.assign(size_t(levels), 0.0f);
    for (int level = 1; level < levels; ++level) {
        const int step = 1 << (level - 1);
        const int spacing = 2 * step;
        float largestCutShort = 0.0f;
        // A single row or column has no triangles to measure.
        if (width > 1 && height > 1) {
            const int lastWholeColumn = (width - 1) / spacing * spacing;
            const int lastWholeRow = (height - 1) / spacing * spacing;
            for (int row = 0; row < height; ++row) {
                for (int column = row > lastWholeRow ? 0 : lastWholeColumn + 1; column < width; ++column) {
                    const float distance = std::fabs(surfaceAt(spacing, column, row) - heightAt(column, row));
                    largestCutShort = std::max(largestCutShort, distance);
                }
            }
        }

        float largest = 0.0f;
        for (int row = 0; row < height; row += step) {
            const bool oddRow = (row / step) % 2 == 1;
            const int row0 = oddRow ? row - step : row;
            const int row1 = std::min(row0 + 2 * step, height - 1);
            for (int column = 0; column < width; column += step) {
                const bool oddColumn = (column / step) % 2 == 1;
                if (!oddRow && !oddColumn) continue;
                const int column0 = oddColumn ? column - step : column;
                const int column1 = std::min(column0 + 2 * step, width - 1);
                float between;
                if (oddRow && oddColumn) {
                    between = 0.5f * (heightAt(column0, row1) + heightAt(column1, row0));
                } else if (oddRow) {
                    between = 0.5f * (heightAt(column, row0) + heightAt(column, row1));
                } else {
                    between = 0.5f * (heightAt(column0, row) + heightAt(column1, row));
                }
                largest = std::max(largest, std::fabs(heightAt(column, row) - between));
            }
        }
        levelErrors[size_t(level)] = std::max(levelErrors[size_t(level - 1)] + largest, largestCutShort);
    }
    ranges.assign(size_t(levels), 2.0f * UNREACHABLE);
    morphStarts.assign(size_t(levels), UNREACHABLE);
}

void TerrainLodTree::setViewport(float pixelsPerUnit, float errorPixels) {
    const int levels = levelCount();
    float previous = 0.0f;
    for (int level = 0; level < levels; ++level) {
        if (level == levels - 1) {
            // The root never morphs; an end beyond its start keeps the shader's division finite.
            morphStarts[size_t(level)] = UNREACHABLE;
            ranges[size_t(level)] = 2.0f * UNREACHABLE;
            break;
        }
        // The next level takes over where its own error has shrunk to the budget, and by then
        // this level has finished morphing into it.
        const float nextLevelFits = levelErrors[size_t(level + 1)] * pixelsPerUnit / errorPixels;
        const float range = std::max({nextLevelFits / (1.0f - MORPH_FRACTION), 2.0f * previous,
                                      4.0f * static_cast<float>(nodeSide(level)) * std::max(columnSpacing, rowSpacing)});
        ranges[size_t(level)] = range;
        morphStarts[size_t(level)] = previous + (1.0f - MORPH_FRACTION) * (range - previous);
        previous = range;
    }
}

void TerrainLodTree::nodeBox(int level, int column, int row, vec3& lower, vec3& upper) const {
    const int side = nodeSide(level);
    const Bounds& bounds = nodeBounds[size_t(level)][size_t(row) * size_t(nodesAcross[size_t(level)]) + size_t(column)];
    const float firstColumn = static_cast<float>(column * side);
    const float lastColumn = static_cast<float>(std::min(column * side + side, width - 1));
    const float firstRow = static_cast<float>(row * side);
    const float lastRow = static_cast<float>(std::min(row * side + side, height - 1));
    // The animated water may lower the surface below its samples.
    const float lowest = bounds.minimum - static_cast<float>(WATER_WAVE_AMPLITUDE);
    lower = vec3{firstColumn * columnSpacing, lowest, -(lastRow * rowSpacing)};
    upper = vec3{lastColumn * columnSpacing, bounds.maximum, -(firstRow * rowSpacing)};
}

bool TerrainLodTree::selectNode(int level, int column, int row, const vec3& eye, const Frustum& frustum,
                                LodSelection& selection) const {
    vec3 lower, upper;
    nodeBox(level, column, row, lower, upper);
    // Beyond this level's range the parent draws the area.
    if (!boxWithinRange(eye, ranges[size_t(level)], lower, upper)) return false;
    if (!boxInFrustum(frustum, lower, upper)) return true;

    const float spacing = static_cast<float>(1 << level);
    const LodInstance whole{static_cast<float>(column * nodeSide(level)), static_cast<float>(row * nodeSide(level)),
                            spacing, static_cast<float>(level)};
    if (level == 0 || !boxWithinRange(eye, ranges[size_t(level - 1)], lower, upper)) {
        selection.wholeNodes.push_back(whole);
        return true;
    }
    const int finerAcross = nodesAcross[size_t(level - 1)];
    const int finerDown = static_cast<int>(nodeBounds[size_t(level - 1)].size()) / finerAcross;
    for (int childRow = 2 * row; childRow < std::min(2 * row + 2, finerDown); ++childRow) {
        for (int childColumn = 2 * column; childColumn < std::min(2 * column + 2, finerAcross); ++childColumn) {
            if (selectNode(level - 1, childColumn, childRow, eye, frustum, selection)) continue;
            vec3 childLower, childUpper;
            nodeBox(level - 1, childColumn, childRow, childLower, childUpper);
            if (!boxInFrustum(frustum, childLower, childUpper)) continue;
            selection.quarterNodes.push_back(LodInstance{static_cast<float>(childColumn * nodeSide(level - 1)),
                                                         static_cast<float>(childRow * nodeSide(level - 1)),
                                                         spacing, static_cast<float>(level)});
        }
    }
    return true;
}

void TerrainLodTree::select(const vec3& eye, const Frustum& frustum, LodSelection& selection) const {
    selection.wholeNodes.clear();
    selection.quarterNodes.clear();
    const int root = levelCount() - 1;
    const int across = nodesAcross[size_t(root)];
    const int down = static_cast<int>(nodeBounds[size_t(root)].size()) / across;
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) selectNode(root, column, row, eye, frustum, selection);
    }
}

uint64_t TerrainLodTree::triangleCount(const LodSelection& selection) {
    const uint64_t whole = 2ull * GRID_QUADS * GRID_QUADS;
    const uint64_t quarter = whole / 4;
    return selection.wholeNodes.size() * whole + selection.quarterNodes.size() * quarter;
}
