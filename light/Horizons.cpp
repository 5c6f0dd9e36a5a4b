#include "light/Horizons.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "io/Bands.h"

namespace {

// Where a sweep line lies across the grid, at some point along it: `base` samples from the line's
// number, and `fraction` of the way on to the next sample. The same for every line.
struct AcrossOffset {
    int base = 0;
    float fraction = 0.0f;
};

// The grid as one sweep walks it: along its main axis (columns or rows, whichever the direction
// crosses faster) in steps, starting at the end the horizons look towards, so that the profile
// behind each point is the terrain it looks at.
struct SweepFrame {
    int steps = 0;
    int across = 0;
    ptrdiff_t firstSample = 0;
    ptrdiff_t stepStride = 0;
    ptrdiff_t acrossStride = 0;
    double worldPerStep = 1.0;
    // Where the lines lie at each step, and halfway from each step to the next.
    std::vector<AcrossOffset> atStep;
    std::vector<AcrossOffset> halfway;
    // Where a sample's own ray lies half a step towards the horizon, from the sample.
    AcrossOffset halfStepBack;
    // The lines that write samples: the line with atStep's base + line == a sample's index
    // across writes that sample at that step.
    int firstLine = 0;
    int lastLine = 0;

    // How the steps and the lines lie on the grid, for points beyond its edges.
    bool alongColumns = true;
    bool forwards = true;
    int width = 0, height = 0;
    double acrossPerStep = 0.0;

    ptrdiff_t sampleAt(int step, int acrossIndex) const {
        return firstSample + step * stepStride + acrossIndex * acrossStride;
    }

    // The grid's column and row of a point `step` steps along a line, `across` samples across.
    void gridPoint(double step, double across, double& column, double& row) const {
        const double along = forwards ? step : (alongColumns ? width : height) - 1 - step;
        column = alongColumns ? along : across;
        row = alongColumns ? across : along;
    }
};

AcrossOffset acrossOffset(double offset) {
    // Axis-aligned and diagonal directions come out of sin and cos an ulp off: snapped, their lines
    // run through the samples instead of a hair's breadth beside them.
    const double nearest = std::round(offset);
    if (std::abs(offset - nearest) < 1e-6) offset = nearest;
    const double base = std::floor(offset);
    return {int(base), float(offset - base)};
}

SweepFrame sweepFrame(const HeightGrid& grid, double azimuthDegrees) {
    const double azimuth = azimuthDegrees * M_PI / 180.0;
    // Grid samples per world unit walked, against the direction the horizons look: east is +column,
    // north +row.
    const double perColumn = -std::sin(azimuth) / grid.columnSpacing;
    const double perRow = -std::cos(azimuth) / grid.rowSpacing;
    const ptrdiff_t width = grid.width;

    SweepFrame frame;
    frame.width = grid.width;
    frame.height = grid.height;
    double& acrossPerStep = frame.acrossPerStep;
    frame.alongColumns = std::abs(perColumn) >= std::abs(perRow);
    frame.forwards = frame.alongColumns ? perColumn > 0.0 : perRow > 0.0;
    if (frame.alongColumns) {
        frame.steps = grid.width;
        frame.across = grid.height;
        frame.stepStride = perColumn > 0.0 ? 1 : -1;
        frame.firstSample = perColumn > 0.0 ? 0 : width - 1;
        frame.acrossStride = width;
        frame.worldPerStep = 1.0 / std::abs(perColumn);
        acrossPerStep = perRow / std::abs(perColumn);
    } else {
        frame.steps = grid.height;
        frame.across = grid.width;
        frame.stepStride = perRow > 0.0 ? width : -width;
        frame.firstSample = perRow > 0.0 ? 0 : (ptrdiff_t(grid.height) - 1) * width;
        frame.acrossStride = 1;
        frame.worldPerStep = 1.0 / std::abs(perRow);
        acrossPerStep = perColumn / std::abs(perRow);
    }

    frame.firstLine = 0;
    frame.lastLine = frame.across - 1;
    for (int step = 0; step < frame.steps; ++step) {
        const AcrossOffset offset = acrossOffset(acrossPerStep * step);
        frame.atStep.push_back(offset);
        frame.halfway.push_back(acrossOffset(acrossPerStep * (step + 0.5)));
        frame.firstLine = std::min(frame.firstLine, -offset.base);
        frame.lastLine = std::max(frame.lastLine, frame.across - 1 - offset.base);
    }
    frame.halfStepBack = acrossOffset(-0.5 * acrossPerStep);
    return frame;
}

// Steps (whole and half, below zero beyond the grid) and heights are floats exactly: steps are
// within 2^23.
struct HullPoint {
    float step;
    float height;
};

// Whether `deeper` rises at least as steeply as `nearer` seen from (step, height), both behind it.
bool risesSteeper(const HullPoint& deeper, const HullPoint& nearer, float step, float height) {
    return (deeper.height - height) * (step - nearer.step) >= (nearer.height - height) * (step - deeper.step);
}

// One thread's share of a sweep, and what it keeps between lines.
// The height of the terrain around a grid at its point (column, row), bilinear in the finest
// surrounding grid that holds it (NaN beside a void), and that grid's factor; false off them all.
bool surroundingHeight(const std::vector<SurroundingGrid>& surroundings, double column, double row, float& height,
                       double& factor) {
    constexpr double EDGE = 1e-9;
    for (const SurroundingGrid& around : surroundings) {
        const HeightGrid& grid = around.grid;
        const double c = (column - around.originColumn) / around.factor, r = (row - around.originRow) / around.factor;
        if (c < -EDGE || r < -EDGE || c > grid.width - 1 + EDGE || r > grid.height - 1 + EDGE) continue;
        const int left = std::clamp(int(std::floor(c)), 0, std::max(grid.width - 2, 0));
        const int bottom = std::clamp(int(std::floor(r)), 0, std::max(grid.height - 2, 0));
        const int right = std::min(left + 1, grid.width - 1), top = std::min(bottom + 1, grid.height - 1);
        const float across = float(std::clamp(c - left, 0.0, 1.0)), up = float(std::clamp(r - bottom, 0.0, 1.0));
        const auto at = [&](int x, int y) { return grid.heights[size_t(y) * size_t(grid.width) + size_t(x)]; };
        height = (1 - up) * ((1 - across) * at(left, bottom) + across * at(right, bottom)) +
                 up * ((1 - across) * at(left, top) + across * at(right, top));
        factor = around.factor;
        return true;
    }
    return false;
}

class LineSweeper {
public:
    LineSweeper(const float* heights, const SweepFrame& frame, const std::vector<SurroundingGrid>& surroundings,
                float* tangents)
        : heights(heights), frame(frame), surroundings(surroundings), tangents(tangents), pendingSum(frame.steps),
          pendingWeight(frame.steps) {
        hull.reserve(frame.steps);
    }

    // Lines first..last write their samples; the line before them only leaves its share of the
    // samples between it and `first`.
    void sweep(int first, int last) {
        for (int line = first - 1; line <= last; ++line) sweepLine(line, line >= first);
    }

private:
    const float* heights;
    const SweepFrame& frame;
    const std::vector<SurroundingGrid>& surroundings;
    std::vector<HullPoint> beyond;
    const float worldPerStep = float(frame.worldPerStep);
    const float halfStepsPerWorld = float(2.0 / frame.worldPerStep);
    float* tangents;
    std::vector<HullPoint> hull;
    // The previous line's share of the sample above it at each step, weighted, and its weight.
    std::vector<float> pendingSum;
    std::vector<float> pendingWeight;

    // The tangent of the steepest rise from (step, height) to the profile behind: walking deeper
    // from the nearest hull point while the next rises steeper, since the rise along a convex hull
    // seen from beyond its end grows to its highest and then falls.
    float steepestTangent(float step, float height) const {
        size_t steepest = hull.size() - 1;
        while (steepest > 0 && risesSteeper(hull[steepest - 1], hull[steepest], step, height)) --steepest;
        return tangentTo(hull[steepest], step, height);
    }

    float tangentTo(const HullPoint& top, float step, float height) const {
        const float rise = (top.height - height) / ((step - top.step) * worldPerStep);
        return std::max(rise, LOWEST_HORIZON_TANGENT);
    }

    // The height `offset` on from sample `sample` across the grid's line of samples at `step`, NaN
    // beside a void or off the grid.
    float heightAcross(int step, int sample, const AcrossOffset& offset) const {
        const int below = sample + offset.base;
        if (below < 0 || below >= frame.across || (offset.fraction > 0.0f && below + 1 >= frame.across)) return NAN;
        const float low = heights[frame.sampleAt(step, below)];
        if (offset.fraction == 0.0f) return low;
        // Written as a step from the lower sample, so that between equal heights it is exact: a
        // plane has no rises.
        return low + offset.fraction * (heights[frame.sampleAt(step, below + 1)] - low);
    }

    // The rise from a sample to its own ray half a step on, bilinear among the samples around. The
    // lines beside the sample, up to a sample away, see the terrain right beside it from elsewhere:
    // a lone peak next to it rises over its ray but not over theirs.
    float nearTangent(int step, int sample, float ownHeight) const {
        if (step == 0) return LOWEST_HORIZON_TANGENT;
        const float height = 0.5f * (heightAcross(step - 1, sample, frame.halfStepBack) +
                                     heightAcross(step, sample, frame.halfStepBack));
        const float rise = (height - ownHeight) * halfStepsPerWorld;
        return std::isnan(rise) ? LOWEST_HORIZON_TANGENT : std::max(rise, LOWEST_HORIZON_TANGENT);
    }

    // Drops the points of the profile that (step, height), taken in next, hides from everything
    // further on.
    void dropHidden(float step, float height) {
        while (hull.size() >= 2 && risesSteeper(hull[hull.size() - 2], hull.back(), step, height)) hull.pop_back();
    }

    // The first step where the line lies across from a sample or from the row of the grid's edge,
    // a search over the monotone bases.
    int firstStepOf(int line) const {
        const bool climbing = frame.atStep.back().base >= frame.atStep.front().base;
        int low = 0, high = frame.steps;
        while (low < high) {
            const int middle = (low + high) / 2;
            const int lower = line + frame.atStep[middle].base;
            if (climbing ? lower < -1 : lower > frame.across - 1) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low;
    }

    // Starts the line's profile with the terrain around the grid behind the line's first step,
    // walked away from the grid in half steps of the grid that holds it until it leaves them all.
    void joinSurroundings(int line, int firstStep) {
        beyond.clear();
        float height = 0.0f;
        double factor = 1.0;
        for (double step = firstStep - 0.5;; step -= 0.5 * factor) {
            double column = 0.0, row = 0.0;
            frame.gridPoint(step, line + frame.acrossPerStep * step, column, row);
            if (!surroundingHeight(surroundings, column, row, height, factor)) break;
            if (!std::isnan(height)) beyond.push_back({float(step), height});
        }
        for (auto point = beyond.rbegin(); point != beyond.rend(); ++point) {
            dropHidden(point->step, point->height);
            hull.push_back(*point);
        }
    }

    void sweepLine(int line, bool writes) {
        hull.clear();
        const int firstStep = firstStepOf(line);
        if (!surroundings.empty()) joinSurroundings(line, firstStep);
        for (int step = firstStep; step < frame.steps; ++step) {
            // The line passes between the samples `lower` and `lower` + 1 across, `fraction` of
            // the way to the upper one.
            const int lower = line + frame.atStep[step].base;
            if (lower < -1 || lower > frame.across - 1) break;
            const float fraction = frame.atStep[step].fraction;
            const bool hasLower = lower >= 0;
            const bool hasUpper = lower + 1 < frame.across;
            const float lowerHeight = hasLower ? heights[frame.sampleAt(step, lower)] : NAN;
            const float upperHeight = hasUpper ? heights[frame.sampleAt(step, lower + 1)] : NAN;
            const bool inGrid = hasLower && (fraction == 0.0f || hasUpper);
            const float position = float(step);

            const float lineHeight = !inGrid            ? NAN
                                     : fraction == 0.0f ? lowerHeight
                                                        : lowerHeight + fraction * (upperHeight - lowerHeight);

            // The line's horizon at this step: the point of the profile behind it that rises
            // most steeply from the line, found once the profile has lost the points the line's own
            // point hides from everything further on. The point half a step back is passed over:
            // that near, the line, beside the samples, is no guide to what rises over their own rays
            // (nearTangent looks there), and the rise along the hull falls away from its steepest
            // point, so the next deeper one stands for the rest.
            const HullPoint* horizon = nullptr;
            if (!std::isnan(lineHeight)) {
                dropHidden(position, lineHeight);
                size_t far = hull.size();
                while (far > 0 && hull[far - 1].step > position - 0.75f) --far;
                if (far > 0) horizon = &hull[far - 1];
            }
            // The samples beside the line take the line's horizon point, seen from their own height,
            // where the line is in the grid (one beyond the edge has no terrain behind it to judge
            // by). Beside a void in the line, which has no height of its own, a sample finds its
            // own steepest point of the line's profile.
            const bool asksLower = inGrid && !std::isnan(lowerHeight);
            const bool asksUpper = inGrid && fraction > 0.0f && !std::isnan(upperHeight);
            const auto tangentFor = [&](float sampleHeight) {
                if (horizon) return tangentTo(*horizon, position, sampleHeight);
                if (!std::isnan(lineHeight) || hull.empty()) return LOWEST_HORIZON_TANGENT;
                return steepestTangent(position, sampleHeight);
            };
            const float lowerTangent = asksLower ? tangentFor(lowerHeight) : LOWEST_HORIZON_TANGENT;
            const float upperTangent = asksUpper ? tangentFor(upperHeight) : LOWEST_HORIZON_TANGENT;
            if (!std::isnan(lineHeight)) hull.push_back({position, lineHeight});

            if (writes && hasLower) {
                float sum = pendingSum[step], weight = pendingWeight[step];
                if (asksLower) {
                    sum += (1.0f - fraction) * lowerTangent;
                    weight += 1.0f - fraction;
                }
                const float far = weight > 0.0f ? sum / weight : LOWEST_HORIZON_TANGENT;
                tangents[frame.sampleAt(step, lower)] =
                    std::isnan(lowerHeight) ? LOWEST_HORIZON_TANGENT : std::max(far, nearTangent(step, lower, lowerHeight));
            }
            pendingSum[step] = asksUpper ? fraction * upperTangent : 0.0f;
            pendingWeight[step] = asksUpper ? fraction : 0.0f;

            // Halfway to the next step the line's height is bilinear among the four samples
            // around it: terrain rising between the steps, a ridge crossing the line or the centre
            // of a cell on a diagonal, joins the profile too.
            if (step + 1 == frame.steps) break;
            const AcrossOffset& halfway = frame.halfway[step];
            const float halfwayHeight =
                0.5f * (heightAcross(step, line, halfway) + heightAcross(step + 1, line, halfway));
            if (!std::isnan(halfwayHeight)) {
                dropHidden(position + 0.5f, halfwayHeight);
                hull.push_back({position + 0.5f, halfwayHeight});
            }
        }
    }
};

}  // namespace

std::vector<float> horizonTangents(const HeightGrid& grid, double azimuthDegrees, int threads,
                                   const std::vector<SurroundingGrid>& surroundings) {
    if (grid.width <= 0 || grid.height <= 0) return {};
    std::vector<float> tangents(size_t(grid.width) * size_t(grid.height), LOWEST_HORIZON_TANGENT);
    const bool hasGeometry = grid.heights && grid.columnSpacing > 0.0f && grid.rowSpacing > 0.0f &&
                             std::isfinite(grid.columnSpacing) && std::isfinite(grid.rowSpacing);
    if (!hasGeometry || !std::isfinite(azimuthDegrees)) return tangents;
    const SweepFrame frame = sweepFrame(grid, azimuthDegrees);
    const int lines = frame.lastLine - frame.firstLine + 1;
    const int workers = std::clamp(threads, 1, lines);

    // Each worker's buffers are made here, so that running out of memory is thrown to the caller.
    std::vector<LineSweeper> sweepers;
    sweepers.reserve(workers);
    for (int worker = 0; worker < workers; ++worker) {
        sweepers.emplace_back(grid.heights, frame, surroundings, tangents.data());
    }
    inBands(workers, lines, [&](int worker, int first, int last) {
        sweepers[worker].sweep(frame.firstLine + first, frame.firstLine + last);
    });
    return tangents;
}

std::vector<float> skyVisibility(const HeightGrid& grid, int directions, int threads) {
    directions = std::max(directions, 1);
    std::vector<float> visibility(size_t(std::max(grid.width, 0)) * size_t(std::max(grid.height, 0)), 0.0f);
    for (int direction = 0; direction < directions; ++direction) {
        const std::vector<float> tangents = horizonTangents(grid, 360.0 * direction / directions, threads);
        for (size_t sample = 0; sample < visibility.size(); ++sample) {
            // cos^2(h) = 1 / (1 + tan^2(h)); a horizon below the plane hides nothing.
            const float tangent = std::max(tangents[sample], 0.0f);
            visibility[sample] += 1.0f / (1.0f + tangent * tangent);
        }
    }
    for (float& share : visibility) share /= float(directions);
    return visibility;
}

float sunDiscShare(float horizonTangent, double altitudeDegrees) {
    const double horizonDegrees = std::atan(double(horizonTangent)) * 180.0 / M_PI;
    return static_cast<float>(std::clamp((altitudeDegrees - horizonDegrees) / SUN_DIAMETER_DEGREES + 0.5, 0.0, 1.0));
}
