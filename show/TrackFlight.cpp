// The ground read along the track every half sample, lifted by a running maximum over a window and
// then averaged over the same window: every average of maxima that each cover a point is at least
// the ground there, so the smoothed line never sinks towards the ground, and it never follows a
// bump narrower than the window. Each keyframe stands as high as the smoothed line around it up to
// its neighbours, so that the eye, moving between two keyframes without overshooting them, stays
// above the line between them too.
#include "show/TrackFlight.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace {

// Half the window the ground's heights are smoothed over: at least this many metres, and more for
// higher flights, which see the land from further off.
constexpr double LEAST_SMOOTHING_METRES = 300.0;
constexpr double SMOOTHING_PER_HEIGHT = 3.0;
// Keyframes lie about this far apart along the track, close enough for the curve through them
// to keep to the track's bends.
constexpr double KEYFRAME_METRES = 100.0;
// The eye looks at the track this far ahead, so that it turns with the track before each bend
// instead of at it, and this much below the line of the flight.
constexpr double LOOK_AHEAD_METRES = 300.0;
constexpr double LOOK_DOWN_DEGREES = 8.0;

// A point of the track, and the direction of the segment it lies on.
struct TrackPlace {
    double x = 0.0, z = 0.0;
    double directionX = 0.0, directionZ = 0.0;
};

// The track in the horizontal plane, measured along its length.
class Polyline {
public:
    explicit Polyline(const std::vector<vec3>& track) {
        for (const vec3& point : track) {
            const double x = point.x, z = point.z;
            if (!xs.empty() && x == xs.back() && z == zs.back()) continue;
            along.push_back(xs.empty() ? 0.0 : along.back() + std::hypot(x - xs.back(), z - zs.back()));
            xs.push_back(x);
            zs.push_back(z);
        }
    }

    double length() const { return along.empty() ? 0.0 : along.back(); }

    // The place `distance` along the track, clamped to its ends.
    TrackPlace at(double distance) const {
        const size_t next = std::clamp<size_t>(
            size_t(std::upper_bound(along.begin(), along.end(), distance) - along.begin()), 1, along.size() - 1);
        const size_t previous = next - 1;
        const double span = along[next] - along[previous];
        const double t = std::clamp((distance - along[previous]) / span, 0.0, 1.0);
        return {xs[previous] + t * (xs[next] - xs[previous]), zs[previous] + t * (zs[next] - zs[previous]),
                (xs[next] - xs[previous]) / span, (zs[next] - zs[previous]) / span};
    }

private:
    std::vector<double> xs, zs, along;
};

// The largest value within `radius` places of each, by a queue of the candidates in falling order.
std::vector<double> slidingMaximum(const std::vector<double>& values, size_t radius) {
    std::vector<double> maxima(values.size());
    std::deque<size_t> candidates;
    size_t next = 0;
    for (size_t k = 0; k < values.size(); ++k) {
        for (const size_t end = std::min(values.size(), k + radius + 1); next < end; ++next) {
            while (!candidates.empty() && values[candidates.back()] <= values[next]) candidates.pop_back();
            candidates.push_back(next);
        }
        while (candidates.front() + radius < k) candidates.pop_front();
        maxima[k] = values[candidates.front()];
    }
    return maxima;
}

// The mean of the values within `radius` places of each (fewer at the ends).
std::vector<double> slidingMean(const std::vector<double>& values, size_t radius) {
    std::vector<double> sums(values.size() + 1, 0.0);
    for (size_t k = 0; k < values.size(); ++k) sums[k + 1] = sums[k] + values[k];
    std::vector<double> means(values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        const size_t first = k > radius ? k - radius : 0;
        const size_t end = std::min(values.size(), k + radius + 1);
        means[k] = (sums[end] - sums[first]) / double(end - first);
    }
    return means;
}

// The ground's world height at each place, a hole's taken from the nearest known place before it
// (after it, at the start); 0 where the whole track lies over holes.
std::vector<double> groundAlong(const Polyline& track, double step, size_t count, const FlightGround& ground) {
    std::vector<std::optional<double>> read(count);
    for (size_t k = 0; k < count; ++k) {
        const TrackPlace place = track.at(double(k) * step);
        if (const std::optional<float> height = ground.heightAt(float(place.x), float(place.z))) read[k] = *height;
    }
    const auto firstKnown = std::find_if(read.begin(), read.end(), [](const auto& h) { return h.has_value(); });
    double carried = firstKnown == read.end() ? 0.0 : **firstKnown;
    std::vector<double> heights(count);
    for (size_t k = 0; k < count; ++k) {
        if (read[k]) carried = *read[k];
        heights[k] = carried;
    }
    return heights;
}

}  // namespace

std::vector<PathKeyframe> followingKeyframes(const std::vector<vec3>& track, const FlightGround& ground,
                                             const FollowOptions& options) {
    const Polyline line(track);
    const double length = line.length();
    if (!(length > 0.0)) return {};
    const double unitsPerMetre = 1.0 / ground.metresPerWorldUnit;

    // Places along the track where the ground is read, evenly apart.
    const size_t places = size_t(std::ceil(length / (0.5 * double(ground.sampleSpacing)))) + 1;
    const double step = length / double(places - 1);
    const double smoothing = std::max(LEAST_SMOOTHING_METRES, SMOOTHING_PER_HEIGHT * options.heightMetres);
    const size_t radius = size_t(std::ceil(smoothing * unitsPerMetre / step));
    const double clearance = options.heightMetres / ground.metresPerHeight;
    std::vector<double> flight = slidingMean(slidingMaximum(groundAlong(line, step, places, ground), radius), radius);
    for (double& height : flight) height += clearance;
    const auto flightAt = [&](double distance) {
        const double place = std::clamp(distance / step, 0.0, double(places - 1));
        const size_t before = std::min(size_t(place), places - 2);
        const double t = place - double(before);
        return flight[before] + t * (flight[before + 1] - flight[before]);
    };

    const size_t spans = std::max<size_t>(1, size_t(std::llround(length / (KEYFRAME_METRES * unitsPerMetre))));
    const double spacing = length / double(spans);
    const double lookAhead = LOOK_AHEAD_METRES * unitsPerMetre;
    const double metresPerSecond = options.speedKmh / 3.6;
    const double lookDown = std::tan(LOOK_DOWN_DEGREES * 3.14159265358979323846 / 180.0);
    std::vector<PathKeyframe> keyframes;
    for (size_t k = 0; k <= spans; ++k) {
        const double distance = k == spans ? length : double(k) * spacing;
        // As high as the smoothed line reaches between the neighbouring keyframes.
        const size_t first = size_t(std::floor(std::max(0.0, distance - spacing) / step));
        const size_t last = std::min(places - 1, size_t(std::ceil((distance + spacing) / step)));
        const double height = *std::max_element(flight.begin() + first, flight.begin() + last + 1);

        const TrackPlace here = line.at(distance);
        // Towards the track ahead; along the last stretch, as far back from its end.
        const double to = std::min(distance + lookAhead, length);
        const double from = std::max(0.0, to - lookAhead);
        const TrackPlace start = line.at(from), end = line.at(to);
        double aheadX = end.x - start.x, aheadZ = end.z - start.z;
        double across = std::hypot(aheadX, aheadZ);
        // A track that comes back on itself within the look ahead: along its own segment instead.
        if (across < 0.1 * (to - from)) {
            aheadX = here.directionX;
            aheadZ = here.directionZ;
            across = 1.0;
        }
        const double climb = (flightAt(to) - flightAt(from)) / std::max(to - from, step);
        const vec3 direction = normalize(vec3{float(aheadX / across), float(climb - lookDown), float(aheadZ / across)});

        PathKeyframe keyframe;
        keyframe.seconds = distance * ground.metresPerWorldUnit / metresPerSecond;
        keyframe.position = vec3{float(here.x), float(height), float(here.z)};
        keyframe.direction = direction;
        keyframes.push_back(keyframe);
    }
    return keyframes;
}
