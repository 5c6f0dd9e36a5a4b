#version 330

// The measured path in one flat colour, which never blooms.

uniform vec3 colour;

layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 brightColor;

void main() {
    fragColor = vec4(colour, 1.0);
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
}
