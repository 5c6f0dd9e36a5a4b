#version 330

// The sky behind everything: the atmosphere's radiance along each pixel's view ray, the sun's disc
// in it, and the bright pass that lets the disc bloom.

#include "atmosphere.glsl"

in vec3 fViewRay;

layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 brightColor;

// The disc's radiance for a sun of illuminance 1. Its true radiance (the illuminance times pi over
// the disc's solid angle, about 47000) would flood the bloom over half the screen; this keeps it far
// above the bright-pass threshold, as a sunset's red disc too, with a glow of a few degrees.
const float SUN_DISC_RADIANCE = 300.0;
// The disc darkens towards its rim, blue more than red (linear limb-darkening coefficients).
const vec3 LIMB_DARKENING = vec3(0.45, 0.55, 0.65);

vec3 sunDisc(vec3 direction) {
    float cosAngle = dot(direction, sunDirection);
    // The sine, unlike the cosine, resolves angles as small as the disc's in single precision.
    float sinAngle = length(cross(direction, sunDirection));
    float pixel = max(fwidth(sinAngle), 1e-6);
    float inDisc = cosAngle > 0.0 ? 1.0 - smoothstep(SUN_ANGULAR_RADIUS - pixel, SUN_ANGULAR_RADIUS, sinAngle) : 0.0;
    float horizon = skyViewHorizon.x;
    float aboveGround = smoothstep(horizon - fwidth(direction.y), horizon, direction.y);
    float fromCentre = min(sinAngle / SUN_ANGULAR_RADIUS, 1.0);
    vec3 limb = 1.0 - LIMB_DARKENING * (1.0 - sqrt(1.0 - fromCentre * fromCentre));
    return sunIlluminance * SUN_DISC_RADIANCE * transmittanceToTop(transmittanceTable, cameraRadius(), direction.y) * limb *
           (inDisc * aboveGround);
}

void main() {
    vec3 direction = normalize(fViewRay);
    fragColor = vec4(skyRadiance(direction) + sunDisc(direction), 1.0);
    float luminance = dot(fragColor.rgb, LUMINANCE_WEIGHTS);
    brightColor = luminance > 1.0 ? fragColor : vec4(0.0, 0.0, 0.0, 1.0);
}
