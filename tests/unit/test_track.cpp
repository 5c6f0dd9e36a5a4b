// Tracks read from vector files onto the Olinda map (UTM zone 25 S, 90 m samples): the layer
// chosen in each format, the points reprojected and placed where the terrain lays its samples, and
// the refusals. The files are written through OGR's own drivers.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "io/HeightMap.h"
#include "io/Track.h"
#include "tests/TempFolder.h"

namespace {

// Points as longitude and latitude on WGS 84 and as UTM 25 S metres (gdaltransform -s_srs
// EPSG:32725 -t_srs EPSG:4326), and where the terrain lays them at one world unit a sample: column
// (easting - 288776.25) / 89.994067 - 0.5 east, row (9120760.75 - northing) / 89.994067 - 0.5
// south of the north-western sample, the northern edge at z = -110.
struct Place {
    double longitude, latitude, easting, northing;
    vec3 world;
};
const Place P1{-34.9054355684023, -8.029074935385, 290000.0, 9112000.0, {13.0981f, 0.0f, -13.1519f}};
const Place P2{-34.8871287323698, -7.99299611098765, 292000.0, 9116000.0, {35.3218f, 0.0f, -57.5993f}};
const Place P3{-34.8416598345942, -7.96607814847688, 297000.0, 9119000.0, {90.881f, 0.0f, -90.9348f}};
// West of the map's western edge, and far off it.
const Place WEST{-34.9960015677129, -8.00152478684556, 280000.0, 9115000.0, {-98.0203f, 0.0f, -46.4874f}};
const Place EUROPE{10.0, 50.0, 0.0, 0.0, {}};

// Well-known text of points, in longitude and latitude or, `inUtm`, in UTM metres.
std::string coordinates(const std::vector<Place>& places, bool inUtm = false) {
    std::ostringstream text;
    text << std::setprecision(15);
    for (const Place& place : places) {
        text << (&place == &places.front() ? "" : ",") << (inUtm ? place.easting : place.longitude) << " "
             << (inUtm ? place.northing : place.latitude);
    }
    return text.str();
}
std::string line(const std::vector<Place>& places, bool inUtm = false) {
    return "LINESTRING (" + coordinates(places, inUtm) + ")";
}
std::string point(const Place& place) { return "POINT (" + coordinates({place}) + ")"; }

struct Layer {
    const char* name;
    OGRwkbGeometryType type;
    std::vector<std::string> geometries;
};

// Writes the layers through OGR's driver; `system` null for none.
void writeVectors(const std::string& path, const char* driverName, const char* system, const std::vector<Layer>& layers) {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    ASSERT_NE(driver, nullptr) << driverName;
    GDALDataset* dataset = driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(dataset, nullptr) << path;
    OGRSpatialReference reference;
    reference.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (system) reference.SetFromUserInput(system);
    for (const Layer& each : layers) {
        OGRLayer* layer = dataset->CreateLayer(each.name, system ? &reference : nullptr, each.type, nullptr);
        ASSERT_NE(layer, nullptr) << each.name;
        for (const std::string& wkt : each.geometries) {
            OGRFeature feature(layer->GetLayerDefn());
            OGRGeometry* geometry = nullptr;
            ASSERT_EQ(OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &geometry), OGRERR_NONE) << wkt;
            feature.SetGeometryDirectly(geometry);
            ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE) << wkt;
        }
    }
    GDALClose(dataset);
}

TerrainOnMap olinda() {
    HeightSamples map;
    std::string message;
    EXPECT_TRUE(loadHeightMap(std::string(KELTA_TEST_DATA_DIR) + "/elevation/olinda_dem_utm25s.tif", ElevationOptions{},
                              map, message))
        << message;
    TerrainOnMap terrain;
    if (map.elevation) terrain.grid = map.elevation->grid;
    return terrain;
}

}  // namespace

// Faults caught: a layer of points taken over the file's lines (GPX lists waypoints first, and all
// five of its layers whatever it holds; KML and GeoJSON mix geometries in one layer), a
// collection's parts or a track's segments lost or reordered, longitude and latitude swapped, a
// projected or missing coordinate system handled as geographic, points off the map kept at the
// ends, and the terrain's row direction or the pixel's centre mislaid.
TEST(Track, ReadsTheLineOfEachFormatOntoTheMapsWorld) {
    const std::string segments = "MULTILINESTRING ((" + coordinates({P1, P2}) + "),(" + coordinates({P3}) + "))";
    const struct {
        const char* name;
        const char* file;
        const char* driver;
        const char* system;
        std::vector<Layer> layers;
        const char* layer;
        bool joined;
        std::vector<Place> expected;
    } cases[] = {
        {"GPX track of two segments", "track.gpx", "GPX", "EPSG:4326", {{"tracks", wkbMultiLineString, {segments}}},
         "tracks", false, {P1, P2, P3}},
        {"GPX waypoints alone, joined in order", "points.gpx", "GPX", "EPSG:4326",
         {{"waypoints", wkbPoint, {point(P2), point(P1), point(P3)}}}, "waypoints", true, {P2, P1, P3}},
        {"KML placemark of a point before the line", "line.kml", "KML", "EPSG:4326",
         {{"track", wkbUnknown, {point(P2), line({P1, P3})}}}, "track", false, {P1, P3}},
        {"GeoJSON polygon before the line, off the map at its ends and between", "across.geojson", "GeoJSON",
         "EPSG:4326",
         {{"across", wkbUnknown,
           {"POLYGON ((" + coordinates({P1, P2, P3, P1}) + "))", line({EUROPE, P1, WEST, P3, WEST})}}},
         "across", false, {P1, WEST, P3}},
        {"GeoPackage lines after a layer of points", "tracks.gpkg", "GPKG", "EPSG:4326",
         {{"stops", wkbPoint, {point(P3)}}, {"route", wkbMultiLineString, {segments}}}, "route", false, {P1, P2, P3}},
        {"Shapefile in SIRGAS 2000 / UTM 25 S", "sirgas.shp", "ESRI Shapefile", "EPSG:31985",
         {{"sirgas", wkbLineString, {line({P3, P1}, true)}}}, "sirgas", false, {P3, P1}},
        {"Shapefile without a coordinate system, in the map's", "bare.shp", "ESRI Shapefile", nullptr,
         {{"bare", wkbLineString, {line({P1, P2}, true)}}}, "bare", false, {P1, P2}},
    };
    const TempFolder folder;
    const TerrainOnMap terrain = olinda();
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const std::string path = folder / each.file;
        writeVectors(path, each.driver, each.system, each.layers);
        Track track;
        std::string reason;
        ASSERT_TRUE(readTrack(path, terrain, track, reason)) << reason;
        EXPECT_EQ(track.layerName, each.layer);
        EXPECT_EQ(track.joinedPoints, each.joined);
        ASSERT_EQ(track.world.size(), each.expected.size());
        for (size_t k = 0; k < each.expected.size(); ++k) {
            // A thousandth of a sample: 9 cm on the ground.
            EXPECT_NEAR(track.world[k].x, each.expected[k].world.x, 1e-3f) << "point " << k;
            EXPECT_NEAR(track.world[k].z, each.expected[k].world.z, 1e-3f) << "point " << k;
        }
    }
}

// Faults caught: a missing file or a pipe handed to GDAL (a pipe would be waited on for ever),
// polygons taken for a line, a single point flown, and a track off the map flown over nothing.
TEST(Track, RefusesWhatCannotBeFollowedWithItsReason) {
    const TempFolder folder;
    const auto geoJson = [&](const std::string& path, const std::string& wkt) {
        writeVectors(path, "GeoJSON", "EPSG:4326", {{"track", wkbUnknown, {wkt}}});
    };
    const struct {
        const char* name;
        const char* file;
        std::function<void(const std::string& path)> write;
        const char* reason;
    } cases[] = {
        {"no such file", "missing.gpx", [](const std::string&) {}, "no such file"},
        {"a pipe", "pipe.gpx", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
         "not a regular file"},
        {"not a vector file", "notes.gpx", [](const std::string& path) { std::ofstream(path) << "a shopping list\n"; },
         "not a vector file GDAL reads: "},
        {"polygons alone", "area.geojson",
         [&](const std::string& path) { geoJson(path, "POLYGON ((" + coordinates({P1, P2, P3, P1}) + "))"); },
         "no layer of lines or points"},
        {"one waypoint", "one.gpx",
         [](const std::string& path) { writeVectors(path, "GPX", "EPSG:4326", {{"waypoints", wkbPoint, {point(P1)}}}); },
         "fewer than 2 points in layer waypoints"},
        {"wholly off the map", "europe.geojson", [&](const std::string& path) { geoJson(path, line({EUROPE, WEST})); },
         "it lies wholly outside the map"},
        {"one point on the map", "edge.geojson",
         [&](const std::string& path) { geoJson(path, line({WEST, P2, EUROPE})); },
         "only one of its points lies on the map"},
    };
    const TerrainOnMap terrain = olinda();
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const std::string path = folder / each.file;
        each.write(path);
        Track track;
        std::string reason;
        EXPECT_FALSE(readTrack(path, terrain, track, reason));
        EXPECT_EQ(reason.rfind(each.reason, 0), 0u) << reason;
    }
}
