// Byte helpers shared by the BMP tests and the fuzzer's seed corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmptest {

using Bytes = std::vector<uint8_t>;

inline uint32_t get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// A picture whose every byte differs from its neighbours, so swapped channels or rows show up.
inline Bytes pattern(int width, int height, int channels) {
    Bytes out(static_cast<size_t>(width) * height * channels);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return out;
}

}  // namespace bmptest
