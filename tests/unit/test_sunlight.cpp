// The sun's setting: the line that says where it stands and its direction in the world. What
// places it and the keys that move its time are tried through the program itself.
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
