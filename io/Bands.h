// Work shared among threads in contiguous bands of items, for loops whose items are independent.
#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

// The threads a short burst of work spreads over: one for each the system runs at once.
inline int hardwareThreads() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

// Runs work(band, first, last) over `count` items in contiguous bands numbered from 0, one per
// thread (at least one, at most one per item), the last on the calling thread.
template <typename Work>
void inBands(int threads, int count, const Work& work) {
    const int bands = std::clamp(threads, 1, std::max(count, 1));
    std::vector<std::thread> helpers;
    for (int band = 0; band < bands; ++band) {
        const int first = int(int64_t(count) * band / bands);
        const int last = int(int64_t(count) * (band + 1) / bands) - 1;
        if (band + 1 < bands) {
            helpers.emplace_back([&work, band, first, last] { work(band, first, last); });
        } else {
            work(band, first, last);
        }
    }
    for (std::thread& helper : helpers) helper.join();
}
