// Tracks read from vector files onto the Olinda map (UTM zone 25 S, 90 m samples): the layer
// chosen in each format, the points reprojected and placed where the terrain lays its samples, and
// the refusals.
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

// Three points of the map, as longitude and latitude on WGS 84 and as UTM 25 S metres (gdaltransform
// -s_srs EPSG:32725 -t_srs EPSG:4326), and where the terrain lays them at one world unit a sample:
// column (easting - 288776.25) / 89.994067 - 0.5 east, row (9120760.75 - northing) / 89.994067 - 0.5
// south of the north-western sample, the northern edge at z = -110.
struct Place {
    double longitude, latitude;
    double easting, northing;
    vec3 world;
};
const Place P1{-34.9054355684023, -8.029074935385, 290000.0, 9112000.0, {13.0981f, 0.0f, -13.1519f}};
const Place P2{-34.8871287323698, -7.99299611098765, 292000.0, 9116000.0, {35.3218f, 0.0f, -57.5993f}};
const Place P3{-34.8416598345942, -7.96607814847688, 297000.0, 9119000.0, {90.881f, 0.0f, -90.9348f}};
// West of the map's western edge.
const Place WEST{-34.9960015677129, -8.00152478684556, 280000.0, 9115000.0, {-98.0203f, 0.0f, -46.4874f}};
const Place EUROPE{10.0, 50.0, 0.0, 0.0, {}};

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

// Degrees to well under a millimetre on the ground: std::to_string's six decimals are 11 cm.
std::string number(double value) {
    std::ostringstream text;
    text << std::setprecision(15) << value;
    return text.str();
}

std::string lonLat(const Place& place, const char* separator) {
    return number(place.longitude) + separator + number(place.latitude);
}

std::string gpxPoint(const char* tag, const Place& place) {
    return std::string("<") + tag + " lat=\"" + number(place.latitude) + "\" lon=\"" + number(place.longitude) +
           "\"/>";
}

std::string gpx(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"kelta tests\" "
           "xmlns=\"http://www.topografix.com/GPX/1/1\">" +
           body + "</gpx>\n";
}

std::string geoJsonLine(const std::vector<Place>& places) {
    std::string coordinates;
    for (const Place& place : places) coordinates += (coordinates.empty() ? "[" : ",[") + lonLat(place, ",") + "]";
    return "{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[" +
           coordinates + "]}}";
}

std::string geoJson(const std::vector<std::string>& features) {
    std::string joined;
    for (const std::string& feature : features) joined += (joined.empty() ? "" : ",") + feature;
    return "{\"type\":\"FeatureCollection\",\"features\":[" + joined + "]}";
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A layer of well-known-text geometries, made through OGR in a format it writes.
struct Layer {
    const char* name;
    OGRwkbGeometryType type;
    std::vector<std::string> geometries;
};

void writeWithOgr(const std::string& path, const char* driverName, const char* coordinateSystem,
                  const std::vector<Layer>& layers) {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    ASSERT_NE(driver, nullptr) << driverName;
    GDALDataset* dataset = driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(dataset, nullptr) << path;
    OGRSpatialReference system;
    if (coordinateSystem) {
        system.SetFromUserInput(coordinateSystem);
        system.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }
    for (const Layer& each : layers) {
        OGRLayer* layer = dataset->CreateLayer(each.name, coordinateSystem ? &system : nullptr, each.type, nullptr);
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

std::string wktLonLat(const Place& place) { return lonLat(place, " "); }
std::string wktUtm(const Place& place) { return number(place.easting) + " " + number(place.northing); }

}  // namespace

// Faults caught: a layer of points taken over the file's lines (GPX lists waypoints first, and all
// five of its layers whatever it holds), a collection's parts or a track's segments lost or
// reordered, longitude and latitude swapped, a projected or missing coordinate system handled as
// geographic, points off the map kept at the ends, and the terrain's row direction or the pixel's
// centre mislaid.
TEST(Track, ReadsTheLineOfEachFormatOntoTheMapsWorld) {
    const TempFolder folder;
    const struct {
        const char* name;
        const char* file;
        std::function<void(const std::string& path)> write;
        const char* layer;
        bool joined;
        std::vector<Place> expected;
    } cases[] = {
        {"GPX track of two segments", "track.gpx",
         [](const std::string& path) {
             writeText(path, gpx("<trk><trkseg>" + gpxPoint("trkpt", P1) + gpxPoint("trkpt", P2) + "</trkseg><trkseg>" +
                                 gpxPoint("trkpt", P3) + "</trkseg></trk>"));
         },
         "tracks", false, {P1, P2, P3}},
        {"GPX route", "route.gpx",
         [](const std::string& path) {
             writeText(path, gpx("<rte>" + gpxPoint("rtept", P3) + gpxPoint("rtept", P2) + "</rte>"));
         },
         "routes", false, {P3, P2}},
        {"GPX waypoints alone, joined in order", "waypoints.gpx",
         [](const std::string& path) {
             writeText(path, gpx(gpxPoint("wpt", P2) + gpxPoint("wpt", P1) + gpxPoint("wpt", P3)));
         },
         "waypoints", true, {P2, P1, P3}},
        {"GPX waypoints before a track", "both.gpx",
         [](const std::string& path) {
             writeText(path, gpx(gpxPoint("wpt", P3) + gpxPoint("wpt", P2) + "<trk><trkseg>" + gpxPoint("trkpt", P1) +
                                 gpxPoint("trkpt", P2) + "</trkseg></trk>"));
         },
         "tracks", false, {P1, P2}},
        {"KML placemark of a point before the line", "line.kml",
         [](const std::string& path) {
             writeText(path, "<?xml version=\"1.0\"?><kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
                             "<Placemark><Point><coordinates>" +
                                 lonLat(P2, ",") +
                                 "</coordinates></Point></Placemark><Placemark><LineString><coordinates>" +
                                 lonLat(P1, ",") + " " + lonLat(P3, ",") +
                                 "</coordinates></LineString></Placemark></Document></kml>");
         },
         nullptr, false, {P1, P3}},
        {"GeoJSON polygon before the line", "line.geojson",
         [](const std::string& path) {
             const std::string polygon = "{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"Polygon\","
                                         "\"coordinates\":[[[" +
                                         lonLat(P1, ",") + "],[" + lonLat(P2, ",") + "],[" + lonLat(P3, ",") + "],[" +
                                         lonLat(P1, ",") + "]]]}}";
             writeText(path, geoJson({polygon, geoJsonLine({P2, P3})}));
         },
         nullptr, false, {P2, P3}},
        {"GeoJSON off the map at both ends and between", "across.geojson",
         [](const std::string& path) { writeText(path, geoJson({geoJsonLine({EUROPE, P1, WEST, P3, WEST})})); },
         nullptr, false, {P1, WEST, P3}},
        {"GeoPackage multiline after a layer of points", "tracks.gpkg",
         [](const std::string& path) {
             writeWithOgr(path, "GPKG", "EPSG:4326",
                          {{"stops", wkbPoint, {"POINT (" + wktLonLat(P3) + ")"}},
                           {"route", wkbMultiLineString,
                            {"MULTILINESTRING ((" + wktLonLat(P1) + "," + wktLonLat(P2) + "),(" + wktLonLat(P3) + "," +
                             wktLonLat(P1) + "))"}}});
         },
         "route", false, {P1, P2, P3, P1}},
        {"Shapefile in SIRGAS 2000 / UTM 25 S", "sirgas.shp",
         [](const std::string& path) {
             writeWithOgr(path, "ESRI Shapefile", "EPSG:31985",
                          {{"sirgas", wkbLineString, {"LINESTRING (" + wktUtm(P3) + "," + wktUtm(P1) + ")"}}});
         },
         "sirgas", false, {P3, P1}},
        {"Shapefile without a coordinate system, in the map's", "bare.shp",
         [](const std::string& path) {
             writeWithOgr(path, "ESRI Shapefile", nullptr,
                          {{"bare", wkbLineString, {"LINESTRING (" + wktUtm(P1) + "," + wktUtm(P2) + ")"}}});
         },
         "bare", false, {P1, P2}},
    };
    const TerrainOnMap terrain = olinda();
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const std::string path = folder / each.file;
        each.write(path);
        Track track;
        std::string reason;
        ASSERT_TRUE(readTrack(path, terrain, track, reason)) << reason;
        if (each.layer) {
            EXPECT_EQ(track.layerName, each.layer);
        }
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
    const struct {
        const char* name;
        const char* file;
        std::function<void(const std::string& path)> write;
        const char* reason;
    } cases[] = {
        {"no such file", "missing.gpx", [](const std::string&) {}, "no such file"},
        {"a pipe", "pipe.gpx", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
         "not a regular file"},
        {"not a vector file", "notes.gpx", [](const std::string& path) { writeText(path, "a shopping list\n"); },
         "not a vector file GDAL reads: "},
        {"polygons alone", "area.geojson",
         [](const std::string& path) {
             writeText(path, geoJson({"{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"Polygon\","
                                      "\"coordinates\":[[[0,0],[1,0],[1,1],[0,0]]]}}"}));
         },
         "no layer of lines or points"},
        {"one waypoint", "one.gpx", [](const std::string& path) { writeText(path, gpx(gpxPoint("wpt", P1))); },
         "fewer than 2 points in layer waypoints"},
        {"wholly off the map", "europe.geojson",
         [](const std::string& path) { writeText(path, geoJson({geoJsonLine({EUROPE, WEST})})); },
         "it lies wholly outside the map"},
        {"one point on the map", "edge.geojson",
         [](const std::string& path) { writeText(path, geoJson({geoJsonLine({WEST, P2, EUROPE})})); },
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
