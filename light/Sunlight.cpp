// The sun's setting: placing it by angles or by a time at a place, moving its time, and saying
// where it stands.
#include "light/Sunlight.h"

#include <cmath>
#include <cstdio>

std::optional<SunSetting> sunSettingOf(const std::optional<SunPosition>& placed, const std::optional<ZonedTime>& time,
                                       const std::optional<std::array<double, 2>>& latitudeLongitude,
                                       std::string& error) {
    if (placed) return SunSetting{*placed, std::nullopt, Observer{}};
    if (!time) return std::nullopt;
    if (!latitudeLongitude) {
        error = "--sun-time needs --location LAT,LON for a map that has no place on the Earth";
        return std::nullopt;
    }
    SunSetting sun;
    sun.place.latitudeDegrees = (*latitudeLongitude)[0];
    sun.place.longitudeDegrees = (*latitudeLongitude)[1];
    return atTime(sun, *time);
}

SunSetting atTime(const SunSetting& sun, const ZonedTime& time) {
    SunSetting moved = sun;
    moved.time = time;
    moved.position = solarPosition(time, sun.place);
    return moved;
}

SunSetting movedBy(const SunSetting& sun, long long minutes) {
    if (!sun.time) return sun;
    ZonedTime later = *sun.time;
    later.utcSeconds += minutes * 60;
    return atTime(sun, later);
}

namespace {

// "48.1° N" or "11.6° W": a tenth of a degree and its hemisphere.
std::string degreesText(double degrees, char positive, char negative) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f\u00b0 %c", std::fabs(degrees), degrees < 0.0 ? negative : positive);
    return text;
}

}  // namespace

std::string sunLine(const SunSetting& sun) {
    char angles[96];
    std::snprintf(angles, sizeof angles, "Sun: azimuth %.1f\u00b0, altitude %.1f\u00b0", sun.position.azimuthDegrees,
                  sun.position.altitudeDegrees);
    std::string line = angles;
    if (sun.time) {
        line += " (" + zonedTimeText(*sun.time) + " at " + degreesText(sun.place.latitudeDegrees, 'N', 'S') + ", " +
                degreesText(sun.place.longitudeDegrees, 'E', 'W') + ")";
    }
    return line;
}

vec3 sunDirection(const SunPosition& position) {
    const double azimuth = position.azimuthDegrees * M_PI / 180.0;
    const double altitude = position.altitudeDegrees * M_PI / 180.0;
    return vec3{static_cast<float>(std::sin(azimuth) * std::cos(altitude)), static_cast<float>(std::sin(altitude)),
                static_cast<float>(-std::cos(azimuth) * std::cos(altitude))};
}
