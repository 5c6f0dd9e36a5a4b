#version 330

// One texel of the transmittance table: the light that survives from a point of the atmosphere to
// its top along a ray that misses the ground.

#include "atmosphereModel.glsl"

uniform vec2 tableSize;

layout(location = 0) out vec4 transmittance;

const int STEPS = 40;

void main() {
    vec2 unit = vec2(unitFromTexel(gl_FragCoord.x, tableSize.x), unitFromTexel(gl_FragCoord.y, tableSize.y));
    vec2 ray = radiusAndZenithCosOfTransmittanceUnit(unit);
    float stepLength = distanceToTop(ray.x, ray.y) / float(STEPS);
    vec3 opticalDepth = vec3(0.0);
    for (int i = 0; i < STEPS; ++i) {
        float r = radiusAlong(ray.x, ray.y, (float(i) + 0.5) * stepLength);
        opticalDepth += mediumAt(r - BOTTOM_RADIUS).extinction * stepLength;
    }
    transmittance = vec4(exp(-opticalDepth), 1.0);
}
