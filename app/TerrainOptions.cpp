// The terrain options' one reader: their names, the values each takes and its --help lines, so
// that kelta, kelta-shot and kelta-bench accept and refuse exactly the same.
#include "app/TerrainOptions.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "io/WholeNumber.h"

const char* const TERRAIN_OPTIONS_HELP =
    "Terrain options (the same in kelta, kelta-shot and kelta-bench):\n"
    "  --lod                    draw the terrain with level of detail, for large height maps\n"
    "  --lod-error PIXELS       largest projected geometric error with level of detail, above 0\n"
    "                           and at most 1000 (default: 1); implies --lod\n"
    "  --exaggeration X         elevation maps: heights times X, above 0 and at most 1000\n"
    "                           (default: 1)\n"
    "  --fill-voids             elevation maps: fill the samples without data from their\n"
    "                           surroundings instead of drawing them as holes\n"
    "  --sea-level METRES|none  elevation maps: the sea's level, within +-12000 (default: 0);\n"
    "                           ground below it lies under water; none: no sea, all is land\n"
    "  --snow-line METRES       elevation maps: where snow begins, above 0 and at most 10000\n"
    "                           (default: 2500); the other materials move with it in proportion\n"
    "  --drape IMAGE            a picture to colour the ground with, in any format GDAL reads:\n"
    "                           laid by its coordinates, or else stretched over the whole map\n"
    "  --drape-bands R,G,B      the picture's bands shown as red, green and blue, from 1\n"
    "                           (default: the colours it declares)\n"
    "  --view-distance UNITS    distance of the far plane, 1 to 10000000 (default: 600); the fog\n"
    "                           and the sky move with it\n"
    "  --stream                 stream the map from its pyramid of tiles, whatever its size (maps\n"
    "                           larger than one texture of the GPU always stream)\n"
    "  --tile-cache MB          megabytes of tiles a streamed map keeps, 16 to 65536 (default: 64)\n"
    "  --sun-time TIME          light the land as the sun stands at TIME, in ISO 8601 with a zone\n"
    "                           (2026-06-21T18:30+02:00 or ...Z), at the map's centre; with a\n"
    "                           physical sky, shadows and sky light\n"
    "  --sun AZIMUTH,ALTITUDE   place the sun directly, in degrees (azimuth from north)\n"
    "  --location LAT,LON       where --sun-time is taken, in degrees; needed for image maps\n"
    "  --shadows on|off         whether the terrain casts shadows (default: on with a sun)\n";

bool parseDecimal(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool parseDecimalWithin(const std::string& text, double above, bool aboveIncluded, double highest, double& value) {
    double parsed = 0;
    if (!parseDecimal(text, parsed) || parsed > highest || parsed < above || (!aboveIncluded && parsed == above)) {
        return false;
    }
    value = parsed;
    return true;
}

namespace {

bool parseBands(const std::string& text, std::array<int, 3>& bands) {
    std::array<int, 3> parsed{};
    size_t start = 0;
    for (size_t i = 0; i < parsed.size(); ++i) {
        const size_t comma = text.find(',', start);
        if ((i + 1 < parsed.size()) != (comma != std::string::npos)) return false;
        const size_t length = comma == std::string::npos ? std::string::npos : comma - start;
        if (!parseWholeNumber(text.substr(start, length), 1, std::numeric_limits<int>::max(), parsed[i])) {
            return false;
        }
        start = comma + 1;
    }
    bands = parsed;
    return true;
}

// Two decimals "A,B", A within [lowA, highA] and B within [lowB, highB].
bool parsePair(const std::string& text, double lowA, double highA, double lowB, double highB,
               std::array<double, 2>& pair) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    std::array<double, 2> parsed{};
    if (!parseDecimalWithin(text.substr(0, comma), lowA, true, highA, parsed[0]) ||
        !parseDecimalWithin(text.substr(comma + 1), lowB, true, highB, parsed[1])) {
        return false;
    }
    pair = parsed;
    return true;
}

struct TerrainOption {
    const char* name;
    // What the value must be, as a refusal says it; null for a flag.
    const char* expected;
    // False for a bad value, leaving the options alone; a flag's is always true.
    bool (*read)(const std::string& value, TerrainOptions& options);
};

const TerrainOption TERRAIN_OPTIONS[] = {
    {"--lod", nullptr,
     [](const std::string&, TerrainOptions& options) {
         options.levelOfDetail = true;
         return true;
     }},
    {"--lod-error", "a number of pixels above 0 and at most 1000",
     [](const std::string& value, TerrainOptions& options) {
         double pixels = 0;
         // A budget too small for a float would round to 0.
         if (!parseDecimalWithin(value, 0.0, false, 1000.0, pixels) || static_cast<float>(pixels) <= 0.0f) {
             return false;
         }
         options.lodErrorPixels = static_cast<float>(pixels);
         options.levelOfDetail = true;
         return true;
     }},
    {"--exaggeration", "a number above 0 and at most 1000",
     [](const std::string& value, TerrainOptions& options) {
         return parseDecimalWithin(value, 0.0, false, 1000.0, options.exaggeration);
     }},
    {"--fill-voids", nullptr,
     [](const std::string&, TerrainOptions& options) {
         options.fillVoids = true;
         return true;
     }},
    {"--sea-level", "a height in metres within +-12000, or none",
     [](const std::string& value, TerrainOptions& options) {
         if (value == "none") {
             options.hasSea = false;
             return true;
         }
         if (!parseDecimalWithin(value, -12000.0, true, 12000.0, options.seaLevelMetres)) return false;
         options.hasSea = true;
         return true;
     }},
    {"--snow-line", "a height in metres above 0 and at most 10000",
     [](const std::string& value, TerrainOptions& options) {
         return parseDecimalWithin(value, 0.0, false, 10000.0, options.snowLineMetres);
     }},
    {"--drape", "a file name",
     [](const std::string& value, TerrainOptions& options) {
         if (value.empty()) return false;
         options.drapePath = value;
         return true;
     }},
    {"--drape-bands", "three band numbers R,G,B, each 1 or more",
     [](const std::string& value, TerrainOptions& options) { return parseBands(value, options.drapeBands); }},
    {"--view-distance", "a distance from 1 to 10000000",
     [](const std::string& value, TerrainOptions& options) {
         double distance = 0;
         if (!parseDecimalWithin(value, 1.0, true, 1.0e7, distance)) return false;
         options.viewDistance = static_cast<float>(distance);
         return true;
     }},
    {"--stream", nullptr,
     [](const std::string&, TerrainOptions& options) {
         options.stream = true;
         return true;
     }},
    {"--tile-cache", "a whole number of megabytes from 16 to 65536",
     [](const std::string& value, TerrainOptions& options) {
         return parseWholeNumber(value, 16, 65536, options.tileCacheMegabytes);
     }},
    {"--sun-time", "a time in ISO 8601 with a zone, such as 2026-06-21T18:30+02:00",
     [](const std::string& value, TerrainOptions& options) {
         const std::optional<ZonedTime> time = parseZonedTime(value);
         if (!time) return false;
         options.sunTime = time;
         return true;
     }},
    {"--sun", "an azimuth from 0 to 360 and an altitude from -90 to 90 degrees, AZIMUTH,ALTITUDE",
     [](const std::string& value, TerrainOptions& options) {
         std::array<double, 2> angles{};
         if (!parsePair(value, 0.0, 360.0, -90.0, 90.0, angles)) return false;
         options.sunPlacement = SunPosition{angles[0], angles[1]};
         return true;
     }},
    {"--location", "a latitude from -90 to 90 and a longitude from -180 to 180 degrees, LAT,LON",
     [](const std::string& value, TerrainOptions& options) {
         std::array<double, 2> place{};
         if (!parsePair(value, -90.0, 90.0, -180.0, 180.0, place)) return false;
         options.location = place;
         return true;
     }},
    {"--shadows", "on or off",
     [](const std::string& value, TerrainOptions& options) {
         if (value != "on" && value != "off") return false;
         options.shadows = value == "on";
         return true;
     }},
};

std::vector<const char*> namesOf(bool takingValues) {
    std::vector<const char*> names;
    for (const TerrainOption& option : TERRAIN_OPTIONS) {
        if ((option.expected != nullptr) == takingValues) names.push_back(option.name);
    }
    return names;
}

}  // namespace

ElevationOptions elevationOptionsOf(const TerrainOptions& options) {
    ElevationOptions read;
    read.fillVoids = options.fillVoids;
    read.hasSea = options.hasSea;
    read.seaLevelMetres = options.seaLevelMetres;
    return read;
}

const std::vector<const char*>& terrainValueOptions() {
    static const std::vector<const char*> names = namesOf(true);
    return names;
}

const std::vector<const char*>& terrainFlags() {
    static const std::vector<const char*> names = namesOf(false);
    return names;
}

bool readTerrainOption(const std::string& name, const std::string& value, TerrainOptions& options,
                       std::string& expected) {
    for (const TerrainOption& option : TERRAIN_OPTIONS) {
        if (name != option.name) continue;
        if (option.read(value, options)) return true;
        expected = option.expected;
        return false;
    }
    expected = "no such option";
    return false;
}
