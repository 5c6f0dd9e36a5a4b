// Legs followed in steps of the map's sample spacing: along the geodesic on geographic maps, along
// the straight line on the map otherwise, with the ground's elevation read at every step's end.
#include "io/Measurement.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

#include "io/AtomicFile.h"

namespace {

// A leg far longer than the map's spacing (a continent on a fine map) is followed in at most this
// many steps, which keeps a click answered at once and the profile a size a plot and a file take.
constexpr double MOST_STEPS_PER_LEG = 100000.0;

int stepsOver(double length, double step) {
    if (!(step > 0.0) || !std::isfinite(length)) return 1;
    return static_cast<int>(std::clamp(std::ceil(length / step), 1.0, MOST_STEPS_PER_LEG));
}

ProfileSample sampleAt(const MeasureGround& ground, const MapPoint& map, double distance) {
    return {distance, map, ground.latLonOf(map), ground.elevationAt(map)};
}

// The map distance between two points, in the distance unit.
double horizontalBetween(const MeasureGround& ground, const MapPoint& from, const MapPoint& to) {
    switch (ground.kind()) {
        case MapKind::Geographic: {
            double metres = 0.0;
            GeographicLib::Geodesic::WGS84().Inverse(from.y, from.x, to.y, to.x, metres);
            return metres;
        }
        case MapKind::Projected:
            return std::hypot(to.x - from.x, to.y - from.y) * ground.metresPerMapUnit();
        case MapKind::Image:
            break;
    }
    return std::hypot(to.x - from.x, to.y - from.y);
}

// The samples of one leg, from its start at `startDistance` along the path to its end, both ends
// included and exactly the clicked points.
std::vector<ProfileSample> legSamples(const MeasureGround& ground, const MapPoint& from, const MapPoint& to,
                                      double startDistance, double& horizontal) {
    std::vector<ProfileSample> samples;
    if (ground.kind() == MapKind::Geographic) {
        const GeographicLib::GeodesicLine line = GeographicLib::Geodesic::WGS84().InverseLine(from.y, from.x, to.y, to.x);
        horizontal = line.Distance();
        const int steps = stepsOver(horizontal, ground.sampleSpacing());
        samples.reserve(size_t(steps) + 1);
        for (int k = 0; k <= steps; ++k) {
            const double along = horizontal * k / steps;
            MapPoint point = k == steps ? to : from;
            if (k > 0 && k < steps) {
                // Unrolled, so that a leg across the antimeridian keeps counting longitude the way the
                // map does at its start.
                double unused = 0.0;
                line.GenPosition(false, along,
                                 GeographicLib::GeodesicLine::LATITUDE | GeographicLib::GeodesicLine::LONGITUDE |
                                     GeographicLib::GeodesicLine::LONG_UNROLL,
                                 point.y, point.x, unused, unused, unused, unused, unused, unused);
            }
            samples.push_back(sampleAt(ground, point, startDistance + along));
        }
        return samples;
    }
    horizontal = horizontalBetween(ground, from, to);
    const int steps = stepsOver(horizontal, ground.sampleSpacing());
    samples.reserve(size_t(steps) + 1);
    for (int k = 0; k <= steps; ++k) {
        const double t = double(k) / steps;
        const MapPoint point = k == steps ? to : MapPoint{from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t};
        samples.push_back(sampleAt(ground, point, startDistance + horizontal * t));
    }
    return samples;
}

void takeExtremes(Stretch& stretch, const ProfileSample& sample) {
    if (!sample.elevation) return;
    const double elevation = *sample.elevation;
    if (!stretch.highest || elevation > stretch.highest->elevation) stretch.highest = GroundExtreme{elevation, sample};
    if (!stretch.lowest || elevation < stretch.lowest->elevation) stretch.lowest = GroundExtreme{elevation, sample};
}

void takeExtremes(Stretch& stretch, const Stretch& part) {
    if (part.highest && (!stretch.highest || part.highest->elevation > stretch.highest->elevation)) {
        stretch.highest = part.highest;
    }
    if (part.lowest && (!stretch.lowest || part.lowest->elevation < stretch.lowest->elevation)) {
        stretch.lowest = part.lowest;
    }
}

// Straight and rise between two ends `horizontal` apart.
void measureChord(Stretch& stretch, const std::optional<double>& start, const std::optional<double>& end,
                  double horizontal) {
    if (start && end) stretch.rise = *end - *start;
    stretch.straight = stretch.rise ? std::hypot(horizontal, *stretch.rise) : horizontal;
}

Stretch measureLeg(const std::vector<ProfileSample>& samples, double horizontal) {
    Stretch leg;
    leg.horizontal = horizontal;
    measureChord(leg, samples.front().elevation, samples.back().elevation, horizontal);
    // The last sample with an elevation: the ground from it to the next one is taken as straight.
    const ProfileSample* known = samples.front().elevation ? &samples.front() : nullptr;
    // Where the horizontal distance not yet counted starts: the last known sample, or the start.
    double counted = samples.front().distance;
    takeExtremes(leg, samples.front());
    for (size_t k = 1; k < samples.size(); ++k) {
        const ProfileSample& previous = samples[k - 1];
        const ProfileSample& sample = samples[k];
        if (!previous.elevation || !sample.elevation) leg.overVoids += sample.distance - previous.distance;
        takeExtremes(leg, sample);
        if (!sample.elevation) continue;
        const double run = sample.distance - counted;
        leg.ground += known ? std::hypot(run, *sample.elevation - *known->elevation) : run;
        known = &sample;
        counted = sample.distance;
    }
    // After the last elevation the ground is level as far as anyone knows.
    leg.ground += samples.back().distance - counted;
    return leg;
}

}  // namespace

PathPoint pathPointAt(const MeasureGround& ground, const vec3& world) {
    PathPoint point;
    point.world = world;
    point.map = ground.mapOf(world);
    point.latLon = ground.latLonOf(point.map);
    point.elevation = ground.elevationAt(point.map);
    return point;
}

PathMeasure measurePath(const MeasureGround& ground, const std::vector<PathPoint>& points) {
    PathMeasure measure;
    measure.kind = ground.kind();
    if (points.empty()) return measure;
    measure.profile.push_back({0.0, points.front().map, points.front().latLon, points.front().elevation});
    takeExtremes(measure.whole, measure.profile.front());
    for (size_t k = 1; k < points.size(); ++k) {
        double horizontal = 0.0;
        const std::vector<ProfileSample> samples =
            legSamples(ground, points[k - 1].map, points[k].map, measure.profile.back().distance, horizontal);
        const Stretch leg = measureLeg(samples, horizontal);
        measure.whole.ground += leg.ground;
        measure.whole.horizontal += leg.horizontal;
        measure.whole.overVoids += leg.overVoids;
        takeExtremes(measure.whole, leg);
        measure.legs.push_back(leg);
        measure.profile.insert(measure.profile.end(), samples.begin() + 1, samples.end());
    }
    if (points.size() > 1) {
        measureChord(measure.whole, points.front().elevation, points.back().elevation,
                     horizontalBetween(ground, points.front().map, points.back().map));
    }
    return measure;
}

std::string profileCsv(const PathMeasure& measure) {
    // Degrees want more decimals than metres for the same tenth of a millimetre.
    const int mapDecimals = measure.kind == MapKind::Geographic ? 9 : 4;
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::fixed << "distance,x,y,latitude,longitude,elevation\n";
    for (const ProfileSample& sample : measure.profile) {
        out << std::setprecision(4) << sample.distance << ',' << std::setprecision(mapDecimals) << sample.map.x << ','
            << sample.map.y << ',';
        if (sample.latLon) {
            out << std::setprecision(9) << sample.latLon->latitude << ',' << sample.latLon->longitude << ',';
        } else {
            out << ",,";
        }
        if (sample.elevation) out << std::setprecision(4) << *sample.elevation;
        out << '\n';
    }
    return out.str();
}

bool saveProfileCsv(const std::string& path, const PathMeasure& measure, std::string& error) {
    return replaceFile(path, profileCsv(measure), error);
}

std::vector<vec3> drapeOnGround(const std::vector<vec3>& clicked, float step,
                                const std::function<std::optional<float>(float x, float z)>& heightAt) {
    std::vector<vec3> line;
    if (clicked.empty()) return line;
    line.push_back(clicked.front());
    for (size_t k = 1; k < clicked.size(); ++k) {
        const vec3& from = clicked[k - 1];
        const vec3& to = clicked[k];
        const double length = std::hypot(double(to.x) - from.x, double(to.z) - from.z);
        const int steps = stepsOver(length, step);
        for (int i = 1; i < steps; ++i) {
            const float t = static_cast<float>(double(i) / steps);
            vec3 point = from + (to - from) * t;
            if (const std::optional<float> height = heightAt(point.x, point.z)) point.y = *height;
            line.push_back(point);
        }
        line.push_back(to);
    }
    return line;
}
