// Measuring along a path of points clicked on the ground: the length of each leg over the ground
// and in a straight line, its climb, its highest and lowest point, and the elevation profile of the
// whole path. Free of GL and of the application: the ground is reached through MeasureGround, which
// the terrain implements and the tests fake.
//
// Units: distances are metres on maps with a coordinate system (geodesic on the WGS 84 ellipsoid on
// geographic maps, the projection's metres on projected ones) and sample steps of the grid on image
// maps; elevations are in the same unit, so that a climb and a horizontal distance add up.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "math/Math.h"

enum class MapKind {
    // Longitude and latitude in degrees.
    Geographic,
    // Linear coordinates of a projection.
    Projected,
    // No coordinate system: columns and rows of the grid.
    Image,
};

// A point in the map's coordinates: on geographic maps x is the longitude and y the latitude, in
// degrees; on projected maps the projection's x and y in its unit; on image maps the column and the
// row of the grid.
struct MapPoint {
    double x = 0.0;
    double y = 0.0;
};

struct LatLon {
    double latitude = 0.0;
    double longitude = 0.0;
};

// What measuring needs to know of the ground under the terrain.
class MeasureGround {
public:
    virtual ~MeasureGround() = default;

    virtual MapKind kind() const = 0;
    // The map point under a world position (its height is not looked at).
    virtual MapPoint mapOf(const vec3& world) const = 0;
    // Where a map point lies on the earth; null on image maps (and where a projection has no
    // inverse).
    virtual std::optional<LatLon> latLonOf(const MapPoint& point) const = 0;
    // The elevation of the ground at a map point, in the distance unit (see above); null over a
    // void or off the map.
    virtual std::optional<double> elevationAt(const MapPoint& point) const = 0;
    // Metres in one unit of a projected map's coordinates (1 for metres, 0.3048 for feet); not
    // asked on other maps.
    virtual double metresPerMapUnit() const { return 1.0; }
    // The distance between neighbouring samples of the map, in the distance unit: legs are
    // followed in steps of about this length, so that no rise or dip of the ground is stepped over.
    virtual double sampleSpacing() const = 0;
};

// A clicked point: where it lies in the world and on the map, and the ground's elevation there.
struct PathPoint {
    vec3 world;
    MapPoint map;
    std::optional<LatLon> latLon;
    std::optional<double> elevation;
};

PathPoint pathPointAt(const MeasureGround& ground, const vec3& world);

// One point of the elevation profile. `distance` is the horizontal distance from the start of the
// path along it, so that a plot of elevation against it shows the slopes as they are.
struct ProfileSample {
    double distance = 0.0;
    MapPoint map;
    std::optional<LatLon> latLon;
    std::optional<double> elevation;
};

// The highest or lowest point of the ground along a stretch, and where it is.
struct GroundExtreme {
    double elevation = 0.0;
    ProfileSample at;
};

// What a leg, or the whole path, measures.
struct Stretch {
    // Along the ground: the sum over the steps of sqrt(horizontal^2 + rise^2). A void is bridged by
    // a straight line from the last elevation before it to the first after it; where no elevation
    // is known on one side (a void at an end) only the horizontal distance counts.
    double ground = 0.0;
    // The chord between the ends: sqrt(horizontal^2 + rise^2) of the end points, the horizontal part
    // measured as `horizontal` is (on geographic maps the geodesic, not the chord through the earth,
    // which a user reading a map does not mean). The horizontal distance alone when an end lies
    // over a void.
    double straight = 0.0;
    // The length on the map, leaving the ground's rise and fall out: geodesic or projected.
    double horizontal = 0.0;
    // Elevation of the end less that of the start; null when either lies over a void.
    std::optional<double> rise;
    // Of the samples with an elevation; null when none has one.
    std::optional<GroundExtreme> highest;
    std::optional<GroundExtreme> lowest;
    // Horizontal length of the steps that touch a void: how much of `ground` was bridged.
    double overVoids = 0.0;
};

struct PathMeasure {
    MapKind kind = MapKind::Image;
    // Leg k runs from point k to point k + 1.
    std::vector<Stretch> legs;
    // The whole path: ground, horizontal and void lengths summed over the legs; straight and rise
    // from the first point to the last; the highest and lowest point of all.
    Stretch whole;
    // Every step's end, from the first point to the last (a point where legs meet appears once).
    std::vector<ProfileSample> profile;
};

// Measures the path. Fewer than two points have no legs; one point alone is its own profile.
PathMeasure measurePath(const MeasureGround& ground, const std::vector<PathPoint>& points);

// The profile as comma-separated values: a header line "distance,x,y,latitude,longitude,elevation",
// then one line a sample; fields unknown (no coordinate system, a void) are left empty.
std::string profileCsv(const PathMeasure& measure);
// Writes profileCsv to `path` through replaceFile: the file is whole or as it was. False with one
// line naming the path and the reason.
bool saveProfileCsv(const std::string& path, const PathMeasure& measure, std::string& error);

// The world-space line that lies on the ground through the clicked world positions: each leg cut
// into steps no longer than `step` (world units), each step's end lifted onto the surface by
// heightAt(x, z). Where heightAt has no height (a hole, off the map) the line keeps the height of
// the straight leg there. The clicked positions themselves are kept as given.
std::vector<vec3> drapeOnGround(const std::vector<vec3>& clicked, float step,
                                const std::function<std::optional<float>(float x, float z)>& heightAt);
