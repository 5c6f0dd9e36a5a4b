#version 330

// One texel of the sky-view table (Hillaire's): the light that the air scatters towards the camera
// along one view direction, for a sun of unit irradiance, single scattering marched along the ray
// and the higher orders from the multiple-scattering table. The sun's disc itself is not in it.

#include "atmosphereModel.glsl"

uniform vec2 tableSize;
uniform sampler2D transmittanceTable;
uniform sampler2D multipleScatteringTable;
// The camera's distance from the planet's centre and the sun's zenith cosine there.
uniform float cameraRadius;
uniform float sunZenithCos;
// Its horizon, as the sky-view table's coordinates take it (see skyViewUnit).
uniform vec3 skyViewHorizon;

layout(location = 0) out vec4 skyLight;

const int STEPS = 32;

void main() {
    vec2 unit = vec2(unitFromTexel(gl_FragCoord.x, tableSize.x), unitFromTexel(gl_FragCoord.y, tableSize.y));
    vec2 view = viewOfSkyViewUnit(skyViewHorizon.yz, unit);
    float viewZenithSin = sqrt(max(1.0 - view.x * view.x, 0.0));
    float sunAzimuthSin = sqrt(max(1.0 - view.y * view.y, 0.0));
    vec3 direction = vec3(viewZenithSin * view.y, view.x, viewZenithSin * sunAzimuthSin);
    vec3 sun = vec3(sqrt(max(1.0 - sunZenithCos * sunZenithCos, 0.0)), sunZenithCos, 0.0);
    vec3 position = vec3(0.0, cameraRadius, 0.0);

    float scatteringCos = dot(direction, sun);
    float rayleighWeight = rayleighPhase(scatteringCos);
    float mieWeight = miePhase(scatteringCos);
    vec2 multipleScatteringSize = vec2(textureSize(multipleScatteringTable, 0));

    float groundDistance = distanceToGround(cameraRadius, view.x);
    float rayLength = groundDistance >= 0.0 ? groundDistance : distanceToTop(cameraRadius, view.x);
    vec3 throughput = vec3(1.0);
    vec3 light = vec3(0.0);
    // Steps grow with the square of their number: short near the camera, where the air is densest
    // along rays near the horizon, long far out, where little light gets back through.
    float stepStart = 0.0;
    for (int s = 0; s < STEPS; ++s) {
        float fraction = float(s + 1) / float(STEPS);
        float stepEnd = rayLength * fraction * fraction;
        float stepLength = stepEnd - stepStart;
        vec3 point = position + direction * (0.5 * (stepStart + stepEnd));
        stepStart = stepEnd;
        float pointRadius = length(point);
        float pointSunCos = dot(point, sun) / pointRadius;
        Medium medium = mediumAt(pointRadius - BOTTOM_RADIUS);
        vec3 scattering = medium.rayleighScattering + vec3(medium.mieScattering);

        vec3 sunlight = sunTransmittance(transmittanceTable, pointRadius, pointSunCos);
        vec2 multipleUnit = multipleScatteringUnit(pointRadius, pointSunCos);
        vec3 multiple = texture(multipleScatteringTable, vec2(texelFromUnit(multipleUnit.x, multipleScatteringSize.x),
                                                              texelFromUnit(multipleUnit.y, multipleScatteringSize.y)))
                            .rgb;
        vec3 source = sunlight * (medium.rayleighScattering * rayleighWeight + medium.mieScattering * mieWeight) +
                      scattering * multiple;

        vec3 stepTransmittance = exp(-medium.extinction * stepLength);
        light += throughput * source * (1.0 - stepTransmittance) / medium.extinction;
        throughput *= stepTransmittance;
    }
    skyLight = vec4(light, 1.0);
}
