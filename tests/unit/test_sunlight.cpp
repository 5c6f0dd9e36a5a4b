// The sun's setting: what places it, the line that says where it stands, its time moved by the
// keys, and its direction in the world.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "light/Sunlight.h"

TEST(Sunlight, TheLineSaysTheAnglesAndWhatPlacedThem) {
    const ZonedTime evening = *parseZonedTime("2026-06-21T18:30+02:00");
    const struct {
        SunSetting sun;
        const char* line;
    } cases[] = {
        {{{292.44, 8.06}, std::nullopt, {}}, "Sun: azimuth 292.4°, altitude 8.1°"},
        {{{292.44, -8.06}, evening, {48.14, 11.58}}, "Sun: azimuth 292.4°, altitude -8.1° (2026-06-21T18:30+02:00 at 48.1° N, 11.6° E)"},
        {{{12.0, 30.0}, evening, {-8.05, -34.9}}, "Sun: azimuth 12.0°, altitude 30.0° (2026-06-21T18:30+02:00 at 8.1° S, 34.9° W)"},
    };
    for (const auto& example : cases) EXPECT_EQ(sunLine(example.sun), example.line);
}

TEST(Sunlight, ATimeNeedsAPlaceAndAnglesNeedNone) {
    const ZonedTime noon = *parseZonedTime("2026-03-20T12:00Z");
    std::string error;
    EXPECT_FALSE(sunSettingOf(std::nullopt, noon, std::nullopt, error));
    EXPECT_EQ(error, "--sun-time needs --location LAT,LON for a map that has no place on the Earth");
    EXPECT_FALSE(sunSettingOf(std::nullopt, std::nullopt, std::array<double, 2>{0.0, 0.0}, error))
        << "neither option: no sun";

    const std::optional<SunSetting> placed = sunSettingOf(SunPosition{90.0, 45.0}, noon, std::nullopt, error);
    ASSERT_TRUE(placed);
    EXPECT_FALSE(placed->time) << "angles win over a time";
    EXPECT_EQ(movedBy(*placed, 120).position.azimuthDegrees, 90.0) << "a sun placed by angles has no time to move";

    // At the equinox's noon on the equator at 0° E the sun stands near the zenith; three hours on
    // it has gone down in the west.
    const std::optional<SunSetting> timed = sunSettingOf(std::nullopt, noon, std::array<double, 2>{0.0, 0.0}, error);
    ASSERT_TRUE(timed && timed->time);
    EXPECT_GT(timed->position.altitudeDegrees, 80.0);
    const SunSetting later = movedBy(*timed, 180);
    EXPECT_EQ(later.time->utcSeconds - noon.utcSeconds, 3 * 3600);
    EXPECT_EQ(later.time->offsetMinutes, noon.offsetMinutes);
    EXPECT_NEAR(later.position.altitudeDegrees, 45.0, 3.0) << "the equation of time moves noon by minutes";
    EXPECT_NEAR(later.position.azimuthDegrees, 270.0, 3.0);
}

TEST(Sunlight, TheDirectionPointsTowardsTheSunInTheWorld) {
    // x east, y up, z south.
    const struct {
        SunPosition position;
        vec3 direction;
    } cases[] = {
        {{0.0, 0.0}, {0.0f, 0.0f, -1.0f}},
        {{90.0, 0.0}, {1.0f, 0.0f, 0.0f}},
        {{180.0, 0.0}, {0.0f, 0.0f, 1.0f}},
        {{270.0, 30.0}, {-0.8660254f, 0.5f, 0.0f}},
        {{45.0, 90.0}, {0.0f, 1.0f, 0.0f}},
    };
    for (const auto& example : cases) {
        const vec3 direction = sunDirection(example.position);
        EXPECT_NEAR(direction.x, example.direction.x, 1e-6f) << example.position.azimuthDegrees;
        EXPECT_NEAR(direction.y, example.direction.y, 1e-6f) << example.position.azimuthDegrees;
        EXPECT_NEAR(direction.z, example.direction.z, 1e-6f) << example.position.azimuthDegrees;
    }
}
