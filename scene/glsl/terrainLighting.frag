#version 330

// Terrain fragment stage of mode 4: ambient and diffuse light on an untextured surface.

#define NUM_LIGHTS 1

in vec3 fWorldPosition;
in vec3 fCameraPosition;
in vec3 fNormal;
in vec2 fTexture;

uniform sampler2DArray tex;
uniform mat3 material;       // columns: ambient, diffuse, specular
uniform mat3 lights[NUM_LIGHTS];  // columns: colour, position
uniform float t;
uniform vec3 viewerPosition;

layout(location = 0) out vec4 fragColor;
// The scene target always has a bright-pass output; left unwritten it would hold undefined
// values that the bloom would spread over the picture.
layout(location = 1) out vec4 brightColor;

void main() {
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    fragColor = vec4(0.0, 0.0, 0.0, 1.0);
    for (int i = 0; i < NUM_LIGHTS; ++i) {
        vec3 lightColor = lights[i][0];
        vec3 lightPosition = lights[i][1];
        fragColor.rgb += min(material[0], vec3(1.0)) * lightColor;
        vec3 L = normalize(lightPosition - fWorldPosition);
        fragColor.rgb += min(material[1], vec3(1.0)) * lightColor * clamp(dot(fNormal, L), 0.0, 1.0);
    }
}
