// The GDAL-free parts of describing a raster: units of height by name and the geotransform check.
#include "io/RasterSource.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace {

const double FOOT_METRES = 0.3048;
const double US_SURVEY_FOOT_METRES = 1200.0 / 3937.0;

// The names GDAL's drivers and common files give units of height, lower case.
const std::pair<const char*, double> HEIGHT_UNITS[] = {
    {"m", 1.0},
    {"metre", 1.0},
    {"metres", 1.0},
    {"meter", 1.0},
    {"meters", 1.0},
    {"km", 1000.0},
    {"kilometre", 1000.0},
    {"kilometer", 1000.0},
    {"dm", 0.1},
    {"cm", 0.01},
    {"centimetre", 0.01},
    {"centimeter", 0.01},
    {"mm", 0.001},
    {"millimetre", 0.001},
    {"millimeter", 0.001},
    {"ft", FOOT_METRES},
    {"foot", FOOT_METRES},
    {"feet", FOOT_METRES},
    {"international foot", FOOT_METRES},
    {"us survey foot", US_SURVEY_FOOT_METRES},
    {"us survey feet", US_SURVEY_FOOT_METRES},
    {"us-ft", US_SURVEY_FOOT_METRES},
    {"ftus", US_SURVEY_FOOT_METRES},
    {"foot_us", US_SURVEY_FOOT_METRES},
};

}  // namespace

double metresPerHeightUnit(const std::string& name) {
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [unit, metres] : HEIGHT_UNITS) {
        if (key == unit) return metres;
    }
    return 0.0;
}

Mirroring mirroringOf(const std::array<double, 6>& t) {
    if (t[2] != 0.0 || t[4] != 0.0) return Mirroring();
    return Mirroring{t[1] < 0.0, t[5] > 0.0};
}

bool isInvertible(const std::array<double, 6>& t) {
    const bool finite = std::all_of(t.begin(), t.end(), [](double value) { return std::isfinite(value); });
    const double area = t[1] * t[5] - t[2] * t[4];
    // GDAL's own test (GDALInvGeoTransform): an area tiny beside the pixel's sides is no area.
    const double side = std::max(std::max(std::abs(t[1]), std::abs(t[2])), std::max(std::abs(t[4]), std::abs(t[5])));
    return finite && std::isfinite(area) && std::abs(area) > 1e-10 * side * side;
}
