// Node bounds, level errors and ranges, and the per-frame choice of nodes for the terrain's level
// of detail. The ranges grow so that neighbouring nodes differ by at most one level and a node
// has finished morphing into the next level wherever a coarser neighbour begins, so the surface
// has no cracks.
#include "scene/TerrainLodTree.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

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

int nodesCovering(int quads, int nodeSide) { return std::max(1, (quads + nodeSide - 1) / nodeSide); }

int32_t midpointGap(int32_t sample, int32_t a, int32_t b) {
    const int32_t gap = 2 * sample - a - b;
    return gap < 0 ? -gap : gap;
}

// In a row of a level's vertices, `step` apart, the samples halfway between two along the row.
int32_t vertexRowGap(const uint16_t* row, int width, int step) {
    int32_t largest = 0;
    int column = step;
    for (; column + step <= width - 1; column += 2 * step) {
        largest = std::max(largest, midpointGap(row[column], row[column - step], row[column + step]));
    }
    if (column <= width - 1) largest = std::max(largest, midpointGap(row[column], row[column - step], row[width - 1]));
    return largest;
}

// In a row halfway between two rows of vertices: the samples halfway straight up, and those in the
// middle of a quad, halfway along its diagonal from the next row's corner to the next column's.
int32_t middleRowGap(const uint16_t* row, const uint16_t* below, const uint16_t* above, int width, int step) {
    int32_t largest = 0;
    for (int column = 0; column < width; column += 2 * step) {
        largest = std::max(largest, midpointGap(row[column], below[column], above[column]));
    }
    int column = step;
    for (; column + step <= width - 1; column += 2 * step) {
        largest = std::max(largest, midpointGap(row[column], above[column - step], below[column + step]));
    }
    if (column <= width - 1) {
        largest = std::max(largest, midpointGap(row[column], above[column - step], below[width - 1]));
    }
    return largest;
}

// The finest level's step, one sample, is the bulk of the work: its loops take the samples in
// pairs, each pair loaded as one 32-bit value, so that they vectorise without shuffling single
// samples into place. Pair i holds columns 2i and 2i + 1.
struct SamplePair {
    int32_t even;
    int32_t odd;
};

SamplePair pairAt(const uint16_t* samples, int pair) {
    uint32_t bits;
    std::memcpy(&bits, samples + 2 * pair, sizeof bits);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return SamplePair{static_cast<int32_t>(bits >> 16), static_cast<int32_t>(bits & 0xFFFF)};
#else
    return SamplePair{static_cast<int32_t>(bits & 0xFFFF), static_cast<int32_t>(bits >> 16)};
#endif
}

// The pairs whose next pair lies whole within a row of `width` samples.
int pairsWithANext(int width) { return std::max(0, (width - 2) / 2); }

// vertexRowGap for the unit step.
int32_t vertexRowGapUnitStep(const uint16_t* row, int width) {
    int32_t largest = 0;
    const int pairs = pairsWithANext(width);
    for (int pair = 0; pair < pairs; ++pair) {
        const SamplePair here = pairAt(row, pair), next = pairAt(row, pair + 1);
        largest = std::max(largest, midpointGap(here.odd, here.even, next.even));
    }
    for (int column = 2 * pairs + 1; column <= width - 1; column += 2) {
        largest = std::max(largest, midpointGap(row[column], row[column - 1], row[std::min(column + 1, width - 1)]));
    }
    return largest;
}

// middleRowGap for the unit step.
int32_t middleRowGapUnitStep(const uint16_t* row, const uint16_t* below, const uint16_t* above, int width) {
    int32_t largest = 0;
    const int pairs = pairsWithANext(width);
    for (int pair = 0; pair < pairs; ++pair) {
        const SamplePair here = pairAt(row, pair), under = pairAt(below, pair), over = pairAt(above, pair);
        const SamplePair underNext = pairAt(below, pair + 1);
        largest = std::max(largest, midpointGap(here.even, under.even, over.even));
        largest = std::max(largest, midpointGap(here.odd, over.even, underNext.even));
    }
    for (int column = 2 * pairs; column < width; ++column) {
        const bool straight = column % 2 == 0;
        largest = std::max(largest, straight ? midpointGap(row[column], below[column], above[column])
                                             : midpointGap(row[column], above[column - 1],
                                                           below[std::min(column + 1, width - 1)]));
    }
    return largest;
}

// A row of samples and the rows of its quads' corners.
struct QuadRows {
    const uint16_t* samples;
    const uint16_t* below;
    const uint16_t* above;
};

// Distances are never negative, and the bits of non-negative floats order as they do, so the largest
// is kept as bits: an integer maximum vectorises where a float one would not.
int32_t distanceBits(float surface, uint16_t sample) {
    const float distance = std::fabs(surface - static_cast<float>(sample));
    int32_t bits;
    std::memcpy(&bits, &distance, sizeof bits);
    return bits;
}

// The largest distance, in sample steps, of the row's samples from `firstColumn` on from a level's
// surface, `y` of the way up its quads: vertices every `spacing` samples and on the last column,
// each quad split from its next row's corner to its next column's. `acrossWhole` and
// `acrossCutShort` say how far across a whole quad, and the last quad when cut short, each column
// offset from the quad's first lies.
float rowSurfaceDistance(const QuadRows& rows, float y, int firstColumn, int width, int spacing,
                         const float* acrossWhole, const float* acrossCutShort) {
    int32_t largestBits = 0;
    for (int column = firstColumn; column < width;) {
        const int column0 = std::min(column, width - 2) / spacing * spacing;
        const int column1 = std::min(column0 + spacing, width - 1);
        const float* across = column1 - column0 == spacing ? acrossWhole : acrossCutShort;
        // The last quad also holds the last column.
        const int lastColumn = column1 == width - 1 ? width - 1 : column0 + spacing - 1;
        const float h00 = rows.below[column0], h10 = rows.below[column1];
        const float h01 = rows.above[column0], h11 = rows.above[column1];
        const uint16_t* samples = rows.samples + column0;
        // x + y only grows along the row, so the columns in the lower triangle come first, and each
        // triangle's loop runs without a branch.
        const int first = column - column0, end = lastColumn - column0 + 1;
        const int split = static_cast<int>(
            std::partition_point(across + first, across + end, [y](float x) { return x + y <= 1.0f; }) - across);
        for (int k = first; k < split; ++k) {
            const float x = across[k];
            const float surface = h00 * (1.0f - x - y) + h10 * x + h01 * y;
            largestBits = std::max(largestBits, distanceBits(surface, samples[k]));
        }
        for (int k = split; k < end; ++k) {
            const float x = across[k];
            const float surface = h11 * (x + y - 1.0f) + h10 * (1.0f - y) + h01 * (1.0f - x);
            largestBits = std::max(largestBits, distanceBits(surface, samples[k]));
        }
        column = lastColumn + 1;
    }
    float largest;
    std::memcpy(&largest, &largestBits, sizeof largest);
    return largest;
}

}  // namespace

Frustum Frustum::fromClipMatrix(const mat4& clip, bool zeroToOneDepth) {
    const vec4 x = matrixRow(clip, 0), y = matrixRow(clip, 1), z = matrixRow(clip, 2), w = matrixRow(clip, 3);
    const vec4 minusX = x * -1.0f, minusY = y * -1.0f, minusZ = z * -1.0f;
    return Frustum{{w + x, w + minusX, w + y, w + minusY, zeroToOneDepth ? z : w + z, w + minusZ}};
}

bool Frustum::mayHoldBox(const vec3& lower, const vec3& upper) const {
    for (const vec4& plane : planes) {
        const float x = plane.x >= 0 ? upper.x : lower.x;
        const float y = plane.y >= 0 ? upper.y : lower.y;
        const float z = plane.z >= 0 ? upper.z : lower.z;
        if (plane.x * x + plane.y * y + plane.z * z + plane.w < 0) return false;
    }
    return true;
}

bool boxWithinRange(const vec3& eye, float range, const vec3& lower, const vec3& upper) {
    return range >= UNREACHABLE || distanceSquaredToBox(eye, lower, upper) <= range * range;
}

void lodRanges(const std::vector<float>& levelErrors, float sampleSpacing, float pixelsPerUnit, float errorPixels,
               std::vector<float>& ranges, std::vector<float>& morphStarts) {
    const size_t levels = levelErrors.size();
    ranges.assign(levels, 2.0f * UNREACHABLE);
    morphStarts.assign(levels, UNREACHABLE);
    float previous = 0.0f;
    // The root never morphs; an end beyond its start keeps the shader's division finite.
    for (size_t level = 0; level + 1 < levels; ++level) {
        // The next level takes over where its own error has shrunk to the budget, and by then
        // this level has finished morphing into it.
        const float nextLevelFits = levelErrors[level + 1] * pixelsPerUnit / errorPixels;
        const float nodeSide = static_cast<float>(TerrainLodTree::GRID_QUADS << level);
        const float range = std::max({nextLevelFits / (1.0f - TerrainLodTree::MORPH_FRACTION), 2.0f * previous,
                                      4.0f * nodeSide * sampleSpacing});
        ranges[level] = range;
        morphStarts[level] = previous + (1.0f - TerrainLodTree::MORPH_FRACTION) * (range - previous);
        previous = range;
    }
}

TerrainLodTree::TerrainLodTree(int width, int height, const TerrainGeometry& geometry)
    : width(width),
      height(height),
      columnSpacing(geometry.columnSpacing),
      rowSpacing(geometry.rowSpacing),
      heightOffset(geometry.heightOffset),
      heightPerValue(geometry.heightPerValue),
      lowestHeight(geometry.lowestHeight) {
    const int quads = std::max(width - 1, height - 1);
    int levels = 1;
    while (nodeSide(levels - 1) < quads) ++levels;

    nodeBounds.resize(static_cast<size_t>(levels));
    nodesAcross.resize(static_cast<size_t>(levels));
    for (int level = 0; level < levels; ++level) {
        const int across = nodesCovering(width - 1, nodeSide(level));
        const int down = nodesCovering(height - 1, nodeSide(level));
        nodesAcross[size_t(level)] = across;
        nodeBounds[size_t(level)].assign(size_t(across) * size_t(down), Bounds{UINT16_MAX, 0});
    }
    levelErrors.assign(size_t(levels), 0.0f);
    largestMidpointGaps.assign(size_t(levels), 0);
    largestCutShortDistances.assign(size_t(levels), 0.0f);
    ranges.assign(size_t(levels), 2.0f * UNREACHABLE);
    morphStarts.assign(size_t(levels), UNREACHABLE);
}

TerrainLodTree::TerrainLodTree(const uint16_t* samples, int width, int height, const TerrainGeometry& geometry)
    : TerrainLodTree(width, height, geometry) {
    for (int index = 0; index < bandCount(); ++index) {
        addBand(index, samples + size_t(band(index).firstRow) * size_t(width));
    }
}

int TerrainLodTree::bandRows() const {
    // The top level's quads, and level 0's nodes, span this many rows.
    return std::max(nodeSide(0), 1 << (levelCount() - 1));
}

int TerrainLodTree::bandCount() const { return std::max(1, (height - 1 + bandRows() - 1) / bandRows()); }

TerrainLodTree::Band TerrainLodTree::band(int index) const {
    const int firstRow = index * bandRows();
    const int lastRow = std::min(firstRow + bandRows(), height - 1);
    const int ownRows = index == bandCount() - 1 ? height - firstRow : bandRows();
    return Band{firstRow, ownRows, lastRow - firstRow + 1};
}

void TerrainLodTree::addBand(int index, const uint16_t* rows) {
    const Band given = band(index);
    addNodeBounds(given, rows);
    for (int level = 1; level < levelCount(); ++level) {
        addMidpointGaps(level, given, rows);
        addCutShortDistances(level, given, rows);
    }
    settleLevelErrors();
}

void TerrainLodTree::addNodeBounds(const Band& band, const uint16_t* rows) {
    const int side = nodeSide(0);
    const int across = nodesAcross[0];
    std::vector<Bounds>& nodes = nodeBounds[0];
    const int down = static_cast<int>(nodes.size()) / across;
    // Each node row's samples folded column by column first, so that the widest loop runs over
    // whole rows.
    std::vector<uint16_t> lowest(static_cast<size_t>(width)), highest(static_cast<size_t>(width));
    int firstNodeRow = band.firstRow / side;
    int endNodeRow = std::min(down, (band.firstRow + band.ownRows + side - 1) / side);
    for (int nodeRow = firstNodeRow; nodeRow < endNodeRow; ++nodeRow) {
        const int firstRow = nodeRow * side;
        const int lastRow = std::min(firstRow + side, height - 1);
        const uint16_t* first = rows + size_t(firstRow - band.firstRow) * size_t(width);
        std::copy(first, first + width, lowest.begin());
        std::copy(first, first + width, highest.begin());
        for (int row = firstRow + 1; row <= lastRow; ++row) {
            const uint16_t* samples = rows + size_t(row - band.firstRow) * size_t(width);
            for (int column = 0; column < width; ++column) {
                lowest[size_t(column)] = std::min(lowest[size_t(column)], samples[column]);
                highest[size_t(column)] = std::max(highest[size_t(column)], samples[column]);
            }
        }
        for (int nodeColumn = 0; nodeColumn < across; ++nodeColumn) {
            const size_t firstColumn = size_t(nodeColumn) * size_t(side);
            const size_t endColumn = size_t(std::min(nodeColumn * side + side, width - 1)) + 1;
            Bounds& node = nodes[size_t(nodeRow) * size_t(across) + size_t(nodeColumn)];
            node.lowest = *std::min_element(lowest.begin() + firstColumn, lowest.begin() + endColumn);
            node.highest = *std::max_element(highest.begin() + firstColumn, highest.begin() + endColumn);
        }
    }
    // Coarser nodes from their children; a parent whose children lie in two bands takes each
    // band's share as it comes.
    for (int level = 1; level < levelCount(); ++level) {
        const std::vector<Bounds>& finer = nodeBounds[size_t(level - 1)];
        const int finerAcross = nodesAcross[size_t(level - 1)];
        const int finerDown = static_cast<int>(finer.size()) / finerAcross;
        std::vector<Bounds>& coarser = nodeBounds[size_t(level)];
        const int coarserAcross = nodesAcross[size_t(level)];
        firstNodeRow /= 2;
        endNodeRow = std::min(static_cast<int>(coarser.size()) / coarserAcross, (endNodeRow + 1) / 2);
        for (int nodeRow = firstNodeRow; nodeRow < endNodeRow; ++nodeRow) {
            for (int nodeColumn = 0; nodeColumn < coarserAcross; ++nodeColumn) {
                Bounds& node = coarser[size_t(nodeRow) * size_t(coarserAcross) + size_t(nodeColumn)];
                for (int childRow = 2 * nodeRow; childRow < std::min(2 * nodeRow + 2, finerDown); ++childRow) {
                    for (int childColumn = 2 * nodeColumn; childColumn < std::min(2 * nodeColumn + 2, finerAcross);
                         ++childColumn) {
                        const Bounds& child = finer[size_t(childRow) * size_t(finerAcross) + size_t(childColumn)];
                        node.lowest = std::min(node.lowest, child.lowest);
                        node.highest = std::max(node.highest, child.highest);
                    }
                }
            }
        }
    }
}

// Each level's error is bounded by the finer level's plus the largest distance of the finer level's
// own vertices from the coarser surface, which is where morphing takes them. That holds in whole
// quads, whose triangles are made of the finer level's; in the quads that the map's last column or
// row cuts short they are not, so there each sample is measured.
void TerrainLodTree::addMidpointGaps(int level, const Band& band, const uint16_t* rows) {
    const int step = 1 << (level - 1);
    const auto rowAt = [&](int row) { return rows + size_t(row - band.firstRow) * size_t(width); };
    int32_t largest = largestMidpointGaps[size_t(level)];
    // Bands start on rows of every level's vertices.
    for (int row = band.firstRow; row < band.firstRow + band.ownRows; row += step) {
        const bool betweenVertexRows = (row / step) % 2 == 1;
        if (!betweenVertexRows) {
            largest = std::max(largest, step == 1 ? vertexRowGapUnitStep(rowAt(row), width)
                                                  : vertexRowGap(rowAt(row), width, step));
        } else {
            const uint16_t* below = rowAt(row - step);
            const uint16_t* above = rowAt(std::min(row + step, height - 1));
            largest = std::max(largest, step == 1 ? middleRowGapUnitStep(rowAt(row), below, above, width)
                                                  : middleRowGap(rowAt(row), below, above, width, step));
        }
    }
    largestMidpointGaps[size_t(level)] = largest;
}

void TerrainLodTree::addCutShortDistances(int level, const Band& band, const uint16_t* rows) {
    // A single row or column has no triangles to measure.
    if (width < 2 || height < 2) return;
    const int spacing = 1 << level;
    const int lastWholeColumn = (width - 1) / spacing * spacing;
    const int lastWholeRow = (height - 1) / spacing * spacing;
    // Below the last whole row only the columns past the last whole column are cut short.
    const int endRow = band.firstRow + band.ownRows;
    const int firstRow = lastWholeColumn == width - 1 ? std::max(band.firstRow, lastWholeRow + 1) : band.firstRow;
    if (firstRow >= endRow) return;

    // How far across its quad each column lies, divided once per column offset rather than once a sample.
    std::vector<float> acrossWhole(size_t(spacing) + 1), acrossCutShort(size_t(width - lastWholeColumn));
    for (size_t k = 0; k < acrossWhole.size(); ++k) {
        acrossWhole[k] = static_cast<float>(k) / static_cast<float>(spacing);
    }
    for (size_t k = 0; k < acrossCutShort.size(); ++k) {
        acrossCutShort[k] = static_cast<float>(k) / static_cast<float>(width - 1 - lastWholeColumn);
    }
    const auto rowAt = [&](int row) { return rows + size_t(row - band.firstRow) * size_t(width); };
    float largest = largestCutShortDistances[size_t(level)];
    for (int row = firstRow; row < endRow; ++row) {
        const int row0 = std::min(row, height - 2) / spacing * spacing;
        const int row1 = std::min(row0 + spacing, height - 1);
        const float y = static_cast<float>(row - row0) / static_cast<float>(row1 - row0);
        const QuadRows quadRows{rowAt(row), rowAt(row0), rowAt(row1)};
        const int firstColumn = row > lastWholeRow ? 0 : lastWholeColumn + 1;
        largest = std::max(largest, rowSurfaceDistance(quadRows, y, firstColumn, width, spacing, acrossWhole.data(),
                                                       acrossCutShort.data()));
    }
    largestCutShortDistances[size_t(level)] = largest;
}

namespace {

template <typename Value>
void put(std::string& bytes, const Value* values, size_t count) {
    bytes.append(reinterpret_cast<const char*>(values), count * sizeof(Value));
}

template <typename Value>
bool take(const std::string& bytes, size_t& at, Value* values, size_t count) {
    if (bytes.size() - at < count * sizeof(Value)) return false;
    std::memcpy(values, bytes.data() + at, count * sizeof(Value));
    at += count * sizeof(Value);
    return true;
}

}  // namespace

std::string TerrainLodTree::kept() const {
    std::string bytes;
    const int32_t size[3] = {width, height, levelCount()};
    put(bytes, size, 3);
    put(bytes, largestMidpointGaps.data(), largestMidpointGaps.size());
    put(bytes, largestCutShortDistances.data(), largestCutShortDistances.size());
    for (const std::vector<Bounds>& level : nodeBounds) put(bytes, level.data(), level.size());
    return bytes;
}

bool TerrainLodTree::takeKept(const std::string& bytes) {
    size_t at = 0;
    int32_t size[3] = {};
    if (!take(bytes, at, size, 3) || size[0] != width || size[1] != height || size[2] != levelCount()) return false;
    std::vector<int32_t> gaps(largestMidpointGaps.size());
    std::vector<float> distances(largestCutShortDistances.size());
    std::vector<std::vector<Bounds>> bounds = nodeBounds;
    bool whole = take(bytes, at, gaps.data(), gaps.size()) && take(bytes, at, distances.data(), distances.size());
    for (std::vector<Bounds>& level : bounds) whole = whole && take(bytes, at, level.data(), level.size());
    if (!whole || at != bytes.size()) return false;
    largestMidpointGaps = std::move(gaps);
    largestCutShortDistances = std::move(distances);
    nodeBounds = std::move(bounds);
    settleLevelErrors();
    return true;
}

void TerrainLodTree::settleLevelErrors() {
    // The gaps are twice a sample's distance from its vertices' midpoint.
    const float perValue = std::fabs(heightPerValue);
    for (int level = 1; level < levelCount(); ++level) {
        const float largestMidpointDistance = 0.5f * perValue * static_cast<float>(largestMidpointGaps[size_t(level)]);
        levelErrors[size_t(level)] = std::max(levelErrors[size_t(level - 1)] + largestMidpointDistance,
                                              largestCutShortDistances[size_t(level)] * perValue);
    }
}

void TerrainLodTree::placeHeights(const TerrainGeometry& geometry) {
    heightOffset = geometry.heightOffset;
    heightPerValue = geometry.heightPerValue;
    lowestHeight = geometry.lowestHeight;
    settleLevelErrors();
}

void TerrainLodTree::setViewport(float pixelsPerUnit, float errorPixels) {
    lodRanges(levelErrors, std::max(columnSpacing, rowSpacing), pixelsPerUnit, errorPixels, ranges, morphStarts);
}

void TerrainLodTree::valueRange(uint16_t& lowest, uint16_t& highest) const {
    lowest = UINT16_MAX;
    highest = 0;
    // The coarsest level's nodes cover the whole map.
    for (const Bounds& node : nodeBounds.back()) {
        lowest = std::min(lowest, node.lowest);
        highest = std::max(highest, node.highest);
    }
    if (lowest > highest) lowest = highest = 0;
}

const TerrainLodTree::Bounds& TerrainLodTree::bounds(int level, int column, int row) const {
    const int storedRow = nodesDown(level) - 1 - row;
    return nodeBounds[size_t(level)][size_t(storedRow) * size_t(nodesAcross[size_t(level)]) + size_t(column)];
}

void TerrainLodTree::nodeBox(int level, int column, int row, vec3& lower, vec3& upper) const {
    const int side = nodeSide(level);
    const Bounds& node = bounds(level, column, row);
    const float firstColumn = static_cast<float>(column * side);
    const float lastColumn = static_cast<float>(std::min(column * side + side, width - 1));
    // The southern row of nodes ends on the southern edge.
    const int northRow = std::max(firstRowFromNorth(level, row), 0);
    const int southRow = firstRowFromNorth(level, row) + side;
    // Raised to a sea that covers them, as the vertex stage raises them.
    const float a = std::max(heightOffset + static_cast<float>(node.lowest) * heightPerValue, lowestHeight);
    const float b = std::max(heightOffset + static_cast<float>(node.highest) * heightPerValue, lowestHeight);
    // The animated water may lower the surface below its samples.
    const float lowest = std::min(a, b) - static_cast<float>(WATER_WAVE_AMPLITUDE);
    lower = vec3{firstColumn * columnSpacing, lowest, zOfRowFromNorth(northRow, height, rowSpacing)};
    upper = vec3{lastColumn * columnSpacing, std::max(a, b),
                 zOfRowFromNorth(southRow, height, rowSpacing)};
}

void TerrainLodTree::select(const vec3& eye, const Frustum& frustum, LodSelection& selection) const {
    // Every node holds samples; each is drawn from the one height texture.
    struct Nodes {
        const TerrainLodTree& tree;
        int across(int level) const { return tree.nodesAcross[size_t(level)]; }
        int down(int level) const { return tree.nodesDown(level); }
        // A level overhangs the north by as much as its finer level does, or by one finer node more.
        int firstChildRow(int level, int row) const {
            return 2 * row - (2 * tree.nodesDown(level) - tree.nodesDown(level - 1));
        }
        // In the order of the samples, as the bands give them.
        bool drawnFromTheSouth() const { return true; }
        float range(int level) const { return tree.ranges[size_t(level)]; }
        bool box(int level, int column, int row, vec3& lower, vec3& upper) const {
            tree.nodeBox(level, column, row, lower, upper);
            return true;
        }
        // A node of `nodeLevel` drawn at the spacing of `drawnLevel`.
        LodInstance at(int nodeLevel, int column, int row, int drawnLevel) const {
            return LodInstance{static_cast<float>(column * tree.nodeSide(nodeLevel)),
                               static_cast<float>(tree.firstRowFromNorth(nodeLevel, row)),
                               static_cast<float>(1 << drawnLevel), static_cast<float>(drawnLevel)};
        }
        LodInstance whole(int level, int column, int row) const { return at(level, column, row, level); }
        LodInstance quarter(int parentLevel, int column, int row) const {
            return at(parentLevel - 1, column, row, parentLevel);
        }
        void drawn(int, int, int) const {}
    } nodes{*this};
    selectLodNodes(nodes, levelCount() - 1, eye, frustum, selection);
}

uint64_t TerrainLodTree::triangleCount(const LodSelection& selection) {
    const uint64_t whole = 2ull * GRID_QUADS * GRID_QUADS;
    const uint64_t quarter = whole / 4;
    return selection.wholeNodes.size() * whole + selection.quarterNodes.size() * quarter;
}
