// Measuring along clicked paths on grounds whose answers are known: geodesics of documented and
// hand-checked length, projected and grid distances, analytic slopes and ridges, voids, the
// profile's file, and the line draped on the ground.
#include "io/MapGround.h"
#include "io/Measurement.h"
#include "tests/TempFolder.h"

#include <gtest/gtest.h>
#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Elevation = std::function<std::optional<double>(const MapPoint&)>;

// A ground whose world x, -z are its map x, y, with the elevation a function of the map point.
class FakeGround : public MeasureGround {
public:
    FakeGround(MapKind kind, double spacing, Elevation elevation, double metresPerUnit = 1.0)
        : mapKind(kind), spacing(spacing), elevation(std::move(elevation)), metresPerUnit(metresPerUnit) {}

    MapKind kind() const override { return mapKind; }
    MapPoint mapOf(const vec3& world) const override { return {world.x, -world.z}; }
    std::optional<LatLon> latLonOf(const MapPoint& point) const override {
        if (mapKind == MapKind::Geographic) return LatLon{point.y, point.x};
        // Any rule does: the file only has to carry what the ground says.
        if (mapKind == MapKind::Projected) return LatLon{point.y / 1000.0, point.x / 1000.0};
        return std::nullopt;
    }
    std::optional<double> elevationAt(const MapPoint& point) const override {
        ++elevationReads;
        return elevation(point);
    }
    double metresPerMapUnit() const override { return metresPerUnit; }
    double sampleSpacing() const override { return spacing; }

    MapKind mapKind;
    double spacing;
    Elevation elevation;
    double metresPerUnit;
    mutable int elevationReads = 0;
};

const Elevation FLAT = [](const MapPoint&) { return 0.0; };

PathPoint at(const MeasureGround& ground, double x, double y) {
    return pathPointAt(ground, vec3{float(x), 0.0f, float(-y)});
}

// Points straight from map coordinates, for geographic paths whose degrees a float world would round.
PathPoint onMap(const MeasureGround& ground, double x, double y) {
    PathPoint point;
    point.map = {x, y};
    point.latLon = ground.latLonOf(point.map);
    point.elevation = ground.elevationAt(point.map);
    return point;
}

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

}  // namespace

// Catches a horizontal distance measured on the wrong figure: degrees taken as planar, a sphere
// instead of the WGS 84 ellipsoid, a projected unit left unconverted, or a path cut into steps whose
// lengths do not add up to the leg.
TEST(Measurement, HorizontalDistancesOnEachKindOfMap) {
    struct Row {
        const char* name;
        MapKind kind;
        double metresPerUnit;
        double spacing;
        MapPoint from, to;
        double metres;
        double tolerance;
    };
    const Row rows[] = {
        // GeographicLib's documented example, JFK to LHR: 5551.759400 km.
        {"JFK to LHR", MapKind::Geographic, 1.0, 20000.0, {-73.8, 40.6}, {-0.5, 51.6}, 5551759.400319, 1e-3},
        // a * pi / 180 along the equator, where the geodesic is the equator itself.
        {"a degree of the equator", MapKind::Geographic, 1.0, 30.0, {10.0, 0.0}, {11.0, 0.0}, 111319.490793, 1e-3},
        // The meridian arc from the equator to 1 degree north, integrated separately by Simpson's rule.
        {"a degree of the meridian", MapKind::Geographic, 1.0, 30.0, {5.0, 0.0}, {5.0, 1.0}, 110574.388558, 1e-3},
        // Across the antimeridian the short way round: 2 degrees of the equator, not 358.
        {"across the antimeridian", MapKind::Geographic, 1.0, 1000.0, {179.0, 0.0}, {-179.0, 0.0}, 2 * 111319.490793,
         1e-3},
        {"3-4-5 in metres", MapKind::Projected, 1.0, 1.0, {100.0, 200.0}, {103.0, 204.0}, 5.0, 1e-9},
        {"3-4-5 in feet", MapKind::Projected, 0.3048, 0.3, {0.0, 0.0}, {-3.0, 4.0}, 1.524, 1e-9},
        {"3-4-5 in grid steps", MapKind::Image, 1.0, 0.25, {2.0, 7.0}, {5.0, 3.0}, 5.0, 1e-9},
    };
    for (const Row& row : rows) {
        const FakeGround ground(row.kind, row.spacing, FLAT, row.metresPerUnit);
        const PathMeasure measure =
            measurePath(ground, {onMap(ground, row.from.x, row.from.y), onMap(ground, row.to.x, row.to.y)});
        ASSERT_EQ(measure.legs.size(), 1u) << row.name;
        const Stretch& leg = measure.legs[0];
        EXPECT_NEAR(leg.horizontal, row.metres, row.tolerance) << row.name;
        // On level ground every distance is the map distance.
        EXPECT_NEAR(leg.ground, row.metres, row.tolerance) << row.name;
        EXPECT_NEAR(leg.straight, row.metres, row.tolerance) << row.name;
        EXPECT_NEAR(measure.profile.back().distance, row.metres, row.tolerance) << row.name;
    }
}

// Catches a geodesic leg stepped along the straight line in degrees instead of along the geodesic:
// halfway from JFK to LHR the geodesic runs far north of the mid-point of the degrees.
TEST(Measurement, GeographicLegsAreSampledAlongTheGeodesic) {
    const FakeGround ground(MapKind::Geographic, 100000.0, FLAT);
    const PathMeasure measure = measurePath(ground, {onMap(ground, -73.8, 40.6), onMap(ground, -0.5, 51.6)});
    double northmost = -90.0;
    for (const ProfileSample& sample : measure.profile) {
        northmost = std::max(northmost, sample.map.y);
        ASSERT_TRUE(sample.latLon);
        EXPECT_EQ(sample.latLon->latitude, sample.map.y);
    }
    EXPECT_GT(northmost, 52.0);
    // The ends are the clicked points exactly.
    EXPECT_EQ(measure.profile.back().map.x, -0.5);
    EXPECT_EQ(measure.profile.back().map.y, 51.6);
}

// Catches a ground distance that ignores the climb, counts it twice, or steps over a ridge that the
// chord between the ends does not see; and extremes that are not where the ground is highest.
TEST(Measurement, GroundAndStraightDistancesOverAnalyticGround) {
    struct Row {
        const char* name;
        Elevation elevation;
        double spacing;
        MapPoint to;
        double ground, straight, rise;
        double highest, highestAtDistance, lowest, lowestAtDistance;
    };
    const Row rows[] = {
        // Rising 3 in 4: the ground is the slope's own length, at a step that does not divide the leg
        // too, and so is the chord.
        {"a plane at 7 m", [](const MapPoint& p) { return 0.75 * p.x; }, 7.0, {400.0, 0.0}, 500.0, 500.0, 300.0,
         300.0, 400.0, 0.0, 0.0},
        // A ridge 300 high halfway: up 500 and down 500 over the ground, 800 straight across.
        {"a ridge", [](const MapPoint& p) { return 300.0 - 0.75 * std::abs(p.x - 400.0); }, 10.0, {800.0, 0.0}, 1000.0,
         800.0, 0.0, 300.0, 400.0, 0.0, 0.0},
        // A valley along the diagonal, its floor 100 below ends 100 up.
        {"a valley", [](const MapPoint& p) { return 100.0 - 200.0 * (1.0 - std::abs(p.x - 300.0) / 300.0); }, 5.0,
         {600.0, 0.0}, 2.0 * std::hypot(300.0, 200.0), 600.0, 0.0, 100.0, 0.0, -100.0, 300.0},
    };
    for (const Row& row : rows) {
        const FakeGround ground(MapKind::Projected, row.spacing, row.elevation);
        const PathMeasure measure = measurePath(ground, {at(ground, 0.0, 0.0), at(ground, row.to.x, row.to.y)});
        const Stretch& leg = measure.legs.at(0);
        EXPECT_NEAR(leg.ground, row.ground, 1e-6) << row.name;
        EXPECT_NEAR(leg.straight, row.straight, 1e-6) << row.name;
        ASSERT_TRUE(leg.rise) << row.name;
        EXPECT_NEAR(*leg.rise, row.rise, 1e-9) << row.name;
        ASSERT_TRUE(leg.highest && leg.lowest) << row.name;
        EXPECT_NEAR(leg.highest->elevation, row.highest, 1e-9) << row.name;
        EXPECT_NEAR(leg.highest->at.distance, row.highestAtDistance, 1e-9) << row.name;
        EXPECT_NEAR(leg.lowest->elevation, row.lowest, 1e-9) << row.name;
        EXPECT_NEAR(leg.lowest->at.distance, row.lowestAtDistance, 1e-9) << row.name;
        EXPECT_EQ(leg.overVoids, 0.0) << row.name;
    }
}

// Catches a void read as elevation 0 (a cliff down and back), a void that ends the counting of the
// leg, extremes taken from voids, and a climb or chord invented for an end over a void.
TEST(Measurement, VoidsAreBridgedAndLeftOutOfExtremes) {
    const auto slopeWithVoid = [](double from, double to) -> Elevation {
        return [from, to](const MapPoint& p) -> std::optional<double> {
            if (p.x > from && p.x < to) return std::nullopt;
            return 0.75 * p.x;
        };
    };
    struct Row {
        const char* name;
        Elevation elevation;
        double ground, straight, overVoids;
        std::optional<double> rise;
        double lowest;
    };
    const Row rows[] = {
        // On a plane the straight bridge is the ground itself.
        {"in the middle", slopeWithVoid(100.0, 200.0), 500.0, 500.0, 100.0, 300.0, 0.0},
        // Level as far as anyone knows before the first and after the last elevation.
        {"at the start", slopeWithVoid(-1.0, 100.0), 100.0 + 375.0, 400.0, 100.0, std::nullopt, 75.0},
        {"at the end", slopeWithVoid(300.0, 401.0), 375.0 + 100.0, 400.0, 100.0, std::nullopt, 0.0},
        {"everywhere", slopeWithVoid(-1.0, 401.0), 400.0, 400.0, 400.0, std::nullopt, 0.0},
    };
    for (const Row& row : rows) {
        const FakeGround ground(MapKind::Projected, 10.0, row.elevation);
        const PathMeasure measure = measurePath(ground, {at(ground, 0.0, 0.0), at(ground, 400.0, 0.0)});
        const Stretch& leg = measure.legs.at(0);
        EXPECT_NEAR(leg.ground, row.ground, 1e-6) << row.name;
        EXPECT_NEAR(leg.straight, row.straight, 1e-6) << row.name;
        EXPECT_NEAR(leg.overVoids, row.overVoids, 1e-6) << row.name;
        EXPECT_EQ(leg.rise.has_value(), row.rise.has_value()) << row.name;
        if (leg.rise && row.rise) {
            EXPECT_NEAR(*leg.rise, *row.rise, 1e-9) << row.name;
        }
        if (std::string(row.name) == "everywhere") {
            EXPECT_FALSE(leg.highest || leg.lowest);
        } else {
            ASSERT_TRUE(leg.lowest) << row.name;
            EXPECT_NEAR(leg.lowest->elevation, row.lowest, 1e-9) << row.name;
        }
    }
}

// Catches a whole path that sums the legs' chords instead of spanning first to last, a meeting
// point counted twice in the profile, leg extremes not carried to the whole, and profile distances
// that restart at each leg.
TEST(Measurement, TheWholePathAddsItsLegsAndSpansItsEnds) {
    // The elevation is the map's y: up 40 over 50, then down 40 over 40, ending 30 from the start.
    const FakeGround ground(MapKind::Projected, 10.0, [](const MapPoint& p) { return p.y; });
    const PathMeasure measure =
        measurePath(ground, {at(ground, 0.0, 0.0), at(ground, 30.0, 40.0), at(ground, 30.0, 0.0)});
    ASSERT_EQ(measure.legs.size(), 2u);
    EXPECT_NEAR(measure.legs[0].ground, std::hypot(50.0, 40.0), 1e-9);
    EXPECT_NEAR(*measure.legs[1].rise, -40.0, 1e-9);
    EXPECT_NEAR(measure.whole.ground, std::hypot(50.0, 40.0) + std::hypot(40.0, 40.0), 1e-9);
    EXPECT_NEAR(measure.whole.horizontal, 90.0, 1e-9);
    EXPECT_NEAR(measure.whole.straight, 30.0, 1e-9);
    EXPECT_NEAR(*measure.whole.rise, 0.0, 1e-9);
    EXPECT_NEAR(measure.whole.highest->elevation, 40.0, 1e-9);
    EXPECT_NEAR(measure.whole.highest->at.distance, 50.0, 1e-9);
    EXPECT_NEAR(measure.whole.highest->at.map.x, 30.0, 1e-9);
    // 5 steps and 4 steps: ten samples, the turning point once, distances rising throughout.
    ASSERT_EQ(measure.profile.size(), 10u);
    for (size_t k = 1; k < measure.profile.size(); ++k) {
        EXPECT_NEAR(measure.profile[k].distance - measure.profile[k - 1].distance, 10.0, 1e-9) << k;
    }
}

// Catches paths too short to have legs that still produce some, and a profile that loses the lone
// point the panel shows.
TEST(Measurement, PathsWithoutLegs) {
    const FakeGround ground(MapKind::Image, 1.0, [](const MapPoint&) { return 5.0; });
    const PathMeasure none = measurePath(ground, {});
    EXPECT_TRUE(none.legs.empty());
    EXPECT_TRUE(none.profile.empty());
    const PathMeasure one = measurePath(ground, {at(ground, 2.0, 3.0)});
    EXPECT_TRUE(one.legs.empty());
    ASSERT_EQ(one.profile.size(), 1u);
    EXPECT_EQ(one.whole.ground, 0.0);
    EXPECT_EQ(one.whole.highest->elevation, 5.0);
    // Two clicks on the same point: a leg of no length, read once at each end.
    const PathMeasure same = measurePath(ground, {at(ground, 2.0, 3.0), at(ground, 2.0, 3.0)});
    ASSERT_EQ(same.legs.size(), 1u);
    EXPECT_EQ(same.legs[0].ground, 0.0);
    EXPECT_EQ(same.profile.size(), 2u);
}

// Catches a leg between far-apart points on a fine map stepped without bound.
TEST(Measurement, AVeryLongLegIsFollowedInBoundedSteps) {
    const FakeGround ground(MapKind::Projected, 1e-6, FLAT);
    const PathMeasure measure = measurePath(ground, {at(ground, 0.0, 0.0), at(ground, 1000.0, 0.0)});
    EXPECT_LE(ground.elevationReads, 100001 + 2);
    EXPECT_NEAR(measure.legs.at(0).ground, 1000.0, 1e-6);
}

// Catches a header or column order other than the documented one, numbers written in the user's
// locale or in exponent form, and a void or a missing coordinate system written as a number.
TEST(Measurement, TheProfileFileHasAHeaderAndOneLineASample) {
    struct Row {
        const char* name;
        MapKind kind;
        std::vector<MapPoint> points;
        std::string csv;
    };
    const Elevation hole = [](const MapPoint& p) -> std::optional<double> {
        if (p.x > 1.0 && p.x < 3.0) return std::nullopt;
        return 1000.25 + p.x;
    };
    const Row rows[] = {
        {"image map with a void", MapKind::Image, {{0.0, 0.0}, {4.0, 0.0}},
         "distance,x,y,latitude,longitude,elevation\n"
         "0.0000,0.0000,0.0000,,,1000.2500\n"
         "1.0000,1.0000,0.0000,,,1001.2500\n"
         "2.0000,2.0000,0.0000,,,\n"
         "3.0000,3.0000,0.0000,,,1003.2500\n"
         "4.0000,4.0000,0.0000,,,1004.2500\n"},
        {"projected map", MapKind::Projected, {{500000.0, 8000000.0}, {500000.0, 8000001.5}},
         "distance,x,y,latitude,longitude,elevation\n"
         "0.0000,500000.0000,8000000.0000,8000.000000000,500.000000000,501000.2500\n"
         "0.7500,500000.0000,8000000.7500,8000.000750000,500.000000000,501000.2500\n"
         "1.5000,500000.0000,8000001.5000,8000.001500000,500.000000000,501000.2500\n"},
    };
    for (const Row& row : rows) {
        const FakeGround ground(row.kind, 1.0, hole);
        std::vector<PathPoint> points;
        for (const MapPoint& point : row.points) points.push_back(onMap(ground, point.x, point.y));
        EXPECT_EQ(profileCsv(measurePath(ground, points)), row.csv) << row.name;
    }
    // Geographic coordinates keep nine decimals, a tenth of a millimetre of latitude; the distance is
    // the meridian arc from 8.05 to 8 degrees south, integrated separately by Simpson's rule.
    const FakeGround geographic(MapKind::Geographic, 1e6, FLAT);
    const std::string csv =
        profileCsv(measurePath(geographic, {onMap(geographic, -34.9, -8.05), onMap(geographic, -34.9, -8.0)}));
    EXPECT_EQ(csv.substr(csv.find('\n') + 1), "0.0000,-34.900000000,-8.050000000,-8.050000000,-34.900000000,0.0000\n"
                                              "5529.7960,-34.900000000,-8.000000000,-8.000000000,-34.900000000,0.0000\n");
}

// Catches a profile written in place, which a failed write (a full disk) would leave cut off.
TEST(Measurement, AFailedSaveLeavesTheOldFile) {
    const TempFolder folder;
    const std::string path = folder / "profile.csv";
    std::ofstream(path) << "the old profile\n";
    const FakeGround ground(MapKind::Image, 1.0, FLAT);
    const PathMeasure measure = measurePath(ground, {at(ground, 0.0, 0.0), at(ground, 100.0, 0.0)});

    // Files may grow to 16 bytes: the new profile's first bytes fit, the rest do not.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previousHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool saved16 = saveProfileCsv(path, measure, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved16);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(contentOf(path), "the old profile\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), std::filesystem::directory_iterator()), 1);

    ASSERT_TRUE(saveProfileCsv(path, measure, error)) << error;
    EXPECT_EQ(contentOf(path), profileCsv(measure));
}

// Catches a draped line that cuts through hills between the clicks (no steps, or steps too long),
// moves the clicked points, or drops to height 0 over a hole.
TEST(Measurement, TheDrapedLineFollowsTheSurfaceBetweenTheClicks) {
    const auto hill = [](float x, float z) -> std::optional<float> {
        if (x > 6.5f && x < 7.5f) return std::nullopt;
        return 10.0f + x + z;
    };
    const std::vector<vec3> clicked{{0.0f, 10.0f, 0.0f}, {10.0f, 20.0f, 0.0f}, {10.0f, 15.0f, -5.0f}};
    const std::vector<vec3> line = drapeOnGround(clicked, 1.0f, hill);
    // Ten steps and five: every integer x, then every integer z; each clicked point as given.
    ASSERT_EQ(line.size(), 16u);
    EXPECT_EQ(line[10].y, 20.0f);
    EXPECT_EQ(line[15].z, -5.0f);
    for (int k = 1; k < 10; ++k) {
        EXPECT_FLOAT_EQ(line[k].x, float(k));
        // The hole at x = 7 keeps the straight leg's height, which is the plane's there too.
        EXPECT_FLOAT_EQ(line[k].y, 10.0f + k) << k;
    }
    for (int k = 11; k < 15; ++k) EXPECT_FLOAT_EQ(line[k].y, 10.0f + 10.0f + line[k].z) << k;
    EXPECT_TRUE(drapeOnGround({}, 1.0f, hill).empty());
    EXPECT_EQ(drapeOnGround({clicked[0]}, 1.0f, hill).size(), 1u);
}

namespace {

std::string wktOfEpsg(int code) {
    OGRSpatialReferenceH system = OSRNewSpatialReference(nullptr);
    EXPECT_EQ(OSRImportFromEPSG(system, code), OGRERR_NONE) << code;
    char* wkt = nullptr;
    OSRExportToWkt(system, &wkt);
    const std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    OSRDestroySpatialReference(system);
    return text;
}

}  // namespace

// Catches world positions put on the map at pixel corners instead of their middles, rows counted
// from the wrong edge, elevations left in world units, a projected map's latitude and longitude in
// the wrong axis order, and a map's kind or unit told wrongly from its coordinate system.
TEST(MapGround, PutsTheWorldOnItsMap) {
    struct Row {
        const char* name;
        std::optional<std::array<double, 6>> geoTransform;
        int epsg;  // 0: no coordinate system
        MapKind kind;
        double metresPerMapUnit;
        MapPoint bottomLeft, topRight;
        std::optional<LatLon> latLonOfPoint;
        MapPoint point;
        double elevationOfHeightTwo;
        double sampleSpacing;
    };
    const std::array<double, 6> utm{290000.0, 30.0, 0.0, 9120000.0, 0.0, -30.0};
    const std::array<double, 6> degrees{-35.0, 0.001, 0.0, -7.9, 0.0, -0.001};
    const Row rows[] = {
        // UTM 25S: its central meridian 33 W meets the equator at 500 000, 10 000 000.
        {"UTM", utm, 32725, MapKind::Projected, 1.0, {290015.0, 9117615.0}, {292985.0, 9119985.0},
         LatLon{0.0, -33.0}, {500000.0, 10000000.0}, 2.0 * 30.0 + 5.0, 30.0},
        // California zone 3 in US survey feet: its origin, 36.5 N 120.5 W, lies 2 000 000 m east and
        // 500 000 m north of its false origin.
        {"US survey feet", utm, 2227, MapKind::Projected, 1200.0 / 3937.0, {290015.0, 9117615.0},
         {292985.0, 9119985.0}, LatLon{36.5, -120.5}, {2000000.0 * 3937.0 / 1200.0, 500000.0 * 3937.0 / 1200.0}, 65.0,
         30.0},
        {"no coordinate system", utm, 0, MapKind::Projected, 1.0, {290015.0, 9117615.0}, {292985.0, 9119985.0},
         std::nullopt, {500000.0, 10000000.0}, 65.0, 30.0},
        {"WGS 84", degrees, 4326, MapKind::Geographic, 1.0, {-34.9995, -7.9795}, {-34.9005, -7.9005},
         LatLon{-7.95, -34.95}, {-34.95, -7.95}, 65.0, 30.0},
        // Column 3 of row 2 from the bottom, whose row from the top is 77; heights in the grid's steps.
        {"image map", std::nullopt, 0, MapKind::Image, 1.0, {0.0, 79.0}, {99.0, 0.0}, std::nullopt, {}, 1.0, 1.0},
    };
    for (const Row& row : rows) {
        TerrainOnMap terrain;
        terrain.grid.width = 100;
        terrain.grid.height = 80;
        terrain.grid.geoTransform = row.geoTransform;
        if (row.epsg != 0) terrain.grid.coordinateSystemWkt = wktOfEpsg(row.epsg);
        // An image map's grid is square; an elevation map's world is 2 units a sample, 15 m a unit.
        terrain.columnSpacing = 2.0f;
        terrain.rowSpacing = row.kind == MapKind::Image ? 2.0f : 2.5f;
        terrain.metresPerWorldUnit = row.kind == MapKind::Image ? 1.0 : 15.0;
        terrain.metresPerHeight = 30.0;
        terrain.seaLevelMetres = 5.0;
        std::vector<vec2> asked;
        const MapGround ground(terrain, [&](float x, float z) -> std::optional<float> {
            asked.push_back({x, z});
            return 2.0f;
        });
        EXPECT_EQ(ground.kind(), row.kind) << row.name;
        if (row.kind == MapKind::Projected) {
            EXPECT_NEAR(ground.metresPerMapUnit(), row.metresPerMapUnit, 1e-12) << row.name;
        }
        const vec3 bottomLeft{0.0f, 0.0f, 0.0f};
        const vec3 topRight{99.0f * 2.0f, 0.0f, -79.0f * terrain.rowSpacing};
        for (const auto& [world, expected] : {std::pair{bottomLeft, row.bottomLeft}, std::pair{topRight, row.topRight}}) {
            const MapPoint map = ground.mapOf(world);
            EXPECT_NEAR(map.x, expected.x, 1e-6) << row.name;
            EXPECT_NEAR(map.y, expected.y, 1e-6) << row.name;
            // The elevation of a map point is read where that point lies in the world.
            asked.clear();
            ASSERT_TRUE(ground.elevationAt(map)) << row.name;
            EXPECT_NEAR(*ground.elevationAt(map), row.elevationOfHeightTwo, 1e-9) << row.name;
            ASSERT_FALSE(asked.empty());
            EXPECT_NEAR(asked[0].x, world.x, 1e-3) << row.name;
            EXPECT_NEAR(asked[0].y, world.z, 1e-3) << row.name;
        }
        const std::optional<LatLon> latLon = ground.latLonOf(row.point);
        EXPECT_EQ(latLon.has_value(), row.latLonOfPoint.has_value()) << row.name;
        if (latLon && row.latLonOfPoint) {
            // Within a metre: a datum's shift to WGS 84 may be applied.
            EXPECT_NEAR(latLon->latitude, row.latLonOfPoint->latitude, 1e-5) << row.name;
            EXPECT_NEAR(latLon->longitude, row.latLonOfPoint->longitude, 1e-5) << row.name;
        }
        EXPECT_NEAR(ground.sampleSpacing(), row.sampleSpacing, 1e-9) << row.name;
    }
}
