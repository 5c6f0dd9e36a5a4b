// Where a point of a map lies on the Earth, and the line that says it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "io/HeightMap.h"
#include "io/MapCoordinates.h"

namespace {

RasterGrid olindaGrid() {
    HeightSamples map;
    std::string message;
    EXPECT_TRUE(loadHeightMap(std::string(KELTA_TEST_DATA_DIR) + "/elevation/olinda_dem_utm25s.tif", ElevationOptions{},
                              map, message))
        << message;
    return map.elevation ? map.elevation->grid : RasterGrid{};
}

}  // namespace

TEST(MapCoordinates, GivesTheLatitudeAndLongitudeOfAUtmPoint) {
    const MapCoordinates coordinates(olindaGrid());
    ASSERT_TRUE(coordinates.isGeoreferenced());
    EXPECT_FALSE(coordinates.isGeographic());
    // gdaltransform -s_srs EPSG:32725 -t_srs EPSG:4326 -output_xy (WGS 84's UTM zone 25 south; the
    // map's GRS 80 differs by far less than a millimetre) of 292000 9116000 gives -34.8871287323698
    // -7.99299611098765, longitude first: latitude comes first here.
    const std::optional<std::array<double, 2>> published = coordinates.latitudeLongitude({292000.0, 9116000.0});
    ASSERT_TRUE(published);
    EXPECT_NEAR((*published)[0], -7.99299611098765, 1e-7);
    EXPECT_NEAR((*published)[1], -34.8871287323698, 1e-7);
}

TEST(GroundPointText, SaysEachKindOfPointInOneLine) {
    GroundPoint utm;
    utm.onMap = true;
    utm.georeferenced = true;
    utm.mapPoint = {500123.44, 9114456.25};
    utm.latitudeLongitude = std::array<double, 2>{-7.981234, -34.845601};
    utm.elevation = 12.34;
    utm.elevationInMetres = true;
    GroundPoint hole = utm;
    hole.elevation.reset();
    GroundPoint geographic = utm;
    geographic.geographic = true;
    geographic.mapPoint = {-34.845601, -7.981234};
    GroundPoint image;
    image.onMap = true;
    image.mapPoint = {120.5, 33.25};
    image.elevation = 4.56;
    struct Case {
        const char* name;
        GroundPoint point;
        const char* text;
    };
    const Case cases[] = {
        {"projected", utm, "500123.4, 9114456.2 (-7.98123, -34.84560), 12.3 m"},
        {"no data", hole, "500123.4, 9114456.2 (-7.98123, -34.84560), no data"},
        {"in degrees", geographic, "-34.84560, -7.98123 (-7.98123, -34.84560), 12.3 m"},
        {"image map", image, "120.5, 33.2, 4.6"},
        {"off the map", GroundPoint{}, "off the map"},
    };
    for (const Case& c : cases) EXPECT_EQ(groundPointText(c.point), c.text) << c.name;
}
