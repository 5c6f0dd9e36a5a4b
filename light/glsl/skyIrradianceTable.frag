#version 330

// The one texel of the sky-irradiance table: the sky-view table's light averaged over the upper
// hemisphere with directions spread by the cosine of their zenith angle, which is the irradiance on
// a horizontal surface divided by pi (for a sun of unit irradiance).

#include "atmosphere.glsl"

layout(location = 0) out vec4 irradiance;

const int RINGS = 16;
const int SEGMENTS = 32;

void main() {
    vec3 sum = vec3(0.0);
    for (int i = 0; i < RINGS; ++i) {
        // Equal steps in the squared sine of the zenith angle are equal steps of cosine-weighted solid angle.
        float zenithSin = sqrt((float(i) + 0.5) / float(RINGS));
        float zenithCos = sqrt(1.0 - zenithSin * zenithSin);
        for (int j = 0; j < SEGMENTS; ++j) {
            float azimuth = 2.0 * PI * (float(j) + 0.5) / float(SEGMENTS);
            sum += skyViewLight(vec3(zenithSin * cos(azimuth), zenithCos, zenithSin * sin(azimuth)));
        }
    }
    irradiance = vec4(sum / float(RINGS * SEGMENTS), 1.0);
}
