#version 330

// Terrain fragment stage of modes 1 and 2: plain white.

#define NUM_LIGHTS 1

in vec3 fWorldPosition;
in vec3 fCameraPosition;
in vec3 fNormal;
in vec2 fTexture;

uniform sampler2DArray tex;
uniform mat3 material;
uniform mat3 lights[NUM_LIGHTS];
uniform float t;
uniform vec3 viewerPosition;

layout(location = 0) out vec4 fragColor;
// The scene target always has a bright-pass output; left unwritten it would hold undefined
// values that the bloom would spread over the picture.
layout(location = 1) out vec4 brightColor;

void main() {
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    fragColor = vec4(1.0, 1.0, 1.0, 1.0);
}
