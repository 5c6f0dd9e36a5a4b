// Mesh building for the terrain, kept free of GL so that it can be tested and timed on its own.
#include "scene/TerrainMesh.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {

// Four floats of four neighbouring vertices, worked on together where SSE is available.
#if defined(__SSE2__)
struct Float4 {
    __m128 value;
    Float4(__m128 v) : value(v) {}
    explicit Float4(float broadcast) : value(_mm_set1_ps(broadcast)) {}
    static Float4 load(const float* p) { return Float4(_mm_loadu_ps(p)); }
};
inline Float4 operator+(Float4 a, Float4 b) { return _mm_add_ps(a.value, b.value); }
inline Float4 operator-(Float4 a, Float4 b) { return _mm_sub_ps(a.value, b.value); }
inline Float4 operator*(Float4 a, Float4 b) { return _mm_mul_ps(a.value, b.value); }
inline Float4 operator/(Float4 a, Float4 b) { return _mm_div_ps(a.value, b.value); }
inline Float4 squareRoot(Float4 a) { return _mm_sqrt_ps(a.value); }
#endif

// A float square root is correctly rounded, so it equals the double-precision root rounded back
// to single precision, and the four-wide root gives the same bits.
inline float squareRoot(float value) { return std::sqrt(value); }

// A 3-vector of one vertex (Lane = float) or of four (Lane = Float4); one formula serves both, so
// both paths round alike.
template <typename Lane>
struct Lanes3 {
    Lane x, y, z;
};

template <typename Lane>
inline Lanes3<Lane> operator+(const Lanes3<Lane>& a, const Lanes3<Lane>& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
template <typename Lane>
inline Lanes3<Lane> operator-(const Lanes3<Lane>& a, const Lanes3<Lane>& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
template <typename Lane>
inline Lanes3<Lane> cross(const Lanes3<Lane>& a, const Lanes3<Lane>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The unit normal at p from its eight neighbours in the cyclic order A, B, C, D, E, F, G, K:
// the pairs A-B, C-D, E-F, G-K weigh one half, the pairs B-C, D-E, F-G, K-A weigh one.
template <typename Lane>
inline Lanes3<Lane> neighbourNormal(const Lanes3<Lane>& p, const Lanes3<Lane>& A, const Lanes3<Lane>& B,
                                 const Lanes3<Lane>& C, const Lanes3<Lane>& D, const Lanes3<Lane>& E,
                                 const Lanes3<Lane>& F, const Lanes3<Lane>& G, const Lanes3<Lane>& K) {
    const Lanes3<Lane> a = A - p, b = B - p, c = C - p, d = D - p;
    const Lanes3<Lane> e = E - p, f = F - p, g = G - p, k = K - p;
    const Lanes3<Lane> half = cross(b, a) + cross(d, c) + cross(f, e) + cross(k, g);
    const Lanes3<Lane> whole = cross(a, k) + cross(g, f) + cross(e, d) + cross(c, b);
    const Lane weight(0.5f);
    const Lanes3<Lane> n{half.x * weight + whole.x, half.y * weight + whole.y, half.z * weight + whole.z};
    const Lane length = squareRoot(n.x * n.x + n.y * n.y + n.z * n.z);
    return {n.x / length, n.y / length, n.z / length};
}

// The grid of one row: heights of the rows below (i - 1, towards +z), at and above (i + 1),
// each column's x, and the rows' z. Columns are read through an accessor so that the same code
// loads one column or four.
struct RowView {
    const float* x;
    const float* below;
    const float* row;
    const float* above;
    float zBelow, z, zAbove;

    // Normal of the vertex (or four vertices) starting at column j, with the neighbour columns
    // starting at left and right.
    template <typename Lane, typename Load>
    Lanes3<Lane> normal(int j, int left, int right, Load load) const {
        const Lane zb(zBelow), zr(z), za(zAbove);
        const Lanes3<Lane> p{load(x + j), load(row + j), zr};
        return neighbourNormal<Lane>(p,
                                  {load(x + j), load(below + j), zb},
                                  {load(x + left), load(below + left), zb},
                                  {load(x + left), load(row + left), zr},
                                  {load(x + left), load(above + left), za},
                                  {load(x + j), load(above + j), za},
                                  {load(x + right), load(above + right), za},
                                  {load(x + right), load(row + right), zr},
                                  {load(x + right), load(below + right), zb});
    }
};

// Heights of the rows around the one being built, converted once and reused by the next two
// rows; with wrap-around, row 0 and row H - 1 are neighbours too.
class HeightRows {
public:
    HeightRows(const uint16_t* samples, int width, const TerrainGeometry& geometry)
        : samples(samples),
          width(width),
          heightOffset(geometry.heightOffset),
          heightPerValue(geometry.heightPerValue),
          storage(size_t(3) * width) {}

    // The heights of row index, keeping the two other rows given in their slots.
    const float* row(int index, int keepA, int keepB) {
        for (int slot = 0; slot < 3; ++slot) {
            if (rows[slot] == index) return &storage[size_t(slot) * width];
        }
        int slot = 0;
        while (rows[slot] == keepA || rows[slot] == keepB) ++slot;
        rows[slot] = index;
        float* heights = &storage[size_t(slot) * width];
        const uint16_t* sample = samples + size_t(index) * width;
        for (int j = 0; j < width; ++j) heights[j] = heightOffset + static_cast<float>(sample[j]) * heightPerValue;
        return heights;
    }

private:
    const uint16_t* samples;
    int width;
    float heightOffset;
    float heightPerValue;
    std::vector<float> storage;
    int rows[3] = {-1, -1, -1};
};

}  // namespace

uint64_t terrainVertexCount(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return uint64_t(width) * uint64_t(height);
}

uint64_t terrainIndexCount(int width, int height) {
    if (width <= 0 || height <= 1) return 0;
    return uint64_t(height - 1) * (2 * uint64_t(width) + 2);
}

bool terrainGridFits(int width, int height) {
    const uint64_t limit = uint64_t(std::numeric_limits<int32_t>::max());
    return width > 0 && height > 0 && terrainVertexCount(width, height) <= limit &&
           terrainIndexCount(width, height) <= limit;
}

void buildTerrainVertices(const HeightSamples& map, const TerrainGeometry& geometry, float* vertices) {
    const int width = map.width;
    const int height = map.height;
    std::vector<float> columnX(width), columnU(width);
    for (int j = 0; j < width; ++j) {
        columnX[j] = static_cast<float>(j) * geometry.columnSpacing;
        columnU[j] = static_cast<float>(j) / static_cast<float>(width);
    }
    HeightRows heights(map.samples.data(), width, geometry);

    for (int i = 0; i < height; ++i) {
        const int belowIndex = (i - 1 + height) % height;
        const int aboveIndex = (i + 1) % height;
        RowView view;
        view.x = columnX.data();
        view.below = heights.row(belowIndex, i, aboveIndex);
        view.row = heights.row(i, belowIndex, aboveIndex);
        view.above = heights.row(aboveIndex, belowIndex, i);
        view.zBelow = -(static_cast<float>(belowIndex) * geometry.rowSpacing);
        view.z = -(static_cast<float>(i) * geometry.rowSpacing);
        view.zAbove = -(static_cast<float>(aboveIndex) * geometry.rowSpacing);
        const float v = static_cast<float>(i) / static_cast<float>(height);
        float* rowOut = vertices + size_t(i) * size_t(width) * TERRAIN_VERTEX_FLOATS;

        auto writeOne = [&](int j, int left, int right) {
            const Lanes3<float> n = view.normal<float>(j, left, right, [](const float* p) { return *p; });
            float* out = rowOut + size_t(j) * TERRAIN_VERTEX_FLOATS;
            out[0] = columnX[j];
            out[1] = view.row[j];
            out[2] = view.z;
            out[3] = n.x;
            out[4] = n.y;
            out[5] = n.z;
            out[6] = columnU[j];
            out[7] = v;
        };

        // The border columns take their missing neighbours from the opposite border.
        writeOne(0, width - 1, width > 1 ? 1 : 0);
        int j = 1;
#if defined(__SSE2__)
        for (; j + 4 <= width - 1; j += 4) {
            const Lanes3<Float4> n = view.normal<Float4>(j, j - 1, j + 1, Float4::load);
            // Four vertices' eight components, turned from one register per component into
            // two registers per vertex.
            __m128 first0 = _mm_loadu_ps(&columnX[j]), first1 = _mm_loadu_ps(view.row + j);
            __m128 first2 = _mm_set1_ps(view.z), first3 = n.x.value;
            __m128 second0 = n.y.value, second1 = n.z.value;
            __m128 second2 = _mm_loadu_ps(&columnU[j]), second3 = _mm_set1_ps(v);
            _MM_TRANSPOSE4_PS(first0, first1, first2, first3);
            _MM_TRANSPOSE4_PS(second0, second1, second2, second3);
            float* out = rowOut + size_t(j) * TERRAIN_VERTEX_FLOATS;
            _mm_storeu_ps(out + 0, first0);
            _mm_storeu_ps(out + 4, second0);
            _mm_storeu_ps(out + 8, first1);
            _mm_storeu_ps(out + 12, second1);
            _mm_storeu_ps(out + 16, first2);
            _mm_storeu_ps(out + 20, second2);
            _mm_storeu_ps(out + 24, first3);
            _mm_storeu_ps(out + 28, second3);
        }
#endif
        for (; j < width - 1; ++j) writeOne(j, j - 1, j + 1);
        if (width > 1) writeOne(width - 1, width - 2, 0);
    }
}

TerrainStrip buildTerrainIndices(int width, int height, const uint8_t* voids, uint32_t* indices) {
    TerrainStrip strip;
    const uint32_t* start = indices;
    uint64_t restarts = 0;
    const uint32_t w = static_cast<uint32_t>(width);
    for (uint32_t r = 0; r + 1 < static_cast<uint32_t>(height); ++r) {
        const uint32_t first = w * r;
        const uint32_t next = w * (r + 1);
        if (!voids) {
            *indices++ = first;
            for (uint32_t c = 0; c < w; ++c) {
                *indices++ = first + c;
                *indices++ = next + c;
            }
            *indices++ = next + w - 1;
            strip.triangleCount += 2 * uint64_t(w - 1);
            continue;
        }
        // A cell is drawn when both of its columns have data in both rows.
        const auto columnHasData = [&](uint32_t c) { return !voids[first + c] && !voids[next + c]; };
        uint32_t c = 0;
        while (c < w) {
            if (!columnHasData(c)) {
                ++c;
                continue;
            }
            uint32_t end = c + 1;
            while (end < w && columnHasData(end)) ++end;
            if (end - c >= 2) {
                // The first corner twice, as the whole strip begins each row pair: its triangles
                // keep the whole strip's order, which makes them face up.
                *indices++ = first + c;
                for (uint32_t k = c; k < end; ++k) {
                    *indices++ = first + k;
                    *indices++ = next + k;
                }
                *indices++ = TERRAIN_STRIP_RESTART;
                ++restarts;
                strip.triangleCount += 2 * uint64_t(end - c - 1);
            }
            c = end;
        }
    }
    strip.indexCount = static_cast<uint64_t>(indices - start);
    strip.pointCount = strip.indexCount - restarts;
    return strip;
}

std::vector<std::string> terrainSizeLines(uint64_t vertexBytes, uint64_t indexBytes) {
    // Single-precision shares rounded up in double precision; large totals therefore print in
    // the float's six-digit form.
    const float v = static_cast<float>(vertexBytes);
    const float i = static_cast<float>(indexBytes);
    const float total = static_cast<float>(vertexBytes + indexBytes);
    const float numbers[5] = {
        static_cast<float>(std::ceil(static_cast<double>(v / 8.0f * 3.0f / 1024.0f))),
        static_cast<float>(std::ceil(static_cast<double>(v / 8.0f * 3.0f / 1024.0f))),
        static_cast<float>(std::ceil(static_cast<double>(v / 8.0f * 2.0f / 1024.0f))),
        static_cast<float>(std::ceil(static_cast<double>(i / 1024.0f))),
        static_cast<float>(std::ceil(static_cast<double>(total / 1024.0f))),
    };
    const char* labels[5] = {"VBO size (vertices): ", "VBO size (normals): ", "VBO size (texture coords): ",
                             "IBO size: ", "Total geometry buffer size: "};
    std::vector<std::string> lines;
    for (int n = 0; n < 5; ++n) {
        std::ostringstream line;
        line << labels[n] << numbers[n] << " kB";
        lines.push_back(line.str());
    }
    return lines;
}
