#version 330

// Terrain fragment stage of mode 3: height as grey, white at the default height scale's top.

#include "terrainInterface.glsl"

void main() {
    brightColor = vec4(0.0, 0.0, 0.0, 1.0);
    float y = fWorldPosition.y;
    fragColor = vec4(y / 20.0, y / 20.0, y / 20.0, 1.0);
}
