#include "gpu/SrgbMipChain.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "io/Bands.h"

namespace {

// Linear light in units of 2^-22: four values add up without overflow, and the mean of four is
// their sum over 4 exactly, so that sums are rounded to sRGB without a division.
constexpr int LINEAR_BITS = 22;
constexpr int SUM_BITS = LINEAR_BITS + 2;
// Sums are looked up in 2^12 buckets, each narrower than one step of the sRGB code even where
// the curve is steepest (12.92 * 255 codes per unit of light near black).
constexpr int BUCKET_SHIFT = SUM_BITS - 12;

// Below this many texels a level costs less than starting a thread.
constexpr int64_t TEXELS_PER_THREAD = 16384;

double linearOfCode(double code) {
    const double value = code / 255.0;
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

struct SrgbTables {
    uint32_t linear[256];
    // [c]: the least sum of four whose mean rounds to code c or above; [0] is 0.
    uint32_t sumReaching[256];
    // The code of the sum at the start of each bucket, the last bucket holding only the largest
    // sum (four whites).
    uint8_t bucketCode[(1 << (SUM_BITS - BUCKET_SHIFT)) + 1];

    SrgbTables() {
        const double unit = static_cast<double>(1 << LINEAR_BITS);
        for (int code = 0; code < 256; ++code) linear[code] = static_cast<uint32_t>(std::lround(linearOfCode(code) * unit));
        // The code of a mean m rounds to c or above where m reaches the light of code c - 1/2:
        // the curve rises throughout.
        sumReaching[0] = 0;
        for (int code = 1; code < 256; ++code) {
            sumReaching[code] = static_cast<uint32_t>(std::ceil(linearOfCode(code - 0.5) * 4.0 * unit));
        }
        int code = 0;
        for (uint32_t bucket = 0; bucket < sizeof bucketCode; ++bucket) {
            const uint32_t sum = bucket << BUCKET_SHIFT;
            while (code < 255 && sum >= sumReaching[code + 1]) ++code;
            bucketCode[bucket] = static_cast<uint8_t>(code);
        }
    }

    uint8_t codeOfSum(uint32_t sum) const {
        int code = bucketCode[sum >> BUCKET_SHIFT];
        while (code < 255 && sum >= sumReaching[code + 1]) ++code;
        return static_cast<uint8_t>(code);
    }
};

const SrgbTables& srgbTables() {
    static const SrgbTables tables;
    return tables;
}

// Rows `first` to `last` of the level below, counted across its layers, from the level above. A
// side of 1 above stays 1 below: its one texel counts twice, so that the sum stays one of four.
template <int CHANNELS>
void halveRows(const uint8_t* above, int aboveWidth, int aboveHeight, uint8_t* below, int belowWidth,
               int belowHeight, int first, int last) {
    const SrgbTables& tables = srgbTables();
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
                out[c] = tables.codeOfSum(tables.linear[a[c]] + tables.linear[a[c + nextColumn]] + tables.linear[b[c]] +
                                          tables.linear[b[c + nextColumn]]);
            }
            if (CHANNELS == 4) {
                out[3] = static_cast<uint8_t>((a[3] + a[3 + nextColumn] + b[3] + b[3 + nextColumn] + 2) >> 2);
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
