// The lake landscape: ridged mountain ranges and hills shaped by simulated rain erosion on a
// coarse grid, refined with detail at the map's own size, and a flat-bedded lake with shallow
// shores, laid out for the view from the corner the camera starts at.
#include "tools/datagen/DataGen.h"
#include "tools/datagen/Noise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace datagen {

namespace {

// Heights are in world units of the default scale (a pixel of 255 is 20); horizontal distances
// in map units, 0 to 1 across the map.
constexpr float PIXELS_PER_UNIT = 255.0f / 20.0f;
// The erosion works on a grid of this many cells per side whatever the map size, so every size
// gets the same landscape; finer maps add finer detail on top.
constexpr int MACRO_SIZE = 256;

// A mountain range: a crest from (u0, v0) to (u1, v1), `width` to either side at its middle.
struct Range {
    float u0, v0, u1, v1, width, strength;
};

// (u, v) run along the pixel columns and the rows from the bottom; the camera starts at (0, 0)
// looking towards (1, 1), over a lake between two ranges to a massif beyond its far end.
const Range RANGES[] = {
    {0.07f, 0.30f, 0.38f, 0.86f, 0.20f, 1.00f},  // left of the lake, the higher one
    {0.30f, 0.07f, 0.86f, 0.38f, 0.19f, 0.90f},  // right of the lake
    {0.64f, 0.90f, 0.90f, 0.64f, 0.20f, 1.00f},  // beyond the far end
};

constexpr float LAKE_U = 0.37f, LAKE_V = 0.37f;
constexpr float LAKE_ALONG = 0.30f;   // half-length along the first view, along (1, 1)
constexpr float LAKE_ACROSS = 0.17f;  // half-width across it, along (1, -1)

float bump(float du, float dv, float radius) {
    const float q = (du * du + dv * dv) / (radius * radius);
    if (q >= 1.0f) return 0.0f;
    const float s = 1.0f - q;
    return s * s;
}

// Zero on the map border, one from `width` inwards.
float borderWindow(float u, float v, float width) {
    return smoothstepf(0.0f, width, u) * smoothstepf(0.0f, width, 1.0f - u) *
           smoothstepf(0.0f, width, v) * smoothstepf(0.0f, width, 1.0f - v);
}

// Ridged multifractal: crests where the noise crosses zero; each octave is weighted by the one
// before, so ridges carry detail and valleys stay smooth.
float ridges(float u, float v, int period, int octaves, uint32_t seed) {
    float sum = 0.0f, weight = 1.0f, amplitude = 1.0f, norm = 0.0f;
    int cells = period;
    for (int octave = 0; octave < octaves; ++octave) {
        const float f = static_cast<float>(cells);
        const float n = gradientNoise(u * f, v * f, cells, cells, seed + 7919u * octave);
        float s = 1.0f - (n < 0.0f ? -n : n) * 1.2f;
        s = s < 0.0f ? 0.0f : s * s;
        s *= weight;
        weight = saturate(s * 2.0f);
        sum += s * amplitude;
        norm += amplitude;
        amplitude *= 0.5f;
        cells *= 2;
    }
    return sum / norm;
}

float rangeStrength(const Range& range, float u, float v) {
    const float ax = range.u1 - range.u0, ay = range.v1 - range.v0;
    const float t = saturate(((u - range.u0) * ax + (v - range.v0) * ay) / (ax * ax + ay * ay));
    const float middle = 1.0f - (2.0f * t - 1.0f) * (2.0f * t - 1.0f);  // 1 at the middle, 0 at the ends
    const float du = u - (range.u0 + t * ax), dv = v - (range.v0 + t * ay);
    const float d = std::sqrt(du * du + dv * dv) / (range.width * (0.5f + 0.5f * middle));
    return d >= 1.0f ? 0.0f : range.strength * (0.6f + 0.4f * middle) * (1.0f - d * d);
}

// Where the mountains stand, 0 to 1: the ranges of the layout with ragged, noisy outlines, and
// nothing on the map border, so that only the periodic hills reach it and opposite borders meet.
float mountainRegion(float u, float v, uint32_t seed) {
    float layout = 0.0f;
    for (const Range& range : RANGES) layout = std::max(layout, rangeStrength(range, u, v));
    const float region = saturate(layout * (0.8f + 0.5f * fbm(u, v, 4, 3, 0.5f, seed + 29u)));
    return region * borderWindow(u, v, 0.07f);
}

// A bowl, lowest in the middle of the map and highest along the borders, level with zero slope
// on every border so that opposite borders meet smoothly. The corners dip again: the start
// corner looks down a meadow to the lake.
float bowl(float u, float v) {
    const float wu = 16.0f * u * u * (1.0f - u) * (1.0f - u);
    const float wv = 16.0f * v * v * (1.0f - v) * (1.0f - v);
    const float cu = std::min(u, 1.0f - u), cv = std::min(v, 1.0f - v);
    return (1.0f - wu * wv) * (1.0f - 0.8f * bump(cu, cv, 0.4f));
}

// The coarse landscape before erosion, in height units. The ground rises from the lake towards
// the borders, so that most slopes face the light over the middle of the map.
float macroHeight(float u, float v, uint32_t seed) {
    const float pu = u + fbm(u, v, 3, 3, 0.5f, seed + 11u) * 0.05f;
    const float pv = v + fbm(u, v, 3, 3, 0.5f, seed + 23u) * 0.05f;
    float h = 3.2f + 4.0f * bowl(u, v) + 3.0f * fbm(pu, pv, 5, 5, 0.5f, seed + 101u);
    const float region = mountainRegion(pu, pv, seed);
    if (region > 0.0f) {
        // Crests where a broad noise crosses zero, deep valleys between them, and finer ridges
        // growing with the height.
        const float n = gradientNoise(pu * 5.0f, pv * 5.0f, 5, 5, seed + 211u);
        const float crest = 1.0f - std::min(1.0f, (n < 0.0f ? -n : n) * 1.6f);
        const float crest2 = crest * crest;
        const float detail = ridges(pu, pv, 10, 6, seed + 223u);
        h += region * (1.0f + 22.0f * region * crest2 * crest + 9.0f * crest2 * detail);
    }
    return h;
}

// Rain drops that pick up sediment where they speed downhill and drop it where they slow: carves
// branching gullies into the slopes and fills the valley floors. The grid wraps around.
void erode(std::vector<float>& height, int size, float cellSize, uint32_t seed) {
    constexpr float INERTIA = 0.1f, CAPACITY_FACTOR = 6.0f, MIN_CAPACITY = 0.01f;
    constexpr float ERODE_RATE = 0.3f, DEPOSIT_RATE = 0.3f, EVAPORATION = 0.02f, GRAVITY = 4.0f;
    constexpr int MAX_STEPS = 36, BRUSH_RADIUS = 2;
    std::vector<int> brushOffsetX, brushOffsetY;
    std::vector<float> brushWeight;
    float weightSum = 0.0f;
    for (int y = -BRUSH_RADIUS; y <= BRUSH_RADIUS; ++y) {
        for (int x = -BRUSH_RADIUS; x <= BRUSH_RADIUS; ++x) {
            const float d = std::sqrt(static_cast<float>(x * x + y * y));
            if (d > BRUSH_RADIUS) continue;
            brushOffsetX.push_back(x);
            brushOffsetY.push_back(y);
            brushWeight.push_back(1.0f - d / (BRUSH_RADIUS + 0.5f));
            weightSum += brushWeight.back();
        }
    }
    for (float& w : brushWeight) w /= weightSum;

    const float fsize = static_cast<float>(size);
    auto at = [&](int x, int y) -> float& { return height[wrapIndex(y, size) * size + wrapIndex(x, size)]; };
    // Height and gradient (per cell) by bilinear interpolation.
    auto sample = [&](float x, float y, float& gx, float& gy) {
        const int ix = floorToInt(x), iy = floorToInt(y);
        const float fx = x - ix, fy = y - iy;
        const float a = at(ix, iy), b = at(ix + 1, iy), c = at(ix, iy + 1), d = at(ix + 1, iy + 1);
        gx = (b - a) * (1.0f - fy) + (d - c) * fy;
        gy = (c - a) * (1.0f - fx) + (d - b) * fx;
        return a * (1.0f - fx) * (1.0f - fy) + b * fx * (1.0f - fy) + c * (1.0f - fx) * fy + d * fx * fy;
    };

    Random random(seed);
    const int drops = size * size / 2;
    for (int drop = 0; drop < drops; ++drop) {
        float x = random.uniform() * fsize, y = random.uniform() * fsize;
        float dirX = 0.0f, dirY = 0.0f, speed = 1.0f, water = 1.0f, sediment = 0.0f;
        for (int step = 0; step < MAX_STEPS; ++step) {
            const int ix = floorToInt(x), iy = floorToInt(y);
            const float fx = x - ix, fy = y - iy;
            float gx, gy;
            const float h = sample(x, y, gx, gy);
            dirX = dirX * INERTIA - gx * (1.0f - INERTIA);
            dirY = dirY * INERTIA - gy * (1.0f - INERTIA);
            const float length = std::sqrt(dirX * dirX + dirY * dirY);
            if (length < 1e-6f) break;
            dirX /= length;
            dirY /= length;
            x += dirX;
            y += dirY;
            if (x < 0.0f) x += fsize;
            if (x >= fsize) x -= fsize;
            if (y < 0.0f) y += fsize;
            if (y >= fsize) y -= fsize;
            float unusedX, unusedY;
            const float deltaH = sample(x, y, unusedX, unusedY) - h;
            const float capacity = std::max(-deltaH * speed * water * CAPACITY_FACTOR / cellSize, MIN_CAPACITY);
            if (sediment > capacity || deltaH > 0.0f) {
                const float amount = deltaH > 0.0f ? std::min(deltaH, sediment) : (sediment - capacity) * DEPOSIT_RATE;
                sediment -= amount;
                at(ix, iy) += amount * (1.0f - fx) * (1.0f - fy);
                at(ix + 1, iy) += amount * fx * (1.0f - fy);
                at(ix, iy + 1) += amount * (1.0f - fx) * fy;
                at(ix + 1, iy + 1) += amount * fx * fy;
            } else {
                const float amount = std::min((capacity - sediment) * ERODE_RATE, -deltaH);
                for (size_t k = 0; k < brushWeight.size(); ++k) {
                    float& cell = at(ix + brushOffsetX[k], iy + brushOffsetY[k]);
                    const float removed = std::min(cell, amount * brushWeight[k]);
                    cell -= removed;
                    sediment += removed;
                }
            }
            speed = std::sqrt(std::max(0.0f, speed * speed - deltaH * GRAVITY / cellSize));
            water *= 1.0f - EVAPORATION;
        }
    }
}

// Periodic Catmull-Rom interpolation of the coarse grid at (x, y) in grid cells.
float bicubic(const std::vector<float>& grid, int size, float x, float y) {
    const int ix = floorToInt(x), iy = floorToInt(y);
    const float fx = x - ix, fy = y - iy;
    auto weights = [](float t, float w[4]) {
        const float t2 = t * t, t3 = t2 * t;
        w[0] = 0.5f * (-t3 + 2.0f * t2 - t);
        w[1] = 0.5f * (3.0f * t3 - 5.0f * t2 + 2.0f);
        w[2] = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
        w[3] = 0.5f * (t3 - t2);
    };
    float wx[4], wy[4];
    weights(fx, wx);
    weights(fy, wy);
    float sum = 0.0f;
    for (int j = 0; j < 4; ++j) {
        const int row = wrapIndex(iy - 1 + j, size) * size;
        float line = 0.0f;
        for (int i = 0; i < 4; ++i) line += wx[i] * grid[row + wrapIndex(ix - 1 + i, size)];
        sum += wy[j] * line;
    }
    return sum;
}

// Polynomial smooth minimum: min(a, b) with the corner rounded over a width of k.
float smoothMin(float a, float b, float k) {
    const float h = saturate(0.5f + 0.5f * (b - a) / k);
    return lerpf(b, a, h) - k * h * (1.0f - h);
}

struct LakeSample {
    float field;   // below the water level inside the lake, rising through its shore
    float island;  // rises from 0 at the island's foot to 1 at its summit
};

// The lake: an ellipse bent and frayed by noise into bays and headlands, with an island.
LakeSample lakeAt(float u, float v, uint32_t seed) {
    const float pu = u + fbm(u, v, 3, 4, 0.5f, seed + 331u) * 0.09f;
    const float pv = v + fbm(u, v, 3, 4, 0.5f, seed + 337u) * 0.09f;
    const float du = pu - LAKE_U, dv = pv - LAKE_V;
    const float along = (du + dv) * 0.70710678f / LAKE_ALONG;
    const float across = (du - dv) * 0.70710678f / LAKE_ACROSS;
    LakeSample s;
    s.island = bump(pu - 0.44f, pv - 0.37f, 0.075f);
    const float shore = saturate(1.4f * s.island - 0.15f + 0.4f * fbm(pu, pv, 16, 3, 0.5f, seed + 341u));
    s.field = std::sqrt(across * across + along * along) + 0.5f * fbm(pu, pv, 7, 4, 0.55f, seed + 307u) + 1.3f * shore;
    return s;
}

}  // namespace

HeightField generateHeightField(int size, uint32_t seed) {
    const int macro = std::min(size, MACRO_SIZE);
    std::vector<float> coarse(static_cast<size_t>(macro) * macro);
    const float macroInverse = 1.0f / static_cast<float>(macro);
    parallelRows(macro, [&](int begin, int end) {
        for (int row = begin; row < end; ++row)
            for (int column = 0; column < macro; ++column)
                coarse[static_cast<size_t>(row) * macro + column] =
                    macroHeight(column * macroInverse, row * macroInverse, seed);
    });
    erode(coarse, macro, 512.0f / static_cast<float>(macro), seed + 503u);

    const size_t count = static_cast<size_t>(size) * static_cast<size_t>(size);
    std::vector<float> height(count), lake(count), fine(count);
    const float inverse = 1.0f / static_cast<float>(size);
    const float toMacro = static_cast<float>(macro) / static_cast<float>(size);
    // Detail octaves continue the coarse grid's resolution down to a few pixels.
    const int detailPeriod = macro / 2;
    int detailOctaves = 0;
    for (int cells = detailPeriod; cells * 3 <= size; cells *= 2) ++detailOctaves;
    parallelRows(size, [&](int begin, int end) {
        for (int row = begin; row < end; ++row) {
            for (int column = 0; column < size; ++column) {
                const float u = column * inverse, v = row * inverse;
                const size_t k = static_cast<size_t>(row) * size + column;
                float h = bicubic(coarse, macro, column * toMacro, row * toMacro);
                if (detailOctaves > 0) {
                    // Rough where the ground is high, calm on the plains.
                    const float roughness = 0.04f + 0.03f * std::max(h - 4.0f, 0.0f);
                    h += roughness * fbm(u, v, detailPeriod, detailOctaves, 0.5f, seed + 401u);
                }
                const LakeSample water = lakeAt(u, v, seed);
                height[k] = h + 7.0f * water.island;
                lake[k] = water.field;
                fine[k] = fbm(u, v, size / 8, 2, 0.5f, seed + 601u);
            }
        }
    });

    // The water level is the lake-field value that drowns 19 percent of the map.
    std::vector<float> sorted(lake);
    const size_t lakeRank = count * 19 / 100;
    std::nth_element(sorted.begin(), sorted.begin() + lakeRank, sorted.end());
    const float level = sorted[lakeRank];
    // Shore: rises from the water by this many height units per lake-field unit, a gentle ramp
    // that gives a band of pebbles before the grass.
    const float shoreRise = 40.0f;
    for (size_t k = 0; k < count; ++k) {
        const float shore = (lake[k] - level) * shoreRise;
        height[k] = shore <= 0.0f ? 0.0f : std::max(0.0f, smoothMin(height[k], shore, 1.5f));
    }

    // The highest few percent pass the snow line at 15; the ground above the hills is stretched
    // to match, and the very top is eased below the 8-bit ceiling of 20.
    sorted = height;
    const size_t snowRank = count - count * 35 / 1000;
    std::nth_element(sorted.begin(), sorted.begin() + snowRank, sorted.end());
    const float snowQuantile = sorted[snowRank];
    const float hillTop = 8.0f, snowTarget = 15.2f;
    const float stretch = (snowTarget - hillTop) / std::max(snowQuantile - hillTop, 0.5f);

    HeightField field;
    field.width = size;
    field.height = size;
    field.levels.resize(count);
    for (size_t k = 0; k < count; ++k) {
        float h = height[k];
        if (h <= 0.0f) {
            field.levels[k] = 0.0f;
            continue;
        }
        if (h > hillTop) h = hillTop + (h - hillTop) * stretch;
        if (h > 18.0f) {
            const float x = (h - 18.0f) * 0.5f;
            h = 18.0f + 1.9f * x / (1.0f + x);
        }
        // Sub-level noise keeps gentle slopes from quantising into visible terraces in 8 bits.
        // Below half a level, land becomes level 1 either way; the floor keeps it off the water.
        const float level8 = h * PIXELS_PER_UNIT + 0.45f * fine[k];
        field.levels[k] = std::max(level8, std::numeric_limits<float>::min());
    }
    return field;
}

GreyImage quantiseTo8Bits(const HeightField& field) {
    GreyImage image;
    image.width = field.width;
    image.height = field.height;
    image.pixels.resize(field.levels.size());
    for (size_t k = 0; k < field.levels.size(); ++k) {
        const float level = field.levels[k];
        image.pixels[k] = level == 0.0f ? 0 : static_cast<uint8_t>(clampf(level + 0.5f, 1.0f, 255.0f));
    }
    return image;
}

std::vector<uint16_t> quantiseTo16Bits(const HeightField& field) {
    std::vector<uint16_t> samples(field.levels.size());
    const float levelsPerLevel8 = 65535.0f / 255.0f;
    for (size_t k = 0; k < field.levels.size(); ++k) {
        const float level = field.levels[k];
        samples[k] = level == 0.0f ? 0
                                   : static_cast<uint16_t>(clampf(level * levelsPerLevel8 + 0.5f, 1.0f, 65535.0f));
    }
    return samples;
}

GreyImage generateHeightMap(int size, uint32_t seed) {
    return quantiseTo8Bits(generateHeightField(size, seed));
}

}  // namespace datagen
