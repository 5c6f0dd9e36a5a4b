// The atmosphere's light for any fragment stage: the sky's radiance in a direction, the sunlight and
// skylight that reach the ground, and the air between the camera and a distant point. Every
// program that includes this takes the tables and the sun from Atmosphere::bindTables.
//
// Light comes in the terrain's units: a white surface facing a sun of illuminance 1 shows 1 (the
// terrain lights albedo * illuminance * N.L), so a sun of illuminance 1 gives an irradiance of pi.
// World frame: x east, y up, z south.

#include "atmosphereModel.glsl"

uniform sampler2D transmittanceTable;
uniform sampler2D skyViewTable;
uniform vec3 skyIrradianceMean;  // the sky-irradiance table's texel, read back when it is made
// Unit vector towards the sun.
uniform vec3 sunDirection;
// The altitude (metres) the sky-view table was made for.
uniform float cameraAltitude;
// The sun above the atmosphere, its illuminance per colour.
uniform vec3 sunIlluminance;
// What turns the sky-view table's light into the sky's displayed radiance: the sun's illuminance,
// and the gains that show the sky as it is seen beside sunlit ground and in the twilight. They
// change with the sun and its sky only, so they are worked out once for each, not per fragment.
uniform vec3 skyRadianceScale;
// The camera's horizon as the sky-view table's coordinates take it: the zenith cosine of the
// horizon, the angle the ground below it spans from the nadir, and the horizon's zenith angle.
uniform vec3 skyViewHorizon;

const vec3 LUMINANCE_WEIGHTS = vec3(0.2126, 0.7152, 0.0722);
float cameraRadius() { return BOTTOM_RADIUS + max(cameraAltitude, 0.0) * 0.001; }

// The sky-view table's light towards a unit direction, for a sun of unit irradiance; below the
// horizon, the horizon's.
vec3 skyViewLight(vec3 direction) {
    float viewZenithCos = max(direction.y, skyViewHorizon.x);
    float horizontalLengths = length(direction.xz) * length(sunDirection.xz);
    float sunAzimuthCos = horizontalLengths > 1e-6 ? dot(direction.xz, sunDirection.xz) / horizontalLengths : 1.0;
    vec2 unit = skyViewUnit(skyViewHorizon.yz, viewZenithCos, sunAzimuthCos);
    vec2 size = vec2(textureSize(skyViewTable, 0));
    // The horizon falls between two rows; the sky keeps to the row above it, as filtering with the
    // one below, whose rays end on the ground, would darken the horizon.
    float lastSkyRow = (floor((size.y - 1.0) * 0.5) + 0.5) / size.y;
    vec2 coordinates = vec2(texelFromUnit(unit.x, size.x), min(texelFromUnit(unit.y, size.y), lastSkyRow));
    return texture(skyViewTable, coordinates).rgb;
}

vec3 sunlightAtGround(float altitudeMetres) {
    float r = BOTTOM_RADIUS + max(altitudeMetres, 0.0) * 0.001;
    return sunIlluminance * sunTransmittance(transmittanceTable, r, sunDirection.y);
}

// The table holds the sky's cosine-weighted mean radiance over the upper hemisphere, which is its
// irradiance on a horizontal surface divided by pi: the terrain's units.
vec3 skyIrradiance() { return skyIrradianceMean * PI * sunIlluminance; }

vec3 skyRadiance(vec3 direction) { return skyViewLight(normalize(direction)) * skyRadianceScale; }

// The length-weighted density along a straight path of `pathLength` km from `altitude` km, rising
// `rise` km per km, through a layer of the given scale height: the closed form of the integral of
// its exponential profile, the air below altitude 0 (the flat world's ground beyond the horizon)
// as dense as at 0.
float densityAlongPath(float altitude, float rise, float pathLength, float scaleHeight) {
    float start = exp(-altitude / scaleHeight);
    if (abs(pathLength * rise) < 1e-3 * scaleHeight) return pathLength * start;
    float aboveGround = rise < 0.0 ? min(altitude / -rise, pathLength) : pathLength;
    float end = exp(-(altitude + aboveGround * rise) / scaleHeight);
    return scaleHeight / rise * (start - end) + (pathLength - aboveGround);
}

// The colour of a point at the given distance along a view direction from the camera, seen through
// the air: dimmed by the air's extinction over the path, and given as much of the sky's own colour
// in that direction as the path hides of the ground. (Near the ground a ray towards the horizon is
// all but opaque over its whole length, whose light the sky's colour is; a share of the whole ray's
// extinction would blow up from high above, where the ray to the horizon is clear.) The path runs
// through the terrain's flat world, whose ground does not fall away below the view as the planet's
// would: the air over distant ground is as dense as over near ground. The ozone, high above the
// ground, takes no part over such paths.
vec3 aerialPerspective(vec3 colour, vec3 viewDirection, float distanceMetres) {
    vec3 direction = normalize(viewDirection);
    float pathLength = max(distanceMetres, 0.0) * 0.001;
    float altitude = max(cameraAltitude, 0.0) * 0.001;
    vec3 opticalDepth = RAYLEIGH_SCATTERING * densityAlongPath(altitude, direction.y, pathLength, RAYLEIGH_SCALE_HEIGHT) +
                        (MIE_SCATTERING + MIE_ABSORPTION) * densityAlongPath(altitude, direction.y, pathLength, MIE_SCALE_HEIGHT);
    vec3 transmittance = exp(-opticalDepth);
    return colour * transmittance + skyRadiance(direction) * (1.0 - transmittance);
}
