#include "gpu/SrgbMipChain.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#ifdef __SSE__
#include <xmmintrin.h>
#endif

#include "io/Bands.h"

namespace {

// The levels are to be the driver's own, bit for bit, where the pictures are made and checked:
// Mesa's software rasteriser (llvmpipe), which generates a level by drawing it from the one above,
// sampling halfway between texels. Its sRGB conversions are approximations, within 0.42 of a code
// of the exact curve (each code still maps back to itself), and a level rounded exactly instead
// moves the water's glints; so the arithmetic here is the rasteriser's, operation for operation.
// Elsewhere it stays within a code of any exact generation.

// Below this many texels a level costs less than starting a thread.
constexpr int64_t TEXELS_PER_THREAD = 16384;

// The rasteriser's light of an sRGB code: a cubic, straight below code 16.
float linearOfCode(int code) {
    const float value = static_cast<float>(code);
    if (value <= 15.0f) return value * (1.0f / (12.6f * 255.0f));
    const float squared = value * value;
    const float even = std::fma(squared, 0.6935f / (255.0f * 255.0f), 0.0023f);
    const float odd = std::fma(squared, 0.3012f / (255.0f * 255.0f * 255.0f), 0.0030f / 255.0f);
    return std::fma(odd, value, even);
}

#ifdef __SSE__
// The processor's quick reciprocal square root, which the rasteriser uses where there is one.
float quickReciprocalRoot(float value) { return _mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(value))); }
// The nearest whole number, halves to even, as the rasteriser's conversion rounds.
int nearest(float value) { return _mm_cvtss_si32(_mm_set_ss(value)); }
#else
int nearest(float value) { return static_cast<int>(std::nearbyint(value)); }
#endif

// The rasteriser's sRGB code of a light: a * x^0.375 + b * x^0.5 + c, straight near black.
uint8_t codeOfLinear(float light) {
    light = std::clamp(light, 0.0f, 1.0f);
    if (light <= 0.0031308f) return static_cast<uint8_t>(nearest(light * (12.92f * 255.0f)));
#ifdef __SSE__
    const float squareRoot = light * quickReciprocalRoot(light);
    const float powerThreeEighths = quickReciprocalRoot(quickReciprocalRoot(squareRoot * light));
#else
    const float squareRoot = std::sqrt(light);
    const float powerThreeEighths = std::sqrt(std::sqrt(squareRoot * light));
#endif
    const float a = static_cast<float>(0.675f * 1.0622 * 255.0f);
    const float b = static_cast<float>(0.325f * 1.0622 * 255.0f);
    const float c = -0.0620f * 255.0f;
    // The rasteriser fuses b * root + c. Here the square root is at least 0.056, so that the sum
    // is exact in double precision and rounds to float once, as a fused one does, without a call.
    const float rootTerm = static_cast<float>(static_cast<double>(b) * squareRoot + c);
    return static_cast<uint8_t>(nearest(a * powerThreeEighths + rootTerm));
}

struct LightOfCode {
    float values[256];
    LightOfCode() {
        for (int code = 0; code < 256; ++code) values[code] = linearOfCode(code);
    }
};

const float* lightOfCode() {
    static const LightOfCode table;
    return table.values;
}

// The rasteriser's bilinear filter halfway between two texels.
float halfway(float from, float to) { return from + 0.5f * (to - from); }

// Rows `first` to `last` of the level below, counted across its layers, from the level above. A
// side of 1 above stays 1 below: its one texel is sampled twice.
template <int CHANNELS>
void halveRows(const uint8_t* above, int aboveWidth, int aboveHeight, uint8_t* below, int belowWidth,
               int belowHeight, int first, int last) {
    const float* light = lightOfCode();
    const size_t aboveRowBytes = static_cast<size_t>(aboveWidth) * CHANNELS;
    const size_t nextRow = aboveHeight > 1 ? aboveRowBytes : 0;
    const size_t nextColumn = aboveWidth > 1 ? CHANNELS : 0;
    for (int row = first; row <= last; ++row) {
        const int layer = row / belowHeight;
        const int y = row % belowHeight;
        const uint8_t* lower = above + (static_cast<size_t>(layer) * aboveHeight + 2 * y) * aboveRowBytes;
        const uint8_t* upper = lower + nextRow;
        uint8_t* out = below + static_cast<size_t>(row) * belowWidth * CHANNELS;
        for (int x = 0; x < belowWidth; ++x) {
            const uint8_t* a = lower + static_cast<size_t>(2 * x) * CHANNELS;
            const uint8_t* b = upper + static_cast<size_t>(2 * x) * CHANNELS;
            for (int c = 0; c < 3; ++c) {
                out[c] = codeOfLinear(halfway(halfway(light[a[c]], light[a[c + nextColumn]]),
                                              halfway(light[b[c]], light[b[c + nextColumn]])));
            }
            if (CHANNELS == 4) {
                const float unit = static_cast<float>(1.0 / 255.0);
                const float alpha = halfway(halfway(a[3] * unit, a[3 + nextColumn] * unit),
                                            halfway(b[3] * unit, b[3 + nextColumn] * unit));
                out[3] = static_cast<uint8_t>(nearest(std::clamp(alpha, 0.0f, 1.0f) * 255.0f));
            }
            out += CHANNELS;
        }
    }
}

bool halvesEvenly(int side) { return side == 1 || side % 2 == 0; }

}  // namespace

SrgbMipChain::SrgbMipChain(int width, int height, int layers, int channels) : layers(layers), channels(channels) {
    levels.push_back(Level{width, height, nullptr});
    while ((width > 1 || height > 1) && halvesEvenly(width) && halvesEvenly(height)) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        const size_t bytes = static_cast<size_t>(width) * height * layers * channels;
        levels.push_back(Level{width, height, std::unique_ptr<uint8_t[]>(new uint8_t[bytes])});
    }
}

void SrgbMipChain::build(const uint8_t* base, int threads) {
    for (int level = 1; level <= levelCount(); ++level) {
        const Level& above = levels[level - 1];
        Level& below = levels[level];
        const uint8_t* aboveTexels = level == 1 ? base : above.texels.get();
        const int64_t texels = int64_t(below.width) * below.height * layers;
        const int useful = static_cast<int>(std::min<int64_t>(threads, std::max<int64_t>(1, texels / TEXELS_PER_THREAD)));
        auto halve = channels == 4 ? halveRows<4> : halveRows<3>;
        inBands(useful, below.height * layers, [&](int, int first, int last) {
            halve(aboveTexels, above.width, above.height, below.texels.get(), below.width, below.height, first, last);
        });
    }
}
