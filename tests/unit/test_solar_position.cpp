// The sun's position against the values published with the algorithm and in Meeus's "Astronomical
// Algorithms" (2nd ed.), and the zoned times it is asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "light/SolarPosition.h"

namespace {

ZonedTime parsed(const std::string& text) {
    const std::optional<ZonedTime> time = parseZonedTime(text);
    EXPECT_TRUE(time.has_value()) << text;
    return time.value_or(ZonedTime{});
}

// The report's example: Golden, Colorado, 17 October 2003, 12:30:30 local standard time.
const Observer GOLDEN{39.742476, -105.1786, 1830.14, 820, 11};
const char* const GOLDEN_TIME = "2003-10-17T12:30:30-07:00";
const double GOLDEN_DELTA_T = 67;

}  // namespace

// The report prints every stage of its example; a mistyped periodic term shifts Earth's longitude,
// latitude or distance by at least 1e-8 radians (or AU), far beyond the tolerances here.
TEST(SolarEphemeris, MatchesTheReportsExampleAtEveryStage) {
    const double julianDay = julianDayOf(parsed(GOLDEN_TIME));
    EXPECT_NEAR(julianDay, 2452930.312847, 1e-6);
    const SolarEphemeris sun = solarEphemeris(julianDay, GOLDEN_DELTA_T);
    EXPECT_NEAR(sun.earthLongitudeDegrees, 24.0182616917, 1e-9);
    EXPECT_NEAR(sun.earthLatitudeDegrees, -0.0001011219, 1e-10);
    EXPECT_NEAR(sun.earthRadiusAu, 0.9965422974, 1e-10);
    EXPECT_NEAR(sun.nutationInLongitudeDegrees, -0.00399840, 1e-8);
    EXPECT_NEAR(sun.nutationInObliquityDegrees, 0.00166657, 1e-8);
    EXPECT_NEAR(sun.trueObliquityDegrees, 23.440465, 1e-6);
    EXPECT_NEAR(sun.siderealTimeDegrees, 318.5119, 1e-4);
    EXPECT_NEAR(sun.rightAscensionDegrees, 202.22741, 1e-5);
    EXPECT_NEAR(sun.declinationDegrees, -9.31434, 1e-5);
}

// Meeus's worked examples, an independent account of the same theories: example 25.b (1992 October
// 13.0 TD) for the heliocentric series and the apparent place, 22.a and 12.a (1987 April 10, 0h) for
// nutation, obliquity and sidereal time.
TEST(SolarEphemeris, MatchesMeeussExamples) {
    const SolarEphemeris october1992 = solarEphemeris(2448908.5, 0);
    EXPECT_NEAR(october1992.earthLongitudeDegrees, 19.907372, 1e-6);
    EXPECT_NEAR(october1992.earthLatitudeDegrees, -0.000179, 1e-6);
    EXPECT_NEAR(october1992.earthRadiusAu, 0.99760775, 1e-8);
    // Meeus also turns the longitude to the FK5 frame, by -0.09"; the report does not.
    EXPECT_NEAR(october1992.rightAscensionDegrees, 198.378178, 0.2 / 3600);
    EXPECT_NEAR(october1992.declinationDegrees, -7.783871, 0.05 / 3600);

    const SolarEphemeris april1987 = solarEphemeris(2446895.5, 0);
    EXPECT_NEAR(april1987.nutationInLongitudeDegrees * 3600, -3.788, 0.001);
    EXPECT_NEAR(april1987.nutationInObliquityDegrees * 3600, 9.443, 0.001);
    EXPECT_NEAR(april1987.trueObliquityDegrees, 23 + 26 / 60.0 + 36.850 / 3600, 0.001 / 3600);
    EXPECT_NEAR(april1987.siderealTimeDegrees, (13 + 10 / 60.0 + 46.1351 / 3600) * 15, 0.0001 / 240);

    // Example 27.a, the June solstice of 1962 at 21:25:08 TD (JDE 2437837.39245, computed to within
    // a minute): the sun's right ascension is then 6 h. A date before 1970 as well.
    const double deltaT1962 = estimatedDeltaT(1962.5);
    EXPECT_NEAR(solarEphemeris(2437837.39245 - deltaT1962 / 86400, deltaT1962).rightAscensionDegrees, 90, 0.01);
}

// The position seen from the ground. The report's example to its printed precision, with and
// without refraction (its topocentric elevation before refraction is 39.872046); at the pole the
// altitude is the declination, zero at the equinox instants the US Naval Observatory publishes. With
// ΔT estimated (NaN) the position keeps to 1e-4 degree: an estimate in the wrong unit would not.
TEST(SolarPosition, MatchesPublishedPositions) {
    Observer goldenInVacuum = GOLDEN;
    goldenInVacuum.pressureMillibars = 0;
    const Observer northPole{90, 0, 0, 0, 15};
    const struct {
        const char* place;
        const char* time;
        Observer observer;
        double deltaT, expectedAzimuth, expectedAltitude, tolerance;
    } cases[] = {
        {"Golden", GOLDEN_TIME, GOLDEN, GOLDEN_DELTA_T, 194.34024, 90 - 50.11162, 1e-5},
        {"Golden without air", GOLDEN_TIME, goldenInVacuum, GOLDEN_DELTA_T, 194.34024, 39.872046, 1e-5},
        {"Golden, delta T estimated", GOLDEN_TIME, GOLDEN, NAN, 194.34024, 90 - 50.11162, 1e-4},
        {"North Pole, March equinox 2024", "2024-03-20T03:06Z", northPole, GOLDEN_DELTA_T, NAN, 0, 0.01},
        {"North Pole, September equinox 2023", "2023-09-23T06:50Z", northPole, GOLDEN_DELTA_T, NAN, 0, 0.01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.place);
        const SunPosition sun = std::isnan(c.deltaT) ? solarPosition(parsed(c.time), c.observer)
                                                     : solarPosition(parsed(c.time), c.observer, c.deltaT);
        if (!std::isnan(c.expectedAzimuth)) {
            EXPECT_NEAR(sun.azimuthDegrees, c.expectedAzimuth, c.tolerance);
        }
        EXPECT_NEAR(sun.altitudeDegrees, c.expectedAltitude, c.tolerance);
    }
}

// Observed values (Espenak and Meeus's table), and the seams between the polynomials, where a
// mistyped coefficient in one piece shows as a jump.
TEST(SolarDeltaT, FollowsObservationsAndIsContinuous) {
    const struct {
        double year, observedSeconds;
    } observations[] = {{1955, 31.1}, {1970, 40.2}, {1985, 54.3}, {2000, 63.8}, {2005, 64.7}};
    for (const auto& o : observations) EXPECT_NEAR(estimatedDeltaT(o.year), o.observedSeconds, 0.2) << o.year;
    for (const double seam : {-500, 500, 1600, 1700, 1800, 1860, 1900, 1920, 1941, 1961, 1986, 2005, 2050, 2150}) {
        EXPECT_NEAR(estimatedDeltaT(seam - 1e-9), estimatedDeltaT(seam), 0.3) << seam;
    }
}

TEST(SolarJulianDay, CountsFromNoonOfItsEpochInUniversalTime) {
    const struct {
        const char* time;
        double julianDay;
    } cases[] = {
        {"2000-01-01T12:00Z", 2451545.0},
        {"2000-01-01T13:00+01:00", 2451545.0},
        // Meeus's example 7.a, the launch of Sputnik 1, 1957 October 4.81.
        {"1957-10-04T19:26:24Z", 2436116.31},
    };
    for (const auto& c : cases) EXPECT_NEAR(julianDayOf(parsed(c.time)), c.julianDay, 1e-9) << c.time;
}

// Each accepted form, the instant it names (from an independent calendar) and the text it is
// written back as.
TEST(ZonedTimeText, ParsesEveryZoneFormAndWritesItBack) {
    const struct {
        const char* text;
        std::int64_t utcSeconds;
        int offsetMinutes;
        const char* written;
    } cases[] = {
        {"2026-06-21T18:30+02:00", 1782059400, 120, "2026-06-21T18:30+02:00"},
        {"2026-06-21T18:30:05-07:00", 1782091805, -420, "2026-06-21T18:30:05-07:00"},
        {"2026-06-21T18:30+0530", 1782046800, 330, "2026-06-21T18:30+05:30"},
        {"2026-06-21T18:30+02", 1782059400, 120, "2026-06-21T18:30+02:00"},
        // A negative offset under an hour keeps its sign.
        {"2026-06-21T18:30-00:30", 1782068400, -30, "2026-06-21T18:30-00:30"},
        {"2026-06-21T16:30:00+00:00", 1782059400, 0, "2026-06-21T16:30Z"},
        {"1969-12-31T23:59:59Z", -1, 0, "1969-12-31T23:59:59Z"},
        {"1900-01-01T00:00Z", -2208988800, 0, "1900-01-01T00:00Z"},
        {"2024-02-29T12:00+18:00", 1709143200, 1080, "2024-02-29T12:00+18:00"},
        {"2000-02-29T12:00-18:00", 951890400, -1080, "2000-02-29T12:00-18:00"},
        {"0001-01-01T00:00Z", -62135596800, 0, "0001-01-01T00:00Z"},
        {"9999-12-31T23:59:59Z", 253402300799, 0, "9999-12-31T23:59:59Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ZonedTime time = parsed(c.text);
        EXPECT_EQ(time.utcSeconds, c.utcSeconds);
        EXPECT_EQ(time.offsetMinutes, c.offsetMinutes);
        EXPECT_EQ(zonedTimeText(time), c.written);
    }
}

TEST(ZonedTimeText, RefusesMalformedTexts) {
    for (const char* text : {
             "", "2026-06-21T18:30", "2026-06-21T18:30:05", "2026-06-21 18:30Z", "2026-06-21t18:30Z",
             "2026-06-21T18:30z", "2026-6-21T18:30Z", "26-06-21T18:30Z", "2026-06-21T1830Z", "2026-06-21T18:3Z",
             "2026-06-21T18:30:5Z", "2026-06-21T18:30:05.5Z", "2026-06-21T18:30Z ", " 2026-06-21T18:30Z",
             "2026-06-21T18:30+5", "2026-06-21T18:30+05:3", "2026-06-21T18:30+053", "2026-06-21T18:30+05:30:00",
             "2026-06-21T18:30+-5:00", "2026-06-21T18:30+05-30", "2026-06-21T18:30 +02:00",
             // Offset minutes beyond 59 would otherwise pass as a valid offset of more hours.
             "2026-06-21T18:30+05:60", "2026-06-21T18:30+18:01", "2026-06-21T18:30-19",
             // A field out of range, refused with the calendar fields below.
             "2026-13-01T00:00Z"}) {
        EXPECT_FALSE(parseZonedTime(text).has_value()) << '"' << text << '"';
    }
}

TEST(ZonedTimeCivil, RefusesFieldsOutOfRange) {
    const struct {
        CivilTime civil;
        int offsetMinutes;
    } cases[] = {
        {{2026, 13, 1, 0, 0, 0}, 0}, {{2026, 0, 1, 0, 0, 0}, 0},    {{2026, 6, 31, 0, 0, 0}, 0},
        {{2026, 6, 0, 0, 0, 0}, 0},  {{2023, 2, 29, 0, 0, 0}, 0},   {{1900, 2, 29, 0, 0, 0}, 0},
        {{2026, 6, 1, 24, 0, 0}, 0}, {{2026, 6, 1, -1, 0, 0}, 0},   {{2026, 6, 1, 0, 60, 0}, 0},
        {{2026, 6, 1, 0, 0, 60}, 0}, {{2026, 6, 1, 0, 0, -1}, 0},   {{2026, 6, 1, 0, 0, 0}, 18 * 60 + 1},
        {{2026, 6, 1, 0, 0, 0}, -18 * 60 - 1},
    };
    for (const auto& c : cases) {
        const CivilTime& f = c.civil;
        EXPECT_FALSE(zonedTimeOf(f, c.offsetMinutes).has_value())
            << f.year << '-' << f.month << '-' << f.day << ' ' << f.hour << ':' << f.minute << ':' << f.second
            << " offset " << c.offsetMinutes;
    }
}

// The offset carries the fields over a day, month and year boundary either way; before 1970 a
// truncating division would put the instant on the following day.
TEST(ZonedTimeCivil, FieldsFollowTheOffsetAcrossBoundaries) {
    const struct {
        std::int64_t utcSeconds;
        int offsetMinutes;
        CivilTime civil;
    } cases[] = {
        {1798759800, 60, {2027, 1, 1, 0, 30, 0}},    // 2026-12-31T23:30Z
        {1798759800, -60, {2026, 12, 31, 22, 30, 0}},
        {1709247600, 120, {2024, 3, 1, 1, 0, 0}},    // 2024-02-29T23:00Z
        {1709247600, -1080, {2024, 2, 29, 5, 0, 0}},
        {-1, 0, {1969, 12, 31, 23, 59, 59}},
        {0, -1, {1969, 12, 31, 23, 59, 0}},
        {-2208988800, 0, {1900, 1, 1, 0, 0, 0}},
        {-2208988800, -1, {1899, 12, 31, 23, 59, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utcSeconds);
        const ZonedTime time{c.utcSeconds, c.offsetMinutes};
        const CivilTime civil = civilTimeOf(time);
        EXPECT_EQ(civil.year, c.civil.year);
        EXPECT_EQ(civil.month, c.civil.month);
        EXPECT_EQ(civil.day, c.civil.day);
        EXPECT_EQ(civil.hour, c.civil.hour);
        EXPECT_EQ(civil.minute, c.civil.minute);
        EXPECT_EQ(civil.second, c.civil.second);
        const std::optional<ZonedTime> back = zonedTimeOf(civil, c.offsetMinutes);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->utcSeconds, c.utcSeconds);
    }
}
