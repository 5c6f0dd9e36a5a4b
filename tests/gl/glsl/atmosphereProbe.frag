#version 330

// One of the atmosphere's shared functions evaluated for the tests, chosen by `probe`.

#include "../../../light/glsl/atmosphere.glsl"

uniform int probe;
uniform vec3 probeDirection;
uniform vec3 probeColour;
uniform float probeDistance;
uniform float probeAltitude;

layout(location = 0) out vec4 result;

void main() {
    vec3 value;
    if (probe == 0) {
        value = skyRadiance(probeDirection);
    } else if (probe == 1) {
        value = sunlightAtGround(probeAltitude);
    } else if (probe == 2) {
        value = skyIrradiance();
    } else {
        value = aerialPerspective(probeColour, probeDirection, probeDistance);
    }
    result = vec4(value, 1.0);
}
