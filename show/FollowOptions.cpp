// The track options' one reader, as app/TerrainOptions.cpp is the terrain options'.
#include "show/FollowOptions.h"

#include "app/TerrainOptions.h"

const char* const FOLLOW_OPTIONS_HELP =
    "Following a track (elevation maps with a coordinate system):\n"
    "  --follow TRACK           fly along the first line of a vector file GDAL reads (GPX, KML,\n"
    "                           GeoJSON, Shapefile, GeoPackage, ...), or along its points joined\n"
    "                           in order, drawn on the ground\n"
    "  --follow-height METRES   height above the ground, above 0 and at most 100000 (default: 100)\n"
    "  --follow-speed KMH       speed along the track in km/h, above 0 and at most 100000\n"
    "                           (default: 300)\n";

namespace {

// Above 0 and at most 100000: a flight from a walk's pace to a rocket's, never through the ground.
constexpr double LARGEST_FOLLOW_VALUE = 100000.0;

struct FollowOption {
    const char* name;
    // What the value must be, as a refusal says it.
    const char* expected;
    // False for a bad value, leaving the options alone.
    bool (*read)(const std::string& value, FollowOptions& options);
};

const FollowOption FOLLOW_OPTIONS[] = {
    {"--follow", "a file name",
     [](const std::string& value, FollowOptions& options) {
         if (value.empty()) return false;
         options.trackPath = value;
         return true;
     }},
    {"--follow-height", "a height in metres above 0 and at most 100000",
     [](const std::string& value, FollowOptions& options) {
         return parseDecimalWithin(value, 0.0, false, LARGEST_FOLLOW_VALUE, options.heightMetres);
     }},
    {"--follow-speed", "a speed in km/h above 0 and at most 100000",
     [](const std::string& value, FollowOptions& options) {
         return parseDecimalWithin(value, 0.0, false, LARGEST_FOLLOW_VALUE, options.speedKmh);
     }},
};

}  // namespace

const std::vector<const char*>& followValueOptions() {
    static const std::vector<const char*> names = [] {
        std::vector<const char*> all;
        for (const FollowOption& option : FOLLOW_OPTIONS) all.push_back(option.name);
        return all;
    }();
    return names;
}

bool readFollowOption(const std::string& name, const std::string& value, FollowOptions& options,
                      std::string& expected) {
    for (const FollowOption& option : FOLLOW_OPTIONS) {
        if (name != option.name) continue;
        if (option.read(value, options)) return true;
        expected = option.expected;
        return false;
    }
    expected = "no such option";
    return false;
}
