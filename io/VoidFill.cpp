// Pull-push filling: the known samples are averaged into ever coarser levels until one value covers
// the map, then each level's unknown cells take the bilinear value of the level above, finest last.
// GDALFillNodata does the same job by searching outwards from each hole's cells, which costs the
// search distance times the hole's area (minutes for a country surrounded by no data); this costs
// a third more than one pass over the map, whatever the holes.
#include "io/VoidFill.h"

#include "io/ImageInput.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// One level of the pyramid: level n + 1 has a cell for each 2 x 2 cells of level n.
struct Level {
    int width = 0;
    int height = 0;
    std::vector<float> values;
    std::vector<uint8_t> known;
};

// Averages the known cells under each cell of the next coarser level.
template <typename ValueAt, typename KnownAt>
void pull(int width, int height, ValueAt valueAt, KnownAt knownAt, Level& coarser) {
    for (int y = 0; y < coarser.height; ++y) {
        for (int x = 0; x < coarser.width; ++x) {
            double sum = 0.0;
            int count = 0;
            for (int row = 2 * y; row < std::min(2 * y + 2, height); ++row) {
                for (int column = 2 * x; column < std::min(2 * x + 2, width); ++column) {
                    const size_t at = static_cast<size_t>(row) * width + column;
                    if (knownAt(at)) {
                        sum += valueAt(at);
                        ++count;
                    }
                }
            }
            const size_t at = static_cast<size_t>(y) * coarser.width + x;
            coarser.known[at] = count > 0;
            coarser.values[at] = count > 0 ? static_cast<float>(sum / count) : 0.0f;
        }
    }
}

// Where fine cell `index` lies among the coarser level's cell centres: the lower cell and the
// weight of the upper one.
void coarserPosition(int index, int coarserSide, int& lower, float& upperWeight) {
    const float position = std::clamp(index * 0.5f - 0.25f, 0.0f, static_cast<float>(coarserSide - 1));
    lower = std::min(static_cast<int>(position), coarserSide - 1);
    upperWeight = position - static_cast<float>(lower);
}

// The value of the coarser level at fine cell (x, y).
float bilinear(const Level& coarser, int x, int y) {
    int column = 0, row = 0;
    float nextColumnWeight = 0.0f, nextRowWeight = 0.0f;
    coarserPosition(x, coarser.width, column, nextColumnWeight);
    coarserPosition(y, coarser.height, row, nextRowWeight);
    const int nextColumn = std::min(column + 1, coarser.width - 1);
    const int nextRow = std::min(row + 1, coarser.height - 1);
    auto at = [&](int c, int r) { return coarser.values[static_cast<size_t>(r) * coarser.width + c]; };
    const float near = at(column, row) + (at(nextColumn, row) - at(column, row)) * nextColumnWeight;
    const float far = at(column, nextRow) + (at(nextColumn, nextRow) - at(column, nextRow)) * nextColumnWeight;
    return near + (far - near) * nextRowWeight;
}

}  // namespace

bool fillVoids(int width, int height, const std::vector<uint8_t>& voids, std::vector<uint16_t>& samples,
               std::string& message) {
    // The map itself is level 0; the pyramid holds the coarser ones.
    std::vector<Level> pyramid;
    try {
        for (int w = width, h = height; w > 1 || h > 1;) {
            w = (w + 1) / 2;
            h = (h + 1) / 2;
            Level level;
            level.width = w;
            level.height = h;
            level.values.resize(static_cast<size_t>(w) * h);
            level.known.resize(static_cast<size_t>(w) * h);
            pyramid.push_back(std::move(level));
        }
    } catch (const std::bad_alloc&) {
        message = NO_IMAGE_MEMORY_MESSAGE;
        return false;
    }
    if (pyramid.empty()) return true;  // one sample: nothing around it to fill from
    pull(width, height, [&](size_t at) { return static_cast<float>(samples[at]); },
         [&](size_t at) { return voids[at] == 0; }, pyramid[0]);
    for (size_t n = 1; n < pyramid.size(); ++n) {
        const Level& finer = pyramid[n - 1];
        pull(finer.width, finer.height, [&](size_t at) { return finer.values[at]; },
             [&](size_t at) { return finer.known[at] != 0; }, pyramid[n]);
    }
    for (size_t n = pyramid.size() - 1; n-- > 0;) {
        Level& level = pyramid[n];
        for (int y = 0; y < level.height; ++y) {
            for (int x = 0; x < level.width; ++x) {
                const size_t at = static_cast<size_t>(y) * level.width + x;
                if (!level.known[at]) level.values[at] = bilinear(pyramid[n + 1], x, y);
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = static_cast<size_t>(y) * width + x;
            if (voids[at] != 0) {
                const float value = std::clamp(bilinear(pyramid[0], x, y), 0.0f, 65535.0f);
                samples[at] = static_cast<uint16_t>(std::lround(value));
            }
        }
    }
    return true;
}
