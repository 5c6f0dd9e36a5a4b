// Deterministic building blocks of the data generator: integer hashing, periodic gradient and
// cellular noise, colours, exact-rounding helpers and row-parallel loops.
#pragma once

#include <cstdint>
#include <functional>

namespace datagen {

// Well-mixed 32-bit hash; the whole generator draws its randomness from it, never from the
// standard library, so every platform sees the same numbers.
inline uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

inline uint32_t hash2(int32_t x, int32_t y, uint32_t seed) {
    return mix32(static_cast<uint32_t>(x) * 0x27d4eb2du ^ static_cast<uint32_t>(y) * 0x165667b1u ^
                 seed * 0x9e3779b1u);
}

// Uniform in [0, 1) from the top 24 bits of a hash.
inline float unitFloat(uint32_t h) {
    return static_cast<float>(h >> 8) * (1.0f / 16777216.0f);
}

// A small counter-based generator for scattering strokes and the like.
class Random {
public:
    explicit Random(uint32_t seed) : state(mix32(seed ^ 0x9e3779b9u)) {}
    uint32_t next() {
        state += 0x9e3779b9u;
        return mix32(state);
    }
    float uniform() { return unitFloat(next()); }
    float range(float low, float high) { return low + (high - low) * uniform(); }

private:
    uint32_t state;
};

inline float clampf(float x, float low, float high) { return x < low ? low : (x > high ? high : x); }
inline float saturate(float x) { return clampf(x, 0.0f, 1.0f); }
inline float lerpf(float a, float b, float t) { return a + (b - a) * t; }
inline float smoothstepf(float edge0, float edge1, float x) {
    const float t = saturate((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}
inline int floorToInt(float x) {
    const int i = static_cast<int>(x);
    return (static_cast<float>(i) > x) ? i - 1 : i;
}
inline int wrapIndex(int i, int period) {
    while (i < 0) i += period;
    while (i >= period) i -= period;
    return i;
}
// Byte from a value in [0, 1], rounded to nearest.
inline uint8_t toByte(float x) { return static_cast<uint8_t>(saturate(x) * 255.0f + 0.5f); }

struct Colour {
    float r = 0, g = 0, b = 0;
};
inline Colour rgb(float r, float g, float b) { return Colour{r, g, b}; }
inline Colour rgb8(int r, int g, int b) { return Colour{r / 255.0f, g / 255.0f, b / 255.0f}; }
inline Colour mix(const Colour& a, const Colour& b, float t) {
    return Colour{lerpf(a.r, b.r, t), lerpf(a.g, b.g, t), lerpf(a.b, b.b, t)};
}
inline Colour scale(const Colour& a, float s) { return Colour{a.r * s, a.g * s, a.b * s}; }

// Gradient noise in about [-0.7, 0.7] that repeats every periodX lattice cells along x and
// periodY along y; (x, y) are in lattice units.
float gradientNoise(float x, float y, int periodX, int periodY, uint32_t seed);

// A fraction of a lattice cell by which octaves are shifted against each other and against the
// tile's edges: gradient noise is zero on every lattice point, and lattices that coincide would
// print their grid into the picture.
float latticeShift(uint32_t seed);

// Fractal sum of gradient noise over a square tile: (u, v) in tile units, the first octave has
// `period` cells across the tile, each further octave twice as many at `gain` times the amplitude.
// Normalised to roughly [-1, 1].
float fbm(float u, float v, int period, int octaves, float gain, uint32_t seed);
// Ridged variant in [0, 1]: sharp crests where the underlying noise crosses zero.
float ridgedFbm(float u, float v, int period, int octaves, float gain, uint32_t seed);

// Cellular noise over a square tile with `cells` jittered feature points per side.
struct CellSample {
    float f1 = 0, f2 = 0;  // distances to the nearest and second nearest point, in cell units
    float nearestX = 0, nearestY = 0;  // offset from the sample to the nearest point
    uint32_t id = 0;                   // hash identifying the nearest point's cell
};
CellSample cellNoise(float u, float v, int cells, float jitter, uint32_t seed);

// Runs body(rowBegin, rowEnd) over [0, rows) in contiguous bands, one per hardware thread. Every
// pixel depends only on its own coordinates, so the split never changes the result.
void parallelRows(int rows, const std::function<void(int, int)>& body);

// Natural logarithm and exponential from + - * / alone, so the encoded bytes that depend on them
// are the same on every C library.
double portableLog(double x);
double portableExp(double x);
double portablePow(double base, double exponent);

}  // namespace datagen
