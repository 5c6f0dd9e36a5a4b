#version 330

// One texel of the multiple-scattering table (Hillaire's): for a point at an altitude and a sun at a
// zenith angle, the light scattered there in all orders beyond the first, per unit of the sun's
// illuminance. The second order is gathered from every direction with an isotropic phase; the
// higher orders follow as a geometric series of the part of light that the surroundings scatter back.

#include "atmosphereModel.glsl"

uniform vec2 tableSize;
uniform sampler2D transmittanceTable;

layout(location = 0) out vec4 multipleScattering;

const int DIRECTIONS_PER_SIDE = 8;
const int STEPS = 20;
const float ISOTROPIC_PHASE = 1.0 / (4.0 * PI);

void main() {
    vec2 unit = vec2(unitFromTexel(gl_FragCoord.x, tableSize.x), unitFromTexel(gl_FragCoord.y, tableSize.y));
    float sunZenithCos = unit.x * 2.0 - 1.0;
    float r = BOTTOM_RADIUS + unit.y * (TOP_RADIUS - BOTTOM_RADIUS);
    vec3 position = vec3(0.0, r, 0.0);
    vec3 sun = vec3(sqrt(max(1.0 - sunZenithCos * sunZenithCos, 0.0)), sunZenithCos, 0.0);

    vec3 secondOrder = vec3(0.0);
    vec3 scatteredBack = vec3(0.0);
    // Directions of equal solid angle: uniform in the zenith cosine and the azimuth.
    for (int i = 0; i < DIRECTIONS_PER_SIDE; ++i) {
        float viewZenithCos = 1.0 - 2.0 * (float(i) + 0.5) / float(DIRECTIONS_PER_SIDE);
        float viewZenithSin = sqrt(max(1.0 - viewZenithCos * viewZenithCos, 0.0));
        for (int j = 0; j < DIRECTIONS_PER_SIDE; ++j) {
            float azimuth = 2.0 * PI * (float(j) + 0.5) / float(DIRECTIONS_PER_SIDE);
            vec3 direction = vec3(viewZenithSin * cos(azimuth), viewZenithCos, viewZenithSin * sin(azimuth));
            float groundDistance = distanceToGround(r, viewZenithCos);
            bool hitsGround = groundDistance >= 0.0;
            float stepLength = (hitsGround ? groundDistance : distanceToTop(r, viewZenithCos)) / float(STEPS);

            vec3 throughput = vec3(1.0);
            vec3 light = vec3(0.0);
            vec3 scattered = vec3(0.0);
            for (int s = 0; s < STEPS; ++s) {
                vec3 point = position + direction * ((float(s) + 0.5) * stepLength);
                float pointRadius = length(point);
                Medium medium = mediumAt(pointRadius - BOTTOM_RADIUS);
                vec3 scattering = medium.rayleighScattering + vec3(medium.mieScattering);
                vec3 stepTransmittance = exp(-medium.extinction * stepLength);
                // Each step's source integrated exactly over its length, so that thick steps keep energy.
                vec3 stepWeight = throughput * (1.0 - stepTransmittance) / medium.extinction;
                vec3 sunlight = sunTransmittance(transmittanceTable, pointRadius, dot(point, sun) / pointRadius);
                light += stepWeight * scattering * sunlight * ISOTROPIC_PHASE;
                scattered += stepWeight * scattering;
                throughput *= stepTransmittance;
            }
            if (hitsGround) {
                vec3 ground = position + direction * (stepLength * float(STEPS));
                vec3 up = normalize(ground);
                float sunCos = dot(up, sun);
                light += throughput * sunTransmittance(transmittanceTable, BOTTOM_RADIUS, sunCos) *
                         max(sunCos, 0.0) * GROUND_ALBEDO / PI;
            }
            secondOrder += light;
            scatteredBack += scattered;
        }
    }
    // Averages over the sphere: the integrals times the isotropic phase.
    float directions = float(DIRECTIONS_PER_SIDE * DIRECTIONS_PER_SIDE);
    secondOrder /= directions;
    scatteredBack /= directions;
    multipleScattering = vec4(secondOrder / (1.0 - scatteredBack), 1.0);
}
