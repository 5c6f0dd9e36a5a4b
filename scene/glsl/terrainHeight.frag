#version 330

// Terrain fragment stage of mode 3: height as grey, white at the default height scale's top.

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
    float y = fWorldPosition.y;
    fragColor = vec4(y / 20.0, y / 20.0, y / 20.0, 1.0);
}
