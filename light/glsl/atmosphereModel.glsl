// The Earth's atmosphere as every atmosphere program sees it: its shells and media (Rayleigh and Mie
// scattering, ozone absorption), the phase functions, the geometry of rays in the shells and the
// coordinates of its tables. Lengths are in kilometres, scattering and absorption per kilometre, so
// that a radius of 6360 keeps metre precision in single-precision floats.

const float PI = 3.14159265;
const float BOTTOM_RADIUS = 6360.0;
const float TOP_RADIUS = 6460.0;

const vec3 RAYLEIGH_SCATTERING = vec3(5.802e-3, 13.558e-3, 33.1e-3);
const float RAYLEIGH_SCALE_HEIGHT = 8.0;
const float MIE_SCATTERING = 3.996e-3;
const float MIE_ABSORPTION = 4.4e-3;
const float MIE_SCALE_HEIGHT = 1.2;
const float MIE_ASYMMETRY = 0.8;
// Ozone lies in a layer whose density rises linearly to its centre and falls again.
const vec3 OZONE_ABSORPTION = vec3(0.650e-3, 1.881e-3, 0.085e-3);
const float OZONE_CENTRE_ALTITUDE = 25.0;
const float OZONE_HALF_WIDTH = 15.0;
// Light the ground sends back up into the air, for the multiple scattering.
const float GROUND_ALBEDO = 0.3;
// Half the sun's apparent diameter of 0.53 degrees, in radians.
const float SUN_ANGULAR_RADIUS = 0.004625;

struct Medium {
    vec3 rayleighScattering;
    float mieScattering;
    // Out-scattering and absorption of all three together.
    vec3 extinction;
};

Medium mediumAt(float altitude) {
    Medium medium;
    medium.rayleighScattering = RAYLEIGH_SCATTERING * exp(-altitude / RAYLEIGH_SCALE_HEIGHT);
    float mieDensity = exp(-altitude / MIE_SCALE_HEIGHT);
    medium.mieScattering = MIE_SCATTERING * mieDensity;
    float ozoneDensity = max(0.0, 1.0 - abs(altitude - OZONE_CENTRE_ALTITUDE) / OZONE_HALF_WIDTH);
    medium.extinction = medium.rayleighScattering + vec3((MIE_SCATTERING + MIE_ABSORPTION) * mieDensity) +
                        OZONE_ABSORPTION * ozoneDensity;
    return medium;
}

float rayleighPhase(float cosAngle) { return 3.0 / (16.0 * PI) * (1.0 + cosAngle * cosAngle); }

// Cornette and Shanks' form of the Henyey-Greenstein phase, as the reference model takes it.
float miePhase(float cosAngle) {
    const float g = MIE_ASYMMETRY;
    float denominator = (2.0 + g * g) * pow(1.0 + g * g - 2.0 * g * cosAngle, 1.5);
    return 3.0 / (8.0 * PI) * (1.0 - g * g) * (1.0 + cosAngle * cosAngle) / denominator;
}

// The squared radii differ by far less than they measure, so their difference is taken as a product.
float squaredRadiusAbove(float r, float radius) { return (r - radius) * (r + radius); }

// The cosine of the zenith angle of the geometric horizon seen from radius r: rays below it meet the ground.
float horizonZenithCos(float r) { return -sqrt(max(squaredRadiusAbove(r, BOTTOM_RADIUS), 0.0)) / r; }

// From radius r along a ray of zenith cosine mu, the distance to the top of the atmosphere.
float distanceToTop(float r, float mu) {
    float discriminant = r * r * mu * mu - squaredRadiusAbove(r, TOP_RADIUS);
    return max(-r * mu + sqrt(max(discriminant, 0.0)), 0.0);
}

// The distance to the ground along the same ray, or a negative number where it misses the ground.
float distanceToGround(float r, float mu) {
    float discriminant = r * r * mu * mu - squaredRadiusAbove(r, BOTTOM_RADIUS);
    if (mu >= 0.0 || discriminant < 0.0) return -1.0;
    return max(-r * mu - sqrt(discriminant), 0.0);
}

// The radius of the point at distance t from radius r along a ray of zenith cosine mu.
float radiusAlong(float r, float mu, float t) { return sqrt(max(r * r + t * t + 2.0 * r * mu * t, 0.0)); }

// Texel centres of a table hold the ends of its range: unit coordinate 0 at the first centre, 1 at the last.
float unitFromTexel(float fragmentCoordinate, float size) { return (fragmentCoordinate - 0.5) / (size - 1.0); }
float texelFromUnit(float unit, float size) { return (clamp(unit, 0.0, 1.0) * (size - 1.0) + 0.5) / size; }

// The transmittance table's coordinates (Bruneton's): the radius through the distance to the
// horizon, the zenith cosine through the distance to the top between its least and greatest at that
// radius, so that the rays just above the horizon, whose transmittance falls fastest, get most texels.
const float HORIZON_DISTANCE_AT_TOP = sqrt((TOP_RADIUS - BOTTOM_RADIUS) * (TOP_RADIUS + BOTTOM_RADIUS));

vec2 transmittanceUnit(float r, float mu) {
    float horizonDistance = sqrt(max(squaredRadiusAbove(r, BOTTOM_RADIUS), 0.0));
    float leastDistance = TOP_RADIUS - r;
    float greatestDistance = horizonDistance + HORIZON_DISTANCE_AT_TOP;
    float along = (distanceToTop(r, mu) - leastDistance) / max(greatestDistance - leastDistance, 1e-4);
    return vec2(along, horizonDistance / HORIZON_DISTANCE_AT_TOP);
}

// The inverse: x is the radius and y the zenith cosine of the unit coordinates.
vec2 radiusAndZenithCosOfTransmittanceUnit(vec2 unit) {
    float horizonDistance = HORIZON_DISTANCE_AT_TOP * unit.y;
    float r = sqrt(horizonDistance * horizonDistance + BOTTOM_RADIUS * BOTTOM_RADIUS);
    float leastDistance = TOP_RADIUS - r;
    float greatestDistance = horizonDistance + HORIZON_DISTANCE_AT_TOP;
    float d = leastDistance + unit.x * (greatestDistance - leastDistance);
    float squaredTopDistance = HORIZON_DISTANCE_AT_TOP * HORIZON_DISTANCE_AT_TOP;
    float mu = d <= 0.0 ? 1.0 : (squaredTopDistance - horizonDistance * horizonDistance - d * d) / (2.0 * r * d);
    return vec2(r, clamp(mu, -1.0, 1.0));
}

// Transmittance from radius r to the top of the atmosphere along zenith cosine mu, for rays that
// miss the ground (below the horizon it is that of the horizontal ray).
vec3 transmittanceToTop(sampler2D transmittanceTable, float r, float mu) {
    vec2 size = vec2(textureSize(transmittanceTable, 0));
    vec2 unit = transmittanceUnit(clamp(r, BOTTOM_RADIUS, TOP_RADIUS), mu);
    return texture(transmittanceTable, vec2(texelFromUnit(unit.x, size.x), texelFromUnit(unit.y, size.y))).rgb;
}

// How much of the sun's disc stands above the horizon seen from radius r, for a sun at zenith cosine mu.
float sunAboveHorizon(float r, float mu) {
    float horizon = horizonZenithCos(r);
    float discHalfHeight = SUN_ANGULAR_RADIUS * sqrt(max(1.0 - horizon * horizon, 0.0));
    return smoothstep(horizon - discHalfHeight, horizon + discHalfHeight, mu);
}

// The sunlight (per unit of the sun's illuminance) that reaches radius r, for a sun at zenith cosine mu.
vec3 sunTransmittance(sampler2D transmittanceTable, float r, float mu) {
    return transmittanceToTop(transmittanceTable, r, mu) * sunAboveHorizon(r, mu);
}

// The multiple-scattering table's coordinates: the sun's zenith cosine along x, the altitude along y.
vec2 multipleScatteringUnit(float r, float sunZenithCos) {
    return vec2(sunZenithCos * 0.5 + 0.5, (r - BOTTOM_RADIUS) / (TOP_RADIUS - BOTTOM_RADIUS));
}

// The sky-view table's coordinates (Hillaire's): the azimuth from the sun along x, squared so that
// the texels crowd towards the sun's side; the zenith angle along y, the first half of it from the
// zenith down to the horizon and the second on to the nadir, each squared towards the horizon, where
// the colour changes fastest.
// `horizon` holds the camera's: the angle the ground spans from the nadir up to the horizon, and
// the horizon's zenith angle (pi less that), which depend on its radius alone.
vec2 skyViewUnit(vec2 horizon, float viewZenithCos, float sunAzimuthCos) {
    float groundAngle = horizon.x;
    float horizonZenithAngle = horizon.y;
    float zenithAngle = acos(clamp(viewZenithCos, -1.0, 1.0));
    float v;
    if (zenithAngle <= horizonZenithAngle) {
        v = 0.5 * (1.0 - sqrt(max(1.0 - zenithAngle / horizonZenithAngle, 0.0)));
    } else {
        v = 0.5 + 0.5 * sqrt(max((zenithAngle - horizonZenithAngle) / groundAngle, 0.0));
    }
    float u = sqrt(clamp(0.5 - 0.5 * sunAzimuthCos, 0.0, 1.0));
    return vec2(u, v);
}

// The inverse: x is the view's zenith cosine and y the cosine of its azimuth from the sun.
vec2 viewOfSkyViewUnit(vec2 horizon, vec2 unit) {
    float groundAngle = horizon.x;
    float horizonZenithAngle = horizon.y;
    float zenithAngle;
    if (unit.y < 0.5) {
        float fromHorizon = 1.0 - 2.0 * unit.y;
        zenithAngle = horizonZenithAngle * (1.0 - fromHorizon * fromHorizon);
    } else {
        float belowHorizon = 2.0 * unit.y - 1.0;
        zenithAngle = horizonZenithAngle + groundAngle * belowHorizon * belowHorizon;
    }
    return vec2(cos(zenithAngle), 1.0 - 2.0 * unit.x * unit.x);
}
