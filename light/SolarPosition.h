// Where the sun stands for an observer on the ground at a given instant, by the Solar Position
// Algorithm of Reda and Andreas (NREL, 2004/2008): good to about 0.0003 degrees from the year -2000
// to 6000 when the difference between terrestrial and universal time is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// An instant and the zone offset it is written in.
struct ZonedTime {
    std::int64_t utcSeconds = 0;  // since 1970-01-01T00:00Z
    int offsetMinutes = 0;
};

// ISO 8601 with a zone: YYYY-MM-DDTHH:MM[:SS] followed by Z, +HH:MM, -HH:MM, +HHMM or +HH (or their
// negative forms). A time without a zone, a field out of its range (month 13, 31 June, hour 24,
// second 60) or an offset beyond 18 hours gives none.
std::optional<ZonedTime> parseZonedTime(const std::string& text);
// Back in the same form, e.g. "2026-06-21T18:30+02:00": seconds only when they are not zero, offset
// 0 written "Z".
std::string zonedTimeText(const ZonedTime& time);

// The calendar fields of an instant in its own offset, in the proleptic Gregorian calendar.
struct CivilTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime civilTimeOf(const ZonedTime& time);
// None for fields out of their ranges or an offset beyond 18 hours.
std::optional<ZonedTime> zonedTimeOf(const CivilTime& civil, int offsetMinutes);

// Days and their fraction since noon of 1 January 4713 BC (Julian calendar), in universal time.
double julianDayOf(const ZonedTime& time);

struct Observer {
    double latitudeDegrees = 0;
    double longitudeDegrees = 0;  // east positive
    double elevationMetres = 0;
    // Air at the ground, for refraction; a pressure of 0 leaves refraction out.
    double pressureMillibars = 1013.25;
    double temperatureCelsius = 15;
};

// Topocentric, refraction included; azimuth from north, clockwise; altitude = 90 - zenith.
struct SunPosition {
    double azimuthDegrees = 0;
    double altitudeDegrees = 0;
};

// Terrestrial minus universal time in seconds, estimated for a year (the polynomials of Espenak and
// Meeus; within a second of the observed values 1950-2005, some seconds high since).
double estimatedDeltaT(double decimalYear);

// The instant is taken as universal time: UTC stays within 0.9 s of it, 0.004 degrees of the sky's
// turn.
SunPosition solarPosition(const ZonedTime& time, const Observer& observer, double deltaTSeconds);
// With the estimated difference between terrestrial and universal time, which is good enough: that
// difference only moves the sun along its orbit, by 0.0007 degrees a minute.
SunPosition solarPosition(const ZonedTime& time, const Observer& observer);

// The observer-independent stages of the computation, each open to a check against published values.
struct SolarEphemeris {
    // Earth's heliocentric position on the ecliptic of date.
    double earthLongitudeDegrees = 0, earthLatitudeDegrees = 0, earthRadiusAu = 0;
    double nutationInLongitudeDegrees = 0, nutationInObliquityDegrees = 0;
    double trueObliquityDegrees = 0;
    // Apparent sidereal time at Greenwich.
    double siderealTimeDegrees = 0;
    // The sun's apparent geocentric position.
    double rightAscensionDegrees = 0, declinationDegrees = 0;
};
// For a Julian day in universal time.
SolarEphemeris solarEphemeris(double julianDay, double deltaTSeconds);
