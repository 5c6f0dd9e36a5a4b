// The Solar Position Algorithm as published by Reda and Andreas, "Solar Position Algorithm for Solar
// Radiation Applications" (NREL/TP-560-34302, revised 2008), step by step as the report takes them.
// Earth's heliocentric position comes from the report's truncation of the VSOP87 series, the
// nutation from its 63-term table.
#include "light/SolarPosition.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <vector>

#include "io/WholeNumber.h"

namespace {

const std::int64_t SECONDS_PER_DAY = 86400;
const int MAX_OFFSET_MINUTES = 18 * 60;
// 1970-01-01T00:00Z, the origin of utcSeconds.
const double UNIX_EPOCH_JULIAN_DAY = 2440587.5;
// 2000-01-01T12:00 TT, the origin of the series.
const double J2000_JULIAN_DAY = 2451545.0;
const double PI = 3.14159265358979323846;

double radians(double degrees) { return degrees * (PI / 180.0); }
double degrees(double radians) { return radians * (180.0 / PI); }
// Into [0, 360).
double normalizedDegrees(double degrees) {
    const double reduced = std::fmod(degrees, 360.0);
    return reduced < 0 ? reduced + 360.0 : reduced;
}

// Rounds towards negative infinity, so that instants before 1970 fall on the day they lie in.
std::int64_t floorDivide(std::int64_t numerator, std::int64_t denominator) {
    const std::int64_t quotient = numerator / denominator;
    return (numerator % denominator != 0 && (numerator < 0) != (denominator < 0)) ? quotient - 1 : quotient;
}

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(std::int64_t year, int month) {
    static const int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : DAYS[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date. Counting years from 1 March puts the leap day
// last, so that the days before a month follow one formula, and the 400-year cycle (146097 days)
// reduces any year to one of a single cycle.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    const std::int64_t marchYear = month <= 2 ? year - 1 : year;
    const std::int64_t cycle = floorDivide(marchYear, 400);
    const std::int64_t yearOfCycle = marchYear - cycle * 400;
    const std::int64_t monthFromMarch = month > 2 ? month - 3 : month + 9;
    const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const std::int64_t dayOfCycle = yearOfCycle * 365 + yearOfCycle / 4 - yearOfCycle / 100 + dayOfYear;
    // 719468 days lie from 0000-03-01 to 1970-01-01.
    return cycle * 146097 + dayOfCycle - 719468;
}

// The inverse of daysFromCivil.
void civilFromDays(std::int64_t days, CivilTime& civil) {
    const std::int64_t fromMarchZero = days + 719468;
    const std::int64_t cycle = floorDivide(fromMarchZero, 146097);
    const std::int64_t dayOfCycle = fromMarchZero - cycle * 146097;
    // Leaves out the one extra day of each 4-, 100- and 400-year span to count whole years of 365.
    const std::int64_t yearOfCycle =
        (dayOfCycle - dayOfCycle / 1460 + dayOfCycle / 36524 - dayOfCycle / 146096) / 365;
    const std::int64_t dayOfYear = dayOfCycle - (365 * yearOfCycle + yearOfCycle / 4 - yearOfCycle / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    civil.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    civil.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    civil.year = static_cast<int>(yearOfCycle + cycle * 400 + (civil.month <= 2 ? 1 : 0));
}

// A field of exactly the given number of decimal digits at the given place.
std::optional<int> digitsAt(std::string_view text, size_t position, size_t count) {
    int value = 0;
    if (position + count > text.size() || !parseWholeNumber(text.substr(position, count), 0, 9999, value)) {
        return std::nullopt;
    }
    return value;
}

// Z, or a sign and hours with optional minutes, with or without a colon between them.
std::optional<int> offsetMinutesOf(std::string_view zone) {
    if (zone == "Z") return 0;
    if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
    const int sign = zone[0] == '-' ? -1 : 1;
    zone.remove_prefix(1);
    std::optional<int> hours = digitsAt(zone, 0, 2), minutes = 0;
    if (zone.size() == 4) {
        minutes = digitsAt(zone, 2, 2);
    } else if (zone.size() == 5 && zone[2] == ':') {
        minutes = digitsAt(zone, 3, 2);
    } else if (zone.size() != 2) {
        return std::nullopt;
    }
    if (!hours || !minutes || *minutes > 59) return std::nullopt;
    return sign * (*hours * 60 + *minutes);
}

// One term A cos(B + C tau) of a series in Julian millennia tau, in units of 1e-8 radians or AU.
struct PeriodicTerm {
    double amplitude, phase, frequency;
};
// The series multiplying tau^0, tau^1, ...
using PowerSeries = std::vector<std::vector<PeriodicTerm>>;

// The report's periodic terms of Earth's heliocentric longitude, L0 to L5.
const PowerSeries EARTH_LONGITUDE = {
    {{175347046, 0, 0}, {3341656, 4.6692568, 6283.07585}, {34894, 4.6261, 12566.1517},
     {3497, 2.7441, 5753.3849}, {3418, 2.8289, 3.5231}, {3136, 3.6277, 77713.7715},
     {2676, 4.4181, 7860.4194}, {2343, 6.1352, 3930.2097}, {1324, 0.7425, 11506.7698},
     {1273, 2.0371, 529.691}, {1199, 1.1096, 1577.3435}, {990, 5.233, 5884.927},
     {902, 2.045, 26.298}, {857, 3.508, 398.149}, {780, 1.179, 5223.694},
     {753, 2.533, 5507.553}, {505, 4.583, 18849.228}, {492, 4.205, 775.523},
     {357, 2.92, 0.067}, {317, 5.849, 11790.629}, {284, 1.899, 796.298},
     {271, 0.315, 10977.079}, {243, 0.345, 5486.778}, {206, 4.806, 2544.314},
     {205, 1.869, 5573.143}, {202, 2.458, 6069.777}, {156, 0.833, 213.299},
     {132, 3.411, 2942.463}, {126, 1.083, 20.775}, {115, 0.645, 0.98},
     {103, 0.636, 4694.003}, {102, 0.976, 15720.839}, {102, 4.267, 7.114},
     {99, 6.21, 2146.17}, {98, 0.68, 155.42}, {86, 5.98, 161000.69},
     {85, 1.3, 6275.96}, {85, 3.67, 71430.7}, {80, 1.81, 17260.15},
     {79, 3.04, 12036.46}, {75, 1.76, 5088.63}, {74, 3.5, 3154.69},
     {74, 4.68, 801.82}, {70, 0.83, 9437.76}, {62, 3.98, 8827.39},
     {61, 1.82, 7084.9}, {57, 2.78, 6286.6}, {56, 4.39, 14143.5},
     {56, 3.47, 6279.55}, {52, 0.19, 12139.55}, {52, 1.33, 1748.02},
     {51, 0.28, 5856.48}, {49, 0.49, 1194.45}, {41, 5.37, 8429.24},
     {41, 2.4, 19651.05}, {39, 6.17, 10447.39}, {37, 6.04, 10213.29},
     {37, 2.57, 1059.38}, {36, 1.71, 2352.87}, {36, 1.78, 6812.77},
     {33, 0.59, 17789.85}, {30, 0.44, 83996.85}, {30, 2.74, 1349.87},
     {25, 3.16, 4690.48}},
    {{628331966747, 0, 0}, {206059, 2.678235, 6283.07585}, {4303, 2.6351, 12566.1517},
     {425, 1.59, 3.523}, {119, 5.796, 26.298}, {109, 2.966, 1577.344},
     {93, 2.59, 18849.23}, {72, 1.14, 529.69}, {68, 1.87, 398.15},
     {67, 4.41, 5507.55}, {59, 2.89, 5223.69}, {56, 2.17, 155.42},
     {45, 0.4, 796.3}, {36, 0.47, 775.52}, {29, 2.65, 7.11},
     {21, 5.34, 0.98}, {19, 1.85, 5486.78}, {19, 4.97, 213.3},
     {17, 2.99, 6275.96}, {16, 0.03, 2544.31}, {16, 1.43, 2146.17},
     {15, 1.21, 10977.08}, {12, 2.83, 1748.02}, {12, 3.26, 5088.63},
     {12, 5.27, 1194.45}, {12, 2.08, 4694}, {11, 0.77, 553.57},
     {10, 1.3, 6286.6}, {10, 4.24, 1349.87}, {9, 2.7, 242.73},
     {9, 5.64, 951.72}, {8, 5.3, 2352.87}, {6, 2.65, 9437.76},
     {6, 4.67, 4690.48}},
    {{52919, 0, 0}, {8720, 1.0721, 6283.0758}, {309, 0.867, 12566.152},
     {27, 0.05, 3.52}, {16, 5.19, 26.3}, {16, 3.68, 155.42},
     {10, 0.76, 18849.23}, {9, 2.06, 77713.77}, {7, 0.83, 775.52},
     {5, 4.66, 1577.34}, {4, 1.03, 7.11}, {4, 3.44, 5573.14},
     {3, 5.14, 796.3}, {3, 6.05, 5507.55}, {3, 1.19, 242.73},
     {3, 6.12, 529.69}, {3, 0.31, 398.15}, {3, 2.28, 553.57},
     {2, 4.38, 5223.69}, {2, 3.75, 0.98}},
    {{289, 5.844, 6283.076}, {35, 0, 0}, {17, 5.49, 12566.15},
     {3, 5.2, 155.42}, {1, 4.72, 3.52}, {1, 5.3, 18849.23},
     {1, 5.97, 242.73}},
    {{114, 3.142, 0}, {8, 4.13, 6283.08}, {1, 3.84, 12566.15}},
    {{1, 3.14, 0}},
};

// Of its latitude, B0 and B1.
const PowerSeries EARTH_LATITUDE = {
    {{280, 3.199, 84334.662}, {102, 5.422, 5507.553}, {80, 3.88, 5223.69},
     {44, 3.7, 2352.87}, {32, 4, 1577.34}},
    {{9, 3.9, 5507.55}, {6, 1.73, 5223.69}},
};

// Of its distance from the sun, R0 to R4.
const PowerSeries EARTH_RADIUS = {
    {{100013989, 0, 0}, {1670700, 3.0984635, 6283.07585}, {13956, 3.05525, 12566.1517},
     {3084, 5.1985, 77713.7715}, {1628, 1.1739, 5753.3849}, {1576, 2.8469, 7860.4194},
     {925, 5.453, 11506.77}, {542, 4.564, 3930.21}, {472, 3.661, 5884.927},
     {346, 0.964, 5507.553}, {329, 5.9, 5223.694}, {307, 0.299, 5573.143},
     {243, 4.273, 11790.629}, {212, 5.847, 1577.344}, {186, 5.022, 10977.079},
     {175, 3.012, 18849.228}, {110, 5.055, 5486.778}, {98, 0.89, 6069.78},
     {86, 5.69, 15720.84}, {86, 1.27, 161000.69}, {65, 0.27, 17260.15},
     {63, 0.92, 529.69}, {57, 2.01, 83996.85}, {56, 5.24, 71430.7},
     {49, 3.25, 2544.31}, {47, 2.58, 775.52}, {45, 5.54, 9437.76},
     {43, 6.01, 6275.96}, {39, 5.36, 4694}, {38, 2.39, 8827.39},
     {37, 0.83, 19651.05}, {37, 4.9, 12139.55}, {36, 1.67, 12036.46},
     {35, 1.84, 2942.46}, {33, 0.24, 7084.9}, {32, 0.18, 5088.63},
     {32, 1.78, 398.15}, {28, 1.21, 6286.6}, {28, 1.9, 6279.55},
     {26, 4.59, 10447.39}},
    {{103019, 1.10749, 6283.07585}, {1721, 1.0644, 12566.1517}, {702, 3.142, 0},
     {32, 1.02, 18849.23}, {31, 2.84, 5507.55}, {25, 1.32, 5223.69},
     {18, 1.42, 1577.34}, {10, 5.91, 10977.08}, {9, 1.42, 6275.96},
     {9, 0.27, 5486.78}},
    {{4359, 5.7846, 6283.0758}, {124, 5.579, 12566.152}, {12, 3.14, 0},
     {9, 3.63, 77713.77}, {6, 1.87, 5573.14}, {3, 5.47, 18849.23}},
    {{145, 4.273, 6283.076}, {7, 3.92, 12566.15}},
    {{4, 2.56, 6283.08}},
};

// The sum over powers of tau of each power's periodic terms.
double seriesValue(const PowerSeries& series, double millennia) {
    double value = 0;
    for (auto power = series.rbegin(); power != series.rend(); ++power) {
        double sum = 0;
        for (const PeriodicTerm& term : *power) {
            sum += term.amplitude * std::cos(term.phase + term.frequency * millennia);
        }
        value = value * millennia + sum;
    }
    return value * 1e-8;
}

// A row of the report's nutation table: the multiples of five arguments (the moon's mean
// elongation, the sun's and the moon's mean anomalies, the moon's argument of latitude and the
// longitude of its ascending node), and the coefficients of the sine (in longitude) and cosine (in
// obliquity) in units of 0.0001", each with its rate per Julian century.
struct NutationTerm {
    int elongation, sunAnomaly, moonAnomaly, moonLatitude, moonNode;
    double longitude, longitudeRate, obliquity, obliquityRate;
};

const NutationTerm NUTATION_TERMS[] = {
    {0, 0, 0, 0, 1, -171996, -174.2, 92025, 8.9}, {-2, 0, 0, 2, 2, -13187, -1.6, 5736, -3.1},
    {0, 0, 0, 2, 2, -2274, -0.2, 977, -0.5},      {0, 0, 0, 0, 2, 2062, 0.2, -895, 0.5},
    {0, 1, 0, 0, 0, 1426, -3.4, 54, -0.1},        {0, 0, 1, 0, 0, 712, 0.1, -7, 0},
    {-2, 1, 0, 2, 2, -517, 1.2, 224, -0.6},       {0, 0, 0, 2, 1, -386, -0.4, 200, 0},
    {0, 0, 1, 2, 2, -301, 0, 129, -0.1},          {-2, -1, 0, 2, 2, 217, -0.5, -95, 0.3},
    {-2, 0, 1, 0, 0, -158, 0, 0, 0},              {-2, 0, 0, 2, 1, 129, 0.1, -70, 0},
    {0, 0, -1, 2, 2, 123, 0, -53, 0},             {2, 0, 0, 0, 0, 63, 0, 0, 0},
    {0, 0, 1, 0, 1, 63, 0.1, -33, 0},             {2, 0, -1, 2, 2, -59, 0, 26, 0},
    {0, 0, -1, 0, 1, -58, -0.1, 32, 0},           {0, 0, 1, 2, 1, -51, 0, 27, 0},
    {-2, 0, 2, 0, 0, 48, 0, 0, 0},                {0, 0, -2, 2, 1, 46, 0, -24, 0},
    {2, 0, 0, 2, 2, -38, 0, 16, 0},               {0, 0, 2, 2, 2, -31, 0, 13, 0},
    {0, 0, 2, 0, 0, 29, 0, 0, 0},                 {-2, 0, 1, 2, 2, 29, 0, -12, 0},
    {0, 0, 0, 2, 0, 26, 0, 0, 0},                 {-2, 0, 0, 2, 0, -22, 0, 0, 0},
    {0, 0, -1, 2, 1, 21, 0, -10, 0},              {0, 2, 0, 0, 0, 17, -0.1, 0, 0},
    {2, 0, -1, 0, 1, 16, 0, -8, 0},               {-2, 2, 0, 2, 2, -16, 0.1, 7, 0},
    {0, 1, 0, 0, 1, -15, 0, 9, 0},                {-2, 0, 1, 0, 1, -13, 0, 7, 0},
    {0, -1, 0, 0, 1, -12, 0, 6, 0},               {0, 0, 2, -2, 0, 11, 0, 0, 0},
    {2, 0, -1, 2, 1, -10, 0, 5, 0},               {2, 0, 1, 2, 2, -8, 0, 3, 0},
    {0, 1, 0, 2, 2, 7, 0, -3, 0},                 {-2, 1, 1, 0, 0, -7, 0, 0, 0},
    {0, -1, 0, 2, 2, -7, 0, 3, 0},                {2, 0, 0, 2, 1, -7, 0, 3, 0},
    {2, 0, 1, 0, 0, 6, 0, 0, 0},                  {-2, 0, 2, 2, 2, 6, 0, -3, 0},
    {-2, 0, 1, 2, 1, 6, 0, -3, 0},                {2, 0, -2, 0, 1, -6, 0, 3, 0},
    {2, 0, 0, 0, 1, -6, 0, 3, 0},                 {0, -1, 1, 0, 0, 5, 0, 0, 0},
    {-2, -1, 0, 2, 1, -5, 0, 3, 0},               {-2, 0, 0, 0, 1, -5, 0, 3, 0},
    {0, 0, 2, 2, 1, -5, 0, 3, 0},                 {-2, 0, 2, 0, 1, 4, 0, 0, 0},
    {-2, 1, 0, 2, 1, 4, 0, 0, 0},                 {0, 0, 1, -2, 0, 4, 0, 0, 0},
    {-1, 0, 1, 0, 0, -4, 0, 0, 0},                {-2, 1, 0, 0, 0, -4, 0, 0, 0},
    {1, 0, 0, 0, 0, -4, 0, 0, 0},                 {0, 0, 1, 2, 0, 3, 0, 0, 0},
    {0, 0, -2, 2, 2, -3, 0, 0, 0},                {-1, -1, 1, 0, 0, -3, 0, 0, 0},
    {0, 1, 1, 0, 0, -3, 0, 0, 0},                 {0, -1, 1, 2, 2, -3, 0, 0, 0},
    {2, -1, -1, 2, 2, -3, 0, 0, 0},               {0, 0, 3, 2, 2, -3, 0, 0, 0},
    {2, -1, 0, 2, 2, -3, 0, 0, 0},
};

double polynomial(std::initializer_list<double> coefficients, double x) {
    double value = 0;
    for (auto coefficient = std::rbegin(coefficients); coefficient != std::rend(coefficients); ++coefficient) {
        value = value * x + *coefficient;
    }
    return value;
}

// Sun's semidiameter plus the refraction at the horizon: below this the sun has set whatever the
// air, and the refraction formula, which diverges near -5 degrees, is left out.
const double REFRACTION_LIMIT_DEGREES = -(0.26667 + 0.5667);
// The ratio of Earth's polar to equatorial radius, and the equatorial radius.
const double EARTH_AXIS_RATIO = 0.99664719;
const double EARTH_EQUATORIAL_RADIUS_METRES = 6378140;

}  // namespace

std::optional<ZonedTime> parseZonedTime(const std::string& text) {
    const std::string_view view = text;
    if (view.size() < 17 || view[4] != '-' || view[7] != '-' || view[10] != 'T' || view[13] != ':') {
        return std::nullopt;
    }
    const std::optional<int> year = digitsAt(view, 0, 4), month = digitsAt(view, 5, 2), day = digitsAt(view, 8, 2),
                             hour = digitsAt(view, 11, 2), minute = digitsAt(view, 14, 2);
    std::optional<int> second = 0;
    size_t zoneStart = 16;
    if (view[16] == ':') {
        second = digitsAt(view, 17, 2);
        zoneStart = 19;
    }
    const std::optional<int> offset = zoneStart <= view.size() ? offsetMinutesOf(view.substr(zoneStart)) : std::nullopt;
    if (!year || !month || !day || !hour || !minute || !second || !offset) return std::nullopt;
    return zonedTimeOf(CivilTime{*year, *month, *day, *hour, *minute, *second}, *offset);
}

std::string zonedTimeText(const ZonedTime& time) {
    const CivilTime civil = civilTimeOf(time);
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", civil.year, civil.month, civil.day,
                               civil.hour, civil.minute);
    if (civil.second != 0) length += std::snprintf(text + length, sizeof text - length, ":%02d", civil.second);
    if (time.offsetMinutes == 0) {
        std::snprintf(text + length, sizeof text - length, "Z");
    } else {
        const int magnitude = std::abs(time.offsetMinutes);
        std::snprintf(text + length, sizeof text - length, "%c%02d:%02d", time.offsetMinutes < 0 ? '-' : '+',
                      magnitude / 60, magnitude % 60);
    }
    return text;
}

CivilTime civilTimeOf(const ZonedTime& time) {
    const std::int64_t localSeconds = time.utcSeconds + std::int64_t{time.offsetMinutes} * 60;
    const std::int64_t days = floorDivide(localSeconds, SECONDS_PER_DAY);
    const std::int64_t secondOfDay = localSeconds - days * SECONDS_PER_DAY;
    CivilTime civil;
    civilFromDays(days, civil);
    civil.hour = static_cast<int>(secondOfDay / 3600);
    civil.minute = static_cast<int>(secondOfDay / 60 % 60);
    civil.second = static_cast<int>(secondOfDay % 60);
    return civil;
}

std::optional<ZonedTime> zonedTimeOf(const CivilTime& civil, int offsetMinutes) {
    if (civil.month < 1 || civil.month > 12 || civil.day < 1 || civil.day > daysInMonth(civil.year, civil.month) ||
        civil.hour < 0 || civil.hour > 23 || civil.minute < 0 || civil.minute > 59 || civil.second < 0 ||
        civil.second > 59 || std::abs(offsetMinutes) > MAX_OFFSET_MINUTES) {
        return std::nullopt;
    }
    const std::int64_t localSeconds = daysFromCivil(civil.year, civil.month, civil.day) * SECONDS_PER_DAY +
                                      civil.hour * 3600 + civil.minute * 60 + civil.second;
    return ZonedTime{localSeconds - std::int64_t{offsetMinutes} * 60, offsetMinutes};
}

double julianDayOf(const ZonedTime& time) {
    return UNIX_EPOCH_JULIAN_DAY + static_cast<double>(time.utcSeconds) / SECONDS_PER_DAY;
}

double estimatedDeltaT(double year) {
    // Espenak and Meeus, "Five Millennium Canon of Solar Eclipses" (NASA/TP-2006-214141); outside
    // -500 to 2150 their long-term parabola.
    const double centuriesFrom1820 = (year - 1820) / 100;
    const double longTerm = -20 + 32 * centuriesFrom1820 * centuriesFrom1820;
    if (year < -500) return longTerm;
    if (year < 500) {
        return polynomial({10583.6, -1014.41, 33.78311, -5.952053, -0.1798452, 0.022174192, 0.0090316521},
                          year / 100);
    }
    if (year < 1600) {
        return polynomial({1574.2, -556.01, 71.23472, 0.319781, -0.8503463, -0.005050998, 0.0083572073},
                          (year - 1000) / 100);
    }
    if (year < 1700) return polynomial({120, -0.9808, -0.01532, 1 / 7129.0}, year - 1600);
    if (year < 1800) return polynomial({8.83, 0.1603, -0.0059285, 0.00013336, -1 / 1174000.0}, year - 1700);
    if (year < 1860) {
        return polynomial({13.72, -0.332447, 0.0068612, 0.0041116, -0.00037436, 0.0000121272, -0.0000001699,
                           0.000000000875},
                          year - 1800);
    }
    if (year < 1900) {
        return polynomial({7.62, 0.5737, -0.251754, 0.01680668, -0.0004473624, 1 / 233174.0}, year - 1860);
    }
    if (year < 1920) return polynomial({-2.79, 1.494119, -0.0598939, 0.0061966, -0.000197}, year - 1900);
    if (year < 1941) return polynomial({21.20, 0.84493, -0.076100, 0.0020936}, year - 1920);
    if (year < 1961) return polynomial({29.07, 0.407, -1 / 233.0, 1 / 2547.0}, year - 1950);
    if (year < 1986) return polynomial({45.45, 1.067, -1 / 260.0, -1 / 718.0}, year - 1975);
    if (year < 2005) {
        return polynomial({63.86, 0.3345, -0.060374, 0.0017275, 0.000651814, 0.00002373599}, year - 2000);
    }
    if (year < 2050) return polynomial({62.92, 0.32217, 0.005589}, year - 2000);
    if (year < 2150) return longTerm - 0.5628 * (2150 - year);
    return longTerm;
}

SolarEphemeris solarEphemeris(double julianDay, double deltaTSeconds) {
    // Time from J2000 in universal time (for the sidereal time) and terrestrial time (for the rest).
    const double julianEphemerisDay = julianDay + deltaTSeconds / SECONDS_PER_DAY;
    const double centuries = (julianDay - J2000_JULIAN_DAY) / 36525;
    const double ephemerisCenturies = (julianEphemerisDay - J2000_JULIAN_DAY) / 36525;
    const double ephemerisMillennia = ephemerisCenturies / 10;

    SolarEphemeris sun;
    sun.earthLongitudeDegrees = normalizedDegrees(degrees(seriesValue(EARTH_LONGITUDE, ephemerisMillennia)));
    sun.earthLatitudeDegrees = degrees(seriesValue(EARTH_LATITUDE, ephemerisMillennia));
    sun.earthRadiusAu = seriesValue(EARTH_RADIUS, ephemerisMillennia);

    // The nutation's arguments, in degrees.
    const double t = ephemerisCenturies;
    const double arguments[5] = {
        polynomial({297.85036, 445267.111480, -0.0019142, 1 / 189474.0}, t),
        polynomial({357.52772, 35999.050340, -0.0001603, -1 / 300000.0}, t),
        polynomial({134.96298, 477198.867398, 0.0086972, 1 / 56250.0}, t),
        polynomial({93.27191, 483202.017538, -0.0036825, 1 / 327270.0}, t),
        polynomial({125.04452, -1934.136261, 0.0020708, 1 / 450000.0}, t),
    };
    double nutationInLongitude = 0, nutationInObliquity = 0;
    for (const NutationTerm& term : NUTATION_TERMS) {
        const double argument = radians(term.elongation * arguments[0] + term.sunAnomaly * arguments[1] +
                                        term.moonAnomaly * arguments[2] + term.moonLatitude * arguments[3] +
                                        term.moonNode * arguments[4]);
        nutationInLongitude += (term.longitude + term.longitudeRate * t) * std::sin(argument);
        nutationInObliquity += (term.obliquity + term.obliquityRate * t) * std::cos(argument);
    }
    sun.nutationInLongitudeDegrees = nutationInLongitude / 36000000;
    sun.nutationInObliquityDegrees = nutationInObliquity / 36000000;

    // Mean obliquity in arcseconds, a polynomial in units of 10000 Julian years.
    const double meanObliquitySeconds = polynomial({84381.448, -4680.93, -1.55, 1999.25, -51.38, -249.67, -39.05, 7.12,
                                                    27.87, 5.79, 2.45},
                                                   ephemerisMillennia / 10);
    sun.trueObliquityDegrees = meanObliquitySeconds / 3600 + sun.nutationInObliquityDegrees;

    // The sun seen from the Earth's centre, corrected for nutation and aberration.
    const double aberrationDegrees = -20.4898 / (3600 * sun.earthRadiusAu);
    const double apparentLongitude =
        radians(sun.earthLongitudeDegrees + 180 + sun.nutationInLongitudeDegrees + aberrationDegrees);
    const double latitude = radians(-sun.earthLatitudeDegrees);
    const double obliquity = radians(sun.trueObliquityDegrees);

    const double meanSiderealTime =
        normalizedDegrees(polynomial({280.46061837, 0, 0.000387933, -1 / 38710000.0}, centuries) +
                          360.98564736629 * (julianDay - J2000_JULIAN_DAY));
    sun.siderealTimeDegrees =
        normalizedDegrees(meanSiderealTime + sun.nutationInLongitudeDegrees * std::cos(obliquity));

    sun.rightAscensionDegrees = normalizedDegrees(
        degrees(std::atan2(std::sin(apparentLongitude) * std::cos(obliquity) - std::tan(latitude) * std::sin(obliquity),
                           std::cos(apparentLongitude))));
    sun.declinationDegrees = degrees(std::asin(std::sin(latitude) * std::cos(obliquity) +
                                               std::cos(latitude) * std::sin(obliquity) * std::sin(apparentLongitude)));
    return sun;
}

SunPosition solarPosition(const ZonedTime& time, const Observer& observer, double deltaTSeconds) {
    const SolarEphemeris sun = solarEphemeris(julianDayOf(time), deltaTSeconds);
    const double latitude = radians(observer.latitudeDegrees);
    // The observer's local hour angle.
    const double hourAngle = radians(sun.siderealTimeDegrees + observer.longitudeDegrees - sun.rightAscensionDegrees);
    const double declination = radians(sun.declinationDegrees);

    // Parallax moves the sun from the Earth's centre to the observer. The reduced
    // latitude is taken by atan2 so that it holds at the poles too.
    const double parallax = radians(8.794 / (3600 * sun.earthRadiusAu));
    const double reducedLatitude = std::atan2(EARTH_AXIS_RATIO * std::sin(latitude), std::cos(latitude));
    const double relativeElevation = observer.elevationMetres / EARTH_EQUATORIAL_RADIUS_METRES;
    const double x = std::cos(reducedLatitude) + relativeElevation * std::cos(latitude);
    const double y = EARTH_AXIS_RATIO * std::sin(reducedLatitude) + relativeElevation * std::sin(latitude);
    const double denominator = std::cos(declination) - x * std::sin(parallax) * std::cos(hourAngle);
    const double rightAscensionParallax = std::atan2(-x * std::sin(parallax) * std::sin(hourAngle), denominator);
    const double topocentricDeclination =
        std::atan2((std::sin(declination) - y * std::sin(parallax)) * std::cos(rightAscensionParallax), denominator);
    const double topocentricHourAngle = hourAngle - rightAscensionParallax;

    // Elevation without, then with refraction.
    double altitude = degrees(std::asin(std::sin(latitude) * std::sin(topocentricDeclination) +
                                        std::cos(latitude) * std::cos(topocentricDeclination) *
                                            std::cos(topocentricHourAngle)));
    if (altitude >= REFRACTION_LIMIT_DEGREES) {
        altitude += (observer.pressureMillibars / 1010) * (283 / (273 + observer.temperatureCelsius)) * 1.02 /
                    (60 * std::tan(radians(altitude + 10.3 / (altitude + 5.11))));
    }

    // The report's azimuth counts from south, westwards; ours from north, eastwards.
    const double azimuthFromSouth =
        std::atan2(std::sin(topocentricHourAngle), std::cos(topocentricHourAngle) * std::sin(latitude) -
                                                      std::tan(topocentricDeclination) * std::cos(latitude));
    return SunPosition{normalizedDegrees(degrees(azimuthFromSouth) + 180), altitude};
}

SunPosition solarPosition(const ZonedTime& time, const Observer& observer) {
    const double decimalYear = 2000 + (julianDayOf(time) - J2000_JULIAN_DAY) / 365.2425;
    return solarPosition(time, observer, estimatedDeltaT(decimalYear));
}
