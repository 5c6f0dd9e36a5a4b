// Where the sun stands over the scene and what placed it: angles given directly, or a time at a
// place, which the keys and the panel move on.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "light/SolarPosition.h"
#include "math/Math.h"

struct SunSetting {
    SunPosition position;
    // Set when a time placed the sun: then `place` is where it was taken.
    std::optional<ZonedTime> time;
    Observer place;
};

// The sun that angles place (`placed`), or else a time at a latitude and longitude; none when
// neither is given. With a time but no place, none, and `error` says why.
std::optional<SunSetting> sunSettingOf(const std::optional<SunPosition>& placed, const std::optional<ZonedTime>& time,
                                       const std::optional<std::array<double, 2>>& latitudeLongitude,
                                       std::string& error);

// The same place `minutes` later (earlier when negative); a sun placed by angles stays.
SunSetting movedBy(const SunSetting& sun, long long minutes);
// The same place at another time.
SunSetting atTime(const SunSetting& sun, const ZonedTime& time);

// The log line: "Sun: azimuth 292.4°, altitude 8.1°", followed by
// " (2026-06-21T18:30+02:00 at 48.1° N, 11.6° E)" for a sun placed by a time.
std::string sunLine(const SunSetting& sun);

// The unit vector towards the sun in the world (x east, y up, z south).
vec3 sunDirection(const SunPosition& position);
