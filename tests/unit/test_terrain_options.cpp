// The terrain options' one reader, which kelta, kelta-shot and kelta-bench share: what each
// option accepts, and the refusal that names what it takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/TerrainOptions.h"
#include "show/FollowOptions.h"

namespace {

TerrainOptions read(const std::vector<std::pair<const char*, const char*>>& options) {
    TerrainOptions terrain;
    for (const auto& [name, value] : options) {
        std::string expected;
        EXPECT_TRUE(readTerrainOption(name, value, terrain, expected)) << name << " " << value << ": " << expected;
    }
    return terrain;
}

}  // namespace

TEST(TerrainOptions, ReadEveryOptionAtItsBounds) {
    const TerrainOptions lowest = read({{"--lod-error", "0.001"}, {"--exaggeration", "1e-3"}, {"--fill-voids", ""},
                                        {"--sea-level", "-12000"}, {"--snow-line", "0.5"}, {"--drape", "a b.tif"},
                                        {"--drape-bands", "3,2,1"}, {"--view-distance", "1"},
                                        {"--tile-cache", "16"}, {"--stream", ""}, {"--sun", "0,-90"},
                                        {"--location", "-90,-180"}, {"--shadows", "off"}});
    EXPECT_TRUE(lowest.levelOfDetail) << "--lod-error implies --lod";
    EXPECT_FLOAT_EQ(lowest.lodErrorPixels, 0.001f);
    EXPECT_EQ(lowest.exaggeration, 0.001);
    EXPECT_TRUE(lowest.fillVoids);
    EXPECT_TRUE(lowest.hasSea);
    EXPECT_EQ(lowest.seaLevelMetres, -12000.0);
    EXPECT_EQ(lowest.snowLineMetres, 0.5);
    EXPECT_EQ(lowest.drapePath, "a b.tif");
    EXPECT_EQ(lowest.drapeBands, (std::array<int, 3>{3, 2, 1}));
    EXPECT_EQ(lowest.viewDistance, 1.0f);
    EXPECT_EQ(lowest.tileCacheMegabytes, 16);
    EXPECT_TRUE(lowest.stream);
    ASSERT_TRUE(lowest.sunPlacement);
    EXPECT_EQ(lowest.sunPlacement->azimuthDegrees, 0.0);
    EXPECT_EQ(lowest.sunPlacement->altitudeDegrees, -90.0);
    EXPECT_EQ(lowest.location, (std::array<double, 2>{-90.0, -180.0}));
    EXPECT_FALSE(lowest.areShadowsWanted()) << "--shadows off overrides a placed sun";

    const TerrainOptions highest = read({{"--lod", ""}, {"--lod-error", "1000"}, {"--exaggeration", "1000"},
                                         {"--sea-level", "12000"}, {"--snow-line", "10000"},
                                         {"--view-distance", "1e7"}, {"--sea-level", "none"},
                                         {"--tile-cache", "65536"}, {"--sun-time", "2026-06-21T18:30+02:00"},
                                         {"--location", "90,180"}});
    EXPECT_EQ(highest.lodErrorPixels, 1000.0f);
    EXPECT_EQ(highest.exaggeration, 1000.0);
    EXPECT_FALSE(highest.hasSea) << "the last --sea-level counts";
    EXPECT_EQ(highest.snowLineMetres, 10000.0);
    EXPECT_EQ(highest.viewDistance, 1.0e7f);
    EXPECT_EQ(highest.tileCacheMegabytes, 65536);
    EXPECT_FALSE(highest.stream);
    EXPECT_TRUE(highest.sunTime && highest.isSunPlaced());
    EXPECT_TRUE(highest.areShadowsWanted()) << "a placed sun casts shadows unless told not to";
    EXPECT_EQ(highest.location, (std::array<double, 2>{90.0, 180.0}));
    EXPECT_FALSE(read({{"--shadows", "on"}}).isSunPlaced());
    EXPECT_FALSE(read({{"--lod", ""}}).fillVoids);
}

TEST(TerrainOptions, BadValuesAreRefusedWithWhatTheOptionTakes) {
    const struct {
        const char* name;
        std::vector<const char*> values;
        const char* expected;
    } cases[] = {
        {"--lod-error", {"0", "-1", "1000.5", "1e-50", "nan", "abc", ""}, "a number of pixels above 0 and at most 1000"},
        {"--exaggeration", {"0", "-2", "1001", "inf", " 2", "2 ", "2x", "0x"}, "a number above 0 and at most 1000"},
        {"--sea-level", {"12000.1", "-12001", "None", "", "1e400"}, "a height in metres within +-12000, or none"},
        {"--snow-line", {"0", "-5", "10000.01", "none"}, "a height in metres above 0 and at most 10000"},
        {"--drape", {""}, "a file name"},
        {"--drape-bands", {"3,2", "3,2,1,4", "0,1,2", "1,,2", "a,b,c", "1, 2,3", "-1,2,3", "1.5,2,3", ""},
         "three band numbers R,G,B, each 1 or more"},
        {"--view-distance", {"0.99", "0", "1e7.5", "10000001", "-600"}, "a distance from 1 to 10000000"},
        {"--tile-cache", {"15", "65537", "1.5", "", " 64", "64MB"}, "a whole number of megabytes from 16 to 65536"},
        {"--sun", {"360.5,10", "10,91", "-1,10", "10", "10,", ",10", "10;20", "a,b", "10,20,30"},
         "an azimuth from 0 to 360 and an altitude from -90 to 90 degrees, AZIMUTH,ALTITUDE"},
        {"--location", {"91,0", "0,180.1", "48.1", "48.1,11.6,0", "48.1 11.6", ""},
         "a latitude from -90 to 90 and a longitude from -180 to 180 degrees, LAT,LON"},
        {"--sun-time", {"2026-06-21T18:30", "2026-13-01T00:00Z", "yesterday", ""},
         "a time in ISO 8601 with a zone, such as 2026-06-21T18:30+02:00"},
        {"--shadows", {"yes", "ON", "1", ""}, "on or off"},
    };
    for (const auto& option : cases) {
        for (const char* value : option.values) {
            TerrainOptions terrain;
            std::string expected;
            EXPECT_FALSE(readTerrainOption(option.name, value, terrain, expected)) << option.name << " " << value;
            EXPECT_EQ(expected, option.expected) << option.name << " " << value;
            EXPECT_EQ(terrain.exaggeration, 1.0) << "a refused value changes nothing";
            EXPECT_EQ(terrain.viewDistance, 600.0f);
            EXPECT_EQ(terrain.drapeBands, (std::array<int, 3>{0, 0, 0}));
            EXPECT_TRUE(terrain.hasSea);
            EXPECT_FALSE(terrain.levelOfDetail);
            EXPECT_EQ(terrain.tileCacheMegabytes, 64);
            EXPECT_FALSE(terrain.isSunPlaced() || terrain.location || terrain.shadows);
        }
    }
}

// Faults caught: a bound let through or refused (a flight at 0 m would fly through the ground), the
// options crossed, and a refusal that does not say what the option takes.
TEST(FollowOptions, ReadTheirBoundsAndRefuseTheRestWithWhatTheyTake) {
    FollowOptions options;
    std::string expected;
    for (const auto& [name, value] : {std::pair{"--follow", "a walk.gpx"}, {"--follow-height", "1e-3"},
                                      {"--follow-speed", "100000"}}) {
        ASSERT_TRUE(readFollowOption(name, value, options, expected)) << name;
    }
    EXPECT_EQ(options.trackPath, "a walk.gpx");
    EXPECT_EQ(options.heightMetres, 0.001);
    EXPECT_EQ(options.speedKmh, 100000.0);
    const struct {
        const char* name;
        std::vector<const char*> values;
        const char* expected;
    } cases[] = {
        {"--follow", {""}, "a file name"},
        {"--follow-height", {"0", "-100", "100000.5", "nan", "100 m"}, "a height in metres above 0 and at most 100000"},
        {"--follow-speed", {"0", "1e6", "inf", "fast"}, "a speed in km/h above 0 and at most 100000"},
    };
    for (const auto& each : cases) {
        for (const char* value : each.values) {
            FollowOptions unchanged;
            EXPECT_FALSE(readFollowOption(each.name, value, unchanged, expected)) << each.name << " '" << value << "'";
            EXPECT_EQ(expected, each.expected) << each.name << " '" << value << "'";
            EXPECT_EQ(unchanged.heightMetres, 100.0);
        }
    }
}
