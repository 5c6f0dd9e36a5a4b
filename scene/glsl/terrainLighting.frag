#version 330

// Terrain fragment stage of mode 4: ambient and diffuse light on an untextured surface; under a
// placed sun, the sun's light over the shadows and the sky's.

#include "terrainInterface.glsl"

void main() {
    discardWhereNoData();
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    fragColor = vec4(0.0, 0.0, 0.0, 1.0);
    vec3 normal = shadingNormal();
#ifdef SUNLIGHT
    vec3 sunlight = sunlightAtGround(altitudeInMetres(fWorldPosition)) * sunSeen();
    fragColor.rgb = min(material[1], vec3(1.0)) *
                    (sunlight * clamp(dot(normal, sunDirection), 0.0, 1.0) + skyIrradiance() * skySeen());
#else
    for (int i = 0; i < NUM_LIGHTS; ++i) {
        vec3 lightColor = lights[i][0];
        vec3 lightPosition = lights[i][1];
        fragColor.rgb += min(material[0], vec3(1.0)) * lightColor;
        vec3 L = normalize(lightPosition - fWorldPosition);
        fragColor.rgb += min(material[1], vec3(1.0)) * lightColor * clamp(dot(normal, L), 0.0, 1.0);
    }
#endif
}
