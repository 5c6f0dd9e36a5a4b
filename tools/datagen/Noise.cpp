// Periodic noise, the portable exp/log pair and the row-parallel loop of the data generator.
#include "tools/datagen/Noise.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace datagen {

namespace {

// Sixteen unit gradients at 22.5-degree steps, written out so that no platform's sin or cos is
// involved.
const float GRADIENT_X[16] = {1.0f,        0.92387953f,  0.70710678f,  0.38268343f,
                             0.0f,        -0.38268343f, -0.70710678f, -0.92387953f,
                             -1.0f,       -0.92387953f, -0.70710678f, -0.38268343f,
                             0.0f,        0.38268343f,  0.70710678f,  0.92387953f};
const float GRADIENT_Y[16] = {0.0f,        0.38268343f,  0.70710678f,  0.92387953f,
                             1.0f,        0.92387953f,  0.70710678f,  0.38268343f,
                             0.0f,        -0.38268343f, -0.70710678f, -0.92387953f,
                             -1.0f,       -0.92387953f, -0.70710678f, -0.38268343f};

inline float fade(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }

}  // namespace

float latticeShift(uint32_t seed) { return unitFloat(mix32(seed ^ 0x5bd1e995u)); }

float gradientNoise(float x, float y, int periodX, int periodY, uint32_t seed) {
    const int ix = floorToInt(x), iy = floorToInt(y);
    const float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
    const int x0 = wrapIndex(ix, periodX), y0 = wrapIndex(iy, periodY);
    const int x1 = x0 + 1 == periodX ? 0 : x0 + 1, y1 = y0 + 1 == periodY ? 0 : y0 + 1;
    // hash2 spelled out so that the four corners share their row and column parts.
    const uint32_t s = seed * 0x9e3779b1u;
    const uint32_t hx0 = static_cast<uint32_t>(x0) * 0x27d4eb2du, hx1 = static_cast<uint32_t>(x1) * 0x27d4eb2du;
    const uint32_t hy0 = static_cast<uint32_t>(y0) * 0x165667b1u ^ s, hy1 = static_cast<uint32_t>(y1) * 0x165667b1u ^ s;
    const uint32_t ha = mix32(hx0 ^ hy0) & 15u, hb = mix32(hx1 ^ hy0) & 15u;
    const uint32_t hc = mix32(hx0 ^ hy1) & 15u, hd = mix32(hx1 ^ hy1) & 15u;
    const float va = GRADIENT_X[ha] * fx + GRADIENT_Y[ha] * fy;
    const float vb = GRADIENT_X[hb] * (fx - 1.0f) + GRADIENT_Y[hb] * fy;
    const float vc = GRADIENT_X[hc] * fx + GRADIENT_Y[hc] * (fy - 1.0f);
    const float vd = GRADIENT_X[hd] * (fx - 1.0f) + GRADIENT_Y[hd] * (fy - 1.0f);
    const float ux = fade(fx), uy = fade(fy);
    return va + ux * (vb - va) + uy * (vc - va) + ux * uy * (va - vb - vc + vd);
}

float fbm(float u, float v, int period, int octaves, float gain, uint32_t seed) {
    float sum = 0.0f, amplitude = 1.0f, norm = 0.0f;
    int cells = period;
    for (int octave = 0; octave < octaves; ++octave) {
        const float f = static_cast<float>(cells);
        const uint32_t octaveSeed = seed + 1013u * octave;
        sum += amplitude * gradientNoise(u * f + latticeShift(octaveSeed), v * f + latticeShift(octaveSeed + 1u), cells,
                                         cells, octaveSeed);
        norm += amplitude;
        amplitude *= gain;
        cells *= 2;
    }
    return sum / (norm * 0.7f);
}

float ridgedFbm(float u, float v, int period, int octaves, float gain, uint32_t seed) {
    float sum = 0.0f, amplitude = 1.0f, norm = 0.0f, weight = 1.0f;
    int cells = period;
    for (int octave = 0; octave < octaves; ++octave) {
        const float f = static_cast<float>(cells);
        const uint32_t octaveSeed = seed + 7919u * octave;
        float n = gradientNoise(u * f + latticeShift(octaveSeed), v * f + latticeShift(octaveSeed + 1u), cells, cells,
                                octaveSeed);
        n = 1.0f - (n < 0.0f ? -n : n) * 1.5f;
        n = n < 0.0f ? 0.0f : n * n;
        n *= weight;
        weight = saturate(n * 1.6f);
        sum += n * amplitude;
        norm += amplitude;
        amplitude *= gain;
        cells *= 2;
    }
    return sum / norm;
}

CellSample cellNoise(float u, float v, int cells, float jitter, uint32_t seed) {
    const float x = u * static_cast<float>(cells);
    const float y = v * static_cast<float>(cells);
    const int ix = floorToInt(x), iy = floorToInt(y);
    const float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
    CellSample s;
    float best = 1e9f, second = 1e9f;
    for (int oy = -1; oy <= 1; ++oy) {
        for (int ox = -1; ox <= 1; ++ox) {
            const uint32_t h = hash2(wrapIndex(ix + ox, cells), wrapIndex(iy + oy, cells), seed);
            const float px = static_cast<float>(ox) + 0.5f + jitter * (unitFloat(h) - 0.5f);
            const float py = static_cast<float>(oy) + 0.5f + jitter * (unitFloat(mix32(h)) - 0.5f);
            const float dx = px - fx, dy = py - fy;
            const float d2 = dx * dx + dy * dy;
            if (d2 < best) {
                second = best;
                best = d2;
                s.nearestX = dx;
                s.nearestY = dy;
                s.id = h;
            } else if (d2 < second) {
                second = d2;
            }
        }
    }
    s.f1 = std::sqrt(best);
    s.f2 = std::sqrt(second);
    return s;
}

void parallelRows(int rows, const std::function<void(int, int)>& body) {
    const int hardware = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
    const int workers = std::min(hardware, std::max(rows, 1));
    if (workers <= 1) {
        body(0, rows);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    for (int w = 1; w < workers; ++w) {
        const int begin = rows * w / workers, end = rows * (w + 1) / workers;
        threads.emplace_back([&body, begin, end] { body(begin, end); });
    }
    body(0, rows / workers);
    for (std::thread& t : threads) t.join();
}

double portableLog(double x) {
    if (!(x > 0.0)) return -HUGE_VAL;
    const double ln2 = 0.69314718055994530942;
    int exponent = 0;
    while (x > 1.41421356237309504880) {
        x *= 0.5;
        ++exponent;
    }
    while (x < 0.70710678118654752440) {
        x *= 2.0;
        --exponent;
    }
    const double t = (x - 1.0) / (x + 1.0), t2 = t * t;
    double term = t, sum = 0.0;
    for (int k = 1; k <= 29; k += 2) {
        sum += term / k;
        term *= t2;
    }
    return exponent * ln2 + 2.0 * sum;
}

double portableExp(double x) {
    const double ln2 = 0.69314718055994530942;
    if (x > 700.0) return HUGE_VAL;
    if (x < -700.0) return 0.0;
    const double kd = std::floor(x / ln2 + 0.5);
    const double r = x - kd * ln2;
    double term = 1.0, sum = 1.0;
    for (int n = 1; n <= 24; ++n) {
        term *= r / n;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(kd));
}

double portablePow(double base, double exponent) {
    if (base <= 0.0) return 0.0;
    return portableExp(exponent * portableLog(base));
}

}  // namespace datagen
